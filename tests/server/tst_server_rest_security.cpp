// Row ownership, the anonymous role, bad tokens and hostile input: no request reaches another account's rows.
#include "RestFixture.h"
#include "VisitorSample.h"
#include "rest/InviteStore.h"

using namespace tbserver;
using namespace tbserver::testing;
using namespace Qt::StringLiterals;

namespace {

const QByteArray a1 = "00000000-0000-4000-8000-000000000001";

} // namespace

class TestServerRestSecurity : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RestFixture> m_fixture;
    QString m_alice;
    QString m_bob;
    QByteArray m_aliceToken;
    QByteArray m_bobToken;
    QString m_aliceInvite;

    RestFixture &fx() { return *m_fixture; }

    // Everything of Alice's, as stored.
    QByteArray aliceSnapshot() {
        Statement rows = fx().db().prepare(
            "SELECT (SELECT json_group_array(json_array(id, visitor_name, host_name, signed_out_at, "
            "search_text)) "
            "FROM (SELECT * FROM visitors WHERE owner_id = ?1 ORDER BY id)) || "
            "(SELECT json_group_array(json_array(place_name, employees)) FROM kiosk_settings WHERE owner_id "
            "= ?1) || "
            "(SELECT json_group_array(json_array(id, used_at)) FROM invites WHERE owner_id = ?1) || "
            "(SELECT count(*) FROM users WHERE id = ?1) || "
            "(SELECT count(*) FROM visitors_search WHERE visitors_search MATCH '\"acme\"')");
        rows.bind(1, m_alice);
        rows.step();
        return rows.text(0);
    }

    // Bob's visitors as he reads them, each checked to be his own.
    QByteArray bobReads(const QByteArray &query) {
        const HttpResponse response =
            fx().call("GET",
                      "visitors?select=visitor_name,owner_id&order=visitor_name" +
                          (query.isEmpty() ? QByteArray() : QByteArray("&" + query)),
                      m_bobToken, {}, "count=exact");
        if (response.status != 200 && response.status != 206) {
            return "HTTP " + QByteArray::number(response.status);
        }
        QByteArrayList names;
        for (const QJsonValue &row : QJsonDocument::fromJson(response.body).array()) {
            if (row[u"owner_id"].toString() != m_bob) {
                return "LEAK " + response.body;
            }
            names.append(row[u"visitor_name"].toString().toUtf8());
        }
        const QByteArray range = response.header("Content-Range");
        const QByteArray total = range.mid(range.indexOf('/') + 1);
        return names.join('|') + " /" + total;
    }

