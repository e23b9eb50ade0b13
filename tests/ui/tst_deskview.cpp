#include "DeskTestSupport.h"
#include "ui/DeskScreen.h"
#include "ui/DeskView.h"
#include "ui/ErrorBanner.h"
#include "ui/SidebarModel.h"

#include <QDialog>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

namespace {

const QUuid deskAccount(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);

// The horizontal extent of what is drawn in a row of the sidebar, found against the row's own background.
std::pair<int, int> drawnExtent(const QImage &row) {
    const QRgb background = row.pixel(1, 1);
    int left = row.width();
    int right = -1;
    for (int y = 0; y < row.height(); ++y) {
        for (int x = 0; x < row.width(); ++x) {
            if (row.pixel(x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {left, right};
}

} // namespace

class TestDeskView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void startsOnTodayWithTheFourSections();
    void sidebarKeepsItsWidth_data();
    void sidebarKeepsItsWidth();
    void collapseButtonFlipsAndPersists();
    void collapsedRowsShowTheIconAloneCentred();
    void choosingASectionShowsItsScreen();
    void clickOnEmptySidebarSpaceShowsToday();
    void errorBannerFollowsTheModel();
    void longErrorWrapsInsideTheBanner();
    void signInVisitorButtonRaisesTheFlag();
    void closingTheSignInSheetLowersTheFlag_data();
    void closingTheSignInSheetLowersTheFlag();
    void loweringTheFlagClosesTheSheet();
    void newInviteSheetFollowsItsFlag();
    void inviteSheetHoldsTheInviteUntilClosed();
    void flagRaisedBeforeTheDeskOpensItsSheet();
    void closingTheDeskLowersTheFlagsOfItsSheets();
    void controlsHaveAccessibleNames();

private:
    void makeDesk();
    template<class T>
    T *child(const QString &name) const {
        T *found = m_desk->findChild<T *>(name);
        if (!found) {
            qFatal("no child %s", qPrintable(name));
        }
        return found;
    }
    QListView *list() const { return child<QListView>(u"sidebarList"_s); }
    QWidget *sidebar() const { return child<QWidget>(u"sidebar"_s); }
    QToolButton *collapseButton() const { return child<QToolButton>(u"collapseSidebarButton"_s); }
    void clickRow(DeskSection section) {
        const QModelIndex index = list()->model()->index(int(section), 0);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(index).center());
    }

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<DeskView> m_desk;
};

void TestDeskView::init() {
    m_f = std::make_unique<DeskFixture>();
    m_f->backend.addAccount(deskAccount, u"desk"_s, {u"Zo\u00eb Park"_s});
    m_f->start(u"desk"_s);
    makeDesk();
}

void TestDeskView::makeDesk() {
    m_desk = std::make_unique<DeskView>(m_f->environment());
    m_desk->resize(1000, 640);
    m_desk->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_desk.get()));
}

void TestDeskView::cleanup() {
    m_desk.reset();
    m_f.reset();
}

