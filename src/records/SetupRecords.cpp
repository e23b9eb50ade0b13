#include "records/SetupRecords.h"

#include "records/JsonRead.h"

#include <QJsonArray>

#include <array>
#include <utility>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

constexpr std::array<std::pair<FieldType, QStringView>, 4> fieldTypeTexts{{
    {FieldType::PlainText, u"Plain Text"},
    {FieldType::Numeric, u"Numeric"},
    {FieldType::Email, u"Email"},
    {FieldType::Phone, u"Phone"},
}};

} // namespace

QString fieldTypeText(FieldType type) {
    for (const auto &[candidate, text] : fieldTypeTexts) {
        if (candidate == type)
            return text.toString();
    }
    Q_UNREACHABLE();
}

std::optional<FieldType> fieldTypeFromText(QStringView text) {
    for (const auto &[type, candidate] : fieldTypeTexts) {
        if (candidate == text)
            return type;
    }
    return std::nullopt;
}

KioskField KioskField::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    return {json::requiredInt(object, u"slot"), json::requiredText(object, u"label"),
            json::requiredText(object, u"type"), json::requiredBool(object, u"required"),
            json::requiredBool(object, u"employee_list")};
}

QJsonObject KioskField::toJson() const {
    return {{u"slot"_s, slot},
            {u"label"_s, label},
            {u"type"_s, type},
            {u"required"_s, required},
            {u"employee_list"_s, employeeList}};
}

KioskSettings KioskSettings::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    return {json::listOf<KioskField>(json::requiredArray(object, u"fields")),
            json::textList(json::requiredArray(object, u"employees"), u"employees"),
            json::optionalText(object, u"place_name")};
}

QJsonObject KioskSettings::toJson() const {
    QJsonArray fieldArray;
    for (const KioskField &field : fields)
        fieldArray.append(field.toJson());
    // Written as null when there is none: the upsert merges only the keys it is sent, so leaving the key out
    // would keep a place name the user cleared.
    return {{u"fields"_s, fieldArray},
            {u"employees"_s, QJsonArray::fromStringList(employees)},
            {u"place_name"_s, placeName ? QJsonValue(*placeName) : QJsonValue(QJsonValue::Null)}};
}

NotificationSettings NotificationSettings::fromJson(const QJsonValue &jsonValue) {
    const QJsonObject object = json::asObject(jsonValue);
    return {json::requiredText(object, u"office_webhook"), json::requiredBool(object, u"notify_sign_in"),
            json::requiredBool(object, u"notify_sign_out"),
            json::textMap(json::requiredObject(object, u"employee_webhooks"), u"employee_webhooks")};
}

QJsonObject NotificationSettings::toJson() const {
    QJsonObject webhooks;
    for (auto it = employeeWebhooks.constBegin(); it != employeeWebhooks.constEnd(); ++it)
        webhooks.insert(it.key(), it.value());
    return {{u"office_webhook"_s, officeWebhook},
            {u"notify_sign_in"_s, notifySignIn},
            {u"notify_sign_out"_s, notifySignOut},
            {u"employee_webhooks"_s, webhooks}};
}

} // namespace tallybrook
