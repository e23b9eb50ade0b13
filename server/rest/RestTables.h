#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace tbserver {

// The REST service's view of the account tables: which columns exist, their types as the hosted database
// declares them, and what a client may do with each. Every SQL identifier the service writes comes from here,
// never from a request.
enum class ColumnType { Uuid, Text, Timestamp, Boolean, Json };

enum class ColumnDefault {
    None,       // NOT NULL columns without a default must be given on insert
    NewUuid,    // a random v4 uuid
    Now,        // the current time
    NewToken,   // a random URL-safe token
    Literal,    // `literal` (SQL-ready text: JSON text, 0/1, or text)
    OwnerId,    // the caller's user id (hosted: default auth.uid())
    SearchText, // computed by the server from other columns
};

// JSON columns whose shape a check constraint fixes.
enum class JsonShape { Any, Array, Object };

struct RestColumn {
    QByteArray name;
    ColumnType type = ColumnType::Text;
    bool nullable = true;
    ColumnDefault defaultKind = ColumnDefault::None;
    QByteArray literal;           // for ColumnDefault::Literal
    bool readable = true;         // in select lists and "*"
    bool writable = true;         // in POST/PATCH bodies
    bool touchedOnWrite = false;  // set to the current time by every insert and update
    bool storedLowerCase = false; // the server keeps it lower-case (ILIKE need not lower it)
    JsonShape shape = JsonShape::Any;
    bool unique = false; // primary key or unique constraint (usable in on_conflict)
    bool primaryKey = false;

    // The quoted identifier, e.g. "visitors"."signed_in_at".
    [[nodiscard]] QByteArray qualified(const QByteArray &table) const;
    // PostgreSQL's name for the type, for error messages.
    [[nodiscard]] QByteArray typeName() const;
};

struct RestTable {
    QByteArray name;
    QList<RestColumn> columns;
    // Columns whose change recomputes the search text (visitors only).
    QList<QByteArray> searchSources;
    bool hasSearchIndex = false;
    // A partial index over the rows where `column` IS NULL (the visitors on site). Without statistics SQLite
    // may prefer the wider log index and walk the whole account, so a query that filters on it names it.
    struct NullRowsIndex {
        QByteArray column;
        QByteArray index;
    };
    std::optional<NullRowsIndex> nullRowsIndex;

    [[nodiscard]] const RestColumn *column(QByteArrayView name) const;
    [[nodiscard]] const RestColumn *primaryKey() const;
    [[nodiscard]] QByteArray quoted() const { return '"' + name + '"'; }
};

// Null for an unknown table.
[[nodiscard]] const RestTable *findRestTable(QByteArrayView name);
[[nodiscard]] const QList<RestTable> &restTables();

} // namespace tbserver
