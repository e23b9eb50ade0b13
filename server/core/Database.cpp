#include "core/Database.h"

#include <QFile>

#include <cstdio>
#include <sqlite3.h>
#include <sys/stat.h>

namespace tbserver {

Statement::Statement(Database &db, sqlite3_stmt *statement) : m_db(&db), m_statement(statement) {}

Statement::Statement(Statement &&other) noexcept
    : m_db(other.m_db), m_statement(std::exchange(other.m_statement, nullptr)) {}

Statement::~Statement() {
    if (m_statement) {
        m_db->release(m_statement);
    }
}

Statement &Statement::bind(int index, const QVariant &value) {
    if (value.isNull()) {
        return bindNull(index);
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return bindInt(index, value.toBool() ? 1 : 0);
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return bindInt(index, value.toLongLong());
    case QMetaType::Double: {
        const int rc = sqlite3_bind_double(m_statement, index, value.toDouble());
        if (rc != SQLITE_OK) {
            m_db->fail(rc);
        }
        return *this;
    }
    case QMetaType::QByteArray:
        return bindText(index, value.toByteArray());
    default:
        return bindText(index, value.toString().toUtf8());
    }
}

Statement &Statement::bindText(int index, const QByteArray &utf8) {
    const int rc =
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
        m_db->fail(rc);
    }
    return *this;
}

Statement &Statement::bindNull(int index) {
    const int rc = sqlite3_bind_null(m_statement, index);
    if (rc != SQLITE_OK) {
        m_db->fail(rc);
    }
    return *this;
}

Statement &Statement::bindInt(int index, qint64 value) {
    const int rc = sqlite3_bind_int64(m_statement, index, value);
    if (rc != SQLITE_OK) {
        m_db->fail(rc);
    }
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    m_db->fail(rc);
}

int Statement::run() {
    while (step()) {
    }
    return int(m_db->changes());
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

QByteArray Statement::text(int column) const {
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return data ? QByteArray(data, sqlite3_column_bytes(m_statement, column)) : QByteArray();
}

QString Statement::string(int column) const {
    return QString::fromUtf8(text(column));
}

qint64 Statement::integer(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_statement);
}

Database::Database(const QString &path, Access access) {
    const int flags =
        access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "cannot open database";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DatabaseError(rc, message);
    }
    sqlite3_busy_timeout(m_db, 5000);
    if (access == Access::ReadOnly) {
        exec("PRAGMA query_only=ON");
        return;
    }
    exec("PRAGMA journal_mode=WAL");
    // FULL: a committed write survives a crash or power loss, not only a process kill.
    exec("PRAGMA synchronous=FULL");
    exec("PRAGMA foreign_keys=ON");
}

Database::~Database() {
    for (sqlite3_stmt *statement : std::as_const(m_cache)) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(m_db);
}

void Database::exec(const QByteArray &sql) {
    char *message = nullptr;
    const int rc = sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string text = message ? message : "database error";
        sqlite3_free(message);
        throw DatabaseError(rc, text);
    }
}

Statement Database::prepare(const QByteArray &sql) {
    sqlite3_stmt *statement = m_cache.take(sql);
    if (!statement) {
        const int rc = sqlite3_prepare_v3(m_db, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                          &statement, nullptr);
        if (rc != SQLITE_OK) {
            fail(rc);
        }
    }
    return Statement(*this, statement);
}

void Database::release(sqlite3_stmt *statement) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    const QByteArray sql(sqlite3_sql(statement));
    // Generated SQL (filters vary) would grow the cache without bound; keep a sensible number.
    if (m_cache.size() >= 256 || m_cache.contains(sql)) {
        sqlite3_finalize(statement);
        return;
    }
    m_cache.insert(sql, statement);
}

int Database::userVersion() {
    Statement statement = prepare("PRAGMA user_version");
    statement.step();
    return int(statement.integer(0));
}

void Database::setUserVersion(int version) {
    exec("PRAGMA user_version=" + QByteArray::number(version));
}

qint64 Database::changes() const {
    return sqlite3_changes64(m_db);
}

QString Database::errorMessage() const {
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

void Database::fail(int code) const {
    throw DatabaseError(code, sqlite3_errmsg(m_db));
}

void backupDatabase(const QString &source, const QString &target) {
    if (!QFile::exists(source)) { // opening it would create an empty one
        throw DatabaseError(SQLITE_CANTOPEN, "there is no database in the data folder");
    }
    Database from(source);
    const QByteArray partial = QFile::encodeName(target + QStringLiteral(".partial"));
    std::remove(partial.constData());
    sqlite3 *to = nullptr;
    int rc = sqlite3_open_v2(partial.constData(), &to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK && ::chmod(partial.constData(), S_IRUSR | S_IWUSR) != 0) {
        rc = SQLITE_CANTOPEN;
    }
    if (rc == SQLITE_OK) {
        sqlite3_backup *copy = sqlite3_backup_init(to, "main", from.handle(), "main");
        if (!copy) {
            rc = sqlite3_errcode(to);
        } else {
            // All pages in one step: one read transaction, so a consistent copy however busy the writer is.
            do {
                rc = sqlite3_backup_step(copy, -1);
                if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
                    sqlite3_sleep(20);
                }
            } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
            sqlite3_backup_finish(copy);
        }
    }
    const std::string message = to ? sqlite3_errmsg(to) : "cannot open the backup file";
    sqlite3_close(to);
    if (rc != SQLITE_DONE) {
        std::remove(partial.constData());
        throw DatabaseError(rc, message);
    }
    if (std::rename(partial.constData(), QFile::encodeName(target).constData()) != 0) {
        std::remove(partial.constData());
        throw DatabaseError(SQLITE_CANTOPEN, "cannot move the backup into place");
    }
}

} // namespace tbserver
