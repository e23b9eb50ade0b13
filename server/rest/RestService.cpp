#include "rest/RestService.h"

#include "core/Crypto.h"
#include "rest/PgTypes.h"
#include "rest/RestError.h"
#include "rest/SearchText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <sqlite3.h>
#include <tuple>

namespace tbserver {

using namespace rest;

namespace {

const QByteArray contentRangeHeader = QByteArrayLiteral("Content-Range");

enum class ReturnPreference { Minimal, Representation };
enum class Resolution { None, MergeDuplicates, IgnoreDuplicates };

} // namespace

struct RestService::Preferences {
    ReturnPreference returning = ReturnPreference::Minimal;
    bool countExact = false;
    Resolution resolution = Resolution::None;
    QList<QByteArray> applied;

    [[nodiscard]] static Preferences read(const HttpRequest &request) {
        Preferences preferences;
        for (const auto &[name, value] : request.headers) {
            if (name.compare("Prefer", Qt::CaseInsensitive) != 0) {
                continue;
            }
            for (const QByteArray &raw : value.split(',')) {
                const QByteArray token = raw.trimmed();
                if (token == "return=representation") {
                    preferences.returning = ReturnPreference::Representation;
                    preferences.applied.append(token);
                } else if (token == "return=minimal" || token == "return=headers-only") {
                    preferences.returning = ReturnPreference::Minimal;
                    preferences.applied.append(token);
                } else if (token == "count=exact" || token == "count=planned" || token == "count=estimated") {
                    preferences.countExact = true;
                    preferences.applied.append(token);
                } else if (token == "resolution=merge-duplicates") {
                    preferences.resolution = Resolution::MergeDuplicates;
                    preferences.applied.append(token);
                } else if (token == "resolution=ignore-duplicates") {
                    preferences.resolution = Resolution::IgnoreDuplicates;
                    preferences.applied.append(token);
                }
            }
        }
        return preferences;
    }

    void apply(HttpResponse &response) const {
        if (!applied.isEmpty()) {
            response.setHeader(QByteArrayLiteral("Preference-Applied"), applied.join(", "));
        }
    }
};

namespace {

// ---- SQL text
// -------------------------------------------------------------------------------------------------
// Identifiers come only from RestTables; every value is a bound parameter, listed in the order its "?"
// appears.

struct Sql {
    QByteArray text;
    QList<QVariant> binds;

