#include "http/HttpMessage.h"

namespace tbserver {

namespace {

QByteArray findHeader(const HeaderList &headers, QByteArrayView name) {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const {
    return findHeader(headers, name);
}

bool HttpRequest::hasHeader(QByteArrayView name) const {
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

HttpResponse &HttpResponse::setHeader(const QByteArray &name, const QByteArray &value) {
    for (auto &[key, existing] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            existing = value;
            return *this;
        }
    }
    headers.append({name, value});
    return *this;
}

QByteArray HttpResponse::header(QByteArrayView name) const {
    return findHeader(headers, name);
}

HttpResponse HttpResponse::json(int status, const QJsonDocument &document) {
    return jsonText(status, document.toJson(QJsonDocument::Compact));
}

HttpResponse HttpResponse::jsonText(int status, QByteArray body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers.append(
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json; charset=utf-8")});
    return response;
}

HttpResponse HttpResponse::html(int status, QByteArray body) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    response.headers.append(
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("text/html; charset=utf-8")});
    return response;
}

HttpResponse HttpResponse::empty(int status) {
    HttpResponse response;
    response.status = status;
    return response;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 201:
        return QByteArrayLiteral("Created");
    case 204:
        return QByteArrayLiteral("No Content");
    case 206:
        return QByteArrayLiteral("Partial Content");
    case 302:
        return QByteArrayLiteral("Found");
    case 303:
        return QByteArrayLiteral("See Other");
    case 304:
        return QByteArrayLiteral("Not Modified");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 401:
        return QByteArrayLiteral("Unauthorized");
    case 403:
        return QByteArrayLiteral("Forbidden");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 405:
        return QByteArrayLiteral("Method Not Allowed");
    case 406:
        return QByteArrayLiteral("Not Acceptable");
    case 409:
        return QByteArrayLiteral("Conflict");
    case 413:
        return QByteArrayLiteral("Payload Too Large");
    case 416:
        return QByteArrayLiteral("Range Not Satisfiable");
    case 422:
        return QByteArrayLiteral("Unprocessable Entity");
    case 429:
        return QByteArrayLiteral("Too Many Requests");
    case 431:
        return QByteArrayLiteral("Request Header Fields Too Large");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    case 501:
        return QByteArrayLiteral("Not Implemented");
    case 503:
        return QByteArrayLiteral("Service Unavailable");
    default:
        return QByteArrayLiteral("Status");
    }
}

} // namespace tbserver
