// The Auth service under /auth/v1, driven in process: every refusal in both error shapes, the token answers,
// rotation and reuse of refresh tokens, rate limits, sign-up with and without confirmation, recovery, the
// password change and sign-out.
#include "core/Jwt.h"
#include "tst_server_auth_fixture.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

using namespace tbtest;
using tbserver::HttpResponse;

namespace {

const QString email = u"ada@example.com"_s;
const QString password = u"correct horse"_s;

QJsonObject claimsOf(const QString &accessToken) {
    const QList<QString> parts = accessToken.split(u'.');
    if (parts.size() != 3) {
        return {};
    }
    return QJsonDocument::fromJson(QByteArray::fromBase64(parts[1].toLatin1(), QByteArray::Base64UrlEncoding))
        .object();
}

} // namespace

class TestServerAuth : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusals_data();
    void refusals();
    void apiVersionHeader_data();
    void apiVersionHeader();
    void tokenAnswer();
    void emailIsTrimmedAndCaseFolded();
    void refreshRotates();
    void reuseWindow_data();
    void reuseWindow();
    void parentOfCurrentGetsCurrent();
    void familyRevocationEndsEveryToken();
    void failedSignInLimit_data();
    void failedSignInLimit();
    void signUpWithoutConfirmation();
    void signUpWithConfirmation();
    void recoverAnswersAlike_data();
    void recoverAnswersAlike();
    void recoverLink_data();
    void recoverLink();
    void passwordChangeEndsOtherSessions();
    void logoutScopes_data();
    void logoutScopes();
    void unknownPath();
};

