// Request bodies and query strings through the whole server (router, Auth, REST, website) on a real
// database, signed in as one account. The first byte picks the endpoint, the second the optional headers;
// the rest is the query string, a newline, and the body.

#include "FuzzCheck.h"
#include "ServerApp.h"
#include "core/Crypto.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <array>
#include <memory>

using namespace tbserver;
using namespace Qt::StringLiterals;

namespace {

const QByteArray apiKey = "sb_publishable_fuzz_key";

struct Endpoint {
    const char *method;
    const char *path;
    const char *fixedQuery; // used instead of the input's query where set
};

const std::array endpoints{
    Endpoint{"POST", "/rest/v1/visitors", nullptr},
    Endpoint{"PATCH", "/rest/v1/visitors", nullptr},
    Endpoint{"GET", "/rest/v1/visitors", nullptr},
    Endpoint{"DELETE", "/rest/v1/visitors", nullptr},
    Endpoint{"POST", "/rest/v1/kiosk_settings", nullptr},
    Endpoint{"PATCH", "/rest/v1/kiosk_settings", nullptr},
    Endpoint{"POST", "/rest/v1/notification_settings", nullptr},
    Endpoint{"PATCH", "/rest/v1/notification_settings", nullptr},
    Endpoint{"GET", "/rest/v1/invites", nullptr},
    Endpoint{"PATCH", "/rest/v1/invites", nullptr},
    Endpoint{"POST", "/auth/v1/token", "grant_type=refresh_token"},
    Endpoint{"PUT", "/auth/v1/user", nullptr},
    Endpoint{"POST", "/auth/v1/recover", nullptr},
    Endpoint{"POST", "/api/invites", nullptr},
    Endpoint{"POST", "/auth/callback", nullptr},
    Endpoint{"GET", "/i/", nullptr}, // the query becomes the token
};

struct Server {
    QTemporaryDir folder;
    std::unique_ptr<ServerApp> app;
    QByteArray bearer;
    qint64 start = 0;
    qint64 runs = 0;
};

Server *server = nullptr;

HttpResponse send(const QByteArray &method, const QByteArray &path, const QByteArray &query,
                  const QByteArray &body, HeaderList headers = {}) {
    headers.append({QByteArray("apikey"), QByteArray(apiKey)});
    return server->app->handle({method, path, query, headers, body, "127.0.0.1"});
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication application(*argc, *argv);
    server = new Server;
    ServerConfig config;
    config.dataDir = server->folder.filePath(u"data"_s);
    config.publishableKey = apiKey;
    config.logRequests = false;
    server->app = std::make_unique<ServerApp>(config);
    server->app->context().setPublicBaseUrl("http://127.0.0.1:54321");
    server->start = QDateTime::currentSecsSinceEpoch();
    // The clock moves a second per input, so rate limits and expiries behave as in a long-running server.
    server->app->context().setClock([] { return server->start + server->runs; });

    const QByteArray account =
        R"({"email":"fuzz@example.com","password":"fuzz-password","data":{"name":"Zoë"}})";
    FUZZ_CHECK(send("POST", "/auth/v1/signup", {}, account).status == 200);
    Statement session = server->app->database().prepare("SELECT id, user_id FROM sessions");
    FUZZ_CHECK(session.step());
    // A token for the real session that outlives any run.
    server->bearer = "Bearer " + server->app->context().jwt().sign(
                                     {{u"sub"_s, QString::fromUtf8(session.text(1))},
                                      {u"session_id"_s, QString::fromUtf8(session.text(0))},
                                      {u"role"_s, u"authenticated"_s},
                                      {u"exp"_s, double(server->start + 20 * 365 * 86400LL)}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) {
        return 0;
    }
    ++server->runs;
    const Endpoint &endpoint = endpoints[data[0] % endpoints.size()];
    const uint8_t flags = data[1];
    const QByteArray rest(reinterpret_cast<const char *>(data) + 2, qsizetype(size) - 2);
    const qsizetype newline = rest.indexOf('\n');
    QByteArray query = newline < 0 ? rest : rest.left(newline);
    const QByteArray body = newline < 0 ? QByteArray() : rest.mid(newline + 1);

    QByteArray path = endpoint.path;
    if (path == "/i/") {
        path += query;
        query.clear();
    } else if (endpoint.fixedQuery) {
        query = endpoint.fixedQuery;
    }
    HeaderList headers{{QByteArray("apikey"), apiKey}};
    if (!(flags & 0x01)) {
        headers.append({QByteArray("Authorization"), QByteArray(server->bearer)});
    }
    if (flags & 0x02) {
        headers.append({QByteArray("Prefer"), QByteArray("return=representation")});
    }
    if (flags & 0x04) {
        headers.append({QByteArray("Prefer"), QByteArray("resolution=merge-duplicates")});
    }
    if (flags & 0x08) {
        headers.append({QByteArray("Prefer"), QByteArray("count=exact")});
    }
    if (flags & 0x10) {
        headers.append({QByteArray("Accept"), QByteArray("application/vnd.pgrst.object+json")});
    }
    headers.append({QByteArray("Content-Type"),
                    QByteArray((flags & 0x20) ? "application/x-www-form-urlencoded" : "application/json")});

    HttpResponse response;
    try {
        response = server->app->handle({endpoint.method, path, query, headers, body, "127.0.0.1"});
    } catch (const std::exception &error) {
        // The listener would answer 500.
        std::fprintf(stderr, "escaped: %s\n", error.what());
        std::abort();
    }
    // Nothing a client sends is the server's fault.
    FUZZ_CHECK(response.status >= 200 && response.status < 500);
    if (path.startsWith("/rest/") || path.startsWith("/auth/v1/") || path.startsWith("/api/")) {
        FUZZ_CHECK(response.body.isEmpty() || !QJsonDocument::fromJson(response.body).isNull());
    }

    // Keeps the database and the outbox small over millions of inputs.
    if (server->runs % 4096 == 0) {
        server->app->database().prepare("DELETE FROM visitors").run();
        server->app->database().prepare("DELETE FROM invites").run();
        QDir outbox(server->app->outbox().folder());
        for (const QString &name : outbox.entryList(QDir::Files)) {
            outbox.remove(name);
        }
    }
    return 0;
}
