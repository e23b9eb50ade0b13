#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace tbserver {

struct MailAddress {
    QString name; // display name, any script; may be empty
    QString address;
};

// A picture the HTML part shows inline as "cid:<contentId>".
struct InlineImage {
    QByteArray contentId; // without angle brackets, ASCII, e.g. "code.1f3a@tallybrook"
    QByteArray mimeType;  // "image/png"
    QString fileName;
    QByteArray data;
};

// One email as the server's services write it; composeMessage turns it into the bytes that are stored and
// sent.
struct MailMessage {
    MailAddress to;
    QString subject;
    QString text; // the plain-text part, always sent
    QString html; // an HTML alternative, optional
    // Shown by the HTML part only: without html they are left out.
    QList<InlineImage> images;
};

// The whole message (RFC 5322 and MIME, CRLF line ends, 7-bit safe headers, UTF-8 bodies), before SMTP's
// dot-stuffing. Line breaks and other control characters in names and the subject become spaces.
[[nodiscard]] QByteArray composeMessage(const MailMessage &message, const MailAddress &from,
                                        const QByteArray &messageId, const QDateTime &date);

// "<random@domain>": unique per message, kept across every attempt to send it.
[[nodiscard]] QByteArray newMessageId(const QByteArray &domain);

} // namespace tbserver
