// The real tallybrook-server binary: port 0, the demo seed, a clean stop on SIGTERM, and what survives a
// restart or a kill -9 (data, sessions, the token secret).
#include "core/Database.h"
#include "support/ServerProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using tallybrook::testing::ServerProcess;

class TestServerProcess : public QObject {
    Q_OBJECT

    QNetworkAccessManager m_http;

    // A request to `path` on `server` with the gateway's key, and with `accessToken` if given.
    static QNetworkRequest request(const ServerProcess &server, const QString &path,
                                   const QString &accessToken = {}) {
        QNetworkRequest request(server.baseUrl().resolved(QUrl(path)));
        request.setRawHeader("apikey", server.publishableKey());
        request.setRawHeader("Content-Type", "application/json");
        if (!accessToken.isEmpty()) {
            request.setRawHeader("Authorization", "Bearer " + accessToken.toLatin1());
        }
        request.setTransferTimeout(10'000);
        return request;
    }
    // The status and JSON body of one request.
    std::pair<int, QJsonDocument> send(const ServerProcess &server, const QByteArray &method,
                                       const QString &path, const QJsonObject &body = {},
                                       const QString &accessToken = {}) {
        QNetworkReply *reply =
            m_http.sendCustomRequest(request(server, path, accessToken), method,
                                     body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson());
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished() && !finished.wait(15'000)) {
            reply->abort();
        }
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(reply->readAll())};
    }
    // The status and body of a sign-in, by default Ada's.
    std::pair<int, QJsonDocument> signIn(const ServerProcess &server,
                                         const QString &email = u"ada@example.com"_s,
                                         const QString &password = u"correct horse"_s) {
        return send(server, "POST", u"/auth/v1/token?grant_type=password"_s,
                    {{u"email"_s, email}, {u"password"_s, password}});
    }
    std::pair<int, QJsonDocument> refresh(const ServerProcess &server, const QJsonValue &token) {
        return send(server, "POST", u"/auth/v1/token?grant_type=refresh_token"_s,
                    {{u"refresh_token"_s, token}});
    }
    QJsonDocument signUpAda(const ServerProcess &server) {
        return send(server, "POST", u"/auth/v1/signup"_s,
                    {{u"email"_s, u"ada@example.com"_s}, {u"password"_s, u"correct horse"_s}})
            .second;
    }

private Q_SLOTS:
    // On any free port, serving the default version manifest (0.0.0 meets every version), with the demo
    // account made once and found on the next start; "stopped" is printed only after the event loop ended and
    // the database was closed.
    void startsSeedsAndStopsCleanly() {
        ServerProcess server({u"--seed-demo"_s, u"--confirm-emails"_s});
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QVERIFY(server.baseUrl().port() > 0 && server.baseUrl().port() != 54321);
        const QByteArray channel =
            R"({"minimumVersion":"0.0.0","latestVersion":"0.0.0","downloadURL":"https://tallybrook.app/download"})";
        QCOMPARE(send(server, "GET", u"/api/mac/version"_s).second,
                 QJsonDocument::fromJson(R"({"direct":)" + channel + R"(,"appStore":)" + channel + "}"));
        const QString demo = u"demo account: demo@tallybrook.local  password: tallybrook-demo  ("_s;
        QVERIFY(server.output().contains((demo + u"created)\n").toUtf8()));
        QVERIFY(server.restart());
        QVERIFY(server.output().contains((demo + u"already there)\n").toUtf8()));
        QCOMPARE(signIn(server, u"demo@tallybrook.local"_s, u"tallybrook-demo"_s).first, 200);
        server.stop();
        QVERIFY2(server.output().endsWith("stopped\n"), server.output().constData());
    }