void TestServerAuth::refusals_data() {
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("bearer");
    QTest::addColumn<bool>("confirmEmails");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("message");

    const QByteArray grant = "/auth/v1/token?grant_type=password";
    const QByteArray refresh = "/auth/v1/token?grant_type=refresh_token";
    const auto body = [](const QJsonObject &object) { return ServerFixture::json(object); };
    const QString bad = u"invalid JWT: unable to parse or verify signature, "_s;

    QTest::newRow("unknown email") << QByteArray("POST") << grant
                                   << body({{u"email"_s, u"nobody@example.com"_s}, {u"password"_s, password}})
                                   << QString() << false << 400 << QByteArray("invalid_credentials")
                                   << u"Invalid login credentials"_s;
    QTest::newRow("wrong password") << QByteArray("POST") << grant
                                    << body({{u"email"_s, email}, {u"password"_s, u"wrong horse"_s}})
                                    << QString() << false << 400 << QByteArray("invalid_credentials")
                                    << u"Invalid login credentials"_s;
    QTest::newRow("email not confirmed")
        << QByteArray("POST") << grant << body({{u"email"_s, email}, {u"password"_s, password}}) << QString()
        << true << 400 << QByteArray("email_not_confirmed") << u"Email not confirmed"_s;
    QTest::newRow("missing email") << QByteArray("POST") << grant << body({{u"password"_s, password}})
                                   << QString() << false << 400 << QByteArray("validation_failed")
                                   << u"missing email or phone"_s;
    QTest::newRow("unsupported grant")
        << QByteArray("POST") << QByteArray("/auth/v1/token?grant_type=magic") << body({{u"email"_s, email}})
        << QString() << false << 400 << QByteArray("invalid_credentials") << u"unsupported_grant_type"_s;
    QTest::newRow("empty refresh token")
        << QByteArray("POST") << refresh << body({{u"refresh_token"_s, u""_s}}) << QString() << false << 400
        << QByteArray("validation_failed") << u"Refresh token is not valid"_s;
    QTest::newRow("malformed refresh token")
        << QByteArray("POST") << refresh << body({{u"refresh_token"_s, u"not a token!"_s}}) << QString()
        << false << 400 << QByteArray("validation_failed") << u"Refresh token is not valid"_s;
    QTest::newRow("unknown refresh token")
        << QByteArray("POST") << refresh << body({{u"refresh_token"_s, u"k3j4h5g6f7d2"_s}}) << QString()
        << false << 400 << QByteArray("refresh_token_not_found")
        << u"Invalid Refresh Token: Refresh Token Not Found"_s;
    QTest::newRow("body not JSON") << QByteArray("POST") << grant << QByteArray("email=ada") << QString()
                                   << false << 400 << QByteArray("bad_json")
                                   << u"Could not parse request body as JSON: illegal value"_s;
    QTest::newRow("sign-up of a taken address")
        << QByteArray("POST") << QByteArray("/auth/v1/signup")
        << body({{u"email"_s, u"ADA@example.com"_s}, {u"password"_s, u"another one"_s}}) << QString() << false
        << 422 << QByteArray("user_already_exists") << u"User already registered"_s;
    QTest::newRow("sign-up with a weak password")
        << QByteArray("POST") << QByteArray("/auth/v1/signup")
        << body({{u"email"_s, u"bo@example.com"_s}, {u"password"_s, u"12345"_s}}) << QString() << false << 422
        << QByteArray("weak_password") << u"Password should be at least 6 characters."_s;
    QTest::newRow("sign-up without password")
        << QByteArray("POST") << QByteArray("/auth/v1/signup") << body({{u"email"_s, u"bo@example.com"_s}})
        << QString() << false << 400 << QByteArray("validation_failed")
        << u"Signup requires a valid password"_s;
    QTest::newRow("sign-up with 73 bytes of password")
        << QByteArray("POST") << QByteArray("/auth/v1/signup")
        << body({{u"email"_s, u"bo@example.com"_s}, {u"password"_s, QString(73, u'x')}}) << QString() << false
        << 400 << QByteArray("validation_failed") << u"Password cannot be longer than 72 characters"_s;
    QTest::newRow("sign-up with a malformed address")
        << QByteArray("POST") << QByteArray("/auth/v1/signup")
        << body({{u"email"_s, u"bo at example.com"_s}, {u"password"_s, password}}) << QString() << false
        << 400 << QByteArray("validation_failed") << u"Unable to validate email address: invalid format"_s;
    QTest::newRow("sign-up without address")
        << QByteArray("POST") << QByteArray("/auth/v1/signup") << body({{u"password"_s, password}})
        << QString() << false << 422 << QByteArray("validation_failed")
        << u"To signup, please provide your email"_s;
    QTest::newRow("recovery without address")
        << QByteArray("POST") << QByteArray("/auth/v1/recover") << body({{u"email"_s, u"  "_s}}) << QString()
        << false << 400 << QByteArray("validation_failed") << u"Password recovery requires an email"_s;
    QTest::newRow("user without bearer")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"none"_s << false << 401
        << QByteArray("no_authorization") << u"This endpoint requires a valid Bearer token"_s;
    QTest::newRow("user with basic credentials")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"basic"_s << false << 401
        << QByteArray("no_authorization") << u"This endpoint requires a valid Bearer token"_s;
    QTest::newRow("user with a malformed token")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"garbage"_s << false << 403
        << QByteArray("bad_jwt") << bad + u"token is malformed: Expected 3 parts in JWT; got 5"_s;
    QTest::newRow("user with a forged token")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"forged"_s << false << 403
        << QByteArray("bad_jwt") << bad + u"token signature is invalid: signature is invalid"_s;
    QTest::newRow("user with an expired token")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"expired"_s << false << 403
        << QByteArray("bad_jwt") << bad + u"token has invalid claims: token is expired"_s;
    QTest::newRow("user after sign-out")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"ended"_s << false << 403
        << QByteArray("session_not_found") << u"Session from session_id claim in JWT does not exist"_s;
    QTest::newRow("user of a deleted account")
        << QByteArray("GET") << QByteArray("/auth/v1/user") << QByteArray() << u"deleted"_s << false << 403
        << QByteArray("user_not_found") << u"User from sub claim in JWT does not exist"_s;
    QTest::newRow("same password") << QByteArray("PUT") << QByteArray("/auth/v1/user")
                                   << body({{u"password"_s, password}}) << u"valid"_s << false << 422
                                   << QByteArray("same_password")
                                   << u"New password should be different from the old password."_s;
    QTest::newRow("weak new password")
        << QByteArray("PUT") << QByteArray("/auth/v1/user") << body({{u"password"_s, u"abc"_s}}) << u"valid"_s
        << false << 422 << QByteArray("weak_password") << u"Password should be at least 6 characters."_s;
    QTest::newRow("logout without bearer")
        << QByteArray("POST") << QByteArray("/auth/v1/logout") << QByteArray() << u"none"_s << false << 401
        << QByteArray("no_authorization") << u"This endpoint requires a valid Bearer token"_s;
    QTest::newRow("logout of an unknown scope")
        << QByteArray("POST") << QByteArray("/auth/v1/logout?scope=everywhere") << QByteArray() << u"valid"_s
        << false << 400 << QByteArray("validation_failed") << u"Unsupported logout scope \"everywhere\""_s;
}

