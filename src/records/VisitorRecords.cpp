#include "records/VisitorRecords.h"

#include "records/JsonRead.h"
#include "records/Timestamps.h"
#include "records/Uuid.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

QJsonArray answersJson(const QList<VisitorAnswer> &answers) {
    QJsonArray array;
    for (const VisitorAnswer &answer : answers)
        array.append(answer.toJson());
    return array;
}

} // namespace

VisitorAnswer VisitorAnswer::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    return {json::requiredText(object, u"label"), json::requiredText(object, u"value")};
}

QJsonObject VisitorAnswer::toJson() const {
    return {{u"label"_s, label}, {u"value"_s, value}};
}

VisitorRow VisitorRow::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    VisitorRow row;
    row.id = json::requiredUuid(object, u"id");
    row.visitorName = json::requiredText(object, u"visitor_name");
    row.hostName = json::optionalText(object, u"host_name");
    if (const std::optional<QJsonArray> answers = json::optionalArray(object, u"answers"))
        row.answers = json::listOf<VisitorAnswer>(*answers);
    const std::optional<QDateTime> signedInAt = readTimestamp(json::requiredText(object, u"signed_in_at"));
    if (!signedInAt)
        throw DecodeError(u"Bad timestamp"_s);
    row.signedInAt = *signedInAt;
    if (const std::optional<QString> signedOutAt = json::optionalText(object, u"signed_out_at"))
        row.signedOutAt = readTimestamp(*signedOutAt);
    row.listName = json::optionalText(object, u"list_name");
    row.deviceName = json::optionalText(object, u"device_name");
    return row;
}

QJsonObject NewVisitor::toJson() const {
    return {
        {u"owner_id"_s, uuidUpper(ownerID)},
        {u"device_record_id"_s, deviceRecordID},
        {u"visitor_name"_s, visitorName},
        {u"host_name"_s, hostName ? QJsonValue(*hostName) : QJsonValue(QJsonValue::Null)},
        {u"answers"_s, answersJson(answers)},
        {u"signed_in_at"_s, writeTimestamp(signedInAt)},
        {u"device_name"_s, deviceName},
    };
}

} // namespace tallybrook
