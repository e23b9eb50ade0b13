// The Auth service under /auth/v1 in process: every refusal in both error shapes, the token answer, refresh
// token rotation and reuse, rate limits, sign-up with and without confirmation, recovery, the password
// change, sign-out scopes and the gateway's key check in front of it.
#include "ServerFixture.h"
#include "core/Jwt.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

using namespace tbserver;
using namespace tbserver::testing;

namespace {

const QString email = u"ada@example.com"_s;
const QString password = u"correct horse"_s;

QJsonObject claimsOf(const QString &token) {
    return QJsonDocument::fromJson(
               QByteArray::fromBase64(token.section(u'.', 1, 1).toLatin1(), QByteArray::Base64UrlEncoding))
        .object();
}

bool isUuidV4(const QJsonValue &value) {
    static const QRegularExpression uuid(
        u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s);
    return uuid.match(value.toString()).hasMatch();
}

QString wireTime(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
        .toString(u"yyyy-MM-ddTHH:mm:ss.000000Z"_s);
}

// A fixture with Ada signed up.
std::unique_ptr<ServerFixture> withAda(bool confirmEmails = false) {
    auto server = std::make_unique<ServerFixture>(confirmEmails);
    if (server->signUp(email, password).status != 200) {
        QTest::qFail("sign-up failed", __FILE__, __LINE__);
    }
    return server;
}

} // namespace

