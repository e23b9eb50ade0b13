#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace tbserver {

// A query string or an application/x-www-form-urlencoded body: "a=1&b=x+y", percent-decoded, "+" read as
// a space, in the order given.
[[nodiscard]] QList<std::pair<QString, QString>> parseFormEncoded(const QByteArray &text);
// The first value of `name`, or nothing when it is absent.
[[nodiscard]] std::optional<QString> formValue(const QByteArray &text, QStringView name);

} // namespace tbserver
