#include "DeskTestSupport.h"
#include "ui/AuthView.h"
#include "ui/ContentView.h"
#include "ui/DeskView.h"
#include "ui/OnboardingView.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;
using Screen = ContentView::Screen;

namespace {

const QUuid accountA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid accountB(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);

} // namespace

class TestContentView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void firstLaunchShowsTheTourThenTheAccountScreen();
    void laterLaunchesGoStraightToTheAccountScreen();
    void storedSessionShowsTheDeskOnToday();
    void appearingResetsThenStartsTheModel();
    void signingInShowsTheDeskAndLoadsTheAccount();
    void signOutThenAnotherUserClearsTheOldDataFirst();
    void switchingUserDirectlyClearsTheOldDataFirst();
    void slowAnswerForTheOldUserNeverLands();
    void sameUserWithFreshTokensDoesNotRestart();
    void signingOutReplacesTheDeskAtOnce();
    void accountScreenIsFreshAfterEachSignOut();
    void onboardingSheetFinishedMarksTheTourSeen();
    void onboardingSheetClosedOnlyLowersTheFlag();

private:
    void show(const std::optional<QString> &storedTag, bool seenTour = true);
    void recordOnSite();

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<ContentView> m_content;
    QList<QStringList> m_onSiteHistory;
};

void TestContentView::init() {
    m_f = std::make_unique<DeskFixture>();
    m_f->backend.addAccount(accountA, u"a"_s, {u"Ann Archer"_s, u"Zo\u00eb Park"_s});
    m_f->backend.addAccount(accountB, u"b"_s, {u"\u0141ukasz Nowak"_s});
    m_onSiteHistory.clear();
}

void TestContentView::cleanup() {
    m_content.reset();
    m_f.reset();
}

void TestContentView::show(const std::optional<QString> &storedTag, bool seenTour) {
    m_f->start(storedTag);
    m_f->defaults->setValue(u"hasSeenOnboarding"_s, seenTour);
    recordOnSite();
    m_content = std::make_unique<ContentView>(m_f->environment());
    m_content->resize(1000, 640);
    m_content->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_content.get()));
}

void TestContentView::recordOnSite() {
    QObject::connect(m_f->model.get(), &AppModel::onSiteChanged, m_f->model.get(),
                     [this] { m_onSiteHistory.append(m_f->onSiteNames()); });
}

void TestContentView::firstLaunchShowsTheTourThenTheAccountScreen() {
    show(std::nullopt, false);
    QCOMPARE(m_content->screen(), Screen::Onboarding);
    QVERIFY(m_content->onboardingView());
    QTest::mouseClick(m_content->onboardingView()->findChild<QPushButton *>(u"onboardingFinishButton"_s),
                      Qt::LeftButton);
    QCOMPARE(m_f->defaults->value(u"hasSeenOnboarding"_s).toBool(), true);
    QCOMPARE(m_content->screen(), Screen::Account);
    QVERIFY(m_content->authView());
    QTRY_VERIFY(m_content->authView()->isVisible());
}

void TestContentView::laterLaunchesGoStraightToTheAccountScreen() {
    show(std::nullopt, true);
    QCOMPARE(m_content->screen(), Screen::Account);
    QVERIFY(m_content->authView());
    QVERIFY(!m_f->model->isPolling());
    QCOMPARE(m_f->cloud.server->requestCount(), 0);
}

void TestContentView::storedSessionShowsTheDeskOnToday() {
    show(u"a"_s, false); // the tour is skipped too
    QCOMPARE(m_content->screen(), Screen::Desk);
    QVERIFY(m_content->deskView());
    QCOMPARE(m_content->deskView()->section(), DeskSection::Today);
}

void TestContentView::appearingResetsThenStartsTheModel() {
    show(u"a"_s);
    QCOMPARE(m_content->sessionTaskRuns(), 1);
    QVERIFY(m_f->model->isPolling());
    QTRY_COMPARE(m_f->onSiteNames(), (QStringList{u"Ann Archer"_s, u"Zo\u00eb Park"_s}));
    QCOMPARE(m_f->model->counts().onSite, 2);

    // Hidden and shown again (as when the update gate gives the window back): reset and start anew.
    m_content->hide();
    QCOMPARE(m_content->sessionTaskRuns(), 1);
    m_content->show();
    QCOMPARE(m_content->sessionTaskRuns(), 2);
    QVERIFY(m_f->model->onSite().isEmpty());
    QVERIFY(m_f->model->isPolling());
    QTRY_COMPARE(m_f->onSiteNames().size(), 2);
}

void TestContentView::signingInShowsTheDeskAndLoadsTheAccount() {
    show(std::nullopt);
    QCOMPARE(m_content->screen(), Screen::Account);
    QVERIFY(m_f->signIn(u"b"_s));
    QCOMPARE(m_content->screen(), Screen::Desk);
    QCOMPARE(m_content->sessionTaskRuns(), 2);
    QVERIFY(m_f->model->isPolling());
    QTRY_COMPARE(m_f->onSiteNames(), QStringList{u"\u0141ukasz Nowak"_s});
}

