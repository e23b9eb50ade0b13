#include "auth/TokenStore.h"

#include "auth/UserStore.h"
#include "core/Crypto.h"
#include "core/ServerContext.h"

namespace tbserver {

namespace {

// refresh_tokens.revoked: 0 live, 1 rotated (reusable within the interval), 2 ended with its whole family.
constexpr int rotated = 1;
constexpr int familyRevoked = 2;

} // namespace

TokenStore::TokenStore(ServerContext &context) : m_context(context) {}

QByteArray TokenStore::insertToken(const QString &userId, const QString &sessionId,
                                   const QByteArray &parentHash) {
    const QByteArray token = crypto::randomToken(24);
    const QByteArray now = m_context.timestampNow();
    Statement insert = m_context.db().prepare("INSERT INTO refresh_tokens (token_hash, parent_hash, "
                                              "session_id, user_id, revoked, created_at, updated_at) "
                                              "VALUES (?1, ?2, ?3, ?4, 0, ?5, ?5)");
    insert.bindText(1, crypto::sha256Hex(token));
    insert.bind(2, parentHash.isEmpty() ? QVariant() : QVariant(parentHash));
    insert.bind(3, sessionId).bind(4, userId).bindText(5, now);
    insert.run();
    m_currentBySession.insert(sessionId, token);
    return token;
}

TokenStore::Issued TokenStore::startSession(const QString &userId) {
    Issued issued;
    issued.userId = userId;
    issued.sessionId = crypto::uuidV4();
    issued.sessionStartedAt = m_context.nowSeconds();
    m_context.db().transaction([&] {
        Statement insert = m_context.db().prepare(
            "INSERT INTO sessions (id, user_id, created_at, updated_at) VALUES (?1, ?2, ?3, ?3)");
        insert.bind(1, issued.sessionId).bind(2, userId).bindText(3, m_context.timestampNow());
        insert.run();
        issued.refreshToken = insertToken(userId, issued.sessionId, {});
    });
    return issued;
}

qint64 TokenStore::sessionStartedAt(const QString &sessionId) const {
    Statement row = m_context.db().prepare("SELECT created_at FROM sessions WHERE id = ?1");
    row.bind(1, sessionId);
    return row.step() ? secondsOfTimestamp(row.text(0)) : 0;
}

TokenStore::Refreshed TokenStore::refresh(const QByteArray &refreshToken) {
    const QByteArray presentedHash = crypto::sha256Hex(refreshToken);
    return m_context.db().transaction([&]() -> Refreshed {
        Refreshed result;
        Statement found = m_context.db().prepare(
            "SELECT session_id, user_id, revoked, updated_at FROM refresh_tokens WHERE token_hash = ?1");
        found.bindText(1, presentedHash);
        if (!found.step()) {
            result.problem = Problem::NotFound;
            return result;
        }
        const QString sessionId = found.string(0);
        const QString userId = found.string(1);
        const int state = int(found.integer(2));
        const qint64 revokedAt = secondsOfTimestamp(found.text(3));
        result.issued.userId = userId;
        result.issued.sessionId = sessionId;
        result.issued.sessionStartedAt = sessionStartedAt(sessionId);

        if (state == familyRevoked) {
            result.problem = Problem::AlreadyUsed;
            return result;
        }
        if (state == rotated) {
            Statement current = m_context.db().prepare(
                "SELECT token_hash, parent_hash FROM refresh_tokens WHERE session_id = ?1 AND revoked = 0 "
                "ORDER BY id DESC LIMIT 1");
            current.bind(1, sessionId);
            const bool hasCurrent = current.step();
            const QByteArray currentHash = hasCurrent ? current.text(0) : QByteArray();
            const QByteArray currentParent =
                hasCurrent && !current.isNull(1) ? current.text(1) : QByteArray();
            const auto known = m_currentBySession.constFind(sessionId);
            if (hasCurrent && currentParent == presentedHash && known != m_currentBySession.cend() &&
                crypto::sha256Hex(*known) == currentHash) {
                result.issued.refreshToken = *known;
                return result;
            }
            if (m_context.nowSeconds() - revokedAt > reuseInterval) {
                Statement revoke = m_context.db().prepare("UPDATE refresh_tokens SET revoked = 2, updated_at "
                                                          "= ?2 WHERE session_id = ?1 AND revoked <> 2");
                revoke.bind(1, sessionId).bindText(2, m_context.timestampNow());
                revoke.run();
                m_currentBySession.remove(sessionId);
                result.problem = Problem::AlreadyUsed;
                return result;
            }
        }
        Statement rotate = m_context.db().prepare(
            "UPDATE refresh_tokens SET revoked = 1, updated_at = ?2 WHERE token_hash = ?1 AND revoked = 0");
        rotate.bindText(1, presentedHash).bindText(2, m_context.timestampNow());
        rotate.run();
        Statement touch = m_context.db().prepare("UPDATE sessions SET updated_at = ?2 WHERE id = ?1");
        touch.bind(1, sessionId).bindText(2, m_context.timestampNow());
        touch.run();
        result.issued.refreshToken = insertToken(userId, sessionId, presentedHash);
        return result;
    });
}

bool TokenStore::sessionExists(const QString &sessionId, const QString &userId) const {
    Statement row = m_context.db().prepare("SELECT 1 FROM sessions WHERE id = ?1 AND user_id = ?2");
    row.bind(1, sessionId.toLower()).bind(2, userId.toLower());
    return row.step();
}

void TokenStore::endSession(const QString &sessionId) {
    // The session's refresh tokens go with it (ON DELETE CASCADE).
    Statement remove = m_context.db().prepare("DELETE FROM sessions WHERE id = ?1");
    remove.bind(1, sessionId);
    remove.run();
    m_currentBySession.remove(sessionId);
}

void TokenStore::endAllSessions(const QString &userId) {
    endOtherSessions(userId, QString());
}

void TokenStore::endOtherSessions(const QString &userId, const QString &keptSessionId) {
    Statement ended = m_context.db().prepare("SELECT id FROM sessions WHERE user_id = ?1 AND id <> ?2");
    ended.bind(1, userId).bindText(2, keptSessionId.toUtf8());
    while (ended.step()) {
        m_currentBySession.remove(ended.string(0));
    }
    Statement remove = m_context.db().prepare("DELETE FROM sessions WHERE user_id = ?1 AND id <> ?2");
    remove.bind(1, userId).bindText(2, keptSessionId.toUtf8());
    remove.run();
}

} // namespace tbserver
