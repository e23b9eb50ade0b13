// The website in process: the invite API (validation, ownership, the email and its link), the version
// manifest, the guest's invite page, the help pages and the password-reset page behind the emailed link.
#include "tst_server_auth_fixture.h"
#include "website/WebsiteService.h"

#include <QJsonArray>
#include <QUrl>
#include <QUrlQuery>

using namespace tbtest;
using tbserver::HttpResponse;

namespace {

const QString password = u"correct horse"_s;

QJsonObject answer(int slot, const QString &value) {
    return {{u"slot"_s, slot}, {u"value"_s, value}};
}

QJsonObject newInvite(const QString &name, const QString &email = u"guest@example.com"_s) {
    return {{u"answers"_s, QJsonArray{answer(0, name), answer(1, u"Bluefin Analytics"_s)}},
            {u"email"_s, email},
            {u"visit_date"_s, u"2030-03-04"_s},
            {u"visit_time"_s, u"14:30"_s},
            {u"note"_s, u"Ring twice."_s}};
}

QString inviteCount(tbserver::Database &db) {
    tbserver::Statement count = db.prepare("SELECT count(*) FROM invites");
    count.step();
    return QString::number(count.integer(0));
}

// The host account with a sign-in form, a place name and its access token.
struct Host {
    QString userId;
    QString accessToken;
};

Host makeHost(ServerFixture &server, const QString &email, const QString &placeName) {
    const QJsonObject signedUp = ServerFixture::object(server.signUp(email, password, u"Priya"_s));
    Host host{signedUp[u"user"][u"id"].toString(), signedUp.value(u"access_token").toString()};
    const QJsonArray fields{
        QJsonObject{{u"slot"_s, 0},
                    {u"label"_s, u"Name"_s},
                    {u"type"_s, u"Plain Text"_s},
                    {u"required"_s, true},
                    {u"employee_list"_s, false}},
        QJsonObject{{u"slot"_s, 1},
                    {u"label"_s, u"Company"_s},
                    {u"type"_s, u"Plain Text"_s},
                    {u"required"_s, false},
                    {u"employee_list"_s, false}},
    };
    tbserver::Statement insert = server.db().prepare(
        "INSERT INTO kiosk_settings (owner_id, fields, employees, place_name) VALUES (?1, ?2, '[]', ?3)");
    insert.bind(1, host.userId)
        .bindText(2, QJsonDocument(fields).toJson(QJsonDocument::Compact))
        .bind(3, placeName);
    insert.run();
    return host;
}

} // namespace

class TestServerWebsite : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void createInvite();
    void inviteValidation_data();
    void inviteValidation();
    void bearerRequired_data();
    void bearerRequired();
    void resend_data();
    void resend();
    void manifest_data();
    void manifest();
    void guestPage_data();
    void guestPage();
    void pages_data();
    void pages();
    void passwordReset();
};

