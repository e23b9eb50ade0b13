// The Auth service under /auth/v1 in process: every refusal in both error shapes, the token answer, refresh
// token rotation and reuse, rate limits, sign-up with confirmation, recovery, the ways a session ends, and
// the gateway's key check in front of it.
#include "ServerFixture.h"
#include "core/Jwt.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

#include <sodium.h>

using namespace tbserver;
using namespace tbserver::testing;

namespace {

const QString email = u"ada@example.com"_s;
const QString password = u"correct horse"_s;

QJsonObject claimsOf(const QString &token) {
    const QByteArray payload = token.section(u'.', 1, 1).toLatin1();
    return QJsonDocument::fromJson(QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding)).object();
}

QByteArray statusAnd(const HttpResponse &response, const QByteArray &header) {
    return QByteArray::number(response.status) + ' ' + response.header(header);
}

// A fixture with Ada signed up, her password hashed again at libsodium's lowest cost: the server verifies
// an Argon2id string at the cost it names, so the many sign-ins here stay fast.
std::unique_ptr<ServerFixture> withAda(bool confirmEmails = false) {
    auto server = std::make_unique<ServerFixture>(confirmEmails);
    char hash[crypto_pwhash_STRBYTES];
    if (server->signUp(email, password).status != 200 ||
        crypto_pwhash_str(hash, "correct horse", 13, crypto_pwhash_OPSLIMIT_MIN,
                          crypto_pwhash_MEMLIMIT_MIN)) {
        QTest::qFail("sign-up failed", __FILE__, __LINE__);
    }
    server->db().prepare("UPDATE users SET password_hash = ?").bindText(1, hash).run();
    return server;
}

} // namespace

class TestServerAuth : public QObject {
    Q_OBJECT

