#include "core/Outbox.h"

#include "core/Crypto.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QSaveFile>

namespace tbserver {

namespace {

// Header values never carry a line break into the message's header block.
QByteArray headerValue(const QString &text) {
    QString clean = text;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray utf8 = clean.toUtf8();
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

} // namespace

QString Outbox::write(const QString &to, const QString &subject, const QString &textBody) const {
    if (!QDir().mkpath(m_folder)) {
        return {};
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString name =
        now.toString(u"yyyyMMdd-HHmmss-zzz") + u'-' + QString::fromLatin1(crypto::randomToken(6)) + u".eml";
    const QString path = QDir(m_folder).filePath(name);
    QByteArray message;
    message += "From: Tallybrook <no-reply@tallybrook.local>\r\n";
    message += "To: " + headerValue(to) + "\r\n";
    message += "Subject: " + headerValue(subject) + "\r\n";
    message +=
        "Date: " + QLocale::c().toString(now, u"ddd, dd MMM yyyy HH:mm:ss '+0000'").toLatin1() + "\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += "Content-Type: text/plain; charset=utf-8\r\n";
    message += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    QString body = textBody;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    message += body.toUtf8();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(message) != message.size() || !file.commit()) {
        return {};
    }
    return path;
}

} // namespace tbserver
