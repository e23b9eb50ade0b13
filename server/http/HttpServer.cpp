#include "http/HttpServer.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace tbserver {

namespace {

// A connection that says nothing for this long is closed.
constexpr int idleMilliseconds = 120'000;
constexpr const char *bufferProperty = "tbserver.buffer";
// Set while a worker answers the connection's request; what arrives meanwhile waits in the buffer.
constexpr const char *busyProperty = "tbserver.busy";

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

void HttpServer::setWorkers(int workers, Offload offload, Handler workerHandler) {
    m_offload = std::move(offload);
    m_workerHandler = std::move(workerHandler);
    m_workers.setMaxThreadCount(workers);
    // Workers keep their threads, and with them whatever each thread set up for itself.
    m_workers.setExpiryTimeout(-1);
}

HttpResponse HttpServer::answer(const Handler &handler, const HttpRequest &request) {
    try {
        return handler(request);
    } catch (const HttpFailure &failure) {
        return failure.response;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "internal error: %s\n", error.what());
        return HttpResponse::jsonText(500, R"({"message":"Internal server error"})");
    }
}

void HttpServer::serve(QTcpSocket *socket) {
    QByteArray buffer = socket->property(bufferProperty).toByteArray() + socket->readAll();
    while (socket->state() == QAbstractSocket::ConnectedState && !socket->property(busyProperty).toBool()) {
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
        const bool keepAlive = parsed.keepAlive;
        if (m_offload && m_offload(request)) {
            socket->setProperty(busyProperty, true);
            const QPointer<QTcpSocket> connection(socket);
            m_workers.start([this, connection, request = std::move(request), keepAlive, timer] {
                HttpResponse response = answer(m_workerHandler, request);
                QMetaObject::invokeMethod(
                    this,
                    [this, connection, request, response = std::move(response), keepAlive, timer] {
                        if (!connection) {
                            return; // the client went away meanwhile
                        }
                        write(connection, &request, response, keepAlive);
                        log(request, response, timer.nsecsElapsed());
                        connection->setProperty(busyProperty, false);
                        if (keepAlive) {
                            serve(connection); // requests that came while this one was answered
                        }
                    },
                    Qt::QueuedConnection);
            });
            break;
        }
        const HttpResponse response = answer(m_handler, request);
        write(socket, &request, response, keepAlive);
        log(request, response, timer.nsecsElapsed());
        if (!keepAlive) {
            break;
        }
    }
    socket->setProperty(bufferProperty, buffer);
}

void HttpServer::log(const HttpRequest &request, const HttpResponse &response, qint64 nanoseconds) const {
    if (m_logging) {
        std::fprintf(stdout, "%s %s %d %.1fms\n", request.method.constData(), request.path.constData(),
                     response.status, double(nanoseconds) / 1e6);
        std::fflush(stdout);
    }
}

void HttpServer::write(QTcpSocket *socket, const HttpRequest *request, const HttpResponse &response,
                       bool keepAlive) {
    socket->write(serializeResponse(response, request && request->method == "HEAD", keepAlive));
    if (!keepAlive) {
        socket->disconnectFromHost();
    }
}

} // namespace tbserver
