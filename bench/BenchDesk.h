#pragma once

#include "badges/BadgePrinter.h"
#include "cloud/CloudClient.h"
#include "cloud/SessionStore.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "platform/PrintSystem.h"
#include "platform/UrlOpener.h"
#include "ui/Environment.h"

#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>

#include <optional>

namespace tallybrook::bench {

// The services a desk window stands on, with no printer, no browser and the given session (none: signed out),
// against the backend at `base`.
struct BenchDesk {
    struct Store final : SessionStore {
        explicit Store(std::optional<CloudSession> stored) : session(std::move(stored)) {}
        std::optional<CloudSession> session;
        std::optional<CloudSession> load() override { return session; }
        void save(const std::optional<CloudSession> &) override {}
    };
    struct NoPrinters final : platform::PrintSystem {
        QStringList installedPrinterNames() const override { return {}; }
        QString defaultPrinterName() const override { return {}; }
        bool hasPrinter(const QString &) const override { return false; }
        platform::PrintResult print(const platform::PrintJob &) override {
            return platform::PrintResult::NoPrinter;
        }
    };
    struct NoBrowser final : platform::UrlOpener {
        bool openUrl(const QUrl &) override { return false; }
    };

    BenchDesk(const QUrl &base, const QString &publishableKey, std::optional<CloudSession> session)
        : defaults(dir.filePath(QStringLiteral("desk.ini")), QSettings::IniFormat), store(std::move(session)),
          cloud(http, store, CloudConfig{base, publishableKey, base}), printer(defaults, printers),
          notifier(http, defaults), model(cloud, printer, notifier) {}

    [[nodiscard]] ui::Environment environment() { return {model, defaults, browser}; }

    QTemporaryDir dir;
    QSettings defaults;
    QNetworkAccessManager http;
    Store store;
    CloudClient cloud;
    NoPrinters printers;
    BadgePrinter printer;
    Notifier notifier;
    AppModel model;
    NoBrowser browser;
};

} // namespace tallybrook::bench
