// The website in process: the invite API (validation, ownership, the email and its link), the version
// manifest, the guest's invite page, the pages and the password-reset page behind the emailed link.
#include "ServerFixture.h"

#include <QUrl>
#include <QUrlQuery>

using namespace tbserver;
using namespace tbserver::testing;

namespace {

const QString password = u"correct horse"_s;
const QByteArray invite =
    R"({"answers":[{"slot":0,"value":"Ana Almeida"},{"slot":1,"value":"Bluefin"}],)"
    R"("email":"guest@example.com","visit_date":"2030-03-04","visit_time":"14:30","note":"Ring twice."})";

// Signs a host up, with a sign-in form of Name and Company and a place name; returns the access token.
QString host(ServerFixture &server, const QString &email, const QString &placeName = u"Studio"_s) {
    const QJsonObject signedUp = ServerFixture::object(server.signUp(email, password, u"Priya"_s));
    Statement insert = server.db().prepare(
        "INSERT INTO kiosk_settings (owner_id, fields, employees, place_name) VALUES (?1, ?2, '[]', ?3)");
    insert.bind(1, signedUp[u"user"][u"id"].toString())
        .bindText(2, R"([{"slot":0,"label":"Name"},{"slot":1,"label":"Company"}])")
        .bind(3, placeName);
    insert.run();
    return signedUp.value(u"access_token").toString();
}

HttpResponse create(ServerFixture &server, const QString &token, const QByteArray &body = invite) {
    return server.authorized("POST", "/api/invites", token, body);
}

QString inviteLink(ServerFixture &server, int mail = 0) {
    return linkIn(server.outbox().value(mail), u"http://127.0.0.1:54321/i/"_s);
}

} // namespace

