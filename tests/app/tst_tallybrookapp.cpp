#include "app/TallybrookApp.h"
#include "platform/ActivationNotice.h"
#include "ui/AuthView.h"
#include "ui/ContentView.h"
#include "ui/DeskTestSupport.h"
#include "ui/DeskView.h"
#include "ui/SettingsView.h"
#include "ui/UpdateGate.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using Command = TallybrookApp::Command;

Q_DECLARE_METATYPE(tallybrook::TallybrookApp::Command)

namespace {

const QUuid accountA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

QByteArray manifest(const QByteArray &minimum, const QByteArray &latest) {
    const QJsonObject direct{{u"minimumVersion"_s, QString::fromUtf8(minimum)},
                             {u"latestVersion"_s, QString::fromUtf8(latest)},
                             {u"downloadURL"_s, u"https://tallybrook.app/download"_s}};
    QJsonObject store = direct;
    store.insert(u"downloadURL"_s, u"https://tallybrook.app/store"_s);
    return QJsonDocument(QJsonObject{{u"direct"_s, direct}, {u"appStore"_s, store}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

class TestTallybrookApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void launchRestoresTheSessionAndChecksForUpdates();
    void commands_data();
    void commands();
    void nobodySignedInDisablesTheDeskCommands();
    void commandsFollowTheSession();
    void requiredStatusResetsOnceAndDisablesTheCommands();
    void requiredStatusBlocksBothWindows();
    void signInVisitorCommandRaisesTheFlagOnce();
    void shortcutsWorkFromEitherWindow_data();
    void shortcutsWorkFromEitherWindow();
    void newInviteAndRefreshCommands();
    void welcomeOpensTheTourOverTheAccountScreen();
    void helpLinksOpenTheWebsitePages_data();
    void helpLinksOpenTheWebsitePages();
    void mainWindowNeverSmallerThanItsMinimum();
    void exactlyOneMainWindowAndOneSettingsWindow();
    void activationReachesTheModelAndTheChecker();
    void quitting();

private:
    void launch(bool signedIn, bool seenTour = true);
    [[nodiscard]] int requestsTo(const QByteArray &suffix) const;
    void report(const QByteArray &body);

    std::unique_ptr<CloudFixture> m_cloud;
    DeskBackend m_backend;
    QByteArray m_manifest;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_defaults;
    FakePrintSystem m_prints;
    RecordingUrlOpener m_urls;
    QDateTime m_now;
    int m_quits = 0;
    std::unique_ptr<TallybrookApp> m_app;
};

void TestTallybrookApp::init() {
    m_cloud = std::make_unique<CloudFixture>();
    m_backend = DeskBackend{};
    m_backend.addAccount(accountA, u"a"_s, {u"Zo\u00eb Park"_s});
    m_manifest = manifest("0.1", "0.1");
    m_cloud->server->setHandler([this](const RecordedRequest &request) {
        if (request.path.endsWith("/api/mac/version")) {
            return ScriptedAnswer::json(200, m_manifest);
        }
        return m_backend.answer(request);
    });
    m_defaults = std::make_unique<QSettings>(m_dir.filePath(u"desk.ini"_s), QSettings::IniFormat);
    m_defaults->clear();
    m_urls.opened.clear();
    m_now = QDateTime(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);
    m_quits = 0;
}

void TestTallybrookApp::cleanup() {
    m_app.reset();
    m_cloud.reset();
}

void TestTallybrookApp::launch(bool signedIn, bool seenTour) {
    m_defaults->setValue(u"hasSeenOnboarding"_s, seenTour);
    if (signedIn) {
        m_cloud->store->stored =
            CloudSession{u"access-a"_s, u"refresh-a"_s, QDateTime::currentDateTimeUtc().addSecs(3600),
                         accountA, u"desk@example.com"_s};
    }
    const CloudConfig config = m_cloud->config();
    UpdateChecker::Options updates = TallybrookApp::updateOptions(config);
    updates.clock = [this] { return m_now; };
    updates.timeout = std::chrono::milliseconds(2000);
    m_app = std::make_unique<TallybrookApp>(
        DeskPlatform{*m_cloud->http, *m_cloud->store, *m_defaults, m_prints, m_urls, config, updates,
                     [] { return u"Front Desk"_s; }, [this] { ++m_quits; }});
    m_app->showMainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&m_app->mainWindow()));
    // The check started at creation has answered.
    QTRY_COMPARE(requestsTo("/api/mac/version"), 1);
    QTRY_VERIFY(m_app->updates().lastCheck().has_value());
    QTest::qWait(20);
}

int TestTallybrookApp::requestsTo(const QByteArray &suffix) const {
    int count = 0;
    for (const RecordedRequest &request : m_cloud->server->requests()) {
        count += request.path.endsWith(suffix) ? 1 : 0;
    }
    return count;
}

void TestTallybrookApp::report(const QByteArray &body) {
    m_manifest = body;
    QVERIFY(runTask(m_app->updates().check()));
}

void TestTallybrookApp::launchRestoresTheSessionAndChecksForUpdates() {
    launch(true);
    QCOMPARE(m_cloud->store->loads, 1);
    QVERIFY(m_app->cloud().isSignedIn());
    QCOMPARE(&m_app->model().cloud(), &m_app->cloud());
    QCOMPARE(&m_app->model().printer(), &m_app->printer());
    QCOMPARE(m_app->contentView().screen(), ui::ContentView::Screen::Desk);
    QCOMPARE(m_app->mainWindow().windowTitle(), u"Tallybrook"_s);
    QCOMPARE(m_app->mainWindow().objectName(), u"main"_s);

    const RecordedRequest check = [this] {
        for (const RecordedRequest &request : m_cloud->server->requests()) {
            if (request.path.endsWith("/api/mac/version")) {
                return request;
            }
        }
        return RecordedRequest{};
    }();
    QCOMPARE(check.path, QByteArray("/site/api/mac/version")); // under the website's base
    QCOMPARE(check.header("Accept"), QByteArray("application/json"));
    QVERIFY(QRegularExpression(u"^\\d+\\.\\d+\\.\\d+$"_s).match(TallybrookApp::runningVersion()).hasMatch());
    QTRY_COMPARE(m_app->model().onSite().size(), 1);
}

void TestTallybrookApp::commands_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("Sign In Visitor") << Command::SignInVisitor << u"fileMenu"_s << u"Sign In Visitor\u2026"_s
                                     << QKeySequence(u"Ctrl+N"_s);
    QTest::newRow("New Invite") << Command::NewInvite << u"fileMenu"_s << u"New Invite\u2026"_s
                                << QKeySequence(u"Ctrl+Shift+I"_s);
    QTest::newRow("Settings") << Command::Settings << u"fileMenu"_s << u"Settings\u2026"_s
                              << QKeySequence(u"Ctrl+,"_s);
    QTest::newRow("Quit") << Command::Quit << u"fileMenu"_s << u"Quit"_s << QKeySequence(u"Ctrl+Q"_s);
    QTest::newRow("Refresh") << Command::Refresh << u"viewMenu"_s << u"Refresh"_s
                             << QKeySequence(u"Ctrl+R"_s);
    QTest::newRow("Welcome") << Command::Welcome << u"helpMenu"_s << u"Welcome to Tallybrook"_s
                             << QKeySequence();
    QTest::newRow("Support") << Command::Support << u"helpMenu"_s << u"Tallybrook Support"_s
                             << QKeySequence();
    QTest::newRow("Host Notifications Guide") << Command::HostNotificationsGuide << u"helpMenu"_s
                                              << u"Host Notifications Guide"_s << QKeySequence();
    QTest::newRow("Privacy Policy") << Command::PrivacyPolicy << u"helpMenu"_s << u"Privacy Policy"_s
                                    << QKeySequence();
}

