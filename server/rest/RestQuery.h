#pragma once

#include "rest/PgTypes.h"
#include "rest/RestTables.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <memory>
#include <optional>

namespace tbserver::rest {

// One name=value pair of a query string, decoded once ("+" is a space, then percent-decoding).
struct QueryPair {
    QByteArray key;
    QByteArray value;
};
[[nodiscard]] QList<QueryPair> decodeQuery(QByteArrayView rawQuery);

enum class FilterOp { Eq, Neq, Gt, Gte, Lt, Lte, Like, ILike, Is, In };
enum class IsValue { Null, NotNull, True, False };

struct Filter {
    const RestColumn *column = nullptr;
    bool negated = false;
    FilterOp op = FilterOp::Eq;
    QVariant value;             // comparison operators: the value cast to the column's type
    QList<QVariant> values;     // in
    IsValue is = IsValue::Null; // is
    std::shared_ptr<const pg::LikePattern> pattern; // like / ilike
    QByteArray patternText;                         // like / ilike: as sent, "*" already turned into "%"
};

struct SelectItem {
    QByteArray key; // the JSON key: the column name or its alias
    const RestColumn *column = nullptr;
};

enum class NullsOrder { Default, First, Last };
struct OrderItem {
    const RestColumn *column = nullptr;
    bool descending = false;
    NullsOrder nulls = NullsOrder::Default;
};

// What a request's query string asks of one table.
struct RestQuery {
    QList<SelectItem> select; // already expanded: "*" becomes every readable column
    QList<Filter> filters;
    QList<OrderItem> order;
    std::optional<qint64> limit;
    qint64 offset = 0;
    QList<const RestColumn *> onConflict;
};

// Parses and checks everything against the table: unknown columns are 42703, bad syntax PGRST100, values of
// the wrong type 22P02/22007, a negative limit 416 PGRST103. Throws HttpFailure.
[[nodiscard]] RestQuery parseRestQuery(const RestTable &table, QByteArrayView rawQuery);

// A value of `column`'s type from filter text (not JSON). Throws the hosted database's cast error.
[[nodiscard]] QVariant castFilterValue(const RestTable &table, const RestColumn &column, QByteArrayView text);

} // namespace tbserver::rest
