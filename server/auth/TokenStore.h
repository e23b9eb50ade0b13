#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

namespace tbserver {

class ServerContext;

// Sessions and their refresh tokens. A refresh token is random, stored only as its SHA-256 hash, and rotated
// on every use; a revoked token is still honoured for a short reuse interval, or when it is the parent of the
// session's current token (which is then handed out again). Any other reuse ends the whole token family.
class TokenStore final {
public:
    explicit TokenStore(ServerContext &context);
    Q_DISABLE_COPY_MOVE(TokenStore)

    static constexpr qint64 reuseInterval = 10;

    struct Issued {
        QString userId;
        QString sessionId;
        QByteArray refreshToken; // in clear, for the answer only
        qint64 sessionStartedAt = 0;
    };
    enum class Problem { None, NotFound, AlreadyUsed };
    struct Refreshed {
        Problem problem = Problem::None;
        Issued issued;
    };

    Issued startSession(const QString &userId);
    // Runs in its own transaction; a family revocation is committed even though the answer is a refusal.
    Refreshed refresh(const QByteArray &refreshToken);

    [[nodiscard]] bool sessionExists(const QString &sessionId, const QString &userId) const;
    void endSession(const QString &sessionId);
    void endAllSessions(const QString &userId);
    void endOtherSessions(const QString &userId, const QString &keptSessionId);

private:
    QByteArray insertToken(const QString &userId, const QString &sessionId, const QByteArray &parentHash);
    [[nodiscard]] qint64 sessionStartedAt(const QString &sessionId) const;

    ServerContext &m_context;
    // The current token of each session in clear, so that a client that lost the answer to a refresh and
    // presents the parent again receives the same current token. Kept in memory only: the table holds hashes.
    QHash<QString, QByteArray> m_currentBySession;
};

} // namespace tbserver
