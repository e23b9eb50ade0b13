#pragma once

#include <QString>

namespace tallybrook {

// The shape every email the desk takes must have, checked as given (callers trim as their form says): one
// "@", a dot somewhere after it, something between each, and no white space anywhere. White space is
// Unicode's: a no-break or ideographic space pasted from a document is as wrong as a plain one, and so are
// the invisible zero-width space and byte order mark.
[[nodiscard]] bool isEmailAddress(const QString &text);

} // namespace tallybrook
