#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <qcoronetworkreply.h>

using namespace Qt::StringLiterals;

namespace tallybrook::testing {

namespace {

// What the client saw of one exchange: the status, content type and body as one line.
QCoro::Task<QByteArray> exchange(QNetworkAccessManager &nam, QNetworkRequest request, QByteArray method,
                                 QByteArray body) {
    const QScopedPointer<QNetworkReply, QScopedPointerDeleteLater> reply(
        nam.sendCustomRequest(request, method, body));
    co_await reply.get();
    co_return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toByteArray() + ' ' +
        reply->rawHeader("Content-Type") + ' ' + reply->readAll();
}

QByteArray answerTo(QNetworkAccessManager &nam, const ScriptedHttpServer &server, const QByteArray &method,
                    const QByteArray &target, const HeaderList &headers = {}, const QByteArray &body = {}) {
    QNetworkRequest request(QUrl::fromEncoded(server.baseUrl().toEncoded() + target, QUrl::StrictMode));
    for (const auto &[name, value] : headers) {
        request.setRawHeader(name, value);
    }
    return runTask(exchange(nam, request, method, body)).value_or("no answer");
}

} // namespace

class TestScriptedHttpServer final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Queued answers first, then the handler, else a 500, on one kept-alive connection; every request
    // recorded as it was sent. Delays, drops and hangs are left to the client tests that script them: a slip
    // there shows as a failing time-out or drop row, while a slip in recording would pass unnoticed.
    void answersFromTheScriptAndRecordsRequestsAsSent() {
        ScriptedHttpServer server;
        QNetworkAccessManager nam; // destroyed before the server
        // A 204 carries no body: a framing slip there would corrupt the next answer on the connection.
        server.enqueue({.status = 204, .body = "never on the wire"});
        server.enqueue(ScriptedAnswer::json(201, R"([{"id":1}])"));
        server.setHandler([](const RecordedRequest &request) {
            return ScriptedAnswer{
                .status = 404, .headers = {{"Content-Type", "text/plain"}}, .body = request.path};
        });
        QSignalSpy received(&server, &ScriptedHttpServer::requestReceived);
        // Large enough to span many socket reads, and not periodic, so a shifted or repeated chunk shows.
        QByteArray body = u"Zoë Łukasz 🎉"_s.toUtf8();
        for (int i = 0; body.size() < 1024 * 1024; ++i) {
            body += QByteArray::number(i) + ',';
        }
        const HeaderList sent = {
            {"apikey", "key"}, {"Authorization", "Bearer a.b.c"}, {"X-Mixed-CASE", "Zoë"}};

        QCOMPARE(answerTo(nam, server, "PATCH",
                          "/i/ab%2Fcd%20%C5%81ukasz?name=ilike.*Zo%C3%AB%2B*&note=100%25", sent, body),
                 "204  "_ba);
        QCOMPARE(answerTo(nam, server, "POST", "/2"), R"(201 application/json [{"id":1}])"_ba);
        QCOMPARE(answerTo(nam, server, "GET", "/3"), "404 text/plain /3"_ba);
        server.setHandler({});
        QTest::ignoreMessage(QtWarningMsg, "ScriptedHttpServer: no scripted answer for GET /4");
        QCOMPARE(answerTo(nam, server, "GET", "/4?x=1"),
                 R"(500 application/json {"message":"no scripted answer"})"_ba);
        QCOMPARE(received.size(), 4);
        QCOMPARE(server.openConnectionCount(), 1);

        const RecordedRequest patch = server.requests().constFirst();
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
