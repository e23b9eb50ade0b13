// The HTTP layer: the request parser as a pure function, and the listener on a real loopback socket.
#include "RestFixture.h"
#include "http/HttpParser.h"

#include <QSignalSpy>
#include <QTcpSocket>

using namespace tbserver;
using namespace tbserver::testing;
using namespace Qt::StringLiterals;

namespace {

// Reads one response from `socket` (the event loop keeps running meanwhile, so the server in this thread
// works).
QByteArray readResponse(QTcpSocket &socket, int timeoutMs = 5000) {
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        data += socket.readAll();
        const qsizetype headEnd = data.indexOf("\r\n\r\n");
        if (headEnd >= 0) {
            const qsizetype lengthAt = data.toLower().indexOf("content-length: ");
            const qsizetype length =
                lengthAt < 0 || lengthAt > headEnd
                    ? 0
                    : data.mid(lengthAt + 16, data.indexOf("\r\n", lengthAt) - lengthAt - 16).toLongLong();
            if (data.size() >= headEnd + 4 + length) {
                return data;
            }
        }
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0) {
            return data;
        }
        QTest::qWait(5);
    }
    return data;
}

} // namespace

class TestServerHttp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parser_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("state"); // 0 incomplete, 1 complete, 2 failed
        QTest::addColumn<int>("failure");
        QTest::addColumn<qsizetype>("consumed");
        QTest::addColumn<bool>("keepAlive");
        const auto row = [](const char *name, const QByteArray &input, int state, int failure,
                            qsizetype consumed, bool keepAlive) {
            QTest::newRow(name) << input << state << failure << consumed << keepAlive;
        };
        const QByteArray get = "GET /rest/v1/visitors?select=id HTTP/1.1\r\nHost: x\r\n\r\n";
        row("simple", get, 1, 0, get.size(), true);
        row("pipelined: only the first", get + get, 1, 0, get.size(), true);
        row("head unfinished", "GET / HTTP/1.1\r\nHost: x\r\n", 0, 0, 0, true);
        row("body unfinished", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345", 0, 0, 0, true);
        row("body complete", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n12345", 1, 0, 43, true);
        row("close", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", 1, 0, 37, false);
        row("HTTP/1.0", "GET / HTTP/1.0\r\n\r\n", 1, 0, 18, false);
        row("HTTP/1.0 keep-alive", "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", 1, 0, 42, true);
        row("two words", "GET /\r\n\r\n", 2, 400, 0, false);
        row("space in method", "G T / HTTP/1.1\r\n\r\n", 2, 400, 0, false);
        row("absolute target", "GET http://x/ HTTP/1.1\r\n\r\n", 2, 400, 0, false);
        row("HTTP/2", "GET / HTTP/2.0\r\n\r\n", 2, 400, 0, false);
        row("header without colon", "GET / HTTP/1.1\r\nHost x\r\n\r\n", 2, 400, 0, false);
        row("space in header name", "GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", 2, 400, 0, false);
        row("folded header", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", 2, 400, 0, false);
        row("chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 2, 501, 0, false);
        row("length not a number", "POST / HTTP/1.1\r\nContent-Length: 12abc\r\n\r\n", 2, 400, 0, false);
        row("negative length", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 2, 400, 0, false);
        row("signed length", "POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\n12345", 2, 400, 0, false);
        row("two different lengths",
            "POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n123456", 2, 400, 0, false);
        row("the same length twice", "POST / HTTP/1.1\r\nContent-Length: 2\r\ncontent-length: 2\r\n\r\nab", 1,
            0, 59, true);
        row("body over the limit", "POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", 2, 413, 0, false);
        row("body at the limit, waiting", "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", 0, 0, 0,
            true);
        row("head over the limit", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a'), 2, 431, 0, false);
        row("long head ended", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a') + "\r\n\r\n", 2, 431, 0,
            false);
    }

    void parser() {
        QFETCH(QByteArray, input);
        QFETCH(int, state);
        QFETCH(int, failure);
        QFETCH(qsizetype, consumed);
        QFETCH(bool, keepAlive);
        const ParseResult result = parseRequest(input);
        QCOMPARE(int(result.state), state);
        QCOMPARE(result.failureStatus, failure);
        QCOMPARE(result.consumed, consumed);
        if (result.state != ParseResult::State::Incomplete) {
            QCOMPARE(result.keepAlive, keepAlive);
        }
    }

    void parserFields() {
        const ParseResult result =
            parseRequest("PATCH /rest/v1/visitors?id=eq.1&x=%2B HTTP/1.1\r\nPrefer:  return=minimal \r\n"
                         "content-length: 2\r\n\r\n{}");
        QCOMPARE(result.state, ParseResult::State::Complete);
        QCOMPARE(result.request.method, QByteArray("PATCH"));
        QCOMPARE(result.request.path, QByteArray("/rest/v1/visitors"));
        QCOMPARE(result.request.rawQuery, QByteArray("id=eq.1&x=%2B"));
        QCOMPARE(result.request.header("PREFER"), QByteArray("return=minimal"));
        QCOMPARE(result.request.body, QByteArray("{}"));
    }

    // Over a real socket: a too-large body is refused from its header, before it is sent; keep-alive carries
    // several requests; the REST answers arrive intact.
    void overTheWire_data() {
        QTest::addColumn<qsizetype>("bodySize");
        QTest::addColumn<int>("status");
        QTest::newRow("small") << qsizetype(2) << 201;
        QTest::newRow("just under 1 MiB") << qsizetype(1024 * 1024) << 400;
        QTest::newRow("1 MiB and a byte") << qsizetype(1024 * 1024 + 1) << 413;
        QTest::newRow("8 MiB") << qsizetype(8 * 1024 * 1024) << 413;
    }

    void overTheWire() {
        QFETCH(qsizetype, bodySize);
        QFETCH(int, status);
        RestFixture fx;
        const QString user = fx.createUser(u"wire@example.com"_s);
        QVERIFY(fx.app().listen());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, fx.app().port());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray body =
            bodySize == 2 ? QByteArray("{\"visitor_name\":\"Over the wire\"}") : QByteArray(bodySize, ' ');
        socket.write("POST /rest/v1/visitors HTTP/1.1\r\nHost: x\r\napikey: " + testKey +
                     "\r\nAuthorization: Bearer " + fx.token(user) +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
        if (status != 413) {
            socket.write(body);
        }
        const QByteArray response = readResponse(socket);
        QVERIFY2(response.startsWith(QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ')),
                 response.left(200).constData());
        if (status == 413) {
            QVERIFY(response.contains("Connection: close"));
            return;
        }
        // The same connection serves the next request.
        socket.write("GET /rest/v1/visitors?select=visitor_name HTTP/1.1\r\nHost: x\r\napikey: " + testKey +
                     "\r\nAuthorization: Bearer " + fx.token(user) + "\r\n\r\n");
        const QByteArray listed = readResponse(socket);
        QVERIFY2(listed.startsWith("HTTP/1.1 200 OK\r\n"), listed.constData());
        QVERIFY(listed.contains("Content-Type: application/json; charset=utf-8\r\n"));
        QVERIFY(listed.endsWith(status == 201 ? "[{\"visitor_name\":\"Over the wire\"}]" : "[]"));
    }
};

QTEST_GUILESS_MAIN(TestServerHttp)
#include "tst_server_http.moc"
