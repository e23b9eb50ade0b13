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

    // The status and JSON body of one request.
    // Ada's new account on `server`; the session's `key` ("access_token", "refresh_token").
    QString signUpAda(const ServerProcess &server, const QString &key) {
        return send(server, "POST", u"/auth/v1/signup"_s,
                    {{u"email"_s, u"ada@example.com"_s}, {u"password"_s, u"correct horse"_s}})
            .second.value(key)
            .toString();
    }
    std::pair<int, QJsonObject> send(const ServerProcess &server, const QByteArray &method,
                                     const QString &path, const QJsonObject &body = {},
                                     const QString &accessToken = {}) {
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
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(reply->readAll()).object()};
    }
    int signIn(const ServerProcess &server, const QString &email, const QString &password) {
        return send(server, "POST", u"/auth/v1/token?grant_type=password"_s,
                    {{u"email"_s, email}, {u"password"_s, password}})
            .first;
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
        QCOMPARE(
            send(server, "GET", u"/api/mac/version"_s).second,
            QJsonDocument::fromJson(R"({"direct":)" + channel + R"(,"appStore":)" + channel + "}").object());
        QVERIFY(server.output().contains(
            "demo account: demo@tallybrook.local  password: tallybrook-demo  (created)\n"));
        QVERIFY(server.restart());
        QVERIFY(server.output().contains(
            "demo account: demo@tallybrook.local  password: tallybrook-demo  (already there)\n"));
        QCOMPARE(signIn(server, u"demo@tallybrook.local"_s, u"tallybrook-demo"_s), 200);
        server.stop();
        QVERIFY2(server.output().endsWith("stopped\n"), server.output().constData());
    }

    // Even a kill -9 loses nothing committed: the token secret (an access token issued before still reads the
    // user), the session and its refresh token, a changed password and the invites; there is no demo account
    // unless asked for.
    void killLosesNothingCommitted() {
        ServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QCOMPARE(signIn(server, u"demo@tallybrook.local"_s, u"tallybrook-demo"_s), 400);
        const QJsonObject signedUp =
            send(server, "POST", u"/auth/v1/signup"_s,
                 {{u"email"_s, u"ada@example.com"_s}, {u"password"_s, u"correct horse"_s}})
                .second;
        const QString accessToken = signedUp.value(u"access_token").toString();
        const auto invited =
            send(server, "POST", u"/api/invites"_s,
                 {{u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, u"Ana"_s}}}},
                  {u"email"_s, u"ana@example.com"_s}},
                 accessToken);
        QCOMPARE(invited.first, 201);
        QCOMPARE(send(server, "PUT", u"/auth/v1/user"_s, {{u"password"_s, u"battery staple"_s}}, accessToken)
                     .first,
                 200);
        server.kill();
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QCOMPARE(signIn(server, u"ada@example.com"_s, u"correct horse"_s), 400);
        QCOMPARE(signIn(server, u"ada@example.com"_s, u"battery staple"_s), 200);
        QCOMPARE(send(server, "GET", u"/auth/v1/user"_s, {}, accessToken).first, 200);
        const QJsonObject refresh{{u"refresh_token"_s, signedUp.value(u"refresh_token")}};
        QCOMPARE(send(server, "POST", u"/auth/v1/token?grant_type=refresh_token"_s, refresh).first, 200);
        const QString resend = u"/api/invites/"_s + invited.second.value(u"id").toString() + u"/resend"_s;
        QCOMPARE(send(server, "POST", resend, {}, accessToken).first, 200);
    }

    // Killed at a random moment while sign-ins stream in, several times over: after each restart every
    // sign-in that was answered 201 is there whole, and the database file is sound.
    void killDuringSignInsLosesNoAnsweredOne() {
        ServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        const QString token = signUpAda(server, u"refresh_token"_s);
        QStringList answered;
        int next = 0;
        for (int round = 0; round < 4; ++round) {
            const QString access = send(server, "POST", u"/auth/v1/token?grant_type=refresh_token"_s,
                                        {{u"refresh_token"_s, token}})
                                       .second.value(u"access_token")
                                       .toString();
            QVERIFY(!access.isEmpty());
            // Four sign-ins in flight at every moment until the kill.
            bool killed = false;
            int inFlight = 0;
            std::function<void()> signIn = [&] {
                const QString name = u"Visitor %1"_s.arg(next++);
                QNetworkRequest request(server.baseUrl().resolved(QUrl(u"/rest/v1/visitors"_s)));
                request.setRawHeader("apikey", server.publishableKey());
                request.setRawHeader("Content-Type", "application/json");
                request.setRawHeader("Authorization", "Bearer " + access.toLatin1());
                const QJsonObject body{
                    {u"visitor_name"_s, name},
                    {u"answers"_s, QJsonArray{QJsonObject{{u"label"_s, u"Company"_s},
                                                          {u"value"_s, QString(name + u" Ltd"_s)}}}}};
                QNetworkReply *reply = m_http.post(request, QJsonDocument(body).toJson());
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
        const QString token = signUpAda(server, u"access_token"_s);
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
        const QString again = send(restored, "POST", u"/auth/v1/token?grant_type=password"_s,
                                   {{u"email"_s, u"ada@example.com"_s}, {u"password"_s, u"correct horse"_s}})
                                  .second.value(u"access_token")
                                  .toString();
        QNetworkRequest request(
            restored.baseUrl().resolved(QUrl(u"/rest/v1/visitors?select=visitor_name"_s)));
        request.setRawHeader("apikey", restored.publishableKey());
        request.setRawHeader("Authorization", "Bearer " + again.toLatin1());
        QNetworkReply *reply = m_http.get(request);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(15'000));
        reply->deleteLater();
        QSet<QString> names;
        for (const QJsonValue &row : QJsonDocument::fromJson(reply->readAll()).array()) {
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
