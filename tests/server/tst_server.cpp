// The whole local server in this process, driven through its router with the gateway's key check on a clock
// the test moves: the HTTP parser and a real loopback listener; the Auth service under /auth/v1 (a refusal
// of each kind in both error shapes, the token answer, refresh rotation and reuse, rate limits, confirmation,
// recovery, the ways a session ends); the REST service (the query language, Content-Range, an error body of
// each kind, the desk's writes, row ownership against a second account, hostile input); the website (the
// invite API, the guest's page, the pages and the version manifest, the password-reset page).
#include "ServerApp.h"
#include "core/Crypto.h"
#include "core/Jwt.h"
#include "http/HttpParser.h"
#include "rest/InviteStore.h"
#include "rest/PgTypes.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>

#include <memory>
#include <sodium.h>

using namespace tbserver;
using namespace Qt::StringLiterals;

namespace {

const QByteArray testKey = "sb_publishable_test_key";

// A whole server in this process on a temporary data folder, driven through ServerApp::handle() (the router,
// with the gateway's key check) on a clock the test moves, so each test sees exactly what the wire carries.
class ServerFixture final {
public:
    explicit ServerFixture(bool confirmEmails = false, const QString &manifestFile = {}) {
        ServerConfig config;
        config.dataDir = m_dir.filePath(u"data"_s);
        config.publishableKey = testKey;
        config.confirmEmails = confirmEmails;
        config.manifestFile = manifestFile;
        config.logRequests = false;
        m_app = std::make_unique<ServerApp>(config);
        m_app->context().setPublicBaseUrl("http://127.0.0.1:54321");
        m_app->context().setClock([this] { return m_now; });
    }

    ServerApp &app() { return *m_app; }
    Database &db() { return m_app->database(); }
    [[nodiscard]] qint64 now() const { return m_now; }
    void advance(qint64 seconds) { m_now += seconds; }

    // `target` is the path and query, still percent-encoded; /auth/v1 and /rest/v1 get the gateway's key.
    HttpResponse call(const QByteArray &method, const QByteArray &target, const QByteArray &body = {},
                      HeaderList headers = {}, const QByteArray &peer = "127.0.0.1") {
        const qsizetype question = target.indexOf('?');
        if (target.startsWith("/auth/v1/") || target.startsWith("/rest/v1/")) {
            headers.append({"apikey", testKey});
        }
        return m_app->handle({method, target.left(question < 0 ? target.size() : question),
                              question < 0 ? QByteArray() : target.mid(question + 1), headers, body, peer});
    }
    // `request` is "METHOD target[ body]".
    HttpResponse send(const QByteArray &request, const HeaderList &headers = {}) {
        const qsizetype first = request.indexOf(' ');
        const qsizetype second = request.indexOf(' ', first + 1);
        return call(request.left(first), request.mid(first + 1, second < 0 ? -1 : second - first - 1),
                    second < 0 ? QByteArray() : request.mid(second + 1), headers);
    }
    HttpResponse authorized(const QByteArray &method, const QByteArray &target, const QString &token,
                            const QByteArray &body = {}) {
        return call(method, target, body, {{"Authorization", "Bearer " + token.toLatin1()}});
    }

    HttpResponse signUp(const QString &email, const QString &password, const QString &name = u"Ada"_s) {
        return call("POST", "/auth/v1/signup",
                    json({{u"email"_s, email},
                          {u"password"_s, password},
                          {u"data"_s, QJsonObject{{u"name"_s, name}}}}));
    }
    HttpResponse signIn(const QString &email, const QString &password, const QByteArray &peer = "127.0.0.1") {
        return call("POST", "/auth/v1/token?grant_type=password",
                    json({{u"email"_s, email}, {u"password"_s, password}}), {}, peer);
    }
    HttpResponse refresh(const QString &token) {
        return call("POST", "/auth/v1/token?grant_type=refresh_token", json({{u"refresh_token"_s, token}}));
    }
    QJsonObject session(const QString &email, const QString &password) {
        return object(signIn(email, password));
    }

    // A user row made directly, and an access token for it: the REST service only reads the token.
    QString createUser(const QString &email) {
        const QString id = crypto::uuidV4();
        Statement insert =
            db().prepare("INSERT INTO users (id, email, password_hash, created_at, updated_at) "
                         "VALUES (?, ?, 'x', '2025-01-01T00:00:00Z', '2025-01-01T00:00:00Z')");
        insert.bind(1, id).bind(2, email).run();
        return id;
    }
    [[nodiscard]] QByteArray token(const QString &userId, qint64 lifetime = 3600,
                                   const QString &role = u"authenticated"_s) const {
        return m_app->context().jwt().sign({{u"sub"_s, userId},
                                            {u"session_id"_s, crypto::uuidV4()},
                                            {u"role"_s, role},
                                            {u"exp"_s, double(m_now + lifetime)}});
    }
    qint64 rowCount(const QByteArray &table) {
        Statement count = db().prepare("SELECT count(*) FROM " + table);
        count.step();
        return count.integer(0);
    }

    // Every email written so far, oldest first.
    [[nodiscard]] QStringList outbox() const {
        const QDir folder(m_app->outbox().folder());
        QStringList messages;
        for (const QString &name : folder.entryList({u"*.eml"_s}, QDir::Files, QDir::Name)) {
            QFile file(folder.filePath(name));
            messages.append(file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString());
        }
        return messages;
    }

