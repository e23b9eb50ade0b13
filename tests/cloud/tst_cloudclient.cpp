#include "cloud/CloudClient.h"
#include "cloud/KeychainSessionStore.h"
#include "support/CloudFixture.h"
#include "support/TaskOutcome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <functional>
#include <limits>
#include <stdexcept>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Kind = CloudError::Kind;
using Operation = std::function<QCoro::Task<void>(CloudClient &)>;

namespace {

// A call, its result dropped. The call is made outside the coroutine: GCC 12 cannot compile braced lists
// inside a co_await expression.
template<class Call>
Operation op(Call call) {
    return [call](CloudClient &client) -> QCoro::Task<void> { co_await call(client); };
}

const QUuid userA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid userB(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);
const QUuid someID(u"ABCDEF01-2345-4678-9ABC-DEF012345678"_s);
const QString sessionEnded = u"Your session ended. Please sign in again."_s;
const QString unreadable = u"The server's answer could not be read: "_s;

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0) {
    return {QDate(y, mo, d), QTime(h, mi), Qt::UTC};
}

QByteArray rowsJson(int first, int count) {
    QJsonArray rows;
    for (int n = first; n < first + count; ++n) {
        rows.append(QJsonObject{
            {u"id"_s, QUuid::createUuidV5(userA, QString::number(n)).toString(QUuid::WithoutBraces)},
            {u"visitor_name"_s, u"Visitor %1"_s.arg(n)},
            {u"signed_in_at"_s, u"2025-03-04T09:05:12.123456+00:00"_s}});
    }
    return QJsonDocument(rows).toJson(QJsonDocument::Compact);
}

CloudSession storedSample() {
    return CloudSession{u"eyJ.access"_s, u"refresh-1"_s,
                        QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 250), Qt::UTC), userA,
                        u"zo\u00eb@example.com"_s};
}

ScriptedAnswer tokens(const QString &tag, const QUuid &user = userA) {
    return ScriptedAnswer::json(200, tokenAnswer(u"access-"_s + tag, u"refresh-"_s + tag, 3600, user));
}

ScriptedAnswer ok(const QByteArray &body) {
    return ScriptedAnswer::json(200, body);
}

// Each kind of request gets a plausible success, as the hosted service would answer it.
ScriptedAnswer plausibleAnswer(const RecordedRequest &request) {
    if (request.path.endsWith("/token") || request.path.endsWith("/signup")) {
        return tokens(u"2"_s);
    }
    if (request.path.startsWith("/site/") || request.path.startsWith("/auth/")) {
        return ok("{}");
    }
    if (request.method == "POST") {
        return ScriptedAnswer::json(201, rowsJson(0, 1));
    }
    return request.method == "GET" ? ok("[]") : ScriptedAnswer::json(204, {});
}

} // namespace

// A table row's call on the client `c`.
#define CALL(...) op([=](CloudClient &c) { return c.__VA_ARGS__; })

class TestCloudClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_f.emplace(); }
    void cleanup() { m_f.reset(); }

    // Tables with raw strings are defined below the class: moc would read a "//" inside one as a comment.
    void requestsAreExact_data();
    void requestsAreExact() {
        QFETCH(Operation, operation);
        QFETCH(QByteArray, request);
        QFETCH(HeaderList, headers);
        QFETCH(QByteArray, body);
        QFETCH(QString, accessAfter);
        QFETCH(int, secondsLeft);
        CloudClient &client = signedIn(secondsLeft);
        m_f->server->setHandler(plausibleAnswer);

        const auto outcome = awaitTask(operation(client));

        QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
        // A refresh goes first; the sign-out notice is not awaited.
        const int expected = headers.contains({"Authorization", "Bearer access-2"}) ? 2 : 1;
        QVERIFY(m_f->server->waitForRequests(expected));
        QCOMPARE(m_f->server->requestCount(), expected);
        QVERIFY(expected == 1 || m_f->server->requests().constFirst().rawQuery == "grant_type=refresh_token");
        const RecordedRequest sent = m_f->server->requests().constLast();
        QCOMPARE(
            QByteArray(sent.method + ' ' + sent.path + (sent.rawQuery.isEmpty() ? "" : "?") + sent.rawQuery),
            request.replace("PORT", QByteArray::number(m_f->server->baseUrl().port())));
        HeaderList seen = sent.headers;
        seen.removeIf([](const auto &header) {
            return !QByteArrayList{"Content-Type", "apikey", "Authorization", "Prefer"}.contains(
                header.first);
        });
        QCOMPARE(seen, headers);
        QCOMPARE(sent.body, body);
        QCOMPARE(client.session() ? client.session()->accessToken : QString(), accessAfter);
    }
    void callersShareOneRefresh_data() {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<bool>("signOutMeanwhile");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("accessAfter"); // empty: signed out
        const auto row = [](const char *name, const ScriptedAnswer &answer, Kind kind, const QString &text,
                            const QString &accessAfter, bool signOutMeanwhile = false) {
            QTest::newRow(name) << answer << signOutMeanwhile << kind << text << accessAfter;
        };
        const auto status = [](int code) { return ScriptedAnswer::json(code, "<html>no</html>"); };
        row("granted", tokens(u"2"_s), {}, {}, u"access-2"_s);
        row("granted, but outlived by its session", tokens(u"2"_s), Kind::SignedOut, sessionEnded, {}, true);
        row("400 ends the session", status(400), Kind::SignedOut, sessionEnded, {});
        row("408 is transient", status(408), Kind::Network, u"The request timed out."_s, u"access-1"_s);
        row("429 is transient", status(429), Kind::Network, u"The server answered 429."_s, u"access-1"_s);
        row("500 keeps the session", status(500), Kind::Server, u"The server answered 500."_s, u"access-1"_s);
        row("a lost connection keeps the session", ScriptedAnswer::dropMidBody(200, "{}"), Kind::Network,
            u"The network connection was lost."_s, u"access-1"_s);
    }
    void callersShareOneRefresh() {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(bool, signOutMeanwhile);
        QFETCH(Kind, kind);
        QFETCH(QString, text);
        QFETCH(QString, accessAfter);
        CloudClient &client = signedIn(10);
        const CloudSession stale = *client.session();
        m_f->server->setHandler([answer](const RecordedRequest &) { return answer; });
        QSignalSpy refreshing(&client, &CloudClient::refreshingChanged);
        QSignalSpy changed(&client, &CloudClient::sessionChanged);

        const QList callers{start(client.validSession()), start(client.validSession()),
                            start(client.validSession())};
        QVERIFY(client.isRefreshing());
        if (signOutMeanwhile) {
            client.signOutAccount();
        }
        for (const auto &outcome : callers) {
            QVERIFY(waitUntilFinished(*outcome, 5000));
            QCOMPARE(outcome->errorText(), text);
            QVERIFY(text.isEmpty() || outcome->error<CloudError>()->kind() == kind);
            QVERIFY(!outcome->value || outcome->value == client.session());
        }

        QCOMPARE(m_f->requestsTo("/token"), 1);
        QVERIFY(!client.isRefreshing()); // so a later call tries again
        QCOMPARE(refreshing.size(), 2);
        QCOMPARE(client.session() ? client.session()->accessToken : QString(), accessAfter);
        checkStoredOnceIfChanged(stale, changed);
    }
    void answersAndTheSession_data();
    void answersAndTheSession() {
        QFETCH(Operation, operation);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, text);
        QFETCH(std::optional<CloudSession>, sessionAfter);
        CloudClient &client = signedIn(3600, 500ms);
        const std::optional<CloudSession> before = client.session();
        QSignalSpy changed(&client, &CloudClient::sessionChanged);
        m_f->server->setHandler([answer](const RecordedRequest &) { return answer; });

        QCOMPARE(awaitTask(operation(client)).errorText(), text);

        QCOMPARE(client.session(), sessionAfter);
        checkStoredOnceIfChanged(before, changed);
    }
    void signOutEndsTheSessionAtOnceAndALate401KeepsTheNextOne();

    void countsReadContentRange_data() {
        QTest::addColumn<QByteArray>("contentRange");
        QTest::addColumn<int>("total");
        QTest::newRow("no header") << ""_ba << 0;
        QTest::newRow("total unknown") << "0-0/*"_ba << 0;
        QTest::newRow("beyond int") << "0-0/99999999999999999999"_ba << std::numeric_limits<int>::max();
    }
    void countsReadContentRange() {
        QFETCH(QByteArray, contentRange);
        QFETCH(int, total);
        QCOMPARE(CloudClient::totalFromContentRange(contentRange), total);
    }
    void deskCountsAskThreeAtOnceFromSunday_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QByteArray>("dayStart");
        QTest::addColumn<QByteArray>("weekStart");
        const QTimeZone berlin("Europe/Berlin");
        QTest::newRow("Sunday starts its own week")
            << QDateTime(QDate(2025, 3, 2), QTime(0, 30), berlin) << "2025-03-01T23:00:00Z"_ba
            << "2025-03-01T23:00:00Z"_ba;
        QTest::newRow("Saturday looks back six days, across the clock change")
            << QDateTime(QDate(2025, 4, 5), QTime(23, 59), berlin) << "2025-04-04T22:00:00Z"_ba
            << "2025-03-29T23:00:00Z"_ba;
    }
    void deskCountsAskThreeAtOnceFromSunday() {
        QFETCH(QDateTime, now);
        QFETCH(QByteArray, dayStart);
        QFETCH(QByteArray, weekStart);
        CloudClient &client = signedIn();
        m_f->server->setHandler([weekStart](const RecordedRequest &request) {
            const QByteArray total = request.rawQuery.contains("signed_out_at") ? "3"
                                     : request.rawQuery.endsWith(weekStart)     ? "40"
                                                                                : "12";
            return ScriptedAnswer::json(206, "[]", {{"Content-Range", "0-0/" + total}}).delayedBy(150ms);
        });
        const auto outcome = start(client.deskCounts(now, QTimeZone("Europe/Berlin")));
        QTRY_COMPARE(m_f->server->requestCount(), 3);
        QVERIFY(!outcome->finished); // every request left before any answer came back
        QVERIFY(waitUntilFinished(*outcome, 5000));
        QVERIFY2(outcome->succeeded(), qPrintable(outcome->errorText()));

        const auto requests = m_f->server->requests();
        QCOMPARE(requests[0].rawQuery, "select=id&limit=1&signed_in_at=gte." + dayStart);
        QCOMPARE(requests[1].rawQuery, "select=id&limit=1&signed_out_at=is.null"_ba);
        QCOMPARE(requests[2].rawQuery, "select=id&limit=1&signed_in_at=gte." + weekStart);
        QCOMPARE(outcome->value->onSite, 3);
        QCOMPARE(outcome->value->thisWeek, 40);
        QCOMPARE(outcome->value->today, dayStart == weekStart ? 40 : 12);
    }
    void aFailingCountCancelsTheOthers() {
        CloudClient &client = signedIn(3600, 20s);
        m_f->server->setHandler([](const RecordedRequest &request) {
            // Today's count fails; the on-site and week counts would never answer.
            return request.rawQuery.contains("gte.2025-03-04")
                       ? ScriptedAnswer::json(500, "<html/>").delayedBy(100ms)
                       : ScriptedAnswer::hang();
        });
        const auto outcome = awaitTask(client.deskCounts(utc(2025, 3, 4, 12), QTimeZone::utc()));
        QCOMPARE(outcome.errorText(), u"The server answered 500."_s);
        // The two hanging counts were aborted, not left running until their time-out.
        QCOMPARE(m_f->server->requestCount(), 3);
        QTRY_VERIFY_WITH_TIMEOUT(m_f->server->openConnectionCount() <= 1, 3000);

        // Counts asked within a scope that was aborted already (the account changed meanwhile) never leave.
        m_f->server->clearRequests();
        const auto aborted = std::make_shared<RequestScope>();
        aborted->abort();
        QVERIFY(!awaitTask(client.deskCounts(utc(2025, 3, 4, 12), QTimeZone::utc(), aborted)).succeeded());
        QCOMPARE(m_f->server->requestCount(), 0);
    }
    void exportPagesUntilAShortPage_data() {
        QTest::addColumn<int>("total");
        QTest::addColumn<QByteArrayList>("offsets");
        QTest::newRow("exactly one full page asks once more") << 1000 << QByteArrayList{"0", "1000"};
        QTest::newRow("two and a half pages") << 2500 << QByteArrayList{"0", "1000", "2000"};
    }
    void exportPagesUntilAShortPage() {
        QFETCH(int, total);
        QFETCH(QByteArrayList, offsets);
        CloudClient &client = signedIn();
        m_f->server->setHandler([total](const RecordedRequest &request) {
            const QUrlQuery query(QString::fromLatin1(request.rawQuery));
            const int offset = query.queryItemValue(u"offset"_s).toInt();
            const int limit = query.queryItemValue(u"limit"_s).toInt();
            return ScriptedAnswer::json(200, rowsJson(offset, std::max(0, std::min(limit, total - offset))));
        });
        const auto outcome = awaitTask(client.allVisitors({u"visitor"_s, {}, {}}));
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
        QCOMPARE(outcome.value->size(), total);
        QByteArrayList seenOffsets;
        for (const auto &request : m_f->server->requests()) {
            QVERIFY(request.rawQuery.contains("search_text=ilike.%25visitor%25&limit=1000&offset="));
            seenOffsets.append(request.rawQuery.mid(request.rawQuery.lastIndexOf('=') + 1));
        }
        QCOMPARE(seenOffsets, offsets);
    }
    void aFailingOrCancelledExportStops();

    void storedForms_data();
    void storedForms() {
        QFETCH(QByteArray, data);
        QFETCH(bool, readable);
        const std::optional<CloudSession> read = CloudSession::fromStoredForm(data);
        QCOMPARE(read, readable ? std::optional(storedSample()) : std::nullopt);
        QVERIFY(!readable || QJsonDocument::fromJson(read->toStoredForm()) == QJsonDocument::fromJson(data));
    }
    void withoutAKeyringAPrivateFileFollowsTheSession() {
        // ctest runs this without a session bus, as on a server or a fresh desktop without a keyring.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"config/tallybrook/session.json"_s);
        KeychainSessionStore store(u"test.session"_s, u"session"_s, path,
                                   KeychainSessionStore::Backend::Probe, std::chrono::milliseconds(2000));
        QVERIFY(!store.usesKeyring());
        QVERIFY(!store.load());

        store.save(storedSample());
        QCOMPARE(store.load(), std::optional(storedSample()));
        const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
        QCOMPARE(QFileInfo(path).permissions() & (others | QFileDevice::ExeOwner),
                 QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(QFileInfo(path).absolutePath()) & others, QFileDevice::Permissions());
        // Only the session's file is in the folder: the write left no temporary behind.
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{u"session.json"_s});

        store.save(std::nullopt);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!store.load());
    }
    void lockedKeyringStaysTheStoreAndStartsSignedOut() {
        // A file left from a run without a keyring must neither sign the desk in nor outlive the switch.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"session.json"_s);
        KeychainSessionStore(u"test.session"_s, u"session"_s, path, KeychainSessionStore::Backend::File)
            .save(storedSample());
        QVERIFY(QFile::exists(path));

        KeychainSessionStore store(u"test.session"_s, u"session"_s, path,
                                   KeychainSessionStore::Backend::LockedKeyring);
        QVERIFY(store.usesKeyring());
        QVERIFY(!store.load());
        QVERIFY(!QFile::exists(path));
    }
    void acceptsHttpsAndLoopbackHttpOnly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("https") << u"https://example.com:8443/base"_s << true;
        QTest::newRow("http on another 127/8 address") << u"http://127.8.9.10:1"_s << true;
        QTest::newRow("http on the office network") << u"http://192.168.1.20:54321"_s << false;
        QTest::newRow("http on a look-alike host") << u"http://127.0.0.1.example.com"_s << false;
        QTest::newRow("another scheme") << u"ftp://example.com"_s << false;
        QTest::newRow("no host") << u"https://"_s << false;
        QTest::newRow("credentials in the URL") << u"https://user:pw@example.com"_s << false;
        QTest::newRow("a query") << u"https://example.com/?next=http://evil.example"_s << false;
    }
    void acceptsHttpsAndLoopbackHttpOnly() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(CloudConfig::acceptedBaseURL(text), accepted ? std::optional(QUrl(text)) : std::nullopt);
    }
    void appendsPathsWithOneSlash() {
        QCOMPARE(appendingPath(QUrl(u"https://a.co/base//"_s), u"//support"_s),
                 QUrl(u"https://a.co/base/support"_s));
    }
    void environmentOverridesTheBuild() {
        qputenv("TALLYBROOK_BACKEND_URL", " https://project.example.co ");
        qputenv("TALLYBROOK_WEBSITE_URL", "http://example.org"); // plain http off this computer: ignored
        qputenv("TALLYBROOK_PUBLISHABLE_KEY", "sb_publishable_from_the_environment_000000000");
        const CloudConfig config = CloudConfig::fromEnvironment();
        for (const char *name :
             {"TALLYBROOK_BACKEND_URL", "TALLYBROOK_WEBSITE_URL", "TALLYBROOK_PUBLISHABLE_KEY"})
            qunsetenv(name);
        QCOMPARE(config.backendURL, QUrl(u"https://project.example.co"_s));
        QVERIFY(config.websiteURL.isValid());
        QVERIFY(config.websiteURL.host() != u"example.org"_s);
        QCOMPARE(config.publishableKey, u"sb_publishable_from_the_environment_000000000"_s);
    }