void TestDeskView::startsOnTodayWithTheFourSections() {
    QCOMPARE(m_desk->section(), DeskSection::Today);
    QCOMPARE(list()->model()->rowCount(), 4);
    QStringList titles;
    for (int row = 0; row < 4; ++row) {
        titles.append(list()->model()->index(row, 0).data().toString());
    }
    QCOMPARE(titles, (QStringList{u"Today"_s, u"Visitors"_s, u"Invites"_s, u"Employees"_s}));
    QCOMPARE(list()->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(list()->selectionModel()->selectedIndexes().constFirst().row(), 0);
    QCOMPARE(m_desk->screen()->title(), u"Today"_s);
    QCOMPARE(child<QLabel>(u"deskTitle"_s)->text(), u"Today"_s);
    QVERIFY(!child<QLabel>(u"deskSubtitle"_s)->isVisible());
}

void TestDeskView::sidebarKeepsItsWidth_data() {
    QTest::addColumn<bool>("collapsed");
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<int>("expected");
    for (const int width : {860, 1280, 2400}) {
        QTest::addRow("expanded in %d", width) << false << width << 190;
        QTest::addRow("collapsed in %d", width) << true << width << 80;
    }
}

void TestDeskView::sidebarKeepsItsWidth() {
    QFETCH(bool, collapsed);
    QFETCH(int, windowWidth);
    QFETCH(int, expected);
    m_desk->setSidebarCollapsed(collapsed);
    m_desk->resize(windowWidth, 600);
    QTRY_COMPARE(m_desk->width(), windowWidth);
    QTRY_COMPARE(sidebar()->width(), expected);
    // Whatever asks for another width (a drag, a layout) cannot get it.
    QCOMPARE(sidebar()->minimumWidth(), expected);
    QCOMPARE(sidebar()->maximumWidth(), expected);
    sidebar()->resize(expected + 60, sidebar()->height());
    m_desk->resize(windowWidth - 100, 600);
    QTRY_COMPARE(m_desk->width(), windowWidth - 100);
    QTRY_COMPARE(sidebar()->width(), expected);
    QCOMPARE(m_desk->sidebarWidth(), expected);
}

void TestDeskView::collapseButtonFlipsAndPersists() {
    QVERIFY(!m_desk->isSidebarCollapsed());
    QCOMPARE(collapseButton()->toolTip(), u"Collapse the sidebar to icons"_s);
    QCOMPARE(collapseButton()->text(), u"Collapse Sidebar"_s);
    QCOMPARE(collapseButton()->toolButtonStyle(), Qt::ToolButtonIconOnly);

    QTest::mouseClick(collapseButton(), Qt::LeftButton);
    QVERIFY(m_desk->isSidebarCollapsed());
    QCOMPARE(m_f->defaults->value(u"sidebarIsCollapsed"_s).toBool(), true);
    QTRY_COMPARE(sidebar()->width(), 80);
    QCOMPARE(collapseButton()->toolTip(), u"Expand the sidebar"_s);
    QCOMPARE(collapseButton()->accessibleName(), u"Expand Sidebar"_s);

    // The next desk (the next launch) starts collapsed.
    m_desk.reset();
    makeDesk();
    QVERIFY(m_desk->isSidebarCollapsed());
    QTRY_COMPARE(sidebar()->width(), 80);

    QTest::mouseClick(collapseButton(), Qt::LeftButton);
    QCOMPARE(m_f->defaults->value(u"sidebarIsCollapsed"_s).toBool(), false);
    QTRY_COMPARE(sidebar()->width(), 190);
    QCOMPARE(collapseButton()->toolTip(), u"Collapse the sidebar to icons"_s);
}

void TestDeskView::collapsedRowsShowTheIconAloneCentred() {
    for (const bool collapsed : {false, true}) {
        m_desk->setSidebarCollapsed(collapsed);
        QTRY_COMPARE(sidebar()->width(), collapsed ? 80 : 190);
        // Row 1 is not selected, so it is drawn on the sidebar's own background.
        const QModelIndex row = list()->model()->index(1, 0);
        QCOMPARE(row.data(Qt::ToolTipRole).toString(), collapsed ? u"Visitors"_s : QString());
        QCOMPARE(row.data(Qt::AccessibleTextRole).toString(), u"Visitors"_s);
        const QRect rect = list()->visualRect(row);
        QVERIFY(rect.width() >= (collapsed ? 70 : 180));
        const QImage image = list()->viewport()->grab(rect).toImage();
        const auto [left, right] = drawnExtent(image);
        QVERIFY2(right > left, "nothing drawn in the row");
        const qreal ratio = image.devicePixelRatio();
        const qreal drawnWidth = (right - left + 1) / ratio;
        if (collapsed) {
            QVERIFY2(drawnWidth <= SidebarDelegate::iconSize + 2, qPrintable(QString::number(drawnWidth)));
            const qreal centre = (left + right + 1) / 2.0 / ratio;
            QVERIFY2(qAbs(centre - rect.width() / 2.0) <= 2.0, qPrintable(QString::number(centre)));
        } else {
            QVERIFY2(drawnWidth > SidebarDelegate::iconSize + 20, qPrintable(QString::number(drawnWidth)));
        }
    }
}

void TestDeskView::choosingASectionShowsItsScreen() {
    QSignalSpy changed(m_desk.get(), &DeskView::sectionChanged);
    for (const DeskSection section :
         {DeskSection::Visitors, DeskSection::Invites, DeskSection::Employees, DeskSection::Today}) {
        clickRow(section);
        QCOMPARE(m_desk->section(), section);
        QCOMPARE(m_desk->screen()->title(), title(section));
        QCOMPARE(child<QLabel>(u"deskTitle"_s)->text(), title(section));
        QTRY_VERIFY(m_desk->screen()->isVisible());
    }
    QCOMPARE(changed.size(), 4);
    QTRY_COMPARE(m_desk->findChildren<DeskScreen *>().size(), 1); // the old screens are gone
}

void TestDeskView::clickOnEmptySidebarSpaceShowsToday() {
    clickRow(DeskSection::Invites);
    QCOMPARE(m_desk->shownSection(), DeskSection::Invites);
    const QRect last = list()->visualRect(list()->model()->index(3, 0));
    const QPoint below(last.center().x(), last.bottom() + 40);
    QVERIFY(below.y() < list()->viewport()->height());
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(m_desk->section(), std::nullopt);
    QVERIFY(!list()->selectionModel()->hasSelection());
    QCOMPARE(m_desk->shownSection(), DeskSection::Today);
    QCOMPARE(m_desk->screen()->title(), u"Today"_s);
}

void TestDeskView::errorBannerFollowsTheModel() {
    auto *banner = child<ErrorBanner>(u"errorBanner"_s);
    QVERIFY(!banner->isVisible());
    // Until the setup has loaded its failure keeps the banner up; this is about the refresh's own banner.
    QVERIFY(runTask(m_f->model->loadSetup()));
    m_f->backend.failLoads = true;
    QVERIFY(runTask(m_f->model->refresh()));
    QCOMPARE(m_f->model->error(), u"Service temporarily unavailable"_s);
    QVERIFY(banner->isVisible());
    QCOMPARE(child<QLabel>(u"errorBannerText"_s)->text(), u"Service temporarily unavailable"_s);
    QVERIFY(!child<QLabel>(u"errorBannerIcon"_s)->pixmap().isNull());
    // Along the bottom, across the whole desk.
    QTRY_COMPARE(banner->width(), m_desk->width());
    QCOMPARE(banner->geometry().bottom(), m_desk->rect().bottom());

    m_f->backend.failLoads = false;
    QVERIFY(runTask(m_f->model->refresh()));
    QVERIFY(!m_f->model->error());
    QVERIFY(!banner->isVisible());
}

void TestDeskView::longErrorWrapsInsideTheBanner() {
    m_f->backend.failLoads = true;
    m_f->backend.failMessage =
        QString(u"The visitor log could not be read because the server is busy. "_s
                u"Łukasz and Zoë will see the desk again shortly; nothing was lost. "_s)
            .repeated(3)
            .toUtf8();
    QVERIFY(runTask(m_f->model->refresh()));
    m_desk->resize(860, 560);
    auto *text = child<QLabel>(u"errorBannerText"_s);
    QVERIFY(text->wordWrap());
    QTRY_VERIFY(text->height() > 2 * text->fontMetrics().height());
    QTRY_VERIFY(text->width() <= m_desk->width());
}

void TestDeskView::signInVisitorButtonRaisesTheFlag() {
    auto *button = child<QToolButton>(u"signInVisitorButton"_s);
    QCOMPARE(button->text(), u"Sign In Visitor"_s);
    QCOMPARE(button->toolTip(), u"Sign in a visitor (Ctrl+N)"_s);
    QVERIFY(!button->icon().isNull());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(m_f->model->isSigningIn());
    QVERIFY(m_desk->signInSheet());
    QTRY_VERIFY(m_desk->signInSheet()->isVisible());
    QCOMPARE(m_desk->signInSheet()->windowModality(), Qt::WindowModal);

    // Raising the flag again changes nothing: the same sheet stays.
    QDialog *sheet = m_desk->signInSheet();
    m_f->model->setSigningIn(true);
    QCOMPARE(m_desk->signInSheet(), sheet);
    QCOMPARE(m_desk->findChildren<QDialog *>(u"signInVisitorSheet"_s).size(), 1);
}

void TestDeskView::closingTheSignInSheetLowersTheFlag_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << u"cancel"_s;
    QTest::newRow("Escape") << u"escape"_s;
    QTest::newRow("window closed") << u"close"_s;
}