void TestServerAuth::refusals() {
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    QFETCH(QString, bearer);
    QFETCH(bool, confirmEmails);
    QFETCH(int, status);
    QFETCH(QByteArray, code);
    QFETCH(QString, message);

    ServerFixture server({confirmEmails, {}});
    QCOMPARE(server.signUp(email, password).status, 200);
    QByteArray authorization;
    if (bearer == u"basic") {
        authorization = "Basic YWRhOmhvcnNl";
    } else if (bearer == u"garbage") {
        authorization = "Bearer not.a.token.at.all";
    } else if (!bearer.isEmpty() && bearer != u"none") {
        QString token = server.session(email, password).value(u"access_token").toString();
        if (bearer == u"forged") {
            token = QString::fromLatin1(tbserver::Jwt("not the server's secret").sign(claimsOf(token)));
        } else if (bearer == u"expired") {
            server.advance(3601);
        } else if (bearer == u"ended") {
            QCOMPARE(server.authorized("POST", "/auth/v1/logout", token).status, 204);
        } else if (bearer == u"deleted") {
            server.db().exec("DELETE FROM users");
        }
        authorization = "Bearer " + token.toLatin1();
    }

    QJsonObject weak;
    if (code == "weak_password") {
        weak.insert(u"weak_password"_s, QJsonObject{{u"reasons"_s, QJsonArray{u"length"_s}}});
    }
    for (const bool newest : {false, true}) {
        tbserver::HeaderList headers;
        if (!authorization.isEmpty()) {
            headers.append({"Authorization", authorization});
        }
        if (newest) {
            headers.append({versionHeader, "2024-01-01"});
        }
        const HttpResponse response = server.call(method, target, body, headers);
        QCOMPARE(response.status, status);
        QCOMPARE(response.header("x-sb-error-code"), code);
        QJsonObject expected = weak;
        if (newest) {
            expected.insert(u"code"_s, QString::fromLatin1(code));
            expected.insert(u"message"_s, message);
            QCOMPARE(response.header(versionHeader), QByteArray("2024-01-01"));
        } else {
            expected.insert(u"code"_s, status);
            expected.insert(u"error_code"_s, QString::fromLatin1(code));
            expected.insert(u"msg"_s, message);
            QVERIFY(response.header(versionHeader).isEmpty());
        }
        QCOMPARE(ServerFixture::object(response), expected);
        QVERIFY(response.header("Content-Type").startsWith("application/json"));
    }
}

void TestServerAuth::apiVersionHeader_data() {
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("newest");
    QTest::newRow("the named version") << QByteArray("2024-01-01") << true;
    QTest::newRow("a later date") << QByteArray("2025-06-30") << true;
    QTest::newRow("an earlier date") << QByteArray("2023-12-31") << false;
    QTest::newRow("not a date") << QByteArray("latest") << false;
}