void TestServerWebsite::createInvite() {
    ServerFixture server;
    const Host host = makeHost(server, u"host@example.com"_s, u"Harbour <Studio>"_s);
    QJsonObject body = newInvite(u"  Zoë Ø'Brien "_s, u" guest@example.com "_s);
    body.insert(u"answers"_s, QJsonArray{answer(0, u"  Zoë Ø'Brien "_s), answer(1, u"Bluefin Analytics"_s),
                                         answer(0, u"Someone else"_s), answer(7, u"Unlabelled"_s)});
    const HttpResponse created =
        server.authorized("POST", "/api/invites", host.accessToken, ServerFixture::json(body));
    QCOMPARE(created.status, 201);
    const QString id = ServerFixture::object(created).value(u"id").toString();
    QCOMPARE(id.size(), 36);

    tbserver::Statement row = server.db().prepare(
        "SELECT owner_id, token, visitor_name, visitor_email, answers, visit_date, visit_time, note, used_at "
        "FROM invites WHERE id = ?1");
    row.bind(1, id);
    QVERIFY(row.step());
    QCOMPARE(row.string(0), host.userId);
    const QString token = row.string(1);
    QVERIFY(token.size() >= 32);
    QCOMPARE(row.string(2), u"Zoë Ø'Brien"_s);
    QCOMPARE(row.string(3), u"guest@example.com"_s);
    // Labels come from the account's form; the first answer for a slot wins.
    QCOMPARE(
        QJsonDocument::fromJson(row.text(4)).array(),
        (QJsonArray{
            QJsonObject{{u"slot"_s, 0}, {u"label"_s, u"Name"_s}, {u"value"_s, u"Zoë Ø'Brien"_s}},
            QJsonObject{{u"slot"_s, 1}, {u"label"_s, u"Company"_s}, {u"value"_s, u"Bluefin Analytics"_s}},
            QJsonObject{{u"slot"_s, 7}, {u"value"_s, u"Unlabelled"_s}}}));
    QCOMPARE(row.string(5), u"2030-03-04"_s);
    QCOMPARE(row.string(6), u"14:30"_s);
    QCOMPARE(row.string(7), u"Ring twice."_s);
    QVERIFY(row.isNull(8));

    const QStringList mails = server.outbox();
    QCOMPARE(mails.size(), 1);
    QVERIFY(mails[0].contains(u"To: guest@example.com"_s));
    QVERIFY2(mails[0].contains(u"http://127.0.0.1:54321/i/"_s +
                               QString::fromLatin1(QUrl::toPercentEncoding(token))),
             qPrintable(mails[0]));
    QVERIFY(mails[0].contains(u"Harbour <Studio>"_s));
    QVERIFY(mails[0].contains(u"Monday, March 4, 2030 at 14:30"_s));
    QVERIFY(mails[0].contains(u"Priya has invited you"_s));
}

void TestServerWebsite::inviteValidation_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    const auto with = [](const QString &key, const QJsonValue &value) {
        QJsonObject body = newInvite(u"Ana Almeida"_s);
        if (value.isUndefined()) {
            body.remove(key);
        } else {
            body.insert(key, value);
        }
        return ServerFixture::json(body);
    };
    const QString date = u"The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04."_s;
    const QString time = u"The visit time must be written as HH:mm, for example 14:30."_s;
    const QString slots = u"Each answer needs a whole slot number and a text value."_s;
    QTest::newRow("not JSON") << QByteArray("{answers:") << 400
                              << u"The invite could not be read: the request body is not a JSON object."_s;
    QTest::newRow("no answers")
        << with(u"answers"_s, QJsonValue::Undefined) << 422
        << u"The invite has no answers: send them as a list of slot and value pairs."_s;
    QTest::newRow("answers not a list")
        << with(u"answers"_s, u"Ana"_s) << 422
        << u"The invite has no answers: send them as a list of slot and value pairs."_s;
    QTest::newRow("answer without slot")
        << with(u"answers"_s, QJsonArray{QJsonObject{{u"value"_s, u"Ana"_s}}}) << 422 << slots;
    QTest::newRow("fractional slot") << with(u"answers"_s,
                                             QJsonArray{answer(0, u"Ana"_s),
                                                        QJsonObject{{u"slot"_s, 1.5}, {u"value"_s, u"x"_s}}})
                                     << 422 << slots;
    QTest::newRow("value not text") << with(u"answers"_s,
                                            QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, 7}}})
                                    << 422 << slots;
    QTest::newRow("no name") << with(u"answers"_s, QJsonArray{answer(1, u"Bluefin"_s)}) << 422
                             << u"The guest's name is missing: fill in the first question of the form."_s;
    QTest::newRow("blank name") << with(u"answers"_s, QJsonArray{answer(0, u" \n "_s)}) << 422
                                << u"The guest's name is missing: fill in the first question of the form."_s;
    QTest::newRow("no email") << with(u"email"_s, QJsonValue::Undefined) << 422
                              << u"The guest's email address is missing."_s;
    QTest::newRow("email without dot")
        << with(u"email"_s, u"ana@example"_s) << 422 << u"The guest's email address is not valid."_s;
    QTest::newRow("email with space") << with(u"email"_s, u"ana almeida@example.com"_s) << 422
                                      << u"The guest's email address is not valid."_s;
    QTest::newRow("date unpadded") << with(u"visit_date"_s, u"2030-3-4"_s) << 422 << date;
    QTest::newRow("date impossible") << with(u"visit_date"_s, u"2030-02-30"_s) << 422 << date;
    QTest::newRow("date not text") << with(u"visit_date"_s, 20300304) << 422 << date;
    QTest::newRow("time without minutes") << with(u"visit_time"_s, u"14"_s) << 422 << time;
    QTest::newRow("time out of range") << with(u"visit_time"_s, u"25:00"_s) << 422 << time;
    QTest::newRow("note not text") << with(u"note"_s, QJsonArray{}) << 422 << u"The note must be text."_s;
    QTest::newRow("note too long") << with(u"note"_s, QString(2001, u'n')) << 422
                                   << u"The note is too long (at most 2000 characters)."_s;
}

