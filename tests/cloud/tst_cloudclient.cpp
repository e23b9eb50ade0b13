#include "cloud/CloudClient.h"
#include "support/CloudFixture.h"
#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using Kind = CloudError::Kind;

namespace {

const QUuid userA = QUuid(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid userB = QUuid(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);

QByteArray headerOf(const RecordedRequest &request, const char *name) {
    return request.header(QByteArrayView(name));
}

// The position of each named header among those received, in order.
QList<QByteArray> orderOf(const RecordedRequest &request, const QList<QByteArray> &names) {
    QList<QByteArray> seen;
    for (const auto &[name, value] : request.headers) {
        for (const auto &wanted : names) {
            if (name.compare(wanted, Qt::CaseInsensitive) == 0) {
                seen.append(wanted);
            }
        }
    }
    return seen;
}

QJsonObject bodyObject(const RecordedRequest &request) {
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class TestCloudClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void restoresTheStoredSessionWithoutAsking();
    void composesURLs_data();
    void composesURLs();
    void requestKindsCarryTheirHeadersInOrder();

    void refreshesOnlyWithinAMinuteOfExpiry_data();
    void refreshesOnlyWithinAMinuteOfExpiry();
    void concurrentCallersShareOneRefresh();
    void joinersShareARefusedRefresh();
    void refreshOutlivedByItsSessionFailsAsSignedOut();
    void refusedRefreshSignsOut_data();
    void refusedRefreshSignsOut();
    void refreshWithoutNetworkKeepsTheSession();
    void unauthorizedAnswerEndsTheSession();
    void unauthorizedAnswerForAnOldSessionKeepsTheNewOne();
    void websiteUnauthorizedKeepsTheSession();

    void signInTrimsTheEmailOnly();
    void signInFailures_data();
    void signInFailures();
    void tokenAnswerWithoutEmail();
    void signUp_data();
    void signUp();
    void passwordResetAsksForTheWebsiteCallback();
    void changePasswordRefreshesAStaleTokenFirst();
    void signOutEndsTheSessionAtOnce();
    void deleteAccountEndsTheSessionOnlyOnSuccess();

    void oddAnswersFailWithAClearMessage_data();
    void oddAnswersFailWithAClearMessage();
    void unreachableServer();

private:
    void makeClient(std::optional<CloudSession> stored = std::nullopt) { m_f->makeClient(std::move(stored)); }
    [[nodiscard]] CloudSession sessionExpiringIn(int seconds, const QUuid &user = userA,
                                                 const QString &tag = u"1"_s) const {
        return m_f->sessionExpiringIn(seconds, user, tag);
    }

    std::optional<CloudFixture> m_f;
};

void TestCloudClient::init() {
    m_f.emplace();
}

void TestCloudClient::cleanup() {
    m_f.reset();
}

void TestCloudClient::restoresTheStoredSessionWithoutAsking() {
    const CloudSession expired = sessionExpiringIn(-3600);
    makeClient(expired);
    QCOMPARE(m_f->store->loads, 1);
    QVERIFY(m_f->client->isSignedIn());
    QCOMPARE(*m_f->client->session(), expired);
    QCOMPARE(m_f->server->requestCount(), 0);
}

void TestCloudClient::composesURLs_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QueryItems>("items");
    QTest::addColumn<QByteArray>("expectedPathAndQuery");

    QTest::newRow("no items, no query") << u"visitors"_s << QueryItems{} << QByteArray("/rest/v1/visitors");
    QTest::newRow("items keep their order")
        << u"visitors"_s
        << QueryItems{{u"select"_s, u"id,visitor_name"_s},
                      {u"order"_s, u"signed_in_at.desc,id.desc"_s},
                      {u"limit"_s, u"50"_s}}
        << QByteArray("/rest/v1/visitors?select=id,visitor_name&order=signed_in_at.desc,id.desc&limit=50");
    QTest::newRow("plus reaches the server as %2B")
        << u"visitors"_s << QueryItems{{u"search_text"_s, u"ilike.*a+b*"_s}}
        << QByteArray("/rest/v1/visitors?search_text=ilike.*a%2Bb*");
    QTest::newRow("ampersand, equals, hash, percent and space are encoded")
        << u"visitors"_s << QueryItems{{u"search_text"_s, u"ilike.%a&b=c#d e%"_s}}
        << QByteArray("/rest/v1/visitors?search_text=ilike.%25a%26b%3Dc%23d%20e%25");
    QTest::newRow("backslash and non-ASCII are encoded")
        << u"visitors"_s << QueryItems{{u"search_text"_s, u"ilike.%zo\u00eb\\_%"_s}}
        << QByteArray("/rest/v1/visitors?search_text=ilike.%25zo%C3%AB%5C_%25");
    QTest::newRow("function path keeps its slash")
        << u"rpc/delete_account"_s << QueryItems{} << QByteArray("/rest/v1/rpc/delete_account");
}

void TestCloudClient::composesURLs() {
    QFETCH(QString, table);
    QFETCH(QueryItems, items);
    QFETCH(QByteArray, expectedPathAndQuery);
    makeClient(sessionExpiringIn(3600));
    const QUrl url = m_f->client->restRequestURL(table, items);
    QCOMPARE(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority), expectedPathAndQuery);