private Q_SLOTS:
    void initTestCase() {
        m_fixture = std::make_unique<RestFixture>();
        m_alice = fx().createUser(u"alice@example.com"_s);
        m_bob = fx().createUser(u"bob@example.com"_s);
        m_aliceToken = fx().token(m_alice);
        m_bobToken = fx().token(m_bob);
        QCOMPARE(fx().call("POST", "visitors", m_aliceToken, sampleVisitors()).status, 201);
        QCOMPARE(fx().call("POST", "kiosk_settings", m_aliceToken, "{\"place_name\":\"Alice HQ\"}").status,
                 201);
        QCOMPARE(fx().call("POST", "visitors", m_bobToken,
                           "[{\"visitor_name\":\"Ann Lee\",\"host_name\":\"Bravo Host\"},"
                           "{\"visitor_name\":\"Bravo Guest\",\"host_name\":null}]")
                     .status,
                 201);
        NewInviteRecord invite;
        invite.visitorName = u"Alice Guest"_s;
        invite.visitorEmail = u"guest@example.com"_s;
        m_aliceInvite = InviteStore(fx().app().context()).create(m_alice, invite).id;
    }

    void otherAccountReadsNothing_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("everything") << QByteArray() << QByteArray("Ann Lee|Bravo Guest /2");
        QTest::newRow("by id") << "id=eq." + a1 << QByteArray(" /0");
        QTest::newRow("by ids") << "id=in.(" + a1 + ",00000000-0000-4000-8000-000000000002)"
                                << QByteArray(" /0");
        QTest::newRow("by owner") << "owner_id=eq." + m_alice.toUtf8() << QByteArray(" /0");
        QTest::newRow("not the owner") << "owner_id=neq." + m_bob.toUtf8() << QByteArray(" /0");
        QTest::newRow("same name") << QByteArray("visitor_name=eq.Ann%20Lee") << QByteArray("Ann Lee /1");
        QTest::newRow("indexed search") << QByteArray("search_text=ilike.*acme*") << QByteArray(" /0");
        QTest::newRow("short search")
            << QByteArray("search_text=ilike.*a*") << QByteArray("Ann Lee|Bravo Guest /2");
        QTest::newRow("on site") << QByteArray("signed_out_at=is.null")
                                 << QByteArray("Ann Lee|Bravo Guest /2");
        QTest::newRow("negated") << QByteArray("visitor_name=not.eq.x")
                                 << QByteArray("Ann Lee|Bravo Guest /2");
        QTest::newRow("since long ago")
            << QByteArray("signed_in_at=gte.2000-01-01") << QByteArray("Ann Lee|Bravo Guest /2");
    }

    void otherAccountReadsNothing() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        QCOMPARE(bobReads(query), expected);
        QCOMPARE(fx().call("GET",
                           "kiosk_settings?" + query.left(query.startsWith("owner") ? query.size() : 0),
                           m_bobToken)
                     .body,
                 QByteArray("[]"));
        QCOMPARE(fx().call("GET", "invites?select=id", m_bobToken).body, QByteArray("[]"));
    }

    void otherAccountChangesNothing_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<int>("status");
        const QByteArray aliceId = m_alice.toUtf8();
        const QByteArray signOut = "{\"signed_out_at\":\"2030-01-01T00:00:00Z\"}";
        const QByteArray merge = "resolution=merge-duplicates";
        QTest::newRow("patch by id") << QByteArray("PATCH") << "visitors?id=eq." + a1 << signOut
                                     << QByteArray() << 204;
        QTest::newRow("patch by owner")
            << QByteArray("PATCH") << "visitors?owner_id=eq." + aliceId << signOut << QByteArray() << 204;
        QTest::newRow("patch by search")
            << QByteArray("PATCH") << QByteArray("visitors?search_text=ilike.*acme*") << signOut
            << QByteArray("return=representation") << 200;
        QTest::newRow("patch same name")
            << QByteArray("PATCH") << QByteArray("visitors?visitor_name=eq.Ann%20Lee")
            << QByteArray("{\"host_name\":\"Hijack\"}") << QByteArray() << 204;
        QTest::newRow("patch into alice")
            << QByteArray("PATCH") << QByteArray("visitors?visitor_name=eq.Bravo%20Guest")
            << "{\"owner_id\":\"" + aliceId + "\"}" << QByteArray() << 403;
        QTest::newRow("delete by id")
            << QByteArray("DELETE") << "visitors?id=eq." + a1 << QByteArray() << QByteArray() << 204;
        QTest::newRow("delete by search")
            << QByteArray("DELETE") << QByteArray("visitors?search_text=ilike.*maria*") << QByteArray()
            << QByteArray("return=representation") << 200;
        QTest::newRow("insert as alice")
            << QByteArray("POST") << QByteArray("visitors")
            << "{\"visitor_name\":\"x\",\"owner_id\":\"" + aliceId.toUpper() + "\"}" << QByteArray() << 403;
        QTest::newRow("insert many, one as alice")
            << QByteArray("POST") << QByteArray("visitors")
            << "[{\"visitor_name\":\"x\",\"owner_id\":null},{\"visitor_name\":\"y\",\"owner_id\":\"" +
                   aliceId + "\"}]"
            << QByteArray() << 403;
        QTest::newRow("upsert alice's visitor")
            << QByteArray("POST") << QByteArray("visitors?on_conflict=id")
            << "{\"id\":\"" + a1 + "\",\"visitor_name\":\"Mine now\"}" << merge << 403;
        QTest::newRow("ignore alice's visitor") << QByteArray("POST") << QByteArray("visitors?on_conflict=id")
                                                << "{\"id\":\"" + a1 + "\",\"visitor_name\":\"Mine now\"}"
                                                << QByteArray("resolution=ignore-duplicates") << 403;
        QTest::newRow("upsert alice's settings")
            << QByteArray("POST") << QByteArray("kiosk_settings?on_conflict=owner_id")
            << "{\"owner_id\":\"" + aliceId + "\",\"place_name\":\"Bob's\"}" << merge << 403;
        QTest::newRow("own settings")
            << QByteArray("POST") << QByteArray("kiosk_settings?on_conflict=owner_id")
            << "{\"owner_id\":\"" + m_bob.toUtf8() + "\",\"place_name\":\"Bob's\"}" << merge << 201;
        QTest::newRow("mark alice's invite")
            << QByteArray("PATCH") << "invites?id=eq." + m_aliceInvite.toUtf8()
            << QByteArray("{\"used_at\":\"2030-01-01T00:00:00Z\"}") << QByteArray() << 204;
        QTest::newRow("delete alice's invite")
            << QByteArray("DELETE") << "invites?id=eq." + m_aliceInvite.toUtf8() << QByteArray()
            << QByteArray() << 204;
        QTest::newRow("delete every invite") << QByteArray("DELETE") << QByteArray("invites?id=not.is.null")
                                             << QByteArray() << QByteArray() << 204;
    }

    void otherAccountChangesNothing() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, prefer);
        QFETCH(int, status);
        const QByteArray before = aliceSnapshot();
        const HttpResponse response = fx().call(method, target, m_bobToken, body, prefer);
        QCOMPARE(response.status, status);
        if (status == 403) {
            QCOMPARE(errorOf(response).value(u"code").toString(), u"42501"_s);
        }
        QVERIFY2(!response.body.contains("Alice") && !response.body.contains("Maria") &&
                     !response.body.contains(a1),
                 response.body.constData());
        QCOMPARE(aliceSnapshot(), before);
    }

    void anonymous_data() {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("no token") << QByteArray();
        QTest::newRow("anon role") << fx().token(m_alice, 3600, u"anon"_s);
        QTest::newRow("service role") << fx().token(m_alice, 3600, u"service_role"_s);
    }

    void anonymous() {
        QFETCH(QByteArray, token);
        const QByteArray before = aliceSnapshot();
        const HttpResponse all = fx().call("GET", "visitors?id=eq." + a1, token, {}, "count=exact");
        QCOMPARE(all.status, 200);
        QCOMPARE(all.body, QByteArray("[]"));
        QCOMPARE(all.header("Content-Range"), QByteArray("*/0"));
        QCOMPARE(fx().call("GET", "kiosk_settings", token).body, QByteArray("[]"));
        const QList<std::pair<QByteArray, QByteArray>> writes = {
            {"POST", "visitors"},
            {"PATCH", "visitors?id=eq." + a1},
            {"DELETE", "visitors?id=eq." + a1},
            {"POST", "kiosk_settings?on_conflict=owner_id"},
            {"POST", "rpc/delete_account"}};
        for (const auto &[method, target] : writes) {
            const QByteArray body = target.startsWith("rpc/") ? "{}" : "{\"visitor_name\":\"x\"}";
            const HttpResponse refused = fx().call(method, target, token, body);
            QCOMPARE(refused.status, 401);
            QCOMPARE(errorOf(refused).value(u"code").toString(), u"42501"_s);
            QCOMPARE(refused.header("WWW-Authenticate"), QByteArray("Bearer"));
        }
        QCOMPARE(aliceSnapshot(), before);
    }

    void badTokens_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        const QByteArray good = fx().token(m_alice);
        const QList<QByteArray> parts = good.split('.');
        Jwt other(crypto::randomBytes(32));
        const QJsonObject claims{
            {u"sub"_s, m_alice}, {u"role"_s, u"authenticated"_s}, {u"exp"_s, 4102444800.0}};
        const QByteArray bobPayload = crypto::base64Url(
            QJsonDocument(
                QJsonObject{{u"sub"_s, m_bob}, {u"role"_s, u"authenticated"_s}, {u"exp"_s, 4102444800.0}})
                .toJson(QJsonDocument::Compact));
        QTest::newRow("expired") << "Bearer " + fx().token(m_alice, -1) << u"PGRST303"_s << u"JWT expired"_s;
        QTest::newRow("other secret") << "Bearer " + other.sign(claims) << u"PGRST301"_s << QString();
        QTest::newRow("one part") << QByteArray("Bearer abc") << u"PGRST301"_s
                                  << u"Expected 3 parts in JWT; got 1"_s;
        QTest::newRow("two parts") << QByteArray("Bearer a.b") << u"PGRST301"_s
                                   << u"Expected 3 parts in JWT; got 2"_s;
        QTest::newRow("not base64") << QByteArray("Bearer !!.??.**") << u"PGRST301"_s << QString();
        QTest::newRow("payload swapped")
            << "Bearer " + parts[0] + '.' + bobPayload + '.' + parts[2] << u"PGRST301"_s << QString();
        QTest::newRow("alg none") << "Bearer " + crypto::base64Url("{\"alg\":\"none\",\"typ\":\"JWT\"}") +
                                         '.' + bobPayload + '.'
                                  << u"PGRST301"_s << QString();
        QTest::newRow("not bearer") << "Basic " + good << u"PGRST301"_s << QString();
        QTest::newRow("subject not a uuid")
            << "Bearer " + fx().app().context().jwt().sign(QJsonObject{{u"sub"_s, u"1 OR 1=1"_s},
                                                                       {u"role"_s, u"authenticated"_s},
                                                                       {u"exp"_s, 4102444800.0}})
            << u"PGRST301"_s << QString();
    }

    void badTokens() {
        QFETCH(QByteArray, authorization);
        QFETCH(QString, code);
        QFETCH(QString, message);
        HttpRequest request;
        request.method = "GET";
        request.path = "/rest/v1/visitors";
        request.headers = {{"apikey", testKey}, {"Authorization", authorization}};
        const HttpResponse response = fx().app().handle(request);
        QCOMPARE(response.status, 401);
        QCOMPARE(errorOf(response).value(u"code").toString(), code);
        if (!message.isEmpty()) {
            QCOMPARE(errorOf(response).value(u"message").toString(), message);
        }
        QVERIFY(response.header("WWW-Authenticate").startsWith("Bearer error=\"invalid_token\""));
        QVERIFY(!response.body.contains("Maria"));
    }

    // Hostile text in every place a request carries it: it is refused or matched as plain data, never run.
    void injection_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const QByteArray none;
        const auto row = [](const char *name, const char *method, const QByteArray &target,
                            const QByteArray &body, int status) {
            QTest::newRow(name) << QByteArray(method) << target << body << status;
        };
        row("select statement", "GET", "visitors?select=id;drop%20table%20visitors", none, 400);
        row("select subquery", "GET", "visitors?select=id,(select%20email%20from%20users)", none, 400);
        row("select other table", "GET", "visitors?select=users.email", none, 400);
        row("select quoted alias", "GET", "visitors?select=%22a%22:visitor_name", none, 400);
        row("alias with quote", "GET", "visitors?select=a'b:visitor_name", none, 400);
        row("order statement", "GET", "visitors?order=id;drop%20table%20users", none, 400);
        row("order subquery", "GET", "visitors?order=(select%201)", none, 400);
        row("order comment", "GET", "visitors?order=id.desc,owner_id)--", none, 400);
        row("filter key", "GET", "visitors?visitor_name%22)%20OR%201=1%20--=eq.x", none, 400);
        row("filter key comment", "GET", "visitors?id--=eq.1", none, 400);
        row("value quote", "GET", "visitors?visitor_name=eq.x'%20OR%20'1'='1", none, 200);
        row("value double quote", "GET", "visitors?visitor_name=eq.x%22)%20OR%201=1%20--", none, 200);
        row("in list", "GET", "visitors?visitor_name=in.(x')%20OR%201=1%20--)", none, 200);
        row("search index syntax", "GET", "visitors?search_text=ilike.*a%22%20OR%20%22b*", none, 200);
        row("search index column", "GET", "visitors?search_text=ilike.*search_text:%20NOT%20zzz*", none, 200);
        row("limit statement", "GET", "visitors?limit=1;drop%20table%20visitors&visitor_name=eq.none", none,
            200);
        row("offset union", "GET",
            "visitors?offset=0%20UNION%20SELECT%20email%20FROM%20users&visitor_name=eq.none", none, 200);
        row("on_conflict", "POST", "visitors?on_conflict=id)%20DO%20UPDATE%20SET%20owner_id='x'%20--",
            "{\"visitor_name\":\"x\"}", 400);
        row("body key", "POST", "visitors",
            "{\"visitor_name\\\") VALUES ('x'); DROP TABLE visitors; --\":\"x\",\"visitor_name\":\"y\"}",
            400);
        row("patch key", "PATCH", "visitors?id=eq." + a1,
            "{\"signed_out_at\\\" = NULL, \\\"owner_id\":\"x\"}", 400);
        row("table name", "GET", "visitors;drop%20table%20users", none, 404);
        row("table with where", "GET", "visitors%20WHERE%201=1", none, 404);
        row("function name", "POST", "rpc/delete_account;--", none, 404);
    }

    void injection() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const QByteArray before = aliceSnapshot();
        const qint64 visitors = fx().rowCount("visitors");
        const HttpResponse response = fx().call(method, target, m_bobToken, body);
        QCOMPARE(response.status, status);
        if (status == 200) {
            QCOMPARE(response.body, QByteArray("[]"));
        }
        for (const char *secret : {"Maria", "alice@", "SELECT", "sqlite", "syntax error"}) {
            QVERIFY2(!response.body.contains(secret), response.body.constData());
        }
        QCOMPARE(aliceSnapshot(), before);
        QCOMPARE(fx().rowCount("visitors"), visitors);
        QCOMPARE(fx().rowCount("users"), 2);
    }

    void deleteAccountTakesOnlyItsOwn() {
        const QString carol = fx().createUser(u"carol@example.com"_s);
        const QByteArray before = aliceSnapshot();
        QCOMPARE(fx().call("POST", "rpc/delete_account", fx().token(carol), "{}").status, 204);
        QCOMPARE(aliceSnapshot(), before);
        QCOMPARE(fx().rowCount("users"), 2);
    }
};

QTEST_GUILESS_MAIN(TestServerRestSecurity)
#include "tst_server_rest_security.moc"
