#include "auth/AuthService.h"

#include "auth/AuthErrors.h"
#include "core/Crypto.h"
#include "core/Outbox.h"
#include "website/FormData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace tbserver {

using namespace Qt::StringLiterals;

namespace {

QJsonObject jsonBody(const HttpRequest &request) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError) {
        throw autherror::badJson(error.errorString());
    }
    if (!document.isObject()) {
        throw autherror::badJson(u"the body is not a JSON object"_s);
    }
    return document.object();
}

// A text member; absent or null reads as empty, anything else is a malformed body.
QString textMember(const QJsonObject &body, const QString &key) {
    const QJsonValue value = body.value(key);
    if (value.isUndefined() || value.isNull()) {
        return {};
    }
    if (!value.isString()) {
        throw autherror::badJson(u"\"%1\" must be a string"_s.arg(key));
    }
    return value.toString();
}

std::optional<QJsonObject> objectMember(const QJsonObject &body, const QString &key) {
    const QJsonValue value = body.value(key);
    if (value.isUndefined() || value.isNull()) {
        return std::nullopt;
    }
    if (!value.isObject()) {
        throw autherror::badJson(u"\"%1\" must be an object"_s.arg(key));
    }
    return value.toObject();
}

QString queryValue(const HttpRequest &request, QStringView name) {
    return formValue(request.rawQuery, name).value_or(QString());
}

bool isWellFormedRefreshToken(const QString &token) {
    static const QRegularExpression alphabet(u"^[A-Za-z0-9_-]{1,256}$"_s);
    return alphabet.match(token).hasMatch();
}

QString validatedEmail(const QString &typed) {
    const QString email = UserStore::normalizedEmail(typed);
    if (email.size() > 255) {
        throw autherror::emailTooLong();
    }
    if (!UserStore::isValidEmail(email)) {
        throw autherror::emailInvalidFormat();
    }
    return email;
}

HttpResponse jsonAnswer(int status, const QJsonObject &body) {
    return HttpResponse::json(status, QJsonDocument(body));
}

HttpResponse routeNotFound() {
    HttpResponse response = HttpResponse::empty(404);
    response.body = "404 page not found\n";
    response.setHeader("Content-Type", "text/plain; charset=utf-8");
    return response;
}

HttpResponse methodNotAllowed(const QByteArray &allowed) {
    HttpResponse response = HttpResponse::empty(405);
    response.setHeader("Allow", allowed);
    return response;
}

HttpResponse redirect(const QByteArray &location) {
    HttpResponse response = HttpResponse::empty(303);
    response.setHeader("Location", location);
    return response;
}

QString greetingName(const QJsonObject &metadata) {
    const QString name = metadata.value(u"name").toString().trimmed();
    return name.isEmpty() ? u"there"_s : name;
}

} // namespace

AuthService::AuthService(ServerContext &context, Outbox &outbox)
    : m_context(context), m_outbox(outbox), m_users(context), m_tokens(context) {}

HttpResponse AuthService::handle(const HttpRequest &request, QByteArrayView subpath) {
    const AuthApiVersion version = requestedApiVersion(request);
    try {
        return route(request, subpath);
    } catch (const AuthError &error) {
        return authErrorResponse(error, version);
    }
}

HttpResponse AuthService::route(const HttpRequest &request, QByteArrayView subpath) {
    const QByteArray &method = request.method;
    const auto only = [&method](const char *allowed) { return method == allowed; };
    if (subpath == "token") {
        return only("POST") ? token(request) : methodNotAllowed("POST");
    }
    if (subpath == "signup") {
        return only("POST") ? signup(request) : methodNotAllowed("POST");
    }
    if (subpath == "recover") {
        return only("POST") ? recover(request) : methodNotAllowed("POST");
    }
    if (subpath == "verify") {
        return only("GET") ? verify(request) : methodNotAllowed("GET");
    }
    if (subpath == "user") {
        if (method == "GET") {
            return currentUser(request);
        }
        return only("PUT") ? updateUser(request) : methodNotAllowed("GET, PUT");
    }
    if (subpath == "logout") {
        return only("POST") ? logout(request) : methodNotAllowed("POST");
    }
    return routeNotFound();
}

