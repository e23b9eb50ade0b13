#include "cloud/CloudClient.h"
#include "records/Timestamps.h"
#include "support/CloudFixture.h"
#include "support/TaskOutcome.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

#include <functional>
#include <limits>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

using Operation = std::function<QCoro::Task<void>(CloudClient &)>;

namespace {

const QUuid owner(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid visitorID(u"ABCDEF01-2345-4678-9ABC-DEF012345678"_s);
const QByteArray columns =
    "id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,device_name";
const QByteArray inviteColumnsWire =
    "id,token,visitor_name,visitor_email,answers,visit_date,visit_time,note,created_at,used_at";

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0) {
    return {QDate(y, mo, d), QTime(h, mi), Qt::UTC};
}

QJsonObject visitorJson(int n) {
    return QJsonObject{
        {u"id"_s, QUuid::createUuidV5(owner, QString::number(n)).toString(QUuid::WithoutBraces)},
        {u"visitor_name"_s, u"Visitor %1"_s.arg(n)},
        {u"signed_in_at"_s, u"2025-03-04T09:05:12.123456+00:00"_s}};
}

QByteArray rowsJson(int first, int count) {
    QJsonArray rows;
    for (int n = first; n < first + count; ++n) {
        rows.append(visitorJson(n));
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

// Each kind of request gets a plausible success, as the hosted service would answer it.
ScriptedAnswer plausibleAnswer(const RecordedRequest &request) {
    if (request.path.startsWith("/site/")) {
        return ScriptedAnswer::json(200, R"({"ok":true})");
    }
    if (request.method == "POST") {
        return ScriptedAnswer::json(201, rowsJson(0, 1));
    }
    if (request.method == "PATCH" || request.method == "DELETE") {
        return ScriptedAnswer::json(204, {});
    }
    return ScriptedAnswer::json(200, "[]", {{"Content-Range", "*/0"}});
}

template<class T>
Operation discarding(std::function<QCoro::Task<T>(CloudClient &)> call) {
    return [call](CloudClient &client) -> QCoro::Task<void> { co_await call(client); };
}

} // namespace

class TestCloudEndpoints : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void requestsAreExact_data();
    void requestsAreExact();
    void countsReadContentRange_data();
    void countsReadContentRange();
    void deskCountsAskThreeAtOnceFromSunday_data();
    void deskCountsAskThreeAtOnceFromSunday();
    void aFailingCountCancelsTheOthers();
    void exportPagesUntilAShortPage_data();
    void exportPagesUntilAShortPage();
    void aFailingPageFailsTheExport();
    void answersThatDoNotFit_data();
    void answersThatDoNotFit();
    void oddButValidRowsDecode();
    void setupRecordsMayBeMissing();

private:
    std::optional<CloudFixture> m_f;
};

void TestCloudEndpoints::init() {
    m_f.emplace();
    m_f->makeClient(m_f->sessionExpiringIn(3600, owner, u"1"_s));
}

void TestCloudEndpoints::cleanup() {
    m_f.reset();
}

void TestCloudEndpoints::requestsAreExact_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("prefer");
    QTest::addColumn<QByteArray>("body");

    const auto page = [](VisitorQuery query, int limit = 50, int offset = 0) {
        return discarding<QList<VisitorRow>>(
            [=](CloudClient &c) { return c.visitorPage(query, limit, offset); });
    };
    const QByteArray visitors = "/rest/v1/visitors?select=" + columns + "&order=signed_in_at.desc,id.desc";