void TestTallybrookApp::commands() {
    QFETCH(Command, command);
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QKeySequence, shortcut);
    launch(false);
    QAction *action = m_app->action(command);
    QVERIFY(action);
    QCOMPARE(action->text(), title);
    QVERIFY(!action->text().contains(u"..."_s)); // one ellipsis character, never three full stops
    QCOMPARE(action->shortcut(), shortcut);
    auto *owner = m_app->mainWindow().menuBar()->findChild<QMenu *>(menu);
    QVERIFY(owner);
    QVERIFY(owner->actions().contains(action));
}

void TestTallybrookApp::nobodySignedInDisablesTheDeskCommands() {
    launch(false);
    for (const Command command : {Command::SignInVisitor, Command::NewInvite, Command::Refresh}) {
        QVERIFY(!m_app->action(command)->isEnabled());
    }
    for (const Command command : {Command::Welcome, Command::Support, Command::HostNotificationsGuide,
                                  Command::PrivacyPolicy, Command::Settings, Command::Quit}) {
        QVERIFY(m_app->action(command)->isEnabled());
    }
    // A shortcut of a disabled command does nothing.
    QApplication::setActiveWindow(&m_app->mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(&m_app->mainWindow()));
    QTest::keyClick(&m_app->mainWindow(), Qt::Key_N, Qt::ControlModifier);
    QVERIFY(!m_app->model().isSigningIn());
}