    // What the URL says is what reaches the server, byte for byte.
    m_f->server->enqueue(ScriptedAnswer::json(200, "[]"));
    CloudRequest request = m_f->client->authorizedRequestWith(url, u"token"_s);
    const auto outcome = awaitTask(m_f->client->perform(request));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    const RecordedRequest seen = m_f->server->requests().constLast();
    QCOMPARE(seen.path + (seen.rawQuery.isEmpty() ? QByteArray() : '?' + seen.rawQuery),
             expectedPathAndQuery);
}

void TestCloudClient::requestKindsCarryTheirHeadersInOrder() {
    makeClient(sessionExpiringIn(3600));
    QCOMPARE(m_f->client->authURL(u"token"_s).path(), u"/auth/v1/token"_s);
    QCOMPARE(m_f->client->websiteURL(u"api/invites"_s).path(), u"/site/api/invites"_s);

    // Authorised request, then the sign-out notice.
    m_f->server->enqueue(ScriptedAnswer::json(200, "{}"));
    const auto changed = awaitTask(m_f->client->changePassword(u"new secret"_s));
    QVERIFY2(changed.succeeded(), qPrintable(changed.errorText()));
    const RecordedRequest authorised = m_f->server->requests().constLast();
    QCOMPARE(authorised.method, QByteArray("PUT"));
    QCOMPARE(orderOf(authorised, {"Content-Type", "apikey", "Authorization"}),
             (QList<QByteArray>{"Content-Type", "apikey", "Authorization"}));
    QCOMPARE(headerOf(authorised, "Content-Type"), QByteArray("application/json"));
    QCOMPARE(headerOf(authorised, "apikey"), testPublishableKey.toUtf8());
    QCOMPARE(headerOf(authorised, "Authorization"), QByteArray("Bearer access-1"));

    m_f->server->enqueue(ScriptedAnswer::json(204, {}));
    m_f->client->signOutAccount();
    QVERIFY(m_f->server->waitForRequests(2));
    const RecordedRequest notice = m_f->server->requests().constLast();
    QCOMPARE(notice.method, QByteArray("POST"));
    QCOMPARE(notice.path, QByteArray("/auth/v1/logout"));
    QCOMPARE(orderOf(notice, {"Content-Type", "apikey", "Authorization"}),
             (QList<QByteArray>{"apikey", "Authorization"}));
    QVERIFY(notice.body.isEmpty());

    // Public auth request.
    m_f->server->enqueue(ScriptedAnswer::json(200, tokenAnswer(u"a2"_s, u"r2"_s, 3600, userA)));
    const auto signedIn = awaitTask(m_f->client->signInAccount(u"desk@example.com"_s, u"pw"_s));
    QVERIFY2(signedIn.succeeded(), qPrintable(signedIn.errorText()));
    const RecordedRequest grant = m_f->server->requests().constLast();
    QCOMPARE(grant.path, QByteArray("/auth/v1/token"));
    QCOMPARE(grant.rawQuery, QByteArray("grant_type=password"));
    QCOMPARE(orderOf(grant, {"Content-Type", "apikey", "Authorization"}),
             (QList<QByteArray>{"Content-Type", "apikey"}));
}

