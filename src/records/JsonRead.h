#pragma once

#include "records/DeskError.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUuid>

#include <optional>

// Reading the server's JSON into records. Every helper throws DecodeError with a sentence the desk can show
// as is; none of them crashes on a body of the wrong shape.
namespace tallybrook::json {

// "The server's answer could not be read: <detail>"
[[nodiscard]] DecodeError decodeError(const QString &detail);

// A record must be a JSON object; anything else fails.
[[nodiscard]] QJsonObject asObject(const QJsonValue &value);

// "Required" keys fail when missing or null; "optional" ones read missing or null as absent. A present value
// of the wrong JSON type fails either way.
[[nodiscard]] QString requiredText(const QJsonObject &object, QStringView key);
[[nodiscard]] std::optional<QString> optionalText(const QJsonObject &object, QStringView key);
[[nodiscard]] bool requiredBool(const QJsonObject &object, QStringView key);
[[nodiscard]] int requiredInt(const QJsonObject &object, QStringView key);
[[nodiscard]] QUuid requiredUuid(const QJsonObject &object, QStringView key);
[[nodiscard]] QJsonArray requiredArray(const QJsonObject &object, QStringView key);
[[nodiscard]] std::optional<QJsonArray> optionalArray(const QJsonObject &object, QStringView key);
[[nodiscard]] QJsonObject requiredObject(const QJsonObject &object, QStringView key);

// The elements of a list that must all be text; `key` names the list in the message.
[[nodiscard]] QStringList textList(const QJsonArray &array, QStringView key);
// An object whose values must all be text.
[[nodiscard]] QMap<QString, QString> textMap(const QJsonObject &object, QStringView key);

// Parse a whole body; fail on invalid JSON (including invalid UTF-8) or the wrong top-level type.
[[nodiscard]] QJsonArray parseArray(const QByteArray &body);
[[nodiscard]] QJsonObject parseObject(const QByteArray &body);

template<class T>
[[nodiscard]] QList<T> listOf(const QJsonArray &array) {
    QList<T> records;
    records.reserve(array.size());
    for (const QJsonValue element : array)
        records.append(T::fromJson(element));
    return records;
}

template<class T>
[[nodiscard]] QList<T> decodeArray(const QByteArray &body) {
    return listOf<T>(parseArray(body));
}

template<class T>
[[nodiscard]] T decodeObject(const QByteArray &body) {
    return T::fromJson(parseObject(body));
}

} // namespace tallybrook::json
