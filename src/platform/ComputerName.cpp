#include "platform/ComputerName.h"

#include <QFile>
#include <QSysInfo>

namespace tallybrook::platform {

using namespace Qt::StringLiterals;

namespace {

// A value as the shell reads it: quotes removed, backslash escapes resolved outside single quotes.
QString unquoted(QStringView value) {
    QString text;
    QChar quote;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quote == u'\'') {
            if (c == u'\'') {
                quote = QChar();
            } else {
                text.append(c);
            }
        } else if (c == u'\\' && i + 1 < value.size()) {
            text.append(value.at(++i));
        } else if (quote == u'"') {
            if (c == u'"') {
                quote = QChar();
            } else {
                text.append(c);
            }
        } else if (c == u'"' || c == u'\'') {
            quote = c;
        } else if (c == u'#' && (i == 0 || value.at(i - 1).isSpace())) {
            break; // a comment after the value
        } else {
            text.append(c);
        }
    }
    return text;
}

} // namespace

std::optional<QString> prettyHostName(const QByteArray &machineInfo) {
    std::optional<QString> found;
    const QString text = QString::fromUtf8(machineInfo);
    for (const QStringView line : QStringView(text).split(u'\n')) {
        const QStringView trimmed = line.trimmed();
        if (!trimmed.startsWith(u"PRETTY_HOSTNAME=")) {
            continue;
        }
        const QString value = unquoted(trimmed.mid(16)).trimmed();
        // The last assignment wins, as when the file is sourced.
        found = value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    }
    return found;
}

QString computerNameFrom(const QByteArray &machineInfo, const QString &hostName) {
    if (const auto pretty = prettyHostName(machineInfo)) {
        return *pretty;
    }
    const QString host = hostName.trimmed();
    return host.isEmpty() ? u"Desk"_s : host;
}

QString computerName() {
    QByteArray machineInfo;
    QFile file(u"/etc/machine-info"_s);
    if (file.open(QIODevice::ReadOnly)) {
        machineInfo = file.read(64 * 1024);
    }
    return computerNameFrom(machineInfo, QSysInfo::machineHostName());
}

} // namespace tallybrook::platform
