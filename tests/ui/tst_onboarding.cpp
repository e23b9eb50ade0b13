#include "DeskTestSupport.h"
#include "ui/OnboardingView.h"

#include <QAccessible>
#include <QApplication>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

// The first-run tour on a real window: paging by buttons and arrow keys, its ends, and the kiosk guide link.
class TestOnboarding : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<OnboardingView> m_view;
    std::unique_ptr<QSignalSpy> m_finished;

    template<class T = QPushButton>
    T *child(const QString &name) const {
        return m_view->findChild<T *>(name);
    }
    QPushButton *primary() const { return child(u"onboardingFinishButton"_s); }
    // Keys go to the focused button, which would take the arrows itself if the tour did not.
    void press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    void walkTo(int page) {
        while (m_view->currentPage() < page) {
            QTest::mouseClick(primary(), Qt::LeftButton);
        }
    }

private Q_SLOTS:
    void init() {
        m_f = std::make_unique<DeskFixture>();
        m_f->start();
        m_view = std::make_unique<OnboardingView>(m_f->environment());
        m_finished = std::make_unique<QSignalSpy>(m_view.get(), &OnboardingView::finished);
        m_view->show();
        QApplication::setActiveWindow(m_view.get());
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        m_view->setFocus();
    }
    void cleanup() {
        m_finished.reset();
        m_view.reset();
        m_f.reset();
    }

    void firstPageHasNothingBefore() {
        QPushButton *back = child(u"onboardingBackButton"_s);
        QVERIFY(!back->isVisible() && !back->isEnabled());
        press(Qt::Key_Left);
        QCOMPARE(m_view->currentPage(), 0);
        QCOMPARE(QApplication::focusWidget(), primary()); // the arrow was the tour's, not the focus chain's
        QVERIFY(child(u"onboardingSkipButton"_s)->isVisible());
        QCOMPARE(primary()->text(), u"Continue"_s);
    }

    void pagesOneAtATime_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("title");
        QTest::newRow("Continue") << 0 << "Continue" << 1 << "Sign in visitors in seconds";
        QTest::newRow("Right arrow") << 1 << "Right" << 2 << "Invite guests ahead of time";
        QTest::newRow("Back") << 3 << "Back" << 2 << "Invite guests ahead of time";
        QTest::newRow("Left arrow") << 1 << "Left" << 0 << "Welcome to Tallybrook for Linux";
    }
    void pagesOneAtATime() {
        QFETCH(int, from);
        QFETCH(QString, action);
        QFETCH(int, to);
        QFETCH(QString, title);
        walkTo(from);
        if (action == u"Continue") {
            QTest::mouseClick(primary(), Qt::LeftButton);
        } else if (action == u"Back") {
            QTest::mouseClick(child(u"onboardingBackButton"_s), Qt::LeftButton);
        } else {
            press(action == u"Left" ? Qt::Key_Left : Qt::Key_Right);
        }
        QCOMPARE(m_view->currentPage(), to);
        QCOMPARE(child<QLabel>(u"onboardingTitle"_s)->text(), title);
        QCOMPARE(m_finished->size(), 0);
    }

    // The dots are read as one line of text.
    void dotsTellThePage() {
        walkTo(2);
        QAccessibleInterface *dots =
            QAccessible::queryAccessibleInterface(child<QWidget>(u"onboardingPageDots"_s));
        QCOMPARE(dots->role(), QAccessible::StaticText);
        QCOMPARE(dots->text(QAccessible::Name), u"Page 3 of 6"_s);
    }

    void lastPageLinksTheKioskGuideAndFinishes() {
        QVERIFY(!child(u"onboardingLinkButton"_s));
        walkTo(OnboardingView::pageCount - 1);
        QVERIFY(!child(u"onboardingSkipButton"_s)->isVisible());
        QCOMPARE(primary()->text(), u"Get Started"_s);

        QPushButton *link = child(u"onboardingLinkButton"_s);
        QVERIFY(link && link->isVisible());
        QTest::mouseClick(link, Qt::LeftButton);
        const QString site = m_f->cloud.server->baseUrl().toString() + u"/site/"_s;
        QCOMPARE(m_f->urls.opened, QList<QUrl>{QUrl(site + u"guides/kiosk-setup"_s)});

        press(Qt::Key_Right); // pages, and there is no page after this one
        QCOMPARE(m_view->currentPage(), OnboardingView::pageCount - 1);
        QCOMPARE(m_finished->size(), 0);
        QTest::keyClick(primary(), Qt::Key_Return);
        QCOMPARE(m_finished->size(), 1);
    }
};

QTEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