private:
    // A changed session is stored once, while the client still held the one it replaces; an unchanged one is
    // not stored.
    void checkStoredOnceIfChanged(const std::optional<CloudSession> &before, const QSignalSpy &changed) {
        const std::optional<CloudSession> after = m_f->client->session();
        const int saves = after == before ? 0 : 1;
        QCOMPARE(changed.size(), saves);
        QCOMPARE(m_f->store->saves.size(), saves);
        QVERIFY(!saves ||
                (m_f->store->saves[0].saved == after && m_f->store->saves[0].clientSessionAtSave == before));
    }
    CloudClient &signedIn(int secondsLeft = 3600, std::chrono::milliseconds timeout = 1500ms) {
        return m_f->makeClient(m_f->sessionExpiringIn(secondsLeft, userA, u"1"_s), timeout);
    }

    std::optional<CloudFixture> m_f;
};

void TestCloudClient::requestsAreExact_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("request"); // PORT stands for the scripted server's port
    QTest::addColumn<HeaderList>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("accessAfter"); // empty: signed out
    QTest::addColumn<int>("secondsLeft");
    const auto row = [](const char *name, const Operation &operation, const QByteArray &request,
                        const HeaderList &headers, const QByteArray &body = {},
                        const QString &accessAfter = u"access-2"_s, int secondsLeft = 59) {
        QTest::newRow(name) << operation << request << headers << body << accessAfter << secondsLeft;
    };

    // The session has 59 s left, so every authorised call refreshes it first and goes out with the new token.
    const QByteArray key = testPublishableKey.toUtf8();
    const HeaderList publicAuth{{"Content-Type", "application/json"}, {"apikey", key}};
    const HeaderList stale = publicAuth + HeaderList{{"Authorization", "Bearer access-1"}};
    const HeaderList fresh = publicAuth + HeaderList{{"Authorization", "Bearer access-2"}};
    const auto prefer = [&](const QByteArray &value) { return fresh + HeaderList{{"Prefer", value}}; };
    const QByteArray visitorColumns =
        "select=id,visitor_name,host_name,answers,signed_in_at,signed_out_at,list_name,device_name";
    const QByteArray visitors =
        "GET /rest/v1/visitors?" + visitorColumns + "&order=signed_in_at.desc,id.desc";
    const QByteArray invites = "GET /rest/v1/invites?select=id,token,visitor_name,visitor_email,answers,"
                               "visit_date,visit_time,note,created_at,used_at&order=created_at.desc";
    const QByteArray someInvite = "/rest/v1/invites?id=eq.abcdef01-2345-4678-9abc-def012345678";
    const QByteArray someVisitor = "/rest/v1/visitors?id=eq.abcdef01-2345-4678-9abc-def012345678";

    row("sign-in trims the email only", CALL(signInAccount(u" \tdesk@example.com \t"_s, u"  pass word  "_s)),
        "POST /auth/v1/token?grant_type=password", publicAuth,
        R"({"email":"desk@example.com","password":"  pass word  "})");
    row("sign-up trims the name", CALL(signUp(u" new@example.com "_s, u" secret "_s, u"  Ann Lee\n"_s)),
        "POST /auth/v1/signup", publicAuth,
        R"({"data":{"name":"Ann Lee"},"email":"new@example.com","password":" secret "})");
    row("password reset names the website's callback", CALL(sendPasswordReset(u" desk@example.com\t"_s)),
        "POST /auth/v1/recover?redirect_to=http://127.0.0.1:PORT/site/auth/callback?next%3D/reset-password",
        publicAuth, R"({"email":"desk@example.com"})", u"access-1"_s);
    row("token refresh", CALL(refreshSession(*c.session())), "POST /auth/v1/token?grant_type=refresh_token",
        publicAuth, R"({"refresh_token":"refresh-1"})", u"access-1"_s);
    row("change password", CALL(changePassword(u" new pass "_s)), "PUT /auth/v1/user", fresh,
        R"({"password":" new pass "})");
    row("sign-out notice has no body",
        [](CloudClient &c) -> QCoro::Task<void> {
            c.signOutAccount();
            co_return;
        },
        "POST /auth/v1/logout", {{"apikey", key}, {"Authorization", "Bearer access-1"}}, {}, {});
    row("delete account", CALL(deleteAccount()), "POST /rest/v1/rpc/delete_account", fresh, "{}", {});

    // The query keeps its order; "+" arrives as %2B, not as a space; what would change its meaning is
    // encoded.
    const QueryItems items{{u"select"_s, u"id,name"_s},
                           {u"search_text"_s, u"ilike.%a+b&c=d#e f\\zo\u00eb%"_s}};
    row("query encoding",
        CALL(perform(c.authorizedRequestWith(c.restRequestURL(u"visitors"_s, items), u"access-1"_s))),
        "GET /rest/v1/visitors?select=id,name&search_text=ilike.%25a%2Bb%26c%3Dd%23e%20f%5Czo%C3%AB%25",
        stale, {}, u"access-1"_s);
    row("on site", CALL(onSiteVisitors()), visitors + "&signed_out_at=is.null&limit=500", fresh);
    row("60 s left: no refresh", CALL(onSiteVisitors()), visitors + "&signed_out_at=is.null&limit=500", stale,
        {}, u"access-1"_s, 60);
    row("a blank search adds no filter", CALL(visitorPage({u" \t \n"_s, {}, {}}, 50, 100)),
        visitors + "&limit=50&offset=100", fresh);
    row("dates, then the search trimmed, lower-cased and escaped",
        CALL(visitorPage({u"  Ann_Lee 50%_Off C:\\tmp \u0141 "_s, utc(2025, 3, 1), utc(2025, 3, 2)}, 50, 0)),
        visitors + "&signed_in_at=gte.2025-03-01T00:00:00Z&signed_in_at=lt.2025-03-02T00:00:00Z&search_text="
                   "ilike.%25ann%5C_lee%2050%5C%25%5C_off%20c:%5C%5Ctmp%20%C5%82%25&limit=50&offset=0",
        fresh);
    row("count asks for one id", CALL(countVisitors({{u"signed_out_at"_s, u"is.null"_s}})),
        "GET /rest/v1/visitors?select=id&limit=1&signed_out_at=is.null", prefer("count=exact"));
    // The owner in capitals, the time at UTC in whole seconds, no host written as null.
    const QDateTime signedInAt({2025, 3, 4}, {10, 5, 0, 450}, QTimeZone(3600));
    const NewVisitor visitor{userA, u"7D3F"_s, u"Zo\u00eb"_s, std::nullopt, {}, signedInAt, u"Desk"_s};
    row("insert returns the stored row", CALL(insertVisitor(visitor)),
        "POST /rest/v1/visitors?" + visitorColumns, prefer("return=representation"),
        R"({"answers":[],"device_name":"Desk","device_record_id":"7D3F","host_name":null,)"
        R"("owner_id":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","signed_in_at":"2025-03-04T09:05:00Z",)"
        R"("visitor_name":"Zoë"})");
    row("sign-out keeps an earlier time", CALL(signOutVisitor(someID, utc(2025, 3, 4, 17, 30))),
        "PATCH " + someVisitor + "&signed_out_at=is.null&select=id", prefer("return=representation"),
        R"({"signed_out_at":"2025-03-04T17:30:00Z"})");
    row("kiosk settings", CALL(loadKioskSettings()),
        "GET /rest/v1/kiosk_settings?select=fields,employees,place_name", fresh);
    row("notification settings", CALL(loadNotificationSettings()),
        "GET /rest/v1/notification_settings?"
        "select=office_webhook,notify_sign_in,notify_sign_out,employee_webhooks",
        fresh);
    row("pending invites end with the used_at filter", CALL(loadInvites(true, 200)),
        invites + "&limit=200&used_at=is.null", fresh);
    row("all invites", CALL(loadInvites(false, 50)), invites + "&limit=50", fresh);
    row("delete invite", CALL(deleteInvite(someID)), "DELETE " + someInvite, fresh);
    row("mark invite used", CALL(markInviteUsed(someID, utc(2025, 3, 4, 9, 5))), "PATCH " + someInvite,
        prefer("return=minimal"), R"({"used_at":"2025-03-04T09:05:00Z"})");
    // Absent texts are left out, not written as null; an empty answer is kept.
    const NewInvite invite{
        {{0, u"Ann Lee"_s}, {2, u"Acme"_s}, {3, {}}}, u"ann@example.com"_s, u"2025-03-05"_s, {}, u"Gate B"_s};
    row("create invite on the website", CALL(createInvite(invite)), "POST /site/api/invites", fresh,
        R"({"answers":[{"slot":0,"value":"Ann Lee"},{"slot":2,"value":"Acme"},{"slot":3,"value":""}],)"
        R"("email":"ann@example.com","note":"Gate B","visit_date":"2025-03-05"})");
    row("resend uses the lower-case id", CALL(resendInvite(someID)),
        "POST /site/api/invites/abcdef01-2345-4678-9abc-def012345678/resend", fresh);
}

