#include "app/SingleInstance.h"
#include "app/TallybrookApp.h"
#include "platform/ActivationNotice.h"
#include "platform/ComputerName.h"
#include "support/ServerProcess.h"
#include "ui/AuthView.h"
#include "ui/ContentView.h"
#include "ui/DeskTestSupport.h"
#include "ui/DeskView.h"
#include "ui/OnboardingView.h"
#include "ui/TodayView.h"
#include "ui/UpdateGate.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QMainWindow>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using Command = TallybrookApp::Command;
using Screen = ui::ContentView::Screen;
using Kind = UpdateStatus::Kind;
using Channel = UpdateChecker::Channel;

namespace {

const QUrl download(u"https://tallybrook.app/download/2.0"_s);

QByteArray channel(const QByteArray &minimum, const QByteArray &latest, const QByteArray &url) {
    return R"({"minimumVersion":")" + minimum + R"(","latestVersion":")" + latest + R"(","downloadURL":")" +
           url + R"("})";
}

// The desk runs 0.1.0.
QByteArray manifest(const QByteArray &minimum, const QByteArray &latest,
                    const QByteArray &url = download.toEncoded(), const QByteArray &store = "null") {
    return R"({"direct":)" + channel(minimum, latest, url) + R"(,"appStore":)" + store + "}";
}

// Answers that are no manifest: each would change the status if it were read as one. (Outside the class: moc
// cannot read raw strings.)
const QByteArray malformed = R"({"direct":{"minimumVersion")";
const QByteArray numberForText =
    R"({"direct":{"minimumVersion":9,"latestVersion":"9","downloadURL":"https://a.b"}})";
const QByteArray channelNotAnObject = R"({"direct":"soon"})";

// The texts of an alert, and whether each is shown as plain text.
QStringList textsOf(QMessageBox *box) {
    QStringList texts;
    for (const QLabel *label : box->findChildren<QLabel *>()) {
        if (!label->text().isEmpty()) {
            texts.append(label->textFormat() == Qt::PlainText ? label->text() : u"not plain"_s);
        }
    }
    texts.sort();
    return texts;
}

} // namespace

// The shell: its windows behind the update gate, the gate's blocking screen and its offer, and the commands;
// the update checker behind the gate; the platform seams it connects; and the road the run command takes,
// against the real server.
class TestTallybrookApp : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    QDateTime m_now;
    int m_quits = 0;
    std::optional<ServerProcess> m_server; // stopped after the desk
    std::unique_ptr<TallybrookApp> m_app;
    QTemporaryDir m_dir; // the single-instance socket: a desk running here is never touched

    // Against the scripted backend unless `against` says otherwise.
    void launch(bool signedIn, const std::optional<CloudConfig> &against = {}) {
        if (signedIn) { // the desk runs on the real clock
            m_f->cloud.store->stored =
                CloudSession{u"access-a"_s, u"r"_s, QDateTime::currentDateTimeUtc().addSecs(3600),
                             m_f->backend.accounts.at(u"a"_s).id, u"desk@example.com"_s};
        }
        const CloudConfig config = against.value_or(m_f->cloud.config());
        UpdateChecker::Options updates = TallybrookApp::updateOptions(config);
        updates.clock = [this] { return m_now; };
        m_app = std::make_unique<TallybrookApp>(
            DeskPlatform{*m_f->cloud.http, *m_f->cloud.store, *m_f->defaults, m_f->prints, m_f->urls, config,
                         updates, [] { return u"Front Desk"_s; }, [this] { ++m_quits; }});
        m_app->showMainWindow();
        QApplication::setActiveWindow(&m_app->mainWindow());
        QVERIFY(QTest::qWaitForWindowActive(&m_app->mainWindow()));
        if (!against) {
            // The check started at creation has answered.
            QTRY_COMPARE(m_f->cloud.requestsTo("/site/api/mac/version"), 1); // under the website's base
            QTest::qWait(20);
        }
        if (signedIn) {
            QTRY_COMPARE(m_app->model().onSite().size(), 1); // the account's visitor
        }
    }
    // Signed out, against the real local server started with `arguments`.
    void launchAgainstTheServer(const QStringList &arguments = {}) {
        m_server.emplace(arguments);
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
        CloudConfig config;
        config.backendURL = config.websiteURL = m_server->baseUrl();
        config.publishableKey = QString::fromUtf8(m_server->publishableKey());
        launch(false, config);
    }
    void report(const QByteArray &body) {
        m_f->backend.manifest = body;
        QVERIFY(runTask(m_app->updates().check()));
    }
    [[nodiscard]] QMessageBox *shownAlert(ui::UpdateGate *gate = nullptr) const {
        QMessageBox *alert = (gate ? gate : &m_app->mainGate())->alert();
        return alert && alert->isVisible() ? alert : nullptr;
    }
    // Whether Sign In Visitor, New Invite and Refresh are enabled.
    [[nodiscard]] QList<bool> deskCommandsEnabled() const {
        QList<bool> enabled;
        for (const Command command :
             {Command::SignInVisitor, Command::NewInvite, Command::RollCall, Command::Refresh}) {
            enabled.append(m_app->action(command)->isEnabled());
        }
        return enabled;
    }
    // Every control a person can use in the windows shown has a name, for screen readers and for scripts.
    static void checkAccessibleNames() {
        int controls = 0;
        for (QWidget *widget : QApplication::allWidgets()) {
            if (widget->isVisible() &&
                (qobject_cast<QAbstractButton *>(widget) || qobject_cast<QLineEdit *>(widget) ||
                 qobject_cast<QAbstractItemView *>(widget))) {
                ++controls;
                QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
            }
        }
        QVERIFY(controls > 0);
    }