void TestServerAuth::apiVersionHeader() {
    QFETCH(QByteArray, version);
    QFETCH(bool, newest);
    ServerFixture server;
    const HttpResponse response = server.call("GET", "/auth/v1/user", {}, {{versionHeader, version}});
    QCOMPARE(response.status, 401);
    QCOMPARE(ServerFixture::object(response).value(u"code").isString(), newest);
    QCOMPARE(response.header(versionHeader), newest ? QByteArray("2024-01-01") : QByteArray());
}

void TestServerAuth::tokenAnswer() {
    ServerFixture server;
    QCOMPARE(server.signUp(email, password, u"Ada Lovelace"_s).status, 200);
    server.advance(30);
    const HttpResponse response = server.signIn(email, password);
    QCOMPARE(response.status, 200);
    const QJsonObject answer = ServerFixture::object(response);
    QCOMPARE(answer.value(u"token_type").toString(), u"bearer"_s);
    QCOMPARE(answer.value(u"expires_in").toInteger(), 3600);
    QCOMPARE(answer.value(u"expires_at").toInteger(), server.now() + 3600);
    QVERIFY(answer.value(u"refresh_token").toString().size() >= 32);

    const QJsonObject user = answer.value(u"user").toObject();
    static const QRegularExpression uuid(
        u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s);
    static const QRegularExpression time(u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}Z$"_s);
    QVERIFY(uuid.match(user.value(u"id").toString()).hasMatch());
    QCOMPARE(user.value(u"aud").toString(), u"authenticated"_s);
    QCOMPARE(user.value(u"role").toString(), u"authenticated"_s);
    QCOMPARE(user.value(u"email").toString(), email);
    QCOMPARE(user.value(u"phone").toString(), u""_s);
    for (const auto key :
         {u"email_confirmed_at", u"confirmed_at", u"last_sign_in_at", u"created_at", u"updated_at"}) {
        QVERIFY2(time.match(user.value(key).toString()).hasMatch(), qPrintable(QStringView(key).toString()));
    }
    QCOMPARE(user.value(u"app_metadata").toObject(),
             (QJsonObject{{u"provider"_s, u"email"_s}, {u"providers"_s, QJsonArray{u"email"_s}}}));
    QCOMPARE(user.value(u"user_metadata").toObject(), (QJsonObject{{u"name"_s, u"Ada Lovelace"_s}}));
    QCOMPARE(user.value(u"is_anonymous"), QJsonValue(false));
    const QJsonArray identities = user.value(u"identities").toArray();
    QCOMPARE(identities.size(), 1);
    QCOMPARE(identities[0][u"provider"].toString(), u"email"_s);
    QCOMPARE(identities[0][u"user_id"].toString(), user.value(u"id").toString());

    const QJsonObject claims = claimsOf(answer.value(u"access_token").toString());
    QCOMPARE(claims.value(u"iss").toString(), u"http://127.0.0.1:54321/auth/v1"_s);
    QCOMPARE(claims.value(u"sub").toString(), user.value(u"id").toString());
    QCOMPARE(claims.value(u"aud").toString(), u"authenticated"_s);
    QCOMPARE(claims.value(u"iat").toInteger(), server.now());
    QCOMPARE(claims.value(u"exp").toInteger(), server.now() + 3600);
    QCOMPARE(claims.value(u"email").toString(), email);
    QCOMPARE(claims.value(u"phone").toString(), u""_s);
    QCOMPARE(claims.value(u"role").toString(), u"authenticated"_s);
    QCOMPARE(claims.value(u"aal").toString(), u"aal1"_s);
    QCOMPARE(claims.value(u"is_anonymous"), QJsonValue(false));
    QCOMPARE(claims.value(u"user_metadata").toObject(), user.value(u"user_metadata").toObject());
    QCOMPARE(claims.value(u"app_metadata").toObject(), user.value(u"app_metadata").toObject());
    QVERIFY(uuid.match(claims.value(u"session_id").toString()).hasMatch());

    // The bare user object on GET /user, the same account.
    const HttpResponse me =
        server.authorized("GET", "/auth/v1/user", answer.value(u"access_token").toString());
    QCOMPARE(me.status, 200);
    QCOMPARE(ServerFixture::object(me).value(u"id"), user.value(u"id"));
    QVERIFY(!ServerFixture::object(me).contains(u"access_token"));
}

