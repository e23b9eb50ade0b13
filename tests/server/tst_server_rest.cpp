// The REST service through the whole server in this process: the query language and the value forms it reads,
// Content-Range, every error body, the desk's writes, row ownership against a second account, hostile input.
#include "ServerFixture.h"
#include "VisitorSample.h"
#include "rest/InviteStore.h"
#include "rest/PgTypes.h"

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
                                      : QByteArray::number(response.status) + response.body;
}

QByteArray answerOf(const HttpResponse &response) {
    return QByteArray::number(response.status) + ' ' + response.header("Content-Range") + ' ' + response.body;
}

} // namespace

class TestServerRest : public QObject {
    Q_OBJECT

    ServerFixture m_fx;
    QString m_alice; // the account under test; Bob, the other account, tries to reach Alice's rows
    QByteArray m_aliceToken;
    QHash<QByteArray, QByteArray> m_as; // the Authorization header sent for a request starting with the key
    InviteRecord m_invite;
    std::unique_ptr<RestService> m_walker; // the same service with its search index switched off

    // `request` is "METHOD target[ body]", the target after /rest/v1/. As Alice, or as another account or
    // with another token when `request` starts with a key of m_as; @alice, @ALICE, @invite and @a1 (Alice's
    // first visitor) stand for the ids.
    HttpResponse send(QByteArray request, const QByteArray &prefer = {}, const QByteArray &accept = {}) {
        const QByteArray who = request.left(request.indexOf(' '));
        const QByteArray authorization = m_as.value(who, "Bearer " + m_aliceToken);
        request.remove(0, m_as.contains(who) ? who.size() + 1 : 0);
        request.replace("@alice", m_alice.toUtf8()).replace("@ALICE", m_alice.toUpper().toUtf8());
        request.replace("@invite", m_invite.id.toUtf8())
            .replace("@a1", "00000000-0000-4000-8000-000000000001");
        request.insert(request.indexOf(' ') + 1, "/rest/v1/");
        return m_fx.send(request, {{"Authorization", authorization}, {"Prefer", prefer}, {"Accept", accept}});
    }
    QByteArray names(const QByteArray &query) {
        return firstValues(send("GET visitors?select=visitor_name&" + query));
    }

    // Everything of Alice's, as stored, search index included.
    QByteArray aliceSnapshot() {
        Statement rows = m_fx.db().prepare(
            "SELECT (SELECT json_group_array(json_array(id, visitor_name, host_name, signed_out_at, "
            "list_name, "
            "search_text)) FROM visitors WHERE owner_id = ?1) || (SELECT json_group_array(json_array("
            "place_name, employees)) FROM kiosk_settings WHERE owner_id = ?1) || (SELECT json_group_array("
            "used_at) FROM invites WHERE owner_id = ?1) || (SELECT count(*) FROM users WHERE id = ?1) || "
            "(SELECT count(*) FROM visitors_search WHERE visitors_search MATCH 'acme')");
        rows.bind(1, m_alice);
        rows.step();
        return rows.text(0);
    }

private Q_SLOTS:
    void initTestCase() {
        m_alice = m_fx.createUser(u"alice@example.com"_s);
        m_aliceToken = m_fx.token(m_alice);
        const QList<QByteArray> good = m_aliceToken.split('.');
        const QByteArray other =
            crypto::base64Url(R"({"sub":"00000000-0000-4000-8000-00000000000b","exp":4102444800})");
        m_as = {{"bob", "Bearer " + m_fx.token(m_fx.createUser(u"bob@example.com"_s))},
                {"expired", "Bearer " + m_fx.token(m_alice, 0)}, // in its expiry second
                {"nobody", {}},
                {"anon", "Bearer " + m_fx.token(m_alice, 3600, u"anon"_s)},
                {"service", "Bearer " + m_fx.token(m_alice, 3600, u"service_role"_s)},
                {"one-part", "Bearer abc"},
                {"not-base64", "Bearer !.?.*"},
                {"swapped", "Bearer " + good[0] + '.' + other + '.' + good[2]},
                {"alg-none", "Bearer " + crypto::base64Url(R"({"alg":"none"})") + '.' + other + '.'},
                {"basic", "Basic " + m_aliceToken},
                {"not-a-uuid", "Bearer " + m_fx.app().context().jwt().sign({{u"sub"_s, u"1 OR 1=1"_s},
                                                                            {u"role"_s, u"authenticated"_s},
                                                                            {u"exp"_s, 4102444800.0}})}};
        QCOMPARE(send("POST visitors " + sampleVisitors).status, 201);
        QCOMPARE(
            send(R"(bob POST visitors [{"visitor_name":"Ann Lee"},{"visitor_name":"Bravo Guest"}])").status,
            201);
        m_invite = InviteStore(m_fx.app().context())
                       .create(m_alice, {u"Guest"_s, u"guest@example.com"_s, {}, {}, {}, {}});
        m_walker = std::make_unique<RestService>(m_fx.app().context(), m_fx.app().outbox());
        m_walker->setSearchIndexLimit(0);
    }

