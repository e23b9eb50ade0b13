#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSet>
#include <QTcpSocket>
#include <QTest>
#include <qcoronetworkreply.h>

#include <memory>
#include <stdexcept>
#include <vector>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// What the client saw of one exchange.
struct Exchange {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0; // 0 when no HTTP answer arrived
    QByteArray reason;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray body;
    std::chrono::milliseconds elapsed{0};

    [[nodiscard]] QByteArray header(const QByteArray &name) const {
        for (const auto &[headerName, value] : headers) {
            if (headerName.compare(name, Qt::CaseInsensitive) == 0)
                return value;
        }
        return {};
    }
};

QCoro::Task<Exchange> exchange(QNetworkAccessManager &nam, QNetworkRequest request, QByteArray method,
                               QByteArray body = {}) {
    QElapsedTimer clock;
    clock.start();
    // Qt only knows that a HEAD answer has no body when the request was made with head().
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(
        method == "HEAD" ? nam.head(request) : nam.sendCustomRequest(request, method, body));
    co_await reply.get();
    Exchange result;
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    result.headers = reply->rawHeaderPairs();
    if (reply->isOpen())
        result.body = reply->readAll();
    result.elapsed = std::chrono::milliseconds(clock.elapsed());
    co_return result;
}

QCoro::Task<> failAfterAwaiting(QNetworkAccessManager &nam, QNetworkRequest request) {
    co_await exchange(nam, std::move(request), "GET");
    throw std::runtime_error("failed on purpose");
}

QByteArray summary(const RecordedRequest &request) {
    return request.method + ' ' + request.path + '?' + request.rawQuery + " body=" + request.body;
}

// Large enough to span many socket reads, and not periodic, so a shifted or repeated chunk shows.
QByteArray threeMegabytes() {
    QByteArray data(3 * 1024 * 1024, Qt::Uninitialized);
    quint32 state = 2463534242u;
    for (char &byte : data) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state & 0xff);
    }
    return data;
}

} // namespace

class TestScriptedHttpServer final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void recordsRequestsAsSent_data();
    void recordsRequestsAsSent();
    void recordsHeadersInOrder();
    void servesQueuedAnswersInOrder();
    void fallsBackToHandlerThenToError();
    void keepsConnectionAlive();
    void servesParallelConnections();
    void delaysAnswer();
    void hangsUntilClientGivesUp();
    void dropsConnection_data();
    void dropsConnection();
    void survivesClientLeavingDuringDelay();
    void destructionClosesHangingConnections();
    void carriesThreeMegabytesBothWays();
    void parsesRawWire_data();
    void parsesRawWire();
    void rejectsMalformedRequests_data();
    void rejectsMalformedRequests();
    void answersExpectContinue();
    void runTaskRethrowsAndGivesUp();

private:
    [[nodiscard]] QNetworkRequest request(const QByteArray &target,
                                          std::chrono::milliseconds timeout = 5s) const;
    [[nodiscard]] std::optional<Exchange> send(const QByteArray &method, const QByteArray &target,
                                               const QByteArray &body = {});

    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

void TestScriptedHttpServer::init() {
    m_server = std::make_unique<ScriptedHttpServer>();
    m_nam = std::make_unique<QNetworkAccessManager>();
}

void TestScriptedHttpServer::cleanup() {
    m_nam.reset();
    m_server.reset();
}

QNetworkRequest TestScriptedHttpServer::request(const QByteArray &target,
                                                std::chrono::milliseconds timeout) const {
    QNetworkRequest request(QUrl::fromEncoded(m_server->baseUrl().toEncoded() + target, QUrl::StrictMode));
    request.setTransferTimeout(int(timeout.count()));
    return request;
}

std::optional<Exchange> TestScriptedHttpServer::send(const QByteArray &method, const QByteArray &target,
                                                     const QByteArray &body) {
    return runTask(exchange(*m_nam, request(target), method, body));
}

