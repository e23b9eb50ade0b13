// The REST service's query language, answers and writes, through the whole server in this process.
#include "RestFixture.h"
#include "VisitorSample.h"
#include "rest/InviteStore.h"

#include <QRegularExpression>

using namespace tbserver;
using namespace tbserver::testing;
using namespace Qt::StringLiterals;

class TestServerRest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<RestFixture> m_fixture;
    QByteArray m_token;
    QString m_user;

    RestFixture &fx() { return *m_fixture; }

private Q_SLOTS:
    void initTestCase() {
        m_fixture = std::make_unique<RestFixture>();
        m_user = fx().createUser(QStringLiteral("desk@example.com"));
        m_token = fx().token(m_user);
        const HttpResponse seeded = fx().call("POST", "visitors", m_token, sampleVisitors());
        QCOMPARE(seeded.status, 201);
    }

    void filters_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no filter") << QByteArray() << sampleNewestFirst;
        QTest::newRow("eq text") << QByteArray("visitor_name=eq.Ann%20Lee") << QByteArray("Ann Lee");
        QTest::newRow("plus is a space") << QByteArray("visitor_name=eq.Ann+Lee") << QByteArray("Ann Lee");
        QTest::newRow("encoded plus")
            << QByteArray("visitor_name=eq.a%2Bb%20Consulting") << QByteArray("a+b Consulting");
        QTest::newRow("raw plus is no plus") << QByteArray("visitor_name=eq.a+b+Consulting") << QByteArray();
        QTest::newRow("quotes are verbatim") << QByteArray("visitor_name=eq.%22Tie%20One%22") << QByteArray();
        QTest::newRow("neq leaves out nulls") << QByteArray("host_name=neq.Tom")
                                              << QByteArray("annette smith|50%_off Sales|Zoë Brontë|Ann Lee");
        QTest::newRow("is null")
            << QByteArray("signed_out_at=is.null")
            << QByteArray("Tie One|O'Brien, Pat|annette smith|a+b Consulting|Zoë Brontë|Bob Stone");
        QTest::newRow("not is null") << QByteArray("signed_out_at=not.is.null")
                                     << QByteArray("Ann_Lee|50%_off Sales|Ann Lee|Carol *Star*");
        QTest::newRow("is not_null") << QByteArray("signed_out_at=is.not_null")
                                     << QByteArray("Ann_Lee|50%_off Sales|Ann Lee|Carol *Star*");
        QTest::newRow("gte Z") << QByteArray("signed_in_at=gte.2025-03-07T10:00:00Z")
                               << QByteArray("Tie One|O'Brien, Pat|annette smith");
        QTest::newRow("gt boundary") << QByteArray("signed_in_at=gt.2025-03-07T10:00:00Z")
                                     << QByteArray("Tie One|O'Brien, Pat");
        QTest::newRow("lt with offset")
            << QByteArray("signed_in_at=lt.2025-03-04T08:00:01%2B01:00")
            << QByteArray("50%_off Sales|Zoë Brontë|Bob Stone|Ann Lee|Carol *Star*");
        QTest::newRow("offset stored as UTC")
            << QByteArray("signed_in_at=eq.2025-03-04T07:00:00Z") << QByteArray("50%_off Sales");
        QTest::newRow("eq with offset")
            << QByteArray("signed_in_at=eq.2025-03-04T08:00:00%2B01:00") << QByteArray("50%_off Sales");
        QTest::newRow("lte with negative offset")
            << QByteArray("signed_in_at=lte.2025-02-28T23:00:00-02:00") << QByteArray("Carol *Star*");
        QTest::newRow("eq fraction") << QByteArray("signed_in_at=eq.2025-03-03T12:30:00.500Z")
                                     << QByteArray("Zoë Brontë");
        QTest::newRow("repeated column ands")
            << QByteArray("signed_in_at=gte.2025-03-06T23:59:59.999999Z&signed_in_at=lt.2025-03-07T00:00:00Z")
            << QByteArray("Ann_Lee");
        QTest::newRow("space and no zone")
            << QByteArray("signed_in_at=eq.2025-03-05%2000:00:00") << QByteArray("a+b Consulting");
        QTest::newRow("date only") << QByteArray("signed_in_at=lt.2025-03-02")
                                   << QByteArray("Ann Lee|Carol *Star*");
        QTest::newRow("in ids")
            << QByteArray("id=in.(00000000-0000-4000-8000-000000000002,00000000-0000-4000-8000-000000000005)")
            << QByteArray("a+b Consulting|Bob Stone");
        QTest::newRow("uuid any case and braces")
            << QByteArray(
                   "id=in.(%7B00000000-0000-4000-8000-000000000001%7D,00000000-0000-4000-8000-00000000000A)")
            << QByteArray("Ann Lee|Carol *Star*");
        QTest::newRow("in quoted") << QByteArray("visitor_name=in.(%22O'Brien,%20Pat%22,Ann%20Lee)")
                                   << QByteArray("O'Brien, Pat|Ann Lee");
        QTest::newRow("in empty") << QByteArray("visitor_name=in.()") << QByteArray();
        QTest::newRow("not in") << QByteArray("host_name=not.in.(Tom,Maria%20Garcia)")
                                << QByteArray("Zoë Brontë");
        QTest::newRow("like is case-sensitive")
            << QByteArray("visitor_name=like.Ann*") << QByteArray("Ann_Lee|Ann Lee");
        QTest::newRow("ilike") << QByteArray("visitor_name=ilike.ann*")
                               << QByteArray("annette smith|Ann_Lee|Ann Lee");
        QTest::newRow("underscore wildcard")
            << QByteArray("visitor_name=like.Ann_Lee") << QByteArray("Ann_Lee|Ann Lee");
        QTest::newRow("escaped underscore")
            << QByteArray("visitor_name=like.Ann%5C_Lee") << QByteArray("Ann_Lee");
        QTest::newRow("escaped percent")
            << QByteArray("visitor_name=like.50%5C%25*") << QByteArray("50%_off Sales");
        QTest::newRow("escaped star is a literal percent")
            << QByteArray("visitor_name=like.Carol%20%5C*Star*") << QByteArray();
        QTest::newRow("ilike non-ASCII")
            << QByteArray("visitor_name=ilike.ZO%C3%8B*") << QByteArray("Zoë Brontë");
        QTest::newRow("not like") << QByteArray("visitor_name=not.like.*n*")
                                  << QByteArray("50%_off Sales|Carol *Star*");
        QTest::newRow("search indexed")
            << QByteArray("search_text=ilike.%25acme%25") << QByteArray("annette smith|Ann Lee");
        QTest::newRow("search short")
            << QByteArray("search_text=ilike.%25ac%25") << QByteArray("annette smith|50%_off Sales|Ann Lee");
        QTest::newRow("search escapes")
            << QByteArray("search_text=ilike.%2550%5C%25%5C_off%25") << QByteArray("50%_off Sales");
        QTest::newRow("search backslash")
            << QByteArray("search_text=ilike.%25back%5C%5Cslash%25") << QByteArray("50%_off Sales");
        QTest::newRow("search upper non-ASCII")
            << QByteArray("search_text=ilike.%25GRO%C3%9F%25") << QByteArray("Zoë Brontë");
        QTest::newRow("search quotes")
            << QByteArray("search_text=ilike.*%22quoted%22*") << QByteArray("O'Brien, Pat");
        QTest::newRow("search across fields")
            << QByteArray("search_text=ilike.*lee%20maria*") << QByteArray("Ann Lee");
        QTest::newRow("search inner wildcard")
            << QByteArray("search_text=ilike.*ann*smith*") << QByteArray("annette smith");
        QTest::newRow("search underscore wildcard")
            << QByteArray("search_text=ilike.*ann_lee*") << QByteArray("Ann_Lee|Ann Lee");
        QTest::newRow("search like keeps case") << QByteArray("search_text=like.*ACME*") << QByteArray();
        QTest::newRow("search plus") << QByteArray("search_text=ilike.*a%2Bb*")
                                     << QByteArray("a+b Consulting");
        QTest::newRow("not ilike search")
            << QByteArray("search_text=not.ilike.*maria*")
            << QByteArray("Tie One|O'Brien, Pat|Ann_Lee|a+b Consulting|Zoë Brontë|Bob Stone|Carol *Star*");
        QTest::newRow("two searches") << QByteArray("search_text=ilike.*acme*&search_text=ilike.*annette*")
                                      << QByteArray("annette smith");
    }

    void filters() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        const QByteArray ordered = query + (query.isEmpty() ? "" : "&") + "order=signed_in_at.desc,id.desc";
        QCOMPARE(fx().names(m_token, ordered), expected);
    }

    // The search index is a shortcut only: walking the rows gives the same answers.
    void searchWithoutIndex_data() { filters_data(); }
    void searchWithoutIndex() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        Outbox outbox(QDir::tempPath());
        RestService walker(fx().app().context(), outbox);
        walker.setSearchIndexLimit(0);
        HttpRequest request;
        request.method = "GET";
        request.rawQuery = "select=visitor_name&order=signed_in_at.desc,id.desc" +
                           (query.isEmpty() ? QByteArray() : QByteArray("&" + query));
        request.headers.append({QByteArrayLiteral("Authorization"), "Bearer " + m_token});
        const HttpResponse response = walker.handle(request, "visitors");
        QByteArrayList names;
        for (const QJsonValue &row : QJsonDocument::fromJson(response.body).array()) {
            names.append(row.toObject().value(u"visitor_name").toString().toUtf8());
        }
        QCOMPARE(names.join('|'), expected);
    }

    void order_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("desc text")
            << QByteArray("id=in.(00000000-0000-4000-8000-000000000001,00000000-0000-4000-8000-"
                          "000000000002,00000000-0000-4000-8000-000000000003)&order=visitor_"
                          "name.desc")
            << QByteArray("Zoë Brontë|Bob Stone|Ann Lee");
        QTest::newRow("nulls last going up")
            << QByteArray("order=host_name.asc,id.asc")
            << QByteArray(
                   "Zoë Brontë|Ann Lee|50%_off Sales|annette smith|a+b Consulting|Ann_Lee|Carol *Star*|Bob "
                   "Stone|O'Brien, Pat|Tie One");
        QTest::newRow("nulls first going down")
            << QByteArray("order=host_name.desc,id.asc")
            << QByteArray(
                   "Bob Stone|O'Brien, Pat|Tie One|a+b Consulting|Ann_Lee|Carol *Star*|Ann Lee|50%_off "
                   "Sales|annette smith|Zoë Brontë");
        QTest::newRow("nullsfirst") << QByteArray("order=host_name.asc.nullsfirst,id.desc")
                                    << QByteArray(
                                           "Tie One|O'Brien, Pat|Bob Stone|Zoë Brontë|annette smith|50%_off "
                                           "Sales|Ann Lee|Carol *Star*|Ann_Lee|a+b Consulting");
        QTest::newRow("nullslast") << QByteArray("order=host_name.desc.nullslast,id.asc")
                                   << QByteArray(
                                          "a+b Consulting|Ann_Lee|Carol *Star*|Ann Lee|50%_off Sales|annette "
                                          "smith|Zoë Brontë|Bob Stone|O'Brien, Pat|Tie One");
        QTest::newRow("ties by id") << QByteArray("order=signed_in_at.asc,id.asc&limit=2&offset=8")
                                    << QByteArray("O'Brien, Pat|Tie One");
        QTest::newRow("default direction")
            << QByteArray("order=signed_in_at,id&limit=2") << QByteArray("Carol *Star*|Ann Lee");
        QTest::newRow("limit and offset") << QByteArray("order=signed_in_at.desc,id.desc&limit=3&offset=2")
                                          << QByteArray("annette smith|Ann_Lee|a+b Consulting");
        QTest::newRow("offset only") << QByteArray("order=signed_in_at.desc,id.desc&offset=8")
                                     << QByteArray("Ann Lee|Carol *Star*");
        QTest::newRow("limit zero") << QByteArray("order=signed_in_at.desc&limit=0") << QByteArray();
        QTest::newRow("limit not a number")
            << QByteArray("order=signed_in_at.desc,id.desc&limit=abc") << sampleNewestFirst;
        QTest::newRow("alias") << QByteArray(
                                      "order=signed_in_at.desc,id.desc&limit=1&select=who:visitor_name")
                               << QByteArray("Tie One");
    }

    void order() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        const QByteArray key = query.contains("who:") ? "who" : "visitor_name";
        QCOMPARE(fx().names(m_token, query.contains("select=") ? query : query + "&select=visitor_name", key),
                 expected);
    }

    void contentRange_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("count");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("range");
        QTest::newRow("rows, no count") << QByteArray("") << false << 200 << QByteArray("0-9/*");
        QTest::newRow("no rows, no count")
            << QByteArray("visitor_name=eq.nobody") << false << 200 << QByteArray("*/*");
        QTest::newRow("all, counted") << QByteArray("") << true << 200 << QByteArray("0-9/10");
        QTest::newRow("one of ten") << QByteArray("select=id&limit=1") << true << 206 << QByteArray("0-0/10");
        QTest::newRow("all but one") << QByteArray("limit=9") << true << 206 << QByteArray("0-8/10");
        QTest::newRow("middle page") << QByteArray("limit=3&offset=4") << true << 206 << QByteArray("4-6/10");
        QTest::newRow("none matched")
            << QByteArray("visitor_name=eq.nobody") << true << 200 << QByteArray("*/0");
        QTest::newRow("offset at the end") << QByteArray("offset=10") << true << 206 << QByteArray("*/10");
        QTest::newRow("offset past the end") << QByteArray("offset=15") << true << 416 << QByteArray("*/10");
        QTest::newRow("offset past, no count")
            << QByteArray("offset=15") << false << 200 << QByteArray("*/*");
        QTest::newRow("limit zero, counted") << QByteArray("limit=0") << true << 206 << QByteArray("*/10");
        QTest::newRow("on site today")
            << QByteArray("select=id&limit=1&signed_out_at=is.null") << true << 206 << QByteArray("0-0/6");
    }

    void contentRange() {
        QFETCH(QByteArray, query);
        QFETCH(bool, count);
        QFETCH(int, status);
        QFETCH(QByteArray, range);
        for (const QByteArray &method : {QByteArray("GET"), QByteArray("HEAD")}) {
            const HttpResponse response =
                fx().call(method, "visitors?" + query, m_token, {}, count ? "count=exact" : QByteArray());
            QCOMPARE(response.status, status);
            QCOMPARE(response.header("Content-Range"), range);
            QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        }
    }

    void errors_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // exact, or a prefix ending in "…"
        const QByteArray none;
        QTest::newRow("unknown table")
            << QByteArray("GET") << QByteArray("bananas") << none << 404 << "PGRST205"
            << "Could not find the table 'public.bananas' in the schema cache";
        QTest::newRow("unknown select")
            << QByteArray("GET") << QByteArray("visitors?select=id,banana") << none << 400 << "42703"
            << "column visitors.banana does not exist";
        QTest::newRow("unknown filter")
            << QByteArray("GET") << QByteArray("visitors?banana=eq.1") << none << 400 << "42703"
            << "column visitors.banana does not exist";
        QTest::newRow("unknown order")
            << QByteArray("GET") << QByteArray("visitors?order=banana.desc") << none << 400 << "42703"
            << "column visitors.banana does not exist";
        QTest::newRow("search text unreadable")
            << QByteArray("GET") << QByteArray("visitors?select=search_text") << none << 400 << "42703"
            << "column visitors.search_text does not exist";
        QTest::newRow("no operator") << QByteArray("GET") << QByteArray("visitors?id=0") << none << 400
                                     << "PGRST100"
                                     << "\"failed to parse filter (0)\" (line 1, column 1)";
        QTest::newRow("unknown operator")
            << QByteArray("GET") << QByteArray("visitors?id=foo.bar") << none << 400 << "PGRST100"
            << "\"failed to parse filter (foo.bar)\"…";
        QTest::newRow("bad is") << QByteArray("GET") << QByteArray("visitors?signed_out_at=is.maybe") << none
                                << 400 << "PGRST100"
                                << "\"failed to parse filter (is.maybe)\"…";
        QTest::newRow("in without parentheses")
            << QByteArray("GET") << QByteArray("visitors?visitor_name=in.a,b") << none << 400 << "PGRST100"
            << "\"failed to parse filter (in.a,b)\"…";
        QTest::newRow("bad order") << QByteArray("GET") << QByteArray("visitors?order=id.sideways") << none
                                   << 400 << "PGRST100"
                                   << "\"failed to parse order (id.sideways)\"…";
        QTest::newRow("embedding") << QByteArray("GET") << QByteArray("visitors?select=id,hosts(*)") << none
                                   << 400 << "PGRST200"
                                   << "Could not find a relationship between 'visitors' and 'hosts'…";
        QTest::newRow("logic tree") << QByteArray("GET") << QByteArray("visitors?or=(id.eq.1)") << none << 400
                                    << "PGRST100"
                                    << "\"failed to parse logic tree…";
        QTest::newRow("bad uuid") << QByteArray("GET") << QByteArray("visitors?id=eq.123") << none << 400
                                  << "22P02"
                                  << "invalid input syntax for type uuid: \"123\"";
        QTest::newRow("bad timestamp")
            << QByteArray("GET") << QByteArray("visitors?signed_in_at=gte.yesterday") << none << 400
            << "22007"
            << "invalid input syntax for type timestamp with time zone: \"yesterday\"";
        QTest::newRow("month 13") << QByteArray("GET") << QByteArray("visitors?signed_in_at=gte.2025-13-01")
                                  << none << 400 << "22008"
                                  << "date/time field value out of range: \"2025-13-01\"";
        QTest::newRow("like on uuid")
            << QByteArray("GET") << QByteArray("visitors?id=like.*1") << none << 404 << "42883"
            << "operator does not exist: uuid ~~ unknown";
        QTest::newRow("eq on jsonb") << QByteArray("GET") << QByteArray("visitors?answers=eq.[]") << none
                                     << 404 << "42883"
                                     << "operator does not exist: jsonb = unknown";
        QTest::newRow("is true on text")
            << QByteArray("GET") << QByteArray("visitors?host_name=is.true") << none << 400 << "42804"
            << "argument of IS TRUE must be type boolean, not type text";
        QTest::newRow("lone escape") << QByteArray("GET") << QByteArray("visitors?visitor_name=like.abc%5C")
                                     << none << 400 << "22025"
                                     << "LIKE pattern must not end with escape character";
        QTest::newRow("NUL in a value")
            << QByteArray("GET") << QByteArray("visitors?visitor_name=eq.a%00b") << none << 400 << "22021"
            << "invalid byte sequence for encoding \"UTF8\"";
        QTest::newRow("negative limit")
            << QByteArray("GET") << QByteArray("visitors?limit=-1") << none << 416 << "PGRST103"
            << "Requested range not satisfiable";
        QTest::newRow("nested path") << QByteArray("GET") << QByteArray("visitors/1") << none << 404
                                     << "PGRST125"
                                     << "Invalid path specified in request URL";
        QTest::newRow("unsupported method")
            << QByteArray("PUT") << QByteArray("visitors") << none << 405 << "PGRST117"
            << "Unsupported HTTP method: PUT";
        QTest::newRow("invalid json") << QByteArray("POST") << QByteArray("visitors")
                                      << QByteArray("{\"visitor_name\":") << 400 << "PGRST102"
                                      << "Empty or invalid json";
        QTest::newRow("empty body") << QByteArray("POST") << QByteArray("visitors") << none << 400
                                    << "PGRST102"
                                    << "Empty or invalid json";
        QTest::newRow("scalar body") << QByteArray("POST") << QByteArray("visitors") << QByteArray("[1]")
                                     << 400 << "PGRST102"
                                     << "Empty or invalid json";
        QTest::newRow("keys differ") << QByteArray("POST") << QByteArray("visitors")
                                     << QByteArray("[{\"visitor_name\":\"a\"},{\"host_name\":\"b\"}]") << 400
                                     << "PGRST102"
                                     << "All object keys must match";
        QTest::newRow("unknown key")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("{\"visitor_name\":\"a\",\"banana\":1}") << 400 << "PGRST204"
            << "Could not find the 'banana' column of 'visitors' in the schema cache";
        QTest::newRow("search text is the server's")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("{\"visitor_name\":\"a\",\"search_text\":\"x\"}") << 400 << "PGRST204"
            << "Could not find the 'search_text' column of 'visitors' in the "
               "schema cache";
        QTest::newRow("number for text")
            << QByteArray("POST") << QByteArray("visitors") << QByteArray("{\"visitor_name\":5}") << 400
            << "42804"
            << "column \"visitor_name\" is of type text but expression is of type number";
        QTest::newRow("bad uuid in body")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("{\"visitor_name\":\"a\",\"id\":\"nope\"}") << 400 << "22P02"
            << "invalid input syntax for type uuid: \"nope\"";
        QTest::newRow("bad time in body")
            << QByteArray("PATCH")
            << QByteArray("visitors?id=eq.00000000-0000-4000-"
                          "8000-000000000001")
            << QByteArray("{\"signed_out_at\":\"soon\"}") << 400 << "22007"
            << "invalid input syntax for type timestamp with time zone: \"soon\"";
        QTest::newRow("answers not a list")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("{\"visitor_name\":\"a\",\"answers\":{}}") << 400 << "23514"
            << "new row for relation \"visitors\" violates check constraint "
               "\"visitors_answers_check\"";
        QTest::newRow("NUL in body") << QByteArray("POST") << QByteArray("visitors")
                                     << QByteArray("{\"visitor_name\":\"a\\u0000b\"}") << 400 << "22P05"
                                     << "unsupported Unicode escape sequence";
        QTest::newRow("name missing")
            << QByteArray("POST") << QByteArray("visitors") << QByteArray("{\"host_name\":\"a\"}") << 400
            << "23502"
            << "null value in column \"visitor_name\" of relation \"visitors\" violates "
               "not-null constraint";
        QTest::newRow("null into not null")
            << QByteArray("PATCH") << QByteArray("visitors?visitor_name=eq.Ann%20Lee")
            << QByteArray("{\"visitor_name\":null}") << 400 << "23502"
            << "null value in column \"visitor_name\" of relation \"visitors\" "
               "violates not-null constraint";
        QTest::newRow("duplicate id")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("{\"visitor_name\":\"a\",\"id\":\"00000000-0000-4000-8000-000000000001\"}") << 409
            << "23505"
            << "duplicate key value violates unique constraint \"visitors_pkey\"";
        QTest::newRow("on_conflict unknown")
            << QByteArray("POST") << QByteArray("visitors?on_conflict=banana")
            << QByteArray("{\"visitor_name\":\"a\"}") << 400 << "42703"
            << "column visitors.banana does not exist";
        QTest::newRow("on_conflict not unique")
            << QByteArray("POST") << QByteArray("visitors?on_conflict=host_name")
            << QByteArray("{\"visitor_name\":\"a\"}") << 400 << "42P10"
            << "there is no unique or exclusion constraint matching the ON CONFLICT columns";
        QTest::newRow("update everything") << QByteArray("PATCH") << QByteArray("visitors")
                                           << QByteArray("{\"list_name\":\"x\"}") << 400 << "21000"
                                           << "UPDATE requires a WHERE clause";
        QTest::newRow("update with only a limit") << QByteArray("PATCH") << QByteArray("visitors?limit=1")
                                                  << QByteArray("{\"list_name\":\"x\"}") << 400 << "21000"
                                                  << "UPDATE requires a WHERE clause";
        QTest::newRow("delete everything")
            << QByteArray("DELETE") << QByteArray("invites") << none << 400 << "21000"
            << "DELETE requires a WHERE clause";
        QTest::newRow("unknown function")
            << QByteArray("POST") << QByteArray("rpc/drop_everything") << none << 404 << "PGRST202"
            << "Could not find the function public.drop_everything without parameters "
               "in the schema cache";
        QTest::newRow("function arguments")
            << QByteArray("POST") << QByteArray("rpc/delete_account") << QByteArray("{\"user_id\":\"x\"}")
            << 404 << "PGRST202"
            << "Could not find the function public.delete_account(user_id) in the "
               "schema cache";
        QTest::newRow("function by GET")
            << QByteArray("GET") << QByteArray("rpc/delete_account") << none << 405 << "PGRST101"
            << "Cannot use the GET method on RPC";
    }

    void errors() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const qint64 visitorsBefore = fx().rowCount("visitors");
        const HttpResponse response = fx().call(method, target, m_token, body);
        QCOMPARE(response.status, status);
        QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        const QJsonObject error = errorOf(response);
        QCOMPARE(error.keys(), QStringList({u"code"_s, u"details"_s, u"hint"_s, u"message"_s}));
        QCOMPARE(error.value(u"code").toString(), code);
        if (message.endsWith(u'…')) {
            QVERIFY2(error.value(u"message").toString().startsWith(message.chopped(1)),
                     response.body.constData());
        } else {
            QCOMPARE(error.value(u"message").toString(), message);
        }
        QCOMPARE(fx().rowCount("visitors"), visitorsBefore);
    }

    void jwtExpiredHeader() {
        const HttpResponse response = fx().call("GET", "visitors", fx().token(m_user, -10));
        QCOMPARE(response.status, 401);
        QCOMPARE(errorOf(response).value(u"code").toString(), u"PGRST303"_s);
        QCOMPARE(errorOf(response).value(u"message").toString(), u"JWT expired"_s);
        QCOMPARE(response.header("WWW-Authenticate"),
                 QByteArray("Bearer error=\"invalid_token\", error_description=\"JWT expired\""));
    }

    // What the desk's insertVisitor sends, and the row it reads back: keys in select order, Postgres
    // timestamps, JSON answers, null host.
    void insertLikeTheDesk() {
        const QByteArray body =
            "{\"owner_id\":\"" + m_user.toUpper().toUtf8() +
            "\",\"device_record_id\":\"rec-1\",\"visitor_name\":\"Desk Guest\",\"host_name\":null,"
            "\"answers\":[{\"label\":\"Badge\",\"value\":\"B-12\"}],\"signed_in_at\":\"2025-03-04T09:05:"
            "00Z\","
            "\"device_name\":\"Front desk\"}";
        const HttpResponse response = fx().call("POST",
                                                "visitors?select=id,visitor_name,host_name,answers,signed_in_"
                                                "at,signed_out_at,list_name,device_name",
                                                m_token, body, "return=representation");
        QCOMPARE(response.status, 201);
        QCOMPARE(response.header("Content-Range"), QByteArray("*/*"));
        static const QRegularExpression shape(QString::fromLatin1(
            "^\\[\\{\"id\":\"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\",\"visitor_"
            "name\":\"Desk Guest\","
            "\"host_name\":null,\"answers\":\\[\\{\"label\":\"Badge\",\"value\":\"B-12\"\\}\\],"
            "\"signed_in_at\":\"2025-03-04T09:05:00(\\.0+)?\\+00:00\",\"signed_out_at\":null,\"list_name\":"
            "null,"
            "\"device_name\":\"Front desk\"\\}\\]$"));
        QVERIFY2(shape.match(QString::fromUtf8(response.body)).hasMatch(), response.body.constData());
        QCOMPARE(fx().names(m_token, "search_text=ilike.*b-12*"), QByteArray("Desk Guest"));

        const QByteArray id = QJsonDocument::fromJson(response.body)[0][u"id"].toString().toUtf8();
        // The desk's sign-out: the changed rows come back, so a visitor signed out elsewhere gives none.
        const QByteArray target = "visitors?id=eq." + id + "&signed_out_at=is.null&select=id";
        const HttpResponse first =
            fx().call("PATCH", target, m_token, "{\"signed_out_at\":\"2025-03-04T10:00:00Z\"}",
                      "return=representation");
        QCOMPARE(first.status, 200);
        QCOMPARE(first.header("Content-Range"), QByteArray("0-0/*"));
        QCOMPARE(first.body, "[{\"id\":\"" + id + "\"}]");
        const HttpResponse again =
            fx().call("PATCH", target, m_token, "{\"signed_out_at\":\"2025-03-04T11:00:00Z\"}",
                      "return=representation");
        QCOMPARE(again.status, 200);
        QCOMPARE(again.header("Content-Range"), QByteArray("*/*"));
        QCOMPARE(again.body, QByteArray("[]"));
        QCOMPARE(fx().names(m_token, "id=eq." + id, "signed_out_at"),
                 QByteArray("2025-03-04T10:00:00.000000+00:00"));

        const HttpResponse renamed =
            fx().call("PATCH", "visitors?id=eq." + id + "&select=visitor_name", m_token,
                      "{\"visitor_name\":\"Renamed Guest\"}", "return=representation");
        QCOMPARE(renamed.status, 200);
        QCOMPARE(renamed.body, QByteArray("[{\"visitor_name\":\"Renamed Guest\"}]"));
        QCOMPARE(fx().names(m_token, "search_text=ilike.*desk%20guest*"), QByteArray());
        QCOMPARE(fx().names(m_token, "search_text=ilike.*renamed*"), QByteArray("Renamed Guest"));

        const HttpResponse removed = fx().call("DELETE", "visitors?id=eq." + id + "&select=visitor_name",
                                               m_token, {}, "return=representation");
        QCOMPARE(removed.status, 200);
        QCOMPARE(removed.body, QByteArray("[{\"visitor_name\":\"Renamed Guest\"}]"));
        QCOMPARE(fx().names(m_token, "search_text=ilike.*renamed*"), QByteArray());
    }

    void insertMany() {
        const HttpResponse response = fx().call("POST", "visitors?select=visitor_name,list_name", m_token,
                                                "[{\"visitor_name\":\"First\",\"list_name\":\"L\"},"
                                                "{\"visitor_name\":\"Second\",\"list_name\":null}]",
                                                "return=representation");
        QCOMPARE(response.status, 201);
        QCOMPARE(response.body, QByteArray("[{\"visitor_name\":\"First\",\"list_name\":\"L\"},{\"visitor_"
                                           "name\":\"Second\",\"list_name\":null}]"));
        const HttpResponse minimal = fx().call("POST", "visitors", m_token, "[]");
        QCOMPARE(minimal.status, 201);
        QVERIFY(minimal.body.isEmpty());
        QCOMPARE(fx().call("DELETE", "visitors?visitor_name=in.(First,Second)", m_token).status, 204);
        QCOMPARE(fx().names(m_token, "visitor_name=in.(First,Second)"), QByteArray());
    }

    // The desk's settings save: insert the first time (201), merge only the sent columns afterwards (200); a
    // null clears.
    void upsertSettings() {
        const QByteArray prefer = "resolution=merge-duplicates,return=minimal";
        const QByteArray owner = m_user.toUtf8();
        const HttpResponse created =
            fx().call("POST", "kiosk_settings?on_conflict=owner_id", m_token,
                      "{\"owner_id\":\"" + owner +
                          "\",\"fields\":[{\"slot\":0,\"label\":\"Name\"}],\"employees\":[\"Ann\"],"
                          "\"place_name\":\"Lobby\"}",
                      prefer);
        QCOMPARE(created.status, 201);
        QVERIFY(created.body.isEmpty());
        const HttpResponse merged = fx().call(
            "POST", "kiosk_settings?on_conflict=owner_id", m_token,
            "{\"owner_id\":\"" + owner + "\",\"employees\":[\"Ann\",\"Bo\"],\"place_name\":null}", prefer);
        QCOMPARE(merged.status, 200);
        const HttpResponse read =
            fx().call("GET", "kiosk_settings?select=fields,employees,place_name", m_token);
        QCOMPARE(read.body, QByteArray("[{\"fields\":[{\"label\":\"Name\",\"slot\":0}],\"employees\":["
                                       "\"Ann\",\"Bo\"],\"place_name\":null}]"));

        const HttpResponse alerts =
            fx().call("POST", "notification_settings?on_conflict=owner_id", m_token,
                      "{\"owner_id\":\"" + owner +
                          "\",\"office_webhook\":\"hook-office\",\"notify_sign_in\":false,"
                          "\"notify_sign_out\":true,\"employee_webhooks\":{\"Ann\":\"hook-ann\"}}",
                      prefer);
        QCOMPARE(alerts.status, 201);
        const QByteArray select =
            "notification_settings?select=office_webhook,notify_sign_in,notify_sign_out,"
            "employee_webhooks";
        QCOMPARE(fx().call("GET", select, m_token).body,
                 QByteArray("[{\"office_webhook\":\"hook-office\",\"notify_sign_in\":false,"
                            "\"notify_sign_out\":true,\"employee_webhooks\":{\"Ann\":\"hook-ann\"}}]"));
        QCOMPARE(fx().call("GET", select + "&notify_sign_out=is.true", m_token).body.count("office_webhook"),
                 1);
        QCOMPARE(fx().call("GET", select + "&notify_sign_in=eq.true", m_token).body, QByteArray("[]"));
        const HttpResponse flipped =
            fx().call("POST", "notification_settings?on_conflict=owner_id&select=notify_sign_in", m_token,
                      "{\"owner_id\":\"" + owner + "\",\"notify_sign_in\":\"yes\"}",
                      "resolution=merge-duplicates,return=representation");
        QCOMPARE(flipped.status, 200);
        QCOMPARE(flipped.body, QByteArray("[{\"notify_sign_in\":true}]"));
    }

    void singleObject_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected"); // the object, or the 406's details

        const QByteArray bob = "id=eq.00000000-0000-4000-8000-000000000002&select=visitor_name";
        QTest::newRow("read one") << QByteArray("GET") << "visitors?" + bob << QByteArray() << 200
                                  << QByteArray("{\"visitor_name\":\"Bob Stone\"}");
        QTest::newRow("read none") << QByteArray("GET") << QByteArray("visitors?visitor_name=eq.Nobody")
                                   << QByteArray() << 406 << QByteArray("The result contains 0 rows");
        QTest::newRow("read several") << QByteArray("GET") << QByteArray("visitors?host_name=eq.Tom")
                                      << QByteArray() << 406 << QByteArray("The result contains 3 rows");
        QTest::newRow("update one") << QByteArray("PATCH") << "visitors?" + bob
                                    << QByteArray("{\"list_name\":null}") << 200
                                    << QByteArray("{\"visitor_name\":\"Bob Stone\"}");
        QTest::newRow("update several is undone")
            << QByteArray("PATCH") << QByteArray("visitors?host_name=eq.Tom")
            << QByteArray("{\"list_name\":\"X\"}") << 406 << QByteArray("The result contains 3 rows");
        QTest::newRow("update none") << QByteArray("PATCH") << QByteArray("visitors?visitor_name=eq.Nobody")
                                     << QByteArray("{\"list_name\":\"X\"}") << 406
                                     << QByteArray("The result contains 0 rows");
        QTest::newRow("insert several is undone")
            << QByteArray("POST") << QByteArray("visitors")
            << QByteArray("[{\"visitor_name\":\"One\"},{\"visitor_name\":\"Two\"}]") << 406
            << QByteArray("The result contains 2 rows");
        QTest::newRow("delete several is undone")
            << QByteArray("DELETE") << QByteArray("visitors?host_name=eq.Tom") << QByteArray() << 406
            << QByteArray("The result contains 3 rows");
    }

    // Accept: application/vnd.pgrst.object+json answers the one row itself; any other count is refused and
    // a write undone.
    void singleObject() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        const QByteArray everything = fx().call("GET", "visitors?order=id", m_token).body;
        const HttpResponse response = fx().call(method, target, m_token, body, "return=representation",
                                                "application/vnd.pgrst.object+json");
        QCOMPARE(response.status, status);
        if (status == 406) {
            QCOMPARE(response.body,
                     "{\"code\":\"PGRST116\",\"details\":\"" + expected +
                         "\",\"hint\":null,\"message\":\"JSON object requested, multiple (or no) "
                         "rows returned\"}");
            QCOMPARE(fx().call("GET", "visitors?order=id", m_token).body, everything);
        } else {
            QCOMPARE(response.body, expected);
            QCOMPARE(response.header("Content-Type"),
                     QByteArray("application/vnd.pgrst.object+json; charset=utf-8"));
        }
    }

    void invites() {
        InviteStore store(fx().app().context());
        NewInviteRecord record;
        record.visitorName = QStringLiteral("Guest One");
        record.visitorEmail = QStringLiteral("guest@example.com");
        record.answers = QJsonArray{QJsonObject{{u"slot"_s, 1}, {u"value"_s, u"Acme"_s}}};
        record.visitDate = QStringLiteral("2025-03-10");
        const InviteRecord created = store.create(m_user, record);
        QVERIFY(store.findByToken(created.token).has_value());
        QCOMPARE(store.find(m_user, created.id.toUpper())->visitorEmail, record.visitorEmail);

        const QByteArray select =
            "invites?select=id,token,visitor_name,visitor_email,answers,visit_date,visit_time,"
            "note,created_at,used_at&order=created_at.desc&limit=50";
        const HttpResponse listed = fx().call("GET", select + "&used_at=is.null", m_token);
        QCOMPARE(listed.status, 200);
        const QJsonObject row = QJsonDocument::fromJson(listed.body)[0].toObject();
        QCOMPARE(row, created.toJson());
        const QByteArray id = created.id.toUtf8();
        QCOMPARE(fx().call("PATCH", "invites?id=eq." + id, m_token, "{\"used_at\":\"2025-03-10T09:00:00Z\"}",
                           "return=minimal")
                     .status,
                 204);
        QCOMPARE(fx().call("GET", select + "&used_at=is.null", m_token).body, QByteArray("[]"));
        QCOMPARE(store.findByToken(created.token)->usedAt, u"2025-03-10T09:00:00.000000+00:00"_s);
        QCOMPARE(fx().call("DELETE", "invites?id=eq." + id, m_token).status, 204);
        QCOMPARE(fx().call("DELETE", "invites?id=eq." + id, m_token).status, 204); // gone already: no error
        QVERIFY(!store.findByToken(created.token).has_value());
    }

    void deleteAccount() {
        const QString user = fx().createUser(QStringLiteral("leaving@example.com"));
        const QByteArray token = fx().token(user);
        QCOMPARE(fx().call("POST", "visitors", token, "{\"visitor_name\":\"Leaving Guest\"}").status, 201);
        QCOMPARE(fx().call("POST", "kiosk_settings", token, "{\"employees\":[\"X\"]}").status, 201);
        const qint64 others = fx().rowCount("visitors") - 1;
        QCOMPARE(fx().call("POST", "rpc/delete_account", {}, "{}").status, 401);
        const HttpResponse deleted = fx().call("POST", "rpc/delete_account", token, "{}");
        QCOMPARE(deleted.status, 204);
        QVERIFY(deleted.body.isEmpty());
        QCOMPARE(fx().rowCount("visitors"), others);
        QCOMPARE(fx().rowCount("kiosk_settings"), 1); // the main account's
        Statement users = fx().db().prepare("SELECT count(*) FROM users WHERE id = ?");
        users.bind(1, user);
        users.step();
        QCOMPARE(users.integer(0), 0);
        // The search index forgot the rows too, and the token (still unexpired) reads nothing.
        Statement index =
            fx().db().prepare("SELECT count(*) FROM visitors_search WHERE visitors_search MATCH "
                              "'\"leaving guest\"'");
        index.step();
        QCOMPARE(index.integer(0), 0);
        QCOMPARE(fx().call("GET", "visitors", token).body, QByteArray("[]"));
        QCOMPARE(fx().call("POST", "rpc/delete_account", token).status, 204);
    }
};

QTEST_GUILESS_MAIN(TestServerRest)
#include "tst_server_rest.moc"
