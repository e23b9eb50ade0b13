#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace tallybrook::testing {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One request as it arrived on the wire. Nothing is decoded or normalised, so that tests can
// assert on exactly what the client sent.
struct RecordedRequest {
    QByteArray method;
    QByteArray path;     // still percent-encoded, without the query
    QByteArray rawQuery; // exactly as sent after '?', empty if none
    HeaderList headers;  // in arrival order, names as sent, values without surrounding blanks
    QByteArray body;

    // Value of the first header with this name, compared case-insensitively; empty if absent.
    [[nodiscard]] QByteArray header(QByteArrayView name) const;
};

// Hang never answers: the connection stays open until the client or server gives up. DropMidBody sends the
// headers with the full Content-Length and half the body, then closes. (A connection closed before any byte
// of the answer is not offered: Qt's client resends the request then, even a POST.)
struct ScriptedAnswer {
    enum class Action { Answer, Hang, DropMidBody };

    int status = 200;
    HeaderList headers; // Content-Length is always computed by the server
    QByteArray body;
    std::chrono::milliseconds delay{0}; // applies to every action
    Action action = Action::Answer;

    [[nodiscard]] static ScriptedAnswer json(int status, QByteArray body, HeaderList extraHeaders = {}) {
        return {status, HeaderList{{"Content-Type", "application/json"}} + extraHeaders, std::move(body)};
    }
    [[nodiscard]] static ScriptedAnswer hang() { return {.action = Action::Hang}; }
    [[nodiscard]] static ScriptedAnswer dropMidBody(int status, QByteArray body) {
        return {.status = status, .body = std::move(body), .action = Action::DropMidBody};
    }
    [[nodiscard]] ScriptedAnswer delayedBy(std::chrono::milliseconds by) const {
        ScriptedAnswer answer = *this;
        answer.delay = by;
        return answer;
    }
};

// A loopback HTTP/1.1 server on an OS-chosen port that records every request and answers from a
// script: queued answers first, then the handler, else 500 {"message":"no scripted answer"}.
// Connections are kept alive and served in parallel.
class ScriptedHttpServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScriptedHttpServer)

public:
    using Handler = std::function<ScriptedAnswer(const RecordedRequest &)>;

    explicit ScriptedHttpServer(QObject *parent = nullptr);
    ~ScriptedHttpServer() override;

    [[nodiscard]] QUrl baseUrl() const;

    void enqueue(ScriptedAnswer answer) { m_queue.enqueue(std::move(answer)); }
    void setHandler(Handler handler) { m_handler = std::move(handler); }

    [[nodiscard]] QList<RecordedRequest> requests() const { return m_requests; }
    [[nodiscard]] int requestCount() const { return int(m_requests.size()); }
    void clearRequests() { m_requests.clear(); }
    // Runs the event loop until at least `count` requests have been recorded.
    [[nodiscard]] bool waitForRequests(int count, int timeoutMs = 5000);

    // Connections currently open, whether idle, answering or hanging.
    [[nodiscard]] int openConnectionCount() const { return int(m_connections.size()); }

Q_SIGNALS:
    // After the request is recorded and its answer chosen, before the answer is sent.
    void requestReceived();

private:
    struct Connection {
        QByteArray buffer; // received bytes not yet parsed into a request
        bool busy = false; // an answer is delayed, hanging or closing the connection; later requests wait
    };

    void acceptConnections();
    void serve(QTcpSocket *socket);
    void carryOut(QTcpSocket *socket, const ScriptedAnswer &answer);
    void forget(QTcpSocket *socket);

    QTcpServer *m_listener = nullptr;
    std::map<QTcpSocket *, Connection> m_connections;
    QQueue<ScriptedAnswer> m_queue;
    Handler m_handler;
    QList<RecordedRequest> m_requests;
};

} // namespace tallybrook::testing
