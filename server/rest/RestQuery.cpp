#include "rest/RestQuery.h"

#include "rest/RestError.h"

#include <limits>

namespace tbserver::rest {

namespace {

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isName(QByteArrayView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (const char c : text) {
        if (!isNameCharacter(c)) {
            return false;
        }
    }
    return true;
}

QByteArrayView trimSpaces(QByteArrayView text) {
    while (!text.isEmpty() && text.front() == ' ') {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && text.back() == ' ') {
        text.chop(1);
    }
    return text;
}

// A decimal integer as PostgREST reads limit and offset: digits with an optional minus; anything else is no
// number at all. Values past the 64-bit range saturate.
std::optional<qint64> readInteger(QByteArrayView text) {
    const bool negative = text.startsWith('-');
    const QByteArrayView digits = negative ? text.sliced(1) : text;
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        if (value > (std::numeric_limits<qint64>::max() - 9) / 10) {
            value = std::numeric_limits<qint64>::max();
        } else {
            value = value * 10 + (c - '0');
        }
    }
    return negative ? -value : value;
}

[[noreturn]] void rangeFailure(const QString &details) {
    fail(416, "PGRST103", QStringLiteral("Requested range not satisfiable"), details);
}

QList<SelectItem> parseSelect(const RestTable &table, QByteArrayView value) {
    QList<SelectItem> items;
    if (value.isEmpty()) {
        return items; // rows without columns: {}
    }
    if (value.contains('(')) {
        const QByteArrayView before = value.first(value.indexOf('('));
        const qsizetype comma = before.lastIndexOf(',');
        QByteArrayView relation = trimSpaces(comma < 0 ? before : before.sliced(comma + 1));
        if (relation.contains(':')) {
            relation = relation.sliced(relation.indexOf(':') + 1);
        }
        fail(400, "PGRST200",
             QStringLiteral("Could not find a relationship between '%1' and '%2' in the schema cache")
                 .arg(text(table.name), text(relation)),
             QStringLiteral(
                 "Searched for a foreign key relationship between '%1' and '%2' in the schema 'public', "
                 "but no matches were found.")
                 .arg(text(table.name), text(relation)));
    }
    for (QByteArrayView piece : QByteArray(value.data(), value.size()).split(',')) {
        piece = trimSpaces(piece);
        if (piece == "*") {
            for (const RestColumn &column : table.columns) {
                if (column.readable) {
                    items.append({column.name, &column});
                }
            }
            continue;
        }
        if (piece.contains("::") || piece.contains("->")) {
            parseFailure("select parameter", value,
                         QStringLiteral("casts and JSON paths are not supported here"));
        }
        QByteArrayView alias;
        QByteArrayView name = piece;
        const qsizetype colon = piece.indexOf(':');
        if (colon >= 0) {
            alias = piece.first(colon);
            name = piece.sliced(colon + 1);
            if (!isName(alias)) {
                parseFailure("select parameter", value,
                             QStringLiteral("unexpected \":\" expecting field name"));
            }
        }
        if (!isName(name)) {
            parseFailure("select parameter", value,
                         name.isEmpty()
                             ? QStringLiteral("unexpected end of input expecting field name")
                             : QStringLiteral("unexpected \"%1\" expecting field name").arg(text(name)));
        }
        const RestColumn *column = table.column(name);
        if (!column || !column->readable) {
            unknownColumn(table.name, name);
        }
        items.append({alias.isEmpty() ? column->name : alias.toByteArray(), column});
    }
    return items;
}

QList<OrderItem> parseOrder(const RestTable &table, QByteArrayView value) {
    QList<OrderItem> items;
    for (const QByteArray &piece : QByteArray(value.data(), value.size()).split(',')) {
        const QList<QByteArray> parts = trimSpaces(piece).toByteArray().split('.');
        if (parts.size() > 3 || !isName(parts.first())) {
            parseFailure("order", value,
                         QStringLiteral("unexpected \"%1\" expecting field name").arg(text(piece)));
        }
        OrderItem item;
        bool directionSeen = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray &word = parts[i];
            if (!directionSeen && i == 1 && (word == "asc" || word == "desc")) {
                item.descending = word == "desc";
                directionSeen = true;
            } else if (item.nulls == NullsOrder::Default && (word == "nullsfirst" || word == "nullslast")) {
                item.nulls = word == "nullsfirst" ? NullsOrder::First : NullsOrder::Last;
            } else {
                parseFailure(
                    "order", value,
                    QStringLiteral("unexpected \"%1\" expecting \"asc\", \"desc\", \"nullsfirst\" or "
                                   "\"nullslast\"")
                        .arg(text(word)));
            }
        }
        item.column = table.column(parts.first());
        if (!item.column || !item.column->readable) {
            unknownColumn(table.name, parts.first());
        }
        items.append(item);
    }
    return items;
}

