#include "mail/Invitation.h"

#include "core/Crypto.h"
#include "mail/QrPng.h"

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

QString escaped(const QString &text) {
    return text.toHtmlEscaped().replace(u'\n', u"<br>"_s);
}

} // namespace

MailMessage invitationMessage(const InvitationContent &content) {
    MailMessage message;
    message.to = {content.visitorName, content.visitorEmail};
    message.subject =
        content.placeName.isEmpty() ? u"You're invited"_s : u"You're invited to %1"_s.arg(content.placeName);

    const QString where = content.placeName.isEmpty() ? QString() : u" at "_s + content.placeName;
    const QString invited = content.hostName.isEmpty()
                                ? u"You are invited to visit%1."_s.arg(where)
                                : u"%1 has invited you to visit%2."_s.arg(content.hostName, where);
    const QString arrival =
        u"When you arrive, tell the front desk your name: your answers are ready and signing in takes a moment."_s;

    QString text = u"Hello %1,\n\n%2\nWhen: %3\n"_s.arg(content.visitorName, invited, content.when);
    if (!content.note.isEmpty()) {
        text += u"\n%1\n"_s.arg(content.note);
    }
    text += u"\nYour invitation: %1\n\n%2\n"_s.arg(content.link, arrival);
    message.text = text;

    QString html =
        u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>\n"
        u"<body style=\"font-family: sans-serif; line-height: 1.4\">\n"
        u"<p>Hello %2,</p>\n<p>%3<br>When: %4</p>\n"_s.arg(
            escaped(message.subject), escaped(content.visitorName), escaped(invited), escaped(content.when));
    if (!content.note.isEmpty()) {
        html += u"<p>%1</p>\n"_s.arg(escaped(content.note));
    }
    html += u"<p>Your invitation: <a href=\"%1\">%1</a></p>\n<p>%2</p>\n"_s.arg(escaped(content.link),
                                                                                escaped(arrival));
    const QByteArray png = qrCodePng(content.link.toUtf8());
    if (!png.isEmpty()) {
        InlineImage code;
        code.contentId = "invitation-" + crypto::randomBytes(8).toHex() + "@tallybrook";
        code.mimeType = "image/png";
        code.fileName = u"invitation-code.png"_s;
        code.data = png;
        message.images.append(code);
        html += u"<p><img src=\"cid:%1\" alt=\"QR code of your invitation link\"></p>\n"
                u"<p>You can also show this code at the front desk: the desk scans it to sign you in.</p>\n"_s
                    .arg(QString::fromLatin1(code.contentId));
    }
    message.html = html + u"</body></html>\n"_s;
    return message;
}

} // namespace tbserver