    QTest::newRow("on site") << discarding<QList<VisitorRow>>([](CloudClient &c) {
        return c.onSiteVisitors();
    }) << QByteArray("GET") << visitors + "&signed_out_at=is.null&limit=500"
                             << QByteArray() << QByteArray();
    QTest::newRow("page of an empty query adds no filter")
        << page({}, 50, 100) << QByteArray("GET") << visitors + "&limit=50&offset=100" << QByteArray()
        << QByteArray();
    QTest::newRow("a search of spaces adds no filter")
        << page({u" \t \n"_s, {}, {}}) << QByteArray("GET") << visitors + "&limit=50&offset=0" << QByteArray()
        << QByteArray();
    QTest::newRow("dates then search, underscore escaped and lower-cased")
        << page({u"  Ann_Lee "_s, utc(2025, 3, 1), utc(2025, 3, 2)}) << QByteArray("GET")
        << visitors + "&signed_in_at=gte.2025-03-01T00:00:00Z&signed_in_at=lt.2025-03-02T00:00:00Z"
                      "&search_text=ilike.%25ann%5C_lee%25&limit=50&offset=0"
        << QByteArray() << QByteArray();
    QTest::newRow("plus arrives as a plus")
        << page({u"a+b"_s, {}, {}}) << QByteArray("GET")
        << visitors + "&search_text=ilike.%25a%2Bb%25&limit=50&offset=0" << QByteArray() << QByteArray();
    QTest::newRow("percent, underscore and backslash escaped")
        << page({u"50%_off C:\\tmp"_s, {}, {}}) << QByteArray("GET")
        << visitors + "&search_text=ilike.%2550%5C%25%5C_off%20c:%5C%5Ctmp%25&limit=50&offset=0"
        << QByteArray() << QByteArray();
    QTest::newRow("non-ASCII lower-cased and encoded")
        << page({u"\u0141ukasz Zo\u00cb"_s, {}, {}}) << QByteArray("GET")
        << visitors + "&search_text=ilike.%25%C5%82ukasz%20zo%C3%AB%25&limit=50&offset=0" << QByteArray()
        << QByteArray();
    QTest::newRow("count asks for one id") << discarding<int>([](CloudClient &c) {
        return c.countVisitors({{u"signed_out_at"_s, u"is.null"_s}});
    }) << QByteArray("GET") << QByteArray("/rest/v1/visitors?select=id&limit=1&signed_out_at=is.null")
                                           << QByteArray("count=exact") << QByteArray();

    NewVisitor visitor{owner,
                       u"7D3F0E2A-1111-4222-8333-944455556666"_s,
                       u"Zo\u00eb Lee"_s,
                       std::nullopt,
                       {},
                       utc(2025, 3, 4, 9, 5),
                       u"Front Desk"_s};
    QTest::newRow("insert returns the stored row")
        << discarding<VisitorRow>([visitor](CloudClient &c) { return c.insertVisitor(visitor); })
        << QByteArray("POST") << "/rest/v1/visitors?select=" + columns << QByteArray("return=representation")
        << QJsonDocument(visitor.toJson()).toJson(QJsonDocument::Compact);
    QTest::newRow("sign-out keeps an earlier time")
        << discarding<bool>(
               [](CloudClient &c) { return c.signOutVisitor(visitorID, utc(2025, 3, 4, 17, 30)); })
        << QByteArray("PATCH")
        << QByteArray(
               "/rest/v1/visitors?id=eq.abcdef01-2345-4678-9abc-def012345678&signed_out_at=is.null&select=id")
        << QByteArray("return=representation") << QByteArray(R"({"signed_out_at":"2025-03-04T17:30:00Z"})");
    QTest::newRow("kiosk settings") << discarding<std::optional<KioskSettings>>([](CloudClient &c) {
        return c.loadKioskSettings();
    }) << QByteArray("GET") << QByteArray("/rest/v1/kiosk_settings?select=fields,employees,place_name")
                                    << QByteArray() << QByteArray();
    QTest::newRow("notification settings")
        << discarding<std::optional<NotificationSettings>>(
               [](CloudClient &c) { return c.loadNotificationSettings(); })
        << QByteArray("GET")
        << QByteArray("/rest/v1/notification_settings?select=office_webhook,notify_sign_in,notify_sign_out,"
                      "employee_webhooks")
        << QByteArray() << QByteArray();
    QTest::newRow("pending invites end with the used_at filter")
        << discarding<QList<Invite>>([](CloudClient &c) { return c.loadInvites(true, 200); })
        << QByteArray("GET")
        << "/rest/v1/invites?select=" + inviteColumnsWire + "&order=created_at.desc&limit=200&used_at=is.null"
        << QByteArray() << QByteArray();
    QTest::newRow("all invites") << discarding<QList<Invite>>([](CloudClient &c) {
        return c.loadInvites(false, 50);
    }) << QByteArray("GET")
                                 << "/rest/v1/invites?select=" + inviteColumnsWire +
                                        "&order=created_at.desc&limit=50"
                                 << QByteArray() << QByteArray();
    QTest::newRow("delete invite") << Operation([](CloudClient &c) {
        return c.deleteInvite(visitorID);
    }) << QByteArray("DELETE") << QByteArray("/rest/v1/invites?id=eq.abcdef01-2345-4678-9abc-def012345678")
                                   << QByteArray() << QByteArray();
    QTest::newRow("mark invite used")
        << Operation([](CloudClient &c) { return c.markInviteUsed(visitorID, utc(2025, 3, 4, 9, 5)); })
        << QByteArray("PATCH") << QByteArray("/rest/v1/invites?id=eq.abcdef01-2345-4678-9abc-def012345678")
        << QByteArray("return=minimal") << QByteArray(R"({"used_at":"2025-03-04T09:05:00Z"})");