QList<const RestColumn *> parseOnConflict(const RestTable &table, QByteArrayView value) {
    QList<const RestColumn *> columns;
    for (const QByteArray &piece : QByteArray(value.data(), value.size()).split(',')) {
        const QByteArrayView name = trimSpaces(piece);
        const RestColumn *column = table.column(name);
        if (!column) {
            unknownColumn(table.name, name);
        }
        columns.append(column);
    }
    if (columns.size() != 1 || !columns.first()->unique) {
        fail(400, "42P10",
             QStringLiteral("there is no unique or exclusion constraint matching the ON CONFLICT columns"));
    }
    return columns;
}

// Items of "in.(a,b,"c,d")": commas separate, double quotes keep commas and parentheses, backslash escapes
// inside quotes.
std::optional<QList<QByteArray>> splitInList(QByteArrayView operand) {
    if (!operand.startsWith('(') || !operand.endsWith(')') || operand.size() < 2) {
        return std::nullopt;
    }
    const QByteArrayView inner = operand.sliced(1, operand.size() - 2);
    QList<QByteArray> items;
    if (inner.isEmpty()) {
        return items;
    }
    QByteArray current;
    bool quoted = false;
    bool wasQuoted = false;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (quoted) {
            if (c == '\\' && i + 1 < inner.size()) {
                current += inner[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '"' && current.isEmpty() && !wasQuoted) {
            quoted = true;
            wasQuoted = true;
        } else if (c == ',') {
            items.append(current);
            current.clear();
            wasQuoted = false;
        } else if (wasQuoted) {
            return std::nullopt; // text after a closing quote
        } else {
            current += c;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    items.append(current);
    return items;
}

[[noreturn]] void noOperator(const RestColumn &column, const char *symbol) {
    // The hosted service answers an undefined operator or function with 404.
    fail(404, "42883",
         QStringLiteral("operator does not exist: %1 %2 unknown").arg(text(column.typeName()), text(symbol)),
         {},
         QStringLiteral(
             "No operator matches the given name and argument types. You might need to add explicit "
             "type casts."));
}

Filter parseFilter(const RestTable &table, const RestColumn &column, QByteArrayView value) {
    Filter filter;
    filter.column = &column;
    QByteArrayView rest = value;
    if (rest.startsWith("not.")) {
        filter.negated = true;
        rest = rest.sliced(4);
    }
    const qsizetype dot = rest.indexOf('.');
    if (dot <= 0) {
        parseFailure("filter", value,
                     QStringLiteral("unexpected \"%1\" expecting operator (eq, gt, ...)")
                         .arg(text(rest.isEmpty() ? QByteArrayView("end of input") : rest.first(1))));
    }
    const QByteArrayView op = rest.first(dot);
    const QByteArrayView operand = rest.sliced(dot + 1);
    static const std::pair<const char *, FilterOp> operators[] = {
        {"eq", FilterOp::Eq}, {"neq", FilterOp::Neq}, {"gt", FilterOp::Gt},     {"gte", FilterOp::Gte},
        {"lt", FilterOp::Lt}, {"lte", FilterOp::Lte}, {"like", FilterOp::Like}, {"ilike", FilterOp::ILike},
        {"is", FilterOp::Is}, {"in", FilterOp::In},
    };
    bool known = false;
    for (const auto &[name, kind] : operators) {
        if (op == name) {
            filter.op = kind;
            known = true;
        }
    }
    if (!known) {
        parseFailure("filter", value,
                     QStringLiteral(
                         "unexpected \"%1\" expecting operator (eq, neq, gt, gte, lt, lte, like, ilike, is, "
                         "in)")
                         .arg(text(op)));
    }
    switch (filter.op) {
    case FilterOp::Is: {
        const QByteArray word = operand.toByteArray().toLower();
        if (word == "null") {
            filter.is = IsValue::Null;
        } else if (word == "not_null") {
            filter.is = IsValue::NotNull;
        } else if (word == "true" || word == "false" || word == "unknown") {
            if (column.type != ColumnType::Boolean) {
                fail(400, "42804",
                     QStringLiteral("argument of IS %1 must be type boolean, not type %2")
                         .arg(QString::fromLatin1(word.toUpper()), text(column.typeName())));
            }
            filter.is = word == "true" ? IsValue::True : word == "false" ? IsValue::False : IsValue::Null;
        } else {
            parseFailure("filter", value,
                         QStringLiteral("unexpected \"%1\" expecting null, not_null, true, false or unknown")
                             .arg(text(operand)));
        }
        break;
    }
    case FilterOp::In: {
        const std::optional<QList<QByteArray>> items = splitInList(operand);
        if (!items) {
            parseFailure("filter", value, QStringLiteral("expecting a list of values in parentheses"));
        }
        if (column.type == ColumnType::Json) {
            noOperator(column, "=");
        }
        for (const QByteArray &item : *items) {
            filter.values.append(castFilterValue(table, column, item));
        }
        break;
    }
    case FilterOp::Like:
    case FilterOp::ILike: {
        const bool insensitive = filter.op == FilterOp::ILike;
        if (column.type != ColumnType::Text) {
            noOperator(column, insensitive ? "~~*" : "~~");
        }
        if (!pg::isCleanUtf8(operand)) {
            fail(400, "22021", QStringLiteral("invalid byte sequence for encoding \"UTF8\""));
        }
        filter.patternText = operand.toByteArray().replace('*', '%');
        std::optional<pg::LikePattern> pattern = pg::LikePattern::compile(filter.patternText, insensitive);
        if (!pattern) {
            fail(400, "22025", QStringLiteral("LIKE pattern must not end with escape character"));
        }
        filter.pattern = std::make_shared<const pg::LikePattern>(std::move(*pattern));
        break;
    }
    default:
        if (column.type == ColumnType::Json) {
            noOperator(column, filter.op == FilterOp::Eq    ? "="
                               : filter.op == FilterOp::Neq ? "<>"
                               : filter.op == FilterOp::Gt  ? ">"
                               : filter.op == FilterOp::Gte ? ">="
                               : filter.op == FilterOp::Lt  ? "<"
                                                            : "<=");
        }
        filter.value = castFilterValue(table, column, operand);
        break;
    }
    return filter;
}

} // namespace

QList<QueryPair> decodeQuery(QByteArrayView rawQuery) {
    QList<QueryPair> pairs;
    for (QByteArray piece : QByteArray(rawQuery.data(), rawQuery.size()).split('&')) {
        if (piece.isEmpty()) {
            continue;
        }
        piece.replace('+', ' ');
        const qsizetype equals = piece.indexOf('=');
        QueryPair pair;
        pair.key = QByteArray::fromPercentEncoding(equals < 0 ? piece : piece.left(equals));
        pair.value = equals < 0 ? QByteArray() : QByteArray::fromPercentEncoding(piece.mid(equals + 1));
        pairs.append(pair);
    }
    return pairs;
}

QVariant castFilterValue(const RestTable &table, const RestColumn &column, QByteArrayView value) {
    Q_UNUSED(table);
    if (!pg::isCleanUtf8(value)) {
        fail(400, "22021", QStringLiteral("invalid byte sequence for encoding \"UTF8\""));
    }
    switch (column.type) {
    case ColumnType::Uuid: {
        const std::optional<QByteArray> canonical = pg::uuid(value);
        if (!canonical) {
            fail(400, "22P02", QStringLiteral("invalid input syntax for type uuid: \"%1\"").arg(text(value)));
        }
        return *canonical;
    }
    case ColumnType::Timestamp: {
        const pg::Timestamp stamp = pg::timestamp(value);
        if (stamp.problem == pg::TimestampProblem::Syntax) {
            fail(400, "22007",
                 QStringLiteral("invalid input syntax for type timestamp with time zone: \"%1\"")
                     .arg(text(value)));
        }
        if (stamp.problem == pg::TimestampProblem::OutOfRange) {
            fail(400, "22008", QStringLiteral("date/time field value out of range: \"%1\"").arg(text(value)));
        }
        return stamp.text;
    }
    case ColumnType::Boolean: {
        const std::optional<bool> flag = pg::boolean(value);
        if (!flag) {
            fail(400, "22P02",
                 QStringLiteral("invalid input syntax for type boolean: \"%1\"").arg(text(value)));
        }
        return qint64(*flag ? 1 : 0);
    }
    case ColumnType::Json:
    case ColumnType::Text:
        break;
    }
    return value.toByteArray();
}

RestQuery parseRestQuery(const RestTable &table, QByteArrayView rawQuery) {
    RestQuery query;
    std::optional<QByteArray> select;
    for (const QueryPair &pair : decodeQuery(rawQuery)) {
        if (!pg::isCleanUtf8(pair.key)) {
            fail(400, "22021", QStringLiteral("invalid byte sequence for encoding \"UTF8\""));
        }
        if (pair.key == "select") {
            select = pair.value;
        } else if (pair.key == "order") {
            query.order = parseOrder(table, pair.value);
        } else if (pair.key == "limit") {
            if (const std::optional<qint64> limit = readInteger(pair.value)) {
                if (*limit < 0) {
                    rangeFailure(QStringLiteral("Limit should be greater than or equal to zero."));
                }
                query.limit = limit;
            }
        } else if (pair.key == "offset") {
            if (const std::optional<qint64> offset = readInteger(pair.value)) {
                if (*offset < 0) {
                    rangeFailure(QStringLiteral("Offset should be greater than or equal to zero."));
                }
                query.offset = *offset;
            }
        } else if (pair.key == "on_conflict") {
            query.onConflict = parseOnConflict(table, pair.value);
        } else if (pair.key == "columns") {
            // Only meaningful with bodies whose keys differ; every body here is checked key by key instead.
        } else if (pair.key == "or" || pair.key == "and" || pair.key == "not.or" || pair.key == "not.and") {
            parseFailure("logic tree", pair.value,
                         QStringLiteral("logic trees are not supported by this server"));
        } else {
            const RestColumn *column = table.column(pair.key);
            if (!column) {
                unknownColumn(table.name, pair.key);
            }
            query.filters.append(parseFilter(table, *column, pair.value));
        }
    }
    query.select = parseSelect(table, select.value_or(QByteArrayLiteral("*")));
    return query;
}

} // namespace tbserver::rest