void TestScriptedHttpServer::recordsRequestsAsSent_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("rawQuery");

    const QByteArray json = u"{\"name\":\"Zoë Łukasz 🎉\"}"_s.toUtf8();
    QTest::newRow("GET without query") << "GET"_ba
                                       << "/rest/v1/visitors"_ba
                                       << ""_ba
                                       << "/rest/v1/visitors"_ba
                                       << ""_ba;
    QTest::newRow("escapes in query stay encoded")
        << "GET"_ba
        << "/rest/v1/visitors?name=ilike.*Zo%C3%AB%2B*&note=100%25&select=id,name"_ba
        << ""_ba
        << "/rest/v1/visitors"_ba
        << "name=ilike.*Zo%C3%AB%2B*&note=100%25&select=id,name"_ba;
    QTest::newRow("escapes in path stay encoded") << "GET"_ba
                                                  << "/i/ab%2Fcd%20%C5%81ukasz"_ba
                                                  << ""_ba
                                                  << "/i/ab%2Fcd%20%C5%81ukasz"_ba
                                                  << ""_ba;
    QTest::newRow("POST with UTF-8 body") << "POST"_ba
                                          << "/rest/v1/visitors?select=*"_ba << json << "/rest/v1/visitors"_ba
                                          << "select=*"_ba;
    QTest::newRow("PATCH with body") << "PATCH"_ba
                                     << "/rest/v1/visitors?id=eq.7"_ba
                                     << "{}"_ba
                                     << "/rest/v1/visitors"_ba
                                     << "id=eq.7"_ba;
    QTest::newRow("DELETE") << "DELETE"_ba
                            << "/rest/v1/visitors?id=eq.7"_ba
                            << ""_ba
                            << "/rest/v1/visitors"_ba
                            << "id=eq.7"_ba;
}

void TestScriptedHttpServer::recordsRequestsAsSent() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, rawQuery);
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));

    const auto reply = send(method, target, body);

    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest recorded = m_server->requests().constFirst();
    QCOMPARE(recorded.method, method);
    QCOMPARE(recorded.path, path);
    QCOMPARE(recorded.rawQuery, rawQuery);
    QCOMPARE(recorded.body, body);
}

void TestScriptedHttpServer::recordsHeadersInOrder() {
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));
    QNetworkRequest request = this->request("/rest/v1/visitors");
    const HeaderList sent = {{"apikey", "sb_publishable_key"},
                             {"Authorization", "Bearer a.b.c"},
                             {"Prefer", "return=representation"},
                             {"X-Mixed-CASE", "Zoë"}};
    for (const auto &[name, value] : sent)
        request.setRawHeader(name, value);

    QVERIFY(runTask(exchange(*m_nam, request, "POST", "{}")));

    const RecordedRequest recorded = m_server->requests().constFirst();
    qsizetype previous = -1;
    for (const auto &header : sent) {
        const qsizetype at = recorded.headers.indexOf(header);
        QVERIFY2(at > previous, header.first.constData());
        previous = at;
    }
    QCOMPARE(recorded.header("authorization"), "Bearer a.b.c"_ba);
    QCOMPARE(recorded.header("x-mixed-case"), "Zoë"_ba);
    QVERIFY(recorded.hasHeader("HOST"));
    QCOMPARE(recorded.header("Content-Length"), "2"_ba);
    QVERIFY(!recorded.hasHeader("X-Absent"));
    QVERIFY(recorded.header("X-Absent").isEmpty());
}

void TestScriptedHttpServer::servesQueuedAnswersInOrder() {
    m_server->enqueue(
        ScriptedAnswer::json(201, R"([{"id":1}])", {{"Location", "/rest/v1/visitors?id=eq.1"}}));
    m_server->enqueue({.status = 404, .headers = {{"Content-Type", "text/plain"}}, .body = "nothing here"});
    m_server->enqueue({.status = 204});
    QCOMPARE(m_server->pendingAnswerCount(), 3);

    const auto created = send("POST", "/1", "{}");
    const auto missing = send("GET", "/2");
    const auto empty = send("DELETE", "/3");

    QVERIFY(created && missing && empty);
    QCOMPARE(created->status, 201);
    QCOMPARE(created->reason, "Created"_ba);
    QCOMPARE(created->header("Content-Type"), "application/json"_ba);
    QCOMPARE(created->header("Location"), "/rest/v1/visitors?id=eq.1"_ba);
    QCOMPARE(created->body, R"([{"id":1}])"_ba);
    QCOMPARE(missing->status, 404);
    QCOMPARE(missing->reason, "Not Found"_ba);
    QCOMPARE(missing->header("Content-Type"), "text/plain"_ba);
    QCOMPARE(missing->body, "nothing here"_ba);
    QCOMPARE(empty->status, 204);
    QCOMPARE(empty->reason, "No Content"_ba);
    QVERIFY(empty->body.isEmpty());
    QCOMPARE(m_server->pendingAnswerCount(), 0);
}

