#include "DeskTestSupport.h"
#include "records/DateStyles.h"
#include "ui/AuthView.h"
#include "ui/BusyIndicator.h"
#include "ui/ContentView.h"
#include "ui/DeskView.h"
#include "ui/ErrorBanner.h"
#include "ui/ScannerCheckIn.h"
#include "ui/Style.h"

#include <QListView>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;
using Screen = ContentView::Screen;
using Mode = AuthView::Mode;

namespace {

const QStringList visitorsOfA{u"Ann Archer"_s, u"Zo\u00eb Park"_s};
const QStringList visitorsOfB{u"\u0141ukasz Nowak"_s};
const QByteArray refusedSignIn =
    R"({"error":"invalid_grant","error_description":"Invalid login credentials"})";
const QByteArray rateLimited =
    R"({"error_code":"over_email_send_rate_limit","msg":"Email rate limit exceeded"})";
// A user without tokens: the account waits for its email to be confirmed.
const QByteArray unconfirmed = R"({"id":"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e","email":"zoe@example.com"})";

// Counts the key presses that reach an object.
struct KeyCounter final : QObject {
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        presses += event->type() == QEvent::KeyPress ? 1 : 0;
        return false;
    }
};

} // namespace

// The main window's content: the screen it picks, the session task that ties the model to the signed-in user,
// and the two screens it shows, the account screen and the desk.
class TestContentView : public QObject {
    Q_OBJECT

    std::unique_ptr<DeskFixture> m_f;
    std::unique_ptr<ContentView> m_content;
    QList<QStringList> m_onSiteHistory;

    void show(const std::optional<QString> &storedTag, bool seenTour = true) {
        m_f->start(storedTag);
        m_f->defaults->setValue(u"hasSeenOnboarding"_s, seenTour);
        QObject::connect(m_f->model.get(), &AppModel::onSiteChanged, m_f->model.get(),
                         [this] { m_onSiteHistory.append(m_f->onSiteNames()); });
        m_content = std::make_unique<ContentView>(m_f->environment());
        m_content->resize(1000, 640);
        m_content->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_content.get()));
    }
    template<class T = QLineEdit>
    T *child(const QString &name) const {
        return m_content->findChild<T *>(name);
    }
    [[nodiscard]] QList<RecordedRequest> requests() const { return m_f->cloud.server->requests(); }

    AuthView *auth() const { return m_content->authView(); }
    QPushButton *primary() const { return child<QPushButton>(u"authPrimaryButton"_s); }
    QPushButton *forgot() const { return child<QPushButton>(u"forgotPasswordButton"_s); }
    void chooseMode(Mode mode) {
        QTest::mouseClick(child<QToolButton>(mode == Mode::SignIn ? u"signInMode"_s : u"createAccountMode"_s),
                          Qt::LeftButton);
        QCOMPARE(auth()->mode(), mode);
    }
    void fill(const QString &email, const QString &password, const QString &name = {}) {
        child(u"emailField"_s)->setText(email);
        child(u"passwordField"_s)->setText(password);
        child(u"nameField"_s)->setText(name);
    }

    DeskView *desk() const { return m_content->deskView(); }
    QListView *sidebar() const { return child<QListView>(u"sidebarList"_s); }
    QString heading() const { return child<QLabel>(u"deskTitle"_s)->text(); }
    // A click on the section's row, or this far below it.
    void clickRow(DeskSection section, int below = 0) {
        const QRect row = sidebar()->visualRect(sidebar()->model()->index(int(section), 0));
        QTest::mouseClick(sidebar()->viewport(), Qt::LeftButton, {}, row.center() + QPoint(0, below));
    }