    void reads_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *query, const char *expected) {
            QTest::newRow(query) << QByteArray(query) << QByteArray(expected);
        };
        row("", sampleNewestFirst);
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
        row("signed_in_at=lte.2025-02-28T23:00:00-0200", "Carol *Star*");
        row("signed_in_at=eq.2025-03-06T23:59:59.9999985Z", "Ann_Lee"); // rounded to microseconds
        row("signed_in_at=eq.0001-01-01T00:00:00Z", "");
        row("signed_in_at=eq.2025-3-4%2019:00%20-05", "a+b Consulting");
        row("id=eq.0000-0000-0000-4000-8000-0000-0000-0001", "Ann Lee"); // hyphens between any four digits
        row("signed_in_at=gte.2025-03-06&signed_in_at=lt.2025-03-06T24:00:00Z", "Ann_Lee");
        row("id=in.(%7B00000000-0000-4000-8000-000000000001%7D,00000000-0000-4000-8000-00000000000A)",
            "Ann Lee|Carol *Star*");
        row("visitor_name=in.(%22O'Brien,%20Pat%22,Ann%20Lee)", "O'Brien, Pat|Ann Lee");
        row("visitor_name=in.()", "");
        row("visitor_name=like.Ann*", "Ann_Lee|Ann Lee");
        row("visitor_name=ilike.ann*", "annette smith|Ann_Lee|Ann Lee");
        row("visitor_name=ilike.ZO%C3%8B*", "Zoë Brontë");
        row("visitor_name=like.Ann%5C_Lee", "Ann_Lee");
        row("visitor_name=like.Carol%20%5C*Star*", "");      // an escaped star is a literal percent
        row("visitor_name=like.Zo_%20Bront_", "Zoë Brontë"); // one character, not one byte
        row("visitor_name=like.*n*n*", "annette smith|Ann_Lee|a+b Consulting|Ann Lee");
        row("host_name=like.Tom*Tom", "");
        row("search_text=ilike.%25acme%25", "annette smith|Ann Lee");
        row("search_text=ilike.%25ac%25", "annette smith|50%_off Sales|Ann Lee"); // too short for the index
        row("search_text=ilike.*%C3%AB%20*", "Zoë Brontë"); // two characters, three bytes: too short as well
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
        // Bob, the other account, reads his own two rows and none of Alice's, whatever he asks.
        row("bob order=visitor_name", "Ann Lee|Bravo Guest");
        row("bob id=eq.@a1", "");
        row("bob owner_id=eq.@alice", "");
        row("bob search_text=ilike.*acme*", "");
    }

    void reads() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        const QByteArray who = query.startsWith("bob ") ? "bob " : "";
        query = query.mid(who.size()) + (query.contains("order=") ? "" : "&order=signed_in_at.desc,id.desc");
        query.prepend(query.contains("select=") ? "" : "select=visitor_name&");
        QCOMPARE(firstValues(send(who + "GET visitors?" + query)), expected);
        if (query.contains("search_text") && who.isEmpty()) { // the search index is a shortcut only
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
        for (const QByteArray request : {"GET visitors?", "HEAD visitors?"}) {
            for (const QByteArray prefer : {"count=exact", ""}) {
                const HttpResponse response = send(request + query, prefer);
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
        const char *notNull =
            "400 23502 null value in column \"visitor_name\" of relation \"visitors\" violates "
            "not-null constraint";
        const char *security = "403 42501 new row violates row-level security policy for table \"visitors\"";
        row("GET bananas", "404 PGRST205 Could not find the table 'public.bananas' in the schema cache");
        row("GET visitors?select=id,banana", "400 42703 column visitors.banana does not exist");
        row("GET visitors?order=banana.desc", "400 42703 column visitors.banana does not exist");
        row("GET visitors?select=search_text", "400 42703 column visitors.search_text does not exist");
        row("GET visitors?id=0", "400 PGRST100 \"failed to parse filter (0)\" (line 1, column 1)");
        row("GET visitors?id=foo.bar", "400 PGRST100 \"failed to parse filter (foo.bar)\"…");
        row("GET visitors?signed_out_at=is.maybe", "400 PGRST100 \"failed to parse filter (is.maybe)\"…");
        row("GET visitors?visitor_name=in.a,b", "400 PGRST100 \"failed to parse filter (in.a,b)\"…");
        row("GET visitors?order=id.sideways", "400 PGRST100 \"failed to parse order (id.sideways)\"…");
        row("GET visitors?or=(id.eq.1)", "400 PGRST100 \"failed to parse logic tree…");
        row("GET visitors?id=eq.00000000-0000-4000-8000-0000000000011",
            "400 22P02 invalid input syntax for type uuid: \"00000000-0000-4000-8000-0000000000011\"");
        row("GET visitors?id=eq.000-00000-0000-4000-8000-000000000001",
            "400 22P02 invalid input syntax for type uuid: \"000-00000-0000-4000-8000-000000000001\"");
        row("GET visitors?signed_in_at=gt.2025-03-04T09:05:12+01:00", // the plus arrives as a space
            "400 22007 invalid input syntax for type timestamp with time zone: \"2025-03-04T09:05:12 "
            "01:00\"");
        row("GET visitors?signed_in_at=gt.2025-03-04T24:00:01Z",
            "400 22008 date/time field value out of range…");
        row("GET visitors?signed_in_at=gt.2025-03-04T09:00:00%2B16:00",
            "400 22008 date/time field value out of range…");
        row("GET visitors?signed_in_at=gt.0001-01-01T00:00:00%2B01:00",
            "400 22008 date/time field value out of range…");
        row("GET notification_settings?notify_sign_in=eq.o",
            "400 22P02 invalid input syntax for type boolean: \"o\"");
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
        row(R"(POST visitors {"visitor_name":)", "400 PGRST102 Empty or invalid json");
        row("POST visitors [1]", "400 PGRST102 Empty or invalid json");
        row(R"(POST visitors [{"visitor_name":"a"},{"host_name":"b"}])",
            "400 PGRST102 All object keys must match");
        row(R"(POST visitors {"search_text":"x"})",
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
        row(R"(POST visitors?on_conflict=host_name {"visitor_name":"a"})",
            "400 42P10 there is no unique or exclusion constraint matching the ON CONFLICT columns");
        row(R"(PATCH visitors?limit=1 {"list_name":"x"})", "400 21000 UPDATE requires a WHERE clause");
        row("DELETE invites", "400 21000 DELETE requires a WHERE clause");
        row(R"(POST rpc/delete_account {"user_id":"x"})",
            "404 PGRST202 Could not find the function public.delete_account(user_id) in the schema cache");
        row("GET rpc/delete_account", "405 PGRST101 Cannot use the GET method on RPC");
        // Tokens that are not good enough; a missing one is the anonymous role.
        row("expired GET visitors", "401 PGRST303 JWT expired");
        row("one-part GET visitors", "401 PGRST301 Expected 3 parts in JWT; got 1");
        row("not-base64 GET visitors", "401 PGRST301 JWT cryptographic operation failed");
        row("swapped GET visitors", "401 PGRST301 JWSError JWSInvalidSignature");
        row("alg-none GET visitors", "401 PGRST301 JWSError JWSInvalidSignature");
        row("basic GET visitors", "401 PGRST301 Authorization header is not a bearer token");
        row("not-a-uuid GET visitors", "401 PGRST301 JWT subject is not a user id");
        // Bob changes nothing of Alice's, whatever he names.
        row(R"(bob PATCH visitors?search_text=ilike.*acme* {"host_name":"Hijack"})", "200 []",
            "return=representation");
        row(R"(bob PATCH visitors?visitor_name=eq.Bravo%20Guest {"owner_id":"@alice"})", security);
        row(R"(bob POST visitors {"visitor_name":"x","owner_id":"@ALICE"})", security);
        row(R"(bob POST visitors?on_conflict=id {"id":"@a1","visitor_name":"Mine"})", security,
            "resolution=merge-duplicates");
        row(R"(bob POST visitors?on_conflict=id {"id":"@a1","visitor_name":"Mine"})", security,
            "resolution=ignore-duplicates");
        row("bob DELETE invites?id=not.is.null", "204 ");
        // Hostile text in every place a request carries it: refused, or matched as plain data and never run.
        row("bob GET visitors?select=id;drop%20table%20visitors",
            "400 PGRST100 \"failed to parse select parameter…");
        row("bob GET visitors?select=id,(select%20email%20from%20users)",
            "400 PGRST200 Could not find a relationship…");
        row("bob GET visitors?select=%22a%22:visitor_name",
            "400 PGRST100 \"failed to parse select parameter…");
        row("bob GET visitors?order=id.desc,owner_id)--", "400 PGRST100 \"failed to parse order…");
        row("bob GET visitors?visitor_name%22)%20OR%201=1%20--=eq.x",
            "400 42703 column visitors.visitor_name\")…");
        row("bob GET visitors?visitor_name=eq.x'%20OR%20'1'='1", "200 []");
        row("bob GET visitors?visitor_name=in.(x')%20OR%201=1%20--)", "200 []");
        row("bob GET visitors?search_text=ilike.*a%22%20OR%20%22b*", "200 []");
        row("bob GET visitors?offset=0%20UNION%20SELECT%20email%20FROM%20users&visitor_name=eq.none",
            "200 []");
        row("bob POST visitors?on_conflict=id)%20DO%20UPDATE%20SET%20owner_id='x'%20-- "
            "{\"visitor_name\":\"x\"}",
            "400 42703 column visitors.id) DO UPDATE…");
        row("bob POST visitors {\"visitor_name\\\") VALUES ('x'); DROP TABLE visitors; --\":\"x\"}",
            "400 PGRST204 Could not find the 'visitor_name\") VALUES…");
        row("bob PATCH visitors?id=eq.@a1 {\"signed_out_at\\\" = NULL, \\\"owner_id\":\"x\"}",
            "400 PGRST204 Could not find the 'signed_out_at\" = NULL…");
        row("bob GET visitors;drop%20table%20users",
            "404 PGRST205 Could not find the table 'public.visitors;drop…");
        row("bob POST rpc/delete_account;--",
            "404 PGRST202 Could not find the function public.delete_account;-- without…");
    }

    // Every request leaves Alice's rows as they were; an error answers a JSON body of exactly code, details,
    // hint and message (a refused token also says why in WWW-Authenticate), and nothing answers with the
    // database's own words.
    void exchanges() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, prefer);
        QFETCH(QByteArray, answer);
        const QByteArray before = aliceSnapshot();
        const qint64 rows = m_fx.rowCount("visitors") + m_fx.rowCount("users");
        const HttpResponse response = send(request, prefer);
        const QJsonObject error = response.status >= 400 ? ServerFixture::object(response) : QJsonObject();
        const QString code = error[u"code"].toString() + u' ' + error[u"message"].toString();
        const QByteArray actual =
            QByteArray::number(response.status) + ' ' + (error.isEmpty() ? response.body : code.toUtf8());
        QVERIFY2(answer.endsWith("…") ? actual.startsWith(answer.chopped(3)) : actual == answer,
                 actual.constData());
        QVERIFY(error.isEmpty() ||
                error.keys() == QStringList({u"code"_s, u"details"_s, u"hint"_s, u"message"_s}));
        QVERIFY(response.status != 401 || (error[u"details"].isNull() && error[u"hint"].isNull() &&
                                           response.header("WWW-Authenticate") ==
                                               "Bearer error=\"invalid_token\", error_description=\"" +
                                                   error[u"message"].toString().toUtf8() + '"'));
        QVERIFY(response.status == 204 ||
                response.header("Content-Type") == "application/json; charset=utf-8");
        for (const char *secret : {"Maria", "alice@", "SELECT", "sqlite", "syntax error"}) {
            QVERIFY2(!response.body.contains(secret), response.body.constData());
        }
        QCOMPARE(aliceSnapshot(), before);
        QCOMPARE(m_fx.rowCount("visitors") + m_fx.rowCount("users"), rows);
    }

    // Any role but an authenticated user's reads nothing and writes nothing.
    void anonymous() {
        const QByteArray before = aliceSnapshot();
        for (const QByteArray who : {"nobody ", "anon ", "service "}) {
            QCOMPARE(answerOf(send(who + "GET visitors?select=id", "count=exact")), "200 */0 []");
            QCOMPARE(send(who + "GET kiosk_settings").body, QByteArray("[]"));
            for (const char *write : {"POST visitors {}", "PATCH visitors?id=eq.@a1 {}",
                                      "DELETE visitors?id=eq.@a1", "POST rpc/delete_account {}"}) {
                const HttpResponse refused = send(who + write);
                QCOMPARE(QByteArray::number(refused.status) + ' ' + refused.header("WWW-Authenticate") + ' ' +
                             ServerFixture::object(refused).value(u"code").toString().toLatin1(),
                         "401 Bearer 42501");
            }
        }
        QCOMPARE(aliceSnapshot(), before);
    }

    // ---- the desk's writes

    // What the desk's insertVisitor sends and reads back: keys in select order, Postgres timestamps, JSON
    // answers, null host; then its sign-out, a rename and a removal, each keeping the search text in step.
    void visitorLifecycle() {
        const HttpResponse inserted = send(
            "POST visitors?select=id,visitor_name,host_name,answers,signed_in_at,signed_out_at,device_name "
            R"({"owner_id":"@ALICE","device_record_id":"r","visitor_name":"Desk Guest","host_name":null,)"
            R"("answers":[{"label":"Badge","value":"B-12"}],"signed_in_at":"2025-03-04T09:05:00.5Z","device_name":"D"})",
            "return=representation");
        const QByteArray id = QJsonDocument::fromJson(inserted.body)[0][u"id"].toString().toUtf8();
        QVERIFY(pg::uuid(id) == id && id[14] == '4');
        QCOMPARE(answerOf(inserted),
                 "201 */* [{\"id\":\"" + id +
                     "\",\"visitor_name\":\"Desk Guest\",\"host_name\":null,"
                     R"("answers":[{"label":"Badge","value":"B-12"}],)"
                     R"("signed_in_at":"2025-03-04T09:05:00.500000+00:00","signed_out_at":null,)"
                     R"("device_name":"D"}])");
        QCOMPARE(names("search_text=ilike.*b-12*"), QByteArray("Desk Guest"));
        // The desk's sign-out: the changed rows come back, so a visitor signed out elsewhere gives none.
        const QByteArray signOut =
            "PATCH visitors?id=eq." + id + "&signed_out_at=is.null&select=id {\"signed_out_at\":";
        QCOMPARE(answerOf(send(signOut + "\"2025-03-04T10:00:00Z\"}", "return=representation")),
                 "200 0-0/* [{\"id\":\"" + id + "\"}]");
        QCOMPARE(answerOf(send(signOut + "\"2025-03-04T11:00:00Z\"}", "return=representation")),
                 "200 */* []");
        QCOMPARE(names("select=signed_out_at&id=eq." + id), QByteArray("2025-03-04T10:00:00.000000+00:00"));
        const QByteArray one = " visitors?id=eq." + id + "&select=visitor_name";
        QCOMPARE(answerOf(send("PATCH" + one + R"( {"visitor_name":"Renamed"})", "return=representation")),
                 R"(200 0-0/* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*desk%20guest*") + '|' + names("search_text=ilike.*renamed*"),
                 "|Renamed");
        QCOMPARE(answerOf(send("DELETE" + one, "return=representation")),
                 R"(200 */* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*renamed*"), QByteArray());
        QCOMPARE(answerOf(send("POST visitors []")), "201 */* ");
    }

    // The desk's settings save: insert the first time (201), merge only the sent columns afterwards (200); a
    // null clears; booleans read and filter as booleans.
    void upsertSettings() {
        const QByteArray settings = "POST kiosk_settings?on_conflict=owner_id {\"owner_id\":\"@alice\",";
        const QByteArray merge = "resolution=merge-duplicates";
        QCOMPARE(answerOf(send(
                     settings + R"("fields":[{"slot":0}],"employees":["Ann"],"place_name":"Lobby"})", merge)),
                 "201 */* ");
        QCOMPARE(answerOf(send(settings + R"("employees":["Ann","Bo"],"place_name":null})", merge)),
                 "200 */* ");
        QCOMPARE(send("GET kiosk_settings?select=fields,employees,place_name").body,
                 QByteArray(R"([{"fields":[{"slot":0}],"employees":["Ann","Bo"],"place_name":null}])"));
        const QByteArray alerts =
            R"("office_webhook":"h","notify_sign_in":false,"notify_sign_out":true,"employee_webhooks":{"A":"a"}})";
        const QByteArray upsert =
            "POST notification_settings?on_conflict=owner_id&select=notify_sign_in {\"owner_id\":\"@alice\",";
        QCOMPARE(answerOf(send(upsert + alerts, merge)), "201 */* ");
        const QByteArray select =
            "GET "
            "notification_settings?select=office_webhook,notify_sign_in,notify_sign_out,employee_webhooks";
        QCOMPARE(send(select + "&notify_sign_out=is.true").body, "[{" + alerts + "]");
        QCOMPARE(send(select + "&notify_sign_in=eq.%20T%20").body, QByteArray("[]"));
        QCOMPARE(send(select + "&notify_sign_in=in.(of,on,1,n,f,0,no)").body, "[{" + alerts + "]");
        QCOMPARE(answerOf(send(upsert + R"("notify_sign_in":"yes"})", merge + ",return=representation")),
                 R"(200 */* [{"notify_sign_in":true}])");
    }

    void singleObject_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // the object, or the 406's details
        const auto row = [](const char *request, const char *answer) {
            QTest::newRow(request) << QByteArray(request) << QByteArray(answer);
        };
        const char *bob = R"(200 {"visitor_name":"Bob Stone"})";
        const char *several = "406 The result contains 3 rows";
        row("GET visitors?id=eq.00000000-0000-4000-8000-000000000002&select=who:visitor_name",
            R"(200 {"who":"Bob Stone"})");
        row("GET visitors?visitor_name=eq.Nobody", "406 The result contains 0 rows");
        row(R"(PATCH visitors?id=eq.00000000-0000-4000-8000-000000000002&select=visitor_name {"list_name":null})",
            bob);
        row(R"(PATCH visitors?host_name=eq.Tom {"list_name":"X"})", several);
        row(R"(PATCH visitors?visitor_name=eq.Nobody {"list_name":"X"})", "406 The result contains 0 rows");
        row(R"(POST visitors [{"visitor_name":"One"},{"visitor_name":"Two"}])",
            "406 The result contains 2 rows");
        row("DELETE visitors?host_name=eq.Tom", several);
    }

    // Accept: application/vnd.pgrst.object+json answers the one row itself; any other count is refused and
    // a write undone.
    void singleObject() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        const QByteArray before = aliceSnapshot();
        const HttpResponse response =
            send(request, "return=representation", "application/vnd.pgrst.object+json");
        QCOMPARE(QByteArray::number(response.status) + ' ' + response.body,
                 answer.startsWith("406") ? "406 {\"code\":\"PGRST116\",\"details\":\"" + answer.mid(4) +
                                                "\",\"hint\":null,\"message\":\"JSON object requested, "
                                                "multiple (or no) rows returned\"}"
                                          : answer);
        QVERIFY(response.status == 406 ||
                response.header("Content-Type") == "application/vnd.pgrst.object+json; charset=utf-8");
        QCOMPARE(aliceSnapshot(), before);
    }

    void invites() {
        InviteStore store(m_fx.app().context());
        QCOMPARE(store.find(m_alice, m_invite.id.toUpper())->visitorEmail, m_invite.visitorEmail);
        const QByteArray list =
            "GET invites?select=id,token,visitor_name,visitor_email,answers,visit_date,"
            "visit_time,note,created_at,used_at&order=created_at.desc&limit=50&used_at=is.null";
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
        m_as.insert("leaving", "Bearer " + m_fx.token(m_fx.createUser(u"leaving@example.com"_s)));
        QCOMPARE(send(R"(leaving POST visitors {"visitor_name":"Leaving Guest"})").status, 201);
        QCOMPARE(send(R"(leaving POST kiosk_settings {"employees":["X"]})").status, 201);
        const QByteArray alice = aliceSnapshot();
        const auto rows = [this] {
            return m_fx.rowCount("users") + m_fx.rowCount("visitors") + m_fx.rowCount("kiosk_settings");
        };
        const qint64 before = rows();
        QCOMPARE(send("nobody POST rpc/delete_account {}").status, 401);
        QCOMPARE(answerOf(send("leaving POST rpc/delete_account {}")), "204  ");
        QCOMPARE(aliceSnapshot(), alice);
        QCOMPARE(rows(), before - 3);
        QCOMPARE(m_fx.rowCount("visitors_search WHERE visitors_search MATCH 'leaving'"), 0);
        // The token, still unexpired, reads nothing and deletes nothing more.
        QCOMPARE(send("leaving GET visitors").body, QByteArray("[]"));
        QCOMPARE(send("leaving POST rpc/delete_account").status, 204);
        QCOMPARE(rows(), before - 3);
    }
};

QTEST_GUILESS_MAIN(TestServerRest)
#include "tst_server_rest.moc"