void TestTallybrookApp::commandsFollowTheSession() {
    launch(false);
    m_backend.nextSignIn = u"a"_s;
    QVERIFY(awaitTask(m_app->cloud().signInAccount(u"desk@example.com"_s, u"pw"_s)).succeeded());
    for (const Command command : {Command::SignInVisitor, Command::NewInvite, Command::Refresh}) {
        QVERIFY(m_app->action(command)->isEnabled());
    }
    m_app->cloud().signOutAccount();
    for (const Command command : {Command::SignInVisitor, Command::NewInvite, Command::Refresh}) {
        QVERIFY(!m_app->action(command)->isEnabled());
    }
}

void TestTallybrookApp::requiredStatusResetsOnceAndDisablesTheCommands() {
    launch(true);
    AppModel &model = m_app->model();
    QTRY_COMPARE(model.onSite().size(), 1);
    QVERIFY(model.isPolling());

    report(manifest("9.0", "9.1"));
    // At once: commands off, the account's data gone, polling stopped.
    QVERIFY(m_app->updates().isRequired());
    for (const Command command : {Command::SignInVisitor, Command::NewInvite, Command::Refresh}) {
        QVERIFY(!m_app->action(command)->isEnabled());
    }
    QVERIFY(model.onSite().isEmpty());
    QVERIFY(!model.isPolling());
    QVERIFY(m_app->mainGate().isBlocking());

    // A second required answer that leaves the watched value as it was does not reset again.
    model.start();
    QTRY_COMPARE(model.onSite().size(), 1);
    report(manifest("9.0", "9.2"));
    QCOMPARE(m_app->updates().status().version, u"9.2"_s);
    QCOMPARE(model.onSite().size(), 1);
    QVERIFY(model.isPolling());

    // Supported again: the window comes back and ties the model to the session afresh.
    report(manifest("0.1", "0.1"));
    QVERIFY(!m_app->mainGate().isBlocking());
    QVERIFY(m_app->action(Command::SignInVisitor)->isEnabled());
    QVERIFY(model.isPolling());
    QTRY_COMPARE(model.onSite().size(), 1);
}

void TestTallybrookApp::requiredStatusBlocksBothWindows() {
    launch(true);
    m_app->action(Command::Settings)->trigger();
    QVERIFY(m_app->settingsGate());
    QVERIFY(!m_app->settingsGate()->isBlocking());
    report(manifest("9.0", "9.1"));
    QVERIFY(m_app->mainGate().isBlocking());
    QVERIFY(m_app->settingsGate()->isBlocking());
    QVERIFY(!m_app->contentView().isVisible());
    QVERIFY(!m_app->settingsGate()->content()->isVisible());
}