private Q_SLOTS:
    void init() {
        m_f = std::make_unique<DeskFixture>();
        m_f->backend.addAccount(QUuid::createUuid(), u"a"_s, {u"Zo\u00eb Park"_s});
        m_f->defaults->setValue(u"hasSeenOnboarding"_s, true);
        m_now = QDateTime(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);
        m_quits = 0;
    }
    void cleanup() {
        m_app.reset();
        m_server.reset();
        m_f.reset();
    }

    void requiredStatusBlocksBothWindowsAtOnce() {
        launch(true);
        m_app->showSettings();
        AppModel &model = m_app->model();
        model.setSigningIn(true);
        QPointer<QDialog> sheet = m_app->contentView().deskView()->signInSheet();
        QTRY_VERIFY(sheet && sheet->isVisible());
        checkAccessibleNames(); // the desk and its sheet: the most controls on one screen

        report(manifest("9", "9.1"));
        // No event loop turn in between: the windows' content and its sheets are gone, the commands off, the
        // account's data gone and polling stopped.
        QVERIFY(!m_app->contentView().isVisible());
        QVERIFY(!m_app->settingsGate()->content()->isVisible());
        QVERIFY(!model.isSigningIn());
        QCOMPARE(deskCommandsEnabled(), QList<bool>(4, false));
        QVERIFY(model.onSite().isEmpty()); // the model reset, as its own test knows it
        QPointer<ui::UpdateRequiredView> screen = m_app->mainGate().requiredView();
        QCOMPARE(screen->findChild<QLabel *>(u"updateRequiredMessage"_s)->text(),
                 u"This version of Tallybrook (0.1.0) is no longer supported. Download version 9.1 to keep "_s
                 u"signing in visitors."_s);
        // The screen puts the focus on Download; Return downloads even with the focus on "Quit".
        auto *downloadButton = screen->findChild<QPushButton *>(u"downloadUpdateButton"_s);
        QApplication::setActiveWindow(&m_app->mainWindow());
        QTRY_VERIFY(downloadButton->hasFocus());
        QTest::keyClick(screen->findChild<QPushButton *>(u"quitButton"_s), Qt::Key_Return);
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        QCOMPARE(m_f->urls.opened, QList<QUrl>(2, download));
        // The blocking screen quits the desk, the settings window's too: both gates are built the same way.
        QCOMPARE(m_quits, 0);
        QTest::mouseClick(m_app->settingsGate()->requiredView()->findChild<QPushButton *>(u"quitButton"_s),
                          Qt::LeftButton);
        QCOMPARE(m_quits, 1);

        // A second required answer that leaves the watched value as it was does not reset again.
        model.start();
        QTRY_COMPARE(model.onSite().size(), 1);
        report(manifest("9", "9.2"));
        QCOMPARE(model.onSite().size(), 1);

        // Supported again: the window comes back and ties the model to the session afresh.
        report(manifest("0.1", "0.1"));
        QVERIFY(m_app->contentView().isVisible());
        QCOMPARE(deskCommandsEnabled(), QList<bool>(4, true));
        QTRY_COMPARE(model.onSite().size(), 1);
        QTRY_VERIFY(!screen);
    }

    // The offered version comes from the network: markup in it is shown as typed, and no link in it opens.
    // Return and Escape reach the default and escape buttons through QMessageBox itself.
    void everyWayOfClosingTheOfferDismissesIt_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("opensDownload");
        QTest::newRow("Download") << u"Download"_s << true;
        QTest::newRow("Later") << u"Later"_s << false;
        QTest::newRow("window closed") << u"close"_s << false;
    }
    void everyWayOfClosingTheOfferDismissesIt() {
        QFETCH(QString, how);
        QFETCH(bool, opensDownload);
        launch(false);
        m_app->contentView().authView()->setMode(ui::AuthView::Mode::Create);
        report(manifest("0", "2.0<a href='file:///etc/passwd'>x</a>"));
        QTRY_VERIFY(shownAlert());
        QPointer<QMessageBox> alert = shownAlert();
        QCOMPARE(alert->windowModality(), Qt::WindowModal); // the desk's other window stays usable
        QCOMPARE(textsOf(alert), (QStringList{u"A New Version Is Available"_s,
                                              u"Tallybrook 2.0<a href='file:///etc/passwd'>x</a> is ready. "
                                              u"You're using 0.1.0."_s}));
        // A newer version while the alert is open is offered in the same alert.
        report(manifest("0", "2.1<b>!</b>"));
        QCOMPARE(shownAlert(), alert.data());
        QVERIFY(textsOf(alert).contains(u"Tallybrook 2.1<b>!</b> is ready. You're using 0.1.0."_s));
        QVERIFY(m_app->contentView().isVisible());
        QCOMPARE(m_app->updates().dismissedVersion(), std::nullopt);
        if (how == u"close") {
            alert->close();
        } else {
            QTest::mouseClick(how == u"Download" ? alert->defaultButton() : alert->escapeButton(),
                              Qt::LeftButton);
        }
        QTRY_COMPARE(m_app->updates().dismissedVersion(), u"2.1<b>!</b>"_s);
        QCOMPARE(m_f->urls.opened, opensDownload ? QList<QUrl>{download} : QList<QUrl>{});
        QTRY_VERIFY(!alert);

        // Offered again only when a newer version comes.
        report(manifest("0", "2.1<b>!</b>"));
        QTest::qWait(50);
        QVERIFY(!m_app->mainGate().alert());
        report(manifest("0", "2.2"));
        QTRY_VERIFY(shownAlert());
    }

    // One main window and one settings window, each with its own gate.
    void eachWindowOffersOnceShownAndGoesWithTheOffer() {
        launch(false);
        // Asked for again (a second launch), a minimised window comes back.
        m_app->mainWindow().showMinimized();
        m_app->showMainWindow();
        QVERIFY(!m_app->mainWindow().isMinimized());
        m_app->action(Command::Settings)->trigger();
        QPointer<QWidget> settings = m_app->settingsWindow();
        settings->hide();
        report(manifest("0", "2.0"));
        QTRY_VERIFY(shownAlert());
        QVERIFY(!m_app->settingsGate()->alert());
        m_app->action(Command::Settings)->trigger();
        QCOMPARE(m_app->settingsWindow(), settings.data());
        QTRY_VERIFY(shownAlert(m_app->settingsGate()));
        // One answer dismisses the offer in both windows.
        QPointer<QMessageBox> mainAlert = shownAlert();
        QTest::mouseClick(shownAlert(m_app->settingsGate())->escapeButton(), Qt::LeftButton); // Later
        QTRY_COMPARE(m_app->updates().dismissedVersion(), u"2.0"_s);
        QTRY_VERIFY(!mainAlert);

        // Required while the offer shows: the alerts go because the offer went, not because the person put
        // it off.
        report(manifest("0", "2.1"));
        QTRY_VERIFY(shownAlert() && shownAlert(m_app->settingsGate()));
        mainAlert = shownAlert();
        report(manifest("9", "9.1"));
        QVERIFY(!m_app->mainGate().alert() && !m_app->settingsGate()->alert());
        QTRY_VERIFY(!mainAlert);
        QCOMPARE(m_app->updates().dismissedVersion(), u"2.0"_s);
        QVERIFY(m_f->urls.opened.isEmpty());
        // Closing the main window takes the settings window with it.
        m_app->mainWindow().close();
        QVERIFY(!settings->isVisible());
    }

    // The menu's shortcuts work in the settings window too, not only in the main window that holds the menu.
    // Every command's shortcut is set the same way; Quit also shows that the command reaches the desk.
    void shortcutsFireOnceFromTheSettingsWindow() {
        launch(true);
        m_app->showSettings();
        QWidget *window = m_app->settingsWindow();
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QSignalSpy triggered(m_app->action(Command::Quit), &QAction::triggered);
        QTest::keySequence(window, QKeySequence(u"Ctrl+Q"_s));
        QCOMPARE(triggered.size(), 1);
        QCOMPARE(m_quits, 1);
    }

    // Sign In Visitor, New Invite, Roll Call and Refresh work only while somebody is signed in.
    void commandsDoWhatTheySayAndFollowTheSession() {
        launch(true);
        QCOMPARE(deskCommandsEnabled(), QList<bool>(4, true));
        m_app->action(Command::SignInVisitor)->trigger();
        QVERIFY(m_app->model().isSigningIn());
        m_app->action(Command::NewInvite)->trigger();
        QVERIFY(m_app->model().isInviting());
        m_app->action(Command::Welcome)->trigger();
        QVERIFY(m_app->model().isShowingOnboarding());
        const int before = m_f->cloud.requestsTo("/rest/v1/visitors");
        m_app->action(Command::Refresh)->trigger();
        QTRY_COMPARE(m_f->cloud.requestsTo("/rest/v1/visitors"), before + 4); // the list and the three counts
        m_app->action(Command::RollCall)->trigger();
        QVERIFY(m_app->contentView().deskView()->rollCallSheet());
        // The help pages are the website's; all three open the same way, the guide one folder deeper.
        m_app->action(Command::HostNotificationsGuide)->trigger();
        const QString site = m_f->cloud.server->baseUrl().toString() + u"/site/"_s;
        QCOMPARE(m_f->urls.opened, QList<QUrl>{QUrl(site + u"guides/host-notifications"_s)});
        m_app->cloud().signOutAccount();
        QCOMPARE(deskCommandsEnabled(), QList<bool>(4, false));
    }

    void comparesVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("numeric, not textual") << u"1.10"_s << u"1.9"_s << 1;
        QTest::newRow("non-numeric piece counts as zero") << u"2.0-beta"_s << u"2.0"_s << 0;
        QTest::newRow("empty pieces dropped") << u"1..2"_s << u"1.2"_s << 0;
    }
    void comparesVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a, b), order);
        QCOMPARE(compareVersions(b, a), -order);
    }

    // The running version is 1. Only the channel in use counts; a download link the desk will not open offers
    // nothing, whatever the versions say.
    void evaluatesTheChannelInUse_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Channel>("channel");
        QTest::addColumn<QString>("status");
        const auto direct = Channel::Direct;
        const QByteArray store = channel("9", "9.1", "https://a.b/s");
        QTest::newRow("latest written longer") << manifest("1", "1.0.0") << direct << u"up to date"_s;
        QTest::newRow("only the other channel")
            << "{\"appStore\":" + store + "}" << direct << u"up to date"_s;
        QTest::newRow("the store's copy")
            << manifest("1", "1", "https://a", store) << Channel::AppStore << u"required 9.1"_s;
        QTest::newRow("file link") << manifest("1", "9", "file:///tmp/x") << direct << u"up to date"_s;
        QTest::newRow("file link on this computer")
            << manifest("1", "9", "file://127.0.0.1/x") << direct << u"up to date"_s;
        QTest::newRow("plain http elsewhere")
            << manifest("9", "9", "http://a.b") << direct << u"up to date"_s;
        QTest::newRow("plain http on this computer")
            << manifest("1", "9", "http://127.0.0.1:5") << direct << u"available 9"_s;
        QTest::newRow("file link in the other channel")
            << manifest("1", "9", "https://a", channel("1", "9", "file:///x")) << direct << u"available 9"_s;
    }
    void evaluatesTheChannelInUse() {
        QFETCH(QByteArray, body);
        QFETCH(Channel, channel);
        QFETCH(QString, status);
        const UpdateStatus got = UpdateChecker::evaluate(*VersionManifest::fromJson(body), channel, u"1"_s);
        QCOMPARE(got.kind == Kind::UpToDate
                     ? u"up to date"_s
                     : (got.kind == Kind::Required ? u"required "_s : u"available "_s) + got.version,
                 status);
    }

    // Every failure is silent and leaves the status as it was. A lost connection has no body and fails as the
    // malformed one does.
    void failedChecksKeepTheStatus_data() {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::newRow("201 is not 200") << ScriptedAnswer::json(201, manifest("9.0", "9.0"));
        QTest::newRow("malformed json") << ScriptedAnswer::json(200, malformed);
        QTest::newRow("a number for a version") << ScriptedAnswer::json(200, numberForText);
        QTest::newRow("a channel that is not an object") << ScriptedAnswer::json(200, channelNotAnObject);
    }
    void failedChecksKeepTheStatus() {
        QFETCH(ScriptedAnswer, answer);
        // A checker of its own, running 1.0, that checks only when asked.
        UpdateChecker::Options options;
        options.manifestURL = m_f->cloud.server->baseUrl();
        options.runningVersion = u"1.0"_s;
        options.checkAtCreation = false;
        options.clock = [this] { return m_now; };
        UpdateChecker updates(*m_f->cloud.http, options);
        m_f->cloud.server->enqueue(ScriptedAnswer::json(200, manifest("1.0", "1.1")));
        QVERIFY(runTask(updates.check()));
        QCOMPARE(updates.status().kind, Kind::Available);
        QCOMPARE(m_f->cloud.server->requests().constFirst().header("Accept"), QByteArray("application/json"));

        QSignalSpy changed(&updates, &UpdateChecker::statusChanged);
        m_f->cloud.server->setHandler([answer](const RecordedRequest &) { return answer; });
        m_now = m_now.addSecs(10);
        QVERIFY(runTask(updates.check()));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(*updates.lastCheck(), m_now); // a failed check counts as a check
    }

    // Coming back to the desk refreshes the model at once, and checks for updates once the last check is more
    // than an hour old.
    void activationReachesTheModelAndTheChecker() {
        launch(true);
        QSignalSpy active(&m_app->activation(), &platform::ActivationNotice::becameActive);
        const int visitorRequests = m_f->cloud.requestsTo("/rest/v1/visitors");
        m_now = m_now.addSecs(3600);
        // Only the change to active counts.
        for (const auto state : {Qt::ApplicationInactive, Qt::ApplicationActive, Qt::ApplicationActive,
                                 Qt::ApplicationHidden, Qt::ApplicationActive}) {
            Q_EMIT qGuiApp->applicationStateChanged(state);
        }
        QCOMPARE(active.size(), 2);
        QTRY_VERIFY(m_f->cloud.requestsTo("/rest/v1/visitors") > visitorRequests);
        QTest::qWait(50);
        QCOMPARE(m_f->cloud.requestsTo("/api/mac/version"), 1);
        m_now = m_now.addSecs(1);
        Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
        Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        QTRY_COMPARE(m_f->cloud.requestsTo("/api/mac/version"), 2);
    }

    // The road the run command takes: the desk against the real local server and its demo account.
    void firstLaunchToTheDeskOfTheDemoAccount() {
        m_f->defaults->setValue(u"hasSeenOnboarding"_s, false);
        launchAgainstTheServer({u"--seed-demo"_s});
        ui::ContentView &content = m_app->contentView();
        QCOMPARE(content.screen(), Screen::Onboarding);

        QTest::mouseClick(content.onboardingView()->findChild<QPushButton *>(u"onboardingSkipButton"_s),
                          Qt::LeftButton);
        QCOMPARE(content.screen(), Screen::Account);
        ui::AuthView *auth = content.authView();
        QTest::keyClicks(auth->findChild<QLineEdit *>(u"emailField"_s), u"demo@tallybrook.local"_s);
        QTest::keyClicks(auth->findChild<QLineEdit *>(u"passwordField"_s), u"tallybrook-demo"_s);
        QTest::keyClick(auth->findChild<QLineEdit *>(u"passwordField"_s), Qt::Key_Return);

        QTRY_COMPARE_WITH_TIMEOUT(content.screen(), Screen::Desk, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_app->model().lastRefresh().has_value(), 10000);
        QCOMPARE(m_app->model().error(), std::nullopt);
        QVERIFY(!m_app->updates().isRequired());
        QVERIFY(m_f->cloud.store->stored.has_value()); // kept for the next launch

        m_app->cloud().signOutAccount();
        QCOMPARE(content.screen(), Screen::Account);
        QVERIFY(!m_f->cloud.store->stored.has_value());
    }

    // A visitor's road on the real widgets against the real server: Ctrl+N, a name, Return, and the visitor
    // is on Today; their Sign Out, and they have left.
    void aVisitorsRoadThroughTheDesk() {
        launchAgainstTheServer();
        QVERIFY(runTask(m_app->cloud().signUp(u"desk@example.com"_s, u"correct horse"_s, u"Desk"_s)));
        QTRY_VERIFY_WITH_TIMEOUT(m_app->model().hasLoadedSetup() && m_app->model().lastRefresh(), 10000);
        ui::DeskView *desk = m_app->contentView().deskView();
        auto *today = qobject_cast<ui::TodayView *>(desk->screen());
        const auto tiles = [today] {
            QStringList values;
            for (const char *tile : {"visitorsTodayTile", "onSiteTile"}) {
                values.append(
                    QString::number(today->findChild<ui::StatTile *>(QLatin1StringView(tile))->value()));
            }
            return values.join(u' ');
        };
        QCOMPARE(tiles(), u"0 0"_s);

        QTest::keySequence(&m_app->mainWindow(), QKeySequence(u"Ctrl+N"_s));
        QTRY_VERIFY(desk->signInSheet() && desk->signInSheet()->isVisible());
        auto *name = desk->signInSheet()->findChild<QLineEdit *>(u"answerField0"_s);
        QTest::keyClicks(name, u"Grace Hopper"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(tiles(), u"1 1"_s, 10000);
        QVERIFY(!desk->signInSheet());

        QTest::mouseClick(today->findChild<QPushButton *>(u"signOutButton"_s), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(tiles(), u"1 0"_s, 10000);
        QVERIFY(!today->findChild<ui::OnSiteRow *>());
    }

    // The pretty name of /etc/machine-info, read as the shell reads it, else the host name.
    void computerName_data() {
        QTest::addColumn<QByteArray>("machineInfo");
        QTest::addColumn<QString>("name"); // on a computer whose host name is desk-01
        QTest::newRow("single quotes, UTF-8") << QByteArray("PRETTY_HOSTNAME='Zo\xc3\xab'") << u"Zo\u00eb"_s;
        QTest::newRow("escaped quote") << QByteArray("PRETTY_HOSTNAME=\"A \\\"B\\\"\"") << u"A \"B\""_s;
        QTest::newRow("comment after the value") << QByteArray("PRETTY_HOSTNAME=Lobby # big") << u"Lobby"_s;
        QTest::newRow("the last one wins") << QByteArray("PRETTY_HOSTNAME=A\nPRETTY_HOSTNAME=B") << u"B"_s;
        QTest::newRow("commented out") << QByteArray("#PRETTY_HOSTNAME=A") << u"desk-01"_s;
        QTest::newRow("blank: the host name") << QByteArray("PRETTY_HOSTNAME=\"  \"") << u"desk-01"_s;
    }
    void computerName() {
        QFETCH(QByteArray, machineInfo);
        QFETCH(QString, name);
        QCOMPARE(platform::computerNameFrom(machineInfo, u"desk-01"_s), name);
        QCOMPARE(platform::computerNameFrom({}, u" "_s), u"Desk"_s); // neither
    }

    // One desk per user session. The socket a crashed desk left behind is taken over; a second launch then
    // raises the first and stops; once the first has quit, the next launch is the desk.
    void aSecondLaunchRaisesTheFirstAndStops() {
        // A bound socket nobody listens on: what a desk that crashed leaves behind.
        const QString name = m_dir.filePath(u"desk"_s);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        QVERIFY(fd >= 0 && size_t(path.size()) < sizeof(address.sun_path));
        std::copy(path.cbegin(), path.cend(), address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(name));

        auto first = std::make_unique<SingleInstance>(name);
        QSignalSpy raised(first.get(), &SingleInstance::activationRequested);
        QVERIFY(first->claim());
        QVERIFY(!SingleInstance(name).claim());
        QTRY_COMPARE(raised.size(), 1);
        first.reset();
        QVERIFY(SingleInstance(name).claim());
    }
};

QTEST_MAIN(TestTallybrookApp)
#include "tst_tallybrookapp.moc"