    NewInvite invite{{{0, u"Ann Lee"_s}, {2, u"Acme"_s}},
                     u"ann@example.com"_s,
                     u"2025-03-05"_s,
                     std::nullopt,
                     std::nullopt};
    QTest::newRow("create invite on the website")
        << Operation([invite](CloudClient &c) { return c.createInvite(invite); }) << QByteArray("POST")
        << QByteArray("/site/api/invites") << QByteArray()
        << QJsonDocument(invite.toJson()).toJson(QJsonDocument::Compact);
    QTest::newRow("resend uses the lower-case id")
        << Operation([](CloudClient &c) { return c.resendInvite(visitorID); }) << QByteArray("POST")
        << QByteArray("/site/api/invites/abcdef01-2345-4678-9abc-def012345678/resend") << QByteArray()
        << QByteArray();
}

void TestCloudEndpoints::requestsAreExact() {
    QFETCH(Operation, operation);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, prefer);
    QFETCH(QByteArray, body);

    m_f->server->setHandler(plausibleAnswer);
    const auto outcome = awaitTask(operation(*m_f->client));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(m_f->server->requestCount(), 1);
    const RecordedRequest sent = m_f->server->requests().constFirst();
    QCOMPARE(sent.method, method);
    QCOMPARE(sent.path + (sent.rawQuery.isEmpty() ? QByteArray() : '?' + sent.rawQuery), target);
    QCOMPARE(sent.header("Prefer"), prefer);
    QCOMPARE(sent.body, body);

    QList<QByteArray> names;
    for (const auto &[name, value] : sent.headers) {
        if (QList<QByteArray>{"Content-Type", "apikey", "Authorization", "Prefer"}.contains(name)) {
            names.append(name);
        }
    }
    QList<QByteArray> expected{"Content-Type", "apikey", "Authorization"};
    if (!prefer.isEmpty()) {
        expected.append("Prefer");
    }
    QCOMPARE(names, expected);
    QCOMPARE(sent.header("Authorization"), QByteArray("Bearer access-1"));
}

void TestCloudEndpoints::countsReadContentRange_data() {
    QTest::addColumn<HeaderList>("headers");
    QTest::addColumn<int>("total");
    QTest::newRow("nothing matched") << HeaderList{{"Content-Range", "*/0"}} << 0;
    QTest::newRow("one of 1234") << HeaderList{{"Content-Range", "0-0/1234"}} << 1234;
    QTest::newRow("no header") << HeaderList{} << 0;
    QTest::newRow("total unknown") << HeaderList{{"Content-Range", "0-0/*"}} << 0;
    QTest::newRow("nothing after the slash") << HeaderList{{"Content-Range", "0-0/"}} << 0;
    QTest::newRow("garbage") << HeaderList{{"Content-Range", "lots"}} << 0;
    QTest::newRow("negative") << HeaderList{{"Content-Range", "0-0/-5"}} << 0;
    QTest::newRow("beyond int") << HeaderList{{"Content-Range", "0-0/99999999999999999999"}}
                                << std::numeric_limits<int>::max();
}