    Sql &operator<<(const QByteArray &part) {
        text += part;
        return *this;
    }
    void append(const Sql &other) {
        text += other.text;
        binds += other.binds;
    }
};

// A JSON value of one column as the hosted service writes it: booleans as true/false, JSON embedded.
QByteArray jsonValueSql(const RestTable &table, const RestColumn &column) {
    const QByteArray name = column.qualified(table.name);
    switch (column.type) {
    case ColumnType::Boolean:
        return "CASE WHEN " + name + " IS NULL THEN NULL WHEN " + name +
               " THEN json('true') ELSE json('false') END";
    case ColumnType::Json:
        return "json(" + name + ')';
    default:
        return name;
    }
}

// json_object(?, col, ...) with the keys bound (aliases come from the request).
Sql jsonObjectSql(const RestTable &table, const QList<SelectItem> &select) {
    Sql sql;
    sql << "json_object(";
    for (qsizetype i = 0; i < select.size(); ++i) {
        if (i > 0) {
            sql << ", ";
        }
        sql << "?, " << jsonValueSql(table, *select[i].column);
        sql.binds.append(select[i].key);
    }
    sql << ")";
    return sql;
}

QByteArray comparison(FilterOp op) {
    switch (op) {
    case FilterOp::Eq:
        return QByteArrayLiteral(" = ?");
    case FilterOp::Neq:
        return QByteArrayLiteral(" <> ?");
    case FilterOp::Gt:
        return QByteArrayLiteral(" > ?");
    case FilterOp::Gte:
        return QByteArrayLiteral(" >= ?");
    case FilterOp::Lt:
        return QByteArrayLiteral(" < ?");
    case FilterOp::Lte:
        return QByteArrayLiteral(" <= ?");
    default:
        return {};
    }
}

// " WHERE <owner scope> AND <lead> AND <filters>". The anonymous role sees no row. SQLite bounds an index
// walk by the first usable term on a column, so a term that should bound it goes in `lead`.
Sql whereSql(const RestTable &table, const RestService::Caller &caller, const QList<Filter> &filters,
             const Sql &lead = {}) {
    Sql sql;
    if (caller.anonymous) {
        sql << " WHERE 0";
    } else {
        sql << " WHERE " << table.column("owner_id")->qualified(table.name) << " = ?";
        sql.binds.append(caller.userId);
    }
    if (!lead.text.isEmpty()) {
        sql << " AND " << lead.text;
        sql.binds += lead.binds;
    }
    for (const Filter &filter : filters) {
        const QByteArray name = filter.column->qualified(table.name);
        QByteArray term;
        switch (filter.op) {
        case FilterOp::Like:
        case FilterOp::ILike:
            term = "tb_like(" + name + ", ?, " +
                   (filter.op == FilterOp::Like      ? "0"
                    : filter.column->storedLowerCase ? "2"
                                                     : "1") +
                   ')';
            sql.binds.append(filter.patternText);
            break;
        case FilterOp::Is:
            term = name + (filter.is == IsValue::Null      ? " IS NULL"
                           : filter.is == IsValue::NotNull ? " IS NOT NULL"
                           : filter.is == IsValue::True    ? " IS TRUE"
                                                           : " IS FALSE");
            break;
        case FilterOp::In:
            if (filter.values.isEmpty()) {
                term = "0";
                break;
            }
            term = name + " IN (";
            for (qsizetype i = 0; i < filter.values.size(); ++i) {
                term += i == 0 ? "?" : ", ?";
                sql.binds.append(filter.values[i]);
            }
            term += ')';
            break;
        default:
            term = name + comparison(filter.op);
            sql.binds.append(filter.value);
            break;
        }
        sql << " AND " << (filter.negated ? "NOT (" + term + ')' : term);
    }
    return sql;
}

// PostgreSQL puts NULLs last going up and first going down; SQLite the other way round, so nullable columns
// say it.
QByteArray orderSql(const RestTable &table, const QList<OrderItem> &order) {
    if (order.isEmpty()) {
        return {};
    }
    QByteArray sql = " ORDER BY ";
    for (qsizetype i = 0; i < order.size(); ++i) {
        const OrderItem &item = order[i];
        if (i > 0) {
            sql += ", ";
        }
        sql += item.column->qualified(table.name) + (item.descending ? " DESC" : " ASC");
        if (item.column->nullable) {
            const bool nullsFirst =
                item.nulls == NullsOrder::Default ? item.descending : item.nulls == NullsOrder::First;
            sql += nullsFirst ? " NULLS FIRST" : " NULLS LAST";
        }
    }
    return sql;
}

Sql limitSql(const RestQuery &query) {
    Sql sql;
    sql << " LIMIT ? OFFSET ?";
    sql.binds.append(query.limit.value_or(-1));
    sql.binds.append(query.offset);
    return sql;
}

// An order that picks each row's place exactly and that a row-value comparison can continue from: one
// direction, no nulls, text-like columns, the last one unique.
bool continuable(const QList<OrderItem> &order) {
    if (order.isEmpty() || !order.last().column->unique) {
        return false;
    }
    return std::all_of(order.begin(), order.end(), [&](const OrderItem &item) {
        const ColumnType type = item.column->type;
        return item.descending == order.first().descending && !item.column->nullable &&
               (type == ColumnType::Uuid || type == ColumnType::Text || type == ColumnType::Timestamp);
    });
}

// What makes two requests the same walk through the same rows, pages apart.
QByteArray walkKey(const RestTable &table, const RestService::Caller &caller, const Sql &where,
                   const QByteArray &order, qint64 limit) {
    QByteArray key = table.name + '\0' + caller.userId + '\0' + where.text + '\0' + order + '\0' +
                     QByteArray::number(limit);
    for (const QVariant &bind : where.binds) {
        const QByteArray value = bind.toByteArray();
        key +=
            '\0' + QByteArray::number(bind.typeId()) + ':' + QByteArray::number(value.size()) + ':' + value;
    }
    return key;
}

Statement prepared(Database &db, const Sql &sql) {
    Statement statement = db.prepare(sql.text);
    for (qsizetype i = 0; i < sql.binds.size(); ++i) {
        statement.bind(int(i + 1), sql.binds[i]);
    }
    return statement;
}

// ---- errors the database raises
// -------------------------------------------------------------------------------

// Runs a write and turns constraint failures into the hosted service's answers. Must be called before
// anything else touches the connection, so the extended error code is still this statement's.
int runWrite(Database &db, Statement &statement, const RestTable &table, QList<qint64> *rowids = nullptr) {
    try {
        while (statement.step()) {
            if (rowids) {
                rowids->append(statement.integer(0));
            }
        }
        return int(db.changes());
    } catch (const DatabaseError &error) {
        const int code = sqlite3_extended_errcode(db.handle());
        const QString message = QString::fromUtf8(error.what());
        const QString tableName = QString::fromLatin1(table.name);
        if (code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY) {
            const QString columnName = message.section(u'.', -1).trimmed();
            const RestColumn *column = table.column(columnName.toUtf8());
            const QString constraint = column && column->primaryKey
                                           ? QString(tableName + QStringLiteral("_pkey"))
                                           : QString(tableName + u'_' + columnName + QStringLiteral("_key"));
            fail(409, "23505",
                 QStringLiteral("duplicate key value violates unique constraint \"%1\"").arg(constraint));
        }
        if (code == SQLITE_CONSTRAINT_FOREIGNKEY) {
            fail(409, "23503",
                 QStringLiteral(
                     "insert or update on table \"%1\" violates foreign key constraint \"%1_owner_id_fkey\"")
                     .arg(tableName),
                 QStringLiteral("Key is not present in table \"users\"."));
        }
        if (code == SQLITE_CONSTRAINT_NOTNULL) {
            const QString columnName = message.section(u'.', -1).trimmed();
            fail(400, "23502",
                 QStringLiteral("null value in column \"%1\" of relation \"%2\" violates not-null constraint")
                     .arg(columnName, tableName));
        }
        throw;
    }
}

// ---- request bodies
// -------------------------------------------------------------------------------------------

QString jsonTypeName(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Bool:
        return QStringLiteral("boolean");
    case QJsonValue::Double:
        return QStringLiteral("number");
    case QJsonValue::String:
        return QStringLiteral("string");
    case QJsonValue::Array:
        return QStringLiteral("array");
    case QJsonValue::Object:
        return QStringLiteral("object");
    default:
        return QStringLiteral("null");
    }
}

bool containsNul(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString().contains(QChar(0));
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(),
                           [](const QJsonValue &item) { return containsNul(item); });
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key().contains(QChar(0)) || containsNul(it.value())) {
                return true;
            }
        }
        return false;
    }
    default:
        return false;
    }
}

[[noreturn]] void wrongType(const RestColumn &column, const QJsonValue &value) {
    fail(400, "42804",
         QStringLiteral("column \"%1\" is of type %2 but expression is of type %3")
             .arg(text(column.name), text(column.typeName()), jsonTypeName(value)),
         {}, QStringLiteral("You will need to rewrite or cast the expression."));
}

