#include "support/ScriptedHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

// Generous for any client under test, small enough that a runaway request fails fast instead of
// eating memory, and keeps offset arithmetic far from overflow.
constexpr qsizetype maxHeaderBytes = 64 * 1024;
constexpr qint64 maxBodyBytes = 256 * 1024 * 1024;

enum class ParseStatus { Incomplete, Complete, Malformed };

struct ParsedRequest {
    ParseStatus status = ParseStatus::Incomplete;
    RecordedRequest request;
    qsizetype consumed = 0;
    bool expectsContinue = false; // only meaningful while Incomplete
    bool keepAlive = true;
};

bool sameName(QByteArrayView a, QByteArrayView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

ParsedRequest malformed() {
    ParsedRequest result;
    result.status = ParseStatus::Malformed;
    return result;
}

// Decodes a chunked body starting at `pos`. Returns the offset just past the body, -1 while
// incomplete and -2 when the framing is broken.
qsizetype dechunk(const QByteArray &data, qsizetype pos, QByteArray &body) {
    for (;;) {
        const qsizetype lineEnd = data.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return -1;
        QByteArray sizeField = data.mid(pos, lineEnd - pos);
        if (const qsizetype extension = sizeField.indexOf(';'); extension >= 0)
            sizeField.truncate(extension);
        sizeField = sizeField.trimmed();
        bool ok = false;
        const qint64 size = sizeField.toLongLong(&ok, 16);
        if (!ok || sizeField.isEmpty() || sizeField.startsWith('+') || size < 0 ||
            size > maxBodyBytes - body.size())
            return -2;
        pos = lineEnd + 2;
        if (size == 0)
            break;
        if (data.size() < pos + size + 2)
            return -1;
        if (QByteArrayView(data).sliced(pos + size, 2) != "\r\n")
            return -2;
        body.append(QByteArrayView(data).sliced(pos, size));
        pos += size + 2;
    }
    // Trailer fields are skipped up to the blank line that ends the message.
    for (;;) {
        const qsizetype lineEnd = data.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return -1;
        const bool blank = lineEnd == pos;
        pos = lineEnd + 2;
        if (blank)
            return pos;
    }
}

// Parses the first request in `data`; a pure function so that framing faults stay in one place.
ParsedRequest parseRequest(const QByteArray &data) {
    // A client may send stray blank lines between requests; they are ignored.
    qsizetype start = 0;
    while (QByteArrayView(data).sliced(start).startsWith("\r\n"))
        start += 2;

    const qsizetype headerEnd = data.indexOf("\r\n\r\n", start);
    if (headerEnd < 0) {
        if (data.size() - start > maxHeaderBytes)
            return malformed();
        ParsedRequest incomplete;
        return incomplete;
    }

    // Lines end in CRLF; a bare CR or LF inside one is refused rather than guessed at.
    QList<QByteArrayView> lines;
    for (qsizetype pos = start; pos <= headerEnd;) {
        const qsizetype lineEnd = data.indexOf("\r\n", pos);
        const QByteArrayView line = QByteArrayView(data).sliced(pos, lineEnd - pos);
        if (line.contains('\r') || line.contains('\n'))
            return malformed();
        lines.append(line);
        pos = lineEnd + 2;
    }

    const QList<QByteArray> requestLine = lines.first().toByteArray().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty())
        return malformed();
    const QByteArray &version = requestLine[2];
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return malformed();

    ParsedRequest result;
    RecordedRequest &request = result.request;
    request.method = requestLine[0];
    const QByteArray &target = requestLine[1];
    if (const qsizetype question = target.indexOf('?'); question >= 0) {
        request.path = target.left(question);
        request.rawQuery = target.mid(question + 1);
    } else {
        request.path = target;
    }

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines[i];
        // Folded continuation lines are obsolete and a classic smuggling vector; refuse them.
        if (line.startsWith(' ') || line.startsWith('\t'))
            return malformed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return malformed();
        const QByteArrayView name = line.first(colon);
        if (name.contains(' ') || name.contains('\t'))
            return malformed();
        request.headers.append({name.toByteArray(), line.sliced(colon + 1).trimmed().toByteArray()});
    }

    const QByteArray connection = request.header("Connection").toLower();
    result.keepAlive =
        version == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");

    const qsizetype bodyStart = headerEnd + 4;
    qsizetype bodyEnd = bodyStart;
    if (request.hasHeader("Transfer-Encoding")) {
        if (!request.header("Transfer-Encoding").toLower().endsWith("chunked"))
            return malformed();
        bodyEnd = dechunk(data, bodyStart, request.body);
        if (bodyEnd == -2)
            return malformed();
    } else {
        qint64 length = -1;
        for (const auto &[name, value] : std::as_const(request.headers)) {
            if (!sameName(name, "Content-Length"))
                continue;
            bool ok = false;
            const qint64 declared = value.toLongLong(&ok);
            if (!ok || value.startsWith('+') || declared < 0 || declared > maxBodyBytes ||
                (length >= 0 && declared != length))
                return malformed();
            length = declared;
        }
        if (length > 0) {
            bodyEnd = data.size() - bodyStart >= length ? bodyStart + length : -1;
            if (bodyEnd >= 0)
                request.body = data.mid(bodyStart, length);
        }
    }

    if (bodyEnd < 0) {
        result.status = ParseStatus::Incomplete;
        result.expectsContinue = sameName(request.header("Expect"), "100-continue");
        return result;
    }
    result.status = ParseStatus::Complete;
    result.consumed = bodyEnd;
    return result;
}