void TestCloudClient::answersAndTheSession_data() {
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<CloudSession>>("sessionAfter");
    const auto session = [](const QString &tag) {
        return CloudSession{u"access-"_s + tag, u"refresh-"_s + tag, utc(2025, 3, 4, 10, 5), userA,
                            u"desk@example.com"_s};
    };
    const CloudSession before = session(u"1"_s);
    const auto row = [&](const char *name, const Operation &operation, const ScriptedAnswer &answer,
                         const QString &text, bool endsSession = false) {
        QTest::newRow(name) << operation << answer << text
                            << (endsSession ? std::nullopt : std::optional(before));
    };
    const auto adopted = [&](const char *name, const Operation &operation, const ScriptedAnswer &answer,
                             const std::optional<CloudSession> &sessionAfter) {
        QTest::newRow(name) << operation << answer << QString() << sessionAfter;
    };
    const Operation signIn = CALL(signInAccount(u"x@example.com"_s, u"pw"_s));
    // Sign-up hands back the session it started, or nothing while the account waits for its email.
    const auto signUp = [](bool waits) {
        return Operation([waits](CloudClient &c) -> QCoro::Task<void> {
            const QString email = u"new@example.com"_s;
            const std::optional<CloudSession> started = co_await c.signUp(email, email, email);
            if (started.has_value() == waits || (started && started != c.session())) {
                throw std::logic_error("sign-up handed back the wrong session");
            }
        });
    };
    const Operation onSite = CALL(onSiteVisitors());
    const Operation invite = CALL(createInvite({{}, u"a@example.com"_s, {}, {}, {}}));

    adopted("sign-in adopts the answer's session", signIn, tokens(u"9"_s), session(u"9"_s));
    adopted("sign-up, usable at once", signUp(false), tokens(u"9"_s), session(u"9"_s));
    adopted("sign-up, waiting for confirmation", signUp(true),
            ok(R"({"id":"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b","email":"new@example.com"})"), before);
    row("malformed json", signIn, ok("{\"access_token\":"), unreadable + u"it is not valid JSON."_s);
    row("over 64 MiB is refused", signIn, ok(QByteArray((64 << 20) + 1, ' ')),
        u"The server's answer was too large."_s);
    row("never answers", signIn, ScriptedAnswer::hang(), u"The request timed out."_s);
    // The auth service's refusals in each of its shapes: its message shows unless the desk has its own words.
    const Operation signUpAgain = CALL(signUp(u"a@example.com"_s, {}, {}));
    const Operation reset = CALL(sendPasswordReset(u"a@example.com"_s));
    const auto refusal = [&](const char *name, const Operation &operation, int status, const QByteArray &body,
                             const QString &text) {
        row(name, operation, ScriptedAnswer::json(status, body), text);
    };
    const QString wrong = u"That email and password combination did not work."_s;
    refusal("invalid credentials", signIn, 400,
            R"({"code":400,"error_code":"invalid_credentials","msg":"Invalid login"})", wrong);
    refusal("oauth shape, credentials in the description, any case", signIn, 400,
            R"({"error":"invalid_grant","error_description":"BAD CREDENTIALS GIVEN"})", wrong);
    refusal("oauth shape, other description", signIn, 400,
            R"({"error":"invalid_grant","error_description":"Refresh Token Not Found"})",
            u"Refresh Token Not Found"_s);
    refusal("error_code not text falls back to error", signIn, 400,
            R"({"error_code":7,"error":"invalid_credentials"})", wrong);
    refusal("email not confirmed, any message", signIn, 400,
            R"({"error_code":"email_not_confirmed","msg":"whatever"})",
            u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s);
    refusal("user already exists", signUpAgain, 422,
            R"({"error_code":"user_already_exists","msg":"User already registered"})",
            u"There's already an account for that email. Sign in with it instead."_s);
    refusal("msg wins over message", reset, 400, R"({"message":"second","msg":"first"})", u"first"_s);
    row("insert answered with no row",
        CALL(insertVisitor({userA, u"X"_s, u"Ann"_s, std::nullopt, {}, utc(2025, 3, 4), u"Desk"_s})),
        ScriptedAnswer::json(201, "[]"), u"The visitor could not be saved. Please try again."_s);
    row("the website's error, not an auth message", invite,
        ScriptedAnswer::json(422, R"({"error":"That email address looks wrong.","msg":"auth text"})"),
        u"That email address looks wrong."_s);
    row("401 from the backend ends the session", onSite,
        ScriptedAnswer::json(401, R"({"message":"JWT expired"})"), sessionEnded, true);
    row("401 from the website keeps it", invite, ScriptedAnswer::json(401, R"({"error":"Not signed in"})"),
        sessionEnded);
}

