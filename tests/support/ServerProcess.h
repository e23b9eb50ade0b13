#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace tallybrook::testing {

// The real tallybrook-server, started on a free loopback port with a temporary data folder, for end-to-end
// tests. Stopped (SIGTERM, then killed if it lingers) when this object goes away.
class ServerProcess final {
public:
    // `extraArguments` such as --confirm-emails. The data folder is kept across restart().
    explicit ServerProcess(QStringList extraArguments = {}) : m_arguments(std::move(extraArguments)) {}
    ~ServerProcess() { stop(); }
    Q_DISABLE_COPY_MOVE(ServerProcess)

    // Starts and waits for "listening on ..."; false (with a message in errorText()) when it did not come up.
    bool start();
    void stop();
    // Kills the process at once, as a crash would.
    void kill() {
        if (m_process) {
            m_process->kill();
        }
        stop();
    }
    bool restart() { return start(); }

    [[nodiscard]] QUrl baseUrl() const { return m_baseUrl; }
    [[nodiscard]] QByteArray publishableKey() const { return m_publishableKey; }
    [[nodiscard]] QByteArray output() const { return m_output; }
    [[nodiscard]] QString dataDir() const { return m_dir.filePath(QStringLiteral("data")); }
    [[nodiscard]] QString errorText() const { return m_error; }

private:
    QStringList m_arguments;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    QUrl m_baseUrl;
    QByteArray m_publishableKey;
    QByteArray m_output;
    QString m_error;
    quint16 m_port = 0;
};

} // namespace tallybrook::testing
