#include "core/Outbox.h"

#include "core/Crypto.h"
#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tbserver {

namespace {

QString isoTime(const QDateTime &at) {
    return at.isValid() ? at.toUTC().toString(Qt::ISODateWithMs) : QString();
}

// Header values never carry a line break into the message's header block.
QByteArray headerValue(const QString &text) {
    QString clean = text;
    clean.replace(u'\r', u' ').replace(u'\n', u' ');
    const QByteArray utf8 = clean.toUtf8();
    bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
    return ascii ? utf8 : "=?UTF-8?B?" + utf8.toBase64() + "?=";
}

QByteArray addressHeader(const MailAddress &address) {
    return address.name.isEmpty() ? headerValue(address.address)
                                  : headerValue(address.name) + " <" + headerValue(address.address) + '>';
}

// A message kept only in the folder is read there, in an editor as often as in a mail program: its text goes
// in as it is (8-bit, no quoted-printable), so links can be copied whole.
QByteArray readableMessage(const MailMessage &message, const MailAddress &from, const QByteArray &messageId,
                           const QDateTime &date) {
    QByteArray bytes;
    bytes += "From: " + addressHeader(from) + "\r\n";
    bytes += "To: " + addressHeader(message.to) + "\r\n";
    bytes += "Subject: " + headerValue(message.subject) + "\r\n";
    bytes += "Date: " + QLocale::c().toString(date, u"ddd, dd MMM yyyy HH:mm:ss '+0000'").toLatin1() + "\r\n";
    bytes += "Message-ID: " + messageId + "\r\n";
    bytes += "MIME-Version: 1.0\r\n";
    bytes += "Content-Type: text/plain; charset=utf-8\r\n";
    bytes += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    QString body = message.text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    return bytes + body.toUtf8();
}

} // namespace

QByteArray MailState::toJson() const {
    return QJsonDocument(QJsonObject{{u"recipient"_s, recipient},
                                     {u"queued_at"_s, isoTime(queuedAt)},
                                     {u"attempts"_s, attempts},
                                     {u"next_attempt"_s, isoTime(nextAttempt)},
                                     {u"last_error"_s, lastError}})
        .toJson();
}

std::optional<MailState> MailState::fromJson(const QByteArray &json) {
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    MailState state;
    state.recipient = object.value(u"recipient").toString();
    state.queuedAt = QDateTime::fromString(object.value(u"queued_at").toString(), Qt::ISODateWithMs);
    state.attempts = object.value(u"attempts").toInt();
    state.nextAttempt = QDateTime::fromString(object.value(u"next_attempt").toString(), Qt::ISODateWithMs);
    state.lastError = object.value(u"last_error").toString();
    if (state.recipient.isEmpty() || !state.queuedAt.isValid()) {
        return std::nullopt;
    }
    return state;
}

Outbox::Outbox(QString folder, MailAddress from, bool deliver)
    : m_folder(std::move(folder)), m_from(std::move(from)), m_deliver(deliver) {
    const qsizetype at = m_from.address.lastIndexOf(u'@');
    m_idDomain = at < 0 ? "tallybrook.local"_ba : m_from.address.mid(at + 1).toUtf8();
}

MailAddress Outbox::defaultSender() {
    return {u"Tallybrook"_s, u"no-reply@tallybrook.local"_s};
}

QString Outbox::write(const QString &to, const QString &subject, const QString &textBody) const {
    MailMessage message;
    message.to.address = to;
    message.subject = subject;
    message.text = textBody;
    return write(message);
}

QString Outbox::write(const MailMessage &message) const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // Time first, so a folder listing is in the order the mail was written.
    const QString name =
        now.toString(u"yyyyMMdd-HHmmss-zzz") + u'-' + QString::fromLatin1(crypto::randomToken(6));
    // The Message-ID is made once and stored in the bytes, so every attempt sends the same one.
    const QByteArray messageId = newMessageId(m_idDomain);
    if (!m_deliver) {
        const bool plain = message.html.isEmpty() && message.images.isEmpty();
        const QByteArray bytes = plain ? readableMessage(message, m_from, messageId, now)
                                       : composeMessage(message, m_from, messageId, now);
        const QString path = QDir(m_folder).filePath(name + u".eml");
        return makePrivateFolder(m_folder) && writePrivateFile(path, bytes) ? path : QString();
    }
    const QDir pending(pendingFolder(m_folder));
    const QString statePath = pending.filePath(name + u".json");
    const QString path = pending.filePath(name + u".eml");
    const QByteArray bytes = composeMessage(message, m_from, messageId, now);
    MailState state;
    state.recipient = message.to.address;
    state.queuedAt = now;
    if (!makePrivateFolder(m_folder) || !makePrivateFolder(pending.path()) ||
        !writePrivateFile(statePath, state.toJson()) || !writePrivateFile(path, bytes)) {
        QFile::remove(statePath);
        return {};
    }
    if (m_onQueued) {
        m_onQueued();
    }
    return path;
}

} // namespace tbserver
