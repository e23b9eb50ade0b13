#include "rest/RestTables.h"

namespace tbserver {

namespace {

RestColumn column(const char *name, ColumnType type, bool nullable) {
    RestColumn result;
    result.name = QByteArray(name);
    result.type = type;
    result.nullable = nullable;
    return result;
}

RestColumn withDefault(RestColumn column, ColumnDefault kind, const char *literal = nullptr) {
    column.defaultKind = kind;
    if (literal) {
        column.literal = QByteArray(literal);
    }
    return column;
}

RestColumn shaped(RestColumn column, JsonShape shape) {
    column.shape = shape;
    return column;
}

RestColumn key(RestColumn column, bool primary) {
    column.unique = true;
    column.primaryKey = primary;
    return column;
}

RestColumn owner(bool primary) {
    RestColumn result = withDefault(column("owner_id", ColumnType::Uuid, false), ColumnDefault::OwnerId);
    if (primary) {
        result = key(result, true);
    }
    return result;
}

RestColumn updatedAt() {
    RestColumn result = column("updated_at", ColumnType::Timestamp, true);
    result.touchedOnWrite = true;
    return result;
}

QList<RestTable> makeTables() {
    using T = ColumnType;
    using D = ColumnDefault;
    QList<RestTable> tables;

    RestTable visitors;
    visitors.name = "visitors";
    RestColumn searchText = withDefault(column("search_text", T::Text, false), D::SearchText);
    searchText.readable = false;
    searchText.writable = false;
    searchText.storedLowerCase = true;
    visitors.columns = {
        key(withDefault(column("id", T::Uuid, false), D::NewUuid), true),
        owner(false),
        column("device_record_id", T::Text, true),
        column("visitor_name", T::Text, false),
        column("host_name", T::Text, true),
        shaped(withDefault(column("answers", T::Json, false), D::Literal, "[]"), JsonShape::Array),
        withDefault(column("signed_in_at", T::Timestamp, false), D::Now),
        column("signed_out_at", T::Timestamp, true),
        column("list_name", T::Text, true),
        column("device_name", T::Text, true),
        searchText,
        withDefault(column("created_at", T::Timestamp, false), D::Now),
    };
    visitors.searchSources = {"visitor_name", "host_name", "answers"};
    visitors.hasSearchIndex = true;
    visitors.nullRowsIndex = RestTable::NullRowsIndex{"signed_out_at", "visitors_owner_on_site"};
    tables.append(visitors);

    RestTable invites;
    invites.name = "invites";
    invites.columns = {
        key(withDefault(column("id", T::Uuid, false), D::NewUuid), true),
        owner(false),
        key(withDefault(column("token", T::Text, false), D::NewToken), false),
        column("visitor_name", T::Text, false),
        column("visitor_email", T::Text, false),
        shaped(withDefault(column("answers", T::Json, false), D::Literal, "[]"), JsonShape::Array),
        column("visit_date", T::Text, true),
        column("visit_time", T::Text, true),
        column("note", T::Text, true),
        withDefault(column("created_at", T::Timestamp, false), D::Now),
        column("used_at", T::Timestamp, true),
    };
    tables.append(invites);

    RestTable kiosk;
    kiosk.name = "kiosk_settings";
    kiosk.columns = {
        owner(true),
        shaped(withDefault(column("fields", T::Json, false), D::Literal, "[]"), JsonShape::Array),
        shaped(withDefault(column("employees", T::Json, false), D::Literal, "[]"), JsonShape::Array),
        column("place_name", T::Text, true),
        updatedAt(),
    };
    tables.append(kiosk);

    RestTable notifications;
    notifications.name = "notification_settings";
    notifications.columns = {
        owner(true),
        withDefault(column("office_webhook", T::Text, false), D::Literal, ""),
        withDefault(column("notify_sign_in", T::Boolean, false), D::Literal, "1"),
        withDefault(column("notify_sign_out", T::Boolean, false), D::Literal, "0"),
        shaped(withDefault(column("employee_webhooks", T::Json, false), D::Literal, "{}"), JsonShape::Object),
        updatedAt(),
    };
    tables.append(notifications);
    return tables;
}

} // namespace

QByteArray RestColumn::qualified(const QByteArray &table) const {
    return '"' + table + "\".\"" + name + '"';
}

QByteArray RestColumn::typeName() const {
    switch (type) {
    case ColumnType::Uuid:
        return QByteArrayLiteral("uuid");
    case ColumnType::Text:
        return QByteArrayLiteral("text");
    case ColumnType::Timestamp:
        return QByteArrayLiteral("timestamp with time zone");
    case ColumnType::Boolean:
        return QByteArrayLiteral("boolean");
    case ColumnType::Json:
        return QByteArrayLiteral("jsonb");
    }
    return QByteArrayLiteral("text");
}

const RestColumn *RestTable::column(QByteArrayView wanted) const {
    for (const RestColumn &candidate : columns) {
        if (candidate.name == wanted) {
            return &candidate;
        }
    }
    return nullptr;
}

const RestColumn *RestTable::primaryKey() const {
    for (const RestColumn &candidate : columns) {
        if (candidate.primaryKey) {
            return &candidate;
        }
    }
    return nullptr;
}

const QList<RestTable> &restTables() {
    static const QList<RestTable> tables = makeTables();
    return tables;
}

const RestTable *findRestTable(QByteArrayView name) {
    for (const RestTable &table : restTables()) {
        if (table.name == name) {
            return &table;
        }
    }
    return nullptr;
}

} // namespace tbserver
