#pragma once

#include "http/HttpMessage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tbserver {

// One refusal of the Auth service. Handlers throw it; AuthService::handle turns it into the answer in the
// shape the request asked for, so the two error shapes live in exactly one place.
struct AuthError {
    int status = 400;
    QByteArray code;
    QString message;
    QStringList weakPasswordReasons; // only for weak_password
};

// The error shape: the legacy one unless the request names API version 2024-01-01 or later.
enum class AuthApiVersion { Initial, V20240101 };

[[nodiscard]] AuthApiVersion requestedApiVersion(const HttpRequest &request);
[[nodiscard]] HttpResponse authErrorResponse(const AuthError &error, AuthApiVersion version);

// The refusals, with the hosted service's codes and texts.
namespace autherror {

[[nodiscard]] AuthError badJson(const QString &detail);
[[nodiscard]] AuthError invalidCredentials();
[[nodiscard]] AuthError emailNotConfirmed();
[[nodiscard]] AuthError missingEmailOrPhone();
[[nodiscard]] AuthError unsupportedGrantType();
[[nodiscard]] AuthError refreshTokenNotValid();
[[nodiscard]] AuthError refreshTokenNotFound();
[[nodiscard]] AuthError refreshTokenAlreadyUsed();
[[nodiscard]] AuthError overRequestRateLimit();
[[nodiscard]] AuthError overEmailSendRateLimit(qint64 secondsLeft);
[[nodiscard]] AuthError userAlreadyExists();
[[nodiscard]] AuthError weakPassword(int minimumLength);
[[nodiscard]] AuthError passwordTooLong(int maximumLength);
[[nodiscard]] AuthError signupRequiresPassword();
[[nodiscard]] AuthError signupRequiresEmail();
[[nodiscard]] AuthError emailRequired();
[[nodiscard]] AuthError emailTooLong();
[[nodiscard]] AuthError emailInvalidFormat();
[[nodiscard]] AuthError recoveryRequiresEmail();
[[nodiscard]] AuthError samePassword();
[[nodiscard]] AuthError emailChangeUnavailable();
[[nodiscard]] AuthError unsupportedLogoutScope(const QString &scope);
[[nodiscard]] AuthError noAuthorization();
[[nodiscard]] AuthError badJwt(const QString &detail);
[[nodiscard]] AuthError sessionNotFound();
[[nodiscard]] AuthError userNotFound();
[[nodiscard]] AuthError verifyTypeUnsupported();

} // namespace autherror

} // namespace tbserver