// A body value for `column`, cast as the hosted database would (errors as it would raise them).
QVariant columnValue(const RestTable &table, const RestColumn &column, const QJsonValue &value) {
    if (value.isNull() || value.isUndefined()) {
        return {};
    }
    if (containsNul(value)) {
        fail(400, "22P05", QStringLiteral("unsupported Unicode escape sequence"),
             QStringLiteral("\\u0000 cannot be converted to text."));
    }
    switch (column.type) {
    case ColumnType::Json: {
        const bool shapeOk = column.shape == JsonShape::Array    ? value.isArray()
                             : column.shape == JsonShape::Object ? value.isObject()
                                                                 : value.isArray() || value.isObject();
        if (!shapeOk) {
            fail(400, "23514",
                 QStringLiteral("new row for relation \"%1\" violates check constraint \"%1_%2_check\"")
                     .arg(text(table.name), text(column.name)));
        }
        return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                               : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    }
    case ColumnType::Boolean:
        if (value.isBool()) {
            return qint64(value.toBool() ? 1 : 0);
        }
        if (value.isString()) {
            return castFilterValue(table, column, value.toString().toUtf8());
        }
        wrongType(column, value);
    case ColumnType::Uuid:
    case ColumnType::Timestamp:
    case ColumnType::Text:
        if (!value.isString()) {
            wrongType(column, value);
        }
        return castFilterValue(table, column, value.toString().toUtf8());
    }
    return {};
}

QJsonDocument parseBody(const QByteArray &body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (body.trimmed().isEmpty() || error.error != QJsonParseError::NoError) {
        fail(400, "PGRST102", QStringLiteral("Empty or invalid json"));
    }
    return document;
}

void checkKeys(const RestTable &table, const QJsonObject &object) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const RestColumn *column = table.column(it.key().toUtf8());
        if (!column || !column->writable) {
            fail(400, "PGRST204",
                 QStringLiteral("Could not find the '%1' column of '%2' in the schema cache")
                     .arg(it.key(), text(table.name)));
        }
    }
}

[[noreturn]] void rowSecurityViolation(const RestTable &table) {
    fail(403, "42501",
         QStringLiteral("new row violates row-level security policy for table \"%1\"").arg(text(table.name)));
}

void checkNotNull(const RestTable &table, const RestColumn &column, const QVariant &value) {
    if (!column.nullable && value.isNull()) {
        fail(400, "23502",
             QStringLiteral("null value in column \"%1\" of relation \"%2\" violates not-null constraint")
                 .arg(text(column.name), text(table.name)));
    }
}

