#include "records/JsonRead.h"

#include "records/Uuid.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace tallybrook::json {

namespace {

DecodeError keyError(QStringView key, QStringView problem) {
    return decodeError(u'"' + key.toString() + u"\" "_s + problem + u'.');
}

// Missing and null are the same to the desk: both mean "no value".
std::optional<QJsonValue> presentValue(const QJsonObject &object, QStringView key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return value;
}

QJsonValue requiredValue(const QJsonObject &object, QStringView key) {
    std::optional<QJsonValue> value = presentValue(object, key);
    if (!value)
        throw keyError(key, u"is missing");
    return *value;
}

QString textOf(const QJsonValue &value, QStringView key) {
    if (!value.isString())
        throw keyError(key, u"is not text");
    return value.toString();
}

QJsonArray arrayOf(const QJsonValue &value, QStringView key) {
    if (!value.isArray())
        throw keyError(key, u"is not a list");
    return value.toArray();
}

QJsonDocument parseDocument(const QByteArray &body) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || document.isNull())
        throw decodeError(u"it is not valid JSON."_s);
    return document;
}

} // namespace

DecodeError decodeError(const QString &detail) {
    return DecodeError(u"The server's answer could not be read: "_s + detail);
}

QJsonObject asObject(const QJsonValue &value) {
    if (!value.isObject())
        throw decodeError(u"a record is not an object."_s);
    return value.toObject();
}

QString requiredText(const QJsonObject &object, QStringView key) {
    return textOf(requiredValue(object, key), key);
}

std::optional<QString> optionalText(const QJsonObject &object, QStringView key) {
    const std::optional<QJsonValue> value = presentValue(object, key);
    if (!value)
        return std::nullopt;
    return textOf(*value, key);
}

bool requiredBool(const QJsonObject &object, QStringView key) {
    const QJsonValue value = requiredValue(object, key);
    if (!value.isBool())
        throw keyError(key, u"is not true or false");
    return value.toBool();
}

int requiredInt(const QJsonObject &object, QStringView key) {
    const QJsonValue value = requiredValue(object, key);
    if (!value.isDouble())
        throw keyError(key, u"is not a number");
    // JSON numbers arrive as doubles; only an exact whole number in range is an integer, so 1.5 and 1e300
    // fail instead of being truncated or saturated.
    const double number = value.toDouble();
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    if (!(number >= lowest && number <= highest) || std::trunc(number) != number)
        throw keyError(key, u"is not a whole number");
    return static_cast<int>(number);
}

QUuid requiredUuid(const QJsonObject &object, QStringView key) {
    const QString text = requiredText(object, key);
    const std::optional<QUuid> uuid = parseUuid(text);
    if (!uuid)
        throw keyError(key, u"is not an identifier");
    return *uuid;
}

QJsonArray requiredArray(const QJsonObject &object, QStringView key) {
    return arrayOf(requiredValue(object, key), key);
}

std::optional<QJsonArray> optionalArray(const QJsonObject &object, QStringView key) {
    const std::optional<QJsonValue> value = presentValue(object, key);
    if (!value)
        return std::nullopt;
    return arrayOf(*value, key);
}

QJsonObject requiredObject(const QJsonObject &object, QStringView key) {
    const QJsonValue value = requiredValue(object, key);
    if (!value.isObject())
        throw keyError(key, u"is not an object");
    return value.toObject();
}

QStringList textList(const QJsonArray &array, QStringView key) {
    QStringList texts;
    texts.reserve(array.size());
    for (const QJsonValue element : array) {
        if (!element.isString())
            throw keyError(key, u"holds an entry that is not text");
        texts.append(element.toString());
    }
    return texts;
}

QMap<QString, QString> textMap(const QJsonObject &object, QStringView key) {
    QMap<QString, QString> texts;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString())
            throw keyError(key, u"holds an entry that is not text");
        texts.insert(it.key(), it.value().toString());
    }
    return texts;
}

QJsonArray parseArray(const QByteArray &body) {
    const QJsonDocument document = parseDocument(body);
    if (!document.isArray())
        throw decodeError(u"it is not a list."_s);
    return document.array();
}

QJsonObject parseObject(const QByteArray &body) {
    const QJsonDocument document = parseDocument(body);
    if (!document.isObject())
        throw decodeError(u"it is not an object."_s);
    return document.object();
}

} // namespace tallybrook::json
