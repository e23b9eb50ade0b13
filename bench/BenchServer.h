#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace tallybrook::bench {

// Starts the local server on a free loopback port over a data folder; the port, or 0 with `output` saying
// why. The server goes when this program goes, however it ends.
inline quint16 startServer(QProcess &server, const QString &executable, const QString &folder,
                           const QString &publishableKey, QByteArray &output,
                           const QStringList &extraArguments = {}) {
    using namespace Qt::StringLiterals;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    server.start(executable, QStringList{u"--listen"_s, u"127.0.0.1:0"_s, u"--data"_s, folder, u"--quiet"_s,
                                         u"--publishable-key"_s, publishableKey} +
                                 extraArguments);
    quint16 port = 0;
    while (port == 0 && server.waitForReadyRead(60000)) {
        output += server.readAllStandardOutput();
        const qsizetype at = output.indexOf("listening on http://127.0.0.1:");
        if (at >= 0 && output.indexOf('\n', at) > 0) {
            port = quint16(output.mid(at + 30, output.indexOf('\n', at) - at - 30).toUInt());
        }
    }
    return port;
}

// One keep-alive connection with a blocking socket.
class Client {
public:
    explicit Client(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            std::perror("connect");
            std::exit(1);
        }
    }
    ~Client() { ::close(m_fd); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Sends one request and reads its whole response; returns the status.
    int exchange(const QByteArray &request, QByteArray *body = nullptr) {
        qsizetype sent = 0;
        while (sent < request.size()) {
            const ssize_t n =
                ::send(m_fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) {
                return -1;
            }
            sent += n;
        }
        m_buffer.clear();
        char chunk[65536];
        qsizetype headEnd = -1;
        qsizetype total = -1;
        for (;;) {
            if (headEnd < 0) {
                headEnd = m_buffer.indexOf("\r\n\r\n");
                if (headEnd >= 0) {
                    const qsizetype at = m_buffer.indexOf("Content-Length: ");
                    const qsizetype length =
                        at < 0 || at > headEnd
                            ? 0
                            : m_buffer.mid(at + 16, m_buffer.indexOf('\r', at) - at - 16).toLongLong();
                    total = headEnd + 4 + length;
                }
            }
            if (total >= 0 && m_buffer.size() >= total) {
                break;
            }
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return -1;
            }
            m_buffer.append(chunk, n);
        }
        if (body) {
            *body = m_buffer.mid(headEnd + 4);
        }
        return m_buffer.mid(9, 3).toInt();
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

// The p-th fraction of microsecond samples, in milliseconds.
inline double percentile(std::vector<qint64> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return double(values[index]) / 1000;
}

// The resident and peak memory of a process, as /proc has them.
inline QByteArray memoryOf(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return "unknown";
    }
    QByteArray out;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS") || line.startsWith("VmHWM")) {
            out += line.simplified() + "  ";
        }
    }
    return out;
}

} // namespace tallybrook::bench
