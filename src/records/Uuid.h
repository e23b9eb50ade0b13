#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace tallybrook {

// Only the canonical 36-character form (8-4-4-4-12 hex digits, either case, no braces) is a UUID here; QUuid
// alone would also take braces and shorter garbage as the null UUID.
[[nodiscard]] std::optional<QUuid> parseUuid(QStringView text);

// Upper case inside records and the stored session.
[[nodiscard]] QString uuidUpper(const QUuid &uuid);
// Lower case in REST filters and website paths.
[[nodiscard]] QString uuidLower(const QUuid &uuid);

} // namespace tallybrook
