#include "http/HttpServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace tbserver {

namespace {

// A connection that says nothing for this long is closed.
constexpr int idleMilliseconds = 120'000;
constexpr const char *bufferProperty = "tbserver.buffer";

QByteArray httpDate() {
    return QLocale::c()
        .toString(QDateTime::currentDateTimeUtc(), u"ddd, dd MMM yyyy HH:mm:ss 'GMT'")
        .toLatin1();
}

} // namespace

QByteArray serializeResponse(const HttpResponse &response, bool headRequest, bool keepAlive) {
    const bool bodyless = headRequest || response.status == 204 || response.status == 304;
    QByteArray out;
    out.reserve(256 + (bodyless ? 0 : response.body.size()));
    out += "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : response.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0 ||
            name.compare("Connection", Qt::CaseInsensitive) == 0) {
            continue;
        }
        out += name + ": " + value + "\r\n";
    }
    out += "Date: " + httpDate() + "\r\n";
    if (response.status != 204 && response.status != 304) {
        out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    }
    out += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    out += "\r\n";
    if (!bodyless) {
        out += response.body;
    }
    return out;
}

HttpServer::HttpServer(Handler handler, ParserLimits limits, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_limits(limits) {
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::accept);
}

HttpServer::~HttpServer() = default;

bool HttpServer::listen(const QHostAddress &address, quint16 port) {
    return m_server.listen(address, port);
}

void HttpServer::accept() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(idleMilliseconds);
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::disconnectFromHost);
        idle->start();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, idle] {
            idle->start();
            serve(socket);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpServer::serve(QTcpSocket *socket) {
    QByteArray buffer = socket->property(bufferProperty).toByteArray() + socket->readAll();
    while (socket->state() == QAbstractSocket::ConnectedState) {
        const ParseResult parsed = parseRequest(buffer, m_limits);
        if (parsed.state == ParseResult::State::Incomplete) {
            break;
        }
        if (parsed.state == ParseResult::State::Failed) {
            HttpResponse failure = HttpResponse::jsonText(
                parsed.failureStatus, R"({"message":")" + reasonPhrase(parsed.failureStatus) + "\"}");
            write(socket, nullptr, failure, false);
            buffer.clear();
            break;
        }
        buffer.remove(0, parsed.consumed);
        HttpRequest request = parsed.request;
        request.peer = socket->peerAddress().toString().toLatin1();
        QElapsedTimer timer;
        timer.start();
        HttpResponse response;
        try {
            response = m_handler(request);
        } catch (const HttpFailure &failure) {
            response = failure.response;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "internal error: %s\n", error.what());
            response = HttpResponse::jsonText(500, R"({"message":"Internal server error"})");
        }
        write(socket, &request, response, parsed.keepAlive);
        if (m_logging) {
            std::fprintf(stdout, "%s %s %d %.1fms\n", request.method.constData(), request.path.constData(),
                         response.status, double(timer.nsecsElapsed()) / 1e6);
            std::fflush(stdout);
        }
        if (!parsed.keepAlive) {
            break;
        }
    }
    socket->setProperty(bufferProperty, buffer);
}

void HttpServer::write(QTcpSocket *socket, const HttpRequest *request, const HttpResponse &response,
                       bool keepAlive) {
    socket->write(serializeResponse(response, request && request->method == "HEAD", keepAlive));
    if (!keepAlive) {
        socket->disconnectFromHost();
    }
}

} // namespace tbserver
