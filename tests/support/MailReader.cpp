#include "support/MailReader.h"

#include <QDebug>
#include <QJsonDocument>
#include <QProcess>

namespace tallybrook::testing {

QJsonObject readMailBack(const QByteArray &message) {
    QProcess reader;
    reader.start(QStringLiteral("python3"), {QStringLiteral(MAIL_READER)});
    reader.write(message);
    reader.closeWriteChannel();
    if (!reader.waitForFinished(30000) || reader.exitCode() != 0) {
        qWarning().noquote() << reader.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

} // namespace tallybrook::testing