void TestDeskView::closingTheSignInSheetLowersTheFlag() {
    QFETCH(QString, how);
    m_f->model->setSigningIn(true);
    QPointer<QDialog> sheet = m_desk->signInSheet();
    QVERIFY(sheet);
    QTRY_VERIFY(sheet->isVisible());
    if (how == u"cancel") {
        QTest::mouseClick(sheet->findChild<QPushButton *>(u"cancelButton"_s), Qt::LeftButton);
    } else if (how == u"escape") {
        QTest::keyClick(sheet, Qt::Key_Escape);
    } else {
        sheet->close();
    }
    QVERIFY(!m_f->model->isSigningIn());
    QVERIFY(!m_desk->signInSheet());
    QTRY_VERIFY(!sheet);
    // And it opens again.
    m_f->model->setSigningIn(true);
    QVERIFY(m_desk->signInSheet());
}

void TestDeskView::loweringTheFlagClosesTheSheet() {
    m_f->model->setSigningIn(true);
    QPointer<QDialog> sheet = m_desk->signInSheet();
    QTRY_VERIFY(sheet && sheet->isVisible());
    m_f->model->setSigningIn(false);
    QVERIFY(!m_desk->signInSheet());
    QTRY_VERIFY(!sheet);
    QVERIFY(!m_f->model->isSigningIn());
}

