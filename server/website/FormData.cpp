#include "website/FormData.h"

namespace tbserver {

namespace {

QString decoded(QByteArray part) {
    part.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
}

} // namespace

QList<std::pair<QString, QString>> parseFormEncoded(const QByteArray &text) {
    QList<std::pair<QString, QString>> items;
    for (const QByteArray &piece : text.split('&')) {
        if (piece.isEmpty()) {
            continue;
        }
        const qsizetype equals = piece.indexOf('=');
        if (equals < 0) {
            items.append({decoded(piece), QString()});
        } else {
            items.append({decoded(piece.left(equals)), decoded(piece.mid(equals + 1))});
        }
    }
    return items;
}

std::optional<QString> formValue(const QByteArray &text, QStringView name) {
    for (const auto &[key, value] : parseFormEncoded(text)) {
        if (key == name) {
            return value;
        }
    }
    return std::nullopt;
}

} // namespace tbserver
