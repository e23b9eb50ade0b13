// The website in process: the invite API (validation, ownership, the email and its link), the guest's invite
// page, the pages and the version manifest, and the password-reset page behind the emailed link.
#include "ServerFixture.h"

#include <QUrl>
#include <QUrlQuery>

using namespace tbserver;
using namespace tbserver::testing;

namespace {

const QString password = u"correct horse"_s;
const QByteArray invite =
    R"({"answers":[{"slot":0,"value":"Ana"},{"slot":1,"value":"Bluefin"}],"email":"guest@example.com",)"
    R"("visit_date":"2030-03-04","visit_time":"14:30","note":"Ring twice."})";

// Signs a host up, with a sign-in form of Name and Company and a place name; returns the access token.
QString host(ServerFixture &server, const QString &email, const QString &placeName = u"Studio"_s) {
    const QJsonObject signedUp = ServerFixture::object(server.signUp(email, password, u"Priya"_s));
    Statement insert =
        server.db().prepare("INSERT INTO kiosk_settings (owner_id, fields, place_name) VALUES (?1, ?2, ?3)");
    insert.bind(1, signedUp[u"user"][u"id"].toString()).bind(3, placeName);
    insert.bindText(2, R"([{"slot":0,"label":"Name"},{"slot":1,"label":"Company"}])").run();
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

    ServerFixture m_server; // for the refused invites, which leave nothing behind
    QString m_host;

private Q_SLOTS:
    void initTestCase() { m_host = host(m_server, u"host@example.com"_s); }

    // Names and addresses trimmed, labels from the account's form, the first answer for a slot kept; the
    // email names the host and the place and links the guest's page by a token of its own.
    void createInvite() {
        ServerFixture server;
        // A line break in a header value (the place names the subject) must not start a header of its own.
        const QString token =
            host(server, u"host@example.com"_s, u"Harbour <Studio>\nBcc: spy@example.com"_s);
        const HttpResponse created =
            create(server, token,
                   R"({"answers":[{"slot":0,"value":"  Zoë "},{"slot":1,"value":"Bluefin"},)"
                   R"({"slot":0,"value":"Someone else"},{"slot":7,"value":"Unlabelled"}],)"
                   R"("email":" guest@example.com ","visit_date":"2030-03-04","visit_time":"14:30"})");
        QCOMPARE(created.status, 201);
        Statement row = server.db().prepare(
            "SELECT json_array(owner_id = (SELECT id FROM users), visitor_name, visitor_email, "
            "json(answers), visit_date, visit_time, note, used_at), token FROM invites WHERE id = ?");
        row.bind(1, ServerFixture::object(created).value(u"id").toString());
        QVERIFY(row.step());
        QCOMPARE(
            row.text(0),
            QByteArray(R"([1,"Zoë","guest@example.com",[{"label":"Name","slot":0,"value":"Zoë"},)"
                       R"({"label":"Company","slot":1,"value":"Bluefin"},{"slot":7,"value":"Unlabelled"}],)"
                       R"("2030-03-04","14:30",null,null])"));
        QVERIFY(row.text(1).size() >= 32);
        QCOMPARE(inviteLink(server), u"http://127.0.0.1:54321/i/"_s +
                                         QString::fromLatin1(QUrl::toPercentEncoding(row.string(1))));
        const QString mail = server.outbox().value(0);
        for (
            const QString &text :
            {u"To: guest@example.com\r\nSubject: You're invited to Harbour <Studio> Bcc: spy@example.com\r\n"_s,
             u"Priya has invited you to visit at Harbour <Studio>\r\n"_s,
             u"When: Monday, March 4, 2030 at 14:30"_s}) {
            QVERIFY2(mail.contains(text), qPrintable(mail));
        }
    }

    void refusedInvites_data() {
        QTest::addColumn<QByteArray>("change"); // members replacing the valid invite's, or a whole body
        QTest::addColumn<QString>("error");
        const auto row = [](const char *change, const char *error) {
            QTest::newRow(change) << QByteArray(change) << QString::fromUtf8(error);
        };
        const char *slots = "422 Each answer needs a whole slot number and a text value.";
        row("{answers:", "400 The invite could not be read: the request body is not a JSON object.");
        row(R"({"answers":null})",
            "422 The invite has no answers: send them as a list of slot and value pairs.");
        row(R"({"answers":[{"value":"Ana"}]})", slots);
        row(R"({"answers":[{"slot":0,"value":7}]})", slots);
        row(R"({"answers":[{"slot":0,"value":"Ana"},{"slot":1.5,"value":"x"}]})", slots);
        row(R"({"email":"ana@example"})", "422 The guest's email address is not valid.");
        row(R"({"visit_date":20300304})",
            "422 The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04.");
        row(R"({"answers":[{"slot":1,"value":"B"},{"slot":0,"value":" "}]})",
            "422 The guest's name is missing: fill in the first question of the form.");
        row(R"({"email":null})", "422 The guest's email address is missing.");
        row(R"({"visit_date":"2030-02-30"})",
            "422 The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04.");
        row(R"({"visit_time":"25:00"})", "422 The visit time must be written as HH:mm, for example 14:30.");
        row("2001 characters of note", "422 The note is too long (at most 2000 characters).");
    }

    // Nothing stored and no email sent.
    void refusedInvites() {
        QFETCH(QByteArray, change);
        QFETCH(QString, error);
        QJsonObject body = QJsonDocument::fromJson(invite).object();
        const QJsonObject changes = change.startsWith("2001") ? QJsonObject{{u"note"_s, QString(2001, u'n')}}
                                                              : QJsonDocument::fromJson(change).object();
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            body.insert(it.key(), it.value());
        }
        const HttpResponse refused =
            create(m_server, m_host, changes.isEmpty() ? change : ServerFixture::json(body));
        QCOMPARE(QString::number(refused.status) + u' ' + ServerFixture::object(refused)[u"error"].toString(),
                 error);
        QCOMPARE(m_server.rowCount("invites") + m_server.outbox().size(), 0);
    }

