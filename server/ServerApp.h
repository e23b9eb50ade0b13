#pragma once

#include "auth/AuthService.h"
#include "core/Database.h"
#include "core/Outbox.h"
#include "core/ServerContext.h"
#include "http/HttpServer.h"
#include "rest/RestService.h"
#include "website/WebsiteService.h"

#include <memory>

namespace tbserver {

// The whole server: storage, the three services behind the gateway, and the HTTP listener.
class ServerApp final {
public:
    // Opens (creating, 0700) the data folder, migrates the database and loads or makes the token secret.
    explicit ServerApp(ServerConfig config);
    ~ServerApp();
    Q_DISABLE_COPY_MOVE(ServerApp)

    bool listen();
    [[nodiscard]] quint16 port() const { return m_http->port(); }
    [[nodiscard]] QString errorString() const { return m_http->errorString(); }

    // The router: gateway key check for /auth/v1 and /rest/v1, then the service by prefix.
    [[nodiscard]] HttpResponse handle(const HttpRequest &request);

    [[nodiscard]] ServerContext &context() { return *m_context; }
    [[nodiscard]] Database &database() { return *m_db; }
    [[nodiscard]] Outbox &outbox() { return *m_outbox; }
    // Only the website, in front of a hosted project.
    [[nodiscard]] bool websiteOnly() const { return !m_config.hostedProject.isEmpty(); }

private:
    // The outbox, and with SMTP configured the queue that sends what it holds.
    void startMail();
    void startWebsiteOnly();
    void makeListener();

    ServerConfig m_config;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<ServerContext> m_context;
    std::unique_ptr<Outbox> m_outbox;
    // Outlives the listener, whose workers may still be writing mail.
    std::unique_ptr<MailQueue> m_mailQueue;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<RestService> m_rest;
    std::unique_ptr<InviteBackend> m_invites;
    std::unique_ptr<WebsiteService> m_website;
    std::unique_ptr<HttpServer> m_http;
};

// Reads the 32-byte token secret from <folder>/jwt-secret, or makes one (0600) the first time.
[[nodiscard]] QByteArray loadOrCreateSecret(const QString &folder);

} // namespace tbserver
