#include "mail/QrPng.h"

#include <QtEndian>
#include <qrencode.h>

#include <array>
#include <memory>

namespace tbserver {

namespace {

quint32 crc32(QByteArrayView bytes) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xedb88320U ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    quint32 c = 0xffffffffU;
    for (char byte : bytes) {
        c = table[(c ^ uchar(byte)) & 0xff] ^ (c >> 8);
    }
    return c ^ 0xffffffffU;
}

QByteArray bigEndian(quint32 value) {
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const QByteArray &type, const QByteArray &data) {
    const QByteArray typed = type + data;
    return bigEndian(quint32(data.size())) + typed + bigEndian(crc32(typed));
}

} // namespace

QByteArray qrCodePng(const QByteArray &text, int moduleSize, int quietZone) {
    // Large enough for any code on paper or screen, small enough that the sizes below cannot overflow.
    if (moduleSize < 1 || moduleSize > 64 || quietZone < 0 || quietZone > 64) {
        return {};
    }
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(text.size()), reinterpret_cast<const unsigned char *>(text.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) {
        return {};
    }
    const int modules = code->width;
    const int side = (modules + 2 * quietZone) * moduleSize;
    const int rowBytes = (side + 7) / 8;
    // One bit per pixel, 1 white; each row starts with filter type 0 (none).
    QByteArray pixels;
    pixels.reserve((rowBytes + 1) * side);
    for (int y = 0; y < side; ++y) {
        QByteArray row(rowBytes + 1, char(0xff));
        row[0] = 0;
        const int my = y / moduleSize - quietZone;
        for (int x = 0; x < side; ++x) {
            const int mx = x / moduleSize - quietZone;
            // The lowest bit of each byte is the module's colour; the others say what the module is part of.
            const bool dark =
                my >= 0 && my < modules && mx >= 0 && mx < modules && (code->data[my * modules + mx] & 1);
            if (dark) {
                row[1 + x / 8] = char(uchar(row[1 + x / 8]) & ~(0x80U >> (x % 8)));
            }
        }
        pixels += row;
    }
    // qCompress writes a zlib stream after a 4-byte length of its own.
    const QByteArray zlib = qCompress(pixels, 9).mid(4);
    const QByteArray header = bigEndian(quint32(side)) + bigEndian(quint32(side)) +
                              QByteArray::fromRawData("\x01\x00\x00\x00\x00", 5); // 1-bit greyscale
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", zlib) +
           chunk("IEND", {});
}

} // namespace tbserver
