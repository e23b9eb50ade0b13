#include "support/ServerProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace tallybrook::testing {

bool ServerProcess::start() {
    stop(); // a restart keeps the data folder and the port, so clients holding the old address carry on
    m_output.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(QStringLiteral(TALLYBROOK_SERVER_EXECUTABLE),
                     QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(m_port),
                                 QStringLiteral("--data"), m_dir.filePath(QStringLiteral("data"))} +
                         m_arguments);
    // The key is printed before the address, and each on a line of its own.
    static const QRegularExpression started(
        QStringLiteral("publishable key: (\\S+)\n.*listening on (\\S+)\n"),
        QRegularExpression::DotMatchesEverythingOption);
    const QDeadlineTimer deadline(20'000);
    // waitForStarted() is false once the process has gone, or when it never started.
    while (m_process->waitForStarted() && !deadline.hasExpired()) {
        m_process->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        m_output += m_process->readAll();
        if (const auto match = started.match(QString::fromUtf8(m_output)); match.hasMatch()) {
            m_publishableKey = match.captured(1).toUtf8();
            m_baseUrl = QUrl(match.captured(2));
            m_port = quint16(m_baseUrl.port());
            // Keep draining the log so the server never blocks on a full pipe.
            QObject::connect(m_process.get(), &QProcess::readyRead, m_process.get(),
                             [this] { m_output += m_process->readAll(); });
            return true;
        }
    }
    m_error = QStringLiteral("the server did not come up (%1): ").arg(m_process->errorString()) +
              QString::fromUtf8(m_output);
    stop();
    return false;
}

void ServerProcess::stop() {
    if (m_process) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
        m_output += m_process->readAll();
        m_process.reset();
    }
}

} // namespace tallybrook::testing