void TestDeskView::newInviteSheetFollowsItsFlag() {
    m_f->model->setInviting(true);
    QPointer<QDialog> sheet = m_desk->newInviteSheet();
    QVERIFY(sheet);
    QCOMPARE(sheet->objectName(), u"newInviteSheet"_s);
    QTRY_VERIFY(sheet->isVisible());
    QVERIFY(!m_desk->signInSheet());
    QTest::keyClick(sheet, Qt::Key_Escape);
    QVERIFY(!m_f->model->isInviting());
    QTRY_VERIFY(!sheet);
}

void TestDeskView::inviteSheetHoldsTheInviteUntilClosed() {
    Invite invite;
    invite.id = QUuid(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);
    invite.visitorName = u"\u0141ukasz Nowak"_s;
    m_desk->signInFromInvite(invite);
    QCOMPARE(m_desk->signingInInvite(), invite);
    QPointer<QDialog> sheet = m_desk->inviteSignInSheet();
    QVERIFY(sheet);
    QVERIFY(!m_f->model->isSigningIn()); // the invite's sheet is not the flag's
    QTRY_VERIFY(sheet->isVisible());
    sheet->reject();
    QCOMPARE(m_desk->signingInInvite(), std::nullopt);
    QTRY_VERIFY(!sheet);
}

void TestDeskView::flagRaisedBeforeTheDeskOpensItsSheet() {
    m_desk.reset();
    m_f->model->setSigningIn(true);
    makeDesk();
    QTRY_VERIFY(m_desk->signInSheet());
    QTRY_VERIFY(m_desk->signInSheet()->isVisible());
}

void TestDeskView::closingTheDeskLowersTheFlagsOfItsSheets() {
    m_f->model->setSigningIn(true);
    m_f->model->setInviting(true);
    QVERIFY(m_desk->signInSheet() && m_desk->newInviteSheet());
    m_desk.reset();
    QVERIFY(!m_f->model->isSigningIn());
    QVERIFY(!m_f->model->isInviting());
}

void TestDeskView::controlsHaveAccessibleNames() {
    for (QWidget *control : std::initializer_list<QWidget *>{
             collapseButton(), child<QToolButton>(u"signInVisitorButton"_s), list()}) {
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }
}

QTEST_MAIN(TestDeskView)
#include "tst_deskview.moc"