void TestCloudClient::refreshesOnlyWithinAMinuteOfExpiry_data() {
    QTest::addColumn<int>("secondsLeft");
    QTest::addColumn<bool>("refreshes");
    QTest::newRow("59 s left") << 59 << true;
    QTest::newRow("60 s left") << 60 << false;
    QTest::newRow("61 s left") << 61 << false;
    QTest::newRow("already expired") << -600 << true;
}

void TestCloudClient::refreshesOnlyWithinAMinuteOfExpiry() {
    QFETCH(int, secondsLeft);
    QFETCH(bool, refreshes);
    makeClient(sessionExpiringIn(secondsLeft));
    m_f->server->setHandler([](const RecordedRequest &request) {
        if (request.path.endsWith("/token")) {
            return ScriptedAnswer::json(200, tokenAnswer(u"access-2"_s, u"refresh-2"_s, 3600, userA));
        }
        return ScriptedAnswer::json(200, "[]");
    });

    const auto request = awaitTask(m_f->client->authorizedRequest(m_f->client->restURL(u"visitors"_s)));
    QVERIFY2(request.succeeded(), qPrintable(request.errorText()));
    QCOMPARE(m_f->requestsTo("/token"), refreshes ? 1 : 0);
    QCOMPARE(request.value->header("Authorization"),
             refreshes ? QByteArray("Bearer access-2") : QByteArray("Bearer access-1"));
    if (refreshes) {
        const RecordedRequest grant = m_f->server->requests().constFirst();
        QCOMPARE(grant.rawQuery, QByteArray("grant_type=refresh_token"));
        QCOMPARE(bodyObject(grant), (QJsonObject{{u"refresh_token"_s, u"refresh-1"_s}}));
        QCOMPARE(m_f->client->session()->accessToken, u"access-2"_s);
        QCOMPARE(m_f->client->session()->expiresAt, m_f->now.addSecs(3600));
        QCOMPARE(m_f->store->saves.size(), 1);
        // Stored while the old session was still the client's.
        QCOMPARE(m_f->store->saves[0].clientSessionAtSave->accessToken, u"access-1"_s);
        QCOMPARE(m_f->store->saves[0].saved->accessToken, u"access-2"_s);
    } else {
        QVERIFY(m_f->store->saves.isEmpty());
    }
}

void TestCloudClient::concurrentCallersShareOneRefresh() {
    makeClient(sessionExpiringIn(10));
    m_f->server->setHandler([](const RecordedRequest &request) {
        if (request.path.endsWith("/token")) {
            auto answer = ScriptedAnswer::json(200, tokenAnswer(u"access-2"_s, u"refresh-2"_s, 3600, userA));
            answer.delay = std::chrono::milliseconds(150);
            return answer;
        }
        return ScriptedAnswer::json(200, "[]");
    });
    QSignalSpy refreshing(m_f->client.get(), &CloudClient::refreshingChanged);

    const auto first = start(m_f->client->validSession());
    const auto second = start(m_f->client->validSession());
    const auto third = start(m_f->client->validSession());
    QVERIFY(m_f->client->isRefreshing());
    QTRY_VERIFY(first->finished && second->finished && third->finished);

    QCOMPARE(m_f->requestsTo("/token"), 1);
    for (const auto &outcome : {first, second, third}) {
        QVERIFY2(outcome->succeeded(), qPrintable(outcome->errorText()));
        QCOMPARE(outcome->value->accessToken, u"access-2"_s);
    }
    QCOMPARE(m_f->store->saves.size(), 1);
    QVERIFY(!m_f->client->isRefreshing());
    QCOMPARE(refreshing.size(), 2);
}