    std::unique_ptr<ServerFixture> m_ada; // shared by the refusals that change nothing

private Q_SLOTS:
    void initTestCase() { m_ada = withAda(); }

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
        const QByteArray invalid = "400 invalid_credentials Invalid login credentials";
        const QByteArray badJwt = "403 bad_jwt invalid JWT: unable to parse or verify signature, token ";
        row("unknown email", grant + R"({"email":"bo@example.com","password":"correct horse"})", "", invalid);
        row("wrong password", grant + R"({"email":"ada@example.com","password":"wrong horse"})", "", invalid);
        row("email not confirmed", grant + R"({"email":"ada@example.com","password":"correct horse"})",
            "unconfirmed", "400 email_not_confirmed Email not confirmed");
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
        row("sign-up of a taken address",
            R"(POST /auth/v1/signup {"email":"ADA@example.com","password":"another"})", "",
            "422 user_already_exists User already registered");
        row("sign-up with a weak password",
            R"(POST /auth/v1/signup {"email":"bo@example.com","password":"12345"})", "",
            "422 weak_password Password should be at least 6 characters.");
        row("sign-up without password", R"(POST /auth/v1/signup {"email":"bo@example.com"})", "",
            "400 validation_failed Signup requires a valid password");
        row("sign-up with 73 bytes of password",
            "POST /auth/v1/signup {\"email\":\"bo@example.com\",\"password\":\"" + QByteArray(73, 'x') +
                "\"}",
            "", "400 validation_failed Password cannot be longer than 72 characters");
        row("sign-up with a malformed address",
            R"(POST /auth/v1/signup {"email":"bo at example.com","password":"abcdef"})", "",
            "400 validation_failed Unable to validate email address: invalid format");
        row("sign-up without address", R"(POST /auth/v1/signup {"password":"abcdef"})", "",
            "422 validation_failed To signup, please provide your email");
        row("recovery without address", R"(POST /auth/v1/recover {"email":"  "})", "",
            "400 validation_failed Password recovery requires an email");
        row("user without bearer", "GET /auth/v1/user", "",
            "401 no_authorization This endpoint requires a valid Bearer token");
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
        row("weak new password", R"(PUT /auth/v1/user {"password":"abc"})", "valid",
            "422 weak_password Password should be at least 6 characters.");
        row("same password", R"(PUT /auth/v1/user {"password":"correct horse"})", "valid",
            "422 same_password New password should be different from the old password.");
        row("logout of an unknown scope", "POST /auth/v1/logout?scope=everywhere", "valid",
            "400 validation_failed Unsupported logout scope \"everywhere\"");
    }

    // Without X-Supabase-Api-Version, or with a date before 2024-01-01, the legacy shape; from that date on
    // the newest, 2024-01-01 echoed. Both carry x-sb-error-code.
    void refusals() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, answer);
        const bool changes = QByteArrayList{"unconfirmed", "expired", "ended", "deleted"}.contains(setup);
        const auto own = changes ? withAda(setup == "unconfirmed") : nullptr;
        ServerFixture *server = changes ? own.get() : m_ada.get();
        QByteArray authorization = setup.contains(' ') ? setup : QByteArray(); // sent as it is
        if (QByteArrayList{"valid", "forged", "expired", "ended", "deleted"}.contains(setup)) {
            QString token = server->session(email, password).value(u"access_token").toString();
            if (setup == "forged") {
                token = QString::fromLatin1(Jwt("not the server's secret").sign(claimsOf(token)));
            } else if (setup == "expired") {
                server->advance(3600); // the expiry second itself
            } else if (setup == "ended") {
                QCOMPARE(server->authorized("POST", "/auth/v1/logout", token).status, 204);
            } else if (setup == "deleted") {
                server->db().exec("DELETE FROM users");
            }
            authorization = "Bearer " + token.toLatin1();
        }
        const QList<QByteArray> words = answer.split(' ');
        const QString message = QString::fromUtf8(answer.mid(words[0].size() + words[1].size() + 2));
        for (const QByteArray version : {"", "2023-12-31", "2024-01-01", "2025-06-30"}) {
            const HttpResponse response = server->send(
                request, {{"X-Supabase-Api-Version", version}, {"Authorization", authorization}});
            const bool newest = version >= "2024-01-01";
            QJsonObject body =
                newest ? QJsonObject{{u"code"_s, QString::fromLatin1(words[1])}, {u"message"_s, message}}
                       : QJsonObject{{u"code"_s, words[0].toInt()},
                                     {u"error_code"_s, QString::fromLatin1(words[1])},
                                     {u"msg"_s, message}};
            if (words[1] == "weak_password") {
                body.insert(u"weak_password"_s, QJsonObject{{u"reasons"_s, QJsonArray{u"length"_s}}});
            }
            QCOMPARE(statusAnd(response, "x-sb-error-code") + ' ' +
                         response.header("X-Supabase-Api-Version") + response.header("Content-Type"),
                     words[0] + ' ' + words[1] + ' ' + (newest ? "2024-01-01" : "") +
                         "application/json; charset=utf-8");
            QCOMPARE(ServerFixture::object(response), body);
        }
    }

    // Addresses are trimmed and case-folded at sign-up and sign-in, passwords never; the answer is the hosted
    // service's session shape, its access token carries the hosted claims, and GET /user the bare user.
    void tokenAnswer() {
        ServerFixture server;
        const auto wireTime = [&server] {
            return QDateTime::fromSecsSinceEpoch(server.now(), QTimeZone::utc())
                .toString(u"yyyy-MM-ddTHH:mm:ss.000000Z"_s)
                .toLatin1();
        };
        const QByteArray created = wireTime();
        QCOMPARE(server.signUp(u" Ada@Example.COM\t"_s, password, u"Zoë"_s).status, 200);
        QVERIFY(server.outbox().isEmpty());
        server.advance(30);
        QCOMPARE(server.signIn(email, u" correct horse "_s).status, 400);
        const HttpResponse signedIn = server.signIn(u"  ADA@EXAMPLE.com "_s, password);
        QCOMPARE(signedIn.status, 200);
        const QJsonObject answer = ServerFixture::object(signedIn);
        const QJsonObject user = answer.value(u"user").toObject();
        const QString accessToken = answer.value(u"access_token").toString();
        const QJsonObject claims = claimsOf(accessToken);
        static const QRegularExpression uuid(
            u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s);
        const QString id = user.value(u"id").toString();
        const QString identity = user.value(u"identities")[0][u"identity_id"].toString();
        const QString session = claims.value(u"session_id").toString();
        QVERIFY(uuid.match(id).hasMatch() && uuid.match(identity).hasMatch() &&
                uuid.match(session).hasMatch() && identity != id);
        QVERIFY(answer.value(u"refresh_token").toString().size() >= 32);
        QByteArray expectedAnswer =
            R"({"access_token":"@access","token_type":"bearer","expires_in":3600,"expires_at":@exp,)"
            R"("refresh_token":"@refresh","user":{"id":"@user","aud":"authenticated","role":"authenticated",)"
            R"("email":"ada@example.com","phone":"","app_metadata":@app,"user_metadata":{"name":"Zoë"},)"
            R"("is_anonymous":false,"created_at":"@created","updated_at":"@created",)"
            R"("email_confirmed_at":"@created","confirmed_at":"@created","last_sign_in_at":"@signedIn",)"
            R"("identities":[{"id":"@user","identity_id":"@identity","user_id":"@user","provider":"email",)"
            R"("email":"ada@example.com","identity_data":{"email":"ada@example.com","email_verified":true,)"
            R"("phone_verified":false,"sub":"@user"},"created_at":"@created","updated_at":"@created",)"
            R"("last_sign_in_at":"@signedIn"}]}})";
        QByteArray expectedClaims =
            R"({"iss":"http://127.0.0.1:54321/auth/v1","sub":"@user","aud":"authenticated","exp":@exp,)"
            R"("iat":@now,"email":"ada@example.com","phone":"","app_metadata":@app,"role":"authenticated",)"
            R"("user_metadata":{"name":"Zoë"},"aal":"aal1","is_anonymous":false,"session_id":"@session",)"
            R"("amr":[{"method":"password","timestamp":@now}]})";
        for (QByteArray *json : {&expectedAnswer, &expectedClaims}) {
            json->replace("@access", accessToken.toLatin1())
                .replace("@refresh", answer[u"refresh_token"].toString().toLatin1());
            json->replace("@user", id.toLatin1())
                .replace("@identity", identity.toLatin1())
                .replace("@session", session.toLatin1());
            json->replace("@created", created)
                .replace("@signedIn", wireTime())
                .replace("@now", QByteArray::number(server.now()));
            json->replace("@exp", QByteArray::number(server.now() + 3600))
                .replace("@app", R"({"provider":"email","providers":["email"]})");
        }
        QCOMPARE(answer, QJsonDocument::fromJson(expectedAnswer).object());
        QCOMPARE(claims, QJsonDocument::fromJson(expectedClaims).object());
        QCOMPARE(ServerFixture::object(server.authorized("GET", "/auth/v1/user", accessToken)), user);
    }

    // Each refresh rotates the token within its session. A rotated token is still good for 10 seconds; a
    // client that lost the answer to its refresh may present the parent of the current token and gets the
    // current one; any other reuse ends the whole family, while another session and the access tokens already
    // issued live on.
    void refreshTokens() {
        const auto server = withAda();
        const QJsonObject signedIn = server->session(email, password);
        const auto next = [&](const QString &token) {
            return ServerFixture::object(server->refresh(token))[u"refresh_token"].toString();
        };
        const QString a0 = signedIn.value(u"refresh_token").toString();
        const QString b0 = server->session(email, password).value(u"refresh_token").toString();
        const QString c0 = server->session(email, password).value(u"refresh_token").toString();
        server->advance(100);
        const QJsonObject rotated = ServerFixture::object(server->refresh(a0));
        const QString a1 = rotated.value(u"refresh_token").toString();
        QVERIFY(!a1.isEmpty() && a1 != a0 &&
                rotated.value(u"expires_at").toInteger() == server->now() + 3600);
        QCOMPARE(claimsOf(rotated.value(u"access_token").toString()).value(u"session_id"),
                 claimsOf(signedIn.value(u"access_token").toString()).value(u"session_id"));
        const QString b2 = next(next(b0));
        const QString c2 = next(next(c0));
        server->advance(10);
        const QString fresh = next(b0);
        QVERIFY(!fresh.isEmpty() && fresh != b2 && !next(fresh).isEmpty());
        server->advance(1);
        for (const QString &token : {c0, c2}) {
            QCOMPARE(statusAnd(server->refresh(token), "x-sb-error-code"), "400 refresh_token_already_used");
        }
        server->advance(600);
        QCOMPARE(next(a0), a1);
        QVERIFY(!next(a1).isEmpty());
        QCOMPARE(
            server->authorized("GET", "/auth/v1/user", signedIn.value(u"access_token").toString()).status,
            200);
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
            if (samePeer) {
                server->createUser(who); // its stored hash matches nothing and costs nothing to check
            }
            QCOMPARE(server->signIn(who, u"wrong"_s, "10.0.1." + QByteArray::number(samePeer ? 1 : attempt))
                         .status,
                     400);
        }
        server->advance(299);
        const HttpResponse limited = server->signIn(email, password, samePeer ? "10.0.1.1" : "10.0.2.1");
        QCOMPARE(
            QByteArray::number(limited.status) + limited.body,
            R"(429{"code":429,"error_code":"over_request_rate_limit","msg":"Request rate limit reached"})");
        server->advance(1);
        QCOMPARE(server->signIn(email, password, samePeer ? "10.0.1.1" : "10.0.2.1").status, 200);
    }

    // The bare user and no session until the emailed link is opened, once; one email a minute; and a second
    // sign-up with the confirmed address looks like a fresh one and reveals nothing.
    void signUpWithConfirmation() {
        ServerFixture server(true);
        const HttpResponse signedUp = server.signUp(email, password);
        const QJsonObject user = ServerFixture::object(signedUp);
        QCOMPARE(signedUp.status, 200);
        QVERIFY(user.value(u"confirmation_sent_at").isString() && user.value(u"email") == email);
        QVERIFY(!user.contains(u"access_token") && !user.contains(u"user") &&
                !user.contains(u"email_confirmed_at"));
        QCOMPARE(server.signUp(email, password).status, 429);
        QVERIFY(server.outbox().value(0).contains(u"To: ada@example.com"_s));
        const QString link =
            linkIn(server.outbox().value(0), u"http://127.0.0.1:54321/auth/v1/verify?token="_s);
        QVERIFY2(link.endsWith(u"&type=signup"_s), qPrintable(link));
        const QByteArray target = QUrl(link).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1();
        QCOMPARE(statusAnd(server.call("GET", target), "Location"),
                 "303 http://127.0.0.1:54321/auth/callback?type=signup");
        QCOMPARE(server.signIn(email, password).status, 200);
        QVERIFY(server.call("GET", target).header("Location").contains("error_code=otp_expired"));
        const HttpResponse again = server.signUp(email, u"something else"_s);
        const QJsonObject repeated = ServerFixture::object(again);
        QCOMPARE(again.status, 200);
        QVERIFY(repeated.value(u"id").isString() && repeated.value(u"id") != user.value(u"id"));
        QCOMPARE(repeated.value(u"identities").toArray().size() + server.outbox().size(), 1);
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
        QTest::newRow("elsewhere") << QByteArray("?redirect_to=https%3A%2F%2Fattacker.example%2F") << email
                                   << fallback;
        QTest::newRow("another port")
            << QByteArray("?redirect_to=http%3A%2F%2F127.0.0.1%3A8080%2F") << email << fallback;
        QTest::newRow("another host")
            << QByteArray("?redirect_to=http%3A%2F%2Fattacker.example%3A54321%2F") << email << fallback;
    }

    // The same answer whether or not the account exists, one email a minute per address, and the link only
    // ever points at this server.
    void recover() {
        QFETCH(QByteArray, query);
        QFETCH(QString, address);
        QFETCH(QString, linkStart);
        const auto server = withAda();
        const QByteArray request =
            "POST /auth/v1/recover" + query + ' ' + ServerFixture::json({{u"email"_s, address}});
        const HttpResponse first = server->send(request);
        QCOMPARE(QByteArray::number(first.status) + first.body, "200{}");
        const QStringList mails = server->outbox();
        const QString link = linkIn(mails.value(0), u"http"_s);
        QCOMPARE(mails.size(), linkStart.isEmpty() ? 0 : 1);
        QVERIFY2(link.startsWith(linkStart) && (linkStart.isEmpty() || link.size() > linkStart.size() + 30),
                 qPrintable(link));
        server->advance(30);
        QCOMPARE(
            server->send(request).body,
            QByteArray(R"({"code":429,"error_code":"over_email_send_rate_limit",)"
                       R"("msg":"For security purposes, you can only request this after 30 seconds."})"));
        server->advance(31);
        QCOMPARE(server->send(request).status, 200);
        QCOMPARE(server->outbox().size(), 2 * mails.size());
    }

    void endingSessions_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("refreshes"); // of this session, then of another one
        const auto row = [](const char *request, const char *refreshes) {
            QTest::newRow(request) << QByteArray(request) << QByteArray(refreshes);
        };
        row("POST /auth/v1/logout", "400 400"); // global by default
        row("POST /auth/v1/logout?scope=global", "400 400");
        row("POST /auth/v1/logout?scope=local", "400 200");
        row("POST /auth/v1/logout?scope=others", "200 400");
        row(R"(PUT /auth/v1/user {"password":"battery staple"})", "200 400");
    }

    void endingSessions() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, refreshes);
        const auto server = withAda();
        const QJsonObject own = server->session(email, password);
        const QJsonObject other = server->session(email, password);
        const HttpResponse response = server->send(
            request, {{"Authorization", "Bearer " + own[u"access_token"].toString().toLatin1()}});
        QCOMPARE(QByteArray::number(response.status) + ' ' +
                     ServerFixture::object(response)[u"email"].toString().toLatin1(),
                 request.startsWith("PUT") ? "200 ada@example.com" : "204 ");
        QCOMPARE(QByteArray::number(server->refresh(own[u"refresh_token"].toString()).status) + ' ' +
                     QByteArray::number(server->refresh(other[u"refresh_token"].toString()).status),
                 refreshes);
        if (request.startsWith("PUT")) {
            QCOMPARE(server->authorized("GET", "/auth/v1/user", other[u"access_token"].toString()).status,
                     403);
            QCOMPARE(server->signIn(email, password).status, 400);
            QCOMPARE(server->signIn(email, u"battery staple"_s).status, 200);
        }
    }

    // The gateway refuses a request without the key, or with another key, before the service sees it.
    void gatewayAndRoutes() {
        ServerFixture server;
        QCOMPARE(server.call("GET", "/auth/v1/nothing-here").status, 404);
        QCOMPARE(server.call("GET", "/auth/v1/token?grant_type=password").status, 405);
        for (const QByteArray path : {"/auth/v1/user", "/rest/v1/visitors"}) {
            HttpRequest request{"GET", path, {}, {}, {}, {}};
            QCOMPARE(
                QByteArray::number(server.app().handle(request).status) + server.app().handle(request).body,
                R"(401{"hint":"No `apikey` request header or url param was found.","message":"No API key found in request"})");
            request.headers = {{"apikey", "sb_publishable_other"}};
            QCOMPARE(
                QByteArray::number(server.app().handle(request).status) + server.app().handle(request).body,
                R"(401{"hint":"Double check your Supabase `anon` or `service_role` API key.","message":"Invalid API key"})");
        }
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "tst_server_auth.moc"