void TestServerWebsite::inviteValidation() {
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);
    ServerFixture server;
    const Host host = makeHost(server, u"host@example.com"_s, u"Studio"_s);
    const HttpResponse refused = server.authorized("POST", "/api/invites", host.accessToken, body);
    QCOMPARE(refused.status, status);
    QCOMPARE(ServerFixture::object(refused), (QJsonObject{{u"error"_s, error}}));
    QCOMPARE(inviteCount(server.db()), u"0"_s);
    QVERIFY(server.outbox().isEmpty());
}

void TestServerWebsite::bearerRequired_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("bearer");
    QTest::addColumn<QString>("error");
    const QString ended = u"Your session ended. Please sign in again."_s;
    for (const QByteArray &target :
         {QByteArray("/api/invites"),
          QByteArray("/api/invites/00000000-0000-4000-8000-000000000000/resend")}) {
        const char *which = target.endsWith("resend") ? "resend" : "create";
        QTest::addRow("%s, no token", which) << target << u"none"_s << u"Sign in to continue."_s;
        QTest::addRow("%s, not a token", which) << target << u"garbage"_s << ended;
        QTest::addRow("%s, expired", which) << target << u"expired"_s << ended;
        QTest::addRow("%s, signed out", which) << target << u"ended"_s << ended;
    }
}

void TestServerWebsite::bearerRequired() {
    QFETCH(QByteArray, target);
    QFETCH(QString, bearer);
    QFETCH(QString, error);
    ServerFixture server;
    const Host host = makeHost(server, u"host@example.com"_s, u"Studio"_s);
    tbserver::HeaderList headers;
    if (bearer == u"garbage") {
        headers.append(std::pair(QByteArray("Authorization"), QByteArray("Bearer abc.def")));
    } else if (bearer == u"expired") {
        server.advance(3600);
        headers.append(std::pair(QByteArray("Authorization"), "Bearer " + host.accessToken.toLatin1()));
    } else if (bearer == u"ended") {
        QCOMPARE(server.authorized("POST", "/auth/v1/logout", host.accessToken).status, 204);
        headers.append(std::pair(QByteArray("Authorization"), "Bearer " + host.accessToken.toLatin1()));
    }
    const HttpResponse refused =
        server.call("POST", target, ServerFixture::json(newInvite(u"Ana"_s)), headers);
    QCOMPARE(refused.status, 401);
    QCOMPARE(ServerFixture::object(refused), (QJsonObject{{u"error"_s, error}}));
    QCOMPARE(inviteCount(server.db()), u"0"_s);
}

