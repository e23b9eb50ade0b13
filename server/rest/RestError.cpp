#include "rest/RestError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tbserver::rest {

namespace {

QJsonValue orNull(const QString &text) {
    return text.isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

HttpResponse errorResponse(int status, const QByteArray &code, const QString &message, const QString &details,
                           const QString &hint) {
    const QJsonObject body{{QStringLiteral("code"), QString::fromLatin1(code)},
                           {QStringLiteral("details"), orNull(details)},
                           {QStringLiteral("hint"), orNull(hint)},
                           {QStringLiteral("message"), message}};
    return HttpResponse::json(status, QJsonDocument(body));
}

void fail(int status, const QByteArray &code, const QString &message, const QString &details,
          const QString &hint) {
    throw HttpFailure{errorResponse(status, code, message, details, hint)};
}

void unknownColumn(const QByteArray &table, QByteArrayView name) {
    fail(400, "42703", QStringLiteral("column %1.%2 does not exist").arg(text(table), text(name)));
}

void parseFailure(const QByteArray &what, QByteArrayView input, const QString &details) {
    fail(400, "PGRST100",
         QStringLiteral("\"failed to parse %1 (%2)\" (line 1, column 1)").arg(text(what), text(input)),
         details);
}

} // namespace tbserver::rest