void TestTallybrookApp::signInVisitorCommandRaisesTheFlagOnce() {
    launch(true);
    QApplication::setActiveWindow(&m_app->mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(&m_app->mainWindow()));
    QTest::keyClick(&m_app->mainWindow(), Qt::Key_N, Qt::ControlModifier);
    QVERIFY(m_app->model().isSigningIn());
    ui::DeskView *desk = m_app->contentView().deskView();
    QPointer<QDialog> sheet = desk->signInSheet();
    QVERIFY(sheet);
    QTRY_VERIFY(sheet->isVisible());
    // Again, with the sheet already open: it stays, and nothing else happens.
    m_app->action(Command::SignInVisitor)->trigger();
    QTest::keyClick(&m_app->mainWindow(), Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(desk->signInSheet(), sheet.data());
    QCOMPARE(desk->findChildren<QDialog *>(u"signInVisitorSheet"_s).size(), 1);
    QVERIFY(!m_app->model().isInviting());
    sheet->reject();
    QVERIFY(!m_app->model().isSigningIn());
}

void TestTallybrookApp::shortcutsWorkFromEitherWindow_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<bool>("fromSettings");
    QTest::newRow("Sign In Visitor, main window") << Command::SignInVisitor << false;
    QTest::newRow("Sign In Visitor, settings") << Command::SignInVisitor << true;
    QTest::newRow("New Invite, settings") << Command::NewInvite << true;
    QTest::newRow("Refresh, settings") << Command::Refresh << true;
    QTest::newRow("Quit, settings") << Command::Quit << true;
}

void TestTallybrookApp::shortcutsWorkFromEitherWindow() {
    QFETCH(Command, command);
    QFETCH(bool, fromSettings);
    launch(true);
    m_app->showSettings();
    QWidget *window = fromSettings ? m_app->settingsWindow() : &m_app->mainWindow();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QSignalSpy triggered(m_app->action(command), &QAction::triggered);
    const QKeyCombination key = m_app->action(command)->shortcut()[0];
    QTest::keyClick(window, key.key(), key.keyboardModifiers());
    QCOMPARE(triggered.size(), 1);
}

void TestTallybrookApp::newInviteAndRefreshCommands() {
    launch(true);
    QTRY_COMPARE(m_app->model().onSite().size(), 1);
    m_app->action(Command::NewInvite)->trigger();
    QVERIFY(m_app->model().isInviting());
    QVERIFY(m_app->contentView().deskView()->newInviteSheet());
    m_app->contentView().deskView()->newInviteSheet()->reject();
    QVERIFY(!m_app->model().isInviting());

    const int before = requestsTo("/rest/v1/visitors");
    m_app->action(Command::Refresh)->trigger();
    QTRY_VERIFY(requestsTo("/rest/v1/visitors") >= before + 4); // the list and the three counts
}

void TestTallybrookApp::welcomeOpensTheTourOverTheAccountScreen() {
    launch(false);
    QCOMPARE(m_app->contentView().screen(), ui::ContentView::Screen::Account);
    m_app->action(Command::Welcome)->trigger();
    QVERIFY(m_app->model().isShowingOnboarding());
    QPointer<QDialog> sheet = m_app->contentView().onboardingSheet();
    QVERIFY(sheet);
    QTRY_VERIFY(sheet->isVisible());
    QCOMPARE(m_app->contentView().screen(), ui::ContentView::Screen::Account);
    QTest::mouseClick(sheet->findChild<QPushButton *>(u"onboardingFinishButton"_s), Qt::LeftButton);
    QVERIFY(!m_app->model().isShowingOnboarding());
    QTRY_VERIFY(!sheet);
}

