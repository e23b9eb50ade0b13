#include "core/ServerContext.h"

#include <QTimeZone>

#include <sqlite3.h>

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

namespace {

thread_local Database *threadReader = nullptr;

// Called inside the writer's commit: the sequence turns odd until the commit is over.
int beginCommit(void *sequence) {
    auto &counter = *static_cast<std::atomic<quint64> *>(sequence);
    quint64 value = counter.load(std::memory_order_relaxed);
    if (value % 2 == 0) {
        counter.store(value + 1, std::memory_order_release);
    }
    return 0; // go on committing
}

void endWrite(void *sequence) {
    auto &counter = *static_cast<std::atomic<quint64> *>(sequence);
    quint64 value = counter.load(std::memory_order_relaxed);
    counter.store(value + (value % 2 == 0 ? 2 : 1), std::memory_order_release);
}

int endCommit(void *sequence, sqlite3 *db, const char *name, int walPages) {
    endWrite(sequence);
    // A WAL hook of our own replaces SQLite's automatic checkpoint: keep doing what it did.
    if (walPages >= 1000) {
        sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    }
    return SQLITE_OK;
}

} // namespace

Database &ServerContext::readDb() const {
    return threadReader ? *threadReader : m_db;
}

ServerContext::ThreadReader::ThreadReader(Database &reader) : m_previous(threadReader) {
    threadReader = &reader;
}

ServerContext::ThreadReader::~ThreadReader() {
    threadReader = m_previous;
}

void ServerContext::watchWrites() {
    sqlite3_commit_hook(m_db.handle(), beginCommit, &m_changeSequence);
    // In WAL mode this runs once the commit is in the log, visible to readers.
    sqlite3_wal_hook(m_db.handle(), endCommit, &m_changeSequence);
    sqlite3_rollback_hook(m_db.handle(), endWrite, &m_changeSequence);
}

} // namespace tbserver