void TestCloudClient::joinersShareARefusedRefresh() {
    makeClient(sessionExpiringIn(10));
    auto refused = ScriptedAnswer::json(
        400,
        R"({"code":400,"error_code":"refresh_token_not_found","msg":"Invalid Refresh Token: Refresh Token Not Found"})");
    refused.delay = std::chrono::milliseconds(150);
    m_f->server->enqueue(refused);

    const auto first = start(m_f->client->validSession());
    const auto second = start(m_f->client->validSession());
    QTRY_VERIFY(first->finished && second->finished);
    QCOMPARE(m_f->requestsTo("/token"), 1);
    for (const auto &outcome : {first, second}) {
        QCOMPARE(outcome->error<CloudError>()->kind(), Kind::SignedOut);
        QCOMPARE(outcome->errorText(), u"Your session ended. Please sign in again."_s);
    }
    QCOMPARE(m_f->store->saves.size(), 1);
}

void TestCloudClient::refreshOutlivedByItsSessionFailsAsSignedOut() {
    makeClient(sessionExpiringIn(10));
    m_f->server->setHandler([](const RecordedRequest &request) {
        if (request.path.endsWith("/logout")) {
            return ScriptedAnswer::json(204, {});
        }
        auto answer = ScriptedAnswer::json(200, tokenAnswer(u"access-2"_s, u"refresh-2"_s, 3600, userA));
        answer.delay = std::chrono::milliseconds(150);
        return answer;
    });
    const auto starter = start(m_f->client->validSession());
    const auto joiner = start(m_f->client->validSession());
    m_f->client->signOutAccount();

    QTRY_VERIFY(starter->finished && joiner->finished);
    for (const auto &outcome : {starter, joiner}) {
        QCOMPARE(outcome->errorText(), u"Your session ended. Please sign in again."_s);
    }
    QVERIFY(!m_f->client->isSignedIn());
}

void TestCloudClient::refusedRefreshSignsOut_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");
    const QString ended = u"Your session ended. Please sign in again."_s;
    QTest::newRow("400") << 400 << Kind::SignedOut << ended;
    QTest::newRow("403") << 403 << Kind::SignedOut << ended;
    QTest::newRow("499") << 499 << Kind::SignedOut << ended;
    QTest::newRow("408 is transient") << 408 << Kind::Network << u"The request timed out."_s;
    QTest::newRow("429 is transient") << 429 << Kind::Network << u"The server answered 429."_s;
    QTest::newRow("500 keeps the session") << 500 << Kind::Server << u"The server answered 500."_s;
    QTest::newRow("503 keeps the session") << 503 << Kind::Server << u"The server answered 503."_s;
}

void TestCloudClient::refusedRefreshSignsOut() {
    QFETCH(int, status);
    QFETCH(Kind, kind);
    QFETCH(QString, text);
    const bool signsOut = kind == Kind::SignedOut;
    const CloudSession stale = sessionExpiringIn(30);
    makeClient(stale);
    QSignalSpy changed(m_f->client.get(), &CloudClient::sessionChanged);
    m_f->server->enqueue(ScriptedAnswer::json(status, "<html>no</html>"));

    const auto outcome = awaitTask(m_f->client->validSession());
    QCOMPARE(outcome.error<CloudError>()->kind(), kind);
    QCOMPARE(outcome.errorText(), text);
    QCOMPARE(m_f->client->isSignedIn(), !signsOut);
    if (signsOut) {
        QCOMPARE(m_f->store->saves.size(), 1);
        QVERIFY(!m_f->store->saves[0].saved);
        QCOMPARE(m_f->store->saves[0].clientSessionAtSave, std::optional(stale));
        QCOMPARE(changed.size(), 1);
    } else {
        QVERIFY(m_f->store->saves.isEmpty());
        QCOMPARE(*m_f->client->session(), stale);
    }
}

