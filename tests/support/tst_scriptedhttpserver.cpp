#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <qcoronetworkreply.h>

#include <memory>
#include <stdexcept>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// What the client saw of one exchange: its error, and the status, content type and body as one line.
struct Exchange {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray answer;
};

QCoro::Task<Exchange> exchange(QNetworkAccessManager &nam, QNetworkRequest request, QByteArray method,
                               QByteArray body = {}) {
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(nam.sendCustomRequest(request, method, body));
    co_await reply.get();
    co_return Exchange{reply->error(),
                       reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toByteArray() + ' ' +
                           reply->rawHeader("Content-Type") + ' ' + reply->readAll()};
}

} // namespace

class TestScriptedHttpServer final : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_nam;

    [[nodiscard]] QNetworkRequest request(const QByteArray &target,
                                          std::chrono::milliseconds timeout = 5s) const {
        QNetworkRequest request(
            QUrl::fromEncoded(m_server->baseUrl().toEncoded() + target, QUrl::StrictMode));
        request.setTransferTimeout(int(timeout.count()));
        return request;
    }
    [[nodiscard]] QByteArray answerTo(const QByteArray &method, const QByteArray &target) {
        return runTask(exchange(*m_nam, request(target), method)).value_or(Exchange{}).answer;
    }

private Q_SLOTS:
    void init() {
        m_server = std::make_unique<ScriptedHttpServer>();
        m_nam = std::make_unique<QNetworkAccessManager>();
    }
    void cleanup() {
        m_nam.reset();
        m_server.reset();
    }

    // Queued answers first, then the handler, else a 500, on one kept-alive connection; every request
    // recorded as it was sent.
    void answersFromTheScriptAndRecordsRequestsAsSent() {
        // A 204 carries no body: a framing slip there would corrupt the next answer on the connection.
        m_server->enqueue({.status = 204, .body = "never on the wire"});
        m_server->enqueue(ScriptedAnswer::json(201, R"([{"id":1}])"));
        m_server->setHandler([](const RecordedRequest &request) {
            return ScriptedAnswer{
                .status = 404, .headers = {{"Content-Type", "text/plain"}}, .body = request.path};
        });
        QSignalSpy received(m_server.get(), &ScriptedHttpServer::requestReceived);
        // Large enough to span many socket reads, and not periodic, so a shifted or repeated chunk shows.
        QByteArray body = u"Zoë Łukasz 🎉"_s.toUtf8();
        for (int i = 0; body.size() < 1024 * 1024; ++i) {
            body += QByteArray::number(i) + ',';
        }
        QNetworkRequest request =
            this->request("/i/ab%2Fcd%20%C5%81ukasz?name=ilike.*Zo%C3%AB%2B*&note=100%25");
        const HeaderList sent = {
            {"apikey", "key"}, {"Authorization", "Bearer a.b.c"}, {"X-Mixed-CASE", "Zoë"}};
        for (const auto &[name, value] : sent) {
            request.setRawHeader(name, value);
        }

        QCOMPARE(runTask(exchange(*m_nam, request, "PATCH", body)).value_or(Exchange{}).answer, "204  "_ba);
        QCOMPARE(answerTo("POST", "/2"), R"(201 application/json [{"id":1}])"_ba);
        QCOMPARE(answerTo("GET", "/3"), "404 text/plain /3"_ba);
        m_server->setHandler({});
        QTest::ignoreMessage(QtWarningMsg, "ScriptedHttpServer: no scripted answer for GET /4");
        QCOMPARE(answerTo("GET", "/4?x=1"), R"(500 application/json {"message":"no scripted answer"})"_ba);
        QCOMPARE(received.size(), 4);
        QCOMPARE(m_server->openConnectionCount(), 1);

        const RecordedRequest patch = m_server->requests().constFirst();
        QCOMPARE(patch.method + ' ' + patch.path + " ? " + patch.rawQuery,
                 "PATCH /i/ab%2Fcd%20%C5%81ukasz ? name=ilike.*Zo%C3%AB%2B*&note=100%25"_ba);
        QVERIFY(patch.body == body);
        HeaderList inOrder = patch.headers;
        inOrder.removeIf([&](const auto &header) { return !sent.contains(header); });
        QCOMPARE(inOrder, sent);
        QCOMPARE(patch.header("x-mixed-case"), "Zoë"_ba);
        QVERIFY(patch.header("X-Absent").isEmpty());
    }

    // The client gives up after 100 ms on a delayed answer, else after 5 s.
    void delaysAndDrops_data() {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::addColumn<QByteArray>("received");
        // The delayed answer's timer later fires on a connection that is gone.
        QTest::newRow("the client leaves during a delay")
            << ScriptedAnswer::json(200, "too late").delayedBy(400ms) << QNetworkReply::OperationCanceledError
            << "  "_ba;
        QTest::newRow("dropped before answering")
            << ScriptedAnswer::drop() << QNetworkReply::RemoteHostClosedError << "  "_ba;
        QTest::newRow("dropped mid-body") << ScriptedAnswer::dropMidBody(200, "0123456789")
                                          << QNetworkReply::RemoteHostClosedError << "200  01234"_ba;
    }
    void delaysAndDrops() {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QNetworkReply::NetworkError, error);
        QFETCH(QByteArray, received);
        m_server->setHandler([answer](const RecordedRequest &) { return answer; });

        const auto reply = runTask(exchange(*m_nam, request("/a", answer.delay > 0ms ? 100ms : 5s), "POST"));
        QVERIFY(reply);
        QCOMPARE(reply->error, error);
        QCOMPARE(reply->answer, received);
        // Qt resends once on a new connection when the first closes before any byte of the answer.
        QCOMPARE(m_server->requestCount(), answer.action == ScriptedAnswer::Action::DropBeforeAnswer ? 2 : 1);
        // A connection the client or the answer closed is forgotten.
        QTRY_COMPARE(m_server->openConnectionCount(), 0);

        // The server carries on, also past the moment a delayed answer for a closed connection was due.
        m_server->setHandler([answer](const RecordedRequest &) {
            return ScriptedAnswer::json(200, "next").delayedBy(answer.delay);
        });
        QCOMPARE(answerTo("GET", "/next"), "200 application/json next"_ba);
    }

    void servesDelayedAnswersInParallel() {
        m_server->setHandler([](const RecordedRequest &request) {
            return ScriptedAnswer::json(200, request.path).delayedBy(500ms);
        });
        const auto started = std::chrono::steady_clock::now();
        const QList outcomes{start(exchange(*m_nam, request("/1"), "GET")),
                             start(exchange(*m_nam, request("/2"), "GET")),
                             start(exchange(*m_nam, request("/3"), "GET"))};
        // All three arrive while the first answer is still held back.
        QVERIFY(m_server->waitForRequests(3));
        QVERIFY(!outcomes[0]->finished);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(waitUntilFinished(*outcomes[i], 5000));
            QCOMPARE(outcomes[i]->value->answer, "200 application/json /" + QByteArray::number(i + 1));
        }
        QVERIFY(std::chrono::steady_clock::now() - started >= 500ms);
    }

    void runTaskRethrowsAndGivesUp() {
        m_server->enqueue(ScriptedAnswer::json(200, "{}"));
        auto failing = [](QNetworkAccessManager &nam, QNetworkRequest request) -> QCoro::Task<> {
            co_await exchange(nam, std::move(request), "GET");
            throw std::runtime_error("failed on purpose");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, (void)runTask(failing(*m_nam, request("/a"))));

        // A hanging answer never comes: the task is given up on.
        m_server->enqueue(ScriptedAnswer::hang());
        bool finished = false;
        auto hanging = [](QNetworkAccessManager &nam, QNetworkRequest request,
                          bool &finished) -> QCoro::Task<> {
            co_await exchange(nam, std::move(request), "GET");
            finished = true;
        };
        QTest::ignoreMessage(QtWarningMsg, "runTask: the task did not finish within 200 ms");
        QVERIFY(!runTask(hanging(*m_nam, request("/hang"), finished), 200ms));
        QVERIFY(!finished);

        // Destroying the server lets go of the hanging connection; the abandoned task still runs to its end.
        m_server.reset();
        QTRY_VERIFY(finished);
    }
};

} // namespace tallybrook::testing

QTEST_GUILESS_MAIN(tallybrook::testing::TestScriptedHttpServer)
#include "tst_scriptedhttpserver.moc"