void TestScriptedHttpServer::fallsBackToHandlerThenToError() {
    m_server->setHandler(
        [](const RecordedRequest &request) { return ScriptedAnswer::json(202, request.path); });
    m_server->enqueue(ScriptedAnswer::json(200, "queued"));

    const auto queued = send("GET", "/first");
    const auto handled = send("GET", "/second");

    QVERIFY(queued && handled);
    QCOMPARE(queued->status, 200);
    QCOMPARE(queued->body, "queued"_ba);
    QCOMPARE(handled->status, 202);
    QCOMPARE(handled->body, "/second"_ba);

    m_server->setHandler({});
    QTest::ignoreMessage(QtWarningMsg, "ScriptedHttpServer: no scripted answer for GET /unscripted");
    const auto fallback = send("GET", "/unscripted?x=1");
    QVERIFY(fallback);
    QCOMPARE(fallback->status, 500);
    QCOMPARE(fallback->error, QNetworkReply::InternalServerError);
    QCOMPARE(fallback->header("Content-Type"), "application/json"_ba);
    QCOMPARE(fallback->body, R"({"message":"no scripted answer"})"_ba);
}

void TestScriptedHttpServer::keepsConnectionAlive() {
    // HEAD and 204 answers carry no body; a framing slip there would corrupt the next answer.
    m_server->setHandler([](const RecordedRequest &request) {
        if (request.path == "/empty")
            return ScriptedAnswer{.status = 204, .body = "never on the wire"};
        return ScriptedAnswer::json(200, request.method + ' ' + request.path);
    });

    const QList<std::pair<QByteArray, QByteArray>> sequence = {
        {"GET", "/a"}, {"HEAD", "/b"}, {"POST", "/c"}, {"DELETE", "/empty"}, {"GET", "/d"}};
    for (const auto &[method, path] : sequence) {
        const auto reply = send(method, path, method == "POST" ? "{}"_ba : QByteArray());
        QVERIFY(reply);
        QCOMPARE(reply->error, QNetworkReply::NoError);
        if (path == "/empty")
            QVERIFY(reply->body.isEmpty());
        else if (method == "HEAD")
            QCOMPARE(reply->header("Content-Length"), QByteArray::number(QByteArray("HEAD " + path).size()));
        else
            QCOMPARE(reply->body, QByteArray(method + ' ' + path));
    }

    QCOMPARE(m_server->requestCount(), int(sequence.size()));
    for (const RecordedRequest &recorded : m_server->requests())
        QCOMPARE(recorded.connection, 1);
    QCOMPARE(m_server->openConnectionCount(), 1);
}

void TestScriptedHttpServer::servesParallelConnections() {
    m_server->setHandler([](const RecordedRequest &request) {
        return ScriptedAnswer::json(200, request.path).delayedBy(200ms);
    });

    std::vector<QCoro::Task<Exchange>> pending;
    for (int i = 0; i < 6; ++i)
        pending.push_back(exchange(*m_nam, request("/visitor/" + QByteArray::number(i)), "GET"));
    for (int i = 0; i < 6; ++i) {
        const auto reply = runTask(std::move(pending[i]));
        QVERIFY(reply);
        QCOMPARE(reply->body, QByteArray("/visitor/" + QByteArray::number(i)));
    }

    QSet<int> connections;
    for (const RecordedRequest &recorded : m_server->requests())
        connections.insert(recorded.connection);
    QVERIFY2(connections.size() > 1, "the client should have spread delayed requests over connections");
}

void TestScriptedHttpServer::delaysAnswer() {
    m_server->enqueue(ScriptedAnswer::json(200, "late").delayedBy(300ms));
    auto pending = exchange(*m_nam, request("/slow"), "GET");

    QVERIFY(m_server->waitForRequests(1));
    const bool answeredBeforeRecorded = pending.isReady();
    const auto reply = runTask(std::move(pending));

    QVERIFY(!answeredBeforeRecorded);
    QVERIFY(reply);
    QCOMPARE(reply->body, "late"_ba);
    QVERIFY2(reply->elapsed >= 300ms, QByteArray::number(qint64(reply->elapsed.count())).constData());
}

void TestScriptedHttpServer::hangsUntilClientGivesUp() {
    m_server->enqueue(ScriptedAnswer::hang());

    const auto reply = runTask(exchange(*m_nam, request("/hang", 300ms), "GET"));

    QVERIFY(reply);
    QCOMPARE(reply->error, QNetworkReply::OperationCanceledError);
    QCOMPARE(reply->status, 0);
    // The client closed its side; the server must notice and let go of the connection.
    QTRY_COMPARE(m_server->openConnectionCount(), 0);
}

