#include "app/TallybrookApp.h"
#include "ui/AuthView.h"
#include "ui/ContentView.h"
#include "ui/DeskTestSupport.h"
#include "ui/DeskView.h"
#include "ui/Icons.h"
#include "ui/UpdateGate.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

const QUuid accountA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

QByteArray manifest(const QString &minimum, const QString &latest) {
    const QJsonObject direct{{u"minimumVersion"_s, minimum},
                             {u"latestVersion"_s, latest},
                             {u"downloadURL"_s, u"https://tallybrook.app/download"_s}};
    return QJsonDocument(QJsonObject{{u"direct"_s, direct}, {u"appStore"_s, direct}})
        .toJson(QJsonDocument::Compact);
}

int distinctColours(const QImage &image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.pixel(x, y));
        }
    }
    return int(colours.size());
}

} // namespace

// Every screen of this part of the desk, drawn offscreen: nothing is blank, and with TALLYBROOK_SHOTS_DIR set
// the pictures are kept for a person to look at.
class TestScreens : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void accountScreenSignInWithAnError();
    void accountScreenCreateWithTheInboxMessage();
    void firstLaunchTour();
    void deskExpandedWithTheErrorBanner();
    void deskCollapsedWithTheErrorBanner();
    void mainWindowAtItsMinimumSize();
    void updateRequiredScreen();
    void updateAlert();
    void settingsWindow();
    void applicationIcon();

private:
    void launch(bool signedIn, bool seenTour = true);
    void keep(const QImage &image, const QString &name, int minimumColours = 8);
    void report(const QByteArray &body);

    std::unique_ptr<CloudFixture> m_cloud;
    DeskBackend m_backend;
    QByteArray m_manifest;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_defaults;
    FakePrintSystem m_prints;
    RecordingUrlOpener m_urls;
    std::unique_ptr<TallybrookApp> m_app;
};

void TestScreens::init() {
    m_cloud = std::make_unique<CloudFixture>();
    m_backend = DeskBackend{};
    m_backend.addAccount(accountA, u"a"_s, {u"Zo\u00eb Park"_s});
    m_manifest = manifest(u"0.1"_s, u"0.1"_s);
    m_cloud->server->setHandler([this](const RecordedRequest &request) {
        if (request.path.endsWith("/api/mac/version")) {
            return ScriptedAnswer::json(200, m_manifest);
        }
        return m_backend.answer(request);
    });
    m_defaults = std::make_unique<QSettings>(m_dir.filePath(u"desk.ini"_s), QSettings::IniFormat);
    m_defaults->clear();
}

void TestScreens::cleanup() {
    m_app.reset();
    m_cloud.reset();
}

void TestScreens::launch(bool signedIn, bool seenTour) {
    m_defaults->setValue(u"hasSeenOnboarding"_s, seenTour);
    if (signedIn) {
        m_cloud->store->stored =
            CloudSession{u"access-a"_s, u"refresh-a"_s, QDateTime::currentDateTimeUtc().addSecs(3600),
                         accountA, u"desk@example.com"_s};
    }
    const CloudConfig config = m_cloud->config();
    UpdateChecker::Options updates = TallybrookApp::updateOptions(config);
    updates.checkAtCreation = false;
    m_app = std::make_unique<TallybrookApp>(DeskPlatform{*m_cloud->http, *m_cloud->store, *m_defaults,
                                                         m_prints, m_urls, config, updates,
                                                         [] { return u"Front Desk"_s; }, [] {}});
    m_app->mainWindow().resize(1040, 680);
    m_app->showMainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&m_app->mainWindow()));
}

void TestScreens::report(const QByteArray &body) {
    m_manifest = body;
    QVERIFY(runTask(m_app->updates().check()));
}

void TestScreens::keep(const QImage &image, const QString &name, int minimumColours) {
    QVERIFY(!image.isNull());
    QVERIFY2(distinctColours(image) >= minimumColours, qPrintable(name));
    const QString folder = qEnvironmentVariable("TALLYBROOK_SHOTS_DIR");
    if (!folder.isEmpty()) {
        QDir().mkpath(folder);
        QVERIFY(image.save(folder + u'/' + name + u".png"_s));
    }
}

