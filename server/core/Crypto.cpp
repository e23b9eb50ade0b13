#include "core/Crypto.h"

#include <QUuid>

#include <sodium.h>
#include <stdexcept>

namespace tbserver::crypto {

void initialize() {
    if (sodium_init() < 0) {
        throw std::runtime_error("libsodium could not be initialised");
    }
}

QByteArray randomBytes(int count) {
    QByteArray bytes(count, Qt::Uninitialized);
    randombytes_buf(bytes.data(), size_t(count));
    return bytes;
}

QByteArray base64Url(const QByteArray &bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray fromBase64Url(const QByteArray &text, bool *ok) {
    const auto result = QByteArray::fromBase64Encoding(text, QByteArray::Base64UrlEncoding |
                                                                 QByteArray::AbortOnBase64DecodingErrors);
    if (ok) {
        *ok = bool(result);
    }
    return result ? *result : QByteArray();
}

QByteArray randomToken(int bytes) {
    return base64Url(randomBytes(bytes));
}

QString uuidV4() {
    QByteArray bytes = randomBytes(16);
    bytes[6] = char((uchar(bytes[6]) & 0x0f) | 0x40);
    bytes[8] = char((uchar(bytes[8]) & 0x3f) | 0x80);
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}

QByteArray sha256Hex(const QByteArray &data) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char *>(data.constData()),
                       static_cast<unsigned long long>(data.size()));
    return QByteArray(reinterpret_cast<const char *>(digest), sizeof digest).toHex();
}

QByteArray hmacSha256(const QByteArray &key, const QByteArray &message) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char *>(key.constData()),
                                size_t(key.size()));
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char *>(message.constData()),
                                  static_cast<unsigned long long>(message.size()));
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_final(&state, mac);
    return QByteArray(reinterpret_cast<const char *>(mac), sizeof mac);
}

bool equalConstantTime(const QByteArray &a, const QByteArray &b) {
    return a.size() == b.size() && sodium_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

QByteArray hashPassword(const QByteArray &password) {
    char hash[crypto_pwhash_STRBYTES];
    // Interactive limits: a sign-in stays well under a second on a small office machine.
    if (crypto_pwhash_str(hash, password.constData(), static_cast<unsigned long long>(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        throw std::runtime_error("out of memory while hashing a password");
    }
    return QByteArray(hash);
}

bool verifyPassword(const QByteArray &hash, const QByteArray &password) {
    const QByteArray terminated = hash + '\0';
    return crypto_pwhash_str_verify(terminated.constData(), password.constData(),
                                    static_cast<unsigned long long>(password.size())) == 0;
}

} // namespace tbserver::crypto
