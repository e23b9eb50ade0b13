#pragma once

#include "badges/BadgePrinter.h"
#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "platform/UrlOpener.h"
#include "support/CloudFixture.h"
#include "support/TaskOutcome.h"
#include "ui/Environment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <chrono>
#include <map>
#include <memory>
#include <optional>

namespace tallybrook::testing {

// The offscreen platform warns each time a window's size limits change; that says nothing about the desk.
inline void quietOffscreenNoise() {
    static const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (message.contains(QStringLiteral("does not support propagateSizeHints")) ||
                message.contains(QStringLiteral("does not support raise()"))) {
                return;
            }
            previous(type, context, message);
        });
}

// Records the addresses the desk would have opened in a browser.
class RecordingUrlOpener final : public platform::UrlOpener {
public:
    bool openUrl(const QUrl &url) override {
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
};

// The backend of a few accounts, answered the way the hosted Auth and REST services would. Which account a
// request belongs to is read from its bearer token ("access-<tag>").
struct DeskBackend {
    struct Account {
        QUuid id;
        QString tag;
        QJsonArray onSite;
        int today = 0;
        std::chrono::milliseconds onSiteDelay{0};
    };

    std::map<QString, Account> accounts; // by tag
    QString nextSignIn;                  // the tag the next password grant signs in
    bool failLoads = false;
    QByteArray failMessage = "Service temporarily unavailable";
    int signUpStatus = 200;
    QByteArray signUpBody;
    int recoverStatus = 200;
    QByteArray recoverBody = "{}";
    std::chrono::milliseconds authDelay{0};

    void addAccount(const QUuid &id, const QString &tag, const QStringList &onSiteNames = {}) {
        Account account{id, tag, {}, int(onSiteNames.size()), {}};
        int n = 0;
        for (const QString &name : onSiteNames) {
            account.onSite.append(
                QJsonObject{{QStringLiteral("id"),
                             QStringLiteral("9b2e8c1a-0000-4000-8000-%1").arg(++n, 12, 10, QChar(u'0'))},
                            {QStringLiteral("visitor_name"), name},
                            {QStringLiteral("answers"), QJsonArray{}},
                            {QStringLiteral("signed_in_at"), QStringLiteral("2025-03-04T08:00:00+00:00")}});
        }
        accounts[tag] = account;
    }

    [[nodiscard]] const Account *accountOf(const RecordedRequest &request) const {
        const QByteArray bearer = request.header("Authorization");
        for (const auto &[tag, account] : accounts) {
            if (bearer == "Bearer access-" + tag.toUtf8()) {
                return &account;
            }
        }
        return nullptr;
    }

    ScriptedAnswer answer(const RecordedRequest &request) const {
        if (request.path.endsWith("/auth/v1/token")) {
            if (!accounts.contains(nextSignIn)) {
                return ScriptedAnswer::json(
                           400,
                           R"({"error":"invalid_grant","error_description":"Invalid login credentials"})")
                    .delayedBy(authDelay);
            }
            const Account &account = accounts.at(nextSignIn);
            return ScriptedAnswer::json(200, tokenAnswer(QStringLiteral("access-") + account.tag,
                                                         QStringLiteral("refresh-") + account.tag, 3600,
                                                         account.id))
                .delayedBy(authDelay);
        }
        if (request.path.endsWith("/auth/v1/signup")) {
            return ScriptedAnswer::json(signUpStatus, signUpBody).delayedBy(authDelay);
        }
        if (request.path.endsWith("/auth/v1/recover")) {
            return ScriptedAnswer::json(recoverStatus, recoverBody).delayedBy(authDelay);
        }
        if (request.path.endsWith("/auth/v1/logout")) {
            return ScriptedAnswer::json(204, {});
        }
        const Account *account = accountOf(request);
        if (!account) {
            return ScriptedAnswer::json(401, R"({"code":"PGRST301","message":"JWT expired"})");
        }
        if (failLoads) {
            return ScriptedAnswer::json(
                503, QJsonDocument(QJsonObject{{QStringLiteral("message"), QString::fromUtf8(failMessage)}})
                         .toJson(QJsonDocument::Compact));
        }
        const QByteArray table = request.path.mid(request.path.lastIndexOf('/') + 1);
        if (table == "kiosk_settings" || table == "notification_settings") {
            return ScriptedAnswer::json(200, "[]");
        }
        if (table == "visitors" && request.rawQuery.startsWith("select=id&")) {
            const int total =
                request.rawQuery.contains("signed_out_at") ? int(account->onSite.size()) : account->today;
            return ScriptedAnswer::json(206, "[]", {{"Content-Range", "0-0/" + QByteArray::number(total)}});
        }
        if (table == "visitors") {
            return ScriptedAnswer::json(200, QJsonDocument(account->onSite).toJson(QJsonDocument::Compact))
                .delayedBy(account->onSiteDelay);
        }
        return ScriptedAnswer::json(404, "{}");
    }
};

// One model with everything it stands on, against the scripted backend; preferences in a temporary file.
struct DeskFixture {
    DeskFixture() {
        cloud.server->setHandler([this](const RecordedRequest &request) { return backend.answer(request); });
        defaults =
            std::make_unique<QSettings>(dir.filePath(QStringLiteral("desk.ini")), QSettings::IniFormat);
    }
    ~DeskFixture() {
        model.reset();
        notifier.reset();
        printer.reset();
    }
    Q_DISABLE_COPY_MOVE(DeskFixture)

    // Creates the client (with a stored session of this account when given) and the model over it.
    void start(const std::optional<QString> &storedTag = std::nullopt) {
        std::optional<CloudSession> stored;
        if (storedTag) {
            const auto &account = backend.accounts.at(*storedTag);
            stored = CloudSession{QStringLiteral("access-") + account.tag,
                                  QStringLiteral("refresh-") + account.tag, cloud.now.addSecs(3600),
                                  account.id, QStringLiteral("desk@example.com")};
        }
        cloud.makeClient(stored);
        printer = std::make_unique<BadgePrinter>(*defaults, prints);
        notifier = std::make_unique<Notifier>(*cloud.http, *defaults);
        AppModelOptions options;
        options.clock = [this] { return cloud.now; };
        options.deviceName = [] { return QStringLiteral("Front Desk"); };
        options.timeZone = QTimeZone::utc();
        options.pollInterval = std::chrono::hours(1);
        options.deliverAlert = [](const VisitorAlert &, const QUrl &) {};
        model = std::make_unique<AppModel>(*cloud.client, *printer, *notifier, options);
    }

    [[nodiscard]] ui::Environment environment() { return ui::Environment{*model, *defaults, urls}; }

    // Signs in through the client, as the account screen would.
    [[nodiscard]] bool signIn(const QString &tag) {
        backend.nextSignIn = tag;
        const auto outcome = awaitTask(
            cloud.client->signInAccount(QStringLiteral("desk@example.com"), QStringLiteral("secret-pw")));
        return outcome.succeeded();
    }

    [[nodiscard]] QStringList onSiteNames() const {
        QStringList names;
        for (const VisitorRow &row : model->onSite()) {
            names.append(row.visitorName);
        }
        return names;
    }

    CloudFixture cloud;
    DeskBackend backend;
    QTemporaryDir dir;
    std::unique_ptr<QSettings> defaults;
    FakePrintSystem prints;
    std::unique_ptr<BadgePrinter> printer;
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<AppModel> model;
    RecordingUrlOpener urls;
};

} // namespace tallybrook::testing
