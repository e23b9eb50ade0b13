// The REST service through the whole server in this process: the query language, Content-Range, every error
// body, the desk's writes, row ownership against a second account, hostile input, and the value forms
// underneath (uuids, timestamps, booleans, LIKE patterns).
#include "ServerFixture.h"
#include "VisitorSample.h"
#include "rest/InviteStore.h"
#include "rest/PgTypes.h"
#include "rest/SearchText.h"

using namespace tbserver;
using namespace tbserver::testing;

namespace {

// The first value of each row, as "a|b|...".
QByteArray firstValues(const HttpResponse &response) {
    QByteArrayList values;
    for (const QJsonValue &row : QJsonDocument::fromJson(response.body).array()) {
        values.append(row.toObject().begin()->toString().toUtf8());
    }
    return response.status / 100 == 2 ? values.join('|')
                                      : QByteArray::number(response.status) + ' ' + response.body;
}

} // namespace

class TestServerRest : public QObject {
    Q_OBJECT

    ServerFixture m_fx;
    QString m_alice; // the account under test; Bob is the other account, trying to reach Alice's rows
    QByteArray m_aliceToken;
    QByteArray m_bobToken;
    InviteRecord m_invite;
    std::unique_ptr<Outbox> m_walkerOutbox;
    std::unique_ptr<RestService> m_walker; // the same service with its search index switched off

    // `request` is "[bob ]METHOD target[ body]", as Alice unless it starts with "bob"; @alice, @ALICE,
    // @invite and @a1 (Alice's first visitor) stand for the ids.
    HttpResponse send(QByteArray request, const QByteArray &prefer = {}, const QByteArray &accept = {}) {
        const QByteArray token = request.startsWith("bob ") ? m_bobToken : m_aliceToken;
        request.remove(0, request.startsWith("bob ") ? 4 : 0);
        request.replace("@alice", m_alice.toUtf8()).replace("@ALICE", m_alice.toUpper().toUtf8());
        request.replace("@invite", m_invite.id.toUtf8())
            .replace("@a1", "00000000-0000-4000-8000-000000000001");
        const qsizetype first = request.indexOf(' ');
        const qsizetype second = request.indexOf(' ', first + 1);
        return m_fx.rest(request.left(first), request.mid(first + 1, second < 0 ? -1 : second - first - 1),
                         token, second < 0 ? QByteArray() : request.mid(second + 1), prefer, accept);
    }

    // Everything of Alice's, as stored, search index included.
    QByteArray aliceSnapshot() {
        Statement rows = m_fx.db().prepare(
            "SELECT (SELECT json_group_array(json_array(id, visitor_name, host_name, signed_out_at, "
            "search_text)) "
            "FROM (SELECT * FROM visitors WHERE owner_id = ?1 ORDER BY id)) || (SELECT json_group_array("
            "json_array(place_name, employees)) FROM kiosk_settings WHERE owner_id = ?1) || (SELECT "
            "json_group_array("
            "json_array(id, used_at)) FROM invites WHERE owner_id = ?1) || (SELECT count(*) FROM users WHERE "
            "id = ?1) "
            "|| (SELECT count(*) FROM visitors_search WHERE visitors_search MATCH '\"acme\"')");
        rows.bind(1, m_alice);
        rows.step();
        return rows.text(0);
    }

private Q_SLOTS:
    void initTestCase() {
        m_alice = m_fx.createUser(u"alice@example.com"_s);
        m_aliceToken = m_fx.token(m_alice);
        m_bobToken = m_fx.token(m_fx.createUser(u"bob@example.com"_s));
        QCOMPARE(m_fx.rest("POST", "visitors", m_aliceToken, sampleVisitors).status, 201);
        QCOMPARE(send(R"(bob POST visitors [{"visitor_name":"Ann Lee","host_name":"Bravo Host"},)"
                      R"({"visitor_name":"Bravo Guest","host_name":null}])")
                     .status,
                 201);
        m_invite = InviteStore(m_fx.app().context())
                       .create(m_alice, {u"Guest One"_s, u"guest@example.com"_s, {}, {}, {}, {}});
        m_walkerOutbox = std::make_unique<Outbox>(QDir::tempPath());
        m_walker = std::make_unique<RestService>(m_fx.app().context(), *m_walkerOutbox);
        m_walker->setSearchIndexLimit(0);
    }