HttpResponse AuthService::token(const HttpRequest &request) {
    const QString grantType = queryValue(request, u"grant_type");
    if (grantType == u"password") {
        return passwordGrant(request);
    }
    if (grantType == u"refresh_token") {
        return refreshTokenGrant(request);
    }
    throw autherror::unsupportedGrantType();
}

HttpResponse AuthService::passwordGrant(const HttpRequest &request) {
    const QJsonObject body = jsonBody(request);
    const QString email = UserStore::normalizedEmail(textMember(body, u"email"_s));
    const QByteArray password = textMember(body, u"password"_s).toUtf8();
    if (email.isEmpty()) {
        throw autherror::missingEmailOrPhone();
    }
    const qint64 now = m_context.nowSeconds();
    const QString peer = QString::fromLatin1(request.peer);
    // Checked before the password: a locked-out guesser learns nothing and costs no hashing.
    if (m_failedSignInsByEmail.isLimited(email, now) ||
        (!peer.isEmpty() && m_failedSignInsByPeer.isLimited(peer, now))) {
        throw autherror::overRequestRateLimit();
    }
    const std::optional<UserRecord> user = m_users.findByEmail(email);
    bool passwordMatches = false;
    if (user) {
        passwordMatches = crypto::verifyPassword(user->passwordHash, password);
    } else {
        if (m_timingHash.isEmpty()) {
            m_timingHash = crypto::hashPassword(crypto::randomToken(16));
        }
        [[maybe_unused]] const bool ignored = crypto::verifyPassword(m_timingHash, password);
    }
    if (!passwordMatches) {
        m_failedSignInsByEmail.record(email, now);
        if (!peer.isEmpty()) {
            m_failedSignInsByPeer.record(peer, now);
        }
        throw autherror::invalidCredentials();
    }
    m_failedSignInsByEmail.forget(email);
    // After the password, as the hosted service does: only the owner learns that confirmation is missing.
    if (!user->isConfirmed()) {
        throw autherror::emailNotConfirmed();
    }
    const TokenStore::Issued issued = m_tokens.startSession(user->id);
    m_users.markSignedIn(user->id);
    return jsonAnswer(200, sessionAnswer(user->id, issued));
}

HttpResponse AuthService::refreshTokenGrant(const HttpRequest &request) {
    const QJsonObject body = jsonBody(request);
    const QString refreshToken = textMember(body, u"refresh_token"_s);
    if (!isWellFormedRefreshToken(refreshToken)) {
        throw autherror::refreshTokenNotValid();
    }
    const TokenStore::Refreshed refreshed = m_tokens.refresh(refreshToken.toLatin1());
    switch (refreshed.problem) {
    case TokenStore::Problem::NotFound:
        throw autherror::refreshTokenNotFound();
    case TokenStore::Problem::AlreadyUsed:
        throw autherror::refreshTokenAlreadyUsed();
    case TokenStore::Problem::None:
        break;
    }
    return jsonAnswer(200, sessionAnswer(refreshed.issued.userId, refreshed.issued));
}

void AuthService::checkPasswordStrength(const QByteArray &password) const {
    if (password.size() > UserStore::maximumPasswordLength) {
        throw autherror::passwordTooLong(UserStore::maximumPasswordLength);
    }
    if (password.size() < UserStore::minimumPasswordLength) {
        throw autherror::weakPassword(UserStore::minimumPasswordLength);
    }
}

void AuthService::checkEmailSendAllowed(const QString &key) {
    const qint64 now = m_context.nowSeconds();
    if (m_emailSends.isLimited(key, now)) {
        throw autherror::overEmailSendRateLimit(m_emailSends.secondsLeft(key, now));
    }
    m_emailSends.record(key, now);
}

