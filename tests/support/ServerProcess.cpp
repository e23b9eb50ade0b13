#include "support/ServerProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace tallybrook::testing {

bool ServerProcess::start() {
    stop(); // a restart keeps the data folder and the port, so clients holding the old address carry on
    m_output.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    const QString executable = QStringLiteral(TALLYBROOK_SERVER_EXECUTABLE);
    m_process->start(executable,
                     QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(m_port),
                                 QStringLiteral("--data"), m_dir.filePath(QStringLiteral("data"))} +
                         m_arguments);
    if (!m_process->waitForStarted(10'000)) {
        m_error = QStringLiteral("could not start %1: %2").arg(executable, m_process->errorString());
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("listening on (http://[^\\s]+)"));
    static const QRegularExpression key(QStringLiteral("publishable key: (\\S+)"));
    const QDeadlineTimer deadline(20'000);
    while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
        m_process->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        m_output += m_process->readAll();
        const auto match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_baseUrl = QUrl(match.captured(1));
            m_port = quint16(m_baseUrl.port());
            m_publishableKey = key.match(QString::fromUtf8(m_output)).captured(1).toUtf8();
            // Keep draining the log so the server never blocks on a full pipe.
            QObject::connect(m_process.get(), &QProcess::readyRead, m_process.get(),
                             [this] { m_output += m_process->readAll(); });
            return true;
        }
    }
    m_error = QStringLiteral("the server did not come up: ") + QString::fromUtf8(m_output);
    stop();
    return false;
}

void ServerProcess::stop() {
    if (!m_process) {
        return;
    }
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_output += m_process->readAll();
    m_process.reset();
}

void ServerProcess::kill() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

} // namespace tallybrook::testing