    void reads_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *query, const char *expected) {
            QTest::newRow(query) << QByteArray(query) << QByteArray(expected);
        };
        row("", sampleNewestFirst);
        row("visitor_name=eq.Ann%20Lee", "Ann Lee");
        row("visitor_name=eq.Ann+Lee", "Ann Lee"); // a plus is a space
        row("visitor_name=eq.a%2Bb%20Consulting", "a+b Consulting");
        row("visitor_name=eq.%22Tie%20One%22", ""); // double quotes are taken verbatim
        row("host_name=neq.Tom", "annette smith|50%_off Sales|Zoë Brontë|Ann Lee"); // no nulls
        row("signed_out_at=is.null",
            "Tie One|O'Brien, Pat|annette smith|a+b Consulting|Zoë Brontë|Bob Stone");
        row("signed_out_at=is.not_null", "Ann_Lee|50%_off Sales|Ann Lee|Carol *Star*");
        row("signed_in_at=gte.2025-03-07T10:00:00Z", "Tie One|O'Brien, Pat|annette smith");
        row("signed_in_at=gt.2025-03-07T10:00:00Z", "Tie One|O'Brien, Pat");
        row("signed_in_at=lt.2025-03-04T08:00:01%2B01:00",
            "50%_off Sales|Zoë Brontë|Bob Stone|Ann Lee|Carol *Star*");
        row("signed_in_at=eq.2025-03-04T07:00:00Z", "50%_off Sales"); // stored in UTC
        row("signed_in_at=lte.2025-02-28T23:00:00-02:00", "Carol *Star*");
        row("signed_in_at=gte.2025-03-06T23:59:59.999999Z&signed_in_at=lt.2025-03-07", "Ann_Lee");
        row("id=in.(%7B00000000-0000-4000-8000-000000000001%7D,00000000-0000-4000-8000-00000000000A)",
            "Ann Lee|Carol *Star*");
        row("visitor_name=in.(%22O'Brien,%20Pat%22,Ann%20Lee)", "O'Brien, Pat|Ann Lee");
        row("visitor_name=in.()", "");
        row("visitor_name=like.Ann*", "Ann_Lee|Ann Lee");
        row("visitor_name=ilike.ann*", "annette smith|Ann_Lee|Ann Lee");
        row("visitor_name=like.Ann%5C_Lee", "Ann_Lee");
        row("visitor_name=like.Carol%20%5C*Star*", ""); // an escaped star is a literal percent
        row("search_text=ilike.%25acme%25", "annette smith|Ann Lee");
        row("search_text=ilike.%25ac%25", "annette smith|50%_off Sales|Ann Lee"); // too short for the index
        row("search_text=ilike.%2550%5C%25%5C_off%25", "50%_off Sales");
        row("search_text=ilike.%25back%5C%5Cslash%25", "50%_off Sales");
        row("search_text=ilike.*%22quoted%22*", "O'Brien, Pat");
        row("search_text=like.*ACME*", "");
        row("search_text=not.ilike.*maria*",
            "Tie One|O'Brien, Pat|Ann_Lee|a+b Consulting|Zoë Brontë|Bob Stone|Carol *Star*");
        row("search_text=like.ann%20lee%20maria%20garcia%20company%20acme",
            "Ann Lee"); // the whole search text
        row("search_text=like.zo%C3%AB%20bront%C3%AB%20j%C3%BCrgen%20gro%C3%9F%20purpose%20caf%C3%A9%"
            "20meeting",
            "Zoë Brontë");
        row("order=host_name.asc,id.asc&offset=6",
            "Carol *Star*|Bob Stone|O'Brien, Pat|Tie One"); // nulls last
        row("order=host_name.desc,id.asc&limit=4", "Bob Stone|O'Brien, Pat|Tie One|a+b Consulting");
        row("order=host_name.asc.nullsfirst,id.desc&limit=4", "Tie One|O'Brien, Pat|Bob Stone|Zoë Brontë");
        row("order=signed_in_at,id&limit=2", "Carol *Star*|Ann Lee");
        row("limit=3&offset=2", "annette smith|Ann_Lee|a+b Consulting");
        row("select=who:visitor_name&limit=1", "Tie One");
        // Bob, the other account, reads his own two rows and none of Alice's, whatever he asks.
        row("bob order=visitor_name", "Ann Lee|Bravo Guest");
        row("bob order=visitor_name&signed_out_at=is.null", "Ann Lee|Bravo Guest");
        row("bob order=visitor_name&visitor_name=not.eq.x", "Ann Lee|Bravo Guest");
        row("bob id=eq.@a1", "");
        row("bob owner_id=eq.@alice", "");
        row("bob search_text=ilike.*acme*", "");
    }

    void reads() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        const bool bob = query.startsWith("bob ");
        query = query.mid(bob ? 4 : 0) + (query.contains("order=") ? "" : "&order=signed_in_at.desc,id.desc");
        query.prepend(query.contains("select=") ? "" : "select=visitor_name&");
        QCOMPARE(firstValues(send((bob ? "bob GET visitors?" : "GET visitors?") + query)), expected);
        if (query.contains("search_text") && !bob) { // the search index is a shortcut only
            const HttpRequest request{"GET", {}, query, {{"Authorization", "Bearer " + m_aliceToken}},
                                      {},    {}};
            QCOMPARE(firstValues(m_walker->handle(request, "visitors")), expected);
        }
    }

    void contentRange_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("counted");
        QTest::addColumn<QByteArray>("uncounted");
        const auto row = [](const char *query, const char *counted, const char *uncounted) {
            QTest::newRow(query) << QByteArray(query) << QByteArray(counted) << QByteArray(uncounted);
        };
        row("", "200 0-9/10", "200 0-9/*");
        row("visitor_name=eq.nobody", "200 */0", "200 */*");
        row("limit=abc", "200 0-9/10", "200 0-9/*"); // not a number: ignored
        row("select=id&limit=1", "206 0-0/10", "200 0-0/*");
        row("limit=3&offset=4", "206 4-6/10", "200 4-6/*");
        row("offset=10", "206 */10", "200 */*");
        row("offset=15", "416 */10", "200 */*");
        row("limit=0", "206 */10", "200 */*");
        row("select=id&limit=1&signed_out_at=is.null", "206 0-0/6", "200 0-0/*");
    }

    void contentRange() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, counted);
        QFETCH(QByteArray, uncounted);
        for (const QByteArray method : {"GET ", "HEAD "}) {
            for (const QByteArray prefer : {"count=exact", ""}) {
                const HttpResponse response = send(method + "visitors?" + query, prefer);
                QCOMPARE(QByteArray::number(response.status) + ' ' + response.header("Content-Range"),
                         prefer.isEmpty() ? uncounted : counted);
                QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
            }
        }
    }

    void exchanges_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<QByteArray>("answer"); // "status code message" of an error, else "status body"
        const auto row = [](const char *request, const char *answer, const char *prefer = "") {
            QTest::newRow(request) << QByteArray(request) << QByteArray(prefer) << QByteArray(answer);
        };
        const char *banana = "400 42703 column visitors.banana does not exist";
        const char *notNull = "400 23502 null value in column \"visitor_name\" of relation \"visitors\" "
                              "violates not-null constraint";
        const char *badJson = "400 PGRST102 Empty or invalid json";
        const char *security = "403 42501 new row violates row-level security policy for table \"visitors\"";
        row("GET bananas", "404 PGRST205 Could not find the table 'public.bananas' in the schema cache");
        row("GET visitors?select=id,banana", banana);
        row("GET visitors?banana=eq.1", banana);
        row("GET visitors?order=banana.desc", banana);
        row("GET visitors?select=search_text", "400 42703 column visitors.search_text does not exist");
        row("GET visitors?id=0", "400 PGRST100 \"failed to parse filter (0)\" (line 1, column 1)");
        row("GET visitors?id=foo.bar", "400 PGRST100 \"failed to parse filter (foo.bar)\"…");
        row("GET visitors?signed_out_at=is.maybe", "400 PGRST100 \"failed to parse filter (is.maybe)\"…");
        row("GET visitors?visitor_name=in.a,b", "400 PGRST100 \"failed to parse filter (in.a,b)\"…");
        row("GET visitors?order=id.sideways", "400 PGRST100 \"failed to parse order (id.sideways)\"…");
        row("GET visitors?select=id,hosts(*)",
            "400 PGRST200 Could not find a relationship between 'visitors' and 'hosts'…");
        row("GET visitors?or=(id.eq.1)", "400 PGRST100 \"failed to parse logic tree…");
        row("GET visitors?id=eq.123", "400 22P02 invalid input syntax for type uuid: \"123\"");
        row("GET visitors?signed_in_at=gte.yesterday",
            "400 22007 invalid input syntax for type timestamp with time zone: \"yesterday\"");
        row("GET visitors?signed_in_at=gte.2025-13-01",
            "400 22008 date/time field value out of range: \"2025-13-01\"");
        row("GET visitors?id=like.*1", "404 42883 operator does not exist: uuid ~~ unknown");
        row("GET visitors?answers=eq.[]", "404 42883 operator does not exist: jsonb = unknown");
        row("GET visitors?host_name=is.true",
            "400 42804 argument of IS TRUE must be type boolean, not type text");
        row("GET visitors?visitor_name=like.abc%5C",
            "400 22025 LIKE pattern must not end with escape character");
        row("GET visitors?visitor_name=eq.a%00b", "400 22021 invalid byte sequence for encoding \"UTF8\"");
        row("GET visitors?limit=-1", "416 PGRST103 Requested range not satisfiable");
        row("GET visitors/1", "404 PGRST125 Invalid path specified in request URL");
        row("PUT visitors", "405 PGRST117 Unsupported HTTP method: PUT");
        row(R"(POST visitors {"visitor_name":)", badJson);
        row("POST visitors", badJson);
        row("POST visitors [1]", badJson);
        row(R"(POST visitors [{"visitor_name":"a"},{"host_name":"b"}])",
            "400 PGRST102 All object keys must match");
        row(R"(POST visitors {"visitor_name":"a","banana":1})",
            "400 PGRST204 Could not find the 'banana' column of 'visitors' in the schema cache");
        row(R"(POST visitors {"visitor_name":"a","search_text":"x"})",
            "400 PGRST204 Could not find the 'search_text' column of 'visitors' in the schema cache");
        row(R"(POST visitors {"visitor_name":5})",
            "400 42804 column \"visitor_name\" is of type text but expression is of type number");
        row(R"(POST visitors {"visitor_name":"a","id":"nope"})",
            "400 22P02 invalid input syntax for type uuid: \"nope\"");
        row(R"(PATCH visitors?id=eq.@a1 {"signed_out_at":"soon"})",
            "400 22007 invalid input syntax for type timestamp with time zone: \"soon\"");
        row(R"(POST visitors {"visitor_name":"a","answers":{}})",
            "400 23514 new row for relation \"visitors\" violates check constraint "
            "\"visitors_answers_check\"");
        row("POST visitors {\"visitor_name\":\"a\\u0000b\"}",
            "400 22P05 unsupported Unicode escape sequence");
        row(R"(POST visitors {"host_name":"a"})", notNull);
        row(R"(PATCH visitors?visitor_name=eq.Ann%20Lee {"visitor_name":null})", notNull);
        row(R"(POST visitors {"visitor_name":"a","id":"@a1"})",
            "409 23505 duplicate key value violates unique constraint \"visitors_pkey\"");
        row(R"(POST visitors?on_conflict=banana {"visitor_name":"a"})", banana);
        row(R"(POST visitors?on_conflict=host_name {"visitor_name":"a"})",
            "400 42P10 there is no unique or exclusion constraint matching the ON CONFLICT columns");
        row(R"(PATCH visitors {"list_name":"x"})", "400 21000 UPDATE requires a WHERE clause");
        row(R"(PATCH visitors?limit=1 {"list_name":"x"})", "400 21000 UPDATE requires a WHERE clause");
        row("DELETE invites", "400 21000 DELETE requires a WHERE clause");
        row("POST rpc/drop_everything", "404 PGRST202 Could not find the function public.drop_everything "
                                        "without parameters in the schema cache");
        row(R"(POST rpc/delete_account {"user_id":"x"})",
            "404 PGRST202 Could not find the function public.delete_account(user_id) in the schema cache");
        row("GET rpc/delete_account", "405 PGRST101 Cannot use the GET method on RPC");
        // Bob changes nothing of Alice's, whatever he names.
        row("bob GET kiosk_settings", "200 []");
        row("bob GET invites?select=id", "200 []");
        row(R"(bob PATCH visitors?id=eq.@a1 {"signed_out_at":"2030-01-01T00:00:00Z"})", "204 ");
        row(R"(bob PATCH visitors?search_text=ilike.*acme* {"host_name":"Hijack"})", "200 []",
            "return=representation");
        row(R"(bob PATCH visitors?visitor_name=eq.Bravo%20Guest {"owner_id":"@alice"})", security);
        row("bob DELETE visitors?search_text=ilike.*maria*", "200 []", "return=representation");
        row(R"(bob POST visitors {"visitor_name":"x","owner_id":"@ALICE"})", security);
        row(R"(bob POST visitors?on_conflict=id {"id":"@a1","visitor_name":"Mine"})", security,
            "resolution=merge-duplicates");
        row(R"(bob POST visitors?on_conflict=id {"id":"@a1","visitor_name":"Mine"})", security,
            "resolution=ignore-duplicates");
        row(R"(bob PATCH invites?id=eq.@invite {"used_at":"2030-01-01T00:00:00Z"})", "204 ");
        row("bob DELETE invites?id=not.is.null", "204 ");
        // Hostile text in every place a request carries it: refused, or matched as plain data and never run.
        row("bob GET visitors?select=id;drop%20table%20visitors",
            "400 PGRST100 \"failed to parse select parameter…");
        row("bob GET visitors?select=id,(select%20email%20from%20users)",
            "400 PGRST200 Could not find a relationship…");
        row("bob GET visitors?select=%22a%22:visitor_name",
            "400 PGRST100 \"failed to parse select parameter…");
        row("bob GET visitors?order=id;drop%20table%20users", "400 PGRST100 \"failed to parse order…");
        row("bob GET visitors?order=id.desc,owner_id)--", "400 PGRST100 \"failed to parse order…");
        row("bob GET visitors?visitor_name%22)%20OR%201=1%20--=eq.x",
            "400 42703 column visitors.visitor_name\")…");
        row("bob GET visitors?visitor_name=eq.x'%20OR%20'1'='1", "200 []");
        row("bob GET visitors?visitor_name=in.(x')%20OR%201=1%20--)", "200 []");
        row("bob GET visitors?search_text=ilike.*a%22%20OR%20%22b*", "200 []");
        row("bob GET visitors?search_text=ilike.*search_text:%20NOT%20zzz*", "200 []");
        row("bob GET visitors?limit=1;drop%20table%20visitors&visitor_name=eq.none", "200 []");
        row("bob GET visitors?offset=0%20UNION%20SELECT%20email%20FROM%20users&visitor_name=eq.none",
            "200 []");
        row("bob POST visitors?on_conflict=id)%20DO%20UPDATE%20SET%20owner_id='x'%20-- "
            "{\"visitor_name\":\"x\"}",
            "400 42703 column visitors.id) DO UPDATE…");
        row("bob POST visitors {\"visitor_name\\\") VALUES ('x'); DROP TABLE visitors; "
            "--\":\"x\",\"visitor_name\":\"y\"}",
            "400 PGRST204 Could not find the 'visitor_name\") VALUES…");
        row("bob PATCH visitors?id=eq.@a1 {\"signed_out_at\\\" = NULL, \\\"owner_id\":\"x\"}",
            "400 PGRST204 Could not find the 'signed_out_at\" = NULL…");
        row("bob GET visitors;drop%20table%20users",
            "404 PGRST205 Could not find the table 'public.visitors;drop table users'…");
        row("bob POST rpc/delete_account;--",
            "404 PGRST202 Could not find the function public.delete_account;--…");
    }

    // Every request leaves Alice's rows as they were; an error answers a JSON body of exactly code, details,
    // hint and message, and nothing answers with the database's own words.
    void exchanges() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, prefer);
        QFETCH(QByteArray, answer);
        const QByteArray before = aliceSnapshot();
        const qint64 rows = m_fx.rowCount("visitors") + m_fx.rowCount("users");
        const HttpResponse response = send(request, prefer);
        const QJsonObject error = response.status >= 400 ? ServerFixture::object(response) : QJsonObject();
        const QByteArray actual =
            QByteArray::number(response.status) + ' ' +
            (error.isEmpty() ? response.body
                             : (error[u"code"].toString() + u' ' + error[u"message"].toString()).toUtf8());
        QVERIFY2(answer.endsWith("…") ? actual.startsWith(answer.chopped(3)) : actual == answer,
                 actual.constData());
        QVERIFY(error.isEmpty() ||
                error.keys() == QStringList({u"code"_s, u"details"_s, u"hint"_s, u"message"_s}));
        QVERIFY(response.status == 204 ||
                response.header("Content-Type") == "application/json; charset=utf-8");
        for (const char *secret : {"Maria", "alice@", "SELECT", "sqlite", "syntax error"}) {
            QVERIFY2(!response.body.contains(secret), response.body.constData());
        }
        QCOMPARE(aliceSnapshot(), before);
        QCOMPARE(m_fx.rowCount("visitors") + m_fx.rowCount("users"), rows);
    }

    void anonymous_data() {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("no token") << QByteArray();
        QTest::newRow("anon role") << m_fx.token(m_alice, 3600, u"anon"_s);
        QTest::newRow("service role") << m_fx.token(m_alice, 3600, u"service_role"_s);
    }

    // Any role but an authenticated user's reads nothing and writes nothing.
    void anonymous() {
        QFETCH(QByteArray, token);
        const QByteArray before = aliceSnapshot();
        const HttpResponse read = m_fx.rest("GET", "visitors?select=id", token, {}, "count=exact");
        QCOMPARE(QByteArray::number(read.status) + read.header("Content-Range") + read.body, "200*/0[]");
        QCOMPARE(m_fx.rest("GET", "kiosk_settings", token).body, QByteArray("[]"));
        const QByteArray a1 = "visitors?id=eq.00000000-0000-4000-8000-000000000001";
        for (const auto &[method, target] : QList<std::pair<QByteArray, QByteArray>>{
                 {"POST", "visitors"}, {"PATCH", a1}, {"DELETE", a1}, {"POST", "rpc/delete_account"}}) {
            const HttpResponse refused = m_fx.rest(method, target, token, "{}");
            QCOMPARE(refused.status, 401);
            QCOMPARE(ServerFixture::object(refused).value(u"code").toString(), u"42501"_s);
            QCOMPARE(refused.header("WWW-Authenticate"), QByteArray("Bearer"));
        }
        QCOMPARE(aliceSnapshot(), before);
    }

    void badTokens_data() {
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("answer"); // code and message
        const QList<QByteArray> good = m_fx.token(m_alice).split('.');
        const QByteArray other =
            crypto::base64Url(R"({"sub":"00000000-0000-4000-8000-00000000000b","exp":4102444800})");
        const QByteArray notUuid = m_fx.app().context().jwt().sign(
            {{u"sub"_s, u"1 OR 1=1"_s}, {u"role"_s, u"authenticated"_s}, {u"exp"_s, 4102444800.0}});
        QTest::newRow("expired") << "Bearer " + m_fx.token(m_alice, -1) << QByteArray("PGRST303 JWT expired");
        QTest::newRow("one part") << QByteArray("Bearer abc")
                                  << QByteArray("PGRST301 Expected 3 parts in JWT; got 1");
        QTest::newRow("not base64") << QByteArray("Bearer !!.??.**")
                                    << QByteArray("PGRST301 JWT cryptographic operation failed");
        QTest::newRow("payload swapped") << "Bearer " + good[0] + '.' + other + '.' + good[2]
                                         << QByteArray("PGRST301 JWSError JWSInvalidSignature");
        QTest::newRow("alg none") << "Bearer " + crypto::base64Url(R"({"alg":"none"})") + '.' + other + '.'
                                  << QByteArray("PGRST301 JWSError JWSInvalidSignature");
        QTest::newRow("not bearer") << "Basic " + good.join('.')
                                    << QByteArray("PGRST301 Authorization header is not a bearer token");
        QTest::newRow("subject not a uuid")
            << "Bearer " + notUuid << QByteArray("PGRST301 JWT subject is not a user id");
    }

    void badTokens() {
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, answer);
        const QByteArray code = answer.left(8);
        const QByteArray message = answer.mid(9);
        const HttpResponse response =
            m_fx.call("GET", "/rest/v1/visitors", {}, {{"Authorization", authorization}});
        QCOMPARE(response.status, 401);
        QCOMPARE(response.body,
                 "{\"code\":\"" + code + R"(","details":null,"hint":null,"message":")" + message + "\"}");
        QCOMPARE(response.header("WWW-Authenticate"),
                 "Bearer error=\"invalid_token\", error_description=\"" + message + '"');
    }

    // ---- the desk's writes

    // What the desk's insertVisitor sends and reads back: keys in select order, Postgres timestamps, JSON
    // answers, null host; then its sign-out, a rename and a removal, each keeping the search text in step.
    void visitorLifecycle() {
        const auto answerOf = [](const HttpResponse &r) -> QByteArray {
            return QByteArray::number(r.status) + ' ' + r.header("Content-Range") + ' ' + r.body;
        };
        const auto names = [&](const QByteArray &query) {
            return firstValues(send("GET visitors?select=visitor_name&" + query));
        };
        const HttpResponse inserted = send(
            "POST "
            "visitors?select=id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,device_"
            "name "
            R"({"owner_id":"@ALICE","device_record_id":"rec-1","visitor_name":"Desk Guest","host_name":null,)"
            R"("answers":[{"label":"Badge","value":"B-12"}],"signed_in_at":"2025-03-04T09:05:00Z","device_name":"Desk"})",
            "return=representation");
        const QByteArray id = QJsonDocument::fromJson(inserted.body)[0][u"id"].toString().toUtf8();
        QVERIFY(pg::uuid(id) == id && id[14] == '4');
        QCOMPARE(
            answerOf(inserted),
            "201 */* [{\"id\":\"" + id +
                "\",\"visitor_name\":\"Desk "
                "Guest\",\"host_name\":null,\"answers\":[{\"label\":\"Badge\",\"value\":\"B-12\"}],"
                R"("signed_in_at":"2025-03-04T09:05:00.000000+00:00","signed_out_at":null,"list_name":null,)"
                R"("device_name":"Desk"}])");
        QCOMPARE(names("search_text=ilike.*b-12*"), QByteArray("Desk Guest"));
        // The desk's sign-out: the changed rows come back, so a visitor signed out elsewhere gives none.
        const QByteArray signOut = "PATCH visitors?id=eq." + id + "&signed_out_at=is.null&select=id ";
        QCOMPARE(
            answerOf(send(signOut + R"({"signed_out_at":"2025-03-04T10:00:00Z"})", "return=representation")),
            "200 0-0/* [{\"id\":\"" + id + "\"}]");
        QCOMPARE(
            answerOf(send(signOut + R"({"signed_out_at":"2025-03-04T11:00:00Z"})", "return=representation")),
            "200 */* []");
        QCOMPARE(names("select=signed_out_at&id=eq." + id), QByteArray("2025-03-04T10:00:00.000000+00:00"));
        const QByteArray one = " visitors?id=eq." + id + "&select=visitor_name";
        QCOMPARE(answerOf(send("PATCH" + one + R"( {"visitor_name":"Renamed"})", "return=representation")),
                 R"(200 0-0/* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*desk%20guest*"), QByteArray());
        QCOMPARE(names("search_text=ilike.*renamed*"), QByteArray("Renamed"));
        QCOMPARE(answerOf(send("DELETE" + one, "return=representation")),
                 R"(200 */* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*renamed*"), QByteArray());
        QCOMPARE(answerOf(send("POST visitors []")), "201 */* ");
    }

    // The desk's settings save: insert the first time (201), merge only the sent columns afterwards (200); a
    // null clears; booleans read and filter as booleans.
    void upsertSettings() {
        const auto upsert = [&](const QByteArray &table, const QByteArray &columns) -> QByteArray {
            const HttpResponse response =
                send("POST " + table + R"( {"owner_id":"@alice",)" + columns, "resolution=merge-duplicates");
            return QByteArray::number(response.status) + response.body;
        };
        QCOMPARE(upsert("kiosk_settings?on_conflict=owner_id",
                        R"("fields":[{"slot":0}],"employees":["Ann"],"place_name":"Lobby"})"),
                 "201");
        QCOMPARE(
            upsert("kiosk_settings?on_conflict=owner_id", R"("employees":["Ann","Bo"],"place_name":null})"),
            "200");
        QCOMPARE(send("GET kiosk_settings?select=fields,employees,place_name").body,
                 QByteArray(R"([{"fields":[{"slot":0}],"employees":["Ann","Bo"],"place_name":null}])"));
        const QByteArray alerts =
            R"("office_webhook":"hook","notify_sign_in":false,"notify_sign_out":true,"employee_webhooks":{"Ann":"a"}})";
        QCOMPARE(upsert("notification_settings?on_conflict=owner_id", alerts), "201");
        const QByteArray select =
            "GET "
            "notification_settings?select=office_webhook,notify_sign_in,notify_sign_out,employee_webhooks";
        QCOMPARE(send(select + "&notify_sign_out=is.true").body, "[{" + alerts + "]");
        QCOMPARE(send(select + "&notify_sign_in=eq.true").body, QByteArray("[]"));
        QCOMPARE(
            send(
                R"(POST notification_settings?on_conflict=owner_id&select=notify_sign_in {"owner_id":"@alice","notify_sign_in":"yes"})",
                "resolution=merge-duplicates,return=representation")
                .body,
            QByteArray(R"([{"notify_sign_in":true}])"));
    }

    void singleObject_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // the object, or the 406's details
        const auto row = [](const char *request, const char *answer) {
            QTest::newRow(request) << QByteArray(request) << QByteArray(answer);
        };
        const char *bob = R"(200 {"visitor_name":"Bob Stone"})";
        row("GET visitors?id=eq.00000000-0000-4000-8000-000000000002&select=visitor_name", bob);
        row("GET visitors?visitor_name=eq.Nobody", "406 The result contains 0 rows");
        row(R"(PATCH visitors?id=eq.00000000-0000-4000-8000-000000000002&select=visitor_name {"list_name":null})",
            bob);
        row(R"(PATCH visitors?host_name=eq.Tom {"list_name":"X"})", "406 The result contains 3 rows");
        row(R"(PATCH visitors?visitor_name=eq.Nobody {"list_name":"X"})", "406 The result contains 0 rows");
        row(R"(POST visitors [{"visitor_name":"One"},{"visitor_name":"Two"}])",
            "406 The result contains 2 rows");
        row("DELETE visitors?host_name=eq.Tom", "406 The result contains 3 rows");
    }

    // Accept: application/vnd.pgrst.object+json answers the one row itself; any other count is refused and
    // a write undone.
    void singleObject() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        const QByteArray before = aliceSnapshot();
        const HttpResponse response =
            send(request, "return=representation", "application/vnd.pgrst.object+json");
        if (answer.startsWith("406")) {
            QCOMPARE(response.status, 406);
            QCOMPARE(response.body, "{\"code\":\"PGRST116\",\"details\":\"" + answer.mid(4) +
                                        "\",\"hint\":null,\"message\":\"JSON object requested, multiple (or "
                                        "no) rows returned\"}");
        } else {
            QCOMPARE(QByteArray::number(response.status) + ' ' + response.body, answer);
            QCOMPARE(response.header("Content-Type"),
                     QByteArray("application/vnd.pgrst.object+json; charset=utf-8"));
        }
        QCOMPARE(aliceSnapshot(), before);
    }

    void invites() {
        InviteStore store(m_fx.app().context());
        QCOMPARE(store.find(m_alice, m_invite.id.toUpper())->visitorEmail, m_invite.visitorEmail);
        const QByteArray list =
            "GET invites?select=id,token,visitor_name,visitor_email,answers,visit_date,visit_time,"
            "note,created_at,used_at&order=created_at.desc&limit=50&used_at=is.null";
        QCOMPARE(QJsonDocument::fromJson(send(list).body).array(), QJsonArray{m_invite.toJson()});
        QCOMPARE(send(R"(PATCH invites?id=eq.@invite {"used_at":"2025-03-10T09:00:00Z"})").status, 204);
        QCOMPARE(send(list).body, QByteArray("[]"));
        QCOMPARE(store.findByToken(m_invite.token)->usedAt, u"2025-03-10T09:00:00.000000+00:00"_s);
        QCOMPARE(send("DELETE invites?id=eq.@invite").status, 204);
        QCOMPARE(send("DELETE invites?id=eq.@invite").status, 204); // gone already: no error
        QVERIFY(!store.findByToken(m_invite.token).has_value());
    }

    // delete_account takes the caller's account and every row of it, and nothing of anyone else's.
    void deleteAccount() {
        const QByteArray token = m_fx.token(m_fx.createUser(u"leaving@example.com"_s));
        QCOMPARE(m_fx.rest("POST", "visitors", token, R"({"visitor_name":"Leaving Guest"})").status, 201);
        QCOMPARE(m_fx.rest("POST", "kiosk_settings", token, R"({"employees":["X"]})").status, 201);
        const QByteArray alice = aliceSnapshot();
        const qint64 users = m_fx.rowCount("users");
        const qint64 visitors = m_fx.rowCount("visitors");
        QCOMPARE(m_fx.rest("POST", "rpc/delete_account", {}, "{}").status, 401);
        const HttpResponse deleted = m_fx.rest("POST", "rpc/delete_account", token, "{}");
        QCOMPARE(deleted.status, 204);
        QVERIFY(deleted.body.isEmpty());
        QCOMPARE(aliceSnapshot(), alice);
        QCOMPARE(m_fx.rowCount("users"), users - 1);
        QCOMPARE(m_fx.rowCount("visitors"), visitors - 1);
        QCOMPARE(m_fx.rowCount("kiosk_settings"), 1); // Alice's
        QCOMPARE(m_fx.rowCount("visitors_search WHERE visitors_search MATCH 'leaving'"), 0);
        // The token, still unexpired, reads nothing and deletes nothing more.
        QCOMPARE(m_fx.rest("GET", "visitors", token).body, QByteArray("[]"));
        QCOMPARE(m_fx.rest("POST", "rpc/delete_account", token).status, 204);
        QCOMPARE(m_fx.rowCount("users"), users - 1);
    }

    // ---- the value forms underneath: `a` read as `kind`, or for like and ilike matched against `b`

    void valueForms_data() {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *kind, const char *a, const char *b, const char *expected) {
            QTest::addRow("%s %s %s", kind, a, b)
                << QByteArray(kind) << QByteArray(a) << QByteArray(b) << QByteArray(expected);
        };
        row("uuid", "a0ee-bc99-9c0b-4ef8-bb6d-6bb9-bd38-0a11", "", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11");
        for (const char *refused :
             {"a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a1", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a111",
              "a0e-ebc99-9c0b-4ef8-bb6d-6bb9bd380a11", "a0eebc99--9c0b-4ef8-bb6d-6bb9bd380a11",
              "a0eebc999c0b4ef8bb6d6bb9bd380a11-", "{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11", ""}) {
            row("uuid", refused, "", "");
        }
        row("time", "2025-03-04T09:05:12.123Z", "", "2025-03-04T09:05:12.123000+00:00");
        row("time", "2025-03-04T09:05:12.1234565Z", "", "2025-03-04T09:05:12.123457+00:00");
        row("time", "2025-12-31T23:59:59.9999999Z", "", "2026-01-01T00:00:00.000000+00:00");
        row("time", "2025-03-04T23:30:00-01:30", "", "2025-03-05T01:00:00.000000+00:00");
        row("time", "2025-03-04T09:05:12+0530", "", "2025-03-04T03:35:12.000000+00:00");
        row("time", "2025-03-04T09:05:12-05", "", "2025-03-04T14:05:12.000000+00:00");
        row("time", "2025-3-4 9:05", "", "2025-03-04T09:05:00.000000+00:00");
        row("time", "2025-03-04T24:00:00Z", "", "2025-03-05T00:00:00.000000+00:00");
        row("time", "2025-03-04 09:05:12 +01:00", "", "2025-03-04T08:05:12.000000+00:00");
        row("time", "0001-01-01T00:00:00Z", "", "0001-01-01T00:00:00.000000+00:00");
        for (const char *syntax :
             {"2025-03-04T09:05:12 01:00", "2025-03-04T09:05:12Zx", "2025-03-04T09:05:12.Z", "25-03-04"}) {
            row("time", syntax, "", "syntax"); // the first: a plus the query string turned into a space
        }
        for (const char *range : {"2025-03-04T25:00:00Z", "2025-03-04T24:00:01Z", "2025-03-04T09:00:00+16:00",
                                  "0001-01-01T00:00:00+01:00"}) {
            row("time", range, "", "range");
        }
        for (const char *yes : {"TRUE", "t", "y", "on", "1", " true "}) {
            row("boolean", yes, "", "true");
        }
        for (const char *no : {"False", "f", "n", "of", "0"}) {
            row("boolean", no, "", "false");
        }
        for (const char *bad : {"", "o", "2", "truth"}) {
            row("boolean", bad, "", "refused");
        }
        row("like", "abc", "abcd", "no"); // the whole value
        row("like", "ABC", "abc", "no");
        row("ilike", "ABC", "abc", "yes");
        row("like", "a%c", "ac", "yes");
        row("like", "a_c", "ac", "no");
        row("like", "a_c", "a\u00e9c", "yes"); // one character, not one byte
        row("like", "50\\%", "50%", "yes");
        row("like", "50\\%", "500", "no");
        row("like", "a\\\\", "a\\", "yes");
        row("like", "\\a", "a", "yes");
        row("like", "%lee", "lee ann", "no");
        row("like", "%a%b%", "xbxa", "no");
        row("like", "%aab%", "aaab", "yes");
        row("like", "%ab%ab%", "ab", "no");
        row("like", "%ab%ab%", "abab", "yes");
        row("like", "%a_", "xab", "yes");
        row("like", "a%a", "a", "no");
        row("like", "%%", "", "yes");
        row("like", "", "x", "no");
        row("ilike", "%ZO\u00cb%", "zo\u00eb bront\u00eb", "yes");
        row("runs", "%ann%smith_x%", "", "ann|smith");
        row("runs", "%\u00e9\u00e9%", "", ""); // characters, not bytes
        row("runs", "%\u00e9\u00e9x%", "", "\u00e9\u00e9x");
    }

    void valueForms() {
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(QByteArray, expected);
        if (kind == "uuid") {
            QCOMPARE(pg::uuid(a).value_or(QByteArray()), expected);
        } else if (kind == "time") {
            const pg::Timestamp stamp = pg::timestamp(a);
            QCOMPARE(stamp.problem == pg::TimestampProblem::Syntax       ? QByteArray("syntax")
                     : stamp.problem == pg::TimestampProblem::OutOfRange ? QByteArray("range")
                                                                         : stamp.text,
                     expected);
        } else if (kind == "boolean") {
            const std::optional<bool> value = pg::boolean(a);
            QCOMPARE(QByteArray(!value ? "refused" : *value ? "true" : "false"), expected);
        } else if (kind == "runs") {
            QCOMPARE(pg::LikePattern::compile(a, true)->literalRuns(3).join('|'), expected);
        } else {
            const std::optional<pg::LikePattern> pattern = pg::LikePattern::compile(a, kind == "ilike");
            QVERIFY(pattern.has_value());
            QCOMPARE(QByteArray(pattern->matches(b) ? "yes" : "no"), expected);
            QVERIFY(
                !pg::LikePattern::compile(QByteArray(a + '\\'), kind == "ilike")); // a lone escape at the end
        }
    }

    // Search text takes only text: empty parts, numbers as words, anything but label and value objects
    // skipped.
    void searchTextOfOddAnswers() {
        QCOMPARE(searchTextFor("Bob", QByteArrayView(""),
                               R"([{"label":"","value":"x"},{"label":"Slot","value":7},5,{"y":1}])"),
                 QByteArray("bob x slot 7"));
        QCOMPARE(searchTextFor("Bob", std::nullopt, "{oops"), QByteArray("bob"));
    }
};

QTEST_GUILESS_MAIN(TestServerRest)
#include "tst_server_rest.moc"