HttpResponse AuthService::signup(const HttpRequest &request) {
    const QJsonObject body = jsonBody(request);
    const QString typedEmail = textMember(body, u"email"_s);
    const QByteArray password = textMember(body, u"password"_s).toUtf8();
    const QJsonObject metadata = objectMember(body, u"data"_s).value_or(QJsonObject());
    if (password.isEmpty()) {
        throw autherror::signupRequiresPassword();
    }
    checkPasswordStrength(password);
    if (UserStore::normalizedEmail(typedEmail).isEmpty()) {
        throw autherror::signupRequiresEmail();
    }
    const QString email = validatedEmail(typedEmail);
    const bool confirmEmails = m_context.config().confirmEmails;

    std::optional<UserRecord> user = m_users.findByEmail(email);
    if (user && user->isConfirmed()) {
        if (!confirmEmails) {
            throw autherror::userAlreadyExists();
        }
        // With confirmations on, a taken address must look like a fresh sign-up.
        return jsonAnswer(200, disguisedUser(email, metadata));
    }
    if (user && confirmEmails) {
        // Not confirmed yet: send the link again, leaving the account as it was (nobody proved the address).
        checkEmailSendAllowed(u"confirm:"_s + email);
        sendConfirmation(*user);
        return jsonAnswer(200, UserStore::toJson(*m_users.findById(user->id)));
    }
    if (user) {
        // An account that never confirmed, while confirmations are off: whoever signs up now takes it over.
        m_context.db().transaction([&] {
            m_users.setPassword(user->id, password);
            m_users.setMetadata(user->id, metadata);
            m_users.confirmEmail(user->id);
        });
    } else if (confirmEmails) {
        checkEmailSendAllowed(u"confirm:"_s + email);
        const UserRecord created = m_users.create(email, password, metadata, false);
        sendConfirmation(created);
        return jsonAnswer(200, UserStore::toJson(*m_users.findById(created.id)));
    } else {
        user = m_users.create(email, password, metadata, true);
    }
    const TokenStore::Issued issued = m_tokens.startSession(user->id);
    m_users.markSignedIn(user->id);
    return jsonAnswer(200, sessionAnswer(user->id, issued));
}

void AuthService::sendConfirmation(const UserRecord &user) {
    const QByteArray token = m_users.issueConfirmationToken(user.id);
    const QByteArray link = m_context.config().publicBaseUrl +
                            "/auth/v1/verify?token=" + QUrl::toPercentEncoding(QString::fromLatin1(token)) +
                            "&type=signup";
    const QString text =
        u"Hello %1,\n\n"
        u"Please confirm your email address to start using Tallybrook:\n\n%2\n\n"
        u"The link works for 24 hours. If you did not sign up for Tallybrook, you can ignore this "
        u"email.\n"_s.arg(greetingName(user.userMetadata), QString::fromLatin1(link));
    m_outbox.write(user.email, u"Confirm your email address"_s, text);
}

QJsonObject AuthService::disguisedUser(const QString &email, const QJsonObject &metadata) const {
    const QString now = UserStore::wireTime(m_context.timestampNow());
    return QJsonObject{
        {u"id"_s, crypto::uuidV4()},
        {u"aud"_s, u"authenticated"_s},
        {u"role"_s, u""_s},
        {u"email"_s, email},
        {u"phone"_s, u""_s},
        {u"confirmation_sent_at"_s, now},
        {u"app_metadata"_s,
         QJsonObject{{u"provider"_s, u"email"_s}, {u"providers"_s, QJsonArray{u"email"_s}}}},
        {u"user_metadata"_s, metadata},
        {u"identities"_s, QJsonArray()},
        {u"created_at"_s, now},
        {u"updated_at"_s, now},
        {u"is_anonymous"_s, false},
    };
}

bool AuthService::isOnThisServer(const QUrl &url) const {
    const QUrl base(QString::fromUtf8(m_context.config().publicBaseUrl));
    return url.isValid() && base.isValid() && !url.host().isEmpty() && url.scheme() == base.scheme() &&
           url.host() == base.host() && url.port(80) == base.port(80);
}

QByteArray AuthService::websiteUrl(QByteArrayView path) const {
    return m_context.config().publicBaseUrl + path.toByteArray();
}