void TestServerWebsite::resend_data() {
    QTest::addColumn<QString>("whose");
    QTest::addColumn<bool>("used");
    QTest::addColumn<bool>("upperCase");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("own invite") << u"own"_s << false << false << 200 << QString();
    QTest::newRow("own invite, id in capitals") << u"own"_s << false << true << 200 << QString();
    QTest::newRow("another account's invite")
        << u"other"_s << false << false << 404 << u"Invite not found."_s;
    QTest::newRow("no such invite") << u"none"_s << false << false << 404 << u"Invite not found."_s;
    QTest::newRow("used invite") << u"own"_s << true << false << 422
                                 << u"This invite has already been used, so it is not sent again."_s;
}

void TestServerWebsite::resend() {
    QFETCH(QString, whose);
    QFETCH(bool, used);
    QFETCH(bool, upperCase);
    QFETCH(int, status);
    QFETCH(QString, error);
    ServerFixture server;
    const Host own = makeHost(server, u"host@example.com"_s, u"Studio"_s);
    const Host other = makeHost(server, u"rival@example.com"_s, u"Elsewhere"_s);
    const Host &creator = whose == u"other" ? other : own;
    const HttpResponse created = server.authorized("POST", "/api/invites", creator.accessToken,
                                                   ServerFixture::json(newInvite(u"Ana Almeida"_s)));
    QCOMPARE(created.status, 201);
    QString id = whose == u"none" ? u"00000000-0000-4000-8000-000000000000"_s
                                  : ServerFixture::object(created).value(u"id").toString();
    if (used) {
        tbserver::Statement use =
            server.db().prepare("UPDATE invites SET used_at = '2030-03-04T14:31:00.000000+00:00'");
        use.run();
    }
    if (upperCase) {
        id = id.toUpper();
    }
    const HttpResponse answered =
        server.authorized("POST", "/api/invites/" + id.toLatin1() + "/resend", own.accessToken);
    QCOMPARE(answered.status, status);
    if (status == 200) {
        const QStringList mails = server.outbox();
        QCOMPARE(mails.size(), 2);
        QCOMPARE(linkIn(mails[1], u"http://127.0.0.1:54321/i/"_s),
                 linkIn(mails[0], u"http://127.0.0.1:54321/i/"_s));
    } else {
        QCOMPARE(ServerFixture::object(answered), (QJsonObject{{u"error"_s, error}}));
        QCOMPARE(server.outbox().size(), 1);
    }
}

void TestServerWebsite::manifest_data() {
    QTest::addColumn<QByteArray>("fileContent"); // empty: no --manifest; "missing": a file that is not there
    QTest::addColumn<int>("status");
    QTest::newRow("default") << QByteArray() << 200;
    QTest::newRow("from a file, as it is")
        << QByteArray("{ \"direct\": {\"minimumVersion\": \"1.0\", \"latestVersion\": \"2.1\", "
                      "\"downloadURL\": \"https://tallybrook.app/d\"} }\n")
        << 200;
    QTest::newRow("file missing") << QByteArray("missing") << 500;
}

void TestServerWebsite::manifest() {
    QFETCH(QByteArray, fileContent);
    QFETCH(int, status);
    QTemporaryDir dir;
    QString path;
    if (!fileContent.isEmpty()) {
        path = dir.filePath(u"version.json"_s);
        if (fileContent != "missing") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(fileContent);
        }
    }
    ServerFixture server({false, path});
    const HttpResponse response =
        server.call("GET", "/api/mac/version", {}, {{"Accept", "application/json"}});
    QCOMPARE(response.status, status);
    QVERIFY(response.header("Content-Type").startsWith("application/json"));
    if (status != 200) {
        QCOMPARE(ServerFixture::object(response).value(u"error").toString(),
                 u"The version manifest could not be read."_s);
    } else if (!fileContent.isEmpty()) {
        QCOMPARE(response.body, fileContent);
    } else {
        const QJsonObject manifest = ServerFixture::object(response);
        for (const auto channel : {u"direct", u"appStore"}) {
            const QJsonObject entry = manifest.value(channel).toObject();
            QCOMPARE(entry.value(u"latestVersion").toString(), u"0.0.0"_s);
            QCOMPARE(entry.value(u"minimumVersion").toString(), u"0.0.0"_s);
            QCOMPARE(QUrl(entry.value(u"downloadURL").toString()).scheme(), u"https"_s);
        }
        QCOMPARE(response.body, tbserver::WebsiteService::defaultManifest());
    }
    QCOMPARE(server.call("POST", "/api/mac/version").status, 405);
}

