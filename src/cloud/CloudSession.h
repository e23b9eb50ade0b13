#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <optional>

namespace tallybrook {

// The signed-in user's tokens. `expiresAt` is computed locally when the tokens arrive.
struct CloudSession {
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt;
    QUuid userID;
    QString email;

    friend bool operator==(const CloudSession &, const CloudSession &) = default;

    // The Auth service's token answer: "access_token", "refresh_token", "expires_in" and "user" with its
    // "id" are required, the user's "email" is not. Throws DecodeError.
    [[nodiscard]] static CloudSession fromTokenResponse(const QJsonValue &json, const QDateTime &now);

    // The persisted form: {"accessToken", "refreshToken", "expiresAt" (seconds since 2001-01-01 UTC),
    // "userID" (upper-case UUID), "email"}.
    [[nodiscard]] QByteArray toStoredForm() const;
    [[nodiscard]] static std::optional<CloudSession> fromStoredForm(const QByteArray &data);
};

} // namespace tallybrook
