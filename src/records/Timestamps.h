#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <optional>

namespace tallybrook {

// Reads an ISO 8601 internet date-time ("2025-03-04T09:05:12Z", "...12.123456+00:00"), with or without
// fractional seconds, into a UTC instant. Anything else, a date alone included, is unreadable.
[[nodiscard]] std::optional<QDateTime> readTimestamp(QStringView text);

// Writes an instant for the REST service: UTC, whole seconds, "Z" (2025-03-04T09:05:00Z).
[[nodiscard]] QString writeTimestamp(const QDateTime &instant);

} // namespace tallybrook