QByteArray reasonPhrase(int status) {
    static constexpr std::pair<int, const char *> phrases[] = {
        {100, "Continue"},
        {200, "OK"},
        {201, "Created"},
        {202, "Accepted"},
        {204, "No Content"},
        {206, "Partial Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"},
        {422, "Unprocessable Content"},
        {425, "Too Early"},
        {428, "Precondition Required"},
        {429, "Too Many Requests"},
        {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    for (const auto &[code, phrase] : phrases) {
        if (code == status)
            return phrase;
    }
    if (status < 200)
        return "Informational";
    if (status < 300)
        return "Success";
    if (status < 400)
        return "Redirection";
    if (status < 500)
        return "Client Error";
    return "Server Error";
}

bool mayHaveBody(int status) {
    return status >= 200 && status != 204 && status != 304;
}

// Status line and headers. Framing headers from the script are replaced, so that the declared
// length always matches what is sent unless a test asks for a broken answer.
QByteArray responseHead(int status, const HeaderList &headers, qint64 contentLength, bool close) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto &[name, value] : headers) {
        if (sameName(name, "Content-Length") || sameName(name, "Transfer-Encoding") ||
            sameName(name, "Connection"))
            continue;
        head += name + ": " + value + "\r\n";
    }
    if (mayHaveBody(status))
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    if (close)
        head += "Connection: close\r\n";
    head += "\r\n";
    return head;
}

bool asksToClose(const HeaderList &headers) {
    for (const auto &[name, value] : headers) {
        if (sameName(name, "Connection") && value.toLower().contains("close"))
            return true;
    }
    return false;
}

} // namespace

QByteArray RecordedRequest::header(QByteArrayView name) const {
    for (const auto &[headerName, value] : headers) {
        if (sameName(headerName, name))
            return value;
    }
    return {};
}

bool RecordedRequest::hasHeader(QByteArrayView name) const {
    return std::any_of(headers.cbegin(), headers.cend(),
                       [name](const auto &header) { return sameName(header.first, name); });
}

ScriptedAnswer ScriptedAnswer::json(int status, QByteArray body, HeaderList extraHeaders) {
    ScriptedAnswer answer;
    answer.status = status;
    answer.headers = {{"Content-Type", "application/json"}};
    answer.headers.append(std::move(extraHeaders));
    answer.body = std::move(body);
    return answer;
}