void TestCloudEndpoints::countsReadContentRange() {
    QFETCH(HeaderList, headers);
    QFETCH(int, total);
    m_f->server->enqueue(ScriptedAnswer::json(206, R"([{"id":"x"}])", headers));
    const auto outcome = awaitTask(m_f->client->countVisitors({}));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(*outcome.value, total);
}

void TestCloudEndpoints::deskCountsAskThreeAtOnceFromSunday_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QByteArray>("dayStart");
    QTest::addColumn<QByteArray>("weekStart");
    const QTimeZone berlin("Europe/Berlin");
    QTest::newRow("Monday in Berlin")
        << QDateTime(QDate(2025, 3, 3), QTime(10, 0), berlin) << QByteArray("2025-03-02T23:00:00Z")
        << QByteArray("2025-03-01T23:00:00Z");
    QTest::newRow("Sunday starts its own week")
        << QDateTime(QDate(2025, 3, 2), QTime(0, 30), berlin) << QByteArray("2025-03-01T23:00:00Z")
        << QByteArray("2025-03-01T23:00:00Z");
    QTest::newRow("Saturday looks back six days, across the clock change")
        << QDateTime(QDate(2025, 4, 5), QTime(23, 59), berlin) << QByteArray("2025-04-04T22:00:00Z")
        << QByteArray("2025-03-29T23:00:00Z");
}

void TestCloudEndpoints::deskCountsAskThreeAtOnceFromSunday() {
    QFETCH(QDateTime, now);
    QFETCH(QByteArray, dayStart);
    QFETCH(QByteArray, weekStart);
    m_f->server->setHandler([](const RecordedRequest &request) {
        const QByteArray total =
            request.rawQuery.contains("signed_out_at") ? "3"
            : request.rawQuery.contains("gte.2025-03-01") || request.rawQuery.contains("gte.2025-03-29")
                ? "40"
                : "12";
        return ScriptedAnswer::json(206, "[]", {{"Content-Range", "0-0/" + total}})
            .delayedBy(std::chrono::milliseconds(150));
    });
    const auto outcome = start(m_f->client->deskCounts(now, QTimeZone("Europe/Berlin")));
    QTRY_COMPARE(m_f->server->requestCount(), 3);
    QVERIFY(!outcome->finished); // every request left before any answer came back
    QTRY_VERIFY(outcome->finished);
    QVERIFY2(outcome->succeeded(), qPrintable(outcome->errorText()));

    const auto requests = m_f->server->requests();
    QCOMPARE(requests[0].rawQuery, "select=id&limit=1&signed_in_at=gte." + dayStart);
    QCOMPARE(requests[1].rawQuery, QByteArray("select=id&limit=1&signed_out_at=is.null"));
    QCOMPARE(requests[2].rawQuery, "select=id&limit=1&signed_in_at=gte." + weekStart);
    const DeskCounts counts = *outcome->value;
    QCOMPARE(counts.onSite, 3);
    QCOMPARE(counts.thisWeek, 40);
    QCOMPARE(counts.today, dayStart == weekStart ? 40 : 12);
}

