#pragma once

#include "http/HttpMessage.h"

#include <QByteArray>
#include <QString>

namespace tbserver::rest {

// An error answer in the hosted REST service's shape: {"code","details","hint","message"}, absent parts null.
[[nodiscard]] HttpResponse errorResponse(int status, const QByteArray &code, const QString &message,
                                         const QString &details = {}, const QString &hint = {});

// Throws HttpFailure with that answer.
[[noreturn]] void fail(int status, const QByteArray &code, const QString &message,
                       const QString &details = {}, const QString &hint = {});

// 400 42703 "column <table>.<name> does not exist".
[[noreturn]] void unknownColumn(const QByteArray &table, QByteArrayView name);
// 400 PGRST100 for a query parameter that does not parse; `what` is "filter", "order", "select parameter".
[[noreturn]] void parseFailure(const QByteArray &what, QByteArrayView text, const QString &details);

// Plain UTF-8 to QString, for messages.
[[nodiscard]] inline QString text(QByteArrayView utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace tbserver::rest