void TestCloudClient::signOutEndsTheSessionAtOnceAndALate401KeepsTheNextOne() {
    CloudClient &client = signedIn();
    const CloudSession session = *client.session();
    m_f->server->enqueue(ScriptedAnswer::json(401, R"({"message":"JWT expired"})").delayedBy(200ms));
    const auto old = start(client.onSiteVisitors());

    // The desk signs out and another account signs in before the old answer arrives.
    m_f->server->enqueue(ScriptedAnswer::json(204, {}));
    client.signOutAccount();
    // Nothing was awaited: the session is gone before the server heard anything. Signing out again without a
    // session sends nothing (it would take the sign-in's answer).
    QVERIFY(!client.isSignedIn());
    QCOMPARE(m_f->store->saves.size(), 1);
    QCOMPARE(m_f->store->saves[0].clientSessionAtSave, session);
    client.signOutAccount();
    m_f->server->enqueue(tokens(u"new"_s, userB));
    QVERIFY(awaitTask(client.signInAccount(u"b@example.com"_s, u"pw"_s)).succeeded());

    QVERIFY(waitUntilFinished(*old, 5000));
    QCOMPARE(old->errorText(), sessionEnded);
    QVERIFY(client.isSignedIn());
    QCOMPARE(client.session()->userID, userB);
}