void TestScriptedHttpServer::dropsConnection_data() {
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<int>("expectedRequests");

    // Qt resends a request once, on a new connection, when the connection closes before any byte
    // of the answer arrived (even a POST), so a client only sees the failure after two drops.
    QTest::newRow("before answer") << ScriptedAnswer::drop() << 0 << 2;
    QTest::newRow("before answer, delayed") << ScriptedAnswer::drop().delayedBy(50ms) << 0 << 2;
    QTest::newRow("mid-body") << ScriptedAnswer::dropMidBody(200, QByteArray(1000, 'x')) << 200 << 1;
    QTest::newRow("mid-body, empty body") << ScriptedAnswer::dropMidBody(200, {}) << 200 << 1;
}

void TestScriptedHttpServer::dropsConnection() {
    QFETCH(ScriptedAnswer, answer);
    QFETCH(int, expectedStatus);
    QFETCH(int, expectedRequests);
    m_server->enqueue(answer);
    m_server->enqueue(answer);

    const auto reply = send("POST", "/rest/v1/visitors", "{}");

    QVERIFY(reply);
    QCOMPARE(reply->error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(reply->status, expectedStatus);
    QVERIFY(reply->body.size() < std::max<qsizetype>(answer.body.size(), 1));
    QCOMPARE(m_server->requestCount(), expectedRequests);
}

void TestScriptedHttpServer::survivesClientLeavingDuringDelay() {
    m_server->enqueue(ScriptedAnswer::json(200, "too late").delayedBy(400ms));
    const auto abandoned = runTask(exchange(*m_nam, request("/first", 100ms), "GET"));
    QVERIFY(abandoned);
    QCOMPARE(abandoned->error, QNetworkReply::OperationCanceledError);
    QTRY_COMPARE(m_server->openConnectionCount(), 0);

    // Outlasts the first delay, so its timer has fired against the closed connection by the end.
    m_server->enqueue(ScriptedAnswer::json(200, "second").delayedBy(500ms));
    const auto second = send("GET", "/second");

    QVERIFY(second);
    QCOMPARE(second->body, "second"_ba);
    QCOMPARE(m_server->requestCount(), 2);
}

void TestScriptedHttpServer::destructionClosesHangingConnections() {
    m_server->enqueue(ScriptedAnswer::hang());
    m_server->enqueue(ScriptedAnswer::json(200, "never sent").delayedBy(2s));
    auto hanging = exchange(*m_nam, request("/hang", 10s), "GET");
    auto delayed = exchange(*m_nam, request("/delayed", 10s), "GET");
    QVERIFY(m_server->waitForRequests(2));

    m_server.reset();

    const auto hangingReply = runTask(std::move(hanging), 5s);
    const auto delayedReply = runTask(std::move(delayed), 5s);
    QVERIFY(hangingReply && delayedReply);
    // Qt resends on a fresh connection first, so what it reports is the refused reconnect.
    QCOMPARE(hangingReply->error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(delayedReply->error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(hangingReply->status, 0);
    QCOMPARE(delayedReply->status, 0);
    QVERIFY(delayedReply->body.isEmpty());
}

void TestScriptedHttpServer::carriesThreeMegabytesBothWays() {
    const QByteArray payload = threeMegabytes();
    m_server->setHandler([](const RecordedRequest &request) {
        return ScriptedAnswer{.headers = {{"Content-Type", "application/octet-stream"}},
                              .body = request.body};
    });

    const auto reply = send("POST", "/upload", payload);

    QVERIFY(reply);
    QCOMPARE(reply->error, QNetworkReply::NoError);
    QCOMPARE(m_server->requests().constFirst().body.size(), payload.size());
    QVERIFY(m_server->requests().constFirst().body == payload);
    QCOMPARE(reply->body.size(), payload.size());
    QVERIFY(reply->body == payload);
}

void TestScriptedHttpServer::parsesRawWire_data() {
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<QByteArray>("paddedHeader");
    QTest::addColumn<bool>("serverCloses");

    QTest::newRow("pipelined in one write")
        << "GET /a HTTP/1.1\r\nHost: x\r\n\r\n"
           "POST /b?c=%2B HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nxyz"
           "GET /c HTTP/1.1\r\n\r\n"_ba
        << QByteArrayList{"GET /a? body=", "POST /b?c=%2B body=xyz", "GET /c? body="} << ""_ba << false;
    QTest::newRow("chunked with extension and trailer")
        << "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n4;ext=1\r\nWiki\r\n5\r\npedia\r\n0\r\n"
           "X-Trailer: t\r\n\r\nGET /next HTTP/1.1\r\n\r\n"_ba
        << QByteArrayList{"POST /up? body=Wikipedia", "GET /next? body="} << ""_ba << false;
    QTest::newRow("blank line between requests")
        << "GET /a HTTP/1.1\r\n\r\n\r\nGET /b HTTP/1.1\r\n\r\n"_ba
        << QByteArrayList{"GET /a? body=", "GET /b? body="} << ""_ba << false;
    QTest::newRow("blanks around header value") << "GET /a HTTP/1.1\r\nX-Padded: \t a  b \t\r\n\r\n"_ba
                                                << QByteArrayList{"GET /a? body="} << "a  b"_ba << false;
    QTest::newRow("client asks to close") << "GET /a HTTP/1.1\r\nConnection: close\r\n\r\n"_ba
                                          << QByteArrayList{"GET /a? body="} << ""_ba << true;
    QTest::newRow("HTTP/1.0 closes by default")
        << "GET /a HTTP/1.0\r\n\r\n"_ba << QByteArrayList{"GET /a? body="} << ""_ba << true;
}

void TestScriptedHttpServer::parsesRawWire() {
    QFETCH(QByteArray, wire);
    QFETCH(QByteArrayList, expected);
    QFETCH(QByteArray, paddedHeader);
    QFETCH(bool, serverCloses);
    m_server->setHandler([](const RecordedRequest &) { return ScriptedAnswer::json(200, "ok"); });
    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));

    socket.write(wire);

    QTRY_COMPARE(received.count("HTTP/1.1 200 OK\r\n"), expected.size());
    QByteArrayList recorded;
    for (const RecordedRequest &request : m_server->requests())
        recorded.append(summary(request));
    QCOMPARE(recorded, expected);
    QCOMPARE(m_server->requests().constFirst().header("X-Padded"), paddedHeader);
    if (serverCloses) {
        QVERIFY(received.contains("Connection: close\r\n"));
        QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    } else {
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
}

void TestScriptedHttpServer::rejectsMalformedRequests_data() {
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("no version") << "GET /\r\n\r\n"_ba;
    QTest::newRow("unknown version") << "GET / HTTP/2.0\r\n\r\n"_ba;
    QTest::newRow("header without colon") << "GET / HTTP/1.1\r\nHost x\r\n\r\n"_ba;
    QTest::newRow("folded header") << "GET / HTTP/1.1\r\nX-A: a\r\n b\r\n\r\n"_ba;
    QTest::newRow("bare LF inside header") << "GET / HTTP/1.1\r\nX-A: a\nX-B: b\r\n\r\n"_ba;
    QTest::newRow("conflicting lengths")
        << "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"_ba;
    QTest::newRow("negative length") << "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"_ba;
    QTest::newRow("huge length") << "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"_ba;
    QTest::newRow("bad chunk size") << "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"_ba;
    QTest::newRow("unsupported transfer coding") << "POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n"_ba;
}

void TestScriptedHttpServer::rejectsMalformedRequests() {
    QFETCH(QByteArray, wire);
    m_server->setHandler([](const RecordedRequest &) { return ScriptedAnswer::json(200, "ok"); });
    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^ScriptedHttpServer: malformed request"_s));

    socket.write(wire);

    QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QVERIFY2(received.startsWith("HTTP/1.1 400 Bad Request\r\n"), received.constData());
    QCOMPARE(m_server->requestCount(), 0);
}

void TestScriptedHttpServer::answersExpectContinue() {
    m_server->setHandler(
        [](const RecordedRequest &request) { return ScriptedAnswer::json(200, request.body); });
    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));

    socket.write("PUT /a HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n");
    QTRY_COMPARE(received, "HTTP/1.1 100 Continue\r\n\r\n"_ba);
    socket.write("hello");

    QTRY_VERIFY(received.endsWith("\r\n\r\nhello"));
    QCOMPARE(m_server->requests().constFirst().body, "hello"_ba);
}

void TestScriptedHttpServer::runTaskRethrowsAndGivesUp() {
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, (void)runTask(failAfterAwaiting(*m_nam, request("/a"))));

    m_server->enqueue(ScriptedAnswer::hang());
    bool finished = false;
    auto hanging = [](QNetworkAccessManager &nam, QNetworkRequest request, bool &finished) -> QCoro::Task<> {
        co_await exchange(nam, std::move(request), "GET");
        finished = true;
    };
    QTest::ignoreMessage(QtWarningMsg, "runTask: the task did not finish within 200 ms");
    QVERIFY(!runTask(hanging(*m_nam, request("/hang"), finished), 200ms));
    QVERIFY(!finished);

    // The abandoned task must still run to its end once the server lets go.
    m_server.reset();
    QTRY_VERIFY(finished);
}

} // namespace tallybrook::testing

QTEST_GUILESS_MAIN(tallybrook::testing::TestScriptedHttpServer)
#include "tst_scriptedhttpserver.moc"
