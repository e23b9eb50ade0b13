#include "ServerApp.h"

#include "core/Crypto.h"
#include "core/PrivateFiles.h"
#include "core/Schema.h"
#include "website/HostedInvites.h"
#include "website/LocalInvites.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <stdexcept>

namespace tbserver {

namespace {

const QByteArray authPrefix = QByteArrayLiteral("/auth/v1/");
const QByteArray restPrefix = QByteArrayLiteral("/rest/v1/");
const QByteArray restRpcPrefix = QByteArrayLiteral("/rest/v1/rpc/");

HttpResponse gatewayRefusal(const QByteArray &message, const QByteArray &hint) {
    QJsonObject body{{QStringLiteral("message"), QString::fromUtf8(message)},
                     {QStringLiteral("hint"), QString::fromUtf8(hint)}};
    return HttpResponse::json(401, QJsonDocument(body));
}

} // namespace

QByteArray loadOrCreateSecret(const QString &folder) {
    const QString path = QDir(folder).filePath(QStringLiteral("jwt-secret"));
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly)) {
        const QByteArray secret = QByteArray::fromHex(existing.readAll().trimmed());
        if (secret.size() >= 32) {
            return secret;
        }
        throw std::runtime_error("the token secret in the data folder is damaged");
    }
    const QByteArray secret = crypto::randomBytes(32);
    if (!writePrivateFile(path, secret.toHex() + '\n')) {
        throw std::runtime_error("cannot write the token secret into the data folder");
    }
    return secret;
}

ServerApp::ServerApp(ServerConfig config) : m_config(std::move(config)) {
    crypto::initialize();
    if (!makePrivateFolder(m_config.dataDir)) {
        throw std::runtime_error("cannot create the data folder " + m_config.dataDir.toStdString());
    }
    if (websiteOnly()) {
        startWebsiteOnly();
        return;
    }
    m_db = std::make_unique<Database>(QDir(m_config.dataDir).filePath(QStringLiteral("tallybrook.sqlite3")));
    migrate(*m_db);
    m_context = std::make_unique<ServerContext>(m_config, *m_db, loadOrCreateSecret(m_config.dataDir));
    m_context->watchWrites();
    startMail();
    m_auth = std::make_unique<AuthService>(*m_context, *m_outbox);
    m_rest = std::make_unique<RestService>(*m_context);
    m_invites = std::make_unique<LocalInvites>(*m_context);
    m_website = std::make_unique<WebsiteService>(*m_context, *m_invites, *m_outbox);
    makeListener();
    // Reads of the account tables are most of what desks ask, and SQLite lets many connections read while one
    // writes: they run side by side on workers, each with its own read-only connection. Everything else,
    // every write among it, stays on this thread and its one writing connection.
    const QString databasePath = QDir(m_config.dataDir).filePath(QStringLiteral("tallybrook.sqlite3"));
    m_http->setWorkers(
        std::max(2, QThread::idealThreadCount()),
        [](const HttpRequest &request) {
            // A poll's reads take a tenth of a millisecond, less than handing them to another thread costs;
            // searches and pages further down the log take milliseconds and must not hold everyone up.
            return (request.method == "GET" || request.method == "HEAD") &&
                   request.path.startsWith(restPrefix) && !request.path.startsWith(restRpcPrefix) &&
                   (request.rawQuery.contains("search_text=") || request.rawQuery.contains("offset="));
        },
        [this, databasePath](const HttpRequest &request) {
            thread_local std::unique_ptr<Database> reader;
            if (!reader) {
                reader = std::make_unique<Database>(databasePath, Database::Access::ReadOnly);
                RestService::prepareConnection(*reader);
            }
            const ServerContext::ThreadReader reading(*reader);
            return handle(request);
        });
}

void ServerApp::makeListener() {
    ParserLimits limits;
    limits.maxBodyBytes = 1024 * 1024;
    m_http =
        std::make_unique<HttpServer>([this](const HttpRequest &request) { return handle(request); }, limits);
    m_http->setLogging(m_config.logRequests);
}

void ServerApp::startWebsiteOnly() {
    // The website keeps no accounts: an empty database in memory stands behind the pages that would read
    // them, and the data folder holds only the mail.
    m_db = std::make_unique<Database>(QStringLiteral(":memory:"));
    migrate(*m_db);
    m_context = std::make_unique<ServerContext>(m_config, *m_db, crypto::randomBytes(32));
    startMail();
    const HostedProject project{m_config.hostedProject, m_config.publishableKey, m_config.serviceKey};
    m_invites = std::make_unique<HostedInvites>(project);
    m_website = std::make_unique<WebsiteService>(*m_context, *m_invites, *m_outbox, project);
    makeListener();
    // Requests wait on the hosted project, so they run on workers and the listener stays free. Nothing on
    // this path touches the in-memory database.
    m_http->setWorkers(
        std::max(4, QThread::idealThreadCount() * 2), [](const HttpRequest &) { return true; },
        [this](const HttpRequest &request) { return handle(request); });
}

void ServerApp::startMail() {
    const QString outbox = QDir(m_config.dataDir).filePath(QStringLiteral("outbox"));
    m_outbox = std::make_unique<Outbox>(outbox, m_config.mail.from, m_config.mail.smtp.has_value());
    if (m_config.mail.smtp) {
        m_mailQueue = std::make_unique<MailQueue>(outbox, m_config.mail.from, *m_config.mail.smtp);
        // Mail may be written on a worker; the queue lives on this thread.
        m_outbox->setOnQueued([queue = m_mailQueue.get()] {
            QMetaObject::invokeMethod(queue, &MailQueue::wake, Qt::QueuedConnection);
        });
        m_mailQueue->start();
    }
}

ServerApp::~ServerApp() = default;

bool ServerApp::listen() {
    return m_http->listen(m_config.listenAddress, m_config.port);
}

HttpResponse ServerApp::handle(const HttpRequest &request) {
    const bool auth = request.path.startsWith(authPrefix);
    const bool rest = request.path.startsWith(restPrefix);
    if ((auth || rest) && websiteOnly()) {
        // The desk reaches the hosted project for these, never this website.
        return HttpResponse::json(
            404, QJsonDocument(QJsonObject{{QStringLiteral("error"),
                                            QStringLiteral("This server is only the website; Auth and REST "
                                                           "are served by the hosted project.")}}));
    }
    // The confirmation link in an email is opened by a browser, which has no key; the hosted gateway lets it
    // by.
    const bool emailLink = auth && request.method == "GET" && request.path == "/auth/v1/verify";
    if ((auth || rest) && !emailLink) {
        if (!request.hasHeader("apikey")) {
            return gatewayRefusal("No API key found in request",
                                  "No `apikey` request header or url param was found.");
        }
        const QByteArray key = request.header("apikey");
        const bool serviceKey =
            !m_config.serviceKey.isEmpty() && crypto::equalConstantTime(key, m_config.serviceKey);
        if (!serviceKey && !crypto::equalConstantTime(key, m_config.publishableKey)) {
            return gatewayRefusal("Invalid API key",
                                  "Double check your Supabase `anon` or `service_role` API key.");
        }
    }
    try {
        if (auth) {
            return m_auth->handle(request, QByteArrayView(request.path).sliced(authPrefix.size()));
        }
        if (rest) {
            return m_rest->handle(request, QByteArrayView(request.path).sliced(restPrefix.size()));
        }
        return m_website->handle(request, QByteArrayView(request.path).sliced(1));
    } catch (const HttpFailure &failure) {
        return failure.response;
    }
}

} // namespace tbserver