void TestCloudClient::aFailingOrCancelledExportStops() {
    CloudClient &client = signedIn();
    m_f->server->enqueue(ScriptedAnswer::json(200, rowsJson(0, 1000)));
    m_f->server->enqueue(
        ScriptedAnswer::json(500, R"({"message":"canceling statement due to statement timeout"})"));
    QCOMPARE(awaitTask(client.allVisitors({})).errorText(),
             u"canceling statement due to statement timeout"_s);
    QCOMPARE(m_f->server->requestCount(), 2);

    // An export cancelled with its scope (the account changed) stops: no page of it lands anywhere.
    m_f->server->clearRequests();
    m_f->server->setHandler(
        [](const RecordedRequest &) { return ScriptedAnswer::json(200, rowsJson(0, 1000)).delayedBy(50ms); });
    const auto scope = std::make_shared<RequestScope>();
    connect(m_f->server.get(), &ScriptedHttpServer::requestReceived, this, [scope] { scope->abort(); });
    QVERIFY(!awaitTask(client.allVisitors({}, scope)).succeeded());
    QCOMPARE(m_f->server->requestCount(), 1);
}

// The session as the desk keeps it between runs; anything unreadable there means signed out.
void TestCloudClient::storedForms_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("readable");
    // Seconds since 2001-01-01 UTC and an upper-case user id, as the stores of our other apps keep them.
    QTest::newRow("as written") << QByteArray(R"({"accessToken":"eyJ.access","refreshToken":"refresh-1",
        "expiresAt":60.25,"userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":"zo\u00eb@example.com"})")
                                << true;
    QTest::newRow("not json") << "session=abc"_ba << false;
    QTest::newRow("expiry out of range") << R"({"accessToken":"a","refreshToken":"r","expiresAt":1e300,
        "userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":""})"_ba
                                         << false;
}

QTEST_GUILESS_MAIN(TestCloudClient)
#include "tst_cloudclient.moc"