void TestScreens::accountScreenSignInWithAnError() {
    launch(false);
    ui::AuthView *auth = m_app->contentView().authView();
    QVERIFY(auth);
    QTest::keyClicks(auth->findChild<QLineEdit *>(u"emailField"_s), u"desk@example.com"_s);
    QTest::keyClicks(auth->findChild<QLineEdit *>(u"passwordField"_s), u"wrong"_s);
    m_backend.nextSignIn = u"nobody"_s;
    auth->submit();
    QTRY_VERIFY(auth->message().has_value());
    QTest::qWait(30);
    keep(m_app->mainWindow().grab().toImage(), u"account-sign-in-error"_s);
}

void TestScreens::accountScreenCreateWithTheInboxMessage() {
    launch(false);
    ui::AuthView *auth = m_app->contentView().authView();
    auth->setMode(ui::AuthView::Mode::Create);
    auth->findChild<QLineEdit *>(u"nameField"_s)->insert(u"Zo\u00eb Park"_s);
    QTest::keyClicks(auth->findChild<QLineEdit *>(u"emailField"_s), u"zoe@example.com"_s);
    QTest::keyClicks(auth->findChild<QLineEdit *>(u"passwordField"_s), u"long enough"_s);
    m_backend.signUpBody = R"({"id":"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e","email":"zoe@example.com"})";
    auth->submit();
    QTRY_VERIFY(auth->message().has_value());
    QTest::qWait(30);
    keep(m_app->mainWindow().grab().toImage(), u"account-create-inbox"_s);
}

void TestScreens::firstLaunchTour() {
    launch(false, false);
    QCOMPARE(m_app->contentView().screen(), ui::ContentView::Screen::Onboarding);
    keep(m_app->mainWindow().grab().toImage(), u"first-launch-tour"_s);
}

void TestScreens::deskExpandedWithTheErrorBanner() {
    m_backend.failLoads = true;
    m_backend.failMessage =
        "The server is busy right now. Zo\xc3\xab and \xc5\x81ukasz will see fresh figures as "
        "soon as it answers again; nothing typed at the desk is lost meanwhile.";
    launch(true);
    QTRY_VERIFY(m_app->model().error().has_value());
    QTest::qWait(30);
    keep(m_app->mainWindow().grab().toImage(), u"desk-expanded-error"_s);
}

void TestScreens::deskCollapsedWithTheErrorBanner() {
    m_backend.failLoads = true;
    launch(true);
    m_app->contentView().deskView()->setSidebarCollapsed(true);
    m_app->contentView().deskView()->setSection(ui::DeskSection::Visitors);
    QTRY_VERIFY(m_app->model().error().has_value());
    QTest::qWait(30);
    keep(m_app->mainWindow().grab().toImage(), u"desk-collapsed-error"_s);
}

void TestScreens::mainWindowAtItsMinimumSize() {
    launch(true);
    m_app->mainWindow().resize(100, 100);
    QTest::qWait(30);
    const QImage image = m_app->mainWindow().grab().toImage();
    QVERIFY(image.deviceIndependentSize().width() >= 860);
    keep(image, u"main-window-minimum"_s);
}

void TestScreens::updateRequiredScreen() {
    launch(true);
    report(manifest(u"9.0"_s, u"9.1"_s));
    QVERIFY(m_app->mainGate().isBlocking());
    QTest::qWait(30);
    keep(m_app->mainWindow().grab().toImage(), u"update-required"_s);
}

void TestScreens::updateAlert() {
    launch(true);
    report(manifest(u"0.1"_s, u"9.1"_s));
    QMessageBox *alert = m_app->mainGate().alert();
    QVERIFY(alert);
    QTRY_VERIFY(alert->isVisible());
    QTest::qWait(30);
    keep(alert->grab().toImage(), u"update-alert"_s);
}

void TestScreens::settingsWindow() {
    launch(true);
    m_app->showSettings();
    QTRY_VERIFY(m_app->settingsWindow()->isVisible());
    QTest::qWait(30);
    keep(m_app->settingsWindow()->grab().toImage(), u"settings-window"_s, 4);
}

void TestScreens::applicationIcon() {
    const QImage image = ui::applicationIconPixmap(256).toImage();
    QCOMPARE(image.size(), QSize(256, 256));
    keep(image, u"application-icon"_s);
}

QTEST_MAIN(TestScreens)
#include "tst_screens.moc"