void TestCloudClient::refreshWithoutNetworkKeepsTheSession() {
    const CloudSession stale = sessionExpiringIn(5);
    makeClient(stale);
    // Qt resends once on a fresh connection after a drop before any answer.
    m_f->server->enqueue(ScriptedAnswer::drop());
    m_f->server->enqueue(ScriptedAnswer::drop());
    const auto outcome = awaitTask(m_f->client->validSession());
    QCOMPARE(outcome.error<CloudError>()->kind(), Kind::Network);
    QVERIFY(!outcome.errorText().isEmpty());
    QCOMPARE(*m_f->client->session(), stale);
    QVERIFY(m_f->store->saves.isEmpty());
    QVERIFY(!m_f->client->isRefreshing());

    // A later call tries again.
    m_f->server->enqueue(ScriptedAnswer::json(200, tokenAnswer(u"access-2"_s, u"refresh-2"_s, 3600, userA)));
    const auto again = awaitTask(m_f->client->validSession());
    QVERIFY2(again.succeeded(), qPrintable(again.errorText()));
    QCOMPARE(m_f->requestsTo("/token"), 3);
}

void TestCloudClient::unauthorizedAnswerEndsTheSession() {
    const CloudSession session = sessionExpiringIn(3600);
    makeClient(session);
    m_f->server->enqueue(ScriptedAnswer::json(
        401, R"({"code":"PGRST303","details":null,"hint":null,"message":"JWT expired"})",
        {{"WWW-Authenticate", R"(Bearer error="invalid_token", error_description="JWT expired")"}}));
    const auto request =
        m_f->client->authorizedRequestWith(m_f->client->restURL(u"visitors"_s), session.accessToken);
    const auto outcome = awaitTask(m_f->client->perform(request));
    QCOMPARE(outcome.error<CloudError>()->kind(), Kind::SignedOut);
    QVERIFY(!m_f->client->isSignedIn());
    QCOMPARE(m_f->store->saves.size(), 1);
    QVERIFY(!m_f->store->saves[0].saved);
    QCOMPARE(m_f->store->saves[0].clientSessionAtSave, std::optional(session));
}

void TestCloudClient::unauthorizedAnswerForAnOldSessionKeepsTheNewOne() {
    makeClient(sessionExpiringIn(3600, userA, u"old"_s));
    auto late = ScriptedAnswer::json(401, R"({"message":"JWT expired"})");
    late.delay = std::chrono::milliseconds(200);
    m_f->server->enqueue(late);
    const auto old = start(m_f->client->perform(
        m_f->client->authorizedRequestWith(m_f->client->restURL(u"visitors"_s), u"access-old"_s)));

    // The desk signs out and another account signs in before the old answer arrives.
    m_f->server->enqueue(ScriptedAnswer::json(204, {}));
    m_f->client->signOutAccount();
    m_f->server->enqueue(
        ScriptedAnswer::json(200, tokenAnswer(u"access-new"_s, u"refresh-new"_s, 3600, userB)));
    QVERIFY(awaitTask(m_f->client->signInAccount(u"b@example.com"_s, u"pw"_s)).succeeded());

    QTRY_VERIFY(old->finished);
    QCOMPARE(old->error<CloudError>()->kind(), Kind::SignedOut);
    QVERIFY(m_f->client->isSignedIn());
    QCOMPARE(m_f->client->session()->userID, userB);
}

void TestCloudClient::websiteUnauthorizedKeepsTheSession() {
    const CloudSession session = sessionExpiringIn(3600);
    makeClient(session);
    m_f->server->enqueue(ScriptedAnswer::json(401, R"({"error":"Not signed in"})"));
    const auto outcome = awaitTask(m_f->client->performWebsite(
        m_f->client->authorizedRequestWith(m_f->client->websiteURL(u"api/invites"_s), session.accessToken)));
    QCOMPARE(outcome.error<CloudError>()->kind(), Kind::SignedOut);
    QCOMPARE(*m_f->client->session(), session);
    QVERIFY(m_f->store->saves.isEmpty());
}