    static QByteArray json(const QJsonObject &object) {
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    static QJsonObject object(const HttpResponse &response) {
        return QJsonDocument::fromJson(response.body).object();
    }

private:
    QTemporaryDir m_dir;
    qint64 m_now = QDateTime::currentSecsSinceEpoch();
    std::unique_ptr<ServerApp> m_app;
};

// The first link in `text` that starts with `prefix`, to the end of its line.
QString linkIn(const QString &text, const QString &prefix) {
    const qsizetype at = text.indexOf(prefix);
    return at < 0 ? QString() : text.mid(at, text.indexOf(u'\r', at) - at).trimmed();
}

// Ten visitors of one account chosen for the edges of the query language: wildcards, quotes, a plus,
// non-ASCII, null hosts, several time zones, two sign-ins in the same second. Ids are ...0001 to ...000a.
const QByteArray sampleVisitors = R"json([
{"id":"00000000-0000-4000-8000-000000000001","visitor_name":"Ann Lee","host_name":"Maria Garcia",
 "answers":[{"label":"Company","value":"Acme"}],"signed_in_at":"2025-03-01T09:00:00Z","signed_out_at":"2025-03-01T10:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000002","visitor_name":"Bob Stone","host_name":null,
 "answers":[{"label":"Company","value":"Globex"}],"signed_in_at":"2025-03-02T09:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000003","visitor_name":"Zoë Brontë","host_name":"Jürgen Groß",
 "answers":[{"label":"Purpose","value":"Café meeting"}],"signed_in_at":"2025-03-03T12:30:00.5Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000004","visitor_name":"50%_off Sales","host_name":"Maria Garcia",
 "answers":[{"label":"Note","value":"back\\slash"}],"signed_in_at":"2025-03-04T08:00:00+01:00","signed_out_at":"2025-03-04T09:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000005","visitor_name":"a+b Consulting","host_name":"Tom",
 "answers":[],"signed_in_at":"2025-03-05T00:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000006","visitor_name":"Ann_Lee","host_name":"Tom",
 "answers":[{"label":"Company","value":"Initech"}],"signed_in_at":"2025-03-06T23:59:59.999999Z","signed_out_at":"2025-03-07T08:00:00Z"},
{"id":"00000000-0000-4000-8000-000000000007","visitor_name":"annette smith","host_name":"Maria Garcia",
 "answers":[{"label":"Company","value":"Acme"}],"signed_in_at":"2025-03-07T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000008","visitor_name":"O'Brien, Pat","host_name":null,
 "answers":[{"label":"Company","value":"It's \"quoted\""}],"signed_in_at":"2025-03-08T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-000000000009","visitor_name":"Tie One","host_name":null,
 "answers":[],"signed_in_at":"2025-03-08T10:00:00Z","signed_out_at":null},
{"id":"00000000-0000-4000-8000-00000000000a","visitor_name":"Carol *Star*","host_name":"Tom",
 "answers":[],"signed_in_at":"2025-02-28T23:00:00-02:00","signed_out_at":"2025-03-01T02:00:00Z"}
])json";

// Newest first by signed_in_at, then id.
const QByteArray sampleNewestFirst =
    "Tie One|O'Brien, Pat|annette smith|Ann_Lee|a+b Consulting|50%_off Sales|Zoë Brontë|Bob Stone|Ann "
    "Lee|Carol *Star*";

// ---- http

QByteArray readUntil(QTcpSocket &socket, const QByteArray &ending) {
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (!data.endsWith(ending) && timer.elapsed() < 10000) {
        QTest::qWait(5);
        data += socket.readAll();
    }
    return data;
}

// ---- auth

const QString email = u"ada@example.com"_s;
const QString password = u"correct horse"_s;

QJsonObject claimsOf(const QString &token) {
    const QByteArray payload = token.section(u'.', 1, 1).toLatin1();
    return QJsonDocument::fromJson(QByteArray::fromBase64(payload, QByteArray::Base64UrlEncoding)).object();
}

QByteArray statusAnd(const HttpResponse &response, const QByteArray &header) {
    return QByteArray::number(response.status) + ' ' + response.header(header);
}

QByteArray statusBody(const HttpResponse &response) {
    return QByteArray::number(response.status) + ' ' + response.body;
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

// ---- rest

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

// ---- website

const QByteArray invite =
    R"({"answers":[{"slot":0,"value":"Ana"},{"slot":1,"value":"Bluefin"}],"email":"guest@example.com",)"
    R"("visit_date":"2030-03-04","visit_time":"14:30","note":"Ring twice."})";

// Signs a host up, with a sign-in form of Name and Company and a place name; returns the access token.
QString host(ServerFixture &server, const QString &email, const QString &placeName = u"Studio"_s) {
    const QJsonObject signedUp = ServerFixture::object(server.signUp(email, password, u"Priya"_s));
    Statement insert =
        server.db().prepare("INSERT INTO kiosk_settings (owner_id, fields, place_name) VALUES (?1, ?2, ?3)");
    insert.bind(1, signedUp[u"user"][u"id"].toString()).bind(3, placeName);
    insert.bindText(2, R"([{"slot":0,"label":"Name"},{"slot":1,"label":"Company"}])").run();
    return signedUp.value(u"access_token").toString();
}

HttpResponse create(ServerFixture &server, const QString &token, const QByteArray &body = invite) {
    return server.authorized("POST", "/api/invites", token, body);
}

QString inviteLink(ServerFixture &server, int mail = 0) {
    return linkIn(server.outbox().value(mail), u"http://127.0.0.1:54321/i/"_s);
}

} // namespace

class TestServer : public QObject {
    Q_OBJECT

    std::unique_ptr<ServerFixture> m_ada; // shared by the refusals that change nothing
    ServerFixture m_fx;
    QString m_alice; // the account under test; Bob, the other account, tries to reach Alice's rows
    QByteArray m_aliceToken;
    QHash<QByteArray, QByteArray> m_as; // the Authorization header sent for a request starting with the key
    InviteRecord m_invite;
    std::unique_ptr<RestService> m_walker; // the same service with its search index switched off
    ServerFixture m_site;                  // for the refused invites, which leave nothing behind
    QString m_siteHost;

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
            "list_name, search_text)) FROM visitors WHERE owner_id = ?1) || (SELECT "
            "json_group_array(json_array(place_name, employees)) FROM kiosk_settings WHERE owner_id = ?1) "
            "|| (SELECT json_group_array(used_at) FROM invites WHERE owner_id = ?1) || (SELECT count(*) "
            "FROM users WHERE id = ?1) || (SELECT count(*) FROM visitors_search WHERE visitors_search MATCH "
            "'acme')");
        rows.bind(1, m_alice);
        rows.step();
        return rows.text(0);
    }

