#pragma once

#include "badges/BadgePrinter.h"
#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "platform/UrlOpener.h"
#include "support/CloudFixture.h"
#include "support/ServerProcess.h"
#include "support/TaskOutcome.h"
#include "ui/DeskScreen.h"
#include "ui/Environment.h"

#include <QDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <map>

namespace tallybrook::testing {

// Records the addresses the desk would have opened in a browser.
struct RecordingUrlOpener final : platform::UrlOpener {
    bool openUrl(const QUrl &url) override {
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
};

// The backend of a few accounts, answered the way the hosted services and the website would. Which account
// a request belongs to is read from its bearer token ("access-<tag>"); an unknown one throws.
struct DeskBackend {
    struct Account {
        QUuid id;
        QJsonArray onSite;
        std::chrono::milliseconds onSiteDelay{0};
    };

    std::map<QString, Account> accounts; // by tag
    QString nextSignIn;                  // the tag the next password grant signs in
    std::chrono::milliseconds authDelay{0};
    // Answers of the auth service by the last segment of the path ("token", "signup"...): status and body.
    std::map<QByteArray, std::pair<int, QByteArray>> auth{{"recover", {200, "{}"}}, {"logout", {204, {}}}};
    std::optional<QString> failLoads; // the message every load of an account's data fails with
    QJsonArray invites;               // every account's, looked up by token
    QByteArray manifest =
        R"({"direct":{"minimumVersion":"0.1","latestVersion":"0.1","downloadURL":"https://a.b"}})";

    void addAccount(const QUuid &id, const QString &tag, const QStringList &onSiteNames = {}) {
        Account &account = accounts[tag] = {id, {}, {}};
        for (const QString &name : onSiteNames) {
            account.onSite.append(
                QJsonObject{{QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
                            {QStringLiteral("visitor_name"), name},
                            {QStringLiteral("answers"), QJsonArray{}},
                            {QStringLiteral("signed_in_at"), QStringLiteral("2025-03-04T08:00:00+00:00")}});
        }
    }

    [[nodiscard]] ScriptedAnswer answer(const RecordedRequest &request) const {
        const QByteArray last = request.path.mid(request.path.lastIndexOf('/') + 1);
        if (last == "version") {
            return ScriptedAnswer::json(200, manifest);
        }
        if (auth.contains(last)) {
            return ScriptedAnswer::json(auth.at(last).first, auth.at(last).second).delayedBy(authDelay);
        }
        if (last == "token") {
            return ScriptedAnswer::json(200, tokenAnswer(QStringLiteral("access-") + nextSignIn,
                                                         QStringLiteral("refresh-") + nextSignIn, 3600,
                                                         accounts.at(nextSignIn).id))
                .delayedBy(authDelay);
        }
        const Account &account = accounts.at(QString::fromUtf8(request.header("Authorization").mid(14)));
        if (failLoads) {
            return ScriptedAnswer::json(503, R"({"message":")" + failLoads->toUtf8() + R"("})");
        }
        if (last == "visitors" && request.rawQuery.startsWith("select=id&")) {
            return ScriptedAnswer::json(
                206, "[]", {{"Content-Range", "0-0/" + QByteArray::number(account.onSite.size())}});
        }
        if (last == "visitors") {
            return ScriptedAnswer::json(200, QJsonDocument(account.onSite).toJson(QJsonDocument::Compact))
                .delayedBy(account.onSiteDelay);
        }
        if (last == "invites") {
            QJsonArray found;
            for (const QJsonValue &invite : invites) {
                const QByteArray wanted =
                    "token=eq." + QUrl::toPercentEncoding(invite[QStringLiteral("token")].toString()) + '&';
                if (request.rawQuery.contains(wanted)) {
                    found.append(invite);
                }
            }
            return ScriptedAnswer::json(200, QJsonDocument(found).toJson(QJsonDocument::Compact));
        }
        return ScriptedAnswer::json(200, "[]"); // the account's setup: none saved yet
    }
};

// Everything the desk stands on, against the scripted backend; preferences in a temporary file. start()
// creates the client (with a stored session of an account when given) and the model over it.
struct DeskFixture {
    DeskFixture() {
        cloud.server->setHandler([this](const RecordedRequest &request) { return backend.answer(request); });
    }