HttpResponse AuthService::recover(const HttpRequest &request) {
    const QJsonObject body = jsonBody(request);
    const QString typedEmail = textMember(body, u"email"_s);
    if (UserStore::normalizedEmail(typedEmail).isEmpty()) {
        throw autherror::recoveryRequiresEmail();
    }
    const QString email = validatedEmail(typedEmail);
    // Limited per address whether or not an account has it, so the answer never tells the two apart.
    checkEmailSendAllowed(u"recover:"_s + email);
    const std::optional<UserRecord> user = m_users.findByEmail(email);
    if (!user) {
        return jsonAnswer(200, QJsonObject());
    }

    QUrl link(QString::fromUtf8(websiteUrl("/auth/callback?next=/reset-password")));
    const QUrl asked(queryValue(request, u"redirect_to"), QUrl::StrictMode);
    if (isOnThisServer(asked)) {
        link = asked;
    }
    QUrlQuery query(link);
    query.addQueryItem(u"token"_s, QString::fromLatin1(m_users.issueRecoveryToken(user->id)));
    link.setQuery(query);
    const QString text =
        u"Hello %1,\n\n"
        u"Someone asked to reset the password of your Tallybrook account. To choose a new password, "
        u"open this link:\n\n%2\n\n"
        u"The link works for one hour. If you did not ask for this, you can ignore this email: your "
        u"password stays as it is.\n"_s.arg(greetingName(user->userMetadata),
                                            link.toString(QUrl::FullyEncoded));
    m_outbox.write(user->email, u"Reset your password"_s, text);
    return jsonAnswer(200, QJsonObject());
}

HttpResponse AuthService::verify(const HttpRequest &request) {
    if (queryValue(request, u"type") != u"signup") {
        throw autherror::verifyTypeUnsupported();
    }
    QUrl target(QString::fromUtf8(websiteUrl("/auth/callback")));
    const QUrl asked(queryValue(request, u"redirect_to"), QUrl::StrictMode);
    if (isOnThisServer(asked)) {
        target = asked;
    }
    QUrlQuery query(target);
    if (m_users.confirmWithToken(queryValue(request, u"token").toUtf8())) {
        query.addQueryItem(u"type"_s, u"signup"_s);
    } else {
        query.addQueryItem(u"error"_s, u"access_denied"_s);
        query.addQueryItem(u"error_code"_s, u"otp_expired"_s);
        query.addQueryItem(u"error_description"_s, u"Email link is invalid or has expired"_s);
    }
    target.setQuery(query);
    return redirect(target.toString(QUrl::FullyEncoded).toUtf8());
}

