#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <qcoronetworkreply.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};

// What the client saw of one exchange: the status, content type and body as one line.
QCoro::Task<QByteArray> exchange(QNetworkAccessManager &nam, QNetworkRequest request, QByteArray method,
                                 QByteArray body = {}) {
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(nam.sendCustomRequest(request, method, body));
    co_await reply.get();
    co_return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toByteArray() + ' ' +
        reply->rawHeader("Content-Type") + ' ' + reply->readAll();
}

} // namespace

class TestScriptedHttpServer final : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_nam;

    [[nodiscard]] QNetworkRequest request(const QByteArray &target) const {
        QNetworkRequest request(
            QUrl::fromEncoded(m_server->baseUrl().toEncoded() + target, QUrl::StrictMode));
        request.setTransferTimeout(5000);
        return request;
    }
    [[nodiscard]] QByteArray answerTo(const QByteArray &method, const QByteArray &target) {
        return runTask(exchange(*m_nam, request(target), method)).value_or("no answer");
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
    // recorded as it was sent. Delays, drops and hangs are left to the client tests that script them: a slip
    // there shows as a failing time-out or drop row, while a slip in recording would pass unnoticed.
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

        QCOMPARE(runTask(exchange(*m_nam, request, "PATCH", body)).value_or("no answer"), "204  "_ba);
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
};

} // namespace tallybrook::testing

QTEST_GUILESS_MAIN(tallybrook::testing::TestScriptedHttpServer)
#include "tst_scriptedhttpserver.moc"
