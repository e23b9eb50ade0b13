#pragma once

#include "core/Database.h"
#include "core/Jwt.h"
#include "http/HttpMessage.h"

#include <QDateTime>
#include <QHostAddress>
#include <QString>

#include <functional>
#include <optional>

namespace tbserver {

struct ServerConfig {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 port = 54321;
    QString dataDir;
    QByteArray publishableKey;
    bool seedDemo = false;
    bool confirmEmails = false;
    QString manifestFile;
    // The base URL the desk reaches this server by, for links in emails ("<website>/i/<token>").
    QByteArray publicBaseUrl;
    bool logRequests = true;
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
    [[nodiscard]] Database &db() const { return m_db; }
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
    Jwt m_jwt;
    std::function<qint64()> m_clock;
};

} // namespace tbserver