void TestServerAuth::emailIsTrimmedAndCaseFolded() {
    ServerFixture server;
    QCOMPARE(server.signUp(u" Ada@Example.COM\t"_s, password).status, 200);
    QCOMPARE(server.signIn(u"ada@example.com"_s, password).status, 200);
    const HttpResponse response = server.signIn(u"  ADA@EXAMPLE.com "_s, password);
    QCOMPARE(response.status, 200);
    QCOMPARE(ServerFixture::object(response)[u"user"][u"email"].toString(), u"ada@example.com"_s);
    // Passwords are never trimmed.
    QCOMPARE(server.signIn(email, u" correct horse "_s).status, 400);
}

void TestServerAuth::refreshRotates() {
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QJsonObject first = server.session(email, password);
    server.advance(100);
    const HttpResponse response = server.refresh(first.value(u"refresh_token").toString());
    QCOMPARE(response.status, 200);
    const QJsonObject second = ServerFixture::object(response);
    QVERIFY(second.value(u"refresh_token").toString() != first.value(u"refresh_token").toString());
    QCOMPARE(second.value(u"expires_at").toInteger(), server.now() + 3600);
    QCOMPARE(claimsOf(second.value(u"access_token").toString()).value(u"session_id"),
             claimsOf(first.value(u"access_token").toString()).value(u"session_id"));
    QCOMPARE(second[u"user"][u"email"].toString(), email);
    QCOMPARE(server.refresh(second.value(u"refresh_token").toString()).status, 200);
}

void TestServerAuth::reuseWindow_data() {
    QTest::addColumn<int>("secondsLater");
    QTest::addColumn<int>("status");
    QTest::newRow("at once") << 0 << 200;
    QTest::newRow("at the end of the window") << 10 << 200;
    QTest::newRow("just after the window") << 11 << 400;
    QTest::newRow("an hour later") << 3600 << 400;
}

void TestServerAuth::reuseWindow() {
    QFETCH(int, secondsLater);
    QFETCH(int, status);
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    // t0 -> t1 -> t2: t0 is no longer the parent of the current token, so only the window saves it.
    const QString t0 = server.session(email, password).value(u"refresh_token").toString();
    const QString t1 = ServerFixture::object(server.refresh(t0)).value(u"refresh_token").toString();
    const QString t2 = ServerFixture::object(server.refresh(t1)).value(u"refresh_token").toString();
    QVERIFY(!t2.isEmpty());
    server.advance(secondsLater);
    const HttpResponse reused = server.refresh(t0);
    QCOMPARE(reused.status, status);
    if (status == 200) {
        const QString fresh = ServerFixture::object(reused).value(u"refresh_token").toString();
        QVERIFY(fresh != t0 && fresh != t1 && fresh != t2);
        QCOMPARE(server.refresh(fresh).status, 200);
    } else {
        QCOMPARE(reused.header("x-sb-error-code"), QByteArray("refresh_token_already_used"));
    }
}

void TestServerAuth::parentOfCurrentGetsCurrent() {
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QString t0 = server.session(email, password).value(u"refresh_token").toString();
    const QString t1 = ServerFixture::object(server.refresh(t0)).value(u"refresh_token").toString();
    // Long after the window: a client that lost the answer to its refresh presents t0 again.
    server.advance(600);
    const HttpResponse again = server.refresh(t0);
    QCOMPARE(again.status, 200);
    QCOMPARE(ServerFixture::object(again).value(u"refresh_token").toString(), t1);
    QCOMPARE(server.refresh(t1).status, 200);
}

