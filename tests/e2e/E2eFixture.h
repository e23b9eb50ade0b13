#pragma once

#include "cloud/CloudClient.h"
#include "support/FakeSessionStore.h"
#include "support/ServerProcess.h"
#include "support/TaskOutcome.h"

#include <QNetworkAccessManager>
#include <QTest>

#include <memory>

namespace tallybrook::testing {

// The real desk client against the real local server, started on a free port with a fresh data folder.
struct E2eFixture {
    explicit E2eFixture(QStringList serverArguments = {})
        : server(std::make_unique<ServerProcess>(std::move(serverArguments))),
          http(std::make_unique<QNetworkAccessManager>()) {}
    ~E2eFixture() {
        for (auto &client : clients) {
            client.reset();
        }
        server->stop();
    }
    Q_DISABLE_COPY_MOVE(E2eFixture)

    [[nodiscard]] bool start() {
        if (!server->start()) {
            qWarning("%s", qPrintable(server->errorText()));
            return false;
        }
        return true;
    }

    [[nodiscard]] CloudConfig config() const {
        CloudConfig config;
        config.backendURL = server->baseUrl();
        config.websiteURL = server->baseUrl();
        config.publishableKey = QString::fromUtf8(server->publishableKey());
        return config;
    }

    // A desk of its own (client and store), as a second computer would have.
    CloudClient &newDesk() {
        stores.push_back(std::make_unique<FakeSessionStore>());
        clients.push_back(std::make_unique<CloudClient>(*http, *stores.back(), config()));
        stores.back()->client = clients.back().get();
        return *clients.back();
    }

    // Signs a new account up on the desk and returns it signed in.
    static bool signUp(CloudClient &desk, const QString &email,
                       const QString &password = QStringLiteral("correct horse")) {
        const auto outcome = awaitTask(desk.signUp(email, password, QStringLiteral("Desk Owner")));
        if (!outcome.succeeded()) {
            qWarning("sign-up failed: %s", qPrintable(outcome.errorText()));
        }
        return outcome.succeeded() && desk.isSignedIn();
    }

    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<QNetworkAccessManager> http;
    std::vector<std::unique_ptr<FakeSessionStore>> stores;
    std::vector<std::unique_ptr<CloudClient>> clients;
};

} // namespace tallybrook::testing
