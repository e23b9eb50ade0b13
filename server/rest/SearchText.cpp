#include "rest/SearchText.h"

#include "core/Database.h"
#include "rest/PgTypes.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sqlite3.h>

namespace tbserver {

namespace {

QString answerPart(const QJsonValue &value) {
    if (value.isString()) {
        return value.toString();
    }
    if (value.isDouble()) {
        return QString::number(value.toDouble());
    }
    return {};
}

QByteArrayView columnText(sqlite3_value *value) {
    // As a blob: the bytes are the UTF-8 text, without SQLite copying them to add a terminator.
    const auto *data = static_cast<const char *>(
        sqlite3_value_type(value) == SQLITE_TEXT ? sqlite3_value_blob(value) : sqlite3_value_text(value));
    return data ? QByteArrayView(data, sqlite3_value_bytes(value)) : QByteArrayView();
}

void destroyPattern(void *pattern) {
    delete static_cast<pg::LikePattern *>(pattern);
}

// tb_like(value, pattern, mode), mode 0 LIKE, 1 ILIKE, 2 ILIKE on a column stored lower-case. The compiled
// pattern is kept with the statement while the pattern argument stays the same.
void likeFunction(sqlite3_context *context, int, sqlite3_value **arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL || sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const int mode = sqlite3_value_int(arguments[2]);
    auto *pattern = static_cast<pg::LikePattern *>(sqlite3_get_auxdata(context, 1));
    if (!pattern) {
        std::optional<pg::LikePattern> compiled =
            pg::LikePattern::compile(columnText(arguments[1]), mode != 0);
        if (!compiled) {
            sqlite3_result_error(context, "LIKE pattern must not end with escape character", -1);
            return;
        }
        pattern = new pg::LikePattern(std::move(*compiled));
        sqlite3_set_auxdata(context, 1, pattern, destroyPattern);
        // SQLite may have dropped it at once; ask again rather than keep a dangling pointer.
        pattern = static_cast<pg::LikePattern *>(sqlite3_get_auxdata(context, 1));
        if (!pattern) {
            std::optional<pg::LikePattern> again =
                pg::LikePattern::compile(columnText(arguments[1]), mode != 0);
            sqlite3_result_int(context, again && again->matches(columnText(arguments[0]), mode == 2) ? 1 : 0);
            return;
        }
    }
    sqlite3_result_int(context, pattern->matches(columnText(arguments[0]), mode == 2) ? 1 : 0);
}

void searchTextFunction(sqlite3_context *context, int, sqlite3_value **arguments) {
    std::optional<QByteArrayView> host;
    if (sqlite3_value_type(arguments[1]) != SQLITE_NULL) {
        host = columnText(arguments[1]);
    }
    const QByteArray text = searchTextFor(columnText(arguments[0]), host, columnText(arguments[2]));
    sqlite3_result_text(context, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

} // namespace

QByteArray searchTextFor(const QString &visitorName, const std::optional<QString> &hostName,
                         const QJsonArray &answers) {
    QStringList parts;
    const auto add = [&parts](const QString &part) {
        if (!part.isEmpty()) {
            parts.append(part);
        }
    };
    add(visitorName);
    if (hostName) {
        add(*hostName);
    }
    for (const QJsonValue &answer : answers) {
        const QJsonObject object = answer.toObject();
        add(answerPart(object.value(u"label")));
        add(answerPart(object.value(u"value")));
    }
    return parts.join(u' ').toLower().toUtf8();
}

QByteArray searchTextFor(QByteArrayView visitorName, std::optional<QByteArrayView> hostName,
                         QByteArrayView answersJson) {
    std::optional<QString> host;
    if (hostName) {
        host = QString::fromUtf8(*hostName);
    }
    const QJsonArray answers = QJsonDocument::fromJson(answersJson.toByteArray()).array();
    return searchTextFor(QString::fromUtf8(visitorName), host, answers);
}

void registerSqlFunctions(Database &db) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    if (sqlite3_create_function_v2(db.handle(), "tb_like", 3, flags, nullptr, likeFunction, nullptr, nullptr,
                                   nullptr) != SQLITE_OK ||
        sqlite3_create_function_v2(db.handle(), "tb_search_text", 3, flags, nullptr, searchTextFunction,
                                   nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw DatabaseError(sqlite3_errcode(db.handle()), "cannot register the REST service's SQL functions");
    }
}

} // namespace tbserver
