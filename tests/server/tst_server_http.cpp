// The HTTP layer: the request parser as a pure function, and the listener on a real loopback socket.
#include "ServerFixture.h"
#include "http/HttpParser.h"

#include <QTcpSocket>

using namespace tbserver;
using namespace tbserver::testing;

namespace {

QByteArray readUntil(QTcpSocket &socket, const QByteArray &ending) {
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (!data.endsWith(ending) && timer.elapsed() < 10000) {
        QTest::qWait(5);
        data += socket.readAll();
    }
    return data;
}

} // namespace

class TestServerHttp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parser_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>(
            "expected"); // "incomplete", "failed <status>", or "<consumed> keep-alive|close"
        const QByteArray get = "GET /rest/v1/visitors?select=id HTTP/1.1\r\nHost: x\r\n\r\n";
        const auto row = [](const char *name, const QByteArray &input, const char *expected) {
            QTest::newRow(name) << input << QByteArray(expected);
        };
        row("pipelined: only the first", get + get, "53 keep-alive");
        row("head unfinished", "GET / HTTP/1.1\r\nHost: x\r\n", "incomplete");
        row("body unfinished", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345", "incomplete");
        row("body complete", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n12345", "43 keep-alive");
        row("close", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", "37 close");
        row("HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", "18 close");
        row("HTTP/1.0 keep-alive", "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "42 keep-alive");
        row("two words", "GET /\r\n\r\n", "failed 400");
        row("absolute target", "GET http://x/ HTTP/1.1\r\n\r\n", "failed 400");
        row("HTTP/2", "GET / HTTP/2.0\r\n\r\n", "failed 400");
        row("header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n", "failed 400");
        row("space in header name", "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", "failed 400");
        row("chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "failed 501");
        row("length not a number", "POST / HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n", "failed 400");
        row("negative length", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "failed 400");
        row("signed length", "POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\n12345", "failed 400");
        row("two different lengths",
            "POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n123456", "failed 400");
        row("the same length twice", "POST / HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nab",
            "59 keep-alive");
        row("body over the limit", "POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", "failed 413");
        row("body at the limit, waiting", "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", "incomplete");
        row("head over the limit", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a'), "failed 431");
        row("long head ended", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a') + "\r\n\r\n", "failed 431");
    }

    void parser() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const ParseResult result = parseRequest(input);
        QCOMPARE(result.state == ParseResult::State::Incomplete ? QByteArray("incomplete")
                 : result.state == ParseResult::State::Failed
                     ? QByteArray("failed " + QByteArray::number(result.failureStatus))
                     : QByteArray(QByteArray::number(result.consumed) +
                                  (result.keepAlive ? " keep-alive" : " close")),
                 expected);
        QVERIFY(result.state != ParseResult::State::Failed || !result.keepAlive);
    }

    void parserFields() {
        const ParseResult result =
            parseRequest("PATCH /rest/v1/visitors?id=eq.1&x=%2B HTTP/1.1\r\nPrefer:  return=minimal \r\n"
                         "content-length: 2\r\n\r\n{}");
        const HttpRequest &request = result.request;
        QCOMPARE(request.method + ' ' + request.path + ' ' + request.rawQuery + ' ' +
                     request.header("PREFER") + ' ' + request.body,
                 "PATCH /rest/v1/visitors id=eq.1&x=%2B return=minimal {}");
    }

    void overTheWire_data() {
        QTest::addColumn<qsizetype>("bodySize");
        QTest::addColumn<int>("status");
        QTest::newRow("small") << qsizetype(2) << 201;
        QTest::newRow("1 MiB") << qsizetype(1024 * 1024) << 400;
        QTest::newRow("1 MiB and a byte") << qsizetype(1024 * 1024 + 1) << 413;
    }

    // Over a real socket: a body over 1 MiB is refused from its header, before it is sent, and the connection
    // closed; otherwise the same connection carries the next request, and the answers arrive intact.
    void overTheWire() {
        QFETCH(qsizetype, bodySize);
        QFETCH(int, status);
        ServerFixture fx;
        const QByteArray auth =
            "apikey: " + testKey + "\r\nAuthorization: Bearer " + fx.token(fx.createUser(u"w@example.com"_s));
        QVERIFY(fx.app().listen());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, fx.app().port());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray body =
            bodySize == 2 ? QByteArray(R"({"visitor_name":"Over the wire"})") : QByteArray(bodySize, ' ');
        socket.write("POST /rest/v1/visitors HTTP/1.1\r\n" + auth + "\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + (status == 413 ? QByteArray() : body));
        const QByteArray first = readUntil(socket, status == 201 ? "\r\n\r\n" : "}");
        QVERIFY2(first.startsWith(QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ')),
                 first.left(200).constData());
        QCOMPARE(first.contains("Connection: close\r\n"), status == 413);
        if (status != 413) {
            socket.write("GET /rest/v1/visitors?select=visitor_name HTTP/1.1\r\n" + auth + "\r\n\r\n");
            const QByteArray listed = readUntil(socket, "]");
            QVERIFY2(
                listed.startsWith("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"),
                listed.constData());
            QVERIFY(listed.endsWith(status == 201 ? R"([{"visitor_name":"Over the wire"}])" : "[]"));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerHttp)
#include "tst_server_http.moc"