ScriptedAnswer ScriptedAnswer::hang() {
    ScriptedAnswer answer;
    answer.action = Action::Hang;
    return answer;
}

ScriptedAnswer ScriptedAnswer::drop() {
    ScriptedAnswer answer;
    answer.action = Action::DropBeforeAnswer;
    return answer;
}

ScriptedAnswer ScriptedAnswer::dropMidBody(int status, QByteArray body) {
    ScriptedAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    answer.action = Action::DropMidBody;
    return answer;
}

ScriptedAnswer ScriptedAnswer::delayedBy(std::chrono::milliseconds by) const {
    ScriptedAnswer answer = *this;
    answer.delay = by;
    return answer;
}

struct ScriptedHttpServer::Connection {
    QTcpSocket *socket = nullptr; // owned by the listener, which parents accepted sockets
    QByteArray buffer;            // received bytes not yet parsed into a request
    bool busy = false;            // an answer is delayed or hanging; later requests wait in the buffer
    bool closing = false;         // the connection is being closed; nothing more is read or answered
    bool continueSent = false;
};

ScriptedHttpServer::ScriptedHttpServer(QObject *parent) : QObject(parent), m_listener(new QTcpServer(this)) {
    connect(m_listener, &QTcpServer::newConnection, this, &ScriptedHttpServer::acceptConnections);
    if (!m_listener->listen(QHostAddress::LocalHost, 0))
        qFatal("ScriptedHttpServer: cannot listen on 127.0.0.1: %s", qPrintable(m_listener->errorString()));
}

ScriptedHttpServer::~ScriptedHttpServer() {
    m_listener->close();
    // Detach first: aborting emits disconnected(), which must not call back into a dying server.
    for (const auto &[id, connection] : m_connections) {
        connection->socket->disconnect(this);
        connection->socket->abort();
    }
    m_connections.clear();
}

QUrl ScriptedHttpServer::baseUrl() const {
    QUrl url;
    url.setScheme(u"http"_s);
    url.setHost(u"127.0.0.1"_s);
    url.setPort(port());
    return url;
}

quint16 ScriptedHttpServer::port() const {
    return m_listener->serverPort();
}

void ScriptedHttpServer::enqueue(ScriptedAnswer answer) {
    m_queue.enqueue(std::move(answer));
}

void ScriptedHttpServer::setHandler(Handler handler) {
    m_handler = std::move(handler);
}

int ScriptedHttpServer::pendingAnswerCount() const {
    return int(m_queue.size());
}

QList<RecordedRequest> ScriptedHttpServer::requests() const {
    return m_requests;
}

int ScriptedHttpServer::requestCount() const {
    return int(m_requests.size());
}

void ScriptedHttpServer::clearRequests() {
    m_requests.clear();
}

bool ScriptedHttpServer::waitForRequests(int count, int timeoutMs) {
    return QTest::qWaitFor([this, count] { return m_requests.size() >= count; }, timeoutMs);
}

int ScriptedHttpServer::openConnectionCount() const {
    return int(m_connections.size());
}

void ScriptedHttpServer::acceptConnections() {
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        const int id = ++m_lastConnectionId;
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        m_connections.emplace(id, std::move(connection));
        // Lambdas look the connection up by id, so a late signal or timer never touches a dead one.
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { forget(id); });
        readFrom(id);
    }
}

void ScriptedHttpServer::readFrom(int connectionId) {
    Connection *connection = find(connectionId);
    if (!connection)
        return;
    const QByteArray received = connection->socket->readAll();
    if (connection->closing)
        return;
    connection->buffer += received;
    serveBuffered(connectionId);
}