class TestServerWebsite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Names and addresses trimmed, labels from the account's form, the first answer for a slot kept; the
    // email names the host and the place and links the guest's page by a token of its own.
    void createInvite() {
        ServerFixture server;
        const QString token = host(server, u"host@example.com"_s, u"Harbour <Studio>"_s);
        const HttpResponse created = create(
            server, token,
            "{\"answers\":[{\"slot\":0,\"value\":\"  Zoë Ø'Brien \"},{\"slot\":1,\"value\":\"Bluefin\"},"
            R"({"slot":0,"value":"Someone else"},{"slot":7,"value":"Unlabelled"}],)"
            R"("email":" guest@example.com ","visit_date":"2030-03-04","visit_time":"14:30","note":"Ring twice."})");
        QCOMPARE(created.status, 201);
        Statement row = server.db().prepare(
            "SELECT json_array(owner_id = (SELECT id FROM users), visitor_name, visitor_email, "
            "json(answers), visit_date, visit_time, note, used_at), token FROM invites WHERE id = ?");
        row.bind(1, ServerFixture::object(created).value(u"id").toString());
        QVERIFY(row.step());
        QCOMPARE(
            QJsonDocument::fromJson(row.text(0)).array(),
            QJsonDocument::fromJson(
                "[1,\"Zoë Ø'Brien\",\"guest@example.com\",[{\"slot\":0,\"label\":\"Name\",\"value\":\"Zoë "
                "Ø'Brien\"},"
                R"({"slot":1,"label":"Company","value":"Bluefin"},{"slot":7,"value":"Unlabelled"}],)"
                R"("2030-03-04","14:30","Ring twice.",null])")
                .array());
        QVERIFY(row.text(1).size() >= 32);
        const QString mail = server.outbox().value(0);
        QCOMPARE(inviteLink(server), u"http://127.0.0.1:54321/i/"_s +
                                         QString::fromLatin1(QUrl::toPercentEncoding(row.string(1))));
        for (const QString &text :
             {u"To: guest@example.com"_s, u"Priya has invited you to visit at Harbour <Studio>."_s,
              u"When: Monday, March 4, 2030 at 14:30"_s}) {
            QVERIFY2(mail.contains(text), qPrintable(mail));
        }
    }

    void refusedInvites_data() {
        QTest::addColumn<QByteArray>("change"); // members replacing the valid invite's, or a whole body
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *change, int status, const char *error) {
            QTest::newRow(change) << QByteArray(change) << status << QString::fromUtf8(error);
        };
        const char *slots = "Each answer needs a whole slot number and a text value.";
        const char *date = "The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04.";
        const char *time = "The visit time must be written as HH:mm, for example 14:30.";
        row("{answers:", 400, "The invite could not be read: the request body is not a JSON object.");
        row(R"({"answers":null})", 422,
            "The invite has no answers: send them as a list of slot and value pairs.");
        row(R"({"answers":[{"value":"Ana"}]})", 422, slots);
        row(R"({"answers":[{"slot":0,"value":"Ana"},{"slot":1.5,"value":"x"}]})", 422, slots);
        row(R"({"answers":[{"slot":0,"value":7}]})", 422, slots);
        row("{\"answers\":[{\"slot\":1,\"value\":\"Bluefin\"},{\"slot\":0,\"value\":\" \\n \"}]}", 422,
            "The guest's name is missing: fill in the first question of the form.");
        row(R"({"email":null})", 422, "The guest's email address is missing.");
        row(R"({"email":"ana@example"})", 422, "The guest's email address is not valid.");
        row(R"({"visit_date":"2030-3-4"})", 422, date);
        row(R"({"visit_date":"2030-02-30"})", 422, date);
        row(R"({"visit_date":20300304})", 422, date);
        row(R"({"visit_time":"14"})", 422, time);
        row(R"({"visit_time":"25:00"})", 422, time);
        row(R"({"note":[]})", 422, "The note must be text.");
        row("2001 characters of note", 422, "The note is too long (at most 2000 characters).");
    }

    void refusedInvites() {
        QFETCH(QByteArray, change);
        QFETCH(int, status);
        QFETCH(QString, error);
        ServerFixture server;
        QJsonObject body = QJsonDocument::fromJson(invite).object();
        const QJsonObject changes = change.startsWith("2001") ? QJsonObject{{u"note"_s, QString(2001, u'n')}}
                                                              : QJsonDocument::fromJson(change).object();
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            body.insert(it.key(), it.value());
        }
        const HttpResponse refused = create(server, host(server, u"host@example.com"_s),
                                            changes.isEmpty() ? change : ServerFixture::json(body));
        QCOMPARE(refused.status, status);
        QCOMPARE(ServerFixture::object(refused), (QJsonObject{{u"error"_s, error}}));
        QCOMPARE(server.rowCount("invites"), 0);
        QCOMPARE(server.outbox().size(), 0);
    }

    void bearerRequired_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("bearer");
        QTest::addColumn<QString>("error");
        const QString ended = u"Your session ended. Please sign in again."_s;
        QTest::newRow("no token") << QByteArray("/api/invites") << QByteArray() << u"Sign in to continue."_s;
        QTest::newRow("not a token") << QByteArray("/api/invites") << QByteArray("abc.def") << ended;
        QTest::newRow("expired") << QByteArray("/api/invites") << QByteArray("expired") << ended;
        QTest::newRow("signed out") << QByteArray("/api/invites") << QByteArray("ended") << ended;
        QTest::newRow("resend, signed out")
            << QByteArray("/api/invites/00000000-0000-4000-8000-000000000000/resend") << QByteArray("ended")
            << ended;
    }

    void bearerRequired() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, bearer);
        QFETCH(QString, error);
        ServerFixture server;
        QString token = host(server, u"host@example.com"_s);
        if (bearer == "expired") {
            server.advance(3600);
        } else if (bearer == "ended") {
            QCOMPARE(server.authorized("POST", "/auth/v1/logout", token).status, 204);
        } else {
            token = QString::fromLatin1(bearer);
        }
        const HttpResponse refused = server.call(
            "POST", target, invite,
            token.isEmpty() ? HeaderList() : HeaderList{{"Authorization", "Bearer " + token.toLatin1()}});
        QCOMPARE(refused.status, 401);
        QCOMPARE(ServerFixture::object(refused), (QJsonObject{{u"error"_s, error}}));
        QCOMPARE(server.rowCount("invites"), 0);
    }

    void resend_data() {
        QTest::addColumn<QString>("whose");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("own invite") << u"own"_s << 200 << QString();
        QTest::newRow("own invite, id in capitals") << u"OWN"_s << 200 << QString();
        QTest::newRow("another account's invite") << u"other"_s << 404 << u"Invite not found."_s;
        QTest::newRow("no such invite") << u"none"_s << 404 << u"Invite not found."_s;
        QTest::newRow("used invite") << u"used"_s << 422
                                     << u"This invite has already been used, so it is not sent again."_s;
    }

    // Only the owner's unused invite goes out again, with the same link.
    void resend() {
        QFETCH(QString, whose);
        QFETCH(int, status);
        QFETCH(QString, error);
        ServerFixture server;
        const QString own = host(server, u"host@example.com"_s);
        const QString other = host(server, u"rival@example.com"_s);
        QString id =
            ServerFixture::object(create(server, whose == u"other" ? other : own)).value(u"id").toString();
        id = whose == u"none"  ? u"00000000-0000-4000-8000-000000000000"_s
             : whose == u"OWN" ? id.toUpper()
                               : id;
        if (whose == u"used") {
            server.db().exec("UPDATE invites SET used_at = '2030-03-04T14:31:00.000000+00:00'");
        }
        const HttpResponse answered =
            server.authorized("POST", "/api/invites/" + id.toLatin1() + "/resend", own);
        QCOMPARE(answered.status, status);
        const QJsonObject expected{
            {status == 200 ? u"id"_s : u"error"_s, status == 200 ? id.toLower() : error}};
        QCOMPARE(ServerFixture::object(answered), expected);
        QCOMPARE(server.outbox().size(), status == 200 ? 2 : 1);
        QVERIFY(status != 200 || inviteLink(server, 1) == inviteLink(server));
    }

    void manifest_data() {
        QTest::addColumn<QByteArray>("file"); // empty: no --manifest; "missing": a file that is not there
        QTest::addColumn<QByteArray>("answer");
        const QByteArray channel =
            R"({"downloadURL":"https://tallybrook.app/download","latestVersion":"0.0.0","minimumVersion":"0.0.0"})";
        QTest::newRow("default") << QByteArray()
                                 << R"({"appStore":)" + channel + R"(,"direct":)" + channel + "}";
        QTest::newRow("from a file, as it is")
            << QByteArray("{ \"direct\": {\"latestVersion\": \"2.1\"} }\n")
            << QByteArray("{ \"direct\": {\"latestVersion\": \"2.1\"} }\n");
        QTest::newRow("file missing")
            << QByteArray("missing") << QByteArray(R"({"error":"The version manifest could not be read."})");
    }

    void manifest() {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, answer);
        QTemporaryDir dir;
        QFile written(dir.filePath(u"version.json"_s));
        if (!file.isEmpty() && file != "missing") {
            QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size() &&
                    written.flush());
        }
        ServerFixture server(false, file.isEmpty() ? QString() : written.fileName());
        const HttpResponse response = server.call("GET", "/api/mac/version");
        QCOMPARE(QByteArray::number(response.status) + ' ' + response.body,
                 (file == "missing" ? "500 " : "200 ") + answer);
        QVERIFY(response.header("Content-Type").startsWith("application/json"));
        QCOMPARE(server.call("POST", "/api/mac/version").status, 405);
    }

    void guestPage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("day"); // the visit day; "used" for a past invite that was used
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notShown");
        QTest::newRow("markup in the name")
            << u"<script>alert(\"x\")</script> & 'Zoë'"_s << u"Studio"_s << u"2030-03-04"_s
            << u"&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;Zoë&#39;"_s << u"<script>"_s;
        QTest::newRow("markup in the place") << u"Ana"_s << u"<b>Bold</b> & Co"_s << u"2030-03-04"_s
                                             << u"&lt;b&gt;Bold&lt;/b&gt; &amp; Co"_s << u"<b>"_s;
        QTest::newRow("visit day and time") << u"Ana"_s << u"Studio"_s << u"2030-03-04"_s
                                            << u"Monday, March 4, 2030 at 14:30"_s << u"passed"_s;
        QTest::newRow("past day") << u"Ana"_s << u"Studio"_s << u"2001-01-01"_s << u"has passed"_s
                                  << u"signed in"_s;
        QTest::newRow("used") << u"Ana"_s << u"Studio"_s << u"used"_s << u"You have signed in"_s
                              << u"has passed"_s;
    }

    void guestPage() {
        QFETCH(QString, name);
        QFETCH(QString, place);
        QFETCH(QString, day);
        QFETCH(QString, shown);
        QFETCH(QString, notShown);
        ServerFixture server;
        QJsonObject body = QJsonDocument::fromJson(invite).object();
        body.insert(u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, name}}});
        body.insert(u"visit_date"_s, day == u"used" ? u"2001-01-01"_s : day);
        QCOMPARE(create(server, host(server, u"host@example.com"_s, place), ServerFixture::json(body)).status,
                 201);
        if (day == u"used") {
            server.db().exec("UPDATE invites SET used_at = '2001-01-01T09:00:00.000000+00:00'");
        }
        const QUrl link(inviteLink(server));
        const HttpResponse page = server.call("GET", link.path(QUrl::FullyEncoded).toLatin1());
        QCOMPARE(page.status, 200);
        QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        const QString html = QString::fromUtf8(page.body);
        QVERIFY2(html.contains(shown) && html.contains(u"Ring twice."_s) && !html.contains(notShown),
                 qPrintable(html));
        QVERIFY(server.call("GET", "/i/no-such-token").body.contains("Invitation not found"));
        QCOMPARE(server.call("GET", "/i/" + link.fileName(QUrl::FullyEncoded).toLatin1() + "/more").status,
                 404);
    }

    void pages_data() {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("text");
        const auto row = [](const char *target, int status, const char *text) {
            QTest::newRow(target) << QByteArray(target) << status << QByteArray(text);
        };
        row("/", 200, "Tallybrook local server");
        row("/support", 200, "Tallybrook Support");
        row("/privacy", 200, "Privacy Policy");
        row("/dashboard", 200, "Dashboard");
        row("/guides/host-notifications", 200, "Host Notifications");
        row("/guides/kiosk-setup", 200, "Setting up the sign-in form");
        row("/auth/callback", 200, "continue at the desk");
        row("/auth/callback?type=signup", 200, "Email confirmed");
        row("/auth/callback?error=access_denied&error_description=Email+link+%3Cb%3Einvalid%3C%2Fb%3E", 400,
            "Email link &lt;b&gt;invalid&lt;/b&gt;");
        row("/pricing", 404, "Page not found");
        row("/guides/", 404, "Page not found");
        row("/api/visitors", 404, "{\"error\":\"Not found.\"}");
    }

    void pages() {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, text);
        ServerFixture server;
        const HttpResponse page = server.call("GET", target);
        QCOMPARE(page.status, status);
        QVERIFY2(page.body.contains(text), page.body.constData());
        QVERIFY(target.startsWith("/api/") || page.body.startsWith("<!DOCTYPE html>"));
    }

    // The emailed link opens a form that changes the password once, ending every session of the account.
    void passwordReset() {
        ServerFixture server;
        const QString token = host(server, u"host@example.com"_s);
        QCOMPARE(server.call("POST", "/auth/v1/recover", R"({"email":"host@example.com"})").status, 200);
        const QString link = linkIn(server.outbox().value(0), u"http://127.0.0.1:54321/auth/callback?"_s);
        const QByteArray target = QUrl(link).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1();
        QVERIFY(server.call("GET", target).body.contains("<form method=\"post\" action=\"/auth/callback\">"));
        const auto submit = [&](const QString &first, const QString &second) {
            QUrlQuery fields{{u"token"_s, QUrlQuery(QUrl(link)).queryItemValue(u"token"_s)},
                             {u"password"_s, first},
                             {u"repeat"_s, second}};
            return server.call("POST", "/auth/callback", fields.toString(QUrl::FullyEncoded).toLatin1());
        };
        QCOMPARE(submit(u"short"_s, u"short"_s).status, 422);
        QVERIFY(submit(u"battery staple"_s, u"battery stapler"_s).body.contains("not the same"));
        QVERIFY(submit(password, password).body.contains("different from your current one"));
        const HttpResponse changed = submit(u"battery staple"_s, u"battery staple"_s);
        QVERIFY(changed.status == 200 && changed.body.contains("Password changed"));
        QCOMPARE(server.authorized("GET", "/auth/v1/user", token).status, 403);
        QCOMPARE(server.signIn(u"host@example.com"_s, password).status, 400);
        QCOMPARE(server.signIn(u"host@example.com"_s, u"battery staple"_s).status, 200);
        QCOMPARE(server.call("GET", target).status, 400); // the link is spent
        QCOMPARE(submit(u"another one"_s, u"another one"_s).status, 400);
    }
};

QTEST_GUILESS_MAIN(TestServerWebsite)
#include "tst_server_website.moc"
