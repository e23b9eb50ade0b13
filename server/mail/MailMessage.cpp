#include "mail/MailMessage.h"

#include "core/Crypto.h"

#include <QLocale>
#include <QUrl>

#include <algorithm>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype maxHeaderLine = 78;
constexpr qsizetype maxEncodedWord = 75;
constexpr qsizetype maxBodyLine = 76;

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

// A line break in a name or subject would end the header line and start one of the sender's choosing.
QString oneLine(const QString &text) {
    QString clean = text;
    std::replace_if(clean.begin(), clean.end(), isControl, u' ');
    return clean;
}

bool isPlainAscii(const QString &text) {
    // "=?" would be read back as the start of an encoded-word.
    return !text.contains(u"=?"_s) &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u' ' && c <= u'~'; });
}

bool isAtext(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-/=?^_`{|}~").contains(c);
}

// RFC 2047 "B" words of whole characters; the first one is short enough to fit in `firstRoom` columns.
QList<QByteArray> encodedWords(const QString &text, qsizetype firstRoom) {
    QList<QByteArray> words;
    QByteArray chunk;
    const auto capacity = [&] {
        const qsizetype room = words.isEmpty() ? std::min(firstRoom, maxEncodedWord) : maxEncodedWord;
        // "=?UTF-8?B?" and "?=" take 12 of the word's columns, and base64 writes 4 of them per 3 bytes.
        return (room - 12) / 4 * 3;
    };
    const auto flush = [&] {
        words.append(QByteArray("=?UTF-8?B?" + chunk.toBase64() + "?="));
        chunk.clear();
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray character = text.mid(i, length).toUtf8();
        i += length;
        if (!chunk.isEmpty() && chunk.size() + character.size() > capacity()) {
            flush();
        }
        chunk += character;
    }
    if (!chunk.isEmpty()) {
        flush();
    }
    return words;
}

// Folds before a piece wherever the line would pass 78 columns. Unfolding only removes the CRLF, so the
// spaces between pieces read back as they were.
QByteArray foldedHeader(const QByteArray &field, const QList<QByteArray> &pieces) {
    QByteArray header = field + ':';
    qsizetype column = header.size();
    bool lineHasPiece = false;
    for (const QByteArray &piece : pieces) {
        if (lineHasPiece && !piece.isEmpty() && column + 1 + piece.size() > maxHeaderLine) {
            header += "\r\n";
            column = 0;
        }
        header += ' ' + piece;
        column += 1 + piece.size();
        lineHasPiece = lineHasPiece || !piece.isEmpty();
    }
    return header + "\r\n";
}

QList<QByteArray> unstructuredPieces(const QString &text, qsizetype firstRoom) {
    const QString clean = oneLine(text);
    return isPlainAscii(clean) ? clean.toLatin1().split(' ') : encodedWords(clean, firstRoom);
}

// A display name as atoms, a quoted-string when it has specials, or encoded-words when it is not ASCII.
QList<QByteArray> phrasePieces(const QString &name, qsizetype firstRoom) {
    const QString clean = oneLine(name).trimmed();
    if (clean.isEmpty()) {
        return {};
    }
    if (!isPlainAscii(clean)) {
        return encodedWords(clean, firstRoom);
    }
    const QByteArray ascii = clean.toLatin1();
    const QList<QByteArray> atoms = ascii.split(' ');
    if (std::all_of(atoms.begin(), atoms.end(), [](const QByteArray &atom) {
            return !atom.isEmpty() && std::all_of(atom.begin(), atom.end(), isAtext);
        })) {
        return atoms;
    }
    QByteArray quoted = ascii;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return QByteArray('"' + quoted + '"').split(' ');
}

// Addresses are checked before they get here; this only keeps them from breaking the header's syntax. The
// domain goes out in its ASCII form.
QByteArray addrSpec(const QString &address) {
    QString clean;
    for (QChar c : address) {
        if (!isControl(c) && !c.isSpace() && c != u'<' && c != u'>') {
            clean += c;
        }
    }
    const qsizetype at = clean.lastIndexOf(u'@');
    if (at < 0) {
        return clean.toUtf8();
    }
    const QByteArray domain = QUrl::toAce(clean.mid(at + 1));
    return QByteArray(clean.left(at).toUtf8() + '@' +
                      (domain.isEmpty() ? clean.mid(at + 1).toUtf8() : domain));
}

QByteArray mailboxHeader(const QByteArray &field, const MailAddress &mailbox) {
    const QByteArray address = addrSpec(mailbox.address);
    QList<QByteArray> pieces = phrasePieces(mailbox.name, maxHeaderLine - field.size() - 2);
    pieces.append(pieces.isEmpty() ? address : QByteArray('<' + address + '>'));
    return foldedHeader(field, pieces);
}

QByteArray token(const QByteArray &value, QByteArrayView allowed) {
    QByteArray kept;
    for (char c : value) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            allowed.contains(c)) {
            kept += c;
        }
    }
    return kept;
}

QByteArray quotedPrintable(const QByteArray &utf8) {
    QByteArray encoded;
    const QList<QByteArray> lines = utf8.split('\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        const QByteArray &line = lines.at(l);
        QByteArray current;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = uchar(line.at(i));
            const bool last = i + 1 == line.size();
            // Spaces at a line's end may be stripped on the way, so only those are encoded.
            const bool literal = (c > ' ' && c <= '~' && c != '=') || ((c == ' ' || c == '\t') && !last);
            const QByteArray piece =
                literal ? QByteArray(1, char(c))
                        : QByteArray('=' + QByteArray::number(c, 16).toUpper().rightJustified(2, '0'));
            // A soft break needs one column for its "=".
            if (current.size() + piece.size() > (last ? maxBodyLine : maxBodyLine - 1)) {
                encoded += current + "=\r\n";
                current.clear();
            }
            current += piece;
        }
        encoded += current;
        if (l + 1 < lines.size()) {
            encoded += "\r\n";
        }
    }
    // A final soft break ends the last line without adding a line break to the text.
    return encoded.endsWith("\r\n") || encoded.isEmpty() ? encoded : encoded + "=\r\n";
}

QByteArray base64Lines(const QByteArray &data) {
    const QByteArray base64 = data.toBase64();
    QByteArray lines;
    for (qsizetype i = 0; i < base64.size(); i += maxBodyLine) {
        lines += base64.mid(i, maxBodyLine) + "\r\n";
    }
    return lines;
}

// Quoted-printable keeps mostly Latin text readable in the raw message; base64 is shorter for other scripts.
QByteArray textPart(const QByteArray &subtype, const QString &text) {
    QString lines = text;
    lines.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    const QByteArray utf8 = lines.toUtf8();
    const auto high = std::count_if(utf8.begin(), utf8.end(), [](char c) { return uchar(c) >= 0x80; });
    const bool base64 = high * 4 > utf8.size();
    return QByteArray("Content-Type: text/" + subtype + "; charset=utf-8\r\nContent-Transfer-Encoding: " +
                      (base64 ? QByteArray("base64") : QByteArray("quoted-printable")) + "\r\n\r\n" +
                      (base64 ? base64Lines(QByteArray(utf8).replace("\n", "\r\n")) : quotedPrintable(utf8)));
}

QByteArray fileNameParameter(const QString &fileName) {
    const QString clean = oneLine(fileName);
    if (isPlainAscii(clean) && !clean.contains(u'"') && !clean.contains(u'\\')) {
        return QByteArray("filename=\"" + clean.toLatin1() + '"');
    }
    return QByteArray("filename*=utf-8''" + QUrl::toPercentEncoding(clean));
}

QByteArray imagePart(const InlineImage &image) {
    QByteArray type = token(image.mimeType, "/+.-");
    if (!type.contains('/')) {
        type = "application/octet-stream";
    }
    return QByteArray("Content-Type: " + type + "\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <" +
                      token(image.contentId, "!#$%&'*+-/=?^_`{|}~.@") +
                      ">\r\nContent-Disposition: inline;\r\n " + fileNameParameter(image.fileName) +
                      "\r\n\r\n" + base64Lines(image.data));
}