class TestServerAuth : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusals_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("setup"); // the bearer sent, or "unconfirmed" for a server that confirms
        QTest::addColumn<QByteArray>("answer"); // "status error_code message"
        const auto row = [](const char *name, const QByteArray &request, const char *setup,
                            const QByteArray &answer) {
            QTest::newRow(name) << request << QByteArray(setup) << answer;
        };
        const QByteArray grant = "POST /auth/v1/token?grant_type=password ";
        const QByteArray refresh = "POST /auth/v1/token?grant_type=refresh_token ";
        const QByteArray signUp = "POST /auth/v1/signup ";
        const QByteArray ada = R"({"email":"ada@example.com","password":"correct horse"})";
        const QByteArray invalid = "400 invalid_credentials Invalid login credentials";
        const QByteArray badJwt = "403 bad_jwt invalid JWT: unable to parse or verify signature, token ";
        const QByteArray noBearer = "401 no_authorization This endpoint requires a valid Bearer token";
        row("unknown email", grant + R"({"email":"nobody@example.com","password":"correct horse"})", "",
            invalid);
        row("wrong password", grant + R"({"email":"ada@example.com","password":"wrong horse"})", "", invalid);
        row("email not confirmed", grant + ada, "unconfirmed", "400 email_not_confirmed Email not confirmed");
        row("missing email", grant + R"({"password":"x"})", "",
            "400 validation_failed missing email or phone");
        row("unsupported grant", "POST /auth/v1/token?grant_type=magic {}", "",
            "400 invalid_credentials unsupported_grant_type");
        row("empty refresh token", refresh + R"({"refresh_token":""})", "",
            "400 validation_failed Refresh token is not valid");
        row("malformed refresh token", refresh + R"({"refresh_token":"a b"})", "",
            "400 validation_failed Refresh token is not valid");
        row("unknown refresh token", refresh + R"({"refresh_token":"k3j4h5g6f7d2"})", "",
            "400 refresh_token_not_found Invalid Refresh Token: Refresh Token Not Found");
        row("body not JSON", grant + "email=ada", "",
            "400 bad_json Could not parse request body as JSON: illegal value");
        row("sign-up of a taken address", signUp + R"({"email":"ADA@example.com","password":"another one"})",
            "", "422 user_already_exists User already registered");
        row("sign-up with a weak password", signUp + R"({"email":"bo@example.com","password":"12345"})", "",
            "422 weak_password Password should be at least 6 characters.");
        row("sign-up without password", signUp + R"({"email":"bo@example.com"})", "",
            "400 validation_failed Signup requires a valid password");
        row("sign-up with 73 bytes of password",
            signUp + "{\"email\":\"bo@example.com\",\"password\":\"" + QByteArray(73, 'x') + "\"}", "",
            "400 validation_failed Password cannot be longer than 72 characters");
        row("sign-up with a malformed address",
            signUp + R"({"email":"bo at example.com","password":"correct horse"})", "",
            "400 validation_failed Unable to validate email address: invalid format");
        row("sign-up without address", signUp + R"({"password":"correct horse"})", "",
            "422 validation_failed To signup, please provide your email");
        row("recovery without address", R"(POST /auth/v1/recover {"email":"  "})", "",
            "400 validation_failed Password recovery requires an email");
        row("user without bearer", "GET /auth/v1/user", "", noBearer);
        row("user with basic credentials", "GET /auth/v1/user", "Basic YWRhOmhvcnNl", noBearer);
        row("user with a malformed token", "GET /auth/v1/user", "Bearer not.a.token.at.all",
            badJwt + "is malformed: Expected 3 parts in JWT; got 5");
        row("user with a forged token", "GET /auth/v1/user", "forged",
            badJwt + "signature is invalid: signature is invalid");
        row("user with an expired token", "GET /auth/v1/user", "expired",
            badJwt + "has invalid claims: token is expired");
        row("user after sign-out", "GET /auth/v1/user", "ended",
            "403 session_not_found Session from session_id claim in JWT does not exist");
        row("user of a deleted account", "GET /auth/v1/user", "deleted",
            "403 user_not_found User from sub claim in JWT does not exist");
        row("same password", R"(PUT /auth/v1/user {"password":"correct horse"})", "valid",
            "422 same_password New password should be different from the old password.");
        row("weak new password", R"(PUT /auth/v1/user {"password":"abc"})", "valid",
            "422 weak_password Password should be at least 6 characters.");
        row("logout of an unknown scope", "POST /auth/v1/logout?scope=everywhere", "valid",
            "400 validation_failed Unsupported logout scope \"everywhere\"");
    }

    // Without X-Supabase-Api-Version (or with a date before 2024-01-01) the legacy shape; from that date on
    // the newest, with the header echoed.
    void refusals() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, answer);
        const auto server = withAda(setup == "unconfirmed");
        QByteArray authorization = setup.contains(' ') ? setup : QByteArray(); // sent as it is
        if (setup == "valid" || setup == "forged" || setup == "expired" || setup == "ended" ||
            setup == "deleted") {
            QString token = server->session(email, password).value(u"access_token").toString();
            if (setup == "forged") {
                token = QString::fromLatin1(Jwt("not the server's secret").sign(claimsOf(token)));
            } else if (setup == "expired") {
                server->advance(3601);
            } else if (setup == "ended") {
                QCOMPARE(server->authorized("POST", "/auth/v1/logout", token).status, 204);
            } else if (setup == "deleted") {
                server->db().exec("DELETE FROM users");
            }
            authorization = "Bearer " + token.toLatin1();
        }
        const QList<QByteArray> expected = answer.split(' ');
        const QString message = QString::fromUtf8(answer.mid(expected[0].size() + expected[1].size() + 2));
        const qsizetype first = request.indexOf(' ');
        const qsizetype second = request.indexOf(' ', first + 1);
        for (const QByteArray version : {"", "2023-12-31", "2024-01-01", "2025-06-30"}) {
            HeaderList headers;
            for (const auto &[name, value] :
                 {std::pair(versionHeader, version), std::pair(QByteArray("Authorization"), authorization)}) {
                if (!value.isEmpty()) {
                    headers.append({name, value});
                }
            }
            const HttpResponse response = server->call(
                request.left(first), request.mid(first + 1, second < 0 ? -1 : second - first - 1),
                second < 0 ? QByteArray() : request.mid(second + 1), headers);
            const bool newest = version >= "2024-01-01";
            QJsonObject body{{u"code"_s, newest ? QJsonValue(QString::fromLatin1(expected[1]))
                                                : QJsonValue(expected[0].toInt())}};
            body.insert(newest ? u"message"_s : u"msg"_s, message);
            if (!newest) {
                body.insert(u"error_code"_s, QString::fromLatin1(expected[1]));
            }
            if (expected[1] == "weak_password") {
                body.insert(u"weak_password"_s, QJsonObject{{u"reasons"_s, QJsonArray{u"length"_s}}});
            }
            QCOMPARE(response.status, expected[0].toInt());
            QCOMPARE(ServerFixture::object(response), body);
            QCOMPARE(response.header("x-sb-error-code"), expected[1]);
            QCOMPARE(response.header(versionHeader), newest ? QByteArray("2024-01-01") : QByteArray());
            QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
        }
    }

    // Addresses are trimmed and case-folded at sign-up and sign-in, passwords never; the answer is the hosted
    // service's session shape, its access token carries the hosted claims, and GET /user the bare user.
    void tokenAnswer() {
        ServerFixture server;
        const qint64 signedUpAt = server.now();
        const HttpResponse signedUp = server.signUp(u" Ada@Example.COM\t"_s, password, u"Zoë"_s);
        QCOMPARE(signedUp.status, 200);
        QVERIFY(ServerFixture::object(signedUp).value(u"access_token").isString());
        QVERIFY(server.outbox().isEmpty());
        server.advance(30);
        QCOMPARE(server.signIn(email, u" correct horse "_s).status, 400);
        const HttpResponse response = server.signIn(u"  ADA@EXAMPLE.com "_s, password);
        QCOMPARE(response.status, 200);
        const QJsonObject answer = ServerFixture::object(response);
        const QJsonObject user = answer.value(u"user").toObject();
        const QString accessToken = answer.value(u"access_token").toString();
        const QJsonObject claims = claimsOf(accessToken);
        const QString identity = user.value(u"identities")[0][u"identity_id"].toString();
        QVERIFY(isUuidV4(user.value(u"id")) && isUuidV4(identity) && isUuidV4(claims.value(u"session_id")));
        QVERIFY(identity != user.value(u"id").toString() &&
                answer.value(u"refresh_token").toString().size() >= 32);
        const auto expected = [&](QByteArray json) {
            json.replace("@user", user.value(u"id").toString().toLatin1())
                .replace("@identity", identity.toLatin1());
            json.replace("@created", wireTime(signedUpAt).toLatin1())
                .replace("@signedIn", wireTime(server.now()).toLatin1());
            json.replace("@now", QByteArray::number(server.now()))
                .replace("@exp", QByteArray::number(server.now() + 3600));
            json.replace("@session", claims.value(u"session_id").toString().toLatin1());
            json.replace("@access", accessToken.toLatin1())
                .replace("@refresh", answer.value(u"refresh_token").toString().toLatin1());
            json.replace("@app", R"({"provider":"email","providers":["email"]})")
                .replace("@meta", R"({"name":"Zoë"})");
            return QJsonDocument::fromJson(json).object();
        };
        QCOMPARE(
            user,
            expected(
                R"({"id":"@user","aud":"authenticated","role":"authenticated","email":"ada@example.com",)"
                R"("phone":"","app_metadata":@app,"user_metadata":@meta,"is_anonymous":false,)"
                R"("created_at":"@created","updated_at":"@created","email_confirmed_at":"@created",)"
                R"("confirmed_at":"@created","last_sign_in_at":"@signedIn","identities":[{"id":"@user",)"
                R"("identity_id":"@identity","user_id":"@user","provider":"email","email":"ada@example.com",)"
                R"("identity_data":{"email":"ada@example.com","email_verified":true,"phone_verified":false,)"
                R"("sub":"@user"},"created_at":"@created","updated_at":"@created","last_sign_in_at":"@signedIn"}]})"));
        QJsonObject withoutUser = answer;
        withoutUser.remove(u"user"_s);
        QCOMPARE(withoutUser, expected(R"({"access_token":"@access","token_type":"bearer","expires_in":3600,)"
                                       R"("expires_at":@exp,"refresh_token":"@refresh"})"));
        QCOMPARE(claims,
                 expected(R"({"iss":"http://127.0.0.1:54321/auth/v1","sub":"@user","aud":"authenticated",)"
                          R"("exp":@exp,"iat":@now,"email":"ada@example.com","phone":"","app_metadata":@app,)"
                          R"("user_metadata":@meta,"role":"authenticated","aal":"aal1","is_anonymous":false,)"
                          R"("amr":[{"method":"password","timestamp":@now}],"session_id":"@session"})"));
        QCOMPARE(ServerFixture::object(server.authorized("GET", "/auth/v1/user", accessToken)), user);
    }

    // Each refresh rotates the token within one session. A client that lost the answer to its refresh may
    // present the parent of the current token and gets the current one; any other reuse after the interval
    // ends the whole family (access tokens live on until they expire), and another session is untouched.
    void refreshRotation() {
        const auto server = withAda();
        const QJsonObject signedIn = server->session(email, password);
        const QString other = server->session(email, password).value(u"refresh_token").toString();
        const QString t0 = signedIn.value(u"refresh_token").toString();
        server->advance(100);
        const QJsonObject rotated = ServerFixture::object(server->refresh(t0));
        const QString t1 = rotated.value(u"refresh_token").toString();
        QVERIFY(!t1.isEmpty() && t1 != t0);
        QCOMPARE(rotated.value(u"expires_at").toInteger(), server->now() + 3600);
        QCOMPARE(claimsOf(rotated.value(u"access_token").toString()).value(u"session_id"),
                 claimsOf(signedIn.value(u"access_token").toString()).value(u"session_id"));
        server->advance(600);
        QCOMPARE(ServerFixture::object(server->refresh(t0)).value(u"refresh_token").toString(), t1);
        const QString t2 = ServerFixture::object(server->refresh(t1)).value(u"refresh_token").toString();
        QCOMPARE(server->refresh(t2).status, 200); // now t1 is not the parent of the current token
        server->advance(60);
        for (const QString &token : {t1, t2, t0}) {
            QCOMPARE(server->refresh(token).header("x-sb-error-code"),
                     QByteArray("refresh_token_already_used"));
        }
        QCOMPARE(server->refresh(other).status, 200);
        QCOMPARE(
            server->authorized("GET", "/auth/v1/user", signedIn.value(u"access_token").toString()).status,
            200);
    }

    void reuseWindow_data() {
        QTest::addColumn<int>("secondsLater");
        QTest::addColumn<int>("status");
        QTest::newRow("at the end of the window") << 10 << 200;
        QTest::newRow("just after it") << 11 << 400;
    }

    // t0 -> t1 -> t2: t0 is no longer the parent of the current token, so only the reuse window saves it.
    void reuseWindow() {
        QFETCH(int, secondsLater);
        QFETCH(int, status);
        const auto server = withAda();
        const QString t0 = server->session(email, password).value(u"refresh_token").toString();
        const QString t1 = ServerFixture::object(server->refresh(t0)).value(u"refresh_token").toString();
        const QString t2 = ServerFixture::object(server->refresh(t1)).value(u"refresh_token").toString();
        server->advance(secondsLater);
        const HttpResponse reused = server->refresh(t0);
        QCOMPARE(reused.status, status);
        QCOMPARE(reused.header("x-sb-error-code"),
                 status == 400 ? QByteArray("refresh_token_already_used") : QByteArray());
        const QString fresh = ServerFixture::object(reused).value(u"refresh_token").toString();
        QVERIFY(status == 400 || (fresh != t1 && fresh != t2 && server->refresh(fresh).status == 200));
    }

    void failedSignInLimit_data() {
        QTest::addColumn<bool>("samePeer");
        QTest::newRow("one address from many peers") << false;
        QTest::newRow("many addresses from one peer") << true;
    }

    // Ten failures in five minutes, by address or by peer, and even the right password is refused for the
    // rest of the window; successes do not count.
    void failedSignInLimit() {
        QFETCH(bool, samePeer);
        const auto server = withAda();
        QCOMPARE(server->signIn(email, password).status, 200);
        for (int attempt = 0; attempt < 10; ++attempt) {
            const QString who = samePeer ? u"guess%1@example.com"_s.arg(attempt) : email;
            QCOMPARE(server->signIn(who, u"wrong"_s, "10.0.1." + QByteArray::number(samePeer ? 1 : attempt))
                         .status,
                     400);
        }
        server->advance(299);
        const HttpResponse limited = server->signIn(email, password, samePeer ? "10.0.1.1" : "10.0.2.1");
        QCOMPARE(limited.status, 429);
        QCOMPARE(ServerFixture::object(limited), (QJsonObject{{u"code"_s, 429},
                                                              {u"error_code"_s, u"over_request_rate_limit"_s},
                                                              {u"msg"_s, u"Request rate limit reached"_s}}));
        server->advance(1);
        QCOMPARE(server->signIn(email, password, samePeer ? "10.0.1.1" : "10.0.2.1").status, 200);
    }

    void signUpWithConfirmation() {
        ServerFixture server(true);
        const QJsonObject user = ServerFixture::object(server.signUp(email, password));
        QVERIFY(!user.contains(u"access_token") && !user.contains(u"user") &&
                !user.contains(u"email_confirmed_at"));
        QCOMPARE(user.value(u"email").toString(), email);
        QVERIFY(user.value(u"confirmation_sent_at").isString());
        QCOMPARE(server.signUp(email, password).status, 429); // another email within the minute
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
        QVERIFY(
            server.call("GET", target).header("Location").contains("error_code=otp_expired")); // once only
        // Signing up again with the confirmed address looks like a fresh sign-up and reveals nothing.
        const HttpResponse repeated = server.signUp(email, u"something else"_s);
        QCOMPARE(repeated.status, 200);
        QVERIFY(ServerFixture::object(repeated).value(u"id") != user.value(u"id"));
        QCOMPARE(ServerFixture::object(repeated).value(u"identities").toArray().size(), 0);
        QCOMPARE(server.outbox().size(), 1);
        QCOMPARE(server.signIn(email, u"something else"_s).status, 400);
    }

    void recover_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("linkStart"); // empty: no email
        const QString fallback = u"http://127.0.0.1:54321/auth/callback?next=/reset-password&token="_s;
        QTest::newRow("no account") << QByteArray() << u"nobody@example.com"_s << QString();
        QTest::newRow("a page here") << QByteArray("?redirect_to=http%3A%2F%2F127.0.0.1%3A54321%2Fsupport")
                                     << u" ADA@example.com"_s << u"http://127.0.0.1:54321/support?token="_s;
        QTest::newRow("elsewhere") << QByteArray("?redirect_to=https%3A%2F%2Fattacker.example%2Fsteal")
                                   << email << fallback;
        QTest::newRow("another port")
            << QByteArray("?redirect_to=http%3A%2F%2F127.0.0.1%3A8080%2F") << email << fallback;
    }

    // The same answer whether or not the account exists, one email a minute per address, and the link only
    // ever points at this server.
    void recover() {
        QFETCH(QByteArray, query);
        QFETCH(QString, address);
        QFETCH(QString, linkStart);
        const auto server = withAda();
        const QByteArray body = ServerFixture::json({{u"email"_s, address}});
        const HttpResponse first = server->call("POST", "/auth/v1/recover" + query, body);
        QCOMPARE(first.status, 200);
        QCOMPARE(first.body, QByteArray("{}"));
        const QStringList mails = server->outbox();
        QCOMPARE(mails.size(), linkStart.isEmpty() ? 0 : 1);
        const QString link = mails.isEmpty() ? QString() : linkIn(mails[0], u"http"_s);
        QVERIFY2(link.startsWith(linkStart) &&
                     link.size() >= linkStart.size() + (linkStart.isEmpty() ? 0 : 30),
                 qPrintable(link));
        server->advance(30);
        const HttpResponse again = server->call("POST", "/auth/v1/recover", body);
        QCOMPARE(again.header("x-sb-error-code"), QByteArray("over_email_send_rate_limit"));
        QCOMPARE(ServerFixture::object(again),
                 (QJsonObject{
                     {u"code"_s, 429},
                     {u"error_code"_s, u"over_email_send_rate_limit"_s},
                     {u"msg"_s, u"For security purposes, you can only request this after 30 seconds."_s}}));
        server->advance(31);
        QCOMPARE(server->call("POST", "/auth/v1/recover", body).status, 200);
        QCOMPARE(server->outbox().size(), 2 * mails.size());
    }

    void passwordChangeEndsOtherSessions() {
        const auto server = withAda();
        const QJsonObject here = server->session(email, password);
        const QJsonObject elsewhere = server->session(email, password);
        const HttpResponse changed =
            server->authorized("PUT", "/auth/v1/user", here.value(u"access_token").toString(),
                               ServerFixture::json({{u"password"_s, u"battery staple"_s}}));
        QCOMPARE(ServerFixture::object(changed).value(u"email").toString(), email);
        QCOMPARE(server->refresh(here.value(u"refresh_token").toString()).status, 200);
        QCOMPARE(server->refresh(elsewhere.value(u"refresh_token").toString()).header("x-sb-error-code"),
                 QByteArray("refresh_token_not_found"));
        QCOMPARE(
            server->authorized("GET", "/auth/v1/user", elsewhere.value(u"access_token").toString()).status,
            403);
        QCOMPARE(server->signIn(email, password).status, 400);
        QCOMPARE(server->signIn(email, u"battery staple"_s).status, 200);
    }

    void logoutScopes_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QList<int>>("refreshes"); // of this session, then of another one
        QTest::newRow("default is global") << QByteArray() << QList<int>{400, 400};
        QTest::newRow("global") << QByteArray("?scope=global") << QList<int>{400, 400};
        QTest::newRow("local") << QByteArray("?scope=local") << QList<int>{400, 200};
        QTest::newRow("others") << QByteArray("?scope=others") << QList<int>{200, 400};
    }

    void logoutScopes() {
        QFETCH(QByteArray, query);
        QFETCH(QList<int>, refreshes);
        const auto server = withAda();
        const QJsonObject own = server->session(email, password);
        const QJsonObject other = server->session(email, password);
        const HttpResponse out =
            server->authorized("POST", "/auth/v1/logout" + query, own.value(u"access_token").toString());
        QCOMPARE(out.status, 204);
        QVERIFY(out.body.isEmpty());
        QCOMPARE((QList<int>{server->refresh(own.value(u"refresh_token").toString()).status,
                             server->refresh(other.value(u"refresh_token").toString()).status}),
                 refreshes);
    }

    // The gateway refuses a request without the key, or with another key, before the service sees it.
    void gatewayAndRoutes() {
        ServerFixture server;
        QCOMPARE(server.call("GET", "/auth/v1/nothing-here").status, 404);
        QCOMPARE(server.call("GET", "/auth/v1/token?grant_type=password").status, 405);
        for (const QByteArray path : {"/auth/v1/user", "/rest/v1/visitors"}) {
            HttpRequest request{"GET", path, {}, {}, {}, {}};
            QCOMPARE(
                server.app().handle(request).body,
                QByteArray(
                    R"({"hint":"No `apikey` request header or url param was found.","message":"No API key found in request"})"));
            request.headers = {{"apikey", "sb_publishable_other"}};
            const HttpResponse refused = server.app().handle(request);
            QCOMPARE(refused.status, 401);
            QCOMPARE(refused.body,
                     QByteArray(R"({"hint":"Double check your Supabase `anon` or `service_role` API key.",)"
                                R"("message":"Invalid API key"})"));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "tst_server_auth.moc"