void ScriptedHttpServer::serveBuffered(int connectionId) {
    for (;;) {
        Connection *connection = find(connectionId);
        if (!connection || connection->busy || connection->closing)
            return;

        ParsedRequest parsed = parseRequest(connection->buffer);
        if (parsed.status == ParseStatus::Incomplete) {
            if (parsed.expectsContinue && !connection->continueSent) {
                connection->continueSent = true;
                connection->socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return;
        }
        if (parsed.status == ParseStatus::Malformed) {
            qWarning("ScriptedHttpServer: malformed request on connection %d", connectionId);
            const QByteArray body = R"({"message":"malformed request"})";
            connection->closing = true;
            connection->socket->write(
                responseHead(400, {{"Content-Type", "application/json"}}, body.size(), true) + body);
            connection->socket->disconnectFromHost();
            return;
        }

        connection->buffer.remove(0, parsed.consumed);
        connection->continueSent = false;
        connection->busy = true;
        parsed.request.connection = connectionId;
        const bool headRequest = parsed.request.method == "HEAD";
        const bool closeAfter = !parsed.keepAlive;
        const ScriptedAnswer answer = nextAnswerFor(parsed.request);
        m_requests.append(std::move(parsed.request));

        // A slot may spin the event loop or even delete this server; nothing is held across the emit.
        const QPointer<ScriptedHttpServer> self(this);
        Q_EMIT requestReceived();
        if (!self)
            return;

        if (answer.delay > 0ms) {
            QTimer::singleShot(answer.delay, Qt::PreciseTimer, this,
                               [this, connectionId, answer, headRequest, closeAfter] {
                                   carryOut(connectionId, answer, headRequest, closeAfter);
                                   serveBuffered(connectionId);
                               });
            return;
        }
        carryOut(connectionId, answer, headRequest, closeAfter);
    }
}

void ScriptedHttpServer::carryOut(int connectionId, const ScriptedAnswer &answer, bool headRequest,
                                  bool closeAfter) {
    Connection *connection = find(connectionId);
    if (!connection)
        return; // the client went away while the answer was delayed
    QTcpSocket *socket = connection->socket;

    switch (answer.action) {
    case ScriptedAnswer::Action::Hang:
        return;
    case ScriptedAnswer::Action::DropBeforeAnswer:
        connection->closing = true;
        socket->abort();
        forget(connectionId);
        return;
    case ScriptedAnswer::Action::DropMidBody: {
        connection->closing = true;
        // An empty body still has to promise something, or the answer would be complete.
        const qint64 promised = std::max<qint64>(answer.body.size(), 1);
        socket->write(responseHead(answer.status, answer.headers, promised, false));
        socket->write(answer.body.left(answer.body.size() / 2));
        // Unlike abort(), this sends what was written before closing.
        socket->disconnectFromHost();
        return;
    }
    case ScriptedAnswer::Action::Answer:
        break;
    }

    const bool close = closeAfter || asksToClose(answer.headers);
    socket->write(responseHead(answer.status, answer.headers, answer.body.size(), close));
    if (mayHaveBody(answer.status) && !headRequest)
        socket->write(answer.body);
    connection->busy = false;
    if (close) {
        connection->closing = true;
        socket->disconnectFromHost();
    }
}

void ScriptedHttpServer::forget(int connectionId) {
    const auto it = m_connections.find(connectionId);
    if (it == m_connections.end())
        return;
    QTcpSocket *socket = it->second->socket;
    m_connections.erase(it);
    socket->disconnect(this);
    // Usually called from one of the socket's own signals, where deleting it outright is unsafe.
    socket->deleteLater();
}

ScriptedHttpServer::Connection *ScriptedHttpServer::find(int connectionId) const {
    const auto it = m_connections.find(connectionId);
    return it == m_connections.end() ? nullptr : it->second.get();
}

ScriptedAnswer ScriptedHttpServer::nextAnswerFor(const RecordedRequest &request) {
    if (!m_queue.isEmpty())
        return m_queue.dequeue();
    if (m_handler)
        return m_handler(request);
    qWarning("ScriptedHttpServer: no scripted answer for %s %s", request.method.constData(),
             request.path.constData());
    return ScriptedAnswer::json(500, R"({"message":"no scripted answer"})");
}

} // namespace tallybrook::testing