// The boundary starts with "=_", which neither quoted-printable nor base64 ever writes, so no part's content
// can contain it.
QByteArray multipart(const QByteArray &subtype, const QList<QByteArray> &parts) {
    const QByteArray boundary = "=_" + crypto::base64Url(crypto::randomBytes(18));
    QByteArray body = "Content-Type: multipart/" + subtype + ";\r\n boundary=\"" + boundary + "\"\r\n\r\n";
    for (const QByteArray &part : parts) {
        body += "--" + boundary + "\r\n" + part + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

} // namespace

QByteArray composeMessage(const MailMessage &message, const MailAddress &from, const QByteArray &messageId,
                          const QDateTime &date) {
    const QDateTime sent = date.isValid() ? date.toUTC() : QDateTime::currentDateTimeUtc();
    QByteArray head = mailboxHeader("From", from) + mailboxHeader("To", message.to) +
                      foldedHeader("Subject", unstructuredPieces(message.subject, maxHeaderLine - 9));
    head += "Date: " + QLocale::c().toString(sent, u"ddd, dd MMM yyyy HH:mm:ss '+0000'").toLatin1() + "\r\n";
    head += "Message-ID: " + token(messageId, "<>@!#$%&'*+-/=?^_`{|}~.") + "\r\n";
    head += "MIME-Version: 1.0\r\n";
    const QByteArray text = textPart("plain", message.text);
    if (message.html.isEmpty()) {
        return head + text;
    }
    QByteArray html = textPart("html", message.html);
    if (!message.images.isEmpty()) {
        QList<QByteArray> related{html};
        for (const InlineImage &image : message.images) {
            related.append(imagePart(image));
        }
        html = multipart("related; type=\"text/html\"", related);
    }
    return head + multipart("alternative", {text, html});
}

QByteArray newMessageId(const QByteArray &domain) {
    const QByteArray host = token(domain, ".-");
    return '<' + crypto::randomBytes(16).toHex() + '@' + (host.isEmpty() ? QByteArray("localhost") : host) +
           '>';
}

} // namespace tbserver