    void start(const std::optional<QString> &storedTag = std::nullopt) {
        cloud.makeClient(storedTag ? std::optional(cloud.sessionExpiringIn(
                                         3600, backend.accounts.at(*storedTag).id, *storedTag))
                                   : std::nullopt);
        printer = std::make_unique<BadgePrinter>(*defaults, prints);
        notifier = std::make_unique<Notifier>(*cloud.http, *defaults);
        AppModelOptions options;
        options.clock = [this] { return cloud.now; };
        options.timeZone = QTimeZone::utc();
        options.pollInterval = std::chrono::hours(1);
        model = std::make_unique<AppModel>(*cloud.client, *printer, *notifier, options);
    }

    // Signed in to an account "a" of this id, with every request answered by `handler` instead of the
    // backend.
    void startAgainst(const QUuid &id, ScriptedHttpServer::Handler handler) {
        backend.addAccount(id, QStringLiteral("a"));
        cloud.server->setHandler(std::move(handler));
        start(QStringLiteral("a"));
    }
    [[nodiscard]] ui::Environment environment() { return {*model, *defaults, urls}; }

    // Signs in through the client, as the account screen would.
    [[nodiscard]] bool signIn(const QString &tag) {
        backend.nextSignIn = tag;
        return awaitTask(
                   cloud.client->signInAccount(QStringLiteral("desk@example.com"), QStringLiteral("pw")))
            .succeeded();
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
    std::unique_ptr<QSettings> defaults =
        std::make_unique<QSettings>(dir.filePath(QStringLiteral("desk.ini")), QSettings::IniFormat);
    FakePrintSystem prints;
    RecordingUrlOpener urls;
    std::unique_ptr<BadgePrinter> printer;
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<AppModel> model;
};

// An invite as the REST service keeps it, for any day and unused, with the token "tok/<name>" and the name
// in lower case without spaces as the address at example.com; the fields of `with` replace these.
inline QJsonObject inviteJson(const QString &name, const QJsonObject &with = {}) {
    QJsonObject invite{
        {QStringLiteral("id"), QUuid::createUuidV5(QUuid(), name).toString(QUuid::WithoutBraces)},
        {QStringLiteral("token"), QString(QStringLiteral("tok/") + name)},
        {QStringLiteral("visitor_name"), name},
        {QStringLiteral("visitor_email"),
         QString(name.toLower().remove(u' ') + QStringLiteral("@example.com"))},
        {QStringLiteral("answers"), QJsonArray{}},
        {QStringLiteral("visit_date"), QJsonValue::Null},
        {QStringLiteral("visit_time"), QJsonValue::Null},
        {QStringLiteral("note"), QJsonValue::Null},
        {QStringLiteral("created_at"), QStringLiteral("2025-03-01T09:00:00Z")},
        {QStringLiteral("used_at"), QJsonValue::Null}};
    for (auto field = with.begin(); field != with.end(); ++field) {
        invite.insert(field.key(), field.value());
    }
    return invite;
}

// A desk screen shown on its own, its toolbar controls inside it rather than in the desk's toolbar.
inline void showScreen(ui::DeskScreen &screen, QSize size) {
    screen.toolbarItems()->setParent(&screen);
    screen.resize(size);
    screen.show();
}

// The real server with the demo account, and a desk signed in to it: its client, printer, notifier and model.
struct DemoDesk {
    // False, with a failure recorded, when the server did not start or the demo account did not sign in.
    [[nodiscard]] bool start(AppModelOptions options = {}) {
        if (!server.start()) {
            QTest::qFail(qPrintable(server.errorText()), __FILE__, __LINE__);
            return false;
        }
        CloudConfig config;
        config.backendURL = config.websiteURL = server.baseUrl();
        config.publishableKey = QString::fromUtf8(server.publishableKey());
        cloud = std::make_unique<CloudClient>(*f.cloud.http, *f.cloud.store, config);
        if (!runTask(cloud->signInAccount(QStringLiteral("demo@tallybrook.local"),
                                          QStringLiteral("tallybrook-demo")))) {
            QTest::qFail("the demo account did not sign in", __FILE__, __LINE__);
            return false;
        }
        printer = std::make_unique<BadgePrinter>(*f.defaults, f.prints);
        notifier = std::make_unique<Notifier>(*f.cloud.http, *f.defaults);
        model = std::make_unique<AppModel>(*cloud, *printer, *notifier, std::move(options));
        return true;
    }
    [[nodiscard]] ui::Environment environment() { return {*model, *f.defaults, f.urls}; }

    ServerProcess server{{QStringLiteral("--seed-demo")}};
    DeskFixture f; // the network, session store, preferences, printers and browser of the desk
    std::unique_ptr<CloudClient> cloud;
    std::unique_ptr<BadgePrinter> printer;
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<AppModel> model;
};

} // namespace tallybrook::testing
