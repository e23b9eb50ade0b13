#pragma once

#include "auth/RateLimiter.h"
#include "auth/TokenStore.h"
#include "auth/UserStore.h"
#include "core/ServerContext.h"
#include "http/HttpMessage.h"

#include <QJsonObject>

namespace tbserver {

class Outbox;

// The hosted Auth service's paths under /auth/v1: password and refresh-token grants, sign-up with optional
// email confirmation, password recovery, the signed-in user and sign-out. Bodies, statuses, error codes and
// both error shapes follow the hosted service.
class AuthService final {
public:
    AuthService(ServerContext &context, Outbox &outbox);
    Q_DISABLE_COPY_MOVE(AuthService)

    static constexpr qint64 accessTokenLifetime = 3600;
    // Failed password sign-ins allowed per email address, and per peer address, within the window.
    static constexpr int failedSignInLimit = 10;
    static constexpr qint64 failedSignInWindow = 300;
    // One confirmation or reset email per address within this many seconds.
    static constexpr qint64 emailSendInterval = 60;

    // `subpath` is the part after the service's prefix, without a leading "/".
    [[nodiscard]] HttpResponse handle(const HttpRequest &request, QByteArrayView subpath);

private:
    struct Caller {
        UserRecord user;
        QString sessionId;
    };

    HttpResponse route(const HttpRequest &request, QByteArrayView subpath);
    HttpResponse token(const HttpRequest &request);
    HttpResponse passwordGrant(const HttpRequest &request);
    HttpResponse refreshTokenGrant(const HttpRequest &request);
    HttpResponse signup(const HttpRequest &request);
    HttpResponse recover(const HttpRequest &request);
    HttpResponse verify(const HttpRequest &request);
    HttpResponse currentUser(const HttpRequest &request);
    HttpResponse updateUser(const HttpRequest &request);
    HttpResponse logout(const HttpRequest &request);

    // The bearer token's user and session, or the hosted refusal (401 no_authorization, 403 bad_jwt,
    // user_not_found, session_not_found).
    Caller authenticate(const HttpRequest &request);
    void checkPasswordStrength(const QByteArray &password) const;
    void checkEmailSendAllowed(const QString &key);
    [[nodiscard]] QJsonObject sessionAnswer(const QString &userId, const TokenStore::Issued &issued) const;
    [[nodiscard]] QJsonObject disguisedUser(const QString &email, const QJsonObject &metadata) const;
    void sendConfirmation(const UserRecord &user);
    [[nodiscard]] bool isOnThisServer(const QUrl &url) const;
    [[nodiscard]] QByteArray websiteUrl(QByteArrayView path) const;

    ServerContext &m_context;
    Outbox &m_outbox;
    UserStore m_users;
    TokenStore m_tokens;
    RateLimiter m_failedSignInsByEmail{failedSignInLimit, failedSignInWindow};
    RateLimiter m_failedSignInsByPeer{failedSignInLimit, failedSignInWindow};
    RateLimiter m_emailSends{1, emailSendInterval};
    QByteArray m_timingHash; // verified against when the email is unknown, so both take the same time
};

} // namespace tbserver