private Q_SLOTS:
    void initTestCase() {
        m_ada = withAda();
        m_siteHost = host(m_site, u"host@example.com"_s);
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
                {"swapped", "Bearer " + good[0] + '.' + other + '.' + good[2]},
                {"alg-none", "Bearer " + crypto::base64Url(R"({"alg":"none"})") + '.' + other + '.'},
                {"basic", "Basic " + m_aliceToken},
                {"not-a-uuid", "Bearer " + m_fx.app().context().jwt().sign({{u"sub"_s, u"1 OR 1=1"_s},
                                                                            {u"role"_s, u"authenticated"_s},
                                                                            {u"exp"_s, 4102444800.0}})}};
        QCOMPARE(send("POST visitors " + sampleVisitors).status, 201);
        send(R"(bob POST visitors [{"visitor_name":"Ann Lee"},{"visitor_name":"Bravo Guest"}])");
        m_invite = InviteStore(m_fx.app().context())
                       .create(m_alice, {u"Guest"_s, u"guest@example.com"_s, {}, {}, {}, {}});
        m_walker = std::make_unique<RestService>(m_fx.app().context());
        m_walker->setSearchIndexLimit(0);
    }

    // ---- HTTP

    void parser_data() {
        QTest::addColumn<QByteArray>("input");
        // "incomplete", "failed <status>", or "<consumed> keep-alive|close"
        QTest::addColumn<QByteArray>("expected");
        const QByteArray get = "GET /rest/v1/visitors?select=id HTTP/1.1\r\nHost: x\r\n\r\n";
        const auto row = [](const char *name, const QByteArray &input, const char *expected) {
            QTest::newRow(name) << input << QByteArray(expected);
        };
        row("pipelined: only the first", get + get, "53 keep-alive");
        row("body unfinished", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345", "incomplete");
        row("body complete", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\n12345", "43 keep-alive");
        row("close", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", "37 close");
        row("HTTP/1.0 keep-alive", "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", "42 keep-alive");
        row("absolute target", "GET http://x/ HTTP/1.1\r\n\r\n", "failed 400");
        row("chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "failed 501");
        row("signed length", "POST / HTTP/1.1\r\nContent-Length: +5\r\n\r\n12345", "failed 400");
        row("two different lengths",
            "POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n123456", "failed 400");
        row("body over the limit", "POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", "failed 413");
        row("body at the limit, waiting", "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", "incomplete");
        row("head over the limit", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a'), "failed 431");
        row("long head ended", "GET / HTTP/1.1\r\nX: " + QByteArray(40000, 'a') + "\r\n\r\n", "failed 431");
    }

    void parser() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const ParseResult r = parseRequest(input);
        const QByteArray complete = QByteArray::number(r.consumed) + (r.keepAlive ? " keep-alive" : " close");
        const QByteArray failed = "failed " + QByteArray::number(r.failureStatus);
        using enum ParseResult::State;
        QCOMPARE(r.state == Incomplete ? "incomplete"_ba : r.state == Failed ? failed : complete, expected);
    }

    void parserFields() {
        const ParseResult result =
            parseRequest("PATCH /rest/v1/visitors?id=eq.1&x=%2B HTTP/1.1\r\nPrefer:  return=minimal \r\n"
                         "content-length: 2\r\n\r\n{}");
        const HttpRequest &request = result.request;
        QCOMPARE(request.method + ' ' + request.path + ' ' + request.rawQuery + ' ' +
                     request.header("PREFER") + ' ' + request.body,
                 "PATCH /rest/v1/visitors id=eq.1&x=%2B return=minimal {}");
    }

    void overTheWire_data() {
        QTest::addColumn<qsizetype>("bodySize");
        QTest::addColumn<int>("status");
        QTest::newRow("small") << qsizetype(2) << 201;
        QTest::newRow("1 MiB") << qsizetype(1024 * 1024) << 400;
        QTest::newRow("1 MiB and a byte") << qsizetype(1024 * 1024 + 1) << 413;
    }

    // Over a real socket: a body over 1 MiB is refused from its header, before it is sent, and the connection
    // closed; otherwise the same connection carries the next request, and the answers arrive intact.
    void overTheWire() {
        QFETCH(qsizetype, bodySize);
        QFETCH(int, status);
        ServerFixture fx;
        const QByteArray auth =
            "apikey: " + testKey + "\r\nAuthorization: Bearer " + fx.token(fx.createUser(u"w@example.com"_s));
        QVERIFY(fx.app().listen());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, fx.app().port());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray body =
            bodySize == 2 ? QByteArray(R"({"visitor_name":"Over the wire"})") : QByteArray(bodySize, ' ');
        socket.write("POST /rest/v1/visitors HTTP/1.1\r\n" + auth + "\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + (status == 413 ? QByteArray() : body));
        const QByteArray first = readUntil(socket, status == 201 ? "\r\n\r\n" : "}");
        QVERIFY2(first.startsWith(QByteArray("HTTP/1.1 " + QByteArray::number(status) + ' ')),
                 first.left(200).constData());
        QCOMPARE(first.contains("Connection: close\r\n"), status == 413);
        if (status != 413) {
            // Pipelined: the page read (answered on a worker) still comes back before the delete behind it.
            socket.write("GET /rest/v1/visitors?select=visitor_name&offset=0 HTTP/1.1\r\n" + auth +
                         "\r\n\r\n" + "DELETE /rest/v1/visitors?visitor_name=eq.Nobody HTTP/1.1\r\n" + auth +
                         "\r\n\r\n");
            const QByteArray both = readUntil(socket, "\r\n\r\n");
            const qsizetype split = both.indexOf("HTTP/1.1 204 ");
            QVERIFY2(split > 0, both.constData());
            const QByteArray listed = both.left(split);
            QVERIFY2(
                listed.startsWith("HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n"),
                listed.constData());
            QVERIFY(listed.endsWith(status == 201 ? R"([{"visitor_name":"Over the wire"}])" : "[]"));
            // A 204 carries no body, so no length either: a client would wait for bytes that never come.
            QVERIFY2(!both.mid(split).contains("Content-Length"), both.constData());
        }
    }

    // ---- Auth

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
        const QByteArray user = "GET /auth/v1/user";
        const QByteArray invalid = "400 invalid_credentials Invalid login credentials";
        const QByteArray badJwt = "403 bad_jwt invalid JWT: unable to parse or verify signature, token ";
        row("unknown email", grant + R"({"email":"bo@example.com","password":"correct horse"})", "", invalid);
        row("wrong password", grant + R"({"email":"ada@example.com","password":"wrong horse"})", "", invalid);
        row("email not confirmed", grant + R"({"email":"ada@example.com","password":"correct horse"})",
            "unconfirmed", "400 email_not_confirmed Email not confirmed");
        row("empty refresh token", refresh + R"({"refresh_token":""})", "",
            "400 validation_failed Refresh token is not valid");
        row("unknown refresh token", refresh + R"({"refresh_token":"k3j4h5g6f7d2"})", "",
            "400 refresh_token_not_found Invalid Refresh Token: Refresh Token Not Found");
        row("body not JSON", grant + "email=ada", "",
            "400 bad_json Could not parse request body as JSON: illegal value");
        row("sign-up of a taken address", signUp + R"({"email":"ADA@example.com","password":"another"})", "",
            "422 user_already_exists User already registered");
        row("sign-up with a weak password", signUp + R"({"email":"bo@example.com","password":"12345"})", "",
            "422 weak_password Password should be at least 6 characters.");
        row("sign-up with 73 bytes of password",
            signUp + "{\"email\":\"bo@example.com\",\"password\":\"" + QByteArray(73, 'x') + "\"}", "",
            "400 validation_failed Password cannot be longer than 72 characters");
        row("user without bearer", user, "",
            "401 no_authorization This endpoint requires a valid Bearer token");
        row("user with a forged token", user, "forged",
            badJwt + "signature is invalid: signature is invalid");
        row("user with an expired token", user, "expired", badJwt + "has invalid claims: token is expired");
        row("user after sign-out", user, "ended",
            "403 session_not_found Session from session_id claim in JWT does not exist");
        row("user of a deleted account", user, "deleted",
            "403 user_not_found User from sub claim in JWT does not exist");
        row("same password", R"(PUT /auth/v1/user {"password":"correct horse"})", "valid",
            "422 same_password New password should be different from the old password.");
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
        QByteArray authorization;
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
    // service's session shape, and GET /user the bare user.
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
        static const QRegularExpression uuid(
            u"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"_s);
        const QString id = user.value(u"id").toString();
        const QString identity = user.value(u"identities")[0][u"identity_id"].toString();
        QVERIFY(uuid.match(id).hasMatch() && uuid.match(identity).hasMatch() && identity != id);
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
        expectedAnswer.replace("@access", accessToken.toLatin1())
            .replace("@refresh", answer[u"refresh_token"].toString().toLatin1());
        expectedAnswer.replace("@user", id.toLatin1()).replace("@identity", identity.toLatin1());
        expectedAnswer.replace("@created", created).replace("@signedIn", wireTime());
        expectedAnswer.replace("@exp", QByteArray::number(server.now() + 3600))
            .replace("@app", R"({"provider":"email","providers":["email"]})");
        QCOMPARE(answer, QJsonDocument::fromJson(expectedAnswer).object());
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
            const QByteArray peer = "10.0.1." + QByteArray::number(samePeer ? 1 : attempt);
            QCOMPARE(server->signIn(who, u"wrong"_s, peer).status, 400);
        }
        const QByteArray peer = samePeer ? "10.0.1.1" : "10.0.2.1";
        server->advance(299);
        QCOMPARE(
            statusBody(server->signIn(email, password, peer)),
            R"(429 {"code":429,"error_code":"over_request_rate_limit","msg":"Request rate limit reached"})");
        server->advance(1);
        QCOMPARE(server->signIn(email, password, peer).status, 200);
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
        const auto row = [](const char *name, const QString &to, const QString &address,
                            const QString &link) {
            QTest::newRow(name) << (to.isEmpty() ? QByteArray()
                                                 : "?redirect_to=" + QUrl::toPercentEncoding(to))
                                << address << link;
        };
        const QString fallback = u"http://127.0.0.1:54321/auth/callback?next=/reset-password&token="_s;
        row("no account", {}, u"nobody@example.com"_s, {});
        row("a page here", u"http://127.0.0.1:54321/support"_s, u" ADA@example.com"_s,
            u"http://127.0.0.1:54321/support?token="_s);
        row("another scheme", u"https://127.0.0.1:54321/"_s, email, fallback);
        row("another port", u"http://127.0.0.1:8080/"_s, email, fallback);
        row("another host", u"http://attacker.example:54321/"_s, email, fallback);
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
        QCOMPARE(statusBody(server->send(request)), "200 {}");
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
        const auto refreshed = [&](const QJsonObject &session) {
            return QByteArray::number(server->refresh(session[u"refresh_token"].toString()).status);
        };
        QCOMPARE(refreshed(own) + ' ' + refreshed(other), refreshes);
        if (request.startsWith("PUT")) {
            QCOMPARE(server->authorized("GET", "/auth/v1/user", other[u"access_token"].toString()).status,
                     403);
        }
    }

    // The gateway refuses a request without the key, or with another key, before the service sees it.
    void gatewayAndRoutes() {
        for (const QByteArray path : {"/auth/v1/user", "/rest/v1/visitors"}) {
            HttpRequest request{"GET", path, {}, {}, {}, {}};
            QCOMPARE(
                statusBody(m_ada->app().handle(request)),
                R"(401 {"hint":"No `apikey` request header or url param was found.","message":"No API key found in request"})");
            request.headers = {{"apikey", "sb_publishable_other"}};
            QCOMPARE(
                statusBody(m_ada->app().handle(request)),
                R"(401 {"hint":"Double check your Supabase `anon` or `service_role` API key.","message":"Invalid API key"})");
        }
    }

    // ---- REST

    void reads_data() {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *query, const char *expected) {
            QTest::newRow(query) << QByteArray(query) << QByteArray(expected);
        };
        row("", sampleNewestFirst);
        row("visitor_name=eq.Ann+Lee", "Ann Lee"); // a plus is a space
        row("visitor_name=eq.a%2Bb%20Consulting", "a+b Consulting");
        row("host_name=neq.Tom", "annette smith|50%_off Sales|Zoë Brontë|Ann Lee"); // no nulls
        row("signed_out_at=is.null",
            "Tie One|O'Brien, Pat|annette smith|a+b Consulting|Zoë Brontë|Bob Stone");
        row("signed_in_at=gte.2025-03-07T10:00:00Z", "Tie One|O'Brien, Pat|annette smith");
        row("signed_in_at=lt.2025-03-04T08:00:01%2B01:00",
            "50%_off Sales|Zoë Brontë|Bob Stone|Ann Lee|Carol *Star*");
        row("signed_in_at=eq.2025-03-04T07:00:00Z", "50%_off Sales");   // stored in UTC
        row("signed_in_at=eq.2025-03-06T23:59:59.9999985Z", "Ann_Lee"); // rounded to microseconds
        row("id=in.(%7B00000000-0000-4000-8000-000000000001%7D,00000000-0000-4000-8000-00000000000A)",
            "Ann Lee|Carol *Star*");
        row("visitor_name=in.(%22O'Brien,%20Pat%22,Ann%20Lee)", "O'Brien, Pat|Ann Lee");
        row("visitor_name=like.Ann*", "Ann_Lee|Ann Lee");
        row("visitor_name=ilike.ann*", "annette smith|Ann_Lee|Ann Lee");
        row("visitor_name=ilike.ZO%C3%8B*", "Zoë Brontë");
        row("visitor_name=like.Carol%20%5C*Star*", "");      // an escaped star is a literal percent
        row("visitor_name=like.Zo_%20Bront_", "Zoë Brontë"); // one character, not one byte
        row("search_text=ilike.%25acme%25", "annette smith|Ann Lee");
        row("search_text=ilike.%25ac%25", "annette smith|50%_off Sales|Ann Lee"); // too short for the index
        row("search_text=ilike.*%C3%AB%20*", "Zoë Brontë"); // two characters, three bytes: too short as well
        row("search_text=ilike.%2550%5C%25%5C_off%25", "50%_off Sales");
        row("search_text=ilike.%25back%5C%5Cslash%25", "50%_off Sales");
        row("search_text=ilike.*%22quoted%22*", "O'Brien, Pat");
        row("search_text=not.ilike.*maria*",
            "Tie One|O'Brien, Pat|Ann_Lee|a+b Consulting|Zoë Brontë|Bob Stone|Carol *Star*");
        // the whole search text
        row("search_text=like.ann%20lee%20maria%20garcia%20company%20acme", "Ann Lee");
        // nulls last
        row("order=host_name.asc,id.asc&offset=6", "Carol *Star*|Bob Stone|O'Brien, Pat|Tie One");
        row("order=host_name.asc.nullsfirst,id.desc&limit=4", "Tie One|O'Brien, Pat|Bob Stone|Zoë Brontë");
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
        row("select=id&limit=1", "206 0-0/10", "200 0-0/*");
        row("limit=3&offset=4", "206 4-6/10", "200 4-6/*");
        row("offset=10", "206 */10", "200 */*");
        row("offset=15", "416 */10", "200 */*");
    }

    void contentRange() {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, counted);
        QFETCH(QByteArray, uncounted);
        for (const QByteArray request : {"GET visitors?", "HEAD visitors?"}) {
            for (const QByteArray prefer : {"count=exact", ""}) {
                const HttpResponse response = send(request + query, prefer);
                QCOMPARE(statusAnd(response, "Content-Range"), prefer.isEmpty() ? uncounted : counted);
                QCOMPARE(response.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
            }
        }
    }

    // The server continues a page from where the one before ended; read in turn with other searches (one
    // differing in a column, one in a value), and across a write that moves every row down, no row may be
    // skipped or repeated.
    void pagesReadInTurn() {
        const QByteArrayList searches = {"", "host_name=neq.Tom&", "visitor_name=neq.Tom&",
                                         "host_name=neq.Ann&"};
        QList<QByteArrayList> pages(searches.size());
        for (int offset = 0; offset < 10; offset += 2) {
            for (qsizetype i = 0; i < searches.size(); ++i) {
                pages[i].append(names(searches[i] + "order=signed_in_at.desc,id.desc&limit=2&offset=" +
                                      QByteArray::number(offset)));
            }
        }
        for (qsizetype i = 0; i < searches.size(); ++i) {
            pages[i].removeAll(QByteArray());
            QCOMPARE(pages[i].join('|'), names(searches[i] + "order=signed_in_at.desc,id.desc"));
        }

        const QByteArray all = "order=signed_in_at.desc,id.desc&limit=2&offset=";
        QCOMPARE(names(all + "0"), "Tie One|O'Brien, Pat");
        send(R"(POST visitors {"visitor_name":"Newest","signed_in_at":"2099-01-01T00:00:00Z"})");
        QCOMPARE(names(all + "2"), "O'Brien, Pat|annette smith");
        QCOMPARE(send("DELETE visitors?visitor_name=eq.Newest").status, 204);
    }

    void exchanges_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("prefer");
        QTest::addColumn<QByteArray>("answer"); // "status code message" of an error, else "status body"
        const auto row = [](const char *request, const char *answer, const char *prefer = "") {
            QTest::newRow(request) << QByteArray(request) << QByteArray(prefer) << QByteArray(answer);
        };
        const char *security = "403 42501 new row violates row-level security policy for table \"visitors\"";
        row("GET bananas", "404 PGRST205 Could not find the table 'public.bananas' in the schema cache");
        row("GET visitors?select=search_text", "400 42703 column visitors.search_text does not exist");
        row("GET visitors?id=foo.bar", "400 PGRST100 \"failed to parse filter (foo.bar)\"…");
        row("GET visitors?id=eq.00000000-0000-4000-8000-0000000000011",
            "400 22P02 invalid input syntax for type uuid: \"00000000-0000-4000-8000-0000000000011\"");
        row("GET visitors?signed_in_at=gt.2025-03-04T09:05:12+01:00", // the plus arrives as a space
            "400 22007 invalid input syntax for type timestamp with time zone: \"2025-03-04T09:05:12 "
            "01:00\"");
        row("GET visitors?visitor_name=eq.a%00b", "400 22021 invalid byte sequence for encoding \"UTF8\"");
        row("GET visitors?limit=-1", "416 PGRST103 Requested range not satisfiable");
        row("PUT visitors", "405 PGRST117 Unsupported HTTP method: PUT");
        row(R"(POST visitors [{"visitor_name":"a"},{"host_name":"b"}])",
            "400 PGRST102 All object keys must match");
        row(R"(POST visitors {"search_text":"x"})",
            "400 PGRST204 Could not find the 'search_text' column of 'visitors' in the schema cache");
        row(R"(POST visitors {"visitor_name":"a","answers":{}})",
            "400 23514 new row for relation \"visitors\" violates check constraint "
            "\"visitors_answers_check\"");
        row("POST visitors {\"visitor_name\":\"a\\u0000b\"}",
            "400 22P05 unsupported Unicode escape sequence");
        row(R"(PATCH visitors?visitor_name=eq.Ann%20Lee {"visitor_name":null})",
            "400 23502 null value in column \"visitor_name\" of relation \"visitors\" violates not-null "
            "constraint");
        row(R"(POST visitors {"visitor_name":"a","id":"@a1"})",
            "409 23505 duplicate key value violates unique constraint \"visitors_pkey\"");
        row(R"(PATCH visitors?limit=1 {"list_name":"x"})", "400 21000 UPDATE requires a WHERE clause");
        row("DELETE invites", "400 21000 DELETE requires a WHERE clause");
        row(R"(POST rpc/delete_account {"user_id":"x"})",
            "404 PGRST202 Could not find the function public.delete_account(user_id) in the schema cache");
        // Tokens that are not good enough; a missing one is the anonymous role.
        row("expired GET visitors", "401 PGRST303 JWT expired");
        row("one-part GET visitors", "401 PGRST301 Expected 3 parts in JWT; got 1");
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
        // The guest page's lookup by token is the service key's alone.
        row(R"(bob POST rpc/invite_for_guest {"invite_token":"x"})",
            "403 42501 permission denied for function invite_for_guest");
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
    // answers, null host; then a rename and a removal, each keeping the search text in step. (The desk's
    // sign-out, which must come back empty the second time, runs end to end in tst_e2e.)
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
        const QByteArray one = " visitors?id=eq." + id + "&select=visitor_name";
        QCOMPARE(answerOf(send("PATCH" + one + R"( {"visitor_name":"Renamed"})", "return=representation")),
                 R"(200 0-0/* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*desk%20guest*") + '|' + names("search_text=ilike.*renamed*"),
                 "|Renamed");
        QCOMPARE(answerOf(send("DELETE" + one, "return=representation")),
                 R"(200 */* [{"visitor_name":"Renamed"}])");
        QCOMPARE(names("search_text=ilike.*renamed*"), QByteArray());
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
        QCOMPARE(answerOf(send(upsert + R"("notify_sign_in":"yes"})", merge + ",return=representation")),
                 R"(200 */* [{"notify_sign_in":true}])");
    }

    void singleObject_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer"); // the object, or the 406's details
        const auto row = [](const char *request, const char *answer) {
            QTest::newRow(request) << QByteArray(request) << QByteArray(answer);
        };
        row("GET visitors?id=eq.00000000-0000-4000-8000-000000000002&select=who:visitor_name",
            R"(200 {"who":"Bob Stone"})");
        row("GET visitors?visitor_name=eq.Nobody", "406 The result contains 0 rows");
        row(R"(PATCH visitors?id=eq.00000000-0000-4000-8000-000000000002&select=visitor_name {"list_name":null})",
            R"(200 {"visitor_name":"Bob Stone"})");
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
        QCOMPARE(statusBody(response), answer.startsWith("406")
                                           ? "406 {\"code\":\"PGRST116\",\"details\":\"" + answer.mid(4) +
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
        QCOMPARE(answerOf(send("leaving POST rpc/delete_account {}")), "204  ");
        QCOMPARE(aliceSnapshot(), alice);
        QCOMPARE(rows(), before - 3);
        QCOMPARE(m_fx.rowCount("visitors_search WHERE visitors_search MATCH 'leaving'"), 0);
        // The token, still unexpired, reads nothing and deletes nothing more.
        QCOMPARE(send("leaving GET visitors").body, QByteArray("[]"));
        QCOMPARE(send("leaving POST rpc/delete_account").status, 204);
        QCOMPARE(rows(), before - 3);
    }

    // ---- website

    // Names and addresses trimmed, labels from the account's form, the first answer for a slot kept; the
    // email names the host and the place and links the guest's page by a token of its own.
    void createInvite() {
        ServerFixture server;
        // A line break in a header value (the place names the subject) must not start a header of its own.
        const QString token =
            host(server, u"host@example.com"_s, u"Harbour <Studio>\nBcc: spy@example.com"_s);
        const HttpResponse created =
            create(server, token,
                   R"({"answers":[{"slot":0,"value":"  Zoë "},{"slot":1,"value":"Bluefin"},)"
                   R"({"slot":0,"value":"Someone else"},{"slot":7,"value":"Unlabelled"}],)"
                   R"("email":" guest@example.com ","visit_date":"2030-03-04","visit_time":"14:30"})");
        QCOMPARE(created.status, 201);
        Statement row = server.db().prepare(
            "SELECT json_array(owner_id = (SELECT id FROM users), visitor_name, visitor_email, "
            "json(answers), visit_date, visit_time, note, used_at), token FROM invites WHERE id = ?");
        row.bind(1, ServerFixture::object(created).value(u"id").toString());
        QVERIFY(row.step());
        QCOMPARE(
            row.text(0),
            QByteArray(R"([1,"Zoë","guest@example.com",[{"label":"Name","slot":0,"value":"Zoë"},)"
                       R"({"label":"Company","slot":1,"value":"Bluefin"},{"slot":7,"value":"Unlabelled"}],)"
                       R"("2030-03-04","14:30",null,null])"));
        // 128 random bits, URL-safe.
        QCOMPARE(QByteArray::fromBase64(row.text(1),
                                        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals),
                 row.text(1));
        QCOMPARE(row.text(1).size(), 22);
        QCOMPARE(inviteLink(server), u"http://127.0.0.1:54321/i/"_s +
                                         QString::fromLatin1(QUrl::toPercentEncoding(row.string(1))));
        const QString mail = server.outbox().value(0);
        QVERIFY2(mail.contains(u"To: =?UTF-8?B?Wm/Dqw==?= <guest@example.com>\r\nSubject: You're invited to "
                               u"Harbour <Studio> Bcc: spy@example.com\r\n"_s),
                 qPrintable(mail));
        // The body parts are quoted-printable: soft line breaks and =XX undone (the headers get garbled).
        const QByteArray body = QByteArray::fromPercentEncoding(mail.toUtf8().replace("=\r\n", ""), '=');
        for (const char *text : {"Priya has invited you to visit at Harbour <Studio>\r\n",
                                 "When: Monday, March 4, 2030 at 14:30"}) {
            QVERIFY2(body.contains(text), body.constData());
        }
    }

    void refusedInvites_data() {
        QTest::addColumn<QByteArray>("change"); // members replacing the valid invite's, or a whole body
        QTest::addColumn<QString>("error");
        const auto row = [](const char *change, const char *error) {
            QTest::newRow(change) << QByteArray(change) << QString::fromUtf8(error);
        };
        row("{answers:", "400 The invite could not be read: the request body is not a JSON object.");
        row(R"({"answers":[{"value":"Ana"}]})",
            "422 Each answer needs a whole slot number and a text value.");
        row(R"({"email":"ana@example"})", "422 The guest's email address is not valid.");
        row(R"({"answers":[{"slot":1,"value":"B"},{"slot":0,"value":" "}]})",
            "422 The guest's name is missing: fill in the first question of the form.");
        row(R"({"visit_date":"2030-02-30"})",
            "422 The visit date must be a day written as yyyy-MM-dd, for example 2025-03-04.");
        row(R"({"visit_time":"25:00"})", "422 The visit time must be written as HH:mm, for example 14:30.");
        row("2001 characters of note", "422 The note is too long (at most 2000 characters).");
    }

    // Nothing stored and no email sent.
    void refusedInvites() {
        QFETCH(QByteArray, change);
        QFETCH(QString, error);
        QJsonObject body = QJsonDocument::fromJson(invite).object();
        const QJsonObject changes = change.startsWith("2001") ? QJsonObject{{u"note"_s, QString(2001, u'n')}}
                                                              : QJsonDocument::fromJson(change).object();
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            body.insert(it.key(), it.value());
        }
        const HttpResponse refused =
            create(m_site, m_siteHost, changes.isEmpty() ? change : ServerFixture::json(body));
        QCOMPARE(QString::number(refused.status) + u' ' + ServerFixture::object(refused)[u"error"].toString(),
                 error);
        QCOMPARE(m_site.rowCount("invites") + m_site.outbox().size(), 0);
    }

    void resend_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("answer");
        QTest::newRow("own invite") << u"own"_s << u"200"_s;
        QTest::newRow("another account's invite") << u"other"_s << u"404 Invite not found."_s;
        QTest::newRow("used invite") << u"used"_s
                                     << u"422 This invite has already been used, so it is not sent again."_s;
        QTest::newRow("no token") << u"no token"_s << u"401 Sign in to continue."_s;
        QTest::newRow("signed out") << u"signed out"_s << u"401 Your session ended. Please sign in again."_s;
    }

    // Only the owner's unused invite goes out again, with the same link, and only to a live session.
    void resend() {
        QFETCH(QString, which);
        QFETCH(QString, answer);
        ServerFixture server;
        QString own = host(server, u"host@example.com"_s);
        const QString owner = which == u"other" ? host(server, u"rival@example.com"_s) : own;
        const QString id = ServerFixture::object(create(server, owner)).value(u"id").toString();
        if (which == u"used") {
            server.db().exec("UPDATE invites SET used_at = '2030-03-04T14:31:00.000000+00:00'");
        } else if (which == u"signed out") {
            QCOMPARE(server.authorized("POST", "/auth/v1/logout", own).status, 204);
        }
        own = which == u"no token" ? QString() : own;
        const QByteArray bearer = own.isEmpty() ? QByteArray() : "Bearer " + own.toLatin1();
        const HttpResponse answered =
            server.call("POST", "/api/invites/" + id.toLatin1() + "/resend", {}, {{"Authorization", bearer}});
        const QString error = ServerFixture::object(answered)[u"error"].toString();
        QCOMPARE(QString(QString::number(answered.status) + u' ' + error).trimmed(), answer);
        QCOMPARE(server.outbox().size(), answer == u"200" ? 2 : 1);
        QVERIFY(answer != u"200" || inviteLink(server, 1) == inviteLink(server));
    }

    void guestPage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("day"); // the visit day; "used" for a past invite that was used
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notShown");
        QTest::newRow("markup in the name")
            << u"<script>alert(\"x\")</script> & 'Zoë'"_s << u"Studio"_s << u"2030-03-04"_s
            << u"&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;Zoë&#39;"_s << u"<script>"_s;
        QTest::newRow("markup in the place") << u"Ana"_s << u"<b>Bold</b> & Co"_s << u"2030-03-04"_s
                                             << u"&lt;b&gt;Bold&lt;/b&gt; &amp; Co"_s << u"<b>"_s;
        QTest::newRow("past day") << u"Ana"_s << u"Studio"_s << u"2001-01-01"_s << u"has passed"_s
                                  << u"signed in"_s;
        QTest::newRow("used") << u"Ana"_s << u"Studio"_s << u"used"_s << u"You have signed in"_s
                              << u"has passed"_s;
    }

    void guestPage() {
        QFETCH(QString, name);
        QFETCH(QString, place);
        QFETCH(QString, day);
        QFETCH(QString, shown);
        QFETCH(QString, notShown);
        ServerFixture server;
        QJsonObject body = QJsonDocument::fromJson(invite).object();
        body.insert(u"answers"_s, QJsonArray{QJsonObject{{u"slot"_s, 0}, {u"value"_s, name}}});
        body.insert(u"visit_date"_s, day == u"used" ? u"2001-01-01"_s : day);
        create(server, host(server, u"host@example.com"_s, place), ServerFixture::json(body));
        if (day == u"used") {
            server.db().exec("UPDATE invites SET used_at = '2001-01-01T09:00:00.000000+00:00'");
        }
        const QUrl link(inviteLink(server));
        const HttpResponse page = server.call("GET", link.path(QUrl::FullyEncoded).toLatin1());
        QCOMPARE(page.status, 200);
        QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
        const QString html = QString::fromUtf8(page.body);
        QVERIFY2(html.contains(shown) && html.contains(u"Ring twice."_s) && !html.contains(notShown),
                 qPrintable(html));
        QCOMPARE(server.call("GET", "/i/" + link.fileName(QUrl::FullyEncoded).toLatin1() + "/more").status,
                 404);
    }

    // The site's pages as HTML and its API as JSON; the version manifest is the --manifest file as it is, and
    // only while it is there.
    void pages() {
        QTemporaryDir dir;
        QFile manifest(dir.filePath(u"version.json"_s));
        QVERIFY(manifest.open(QIODevice::WriteOnly) &&
                manifest.write("{\"direct\":{\"latestVersion\":\"2.1\"}}\n") > 0);
        manifest.close();
        ServerFixture server(false, manifest.fileName());
        const std::pair<QByteArray, QByteArray> pages[] = {
            // the target; the status, then text the body holds
            {"/", "200 Tallybrook local server"},
            {"/support", "200 </footer>"},
            {"/auth/callback?error=access_denied&error_description=Email+link+%3Cb%3Ebad%3C%2Fb%3E",
             "400 Email link &lt;b&gt;bad&lt;/b&gt;"},
            {"/pricing", "404 Page not found"},
            {"/api/visitors", "404 {\"error\":\"Not found.\"}"},
            {"/api/mac/version", "200 {\"direct\":{\"latestVersion\":\"2.1\"}}\n"}};
        for (const auto &[target, answer] : pages) {
            const HttpResponse page = server.call("GET", target);
            QVERIFY2(answer.startsWith(QByteArray(QByteArray::number(page.status) + ' ')) &&
                         page.body.contains(answer.mid(4)),
                     target.constData());
            QVERIFY(page.header("Content-Type")
                        .startsWith(target.startsWith("/api/") ? "application/json"
                                                               : "text/html; charset=utf-8"));
        }
        QCOMPARE(server.call("POST", "/api/mac/version").status, 405);
        QVERIFY(QFile::remove(manifest.fileName()));
        QCOMPARE(statusBody(server.call("GET", "/api/mac/version")),
                 R"(500 {"error":"The version manifest could not be read."})");
    }

    // The emailed link opens a form that changes the password once, ending every session of the account.
    void passwordReset() {
        ServerFixture server;
        const QString token = host(server, u"host@example.com"_s);
        QCOMPARE(server.call("POST", "/auth/v1/recover", R"({"email":"host@example.com"})").status, 200);
        const QString link = linkIn(server.outbox().value(0), u"http://127.0.0.1:54321/auth/callback?"_s);
        const QByteArray target = QUrl(link).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toLatin1();
        QVERIFY(server.call("GET", target).body.contains("<form method=\"post\" action=\"/auth/callback\">"));
        const auto submit = [&](const QString &first, const QString &second) {
            const QUrlQuery fields{{u"token"_s, QUrlQuery(QUrl(link)).queryItemValue(u"token"_s)},
                                   {u"password"_s, first},
                                   {u"repeat"_s, second}};
            // A form sends a space as a plus.
            return server.call("POST", "/auth/callback",
                               fields.toString(QUrl::FullyEncoded).replace(u"%20"_s, u"+"_s).toLatin1());
        };
        QVERIFY(submit(u"battery staple"_s, u"battery stapler"_s).body.contains("not the same"));
        QVERIFY(submit(password, password).body.contains("different from your current one"));
        const HttpResponse changed = submit(u"battery staple"_s, u"battery staple"_s);
        QVERIFY(changed.status == 200 && changed.body.contains("Password changed"));
        QCOMPARE(server.authorized("GET", "/auth/v1/user", token).status, 403);
        QCOMPARE(server.signIn(u"host@example.com"_s, password).status, 400);
        QCOMPARE(server.signIn(u"host@example.com"_s, u"battery staple"_s).status, 200);
        QCOMPARE(server.call("GET", target).status, 400); // the link is spent
        QCOMPARE(submit(u"another one"_s, u"another one"_s).status, 400);
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
