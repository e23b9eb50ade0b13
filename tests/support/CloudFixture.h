#pragma once

#include "cloud/CloudClient.h"
#include "support/FakeSessionStore.h"
#include "support/ScriptedHttpServer.h"

#include <QNetworkAccessManager>
#include <QTimeZone>

#include <algorithm>
#include <chrono>
#include <memory>

namespace tallybrook::testing {

inline const QString testPublishableKey = QStringLiteral("sb_publishable_test_key_0000000000000000000000");

// A CloudClient talking to a scripted loopback server, with a fake session store and a clock that stands
// still at 2025-03-04 09:05 UTC until a test moves it.
struct CloudFixture {
    CloudFixture()
        : server(std::make_unique<ScriptedHttpServer>()), http(std::make_unique<QNetworkAccessManager>()),
          store(std::make_unique<FakeSessionStore>()), now(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC) {}
    Q_DISABLE_COPY_MOVE(CloudFixture)

    [[nodiscard]] CloudConfig
    config(std::chrono::milliseconds timeout = std::chrono::milliseconds(1500)) const {
        CloudConfig config;
        config.backendURL = server->baseUrl();
        config.websiteURL = appendingPath(server->baseUrl(), QStringLiteral("site"));
        config.publishableKey = testPublishableKey;
        config.publicAuthTimeout = config.authorizedTimeout = config.signOutTimeout = timeout;
        return config;
    }

    CloudClient &makeClient(std::optional<CloudSession> stored = std::nullopt,
                            std::chrono::milliseconds timeout = std::chrono::milliseconds(1500)) {
        store->stored = std::move(stored);
        client = std::make_unique<CloudClient>(*http, *store, config(timeout), [this] { return now; });
        store->client = client.get();
        return *client;
    }

    [[nodiscard]] CloudSession sessionExpiringIn(int seconds, const QUuid &user, const QString &tag) const {
        return CloudSession{QStringLiteral("access-") + tag, QStringLiteral("refresh-") + tag,
                            now.addSecs(seconds), user, QStringLiteral("desk@example.com")};
    }

    [[nodiscard]] int requestsTo(const QByteArray &pathSuffix) const {
        const auto requests = server->requests();
        return int(std::count_if(requests.cbegin(), requests.cend(), [&](const RecordedRequest &request) {
            return request.path.endsWith(pathSuffix);
        }));
    }

    // Destroyed in reverse: the client first, as its destructor aborts what it still has running.
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<QNetworkAccessManager> http;
    std::unique_ptr<FakeSessionStore> store;
    std::unique_ptr<CloudClient> client;
    QDateTime now;
};

} // namespace tallybrook::testing
