#include "core/ServerContext.h"

#include <QTimeZone>

namespace tbserver {

ServerContext::ServerContext(ServerConfig config, Database &db, QByteArray jwtSecret)
    : m_config(std::move(config)), m_db(db), m_jwt(std::move(jwtSecret)) {}

qint64 ServerContext::nowSeconds() const {
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

ServerContext::BearerCheck ServerContext::bearer(const HttpRequest &request) const {
    BearerCheck check;
    const QByteArray authorization = request.header("Authorization");
    if (authorization.isEmpty()) {
        check.missing = true;
        check.problem = Jwt::Problem::Malformed;
        return check;
    }
    if (!authorization.startsWith("Bearer ") && !authorization.startsWith("bearer ")) {
        check.problem = Jwt::Problem::Malformed;
        check.detail = "Authorization header is not a bearer token";
        return check;
    }
    const Jwt::Verified verified = m_jwt.verify(authorization.mid(7).trimmed(), nowSeconds());
    check.problem = verified.problem;
    check.detail = verified.detail;
    if (verified.problem == Jwt::Problem::None) {
        Principal principal;
        principal.userId = verified.claims.value(u"sub").toString();
        principal.sessionId = verified.claims.value(u"session_id").toString();
        principal.email = verified.claims.value(u"email").toString();
        principal.role = verified.claims.value(u"role").toString();
        if (principal.userId.isEmpty()) {
            check.problem = Jwt::Problem::Malformed;
            check.detail = "JWT has no subject";
        } else {
            check.principal = principal;
        }
    }
    return check;
}

QByteArray ServerContext::timestampNow() const {
    // The clock has whole seconds only when a test moves it; otherwise keep the real microseconds.
    if (m_clock) {
        return timestamp(QDateTime::fromSecsSinceEpoch(m_clock(), QTimeZone::utc()));
    }
    return timestamp(QDateTime::currentDateTimeUtc());
}

QByteArray ServerContext::timestamp(const QDateTime &at) {
    const QDateTime utc = at.toUTC();
    return (utc.toString(u"yyyy-MM-dd'T'HH:mm:ss.zzz") + u"000+00:00").toLatin1();
}

} // namespace tbserver