AuthService::Caller AuthService::authenticate(const HttpRequest &request) {
    static const QRegularExpression bearer(u"^\\s*bearer\\s+(.+)$"_s,
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = bearer.match(QString::fromLatin1(request.header("Authorization")));
    if (!match.hasMatch()) {
        throw autherror::noAuthorization();
    }
    const Jwt::Verified verified =
        m_context.jwt().verify(match.captured(1).trimmed().toLatin1(), m_context.nowSeconds());
    switch (verified.problem) {
    case Jwt::Problem::Malformed:
        throw autherror::badJwt(u"token is malformed: "_s + QString::fromLatin1(verified.detail));
    case Jwt::Problem::BadSignature:
        throw autherror::badJwt(u"token signature is invalid: signature is invalid"_s);
    case Jwt::Problem::Expired:
        throw autherror::badJwt(u"token has invalid claims: token is expired"_s);
    case Jwt::Problem::None:
        break;
    }
    const QString subject = verified.claims.value(u"sub").toString();
    if (subject.isEmpty()) {
        throw AuthError{403, "bad_jwt", u"invalid claim: missing sub claim"_s, {}};
    }
    std::optional<UserRecord> user = m_users.findById(subject);
    if (!user) {
        throw autherror::userNotFound();
    }
    const QString sessionId = verified.claims.value(u"session_id").toString().toLower();
    if (!sessionId.isEmpty() && !m_tokens.sessionExists(sessionId, user->id)) {
        throw autherror::sessionNotFound();
    }
    return {std::move(*user), sessionId};
}

HttpResponse AuthService::currentUser(const HttpRequest &request) {
    return jsonAnswer(200, UserStore::toJson(authenticate(request).user));
}

HttpResponse AuthService::updateUser(const HttpRequest &request) {
    const Caller caller = authenticate(request);
    const QJsonObject body = jsonBody(request);
    const QString email = textMember(body, u"email"_s);
    if (!email.isEmpty() && UserStore::normalizedEmail(email) != caller.user.email) {
        throw autherror::emailChangeUnavailable();
    }
    const std::optional<QJsonObject> data = objectMember(body, u"data"_s);
    const QJsonValue passwordValue = body.value(u"password");
    const bool changesPassword = !passwordValue.isUndefined() && !passwordValue.isNull();
    const QByteArray password = textMember(body, u"password"_s).toUtf8();
    if (changesPassword) {
        checkPasswordStrength(password);
        if (crypto::verifyPassword(caller.user.passwordHash, password)) {
            throw autherror::samePassword();
        }
    }
    m_context.db().transaction([&] {
        if (data) {
            // Merged key by key; a null value removes its key.
            QJsonObject merged = caller.user.userMetadata;
            for (auto it = data->begin(); it != data->end(); ++it) {
                if (it.value().isNull()) {
                    merged.remove(it.key());
                } else {
                    merged.insert(it.key(), it.value());
                }
            }
            m_users.setMetadata(caller.user.id, merged);
        }
        if (changesPassword) {
            m_users.setPassword(caller.user.id, password);
            m_tokens.endOtherSessions(caller.user.id, caller.sessionId);
        }
    });
    return jsonAnswer(200, UserStore::toJson(*m_users.findById(caller.user.id)));
}

HttpResponse AuthService::logout(const HttpRequest &request) {
    const Caller caller = authenticate(request);
    const QString scope = queryValue(request, u"scope");
    if (scope == u"local" && !caller.sessionId.isEmpty()) {
        m_tokens.endSession(caller.sessionId);
    } else if (scope == u"others" && !caller.sessionId.isEmpty()) {
        m_tokens.endOtherSessions(caller.user.id, caller.sessionId);
    } else if (scope.isEmpty() || scope == u"global" || scope == u"local" || scope == u"others") {
        m_tokens.endAllSessions(caller.user.id);
    } else {
        throw autherror::unsupportedLogoutScope(scope);
    }
    return HttpResponse::empty(204);
}

QJsonObject AuthService::sessionAnswer(const QString &userId, const TokenStore::Issued &issued) const {
    const std::optional<UserRecord> user = m_users.findById(userId);
    if (!user) {
        throw autherror::refreshTokenNotFound();
    }
    const qint64 now = m_context.nowSeconds();
    const qint64 expiresAt = now + accessTokenLifetime;
    const QJsonObject appMetadata{{u"provider"_s, u"email"_s}, {u"providers"_s, QJsonArray{u"email"_s}}};
    const QJsonObject claims{
        {u"iss"_s, QString::fromUtf8(m_context.config().publicBaseUrl + "/auth/v1")},
        {u"sub"_s, user->id},
        {u"aud"_s, u"authenticated"_s},
        {u"exp"_s, expiresAt},
        {u"iat"_s, now},
        {u"email"_s, user->email},
        {u"phone"_s, u""_s},
        {u"app_metadata"_s, appMetadata},
        {u"user_metadata"_s, user->userMetadata},
        {u"role"_s, u"authenticated"_s},
        {u"aal"_s, u"aal1"_s},
        {u"amr"_s,
         QJsonArray{QJsonObject{{u"method"_s, u"password"_s}, {u"timestamp"_s, issued.sessionStartedAt}}}},
        {u"session_id"_s, issued.sessionId},
        {u"is_anonymous"_s, false},
    };
    return QJsonObject{
        {u"access_token"_s, QString::fromLatin1(m_context.jwt().sign(claims))},
        {u"token_type"_s, u"bearer"_s},
        {u"expires_in"_s, accessTokenLifetime},
        {u"expires_at"_s, expiresAt},
        {u"refresh_token"_s, QString::fromLatin1(issued.refreshToken)},
        {u"user"_s, UserStore::toJson(*user)},
    };
}

} // namespace tbserver
