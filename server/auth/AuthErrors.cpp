#include "auth/AuthErrors.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

const QByteArray versionHeader = QByteArrayLiteral("X-Supabase-Api-Version");

AuthError error(int status, const char *code, const QString &message) {
    return AuthError{status, QByteArray(code), message, {}};
}

} // namespace

AuthApiVersion requestedApiVersion(const HttpRequest &request) {
    // Any date from 2024-01-01 on picks the newest shape; an unreadable or older one keeps the legacy shape.
    const QDate asked =
        QDate::fromString(QString::fromLatin1(request.header(versionHeader).trimmed()), u"yyyy-MM-dd");
    return asked.isValid() && asked >= QDate(2024, 1, 1) ? AuthApiVersion::V20240101
                                                         : AuthApiVersion::Initial;
}

HttpResponse authErrorResponse(const AuthError &error, AuthApiVersion version) {
    QJsonObject body;
    if (version == AuthApiVersion::V20240101) {
        body.insert(u"code"_s, QString::fromLatin1(error.code));
        body.insert(u"message"_s, error.message);
    } else {
        body.insert(u"code"_s, error.status);
        body.insert(u"error_code"_s, QString::fromLatin1(error.code));
        body.insert(u"msg"_s, error.message);
    }
    if (!error.weakPasswordReasons.isEmpty()) {
        body.insert(u"weak_password"_s,
                    QJsonObject{{u"reasons"_s, QJsonArray::fromStringList(error.weakPasswordReasons)}});
    }
    HttpResponse response = HttpResponse::json(error.status, QJsonDocument(body));
    response.setHeader("x-sb-error-code", error.code);
    if (version == AuthApiVersion::V20240101) {
        response.setHeader(versionHeader, "2024-01-01");
    }
    return response;
}

namespace autherror {

AuthError badJson(const QString &detail) {
    return error(400, "bad_json", u"Could not parse request body as JSON: "_s + detail);
}

AuthError invalidCredentials() {
    return error(400, "invalid_credentials", u"Invalid login credentials"_s);
}

AuthError emailNotConfirmed() {
    return error(400, "email_not_confirmed", u"Email not confirmed"_s);
}

AuthError missingEmailOrPhone() {
    return error(400, "validation_failed", u"missing email or phone"_s);
}

AuthError unsupportedGrantType() {
    return error(400, "invalid_credentials", u"unsupported_grant_type"_s);
}

AuthError refreshTokenNotValid() {
    return error(400, "validation_failed", u"Refresh token is not valid"_s);
}

AuthError refreshTokenNotFound() {
    return error(400, "refresh_token_not_found", u"Invalid Refresh Token: Refresh Token Not Found"_s);
}

AuthError refreshTokenAlreadyUsed() {
    return error(400, "refresh_token_already_used", u"Invalid Refresh Token: Already Used"_s);
}

AuthError overRequestRateLimit() {
    return error(429, "over_request_rate_limit", u"Request rate limit reached"_s);
}

AuthError overEmailSendRateLimit(qint64 secondsLeft) {
    return error(429, "over_email_send_rate_limit",
                 u"For security purposes, you can only request this after %1 seconds."_s.arg(secondsLeft));
}

AuthError userAlreadyExists() {
    return error(422, "user_already_exists", u"User already registered"_s);
}

AuthError weakPassword(int minimumLength) {
    AuthError weak =
        error(422, "weak_password", u"Password should be at least %1 characters."_s.arg(minimumLength));
    weak.weakPasswordReasons = {u"length"_s};
    return weak;
}

AuthError passwordTooLong(int maximumLength) {
    return error(400, "validation_failed",
                 u"Password cannot be longer than %1 characters"_s.arg(maximumLength));
}

AuthError signupRequiresPassword() {
    return error(400, "validation_failed", u"Signup requires a valid password"_s);
}

AuthError signupRequiresEmail() {
    return error(422, "validation_failed", u"To signup, please provide your email"_s);
}

AuthError emailRequired() {
    return error(400, "validation_failed", u"An email address is required"_s);
}

AuthError emailTooLong() {
    return error(400, "validation_failed", u"An email address is too long"_s);
}

AuthError emailInvalidFormat() {
    return error(400, "validation_failed", u"Unable to validate email address: invalid format"_s);
}

AuthError recoveryRequiresEmail() {
    return error(400, "validation_failed", u"Password recovery requires an email"_s);
}

AuthError samePassword() {
    return error(422, "same_password", u"New password should be different from the old password."_s);
}

AuthError emailChangeUnavailable() {
    return error(400, "validation_failed", u"Changing the email address is not available on this server."_s);
}

AuthError unsupportedLogoutScope(const QString &scope) {
    return error(400, "validation_failed", u"Unsupported logout scope \"%1\""_s.arg(scope));
}

AuthError noAuthorization() {
    return error(401, "no_authorization", u"This endpoint requires a valid Bearer token"_s);
}

AuthError badJwt(const QString &detail) {
    return error(403, "bad_jwt", u"invalid JWT: unable to parse or verify signature, "_s + detail);
}

AuthError sessionNotFound() {
    return error(403, "session_not_found", u"Session from session_id claim in JWT does not exist"_s);
}

AuthError userNotFound() {
    return error(403, "user_not_found", u"User from sub claim in JWT does not exist"_s);
}

AuthError verifyTypeUnsupported() {
    return error(400, "validation_failed", u"Unsupported verification type"_s);
}

} // namespace autherror

} // namespace tbserver
