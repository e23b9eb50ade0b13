#pragma once

#include <QByteArray>
#include <QString>

namespace tbserver::crypto {

// Must be called once before anything else here.
void initialize();

[[nodiscard]] QByteArray randomBytes(int count);
// URL-safe base64 without padding.
[[nodiscard]] QByteArray base64Url(const QByteArray &bytes);
[[nodiscard]] QByteArray fromBase64Url(const QByteArray &text, bool *ok = nullptr);
// A random token of `bytes` bytes of entropy, URL-safe.
[[nodiscard]] QByteArray randomToken(int bytes = 24);
[[nodiscard]] QString uuidV4();

[[nodiscard]] QByteArray sha256Hex(const QByteArray &data);
[[nodiscard]] QByteArray hmacSha256(const QByteArray &key, const QByteArray &message);
// Compares in time independent of where they differ.
[[nodiscard]] bool equalConstantTime(const QByteArray &a, const QByteArray &b);

// Argon2id in libsodium's self-describing string form.
[[nodiscard]] QByteArray hashPassword(const QByteArray &password);
[[nodiscard]] bool verifyPassword(const QByteArray &hash, const QByteArray &password);

} // namespace tbserver::crypto
