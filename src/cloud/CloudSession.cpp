#include "cloud/CloudSession.h"

#include "records/DeskError.h"
#include "records/JsonRead.h"
#include "records/Uuid.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <cmath>

namespace tallybrook {

namespace {

// The stored form counts seconds from this instant, as the stores of our other apps do.
const QDateTime &storedEpoch() {
    static const QDateTime epoch(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return epoch;
}

} // namespace

CloudSession CloudSession::fromTokenResponse(const QJsonValue &json, const QDateTime &now) {
    const QJsonObject object = json::asObject(json);
    const QJsonObject user = json::requiredObject(object, u"user");
    CloudSession session;
    session.accessToken = json::requiredText(object, u"access_token");
    session.refreshToken = json::requiredText(object, u"refresh_token");
    session.expiresAt = now.addSecs(json::requiredInt(object, u"expires_in"));
    session.userID = json::requiredUuid(user, u"id");
    session.email = json::optionalText(user, u"email").value_or(QString());
    return session;
}

QByteArray CloudSession::toStoredForm() const {
    const QJsonObject object{
        {QStringLiteral("accessToken"), accessToken},
        {QStringLiteral("refreshToken"), refreshToken},
        {QStringLiteral("expiresAt"), double(storedEpoch().msecsTo(expiresAt)) / 1000.0},
        {QStringLiteral("userID"), uuidUpper(userID)},
        {QStringLiteral("email"), email},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<CloudSession> CloudSession::fromStoredForm(const QByteArray &data) {
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue access = object.value(u"accessToken");
    const QJsonValue refresh = object.value(u"refreshToken");
    const QJsonValue expires = object.value(u"expiresAt");
    const QJsonValue user = object.value(u"userID");
    const QJsonValue email = object.value(u"email");
    if (!access.isString() || !refresh.isString() || !expires.isDouble() || !user.isString() ||
        !email.isString() || !std::isfinite(expires.toDouble()) || std::abs(expires.toDouble()) > 1e11) {
        return std::nullopt;
    }
    const auto userID = parseUuid(user.toString());
    if (!userID) {
        return std::nullopt;
    }
    return CloudSession{access.toString(), refresh.toString(),
                        storedEpoch().addMSecs(qint64(std::llround(expires.toDouble() * 1000.0))), *userID,
                        email.toString()};
}

} // namespace tallybrook