private Q_SLOTS:
    void init() {
        m_f = std::make_unique<DeskFixture>();
        m_f->backend.addAccount(QUuid::createUuid(), u"a"_s, visitorsOfA);
        m_f->backend.addAccount(QUuid::createUuid(), u"b"_s, visitorsOfB);
        m_f->backend.nextSignIn = u"a"_s;
        m_onSiteHistory.clear();
    }
    void cleanup() {
        m_content.reset();
        m_f.reset();
    }

    void appearingResetsThenStartsTheModel() {
        show(u"a"_s, false); // signed in, the tour is skipped
        QCOMPARE(m_content->screen(), Screen::Desk);
        QCOMPARE(m_content->sessionTaskRuns(), 1);
        QTRY_COMPARE(m_f->onSiteNames(), visitorsOfA);
        // A new session of the same user changes nothing.
        QSignalSpy sessionChanged(m_f->cloud.client.get(), &CloudClient::sessionChanged);
        m_f->cloud.now = m_f->cloud.now.addSecs(60);
        QVERIFY(m_f->signIn(u"a"_s));
        QCOMPARE(sessionChanged.size(), 1);
        QCOMPARE(m_content->sessionTaskRuns(), 1);
        // Hidden and shown again (as when the update gate gives the window back): reset and start anew.
        m_content->hide();
        m_content->show();
        QCOMPARE(m_content->sessionTaskRuns(), 2);
        QVERIFY(m_f->model->onSite().isEmpty());
        QVERIFY(m_f->model->isPolling());
        QTRY_COMPARE(m_f->onSiteNames(), visitorsOfA);
    }

    void anotherUserNeverSeesTheOldData_data() {
        QTest::addColumn<bool>("signOutFirst");
        QTest::newRow("after a sign-out") << true;
        QTest::newRow("switched directly") << false;
    }
    void anotherUserNeverSeesTheOldData() {
        QFETCH(bool, signOutFirst);
        show(u"a"_s);
        QTRY_COMPARE(m_f->onSiteNames(), visitorsOfA);
        QPointer<DeskView> oldDesk = desk();
        if (signOutFirst) {
            m_f->cloud.client->signOutAccount();
            // At once: the account screen, and nothing of the old account left in memory.
            QCOMPARE(m_content->screen(), Screen::Account);
            QVERIFY(m_f->model->onSite().isEmpty());
            QVERIFY(!m_f->model->isPolling());
            QTRY_VERIFY(!oldDesk);
        }
        m_f->backend.accounts[u"b"_s].onSiteDelay = std::chrono::milliseconds(200);
        QVERIFY(m_f->signIn(u"b"_s));
        QCOMPARE(m_content->screen(), Screen::Desk);
        QCOMPARE(m_content->sessionTaskRuns(), signOutFirst ? 3 : 2);
        QVERIFY(m_f->model->onSite().isEmpty()); // the new account's data is still on its way
        QTRY_COMPARE(m_f->onSiteNames(), visitorsOfB);
        QCOMPARE(m_onSiteHistory, (QList<QStringList>{visitorsOfA, {}, visitorsOfB}));
    }

    void tourSheetFollowsItsFlag() {
        show(u"a"_s, false);
        // Closed, only the flag goes down; finished (Skip finishes at once), the tour counts as seen too.
        for (const bool finish : {false, true}) {
            m_f->model->setShowingOnboarding(true);
            QPointer<QDialog> sheet = m_content->onboardingSheet();
            QTRY_VERIFY(sheet && sheet->isVisible());
            if (finish) {
                QTest::mouseClick(sheet->findChild<QPushButton *>(u"onboardingSkipButton"_s), Qt::LeftButton);
            } else {
                QTest::keyClick(sheet, Qt::Key_Escape);
            }
            QCOMPARE(m_f->defaults->value(u"hasSeenOnboarding"_s).toBool(), finish);
            QVERIFY(!m_f->model->isShowingOnboarding());
            QTRY_VERIFY(!sheet);
            QCOMPARE(m_content->screen(), Screen::Desk); // the screen in the window stays
        }
    }

    // The account screen.

    void primaryButtonEnablement_data() {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("enabled");
        const QString email = u"desk@example.com"_s;
        QTest::newRow("create: 7 characters") << Mode::Create << email << u"1234567"_s << false;
        QTest::newRow("create: 8 characters") << Mode::Create << email << u"12345678"_s << true;
        QTest::newRow("create: 4 emoji are 4 characters") << Mode::Create << email << u"😀😀😀😀"_s << false;
        QTest::newRow("sign in: a space is a password") << Mode::SignIn << email << u" "_s << true;
        QTest::newRow("sign in: empty password") << Mode::SignIn << email << QString() << false;
        QTest::newRow("blanks around the email are trimmed")
            << Mode::SignIn << u"\t desk@a.com "_s << u"s"_s << true;
        QTest::newRow("a line break is no blank") << Mode::SignIn << u"\ndesk@a.com"_s << u"s"_s << false;
    }
    void primaryButtonEnablement() {
        QFETCH(Mode, mode);
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(bool, enabled);
        show(std::nullopt);
        chooseMode(mode);
        fill(email, password);
        QCOMPARE(primary()->isEnabled(), enabled);
    }

    // Nothing starts with an invalid email, nor while something runs, and the answer to what runs is safe
    // when the screen is gone.
    void nothingStartsUntilItMay() {
        show(std::nullopt);
        fill(u"desk@example"_s, u"secret"_s);
        QTest::keyClick(child(u"passwordField"_s), Qt::Key_Return);
        QTest::keyClick(child(u"emailField"_s), Qt::Key_Enter, Qt::KeypadModifier);
        QTest::mouseClick(forgot(), Qt::LeftButton);
        QCOMPARE(auth()->message(), u"Enter your email above first."_s);
        QVERIFY(auth()->messageIsError());
        QVERIFY(!auth()->isWorking());
        QVERIFY(requests().isEmpty());
        // Creating an account asks for a name, and the other mode's message goes.
        QCOMPARE(child(u"passwordField"_s)->echoMode(), QLineEdit::Password);
        chooseMode(Mode::Create);
        QVERIFY(!auth()->message());
        QVERIFY(child(u"nameField"_s)->isVisible() && !forgot()->isVisible());
        chooseMode(Mode::SignIn);

        m_f->backend.authDelay = std::chrono::milliseconds(200);
        child(u"emailField"_s)->setText(u"desk@example.com"_s);
        QPointer<AuthView> screen = auth();
        QTest::keyClick(child(u"passwordField"_s), Qt::Key_Return); // Return is the primary button
        QVERIFY(screen->isWorking());
        QVERIFY(!primary()->isEnabled() && !forgot()->isEnabled());
        QVERIFY(child<BusyIndicator>(u"authProgress"_s)->isVisible());
        screen->submit();
        screen->sendPasswordReset();
        // The screen goes before the answer: the client still signs in, and nothing touches the screen.
        m_content.reset();
        QTRY_VERIFY(m_f->cloud.client->isSignedIn());
        QCOMPARE(m_f->cloud.requestsTo("/token") + m_f->cloud.requestsTo("/recover"), 1);
        QTest::qWait(20);
    }

    // What the account screen says once the server has answered: in red when it failed.
    void outcomes_data() {
        QTest::addColumn<QByteArray>("path"); // what was asked for: token (sign in), recover, or signup
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("message");
        QTest::newRow("sign-in refused") << QByteArray("token") << 400 << refusedSignIn
                                         << u"That email and password combination did not work."_s;
        QTest::newRow("reset sent") << QByteArray("recover") << 200 << QByteArray("{}")
                                    << u"If that email has an account, a reset link is on its way."_s;
        QTest::newRow("reset refused")
            << QByteArray("recover") << 429 << rateLimited << u"Email rate limit exceeded"_s;
        QTest::newRow("account to confirm")
            << QByteArray("signup") << 200 << unconfirmed
            << u"Check your inbox for a link to confirm your email, then sign in."_s;
    }
    void outcomes() {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(QString, message);
        const Mode mode = path == "signup" ? Mode::Create : Mode::SignIn;
        show(std::nullopt);
        m_f->backend.auth[path] = {status, answer};
        chooseMode(mode);
        fill(u" desk@example.com"_s, u"long enough"_s, u"Zoë Łukasz"_s);
        (path == "recover" ? forgot() : primary())->click();
        QTRY_VERIFY(!auth()->isWorking());
        auto *shown = child<QLabel>(u"authMessage"_s);
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->text(), message);
        QCOMPARE(textColor(shown),
                 status != 200 ? errorTextColor(shown->palette()) : secondaryTextColor(shown->palette()));
        QVERIFY(primary()->isEnabled() && forgot()->isEnabled());
        const QJsonObject body = QJsonDocument::fromJson(requests().constFirst().body).object();
        QCOMPARE(body.value(u"email").toString(), u"desk@example.com"_s);
        if (mode == Mode::Create) {
            QCOMPARE(body.value(u"data")[u"name"].toString(), u"Zoë Łukasz"_s);
        }
    }

    // The desk.

    void sidebarChoosesTheSection() {
        show(u"a"_s);
        QCOMPARE(sidebar()->selectionModel()->selectedRows(),
                 QModelIndexList{sidebar()->model()->index(0, 0)});
        QCOMPARE(desk()->section(), DeskSection::Today);
        clickRow(DeskSection::Employees);
        QCOMPARE(desk()->section(), DeskSection::Employees);
        QCOMPARE(heading(), title(DeskSection::Employees));
        QTRY_COMPARE(desk()->findChildren<DeskScreen *>().size(), 1); // the old screens are gone
        // A click on the sidebar's empty space deselects: the desk shows Today.
        clickRow(DeskSection::Employees, 40);
        QCOMPARE(desk()->section(), std::nullopt);
        QCOMPARE(heading(), u"Today"_s);
        // Collapsed to icons, the sidebar stays so on the next desk, and a row offers its title as a tooltip.
        // Either way its width is fixed.
        QVERIFY(!sidebar()->model()->index(1, 0).data(Qt::ToolTipRole).isValid());
        QCOMPARE(child<QWidget>(u"sidebar"_s)->width(), 190);
        QTest::mouseClick(child<QToolButton>(u"collapseSidebarButton"_s), Qt::LeftButton);
        m_f->cloud.client->signOutAccount();
        QVERIFY(m_f->signIn(u"a"_s));
        QCOMPARE(sidebar()->model()->index(1, 0).data(Qt::ToolTipRole), u"Visitors"_s);
        QTRY_COMPARE(child<QWidget>(u"sidebar"_s)->width(), 80);
        QTest::mouseClick(child<QToolButton>(u"signInVisitorButton"_s), Qt::LeftButton);
        QVERIFY(m_f->model->isSigningIn());
    }

    void errorBannerFollowsTheModel() {
        show(u"a"_s);
        auto *banner = child<ErrorBanner>(u"errorBanner"_s);
        auto *text = child<QLabel>(u"errorBannerText"_s);
        // Until the setup has loaded its failure keeps the banner up; this is about the refresh's own banner.
        QTRY_VERIFY(m_f->model->lastRefresh());
        m_f->backend.failLoads = u"<b>\u0141ukasz</b> cannot be reached"_s;
        QVERIFY(runTask(m_f->model->refresh()));
        QVERIFY(banner->isVisible());
        QCOMPARE(text->text(), *m_f->backend.failLoads);
        QCOMPARE(text->textFormat(), Qt::PlainText); // server text is never markup
        QCOMPARE(child<QLabel>(u"deskSubtitle"_s)->textFormat(), Qt::PlainText); // nor the place's name
        m_f->backend.failLoads.reset();
        QVERIFY(runTask(m_f->model->refresh()));
        QVERIFY(!banner->isVisible());
    }

    void sheetsFollowTheirFlags_data() {
        QTest::addColumn<bool>("invite");
        QTest::newRow("Sign In Visitor") << false;
        QTest::newRow("New Invite") << true;
    }
    void sheetsFollowTheirFlags() {
        QFETCH(bool, invite);
        show(std::nullopt);
        AppModel &model = *m_f->model;
        const auto raise = [&](bool up) { invite ? model.setInviting(up) : model.setSigningIn(up); };
        const auto raised = [&] { return invite ? model.isInviting() : model.isSigningIn(); };
        const auto sheet = [&]() -> QDialog * {
            return invite ? desk()->newInviteSheet() : desk()->signInSheet();
        };

        // A flag raised before the desk exists opens its sheet once the desk is in its window.
        raise(true);
        QVERIFY(m_f->signIn(u"a"_s));
        QTRY_VERIFY(sheet() && sheet()->isVisible());
        QCOMPARE(desk()->findChildren<QDialog *>().size(), 1);
        QPointer<QDialog> open = sheet();

        // Closed by the person: the flag goes down, and it opens again when raised.
        QTest::keyClick(open, Qt::Key_Escape);
        QVERIFY(!raised());
        QTRY_VERIFY(!open);
        raise(true);
        open = sheet();
        QTRY_VERIFY(open && open->isVisible());
        // Lowered by the model: the sheet closes.
        raise(false);
        QTRY_VERIFY(!open);
        // A desk that goes takes its sheets' flags down with it.
        raise(true);
        m_f->cloud.client->signOutAccount();
        QTRY_VERIFY(!raised());
    }

    // Key presses at these gaps (ms) after the first, each typing the next character, then Return.
    void scannerBurstsAreToldFromTyping_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("gaps");
        QTest::addColumn<QString>("burst"); // empty: none
        const QList<int> quick(13, 8);
        QTest::newRow("a scanner") << u"abcdefghijklm"_s << quick << u"abcdefghijklm"_s;
        QTest::newRow("too short") << u"abcdefg"_s << QList<int>(7, 8) << QString();
        QTest::newRow("one slow key") << u"abcdefghijklm"_s << (QList<int>(12, 8) << 31) << QString();
        QTest::newRow("typing, then a scan")
            << u"hi abcdefghij"_s << (QList<int>{0, 120, 90, 150} + QList<int>(9, 30)) << u"abcdefghij"_s;
        QTest::newRow("a person typing") << u"abcdefghijklm"_s << QList<int>(13, 70) << QString();
    }
    void scannerBurstsAreToldFromTyping() {
        QFETCH(QString, typed);
        QFETCH(QList<int>, gaps);
        QFETCH(QString, burst);
        ScanDetector detector;
        quint64 at = 1000;
        for (qsizetype i = 0; i < typed.size(); ++i) {
            at += quint64(gaps.at(i));
            QVERIFY(!detector.press(Qt::Key_A, typed.mid(i, 1), at));
        }
        QCOMPARE(detector.press(Qt::Key_Return, u"\r"_s, at + quint64(gaps.last())).value_or(QString()),
                 burst);
    }

    void scannedTokens_data() {
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<QString>("token"); // empty: none
        QTest::newRow("a link") << u"http://127.0.0.1:54321/i/AbC-d_0123456789xyzAbC-d_01234"_s
                                << u"AbC-d_0123456789xyzAbC-d_01234"_s;
        QTest::newRow("a link, encoded") << u"http://127.0.0.1:54321/i/a%20b"_s << u"a b"_s;
        QTest::newRow("a bare token") << u" AbC-d_0123456789xyz "_s << u"AbC-d_0123456789xyz"_s;
        QTest::newRow("another website") << u"http://127.0.0.2:54321/i/abcdefghijkl"_s << QString();
        QTest::newRow("another port") << u"http://127.0.0.1:80/i/abcdefghijkl"_s << QString();
        QTest::newRow("another path") << u"http://127.0.0.1:54321/x/abcdefghijkl"_s << QString();
        QTest::newRow("two segments") << u"http://127.0.0.1:54321/i/abc/def"_s << QString();
        QTest::newRow("a product code") << u"4006381333931"_s << QString();
    }
    void scannedTokens() {
        QFETCH(QString, scanned);
        QFETCH(QString, token);
        const QUrl website(u"http://127.0.0.1:54321"_s);
        QCOMPARE(scannedInviteToken(scanned, website).value_or(QString()), token);
    }

    void aScannedInviteOpensItsSheet() {
        const auto invite = [](const QString &token, const QString &name, const QString &day,
                               const QJsonValue &usedAt = QJsonValue::Null) {
            return inviteJson(name, {{u"token"_s, token}, {u"visit_date"_s, day}, {u"used_at"_s, usedAt}});
        };
        m_f->backend.invites = {
            invite(u"waitingToken00001"_s, u"Ingrid Halvorsen"_s, u"2999-01-01"_s),
            invite(u"usedToken00000001"_s, u"Sakura Ito"_s, u"2025-03-04"_s, u"2025-03-04T09:58:00Z"_s),
            invite(u"pastToken00000001"_s, u"Oliver Brandt"_s, u"2025-03-02"_s)};
        show(u"a"_s);
        const auto backToTheDesk = [this] {
            m_content->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(m_content.get()));
            sidebar()->setFocus();
        };
        backToTheDesk();
        const QString link = m_f->cloud.client->inviteLink(u"waitingToken00001"_s).toString();
        quint64 at = 5000;
        const auto scan = [&](const QString &text) {
            for (const QChar c : text) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QString(c));
                press.setTimestamp(at += 5);
                QApplication::sendEvent(QApplication::focusWidget(), &press);
            }
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, u"\r"_s);
            enter.setTimestamp(at += 5);
            QApplication::sendEvent(QApplication::focusWidget(), &enter);
            at += 1000;
        };
        // Past its first key, a scan does not reach the widget with the focus.
        KeyCounter sidebarKeys;
        sidebar()->installEventFilter(&sidebarKeys);
        scan(link);
        sidebar()->removeEventFilter(&sidebarKeys);
        QCOMPARE(sidebarKeys.presses, 1);
        // The invite's sheet holds the invite until closed; it is not the Sign In Visitor flag's.
        QTRY_VERIFY(desk()->inviteSignInSheet() && desk()->inviteSignInSheet()->isVisible());
        QCOMPARE(desk()->signingInInvite()->visitorName, u"Ingrid Halvorsen"_s);
        QVERIFY(!m_f->model->isSigningIn());
        desk()->inviteSignInSheet()->reject();
        QCOMPARE(desk()->signingInInvite(), std::nullopt);
        backToTheDesk();

        scan(u"usedToken00000001"_s);
        const QDateTime usedAt = QDateTime(QDate(2025, 3, 4), QTime(9, 58), Qt::UTC).toLocalTime();
        QTRY_COMPARE(desk()->scanner()->message().value_or(QString()),
                     u"This invite was already used on %1 at %2."_s.arg(
                         weekdayMonthDay(usedAt.date(), QLocale()), shortTime(usedAt.time(), QLocale())));
        QVERIFY(!desk()->inviteSignInSheet());
        QApplication::activeModalWidget()->close();
        backToTheDesk();
        scan(u"pastToken00000001"_s);
        QTRY_COMPARE(desk()->scanner()->message().value_or(QString()),
                     u"This invite was for %1."_s.arg(weekdayMonthDay(QDate(2025, 3, 2), QLocale())));
    }
};

QTEST_MAIN(TestContentView)
#include "tst_contentview.moc"