void TestCloudEndpoints::aFailingCountCancelsTheOthers() {
    m_f->makeClient(m_f->sessionExpiringIn(3600, owner, u"1"_s), std::chrono::seconds(20));
    m_f->server->setHandler([](const RecordedRequest &request) {
        // Today's count fails; the on-site and week counts would never answer.
        if (request.rawQuery.contains("gte.2025-03-04")) {
            return ScriptedAnswer::json(500, "<html>boom</html>").delayedBy(std::chrono::milliseconds(100));
        }
        return ScriptedAnswer::hang();
    });
    QElapsedTimer timer;
    timer.start();
    const auto outcome = awaitTask(
        m_f->client->deskCounts(QDateTime(QDate(2025, 3, 4), QTime(12, 0), Qt::UTC), QTimeZone::utc()));
    QCOMPARE(outcome.errorText(), u"The server answered 500."_s);
    QVERIFY(timer.elapsed() < 10'000);
    // The two hanging counts were aborted, not left running until their time-out.
    QCOMPARE(m_f->server->requestCount(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(m_f->server->openConnectionCount() <= 1, 3000);
}

void TestCloudEndpoints::exportPagesUntilAShortPage_data() {
    QTest::addColumn<int>("total");
    QTest::addColumn<QList<QByteArray>>("offsets");
    QTest::newRow("empty log") << 0 << QList<QByteArray>{"0"};
    QTest::newRow("one short page") << 999 << QList<QByteArray>{"0"};
    QTest::newRow("exactly one full page asks once more") << 1000 << QList<QByteArray>{"0", "1000"};
    QTest::newRow("two and a half pages") << 2500 << QList<QByteArray>{"0", "1000", "2000"};
}

void TestCloudEndpoints::exportPagesUntilAShortPage() {
    QFETCH(int, total);
    QFETCH(QList<QByteArray>, offsets);
    m_f->server->setHandler([total](const RecordedRequest &request) {
        const QUrlQuery query(QString::fromLatin1(request.rawQuery));
        const int offset = query.queryItemValue(u"offset"_s).toInt();
        const int limit = query.queryItemValue(u"limit"_s).toInt();
        return ScriptedAnswer::json(200, rowsJson(offset, std::max(0, std::min(limit, total - offset))));
    });
    const auto outcome = awaitTask(m_f->client->allVisitors({u"visitor"_s, {}, {}}));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(outcome.value->size(), total);
    if (total > 0) {
        QCOMPARE(outcome.value->constLast().visitorName, u"Visitor %1"_s.arg(total - 1));
    }
    QList<QByteArray> seenOffsets;
    for (const auto &request : m_f->server->requests()) {
        QVERIFY(request.rawQuery.contains("search_text=ilike.%25visitor%25&limit=1000&offset="));
        seenOffsets.append(request.rawQuery.mid(request.rawQuery.lastIndexOf('=') + 1));
    }
    QCOMPARE(seenOffsets, offsets);
}

void TestCloudEndpoints::aFailingPageFailsTheExport() {
    m_f->server->enqueue(ScriptedAnswer::json(200, rowsJson(0, 1000)));
    m_f->server->enqueue(ScriptedAnswer::json(
        500, R"({"code":"57014","message":"canceling statement due to statement timeout"})"));
    const auto outcome = awaitTask(m_f->client->allVisitors({}));
    QCOMPARE(outcome.errorText(), u"canceling statement due to statement timeout"_s);
    QCOMPARE(m_f->server->requestCount(), 2);

    // An export cancelled with its scope (the account changed) stops: no page of it lands anywhere.
    m_f->server->clearRequests();
    m_f->server->setHandler([](const RecordedRequest &) {
        return ScriptedAnswer::json(200, rowsJson(0, 1000)).delayedBy(std::chrono::milliseconds(50));
    });
    const auto scope = std::make_shared<RequestScope>();
    connect(m_f->server.get(), &ScriptedHttpServer::requestReceived, this, [scope] { scope->abort(); });
    QVERIFY(!awaitTask(m_f->client->allVisitors({}, scope)).succeeded());
    QCOMPARE(m_f->server->requestCount(), 1);
}

void TestCloudEndpoints::answersThatDoNotFit_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<QString>("text");

    const Operation insert = discarding<VisitorRow>([](CloudClient &c) {
        return c.insertVisitor({owner, u"X"_s, u"Ann"_s, std::nullopt, {}, utc(2025, 3, 4), u"Desk"_s});
    });
    const Operation onSite = discarding<QList<VisitorRow>>([](CloudClient &c) { return c.onSiteVisitors(); });
    const Operation create = [](CloudClient &c) {
        return c.createInvite({{}, u"a@example.com"_s, {}, {}, {}});
    };

    QTest::newRow("insert answered with no row") << insert << ScriptedAnswer::json(201, "[]")
                                                 << u"The visitor could not be saved. Please try again."_s;
    QTest::newRow("unreadable sign-in time fails the list")
        << onSite
        << ScriptedAnswer::json(
               200,
               R"([{"id":"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b","visitor_name":"A","signed_in_at":"2025-03-04"}])")
        << u"Bad timestamp"_s;
    QTest::newRow("a row without a name")
        << onSite
        << ScriptedAnswer::json(
               200,
               R"([{"id":"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b","visitor_name":null,"signed_in_at":"2025-03-04T09:05:00Z"}])")
        << u"The server's answer could not be read: \"visitor_name\" is missing."_s;
    QTest::newRow("an object where a list belongs")
        << onSite << ScriptedAnswer::json(200, R"({"rows":[]})")
        << u"The server's answer could not be read: it is not a list."_s;
    QTest::newRow("rest error body")
        << onSite
        << ScriptedAnswer::json(400, R"({"code":"42703","message":"column visitors.x does not exist"})")
        << u"column visitors.x does not exist"_s;
    QTest::newRow("website refusal shows its text")
        << create << ScriptedAnswer::json(422, R"({"error":"That email address looks wrong."})")
        << u"That email address looks wrong."_s;
    QTest::newRow("website html 500") << create << ScriptedAnswer::json(500, "<html><body>Oops</body></html>")
                                      << u"The server answered 500."_s;
}

void TestCloudEndpoints::answersThatDoNotFit() {
    QFETCH(Operation, operation);
    QFETCH(ScriptedAnswer, answer);
    QFETCH(QString, text);
    m_f->server->enqueue(answer);
    QCOMPARE(awaitTask(operation(*m_f->client)).errorText(), text);
    QVERIFY(m_f->client->isSignedIn());
}

void TestCloudEndpoints::oddButValidRowsDecode() {
    QJsonArray rows;
    const QString huge(200'000, u'\u00eb');
    for (int n = 0; n < 1000; ++n) {
        QJsonObject row = visitorJson(n);
        row.insert(u"host_name"_s, QJsonValue::Null);
        row.insert(u"answers"_s, n % 2 ? QJsonValue(QJsonValue::Null) : QJsonValue(QJsonArray{}));
        row.insert(u"signed_out_at"_s, n % 3 ? QJsonValue(u"not a time"_s) : QJsonValue(QJsonValue::Null));
        row.insert(u"list_name"_s, n == 7 ? huge : QString());
        row.insert(u"kiosk_only_column"_s, QJsonObject{{u"nested"_s, n}});
        rows.append(row);
    }
    m_f->server->enqueue(ScriptedAnswer::json(200, QJsonDocument(rows).toJson(QJsonDocument::Compact)));
    const auto outcome = awaitTask(m_f->client->onSiteVisitors());
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(outcome.value->size(), 1000);
    QCOMPARE(outcome.value->at(7).listName->size(), huge.size());
    for (const VisitorRow &row : *outcome.value) {
        QVERIFY(row.isOnSite());
        QVERIFY(!row.hostName);
        QVERIFY(row.answers.isEmpty());
    }
}

void TestCloudEndpoints::setupRecordsMayBeMissing() {
    m_f->server->enqueue(ScriptedAnswer::json(200, "[]"));
    const auto none = awaitTask(m_f->client->loadKioskSettings());
    QVERIFY2(none.succeeded(), qPrintable(none.errorText()));
    QVERIFY(!none.value->has_value());

    m_f->server->enqueue(ScriptedAnswer::json(
        200,
        R"([{"fields":[{"slot":0,"label":"Name","type":"Plain Text","required":true,"employee_list":false}],"employees":["Zo\u00eb"]}])"));
    const auto saved = awaitTask(m_f->client->loadKioskSettings());
    QVERIFY2(saved.succeeded(), qPrintable(saved.errorText()));
    QCOMPARE((*saved.value)->employees, QStringList{u"Zo\u00eb"_s});
    QVERIFY(!(*saved.value)->placeName);

    m_f->server->enqueue(ScriptedAnswer::json(200, R"([{"office_webhook":"","notify_sign_in":true}])"));
    QCOMPARE(awaitTask(m_f->client->loadNotificationSettings()).errorText(),
             u"The server's answer could not be read: \"notify_sign_out\" is missing."_s);
}

QTEST_GUILESS_MAIN(TestCloudEndpoints)
#include "tst_cloudendpoints.moc"