void TestServerWebsite::guestPage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("placeName");
    QTest::addColumn<QString>("visitDate");
    QTest::addColumn<bool>("used");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("notShown");
    QTest::newRow("markup in the name")
        << u"<script>alert(\"x\")</script> & 'Zoë'"_s << u"Studio"_s << u"2030-03-04"_s << false
        << u"&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;Zoë&#39;"_s << u"<script>"_s;
    QTest::newRow("markup in the place") << u"Ana"_s << u"<b>Bold</b> & Co"_s << u"2030-03-04"_s << false
                                         << u"&lt;b&gt;Bold&lt;/b&gt; &amp; Co"_s << u"<b>"_s;
    QTest::newRow("visit day and time") << u"Ana"_s << u"Studio"_s << u"2030-03-04"_s << false
                                        << u"Monday, March 4, 2030 at 14:30"_s << u"passed"_s;
    QTest::newRow("past day") << u"Ana"_s << u"Studio"_s << u"2001-01-01"_s << false << u"has passed"_s
                              << u"signed in"_s;
    QTest::newRow("used") << u"Ana"_s << u"Studio"_s << u"2001-01-01"_s << true << u"You have signed in"_s
                          << u"has passed"_s;
}

void TestServerWebsite::guestPage() {
    QFETCH(QString, name);
    QFETCH(QString, placeName);
    QFETCH(QString, visitDate);
    QFETCH(bool, used);
    QFETCH(QString, shown);
    QFETCH(QString, notShown);
    ServerFixture server;
    const Host host = makeHost(server, u"host@example.com"_s, placeName);
    QJsonObject body = newInvite(name);
    body.insert(u"visit_date"_s, visitDate);
    QCOMPARE(server.authorized("POST", "/api/invites", host.accessToken, ServerFixture::json(body)).status,
             201);
    if (used) {
        tbserver::Statement use =
            server.db().prepare("UPDATE invites SET used_at = '2001-01-01T09:00:00.000000+00:00'");
        use.run();
    }
    const QString link = linkIn(server.outbox().constFirst(), u"http://127.0.0.1:54321/i/"_s);
    const HttpResponse page = server.call("GET", QUrl(link).path(QUrl::FullyEncoded).toLatin1());
    QCOMPARE(page.status, 200);
    QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
    const QString html = QString::fromUtf8(page.body);
    QVERIFY2(html.contains(shown), qPrintable(html));
    QVERIFY(!html.contains(notShown));
    QVERIFY(html.contains(u"Ring twice."_s));

    const HttpResponse unknown = server.call("GET", "/i/no-such-token");
    QCOMPARE(unknown.status, 404);
    QVERIFY(unknown.body.contains("Invitation not found"));
    QCOMPARE(server.call("GET", "/i/" + QUrl(link).fileName(QUrl::FullyEncoded).toLatin1() + "/more").status,
             404);
}