void TestServerAuth::familyRevocationEndsEveryToken() {
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QJsonObject signedIn = server.session(email, password);
    const QString t0 = signedIn.value(u"refresh_token").toString();
    const QString t1 = ServerFixture::object(server.refresh(t0)).value(u"refresh_token").toString();
    const QString t2 = ServerFixture::object(server.refresh(t1)).value(u"refresh_token").toString();
    const QString other = server.session(email, password).value(u"refresh_token").toString();
    server.advance(60);
    QCOMPARE(server.refresh(t0).header("x-sb-error-code"), QByteArray("refresh_token_already_used"));
    // The whole family is over, at once and later; another session of the account is untouched.
    QCOMPARE(server.refresh(t2).header("x-sb-error-code"), QByteArray("refresh_token_already_used"));
    QCOMPARE(server.refresh(t1).header("x-sb-error-code"), QByteArray("refresh_token_already_used"));
    QCOMPARE(server.refresh(other).status, 200);
    // As at the hosted service, the access token stays good until it expires.
    QCOMPARE(server.authorized("GET", "/auth/v1/user", signedIn.value(u"access_token").toString()).status,
             200);
}

void TestServerAuth::failedSignInLimit_data() {
    QTest::addColumn<bool>("samePeer");
    QTest::addColumn<bool>("sameEmail");
    QTest::addColumn<int>("waitAfterwards");
    QTest::addColumn<int>("lastStatus");
    QTest::newRow("one address from many peers") << false << true << 0 << 429;
    QTest::newRow("many addresses from one peer") << true << false << 0 << 429;
    QTest::newRow("window passed") << true << true << 300 << 200;
    QTest::newRow("window not passed yet") << true << true << 299 << 429;
}

void TestServerAuth::failedSignInLimit() {
    QFETCH(bool, samePeer);
    QFETCH(bool, sameEmail);
    QFETCH(int, waitAfterwards);
    QFETCH(int, lastStatus);
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    QCOMPARE(server.signIn(email, password).status, 200); // successes do not count
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QString who = sameEmail ? email : u"guess%1@example.com"_s.arg(attempt);
        const QByteArray peer = samePeer ? QByteArray("10.0.0.1") : "10.0.1." + QByteArray::number(attempt);
        QCOMPARE(server.signIn(who, u"wrong"_s, peer).status, 400);
    }
    server.advance(waitAfterwards);
    const HttpResponse last =
        server.signIn(email, password, samePeer ? QByteArray("10.0.0.1") : QByteArray("10.0.2.1"));
    QCOMPARE(last.status, lastStatus);
    if (lastStatus == 429) {
        QCOMPARE(ServerFixture::object(last), (QJsonObject{{u"code"_s, 429},
                                                           {u"error_code"_s, u"over_request_rate_limit"_s},
                                                           {u"msg"_s, u"Request rate limit reached"_s}}));
    }
}

void TestServerAuth::signUpWithoutConfirmation() {
    ServerFixture server;
    const HttpResponse response = server.signUp(email, password, u"Zoë"_s);
    QCOMPARE(response.status, 200);
    const QJsonObject answer = ServerFixture::object(response);
    QVERIFY(!answer.value(u"access_token").toString().isEmpty());
    QCOMPARE(answer[u"user"][u"user_metadata"][u"name"].toString(), u"Zoë"_s);
    QVERIFY(answer[u"user"][u"email_confirmed_at"].isString());
    QCOMPARE(server.authorized("GET", "/auth/v1/user", answer.value(u"access_token").toString()).status, 200);
    QCOMPARE(server.signIn(email, password).status, 200);
    QVERIFY(server.outbox().isEmpty());
}

