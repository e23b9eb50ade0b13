#include "support/ScriptedHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <utility>

using namespace std::chrono_literals;

namespace tallybrook::testing {

namespace {

bool sameName(QByteArrayView a, QByteArrayView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The first request in `data` and the bytes it took, 0 while it is incomplete. A pure function, so that
// framing stays in one place; it reads what Qt's client sends and records anything else as it comes.
std::pair<RecordedRequest, qsizetype> parseRequest(const QByteArray &data) {
    const qsizetype headerEnd = data.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        return {};
    }
    QList<QByteArray> lines = data.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.contains('?') ? target.indexOf('?') : target.size();
    RecordedRequest request{requestLine.value(0), target.left(question), target.mid(question + 1), {}, {}};
    qint64 length = 0;
    for (const QByteArray &line : std::as_const(lines)) {
        const qsizetype colon = line.indexOf(':');
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        if (sameName(request.headers.constLast().first, "Content-Length")) {
            length = std::max<qint64>(0, request.headers.constLast().second.toLongLong());
        }
    }
    const qsizetype end = headerEnd + 4 + length;
    if (data.size() < end) {
        return {};
    }
    request.body = data.mid(headerEnd + 4, length);
    return {request, end};
}

// The answer as sent, declaring `promised` bytes of body, which only a broken answer sets apart from `body`.
// The reason phrase is left out: it is optional, and no client here reads it.
QByteArray message(const ScriptedAnswer &answer, qint64 promised, const QByteArray &body) {
    QByteArray message = "HTTP/1.1 " + QByteArray::number(answer.status) + " \r\n";
    for (const auto &[name, value] : answer.headers) {
        if (!sameName(name, "Content-Length")) {
            message += name + ": " + value + "\r\n";
        }
    }
    // 1xx, 204 and 304 answers never carry a body.
    const bool mayHaveBody = answer.status >= 200 && answer.status != 204 && answer.status != 304;
    if (mayHaveBody) {
        message += "Content-Length: " + QByteArray::number(promised) + "\r\n";
    }
    return message + "\r\n" + (mayHaveBody ? body : QByteArray());
}

} // namespace

QByteArray RecordedRequest::header(QByteArrayView name) const {
    const auto it = std::find_if(headers.cbegin(), headers.cend(),
                                 [name](const auto &header) { return sameName(header.first, name); });
    return it == headers.cend() ? QByteArray() : it->second;
}

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent), m_listener(new QTcpServer(this)) {
    connect(m_listener, &QTcpServer::newConnection, this, &ScriptedHttpServer::acceptConnections);
    if (!m_listener->listen(QHostAddress::LocalHost, 0)) {
        qFatal("ScriptedHttpServer: cannot listen on 127.0.0.1: %s", qPrintable(m_listener->errorString()));
    }
}

ScriptedHttpServer::~ScriptedHttpServer() {
    m_listener->close();
    // Detach first: aborting emits disconnected(), which must not call back into a dying server.
    for (const auto &[socket, connection] : m_connections) {
        socket->disconnect(this);
        socket->abort();
    }
}

QUrl ScriptedHttpServer::baseUrl() const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_listener->serverPort()));
}

bool ScriptedHttpServer::waitForRequests(int count, int timeoutMs) {
    return QTest::qWaitFor([this, count] { return m_requests.size() >= count; }, timeoutMs);
}

void ScriptedHttpServer::acceptConnections() {
    // Accepted sockets are the listener's children. A signal of a deleted socket never arrives; a delayed
    // answer holds a QPointer, and a forgotten socket is no longer in m_connections.
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        m_connections.emplace(socket, Connection{});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { forget(socket); });
        serve(socket);
    }
}

void ScriptedHttpServer::serve(QTcpSocket *socket) {
    for (auto it = m_connections.find(socket); it != m_connections.end() && !it->second.busy;
         it = m_connections.find(socket)) {
        it->second.buffer += socket->readAll();
        auto [request, consumed] = parseRequest(it->second.buffer);
        if (consumed == 0) {
            return;
        }
        it->second.buffer.remove(0, consumed);
        it->second.busy = true;
        ScriptedAnswer answer = ScriptedAnswer::json(500, R"({"message":"no scripted answer"})");
        if (!m_queue.isEmpty()) {
            answer = m_queue.dequeue();
        } else if (m_handler) {
            answer = m_handler(request);
        } else {
            qWarning("ScriptedHttpServer: no scripted answer for %s %s", request.method.constData(),
                     request.path.constData());
        }
        m_requests.append(std::move(request));

        // A slot may spin the event loop or even delete this server; nothing is held across the emit.
        const QPointer<ScriptedHttpServer> self(this);
        Q_EMIT requestReceived();
        if (!self) {
            return;
        }
        if (answer.delay > 0ms) {
            // A deleted socket reads as null here, which neither function finds.
            return QTimer::singleShot(answer.delay, Qt::PreciseTimer, this,
                                      [this, socket = QPointer(socket), answer] {
                                          carryOut(socket, answer);
                                          serve(socket);
                                      });
        }
        carryOut(socket, answer);
    }
}

void ScriptedHttpServer::carryOut(QTcpSocket *socket, const ScriptedAnswer &answer) {
    const auto it = m_connections.find(socket);
    // Gone when the client went away while the answer was delayed.
    if (it == m_connections.end() || answer.action == ScriptedAnswer::Action::Hang) {
        return;
    }
    const qsizetype size = answer.body.size();
    if (answer.action == ScriptedAnswer::Action::DropMidBody) {
        // An empty body still has to promise something, or the answer would be complete.
        socket->write(message(answer, std::max<qsizetype>(size, 1), answer.body.left(size / 2)));
        socket->disconnectFromHost(); // unlike abort(), sends what was written first
    } else {
        it->second.busy = false;
        socket->write(message(answer, size, answer.body));
    }
}

void ScriptedHttpServer::forget(QTcpSocket *socket) {
    if (m_connections.erase(socket) > 0) {
        socket->disconnect(this);
        // Usually called from one of the socket's own signals, where deleting it outright is unsafe.
        socket->deleteLater();
    }
}

} // namespace tallybrook::testing