[[noreturn]] void anonymousWrite(const QString &what) {
    HttpResponse response = errorResponse(401, "42501", QStringLiteral("permission denied for %1").arg(what));
    response.setHeader(QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Bearer"));
    throw HttpFailure{response};
}

QByteArray rowidArray(const QList<qint64> &rowids) {
    QByteArray json = "[";
    for (qsizetype i = 0; i < rowids.size(); ++i) {
        if (i > 0) {
            json += ',';
        }
        json += QByteArray::number(rowids[i]);
    }
    return json + ']';
}

const QByteArray objectMediaType = QByteArrayLiteral("application/vnd.pgrst.object+json");

// `Accept: application/vnd.pgrst.object+json` asks for the one resulting row itself instead of an array.
bool asksForObject(const HttpRequest &request) {
    for (const QByteArray &range : request.header("Accept").split(',')) {
        if (range.split(';').first().trimmed().compare(objectMediaType, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// Any other number of rows is refused; thrown inside a write's transaction, it undoes the write, as the
// hosted service does.
void requireOneRow(qint64 count) {
    if (count != 1) {
        fail(406, "PGRST116", QStringLiteral("JSON object requested, multiple (or no) rows returned"),
             QStringLiteral("The result contains %1 rows").arg(count));
    }
}

// `rows` is a compact JSON array; for a single object it has been checked to hold exactly one row.
HttpResponse rowsResponse(int status, const QByteArray &rows, bool singleObject) {
    if (!singleObject) {
        return HttpResponse::jsonText(status, rows);
    }
    HttpResponse response = HttpResponse::jsonText(status, rows.sliced(1, rows.size() - 2));
    response.setHeader(QByteArrayLiteral("Content-Type"), objectMediaType + "; charset=utf-8");
    return response;
}

// "0-14/*", "*/*", "0-0/57", "*/0" as the hosted service writes them.
QByteArray contentRange(qint64 first, qint64 count, std::optional<qint64> total) {
    const qint64 last = first + count - 1;
    const bool totalNotZero = !total || *total != 0;
    const QByteArray range = totalNotZero && first <= last
                                 ? QByteArray::number(first) + '-' + QByteArray::number(last)
                                 : QByteArrayLiteral("*");
    return range + '/' + (total ? QByteArray::number(*total) : QByteArrayLiteral("*"));
}

// The table in a FROM clause, naming the partial index of on-site rows when the filters select just those
// rows (and no unique column pins the row down more cheaply).
QByteArray tableSource(const RestTable &table, const RestService::Caller &caller,
                       const QList<Filter> &filters) {
    if (caller.anonymous || !table.nullRowsIndex) {
        return table.quoted();
    }
    bool nullRows = false;
    for (const Filter &filter : filters) {
        if (filter.negated) {
            continue;
        }
        if (filter.op == FilterOp::Eq && filter.column->unique) {
            return table.quoted();
        }
        nullRows = nullRows || (filter.op == FilterOp::Is && filter.is == IsValue::Null &&
                                filter.column->name == table.nullRowsIndex->column);
    }
    return nullRows ? table.quoted() + " INDEXED BY \"" + table.nullRowsIndex->index + '"' : table.quoted();
}

// The phrase query for the search index: every literal run of 3+ characters must appear.
QByteArray searchIndexQuery(const RestTable &table, const QList<Filter> &filters) {
    if (!table.hasSearchIndex) {
        return {};
    }
    QByteArray match;
    for (const Filter &filter : filters) {
        if (filter.negated || filter.column->name != "search_text" ||
            (filter.op != FilterOp::Like && filter.op != FilterOp::ILike)) {
            continue;
        }
        for (const QByteArray &run : filter.pattern->literalRuns(3)) {
            match += (match.isEmpty() ? "\"" : " \"") + QByteArray(run).replace('"', "\"\"") + '"';
        }
    }
    return match;
}

} // namespace

RestService::RestService(ServerContext &context) : m_context(context) {
    prepareConnection(m_context.db());
}

void RestService::prepareConnection(Database &db) {
    registerSqlFunctions(db);
    // The log outgrows memory: keep a bounded page cache and let the operating system cache the file.
    db.exec("PRAGMA cache_size=-32768");
    db.exec("PRAGMA temp_store=MEMORY");
}

HttpResponse RestService::handle(const HttpRequest &request, QByteArrayView subpath) {
    try {
        const Caller caller = authenticate(request);
        const QByteArray path = QByteArray::fromPercentEncoding(subpath.toByteArray());
        if (path.startsWith("rpc/")) {
            return rpc(request, QByteArrayView(path).sliced(4), caller);
        }
        if (path.isEmpty() || path.contains('/')) {
            fail(404, "PGRST125", QStringLiteral("Invalid path specified in request URL"));
        }
        const RestTable *table = findRestTable(path);
        if (!table) {
            fail(404, "PGRST205",
                 QStringLiteral("Could not find the table 'public.%1' in the schema cache").arg(text(path)));
        }
        const QByteArray &method = request.method;
        if (method == "GET" || method == "HEAD") {
            return read(request, *table, caller);
        }
        if (method == "POST") {
            return insert(request, *table, caller);
        }
        if (method == "PATCH") {
            return update(request, *table, caller);
        }
        if (method == "DELETE") {
            return remove(request, *table, caller);
        }
        if (method == "OPTIONS") {
            HttpResponse response = HttpResponse::empty(200);
            response.setHeader(QByteArrayLiteral("Allow"),
                               QByteArrayLiteral("OPTIONS,GET,HEAD,POST,PATCH,DELETE"));
            return response;
        }
        fail(405, "PGRST117", QStringLiteral("Unsupported HTTP method: %1").arg(text(method)));
    } catch (const HttpFailure &failure) {
        return failure.response;
    } catch (const DatabaseError &error) {
        std::fprintf(stderr, "rest: database error %d: %s\n", error.code(), error.what());
        return errorResponse(500, "XX000", QStringLiteral("The database could not complete the request."));
    }
}

RestService::Caller RestService::authenticate(const HttpRequest &request) const {
    Caller caller;
    const ServerContext::BearerCheck check = m_context.bearer(request);
    if (check.missing) {
        const QByteArray &serviceKey = m_context.config().serviceKey;
        caller.service =
            !serviceKey.isEmpty() && crypto::equalConstantTime(request.header("apikey"), serviceKey);
        return caller;
    }
    const auto refuse = [](const QByteArray &code, const QByteArray &message) {
        HttpResponse response = errorResponse(401, code, QString::fromUtf8(message));
        response.setHeader(QByteArrayLiteral("WWW-Authenticate"),
                           "Bearer error=\"invalid_token\", error_description=\"" + message + '"');
        throw HttpFailure{response};
    };
    if (check.problem == Jwt::Problem::Expired) {
        refuse("PGRST303", QByteArrayLiteral("JWT expired"));
    }
    if (check.problem != Jwt::Problem::None || !check.principal) {
        refuse("PGRST301", check.detail.isEmpty() ? QByteArrayLiteral("JWT cryptographic operation failed")
                                                  : check.detail);
    }
    // Other roles (anon, or a role this server does not have) get the anonymous role's rights.
    if (check.principal->role != u"authenticated") {
        return caller;
    }
    const std::optional<QByteArray> user = pg::uuid(check.principal->userId.toUtf8());
    if (!user) {
        refuse("PGRST301", QByteArrayLiteral("JWT subject is not a user id"));
    }
    caller.anonymous = false;
    caller.userId = *user;
    return caller;
}

HttpResponse RestService::read(const HttpRequest &request, const RestTable &table, const Caller &caller) {
    const RestQuery query = parseRestQuery(table, request.rawQuery);
    const Preferences preferences = Preferences::read(request);
    Database &db = m_context.readDb();

    // A search with text the trigram index knows: ask it first. Few hits: read just those rows. Many: the
    // text is common, and walking the account's rows in the requested order fills the page sooner.
    Sql from;
    from << " " << tableSource(table, caller, query.filters);
    const QByteArray match = caller.anonymous ? QByteArray() : searchIndexQuery(table, query.filters);
    if (!match.isEmpty()) {
        Statement probe = db.prepare("SELECT json_group_array(rowid), count(*) FROM (SELECT rowid FROM "
                                     "visitors_search WHERE visitors_search MATCH ? LIMIT ?)");
        probe.bindText(1, match).bindInt(2, m_searchIndexLimit + 1);
        probe.step();
        if (probe.integer(1) <= m_searchIndexLimit) {
            from = Sql();
            from << " json_each(?) AS \"hit\" CROSS JOIN " << table.quoted() << " ON " << table.quoted()
                 << ".rowid = \"hit\".\"value\"";
            from.binds.append(probe.text(0));
        }
    }
    const Sql where = whereSql(table, caller, query.filters);
    const QByteArray order = orderSql(table, query.order);

    // An export reads page after page, and an offset page walks over every row before it (35 ms at row
    // 100,000 of a million). When a request asks for the page right after one this server just gave, it
    // starts after that page's last row instead. Exact only while no row changed, so any write ends it.
    // Everything below reads one state of the tables when no commit began or ended meanwhile.
    const quint64 generation = m_context.changeSequence();
    const QByteArray key = query.limit && *query.limit > 0 && continuable(query.order)
                               ? walkKey(table, caller, where, order, *query.limit)
                               : QByteArray();
    const std::optional<QList<QVariant>> after = key.isEmpty() || query.offset == 0 || generation % 2 != 0
                                                     ? std::nullopt
                                                     : walkFrom(key, generation, query.offset);

    // The page is chosen on row ids alone (sorting whole JSON objects would build one for every candidate
    // row), then only its rows are turned into JSON, in the same order.
    const Sql object = jsonObjectSql(table, query.select);
    const auto readPage = [&](const std::optional<QList<QVariant>> &afterRow) {
        Sql pageWhere = where;
        RestQuery pageRange = query;
        if (afterRow) {
            QByteArrayList columns;
            QByteArrayList marks;
            for (const OrderItem &item : query.order) {
                columns.append(item.column->qualified(table.name));
                marks.append("?");
            }
            Sql seek;
            seek << "(" << columns.join(", ") << (query.order.first().descending ? ") < (" : ") > (")
                 << marks.join(", ") << ")";
            seek.binds = *afterRow;
            pageWhere = whereSql(table, caller, query.filters, seek);
            pageRange.offset = 0;
        }
        Sql page;
        page
            << "SELECT count(*), coalesce(json_group_array(json(\"j\")), '[]'), json_group_array(\"r\") FROM "
            << "(SELECT " << object.text << " AS \"j\", \"page\".\"r\" AS \"r\" FROM (SELECT "
            << table.quoted() << ".rowid AS \"r\" FROM" << from.text << pageWhere.text << order;
        page.binds = object.binds + from.binds + pageWhere.binds;
        page.append(limitSql(pageRange));
        page << ") AS \"page\" CROSS JOIN " << table.quoted() << " ON " << table.quoted()
             << ".rowid = \"page\".\"r\"" << order << ")";
        Statement statement = prepared(db, page);
        statement.step();
        return std::tuple{statement.integer(0), statement.text(1), statement.text(2)};
    };
    auto [count, body, rowids] = readPage(after);
    if (after && m_context.changeSequence() != generation) {
        // A commit came while the page was read: the walk may no longer fit, so the plain offset page.
        std::tie(count, body, rowids) = readPage(std::nullopt);
    }
    if (!key.isEmpty() && count == *query.limit && generation % 2 == 0) {
        rememberWalk(db, table, query.order, key, generation, query.offset + count, rowids);
    }
    std::optional<qint64> total;
    if (preferences.countExact) {
        Sql counting;
        counting << "SELECT count(*) FROM" << from.text << where.text;
        counting.binds = from.binds + where.binds;
        Statement statement = prepared(db, counting);
        statement.step();
        total = statement.integer(0);
    }

    const qint64 first = query.offset;
    int status = 200;
    if (total) {
        if (first > *total) {
            HttpResponse response =
                errorResponse(416, "PGRST103", QStringLiteral("Requested range not satisfiable"),
                              QStringLiteral("An offset of %1 was requested, but there are only %2 rows.")
                                  .arg(first)
                                  .arg(*total));
            response.setHeader(contentRangeHeader, "*/" + QByteArray::number(*total));
            return response;
        }
        if (count < *total) {
            status = 206;
        }
    }
    const bool singleObject = asksForObject(request);
    if (singleObject) {
        requireOneRow(count);
    }
    HttpResponse response = rowsResponse(status, body, singleObject);
    response.setHeader(contentRangeHeader, contentRange(first, count, total));
    preferences.apply(response);
    return response;
}

std::optional<QList<QVariant>> RestService::walkFrom(const QByteArray &key, quint64 generation,
                                                     qint64 offset) const {
    const QMutexLocker lock(&m_walksMutex);
    for (const Walk &walk : m_walks) {
        if (walk.key == key && walk.generation == generation && walk.nextOffset == offset) {
            return walk.lastRow;
        }
    }
    return std::nullopt;
}

void RestService::rememberWalk(Database &db, const RestTable &table, const QList<OrderItem> &order,
                               const QByteArray &key, quint64 generation, qint64 nextOffset,
                               const QByteArray &rowids) {
    const qsizetype comma = rowids.lastIndexOf(',');
    const qint64 lastRowid = rowids.mid(comma + 1, rowids.size() - comma - 2).toLongLong();
    QByteArrayList columns;
    for (const OrderItem &item : order) {
        columns.append(item.column->qualified(table.name));
    }
    Statement statement =
        db.prepare("SELECT " + columns.join(", ") + " FROM " + table.quoted() + " WHERE rowid = ?");
    statement.bindInt(1, lastRowid);
    if (!statement.step()) {
        return;
    }
    Walk walk{key, generation, nextOffset, {}};
    for (int column = 0; column < columns.size(); ++column) {
        walk.lastRow.append(statement.text(column));
    }
    // Only a state no commit touched while it was read is worth remembering.
    if (m_context.changeSequence() != generation) {
        return;
    }
    const QMutexLocker lock(&m_walksMutex);
    m_walks.removeIf([&](const Walk &other) { return other.key == key; });
    if (m_walks.size() >= maxWalks) {
        m_walks.removeFirst();
    }
    m_walks.append(std::move(walk));
}

QByteArray RestService::matchingRows(const RestTable &table, const RestQuery &query, const Caller &caller) {
    const Sql where = whereSql(table, caller, query.filters);
    Sql sql;
    sql << "SELECT json_group_array(\"r\") FROM (SELECT " << table.quoted() << ".rowid AS \"r\" FROM "
        << tableSource(table, caller, query.filters) << where.text << orderSql(table, query.order);
    sql.binds = where.binds;
    sql.append(limitSql(query));
    sql << ")";
    Statement statement = prepared(m_context.db(), sql);
    statement.step();
    return statement.text(0);
}

std::pair<qsizetype, QByteArray> RestService::representation(const RestTable &table, const RestQuery &query,
                                                             const QByteArray &rowids) {
    const Sql object = jsonObjectSql(table, query.select);
    Sql sql;
    sql << "SELECT count(*), coalesce(json_group_array(json(\"j\")), '[]') FROM (SELECT " << object.text
        << " AS \"j\" FROM json_each(?) AS \"hit\" CROSS JOIN " << table.quoted() << " ON " << table.quoted()
        << ".rowid = \"hit\".\"value\" ORDER BY \"hit\".\"key\")";
    sql.binds = object.binds;
    sql.binds.append(rowids);
    Statement statement = prepared(m_context.db(), sql);
    statement.step();
    return {qsizetype(statement.integer(0)), statement.text(1)};
}

HttpResponse RestService::insert(const HttpRequest &request, const RestTable &table, const Caller &caller) {
    const RestQuery query = parseRestQuery(table, request.rawQuery);
    const Preferences preferences = Preferences::read(request);
    if (caller.anonymous) {
        anonymousWrite(QStringLiteral("table ") + text(table.name));
    }
    const QJsonDocument document = parseBody(request.body);
    QList<QJsonObject> rows;
    if (document.isObject()) {
        rows.append(document.object());
    } else {
        for (const QJsonValue &item : document.array()) {
            if (!item.isObject()) {
                fail(400, "PGRST102", QStringLiteral("Empty or invalid json"));
            }
            rows.append(item.toObject());
        }
        for (const QJsonObject &row : std::as_const(rows)) {
            if (row.keys() != rows.first().keys()) {
                fail(400, "PGRST102", QStringLiteral("All object keys must match"));
            }
        }
    }
    if (!rows.isEmpty()) {
        checkKeys(table, rows.first());
    }

    const RestColumn *conflict = query.onConflict.isEmpty() ? table.primaryKey() : query.onConflict.first();
    const RestColumn *ownerColumn = table.column("owner_id");
    const QByteArray now = m_context.timestampNow();
    Database &db = m_context.db();

    const bool represent = preferences.returning == ReturnPreference::Representation;
    const bool singleObject = represent && asksForObject(request);
    // Rows in the body's order with what each became; the representation reads them back.
    QList<qint64> rowids;
    bool anyInserted = false;
    QByteArray represented;
    db.transaction([&] {
        for (const QJsonObject &row : std::as_const(rows)) {
            QList<const RestColumn *> columns;
            QList<QVariant> values;
            QList<const RestColumn *> payload; // the body's columns: what a merge changes
            for (const RestColumn &column : table.columns) {
                QVariant value;
                if (row.contains(QString::fromLatin1(column.name))) {
                    value = columnValue(table, column, row.value(QString::fromLatin1(column.name)));
                    if (&column == ownerColumn && value.toByteArray() != caller.userId) {
                        rowSecurityViolation(table);
                    }
                    payload.append(&column);
                } else {
                    switch (column.defaultKind) {
                    case ColumnDefault::None:
                        break;
                    case ColumnDefault::NewUuid:
                        value = crypto::uuidV4().toUtf8();
                        break;
                    case ColumnDefault::Now:
                        value = now;
                        break;
                    case ColumnDefault::NewToken:
                        value = crypto::randomToken();
                        break;
                    case ColumnDefault::Literal:
                        value = column.type == ColumnType::Boolean ? QVariant(column.literal.toLongLong())
                                                                   : QVariant(column.literal);
                        break;
                    case ColumnDefault::OwnerId:
                        value = caller.userId;
                        break;
                    case ColumnDefault::SearchText:
                        continue; // below, once the other columns are known
                    }
                }
                if (column.touchedOnWrite) {
                    value = now;
                    if (!payload.contains(&column)) {
                        payload.append(&column);
                    }
                }
                checkNotNull(table, column, value);
                columns.append(&column);
                values.append(value);
            }
            if (const RestColumn *search = table.column("search_text")) {
                const auto valueOf = [&](const char *name) {
                    return values.value(columns.indexOf(table.column(name)));
                };
                const QVariant host = valueOf("host_name");
                columns.append(search);
                values.append(searchTextFor(valueOf("visitor_name").toByteArray(),
                                            host.isNull() ? std::nullopt
                                                          : std::optional<QByteArrayView>(host.toByteArray()),
                                            valueOf("answers").toByteArray()));
            }

            bool existed = false;
            if (preferences.resolution != Resolution::None && conflict) {
                Statement lookup =
                    db.prepare("SELECT " + ownerColumn->qualified(table.name) + " FROM " + table.quoted() +
                               " WHERE " + conflict->qualified(table.name) + " = ?");
                lookup.bind(1, values.value(columns.indexOf(conflict)));
                if (lookup.step()) {
                    if (lookup.text(0) != caller.userId) {
                        rowSecurityViolation(table);
                    }
                    existed = true;
                }
            }

            Sql sql;
            sql << "INSERT INTO " << table.quoted() << " (";
            for (qsizetype i = 0; i < columns.size(); ++i) {
                sql << (i > 0 ? ", \"" : "\"") << columns[i]->name << "\"";
            }
            sql << ") VALUES (";
            for (qsizetype i = 0; i < columns.size(); ++i) {
                sql << (i > 0 ? ", ?" : "?");
            }
            sql << ")";
            sql.binds = values;
            if (preferences.resolution == Resolution::IgnoreDuplicates && conflict) {
                sql << " ON CONFLICT (\"" << conflict->name << "\") DO NOTHING";
            } else if (preferences.resolution == Resolution::MergeDuplicates && conflict) {
                sql << " ON CONFLICT (\"" << conflict->name << "\") DO ";
                QByteArray assignments;
                for (const RestColumn *column : std::as_const(payload)) {
                    if (column != conflict && column != ownerColumn) {
                        assignments += (assignments.isEmpty() ? "\"" : ", \"") + column->name +
                                       "\" = excluded.\"" + column->name + '"';
                    }
                }
                if (assignments.isEmpty()) {
                    sql << "NOTHING";
                } else {
                    sql << "UPDATE SET " << assignments << " WHERE " << ownerColumn->qualified(table.name)
                        << " = ?";
                    sql.binds.append(caller.userId);
                }
            }
            sql << " RETURNING rowid";
            Statement statement = prepared(db, sql);
            QList<qint64> written;
            runWrite(db, statement, table, &written);
            if (existed && written.isEmpty() && preferences.resolution == Resolution::MergeDuplicates) {
                // Nothing to merge: the row stays as it is, and is still part of the answer.
                Statement lookup = db.prepare("SELECT rowid FROM " + table.quoted() + " WHERE " +
                                              conflict->qualified(table.name) + " = ?");
                lookup.bind(1, values.value(columns.indexOf(conflict)));
                if (lookup.step()) {
                    written.append(lookup.integer(0));
                }
            }
            if (existed && !written.isEmpty() && !table.searchSources.isEmpty()) {
                Statement refresh = db.prepare("UPDATE \"visitors\" SET \"search_text\" = "
                                               "tb_search_text(\"visitor_name\", \"host_name\", "
                                               "\"answers\") WHERE rowid = ?");
                refresh.bindInt(1, written.first());
                refresh.run();
            }
            anyInserted = anyInserted || (!existed && !written.isEmpty());
            rowids += written;
        }
        if (represent) {
            qsizetype count = 0;
            std::tie(count, represented) = representation(table, query, rowidArray(rowids));
            if (singleObject) {
                requireOneRow(count);
            }
        }
    });

    const bool merged = preferences.resolution != Resolution::None && !rows.isEmpty() && !anyInserted;
    HttpResponse response;
    if (represent) {
        response = rowsResponse(merged ? 200 : 201, represented, singleObject);
    } else {
        response = HttpResponse::empty(merged ? 200 : 201);
    }
    response.setHeader(contentRangeHeader, QByteArrayLiteral("*/*"));
    preferences.apply(response);
    return response;
}

HttpResponse RestService::update(const HttpRequest &request, const RestTable &table, const Caller &caller) {
    const RestQuery query = parseRestQuery(table, request.rawQuery);
    const Preferences preferences = Preferences::read(request);
    if (caller.anonymous) {
        anonymousWrite(QStringLiteral("table ") + text(table.name));
    }
    const QJsonDocument document = parseBody(request.body);
    if (!document.isObject()) {
        fail(400, "PGRST102", QStringLiteral("Empty or invalid json"));
    }
    const QJsonObject body = document.object();
    checkKeys(table, body);
    const RestColumn *ownerColumn = table.column("owner_id");
    QList<const RestColumn *> columns;
    QList<QVariant> values;
    bool ownerChange = false;
    bool searchChange = false;
    for (const RestColumn &column : table.columns) {
        if (!body.contains(QString::fromLatin1(column.name))) {
            continue;
        }
        const QVariant value = columnValue(table, column, body.value(QString::fromLatin1(column.name)));
        checkNotNull(table, column, value);
        ownerChange = ownerChange || (&column == ownerColumn && value.toByteArray() != caller.userId);
        searchChange = searchChange || table.searchSources.contains(column.name);
        columns.append(&column);
        values.append(value);
    }
    if (query.filters.isEmpty()) {
        fail(400, "21000", QStringLiteral("UPDATE requires a WHERE clause"));
    }
    const QByteArray now = m_context.timestampNow();
    for (const RestColumn &column : table.columns) {
        if (column.touchedOnWrite && !columns.isEmpty() && !columns.contains(&column)) {
            columns.append(&column);
            values.append(now);
        }
    }

    const bool singleObject =
        preferences.returning == ReturnPreference::Representation && asksForObject(request);
    Database &db = m_context.db();
    const auto [count, body2] = db.transaction([&]() -> std::pair<qsizetype, QByteArray> {
        if (columns.isEmpty()) {
            return {0, QByteArrayLiteral("[]")};
        }
        const QByteArray rowids = matchingRows(table, query, caller);
        if (rowids == "[]") {
            return {0, rowids};
        }
        if (ownerChange) {
            rowSecurityViolation(table);
        }
        Sql sql;
        sql << "UPDATE " << table.quoted() << " SET ";
        for (qsizetype i = 0; i < columns.size(); ++i) {
            sql << (i > 0 ? ", \"" : "\"") << columns[i]->name << "\" = ?";
        }
        sql.binds = values;
        sql << " WHERE rowid IN (SELECT value FROM json_each(?)) AND " << ownerColumn->qualified(table.name)
            << " = ?";
        sql.binds << rowids << caller.userId;
        Statement statement = prepared(db, sql);
        runWrite(db, statement, table);
        if (searchChange) {
            Statement refresh =
                db.prepare("UPDATE \"visitors\" SET \"search_text\" = tb_search_text(\"visitor_name\", "
                           "\"host_name\", \"answers\") WHERE rowid IN (SELECT value FROM json_each(?))");
            refresh.bindText(1, rowids);
            refresh.run();
        }
        auto changed = representation(table, query, rowids);
        if (singleObject) {
            requireOneRow(changed.first);
        }
        return changed;
    });
    if (singleObject) {
        requireOneRow(count); // also when nothing matched
    }

    HttpResponse response = preferences.returning == ReturnPreference::Representation
                                ? rowsResponse(200, body2, singleObject)
                                : HttpResponse::empty(204);
    response.setHeader(
        contentRangeHeader,
        contentRange(0, count, preferences.countExact ? std::optional<qint64>(count) : std::nullopt));
    preferences.apply(response);
    return response;
}

HttpResponse RestService::remove(const HttpRequest &request, const RestTable &table, const Caller &caller) {
    const RestQuery query = parseRestQuery(table, request.rawQuery);
    const Preferences preferences = Preferences::read(request);
    if (caller.anonymous) {
        anonymousWrite(QStringLiteral("table ") + text(table.name));
    }
    if (query.filters.isEmpty()) {
        fail(400, "21000", QStringLiteral("DELETE requires a WHERE clause"));
    }
    const bool represent = preferences.returning == ReturnPreference::Representation;
    const bool singleObject = represent && asksForObject(request);
    Database &db = m_context.db();
    const QByteArray body = db.transaction([&] {
        const QByteArray rowids = matchingRows(table, query, caller);
        if (singleObject) {
            requireOneRow(QJsonDocument::fromJson(rowids).array().size());
        }
        if (rowids == "[]") {
            return rowids;
        }
        QByteArray deleted;
        if (represent) {
            deleted = representation(table, query, rowids).second;
        }
        Statement statement = db.prepare("DELETE FROM " + table.quoted() +
                                         " WHERE rowid IN (SELECT value FROM json_each(?)) AND " +
                                         table.column("owner_id")->qualified(table.name) + " = ?");
        statement.bindText(1, rowids).bindText(2, caller.userId);
        runWrite(db, statement, table);
        return deleted;
    });
    HttpResponse response = represent ? rowsResponse(200, body, singleObject) : HttpResponse::empty(204);
    response.setHeader(contentRangeHeader, QByteArrayLiteral("*/*"));
    preferences.apply(response);
    return response;
}

HttpResponse RestService::rpc(const HttpRequest &request, QByteArrayView name, const Caller &caller) {
    QStringList arguments;
    if (!request.body.trimmed().isEmpty()) {
        const QJsonDocument document = parseBody(request.body);
        if (!document.isObject()) {
            fail(400, "PGRST102", QStringLiteral("Empty or invalid json"));
        }
        arguments = document.object().keys();
    }
    if (name == "invite_for_guest" && arguments == QStringList{QStringLiteral("invite_token")}) {
        return inviteForGuest(request, caller);
    }
    if (name != "delete_account" || !arguments.isEmpty()) {
        const QString signature =
            arguments.isEmpty() ? QStringLiteral("public.%1 without parameters").arg(text(name))
                                : QStringLiteral("public.%1(%2)").arg(text(name), arguments.join(u", "));
        fail(404, "PGRST202",
             QStringLiteral("Could not find the function %1 in the schema cache").arg(signature),
             QStringLiteral("Searched for the function %1 but no matches were found in the schema cache.")
                 .arg(signature));
    }
    if (request.method != "POST") {
        fail(405, "PGRST101", QStringLiteral("Cannot use the %1 method on RPC").arg(text(request.method)));
    }
    if (caller.anonymous) {
        anonymousWrite(QStringLiteral("function delete_account"));
    }
    Database &db = m_context.db();
    db.transaction([&] {
        Statement statement = db.prepare("DELETE FROM \"users\" WHERE \"id\" = ?");
        statement.bindText(1, caller.userId);
        statement.run();
    });
    return HttpResponse::empty(204);
}

HttpResponse RestService::inviteForGuest(const HttpRequest &request, const Caller &caller) {
    if (request.method != "POST") {
        fail(405, "PGRST101", QStringLiteral("Cannot use the %1 method on RPC").arg(text(request.method)));
    }
    if (!caller.service) {
        // As the hosted project: the function is granted to the service role alone.
        const int status = caller.anonymous ? 401 : 403;
        fail(status, "42501", QStringLiteral("permission denied for function invite_for_guest"));
    }
    const QJsonValue token = parseBody(request.body).object().value(u"invite_token");
    QJsonArray rows;
    if (token.isString()) {
        Statement statement = m_context.readDb().prepare(
            "SELECT json_object('visitor_name', i.visitor_name, 'visit_date', i.visit_date, 'visit_time', "
            "i.visit_time, 'note', i.note, 'used_at', i.used_at, 'place_name', k.place_name) FROM invites i "
            "LEFT JOIN kiosk_settings k ON k.owner_id = i.owner_id WHERE i.token = ?");
        statement.bindText(1, token.toString().toUtf8());
        while (statement.step()) {
            rows.append(QJsonDocument::fromJson(statement.text(0)).object());
        }
    }
    return HttpResponse::json(200, QJsonDocument(rows));
}

} // namespace tbserver
