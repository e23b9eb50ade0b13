#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace tallybrook::testing {

// A composed email read back as a mail client would (Python's email package, zbarimg for QR codes): its
// decoded headers, MIME tree, texts and pictures. Empty when the reader finds the message malformed; it says
// why.
[[nodiscard]] QJsonObject readMailBack(const QByteArray &message);

} // namespace tallybrook::testing