void TestServerWebsite::pages_data() {
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("title");
    QTest::newRow("support") << QByteArray("/support") << 200 << QByteArray("Tallybrook Support");
    QTest::newRow("privacy") << QByteArray("/privacy") << 200 << QByteArray("Privacy Policy");
    QTest::newRow("dashboard") << QByteArray("/dashboard") << 200 << QByteArray("Dashboard");
    QTest::newRow("host notifications")
        << QByteArray("/guides/host-notifications") << 200 << QByteArray("Host Notifications");
    QTest::newRow("kiosk setup") << QByteArray("/guides/kiosk-setup") << 200
                                 << QByteArray("Setting up the sign-in form");
    QTest::newRow("callback") << QByteArray("/auth/callback") << 200 << QByteArray("continue at the desk");
    QTest::newRow("callback after confirming")
        << QByteArray("/auth/callback?type=signup") << 200 << QByteArray("Email confirmed");
    QTest::newRow("callback with a failed link")
        << QByteArray(
               "/auth/callback?error=access_denied&error_description=Email+link+%3Cb%3Einvalid%3C%2Fb%3E")
        << 400 << QByteArray("Email link &lt;b&gt;invalid&lt;/b&gt;");
    QTest::newRow("home") << QByteArray("/") << 200 << QByteArray("Tallybrook local server");
    QTest::newRow("unknown page") << QByteArray("/pricing") << 404 << QByteArray("Page not found");
    QTest::newRow("unknown guide") << QByteArray("/guides/") << 404 << QByteArray("Page not found");
    QTest::newRow("unknown API") << QByteArray("/api/visitors") << 404
                                 << QByteArray("{\"error\":\"Not found.\"}");
}

void TestServerWebsite::pages() {
    QFETCH(QByteArray, target);
    QFETCH(int, status);
    QFETCH(QByteArray, title);
    ServerFixture server;
    const HttpResponse page = server.call("GET", target);
    QCOMPARE(page.status, status);
    QVERIFY2(page.body.contains(title), page.body.constData());
    if (!target.startsWith("/api/")) {
        QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        QVERIFY(page.body.startsWith("<!DOCTYPE html>"));
    }
}

void TestServerWebsite::passwordReset() {
    ServerFixture server;
    const Host host = makeHost(server, u"host@example.com"_s, u"Studio"_s);
    QCOMPARE(
        server.call("POST", "/auth/v1/recover", ServerFixture::json({{u"email"_s, u"host@example.com"_s}}))
            .status,
        200);
    const QString link = linkIn(server.outbox().constFirst(), u"http://127.0.0.1:54321/auth/callback?"_s);
    const QByteArray target = QUrl(link).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1();
    const HttpResponse form = server.call("GET", target);
    QCOMPARE(form.status, 200);
    QVERIFY(form.body.contains("<form method=\"post\" action=\"/auth/callback\">"));
    const QString token = QUrlQuery(QUrl(link)).queryItemValue(u"token"_s);

    const auto submit = [&](const QString &first, const QString &second) {
        QUrlQuery fields;
        fields.addQueryItem(u"token"_s, token);
        fields.addQueryItem(u"password"_s, first);
        fields.addQueryItem(u"repeat"_s, second);
        return server.call("POST", "/auth/callback", fields.toString(QUrl::FullyEncoded).toLatin1(),
                           {{"Content-Type", "application/x-www-form-urlencoded"}});
    };
    QCOMPARE(submit(u"short"_s, u"short"_s).status, 422);
    QVERIFY(submit(u"battery staple"_s, u"battery stapler"_s).body.contains("not the same"));
    QVERIFY(submit(password, password).body.contains("different from your current one"));
    const HttpResponse changed = submit(u"battery staple"_s, u"battery staple"_s);
    QCOMPARE(changed.status, 200);
    QVERIFY(changed.body.contains("Password changed"));
    QCOMPARE(server.authorized("GET", "/auth/v1/user", host.accessToken).status, 403);
    QCOMPARE(server.signIn(u"host@example.com"_s, password).status, 400);
    QCOMPARE(server.signIn(u"host@example.com"_s, u"battery staple"_s).status, 200);
    // The link is spent.
    QCOMPARE(server.call("GET", target).status, 400);
    QCOMPARE(submit(u"another one"_s, u"another one"_s).status, 400);
}

QTEST_GUILESS_MAIN(TestServerWebsite)
#include "tst_server_website.moc"
