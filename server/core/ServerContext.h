#pragma once

#include "core/Database.h"
#include "core/Jwt.h"
#include "http/HttpMessage.h"
#include "mail/MailQueue.h"

#include <QDateTime>
#include <QHostAddress>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <optional>

namespace tbserver {

struct ServerConfig {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 port = 54321;
    QString dataDir;
    QByteArray publishableKey;
    // The key that speaks as the service role (the guest page's invite lookup); empty: none is accepted.
    QByteArray serviceKey;
    // Website only: the hosted project that holds the accounts; Auth and REST are not served here.
    QUrl hostedProject;
    bool seedDemo = false;
    bool confirmEmails = false;
    QString manifestFile;
    // The base URL the desk reaches this server by, for links in emails ("<website>/i/<token>").
    QByteArray publicBaseUrl;
    bool logRequests = true;
    MailConfig mail;
};

// Who a valid bearer token speaks for.
struct Principal {
    QString userId;    // lower-case uuid
    QString sessionId; // lower-case uuid
    QString email;
    QString role;
};

// What every service shares: the one database, the token signer and the clock.
class ServerContext final {
public:
    ServerContext(ServerConfig config, Database &db, QByteArray jwtSecret);
    Q_DISABLE_COPY_MOVE(ServerContext)

    [[nodiscard]] const ServerConfig &config() const { return m_config; }
    // Known once the listener has its port.
    void setPublicBaseUrl(const QByteArray &url) { m_config.publicBaseUrl = url; }
    // The one connection that writes; every write goes through it, on the event loop thread.
    [[nodiscard]] Database &db() const { return m_db; }
    // The connection reads use on this thread: a worker's own read-only connection, else the writer.
    [[nodiscard]] Database &readDb() const;
    // Makes `reader` this thread's read connection while it lives.
    class ThreadReader final {
    public:
        explicit ThreadReader(Database &reader);
        ~ThreadReader();
        Q_DISABLE_COPY_MOVE(ThreadReader)

    private:
        Database *m_previous;
    };
    // Odd while the writer commits, and different after every commit: a read that sees the same even value
    // before and after it read a state no write touched in between. Kept by the writer's hooks.
    [[nodiscard]] quint64 changeSequence() const { return m_changeSequence.load(std::memory_order_acquire); }
    void watchWrites();
    [[nodiscard]] const Jwt &jwt() const { return m_jwt; }

    // Seconds since the Unix epoch; tests may move it.
    [[nodiscard]] qint64 nowSeconds() const;
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    struct BearerCheck {
        std::optional<Principal> principal;
        Jwt::Problem problem = Jwt::Problem::None; // Malformed also when the header is missing or not Bearer
        bool missing = false;
        QByteArray detail;
    };
    // Reads "Authorization: Bearer <jwt>", checks signature and expiry.
    [[nodiscard]] BearerCheck bearer(const HttpRequest &request) const;

    // Timestamps as the hosted database writes them: UTC, microseconds, "+00:00". Fixed width, so text order
    // is time order.
    [[nodiscard]] QByteArray timestampNow() const;
    [[nodiscard]] static QByteArray timestamp(const QDateTime &at);

private:
    ServerConfig m_config;
    Database &m_db;
    std::atomic<quint64> m_changeSequence{0};
    Jwt m_jwt;
    std::function<qint64()> m_clock;
};

} // namespace tbserver
