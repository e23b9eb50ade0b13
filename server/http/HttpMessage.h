#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QList>

#include <utility>

namespace tbserver {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One parsed request. `path` and `rawQuery` are exactly as on the wire (still percent-encoded).
struct HttpRequest {
    QByteArray method;
    QByteArray path;
    QByteArray rawQuery;
    HeaderList headers;
    QByteArray body;
    QByteArray peer;

    // Case-insensitive; empty when absent.
    [[nodiscard]] QByteArray header(QByteArrayView name) const;
    [[nodiscard]] bool hasHeader(QByteArrayView name) const;
};

struct HttpResponse {
    int status = 200;
    HeaderList headers;
    QByteArray body;

    HttpResponse &setHeader(const QByteArray &name, const QByteArray &value);
    [[nodiscard]] QByteArray header(QByteArrayView name) const;

    [[nodiscard]] static HttpResponse json(int status, const QJsonDocument &document);
    // A body that is already JSON text.
    [[nodiscard]] static HttpResponse jsonText(int status, QByteArray body);
    [[nodiscard]] static HttpResponse html(int status, QByteArray body);
    [[nodiscard]] static HttpResponse empty(int status);
};

// Thrown by a handler to answer at once; the router turns it into the response.
struct HttpFailure {
    HttpResponse response;
};

[[nodiscard]] QByteArray reasonPhrase(int status);

} // namespace tbserver
