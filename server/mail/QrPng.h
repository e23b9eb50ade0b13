#pragma once

#include <QByteArray>

namespace tbserver {

// The QR code of `text` (byte mode, error correction M) as a black-and-white PNG: each module `moduleSize`
// pixels square, inside a white border of `quietZone` modules. Empty when the text does not fit in a QR code.
[[nodiscard]] QByteArray qrCodePng(const QByteArray &text, int moduleSize = 6, int quietZone = 4);

} // namespace tbserver