    // Even a kill -9 loses nothing committed: the token secret (an access token issued before still reads the
    // user), the session and its refresh token, a changed password and the invites; there is no demo account
    // unless asked for.
    void killLosesNothingCommitted() {
        ServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QCOMPARE(signIn(server, u"demo@tallybrook.local"_s, u"tallybrook-demo"_s).first, 400);
        const QJsonDocument signedUp = signUpAda(server);
        const QString accessToken = signedUp[u"access_token"].toString();
        const auto invited =
            send(server, "POST", u"/api/invites"_s,
                 {{u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, u"Ana"_s}}}},
                  {u"email"_s, u"ana@example.com"_s}},
                 accessToken);
        send(server, "PUT", u"/auth/v1/user"_s, {{u"password"_s, u"battery staple"_s}}, accessToken);
        server.kill();
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QCOMPARE(signIn(server).first, 400);
        QCOMPARE(signIn(server, u"ada@example.com"_s, u"battery staple"_s).first, 200);
        QCOMPARE(send(server, "GET", u"/auth/v1/user"_s, {}, accessToken).first, 200);
        QCOMPARE(refresh(server, signedUp[u"refresh_token"]).first, 200);
        const QString resend = u"/api/invites/"_s + invited.second[u"id"].toString() + u"/resend"_s;
        QCOMPARE(send(server, "POST", resend, {}, accessToken).first, 200);
    }

    // Killed at a random moment while sign-ins stream in, several times over: after each restart every
    // sign-in that was answered 201 is there whole, and the database file is sound.
    void killDuringSignInsLosesNoAnsweredOne() {
        ServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        const QString token = signUpAda(server)[u"refresh_token"].toString();
        QStringList answered;
        int next = 0;
        for (int round = 0; round < 4; ++round) {
            const QString access = refresh(server, token).second[u"access_token"].toString();
            // Four sign-ins in flight at every moment until the kill.
            bool killed = false;
            int inFlight = 0;
            std::function<void()> signIn = [&] {
                const QString name = u"Visitor %1"_s.arg(next++);
                const QJsonObject body{
                    {u"visitor_name"_s, name},
                    {u"answers"_s, QJsonArray{QJsonObject{{u"label"_s, u"Company"_s},
                                                          {u"value"_s, QString(name + u" Ltd"_s)}}}}};
                QNetworkReply *reply = m_http.post(request(server, u"/rest/v1/visitors"_s, access),
                                                   QJsonDocument(body).toJson());
                ++inFlight;
                connect(reply, &QNetworkReply::finished, this, [&, reply, name] {
                    --inFlight;
                    reply->deleteLater();
                    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 201) {
                        answered.append(name);
                    }
                    if (!killed) {
                        signIn();
                    }
                });
            };
            for (int i = 0; i < 4; ++i) {
                signIn();
            }
            QTest::qWait(100 + QRandomGenerator::global()->bounded(400));
            killed = true;
            server.kill();
            QTRY_COMPARE(inFlight, 0);
            qInfo("kill %d: %lld sign-ins answered 201 so far", round + 1, qint64(answered.size()));
            QVERIFY2(server.start(), qPrintable(server.errorText()));
        }
        server.stop();
        QVERIFY(answered.size() > 20);

        tbserver::Database db(server.dataDir() + u"/tallybrook.sqlite3"_s);
        tbserver::Statement check = db.prepare("PRAGMA integrity_check");
        QVERIFY(check.step());
        QCOMPARE(check.text(0), "ok");
        QSet<QString> stored;
        tbserver::Statement rows = db.prepare("SELECT visitor_name, answers FROM visitors");
        while (rows.step()) {
            const QString name = rows.string(0);
            stored.insert(name);
            const QJsonArray answers = QJsonDocument::fromJson(rows.text(1)).array();
            QCOMPARE(answers.first().toObject().value(u"value").toString(), name + u" Ltd"_s); // whole
        }
        for (const QString &name : std::as_const(answered)) {
            QVERIFY2(stored.contains(name), qPrintable(name + u" was answered 201 and is gone"_s));
        }
    }

    // A backup taken while desks keep signing visitors in holds every visitor acknowledged before it began,
    // and a server started on it alone serves them.
    void backupUnderWritesRestores() {
        ServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        const QString token = signUpAda(server)[u"access_token"].toString();
        const auto signInVisitor = [&](int n) {
            return send(server, "POST", u"/rest/v1/visitors"_s, {{u"visitor_name"_s, u"Visitor %1"_s.arg(n)}},
                        token)
                .first;
        };
        int acknowledged = 0;
        while (acknowledged < 20) {
            QCOMPARE(signInVisitor(acknowledged++), 201);
        }
        const int beforeBackup = acknowledged;
        const QString copy = server.dataDir() + u"/../backup.sqlite3"_s;
        QProcess backup;
        backup.start(QStringLiteral(TALLYBROOK_SERVER_EXECUTABLE),
                     {u"--data"_s, server.dataDir(), u"--backup"_s, copy});
        while (backup.state() != QProcess::NotRunning || acknowledged < beforeBackup + 5) {
            QCOMPARE(signInVisitor(acknowledged++), 201);
            backup.waitForFinished(1);
        }
        QCOMPARE(backup.exitCode(), 0);
        server.stop();

        ServerProcess restored;
        QVERIFY(QDir().mkpath(restored.dataDir()));
        QVERIFY(QFile::copy(copy, restored.dataDir() + u"/tallybrook.sqlite3"_s));
        QVERIFY2(restored.start(), qPrintable(restored.errorText()));
        const QString again = signIn(restored).second[u"access_token"].toString();
        QSet<QString> names;
        for (const QJsonValue &row :
             send(restored, "GET", u"/rest/v1/visitors?select=visitor_name"_s, {}, again).second.array()) {
            names.insert(row.toObject().value(u"visitor_name").toString());
        }
        QVERIFY2(names.size() >= beforeBackup && names.size() <= acknowledged,
                 qPrintable(u"%1 restored of %2 acknowledged"_s.arg(names.size()).arg(acknowledged)));
        for (int n = 0; n < names.size(); ++n) { // a consistent copy: the first ones, without gaps
            QVERIFY2(names.contains(u"Visitor %1"_s.arg(n)), qPrintable(u"Visitor %1 is missing"_s.arg(n)));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_server_process.moc"
