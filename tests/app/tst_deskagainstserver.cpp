#include "app/TallybrookApp.h"
#include "support/ServerProcess.h"
#include "ui/AuthView.h"
#include "ui/ContentView.h"
#include "ui/DeskTestSupport.h"
#include "ui/OnboardingView.h"

#include <QMainWindow>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using Screen = ui::ContentView::Screen;

// The road the run command takes: the desk against the real local server and its demo account.
class TestDeskAgainstServer : public QObject {
    Q_OBJECT

    std::unique_ptr<ServerProcess> m_server;

private Q_SLOTS:
    void initTestCase() {
        m_server = std::make_unique<ServerProcess>(QStringList{u"--seed-demo"_s});
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    }

    void firstLaunchToTheDeskOfTheDemoAccount() {
        DeskFixture f; // for the platform's parts; the server is the real one
        CloudConfig config;
        config.backendURL = m_server->baseUrl();
        config.websiteURL = m_server->baseUrl();
        config.publishableKey = QString::fromUtf8(m_server->publishableKey());
        TallybrookApp app(DeskPlatform{*f.cloud.http,
                                       *f.cloud.store,
                                       *f.defaults,
                                       f.prints,
                                       f.urls,
                                       config,
                                       TallybrookApp::updateOptions(config),
                                       [] { return u"Front Desk"_s; },
                                       {}});
        app.showMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&app.mainWindow()));
        QCOMPARE(app.contentView().screen(), Screen::Onboarding);

        QTest::mouseClick(
            app.contentView().onboardingView()->findChild<QPushButton *>(u"onboardingFinishButton"_s),
            Qt::LeftButton);
        QCOMPARE(app.contentView().screen(), Screen::Account);
        ui::AuthView *auth = app.contentView().authView();
        QTest::keyClicks(auth->findChild<QLineEdit *>(u"emailField"_s), u"demo@tallybrook.local"_s);
        QTest::keyClicks(auth->findChild<QLineEdit *>(u"passwordField"_s), u"tallybrook-demo"_s);
        QTest::keyClick(auth->findChild<QLineEdit *>(u"passwordField"_s), Qt::Key_Return);

        QTRY_COMPARE_WITH_TIMEOUT(app.contentView().screen(), Screen::Desk, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(app.model().lastRefresh().has_value(), 10000);
        QCOMPARE(app.model().error(), std::nullopt);
        QVERIFY(!app.updates().isRequired());
        QVERIFY(f.cloud.store->stored.has_value()); // kept for the next launch

        app.cloud().signOutAccount();
        QCOMPARE(app.contentView().screen(), Screen::Account);
        QVERIFY(!f.cloud.store->stored.has_value());
    }
};

QTEST_MAIN(TestDeskAgainstServer)
#include "tst_deskagainstserver.moc"