void TestCloudClient::signInTrimsTheEmailOnly() {
    makeClient();
    QSignalSpy changed(m_f->client.get(), &CloudClient::sessionChanged);
    m_f->server->enqueue(ScriptedAnswer::json(200, tokenAnswer(u"access-9"_s, u"refresh-9"_s, 3600, userA)));
    const auto outcome =
        awaitTask(m_f->client->signInAccount(u" \tdesk@example.com \t"_s, u"  pass word  "_s));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(bodyObject(m_f->server->requests().constFirst()),
             (QJsonObject{{u"email"_s, u"desk@example.com"_s}, {u"password"_s, u"  pass word  "_s}}));

    const CloudSession expected{u"access-9"_s, u"refresh-9"_s, m_f->now.addSecs(3600), userA,
                                u"desk@example.com"_s};
    QCOMPARE(*m_f->client->session(), expected);
    QCOMPARE(m_f->store->saves.size(), 1);
    QCOMPARE(m_f->store->saves[0].saved, std::optional(expected));
    QVERIFY(!m_f->store->saves[0].clientSessionAtSave);
    QCOMPARE(changed.size(), 1);
}

void TestCloudClient::signInFailures_data() {
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("wrong password")
        << ScriptedAnswer::json(
               400, R"({"code":400,"error_code":"invalid_credentials","msg":"Invalid login credentials"})")
        << u"That email and password combination did not work."_s;
    QTest::newRow("unconfirmed email")
        << ScriptedAnswer::json(
               400, R"({"code":400,"error_code":"email_not_confirmed","msg":"Email not confirmed"})")
        << u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s;
    QTest::newRow("html 500") << ScriptedAnswer::json(500, "<html><h1>Bad gateway</h1></html>")
                              << u"The server answered 500."_s;
    QTest::newRow("token answer missing its user")
        << ScriptedAnswer::json(200, R"({"access_token":"a","refresh_token":"r","expires_in":3600})")
        << u"The server's answer could not be read: \"user\" is missing."_s;
}

void TestCloudClient::signInFailures() {
    QFETCH(ScriptedAnswer, answer);
    QFETCH(QString, text);
    makeClient();
    m_f->server->enqueue(answer);
    const auto outcome = awaitTask(m_f->client->signInAccount(u"desk@example.com"_s, u"pw"_s));
    QCOMPARE(outcome.errorText(), text);
    QVERIFY(!m_f->client->isSignedIn());
    QVERIFY(m_f->store->saves.isEmpty());
}

void TestCloudClient::tokenAnswerWithoutEmail() {
    makeClient();
    m_f->server->enqueue(ScriptedAnswer::json(200, tokenAnswer(u"a"_s, u"r"_s, 60, userA, std::nullopt)));
    QVERIFY(awaitTask(m_f->client->signInAccount(u"x@example.com"_s, u"pw"_s)).succeeded());
    QCOMPARE(m_f->client->session()->email, QString());
    QCOMPARE(m_f->client->session()->userID, userA);
}

void TestCloudClient::signUp_data() {
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("text");
    QTest::newRow("immediate session")
        << ScriptedAnswer::json(200, tokenAnswer(u"a"_s, u"r"_s, 3600, userA)) << true << QString();
    QTest::newRow("waits for confirmation")
        << ScriptedAnswer::json(
               200, QByteArray(R"({"id":")") + uuidLower(userA).toUtf8() +
                        R"(","email":"new@example.com","confirmation_sent_at":"2025-03-04T09:05:00Z"})")
        << false << QString();
    QTest::newRow("existing account")
        << ScriptedAnswer::json(
               422, R"({"code":422,"error_code":"user_already_exists","msg":"User already registered"})")
        << false << u"There's already an account for that email. Sign in with it instead."_s;
    QTest::newRow("weak password")
        << ScriptedAnswer::json(
               422,
               R"({"code":422,"error_code":"weak_password","msg":"Password should be at least 6 characters."})")
        << false << u"Password should be at least 6 characters."_s;
}