void TestServerAuth::signUpWithConfirmation() {
    ServerFixture server({true, {}});
    const HttpResponse response = server.signUp(email, password);
    QCOMPARE(response.status, 200);
    const QJsonObject user = ServerFixture::object(response);
    QVERIFY(!user.contains(u"access_token") && !user.contains(u"user"));
    QCOMPARE(user.value(u"email").toString(), email);
    QVERIFY(user.value(u"confirmation_sent_at").isString());
    QVERIFY(!user.contains(u"email_confirmed_at"));
    QCOMPARE(server.signIn(email, password).header("x-sb-error-code"), QByteArray("email_not_confirmed"));

    // A second sign-up within the minute would send another email: refused.
    QCOMPARE(server.signUp(email, password).status, 429);

    const QStringList mails = server.outbox();
    QCOMPARE(mails.size(), 1);
    QVERIFY(mails[0].contains(u"To: ada@example.com"_s));
    const QString link = linkIn(mails[0], u"http://127.0.0.1:54321/auth/v1/verify?token="_s);
    QVERIFY2(link.endsWith(u"&type=signup"_s), qPrintable(mails[0]));
    const QByteArray target = QUrl(link).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1();
    const HttpResponse opened = server.call("GET", target);
    QCOMPARE(opened.status, 303);
    QCOMPARE(opened.header("Location"), QByteArray("http://127.0.0.1:54321/auth/callback?type=signup"));
    QCOMPARE(server.signIn(email, password).status, 200);
    // The link works once.
    QVERIFY(server.call("GET", target).header("Location").contains("error_code=otp_expired"));

    // Signing up again with the confirmed address looks like a fresh sign-up and reveals nothing.
    const HttpResponse repeated = server.signUp(email, u"something else"_s);
    QCOMPARE(repeated.status, 200);
    const QJsonObject disguised = ServerFixture::object(repeated);
    QVERIFY(disguised.value(u"id") != user.value(u"id"));
    QCOMPARE(disguised.value(u"identities").toArray().size(), 0);
    QCOMPARE(server.outbox().size(), 1);
    QCOMPARE(server.signIn(email, u"something else"_s).status, 400);
}

void TestServerAuth::recoverAnswersAlike_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("emails");
    QTest::newRow("an account") << u" ADA@example.com"_s << 1;
    QTest::newRow("no account") << u"nobody@example.com"_s << 0;
}

void TestServerAuth::recoverAnswersAlike() {
    QFETCH(QString, address);
    QFETCH(int, emails);
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QByteArray body = ServerFixture::json({{u"email"_s, address}});
    const HttpResponse first = server.call("POST", "/auth/v1/recover", body);
    QCOMPARE(first.status, 200);
    QCOMPARE(first.body, QByteArray("{}"));
    QCOMPARE(server.outbox().size(), emails);
    server.advance(30);
    const HttpResponse again = server.call("POST", "/auth/v1/recover", body);
    QCOMPARE(again.status, 429);
    QCOMPARE(again.header("x-sb-error-code"), QByteArray("over_email_send_rate_limit"));
    QCOMPARE(ServerFixture::object(again).value(u"msg").toString(),
             u"For security purposes, you can only request this after 30 seconds."_s);
    server.advance(31);
    QCOMPARE(server.call("POST", "/auth/v1/recover", body).status, 200);
    QCOMPARE(server.outbox().size(), 2 * emails);
}

void TestServerAuth::recoverLink_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("linkStart");
    const QString fallback = u"http://127.0.0.1:54321/auth/callback?next=/reset-password&token="_s;
    QTest::newRow("the desk's redirect")
        << QByteArray(
               "?redirect_to=http%3A%2F%2F127.0.0.1%3A54321%2Fauth%2Fcallback%3Fnext%3D%2Freset-password")
        << fallback;
    QTest::newRow("another page here") << QByteArray("?redirect_to=http%3A%2F%2F127.0.0.1%3A54321%2Fsupport")
                                       << u"http://127.0.0.1:54321/support?token="_s;
    QTest::newRow("elsewhere") << QByteArray("?redirect_to=https%3A%2F%2Fattacker.example%2Fsteal")
                               << fallback;
    QTest::newRow("another port") << QByteArray("?redirect_to=http%3A%2F%2F127.0.0.1%3A8080%2F") << fallback;
    QTest::newRow("none") << QByteArray() << fallback;
}