void TestContentView::signOutThenAnotherUserClearsTheOldDataFirst() {
    show(u"a"_s);
    QTRY_COMPARE(m_f->onSiteNames().size(), 2);
    m_f->cloud.client->signOutAccount();
    // At once: the account screen, and nothing of the old account left in memory.
    QCOMPARE(m_content->screen(), Screen::Account);
    QVERIFY(m_f->model->onSite().isEmpty());
    QCOMPARE(m_f->model->counts().onSite, 0);
    QVERIFY(!m_f->model->isPolling());

    m_f->backend.accounts[u"b"_s].onSiteDelay = std::chrono::milliseconds(200);
    QVERIFY(m_f->signIn(u"b"_s));
    QVERIFY(m_f->model->onSite().isEmpty()); // the new account's data is still on its way
    QTRY_COMPARE(m_f->onSiteNames(), QStringList{u"\u0141ukasz Nowak"_s});
    const QList<QStringList> expected{{u"Ann Archer"_s, u"Zo\u00eb Park"_s}, {}, {u"\u0141ukasz Nowak"_s}};
    QCOMPARE(m_onSiteHistory, expected);
}

void TestContentView::switchingUserDirectlyClearsTheOldDataFirst() {
    show(u"a"_s);
    QTRY_COMPARE(m_f->onSiteNames().size(), 2);
    QPointer<DeskView> desk = m_content->deskView();
    m_f->backend.accounts[u"b"_s].onSiteDelay = std::chrono::milliseconds(150);
    QVERIFY(m_f->signIn(u"b"_s)); // another user without a sign-out in between
    QCOMPARE(m_content->sessionTaskRuns(), 2);
    QTRY_COMPARE(m_f->onSiteNames(), QStringList{u"\u0141ukasz Nowak"_s});
    const QList<QStringList> expected{{u"Ann Archer"_s, u"Zo\u00eb Park"_s}, {}, {u"\u0141ukasz Nowak"_s}};
    QCOMPARE(m_onSiteHistory, expected);
    QCOMPARE(m_content->deskView(), desk.data());
}

void TestContentView::slowAnswerForTheOldUserNeverLands() {
    show(u"a"_s);
    QTRY_COMPARE(m_f->onSiteNames().size(), 2);
    m_f->backend.accounts[u"a"_s].onSite = QJsonArray{}; // A's visitors left...
    m_f->backend.accounts[u"a"_s].onSiteDelay = std::chrono::milliseconds(250);
    static_cast<void>(m_f->model->refresh()); // ... and A's answer is slow
    QVERIFY(m_f->signIn(u"b"_s));
    QTRY_COMPARE(m_f->onSiteNames(), QStringList{u"\u0141ukasz Nowak"_s});
    QTest::qWait(400);
    QCOMPARE(m_f->onSiteNames(), QStringList{u"\u0141ukasz Nowak"_s});
}

void TestContentView::sameUserWithFreshTokensDoesNotRestart() {
    show(u"a"_s);
    QTRY_COMPARE(m_f->onSiteNames().size(), 2);
    QSignalSpy sessionChanged(m_f->cloud.client.get(), &CloudClient::sessionChanged);
    m_f->cloud.now = m_f->cloud.now.addSecs(60);
    QVERIFY(m_f->signIn(u"a"_s)); // a new session, the same user
    QCOMPARE(sessionChanged.size(), 1);
    QCOMPARE(m_content->sessionTaskRuns(), 1);
    QCOMPARE(m_f->onSiteNames().size(), 2);
}

void TestContentView::signingOutReplacesTheDeskAtOnce() {
    show(u"a"_s);
    QPointer<DeskView> desk = m_content->deskView();
    m_f->cloud.client->signOutAccount();
    QVERIFY(!m_content->deskView());
    QVERIFY(m_content->authView());
    QTRY_VERIFY(!desk);
}

void TestContentView::accountScreenIsFreshAfterEachSignOut() {
    show(std::nullopt);
    auto *email = m_content->authView()->findChild<QLineEdit *>(u"emailField"_s);
    QTest::keyClicks(email, u"desk@example.com"_s);
    m_content->authView()->setMode(AuthView::Mode::Create);
    QVERIFY(m_f->signIn(u"a"_s));
    m_f->cloud.client->signOutAccount();
    QCOMPARE(m_content->authView()->mode(), AuthView::Mode::SignIn);
    QVERIFY(m_content->authView()->findChild<QLineEdit *>(u"emailField"_s)->text().isEmpty());
}

void TestContentView::onboardingSheetFinishedMarksTheTourSeen() {
    show(std::nullopt, true);
    m_f->defaults->remove(u"hasSeenOnboarding"_s);  // so that finishing visibly records it
    QCOMPARE(m_content->screen(), Screen::Account); // the screen in the window stays

    m_f->model->setShowingOnboarding(true);
    QPointer<QDialog> sheet = m_content->onboardingSheet();
    QVERIFY(sheet);
    QTRY_VERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QTest::mouseClick(sheet->findChild<QPushButton *>(u"onboardingFinishButton"_s), Qt::LeftButton);
    QCOMPARE(m_f->defaults->value(u"hasSeenOnboarding"_s).toBool(), true);
    QVERIFY(!m_f->model->isShowingOnboarding());
    QVERIFY(!m_content->onboardingSheet());
    QTRY_VERIFY(!sheet);
    QCOMPARE(m_content->screen(), Screen::Account);
}

void TestContentView::onboardingSheetClosedOnlyLowersTheFlag() {
    show(u"a"_s);
    m_f->defaults->setValue(u"hasSeenOnboarding"_s, false);
    m_f->model->setShowingOnboarding(true);
    QPointer<QDialog> sheet = m_content->onboardingSheet();
    QTRY_VERIFY(sheet && sheet->isVisible());
    QTest::keyClick(sheet, Qt::Key_Escape);
    QVERIFY(!m_f->model->isShowingOnboarding());
    QCOMPARE(m_f->defaults->value(u"hasSeenOnboarding"_s).toBool(), false);
    QTRY_VERIFY(!sheet);
    QCOMPARE(m_content->screen(), Screen::Desk);
}

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