void TestCloudClient::signUp() {
    QFETCH(ScriptedAnswer, answer);
    QFETCH(bool, signedIn);
    QFETCH(QString, text);
    makeClient();
    m_f->server->enqueue(answer);
    const auto outcome =
        awaitTask(m_f->client->signUp(u" new@example.com "_s, u" secret "_s, u"  Ann Lee\n"_s));
    const RecordedRequest sent = m_f->server->requests().constFirst();
    QCOMPARE(sent.path, QByteArray("/auth/v1/signup"));
    QCOMPARE(bodyObject(sent), (QJsonObject{{u"email"_s, u"new@example.com"_s},
                                            {u"password"_s, u" secret "_s},
                                            {u"data"_s, QJsonObject{{u"name"_s, u"Ann Lee"_s}}}}));
    QCOMPARE(outcome.errorText(), text);
    QCOMPARE(m_f->client->isSignedIn(), signedIn);
    QCOMPARE(m_f->store->saves.size(), signedIn ? 1 : 0);
    if (outcome.succeeded()) {
        QCOMPARE(outcome.value->has_value(), signedIn);
    }
}

void TestCloudClient::passwordResetAsksForTheWebsiteCallback() {
    makeClient();
    m_f->server->enqueue(ScriptedAnswer::json(200, "{}"));
    const auto outcome = awaitTask(m_f->client->sendPasswordReset(u" desk@example.com\t"_s));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    const RecordedRequest sent = m_f->server->requests().constFirst();
    QCOMPARE(sent.path, QByteArray("/auth/v1/recover"));
    const QByteArray callback =
        m_f->server->baseUrl().toEncoded() + "/site/auth/callback?next=/reset-password";
    QCOMPARE(QByteArray::fromPercentEncoding(sent.rawQuery), "redirect_to=" + callback);
    QVERIFY(!sent.rawQuery.contains('&'));
    QCOMPARE(bodyObject(sent), (QJsonObject{{u"email"_s, u"desk@example.com"_s}}));

    m_f->server->enqueue(ScriptedAnswer::json(
        429,
        R"({"code":429,"error_code":"over_email_send_rate_limit","msg":"For security purposes, you can only request this after 60 seconds."})"));
    QCOMPARE(awaitTask(m_f->client->sendPasswordReset(u"desk@example.com"_s)).errorText(),
             u"For security purposes, you can only request this after 60 seconds."_s);
}

void TestCloudClient::changePasswordRefreshesAStaleTokenFirst() {
    makeClient(sessionExpiringIn(20));
    m_f->server->enqueue(ScriptedAnswer::json(200, tokenAnswer(u"access-2"_s, u"refresh-2"_s, 3600, userA)));
    m_f->server->enqueue(ScriptedAnswer::json(200, R"({"id":"x"})"));
    const auto outcome = awaitTask(m_f->client->changePassword(u" new pass "_s));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(m_f->server->requestCount(), 2);
    const RecordedRequest put = m_f->server->requests().at(1);
    QCOMPARE(put.method, QByteArray("PUT"));
    QCOMPARE(put.path, QByteArray("/auth/v1/user"));
    QCOMPARE(headerOf(put, "Authorization"), QByteArray("Bearer access-2"));
    QCOMPARE(bodyObject(put), (QJsonObject{{u"password"_s, u" new pass "_s}}));
}

void TestCloudClient::signOutEndsTheSessionAtOnce() {
    const CloudSession session = sessionExpiringIn(3600);
    makeClient(session);
    m_f->server->enqueue(ScriptedAnswer::hang());
    m_f->client->signOutAccount();
    // Nothing was awaited: the session is gone before the server heard anything.
    QVERIFY(!m_f->client->isSignedIn());
    QCOMPARE(m_f->store->saves.size(), 1);
    QVERIFY(!m_f->store->saves[0].saved);
    QCOMPARE(m_f->store->saves[0].clientSessionAtSave, std::optional(session));
    QVERIFY(m_f->server->waitForRequests(1));

    // Signing out again without a session sends nothing more.
    m_f->client->signOutAccount();
    QTest::qWait(50);
    QCOMPARE(m_f->server->requestCount(), 1);
}