void TestTallybrookApp::helpLinksOpenTheWebsitePages_data() {
    QTest::addColumn<Command>("command");
    QTest::addColumn<QString>("path");
    QTest::newRow("support") << Command::Support << u"/site/support"_s;
    QTest::newRow("host notifications guide")
        << Command::HostNotificationsGuide << u"/site/guides/host-notifications"_s;
    QTest::newRow("privacy") << Command::PrivacyPolicy << u"/site/privacy"_s;
}

void TestTallybrookApp::helpLinksOpenTheWebsitePages() {
    QFETCH(Command, command);
    QFETCH(QString, path);
    launch(false);
    m_app->action(command)->trigger();
    QCOMPARE(m_urls.opened.size(), 1);
    const QUrl opened = m_urls.opened.constFirst();
    QCOMPARE(opened.path(), path);
    QCOMPARE(opened.host(), m_cloud->server->baseUrl().host());
    QCOMPARE(opened.port(), m_cloud->server->baseUrl().port());
}

void TestTallybrookApp::mainWindowNeverSmallerThanItsMinimum() {
    launch(true);
    QMainWindow &window = m_app->mainWindow();
    window.resize(300, 200);
    QTest::qWait(20);
    QVERIFY2(window.width() >= 860 && window.height() >= 560,
             qPrintable(u"%1x%2"_s.arg(window.width()).arg(window.height())));
    QVERIFY(window.centralWidget()->width() >= 860);
    QVERIFY(window.centralWidget()->height() >= 560);
    window.resize(1200, 800);
    QTRY_COMPARE(window.size(), QSize(1200, 800));
}

void TestTallybrookApp::exactlyOneMainWindowAndOneSettingsWindow() {
    launch(false);
    // Asked for again (a second launch), a minimised window comes back.
    m_app->mainWindow().showMinimized();
    m_app->showMainWindow();
    QVERIFY(!m_app->mainWindow().isMinimized());
    m_app->showMainWindow();
    int mainWindows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        mainWindows += qobject_cast<QMainWindow *>(widget) && widget->isVisible() ? 1 : 0;
    }
    QCOMPARE(mainWindows, 1);

    m_app->action(Command::Settings)->trigger();
    QWidget *settings = m_app->settingsWindow();
    QVERIFY(settings);
    QTRY_VERIFY(settings->isVisible());
    QCOMPARE(settings->windowTitle(), u"Settings"_s);
    QCOMPARE(settings->width(), ui::SettingsView::windowWidth);
    QCOMPARE(settings->minimumHeight(), ui::SettingsView::minimumHeight);
    QVERIFY(settings->findChild<ui::SettingsView *>());
    m_app->action(Command::Settings)->trigger();
    QCOMPARE(m_app->settingsWindow(), settings);

    // Closing the main window takes the settings window with it.
    m_app->mainWindow().close();
    QVERIFY(!settings->isVisible());
}

void TestTallybrookApp::activationReachesTheModelAndTheChecker() {
    launch(true);
    QTRY_COMPARE(m_app->model().onSite().size(), 1);
    const int visitorRequests = requestsTo("/rest/v1/visitors");
    const int checks = requestsTo("/api/mac/version");
    m_now = m_now.addSecs(2 * 3600);
    m_app->activation().applicationStateChanged(Qt::ApplicationInactive);
    m_app->activation().applicationStateChanged(Qt::ApplicationActive);
    QTRY_VERIFY(requestsTo("/rest/v1/visitors") > visitorRequests);
    QTRY_COMPARE(requestsTo("/api/mac/version"), checks + 1);
}

void TestTallybrookApp::quitting() {
    launch(true);
    m_app->action(Command::Quit)->trigger();
    QCOMPARE(m_quits, 1);
    report(manifest("9.0", "9.1"));
    QTest::mouseClick(m_app->mainGate().requiredView()->findChild<QPushButton *>(u"quitButton"_s),
                      Qt::LeftButton);
    QCOMPARE(m_quits, 2);
}

QTEST_MAIN(TestTallybrookApp)
#include "tst_tallybrookapp.moc"
