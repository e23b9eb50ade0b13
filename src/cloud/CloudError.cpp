#include "cloud/CloudError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tallybrook {

CloudError::CloudError(Kind kind, int status, QString detail)
    : DeskError(describe(kind, status, detail)), m_kind(kind), m_status(status), m_detail(std::move(detail)) {
}

CloudError CloudError::server(int status, QString message) {
    return {Kind::Server, status, std::move(message)};
}

CloudError CloudError::network(QString message) {
    return {Kind::Network, 0, std::move(message)};
}

CloudError CloudError::wrongCredentials() {
    return {Kind::WrongCredentials, 0, {}};
}

CloudError CloudError::emailNotConfirmed() {
    return {Kind::EmailNotConfirmed, 0, {}};
}

CloudError CloudError::accountExists() {
    return {Kind::AccountExists, 0, {}};
}

CloudError CloudError::signedOut() {
    return {Kind::SignedOut, 0, {}};
}

QString CloudError::describe(Kind kind, int status, const QString &detail) {
    switch (kind) {
    case Kind::Server:
        return detail.isEmpty() ? QStringLiteral("The server answered %1.").arg(status) : detail;
    case Kind::Network:
        return detail;
    case Kind::WrongCredentials:
        return QStringLiteral("That email and password combination did not work.");
    case Kind::EmailNotConfirmed:
        return QStringLiteral(
            "Confirm your email first. Check your inbox for the link we sent when you signed up.");
    case Kind::AccountExists:
        return QStringLiteral("There's already an account for that email. Sign in with it instead.");
    case Kind::SignedOut:
        return QStringLiteral("Your session ended. Please sign in again.");
    }
    return detail;
}

namespace {

QJsonObject objectOrEmpty(const QByteArray &body) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? document.object() : QJsonObject{};
}

} // namespace

CloudError parseServerError(int status, const QByteArray &body) {
    const QJsonObject object = objectOrEmpty(body);

    QString code;
    if (object.value(u"error_code").isString()) {
        code = object.value(u"error_code").toString();
    } else if (object.value(u"error").isString()) {
        code = object.value(u"error").toString();
    }

    QString message;
    for (const auto key : {u"msg", u"error_description", u"message", u"error"}) {
        if (const QJsonValue value = object.value(QStringView(key)); value.isString()) {
            message = value.toString();
            break;
        }
    }

    if (code == u"invalid_credentials") {
        return CloudError::wrongCredentials();
    }
    if (code == u"invalid_grant" && message.contains(u"credentials", Qt::CaseInsensitive)) {
        return CloudError::wrongCredentials();
    }
    if (code == u"email_not_confirmed") {
        return CloudError::emailNotConfirmed();
    }
    if (code == u"user_already_exists" || code == u"email_exists") {
        return CloudError::accountExists();
    }
    return CloudError::server(status, message);
}

CloudError parseWebsiteError(int status, const QByteArray &body) {
    const QJsonValue error = objectOrEmpty(body).value(u"error");
    return CloudError::server(status, error.isString() ? error.toString() : QString());
}

} // namespace tallybrook