void TestCloudClient::deleteAccountEndsTheSessionOnlyOnSuccess() {
    makeClient(sessionExpiringIn(3600));
    m_f->server->enqueue(ScriptedAnswer::json(500, R"({"code":"P0001","message":"could not delete"})"));
    QCOMPARE(awaitTask(m_f->client->deleteAccount()).errorText(), u"could not delete"_s);
    QVERIFY(m_f->client->isSignedIn());

    m_f->server->enqueue(ScriptedAnswer::json(204, {}));
    const auto outcome = awaitTask(m_f->client->deleteAccount());
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QVERIFY(!m_f->client->isSignedIn());
    const RecordedRequest sent = m_f->server->requests().constLast();
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.path, QByteArray("/rest/v1/rpc/delete_account"));
    QCOMPARE(sent.body, QByteArray("{}"));
    QVERIFY(!m_f->store->saves.constLast().saved);
}

void TestCloudClient::oddAnswersFailWithAClearMessage_data() {
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::addColumn<QString>("text");

    const QByteArray huge = "{\"access_token\":\"" + QByteArray(4 * 1024 * 1024, 'x') + "\"}";
    QTest::newRow("malformed json") << ScriptedAnswer::json(200, "{\"access_token\":")
                                    << u"The server's answer could not be read: it is not valid JSON."_s;
    QTest::newRow("not an object") << ScriptedAnswer::json(200, "[1,2,3]")
                                   << u"The server's answer could not be read: it is not an object."_s;
    QTest::newRow("wrong type")
        << ScriptedAnswer::json(
               200,
               R"({"access_token":5,"refresh_token":"r","expires_in":3600,"user":{"id":"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"}})")
        << u"The server's answer could not be read: \"access_token\" is not text."_s;
    QTest::newRow("user id not a uuid")
        << ScriptedAnswer::json(
               200, R"({"access_token":"a","refresh_token":"r","expires_in":3600,"user":{"id":"nope"}})")
        << u"The server's answer could not be read: \"id\" is not an identifier."_s;
    QTest::newRow("invalid utf-8") << ScriptedAnswer::json(200, "{\"access_token\":\"\xc3\x28\"}")
                                   << u"The server's answer could not be read: it is not valid JSON."_s;
    QTest::newRow("several megabytes") << ScriptedAnswer::json(200, huge)
                                       << u"The server's answer could not be read: \"user\" is missing."_s;
    QTest::newRow("dropped before answering")
        << ScriptedAnswer::drop() << u"The network connection was lost."_s;
    QTest::newRow("dropped mid-answer")
        << ScriptedAnswer::dropMidBody(200, tokenAnswer(u"a"_s, u"r"_s, 3600, userA))
        << u"The network connection was lost."_s;
    QTest::newRow("never answers") << ScriptedAnswer::hang() << u"The request timed out."_s;
}

void TestCloudClient::oddAnswersFailWithAClearMessage() {
    QFETCH(ScriptedAnswer, answer);
    QFETCH(QString, text);
    makeClient();
    m_f->server->setHandler([answer](const RecordedRequest &) { return answer; });
    const auto outcome = awaitTask(m_f->client->signInAccount(u"desk@example.com"_s, u"pw"_s));
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.errorText(), text);
    QVERIFY(!m_f->client->isSignedIn());
}

void TestCloudClient::unreachableServer() {
    const QUrl closed = m_f->server->baseUrl();
    m_f->server.reset(); // nothing listens on that port any more
    CloudConfig unreachable;
    unreachable.backendURL = closed;
    unreachable.websiteURL = closed;
    unreachable.publishableKey = testPublishableKey;
    m_f->client = std::make_unique<CloudClient>(*m_f->http, *m_f->store, unreachable);
    const auto outcome = awaitTask(m_f->client->signInAccount(u"desk@example.com"_s, u"pw"_s));
    QCOMPARE(outcome.errorText(), u"Could not connect to the server."_s);
}

QTEST_GUILESS_MAIN(TestCloudClient)
#include "tst_cloudclient.moc"
