#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

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

} // namespace tallybrook::bench
