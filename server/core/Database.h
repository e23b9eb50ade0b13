#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

namespace tbserver {

class DatabaseError final : public std::runtime_error {
public:
    DatabaseError(int code, const std::string &message) : std::runtime_error(message), m_code(code) {}
    [[nodiscard]] int code() const { return m_code; }

private:
    int m_code;
};

class Database;

// A prepared statement, reset and cleared each time it is handed out. Parameters are always bound, never
// spliced into the text.
class Statement final {
public:
    Statement(Database &db, sqlite3_stmt *statement);
    ~Statement();
    Q_DISABLE_COPY(Statement)
    Statement(Statement &&other) noexcept;

    // 1-based, as SQLite numbers them. A null QVariant binds NULL; bool binds 0/1; integers bind as integers;
    // QByteArray binds text (UTF-8), QString binds text.
    Statement &bind(int index, const QVariant &value);
    Statement &bindText(int index, const QByteArray &utf8);
    Statement &bindNull(int index);
    Statement &bindInt(int index, qint64 value);

    // True while a row is available.
    bool step();
    // Runs to the end; returns the number of rows changed.
    int run();

    [[nodiscard]] bool isNull(int column) const;
    [[nodiscard]] QByteArray text(int column) const; // UTF-8
    [[nodiscard]] QString string(int column) const;
    [[nodiscard]] qint64 integer(int column) const;
    [[nodiscard]] int columnCount() const;

private:
    Database *m_db;
    sqlite3_stmt *m_statement;
};

// One SQLite connection in WAL mode with a statement cache and versioned migrations.
class Database final {
public:
    enum class Access { ReadWrite, ReadOnly };
    // Opens (creating) the file; ":memory:" for tests. A read-only connection reads the WAL file the writer
    // keeps and never writes.
    explicit Database(const QString &path, Access access = Access::ReadWrite);
    ~Database();
    Q_DISABLE_COPY_MOVE(Database)

    void exec(const QByteArray &sql);
    // A cached statement for this SQL text.
    Statement prepare(const QByteArray &sql);

    [[nodiscard]] int userVersion();
    void setUserVersion(int version);

    [[nodiscard]] qint64 changes() const;
    [[nodiscard]] sqlite3 *handle() const { return m_db; }
    [[nodiscard]] QString errorMessage() const;

    // Runs `work` inside BEGIN IMMEDIATE ... COMMIT, rolling back if it throws.
    template<class Work>
    auto transaction(Work &&work) {
        exec("BEGIN IMMEDIATE");
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                exec("COMMIT");
            } else {
                auto result = work();
                exec("COMMIT");
                return result;
            }
        } catch (...) {
            exec("ROLLBACK");
            throw;
        }
    }

private:
    friend class Statement;
    void release(sqlite3_stmt *statement);
    [[noreturn]] void fail(int code) const;

    sqlite3 *m_db = nullptr;
    QHash<QByteArray, sqlite3_stmt *> m_cache;
};

// Copies the database at `source` into `target` while other connections go on writing: one read transaction
// copies every page, so the copy is the state of one moment. Written beside `target` first and renamed over
// it, readable by the owner only. Throws DatabaseError.
void backupDatabase(const QString &source, const QString &target);

} // namespace tbserver