    void resend_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("answer");
        const QString ended = u"401 Your session ended. Please sign in again."_s;
        QTest::newRow("own invite") << u"own"_s << u"200"_s;
        QTest::newRow("own invite, id in capitals") << u"OWN"_s << u"200"_s;
        QTest::newRow("another account's invite") << u"other"_s << u"404 Invite not found."_s;
        QTest::newRow("no such invite") << u"none"_s << u"404 Invite not found."_s;
        QTest::newRow("used invite") << u"used"_s
                                     << u"422 This invite has already been used, so it is not sent again."_s;
        QTest::newRow("no token") << u"no token"_s << u"401 Sign in to continue."_s;
        QTest::newRow("not a token") << u"not a token"_s << ended;
        QTest::newRow("signed out") << u"signed out"_s << ended;
    }

    // Only the owner's unused invite goes out again, with the same link, and only to a live session.
    void resend() {
        QFETCH(QString, which);
        QFETCH(QString, answer);
        ServerFixture server;
        QString own = host(server, u"host@example.com"_s);
        const QString owner = which == u"other" ? host(server, u"rival@example.com"_s) : own;
        QString id = ServerFixture::object(create(server, owner)).value(u"id").toString();
        id = which == u"none"  ? u"00000000-0000-4000-8000-000000000000"_s
             : which == u"OWN" ? id.toUpper()
                               : id;
        if (which == u"used") {
            server.db().exec("UPDATE invites SET used_at = '2030-03-04T14:31:00.000000+00:00'");
        } else if (which == u"signed out") {
            QCOMPARE(server.authorized("POST", "/auth/v1/logout", own).status, 204);
        }
        own = which == u"no token" ? QString() : which == u"not a token" ? u"abc.def"_s : own;
        const QByteArray bearer = own.isEmpty() ? QByteArray() : "Bearer " + own.toLatin1();
        const HttpResponse answered =
            server.call("POST", "/api/invites/" + id.toLatin1() + "/resend", {}, {{"Authorization", bearer}});
        const QString error = ServerFixture::object(answered)[u"error"].toString();
        QCOMPARE(QString(QString::number(answered.status) + u' ' + error).trimmed(), answer);
        QCOMPARE(server.outbox().size(), answer == u"200" ? 2 : 1);
        QVERIFY(answer != u"200" || inviteLink(server, 1) == inviteLink(server));
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
        QTest::addColumn<QByteArray>("answer"); // status, then text the body holds
        const auto row = [](const char *target, const char *answer) {
            QTest::newRow(target) << QByteArray(target) << QByteArray(answer);
        };
        row("/", "200 Tallybrook local server");
        for (const char *page :
             {"/support", "/privacy", "/dashboard", "/guides/host-notifications", "/guides/kiosk-setup"}) {
            row(page, "200 </footer>");
        }
        row("/auth/callback?type=signup", "200 Email confirmed");
        row("/auth/callback?error=access_denied&error_description=Email+link+%3Cb%3Ebad%3C%2Fb%3E",
            "400 Email link &lt;b&gt;bad&lt;/b&gt;");
        row("/pricing", "404 Page not found");
        row("/api/visitors", "404 {\"error\":\"Not found.\"}");
        row("/api/mac/version",
            "200 {\"direct\":{\"latestVersion\":\"2.1\"}}\n"); // the --manifest file, as it is
    }

    void pages() {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, answer);
        QTemporaryDir dir;
        QFile manifest(dir.filePath(u"version.json"_s));
        QVERIFY(manifest.open(QIODevice::WriteOnly) &&
                manifest.write("{\"direct\":{\"latestVersion\":\"2.1\"}}\n") > 0);
        manifest.close();
        ServerFixture server(false, manifest.fileName());
        const HttpResponse page = server.call("GET", target);
        QVERIFY2(answer.startsWith(QByteArray(QByteArray::number(page.status) + ' ')) &&
                     page.body.contains(answer.mid(4)),
                 page.body.constData());
        QVERIFY(
            page.header("Content-Type")
                .startsWith(target.startsWith("/api/") ? "application/json" : "text/html; charset=utf-8"));
        QCOMPARE(server.call("POST", "/api/mac/version").status, 405);
        QVERIFY(QFile::remove(manifest.fileName()));
        const HttpResponse missing = server.call("GET", "/api/mac/version");
        QCOMPARE(QByteArray::number(missing.status) + missing.body,
                 R"(500{"error":"The version manifest could not be read."})");
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
            const QUrlQuery fields{{u"token"_s, QUrlQuery(QUrl(link)).queryItemValue(u"token"_s)},
                                   {u"password"_s, first},
                                   {u"repeat"_s, second}};
            // A form sends a space as a plus.
            return server.call("POST", "/auth/callback",
                               fields.toString(QUrl::FullyEncoded).replace(u"%20"_s, u"+"_s).toLatin1());
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
