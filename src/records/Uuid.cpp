#include "records/Uuid.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace tallybrook {

std::optional<QUuid> parseUuid(QStringView text) {
    static const QRegularExpression canonical(
        u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
    if (!canonical.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

QString uuidUpper(const QUuid &uuid) {
    return uuidLower(uuid).toUpper();
}

QString uuidLower(const QUuid &uuid) {
    return uuid.toString(QUuid::WithoutBraces);
}

} // namespace tallybrook