void TestServerAuth::recoverLink() {
    QFETCH(QByteArray, query);
    QFETCH(QString, linkStart);
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    QCOMPARE(
        server.call("POST", "/auth/v1/recover" + query, ServerFixture::json({{u"email"_s, email}})).status,
        200);
    const QStringList mails = server.outbox();
    QCOMPARE(mails.size(), 1);
    const QString link = linkIn(mails[0], u"http"_s);
    QVERIFY2(link.startsWith(linkStart), qPrintable(link));
    QVERIFY(link.size() > linkStart.size() + 30);
}

void TestServerAuth::passwordChangeEndsOtherSessions() {
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QJsonObject here = server.session(email, password);
    const QJsonObject elsewhere = server.session(email, password);
    const QString newPassword = u"battery staple"_s;
    const HttpResponse changed =
        server.authorized("PUT", "/auth/v1/user", here.value(u"access_token").toString(),
                          ServerFixture::json({{u"password"_s, newPassword}}));
    QCOMPARE(changed.status, 200);
    QCOMPARE(ServerFixture::object(changed).value(u"email").toString(), email);
    QCOMPARE(server.refresh(here.value(u"refresh_token").toString()).status, 200);
    QCOMPARE(server.refresh(elsewhere.value(u"refresh_token").toString()).header("x-sb-error-code"),
             QByteArray("refresh_token_not_found"));
    QCOMPARE(server.authorized("GET", "/auth/v1/user", elsewhere.value(u"access_token").toString()).status,
             403);
    QCOMPARE(server.signIn(email, password).status, 400);
    QCOMPARE(server.signIn(email, newPassword).status, 200);
}

void TestServerAuth::logoutScopes_data() {
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("ownSurvives");
    QTest::addColumn<bool>("otherSurvives");
    QTest::newRow("default is global") << QByteArray() << false << false;
    QTest::newRow("global") << QByteArray("?scope=global") << false << false;
    QTest::newRow("local") << QByteArray("?scope=local") << false << true;
    QTest::newRow("others") << QByteArray("?scope=others") << true << false;
}

void TestServerAuth::logoutScopes() {
    QFETCH(QByteArray, query);
    QFETCH(bool, ownSurvives);
    QFETCH(bool, otherSurvives);
    ServerFixture server;
    QCOMPARE(server.signUp(email, password).status, 200);
    const QJsonObject own = server.session(email, password);
    const QJsonObject other = server.session(email, password);
    const HttpResponse out =
        server.authorized("POST", "/auth/v1/logout" + query, own.value(u"access_token").toString());
    QCOMPARE(out.status, 204);
    QVERIFY(out.body.isEmpty());
    QCOMPARE(server.refresh(own.value(u"refresh_token").toString()).status, ownSurvives ? 200 : 400);
    QCOMPARE(server.refresh(other.value(u"refresh_token").toString()).status, otherSurvives ? 200 : 400);
}

void TestServerAuth::unknownPath() {
    ServerFixture server;
    QCOMPARE(server.call("GET", "/auth/v1/nothing-here").status, 404);
    QCOMPARE(server.call("GET", "/auth/v1/token?grant_type=password").status, 405);
    // The gateway refuses a request without the key before the service sees it.
    tbserver::HttpRequest bare;
    bare.method = "GET";
    bare.path = "/auth/v1/user";
    const HttpResponse refused = server.app().handle(bare);
    QCOMPARE(refused.status, 401);
    QCOMPARE(ServerFixture::object(refused).value(u"message").toString(), u"No API key found in request"_s);
}

QTEST_GUILESS_MAIN(TestServerAuth)
#include "tst_server_auth.moc"
