// The real tallybrook-server binary: port 0, the demo seed, a clean stop on SIGTERM, and what survives a
// restart or a kill -9 (data, sessions, the token secret).
#include "support/ServerProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using tallybrook::testing::ServerProcess;

namespace {

struct Answer {
    int status = 0;
    QByteArray body;
    [[nodiscard]] QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

} // namespace

class TestServerProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsOnAnyPortAndStopsCleanly();
    void demoSeed_data();
    void demoSeed();
    void restartKeepsEverything();
    void killLosesNothingCommitted();

private:
    Answer send(const ServerProcess &server, const QByteArray &method, const QString &path,
                const QJsonObject &body = {}, const QString &accessToken = {});
    Answer signIn(const ServerProcess &server, const QString &email, const QString &password);

    QNetworkAccessManager m_http;
};

Answer TestServerProcess::send(const ServerProcess &server, const QByteArray &method, const QString &path,
                               const QJsonObject &body, const QString &accessToken) {
    QNetworkRequest request(server.baseUrl().resolved(QUrl(path)));
    request.setRawHeader("apikey", server.publishableKey());
    request.setRawHeader("Content-Type", "application/json");
    if (!accessToken.isEmpty()) {
        request.setRawHeader("Authorization", "Bearer " + accessToken.toLatin1());
    }
    request.setTransferTimeout(10'000);
    QNetworkReply *reply = m_http.sendCustomRequest(
        request, method, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson());
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished() && !finished.wait(15'000)) {
        reply->abort();
    }
    Answer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    reply->deleteLater();
    return answer;
}

Answer TestServerProcess::signIn(const ServerProcess &server, const QString &email, const QString &password) {
    return send(server, "POST", u"/auth/v1/token?grant_type=password"_s,
                {{u"email"_s, email}, {u"password"_s, password}});
}

void TestServerProcess::startsOnAnyPortAndStopsCleanly() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QVERIFY(server.baseUrl().port() > 0);
    QVERIFY(server.baseUrl().port() != 54321);
    const Answer manifest = send(server, "GET", u"/api/mac/version"_s);
    QCOMPARE(manifest.status, 200);
    QVERIFY(manifest.json().contains(u"direct"));
    server.stop();
    // "stopped" is printed only after the event loop ended and the database was closed.
    QVERIFY2(server.output().endsWith("stopped\n"), server.output().constData());
}

void TestServerProcess::demoSeed_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("seeded");
    QTest::newRow("with --seed-demo") << QStringList{u"--seed-demo"_s} << true;
    QTest::newRow("without") << QStringList{} << false;
}

void TestServerProcess::demoSeed() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, seeded);
    ServerProcess server(arguments);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QByteArray line = "demo account: demo@tallybrook.local  password: tallybrook-demo  (created)";
    QCOMPARE(server.output().contains(line), seeded);
    const Answer session = signIn(server, u"demo@tallybrook.local"_s, u"tallybrook-demo"_s);
    QCOMPARE(session.status, seeded ? 200 : 400);
    if (!seeded) {
        return;
    }
    QCOMPARE(session.json()[u"user"][u"user_metadata"][u"name"].toString(), u"Front Desk Demo"_s);
    // Found, not made again, on the next start.
    QVERIFY(server.restart());
    QVERIFY(server.output().contains(
        "demo account: demo@tallybrook.local  password: tallybrook-demo  (already there)\n"));
    QVERIFY(!server.output().contains("(created)"));
}

void TestServerProcess::restartKeepsEverything() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const Answer signedUp = send(server, "POST", u"/auth/v1/signup"_s,
                                 {{u"email"_s, u"ada@example.com"_s},
                                  {u"password"_s, u"correct horse"_s},
                                  {u"data"_s, QJsonObject{{u"name"_s, u"Ada"_s}}}});
    QCOMPARE(signedUp.status, 200);
    const QString accessToken = signedUp.json().value(u"access_token").toString();
    const QString refreshToken = signedUp.json().value(u"refresh_token").toString();
    const Answer invited =
        send(server, "POST", u"/api/invites"_s,
             {{u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, u"Ana"_s}}}},
              {u"email"_s, u"ana@example.com"_s}},
             accessToken);
    QCOMPARE(invited.status, 201);

    QVERIFY2(server.restart(), qPrintable(server.errorText()));
    // The same token secret: the access token issued before still reads the user.
    QCOMPARE(send(server, "GET", u"/auth/v1/user"_s, {}, accessToken).status, 200);
    // The session and its refresh token survived.
    QCOMPARE(send(server, "POST", u"/auth/v1/token?grant_type=refresh_token"_s,
                  {{u"refresh_token"_s, refreshToken}})
                 .status,
             200);
    // And the invite.
    const QString resend = u"/api/invites/"_s + invited.json().value(u"id").toString() + u"/resend"_s;
    QCOMPARE(send(server, "POST", resend, {}, accessToken).status, 200);
}

void TestServerProcess::killLosesNothingCommitted() {
    ServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const Answer signedUp = send(server, "POST", u"/auth/v1/signup"_s,
                                 {{u"email"_s, u"zoe@example.com"_s}, {u"password"_s, u"correct horse"_s}});
    QCOMPARE(signedUp.status, 200);
    const Answer changed = send(server, "PUT", u"/auth/v1/user"_s, {{u"password"_s, u"battery staple"_s}},
                                signedUp.json().value(u"access_token").toString());
    QCOMPARE(changed.status, 200);
    server.kill();
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QCOMPARE(signIn(server, u"zoe@example.com"_s, u"correct horse"_s).status, 400);
    QCOMPARE(signIn(server, u"zoe@example.com"_s, u"battery staple"_s).status, 200);
    QCOMPARE(send(server, "POST", u"/auth/v1/token?grant_type=refresh_token"_s,
                  {{u"refresh_token"_s, signedUp.json().value(u"refresh_token").toString()}})
                 .status,
             200);
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_server_process.moc"
