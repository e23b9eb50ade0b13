#include "DeskTestSupport.h"
#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"
#include "ui/MessageBox.h"
#include "ui/UpdateGate.h"
#include "ui/UpdateRequiredView.h"
#include "updates/UpdateChecker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

namespace {

QByteArray manifest(const QByteArray &minimum, const QByteArray &latest,
                    const QByteArray &url = "https://tallybrook.app/download") {
    return R"({"direct":{"minimumVersion":")" + minimum + R"(","latestVersion":")" + latest +
           R"(","downloadURL":")" + url + R"("},"appStore":null})";
}

QAbstractButton *buttonOf(QMessageBox *box, const QString &text) {
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

} // namespace

class TestUpdateGate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenNoise(); }
    void init();
    void cleanup();

    void upToDateShowsTheContent();
    void requiredReplacesTheContentAtOnce();
    void returnOpensTheDownloadAndTheDeskKeepsRunning();
    void quitQuits();
    void liftedRequirementGivesTheContentBack();
    void contentDialogsCloseWhenBlocked();
    void offerAlert();
    void everyWayOfClosingTheAlertDismisses_data();
    void everyWayOfClosingTheAlertDismisses();
    void dismissedVersionIsOfferedOnlyWhenANewerOneComes();
    void requiredWhileTheAlertShowsReplacesEverything();
    void hiddenGateOffersOnlyOnceShown();
    void twoWindowsOneDismissal();
    void queuedAnswerNeverShowsTheAlert();
    void missingRunningVersionReadsAsZero();

private:
    void report(const QByteArray &body);
    UpdateGate &makeGate(const QString &running = u"1.0"_s);

    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_http;
    std::unique_ptr<UpdateChecker> m_updates;
    RecordingUrlOpener m_urls;
    int m_quits = 0;
    std::unique_ptr<UpdateGate> m_gate;
    QPointer<QWidget> m_content;
    QPointer<QDialog> m_contentDialog;
};

void TestUpdateGate::init() {
    MessageBox::clearNextAnswers();
    m_server = std::make_unique<ScriptedHttpServer>();
    m_http = std::make_unique<QNetworkAccessManager>();
    UpdateChecker::Options options;
    options.manifestURL = QUrl(m_server->baseUrl().toString() + u"/api/mac/version"_s);
    options.runningVersion = u"1.0"_s;
    options.timeout = std::chrono::milliseconds(2000);
    options.checkAtCreation = false;
    m_updates = std::make_unique<UpdateChecker>(*m_http, options);
    m_urls.opened.clear();
    m_quits = 0;
}

void TestUpdateGate::cleanup() {
    m_gate.reset();
    m_updates.reset();
    m_http.reset();
    m_server.reset();
    MessageBox::clearNextAnswers();
}

UpdateGate &TestUpdateGate::makeGate(const QString &running) {
    auto *content = new QWidget;
    content->setObjectName(u"content"_s);
    auto *layout = new QVBoxLayout(content);
    layout->addWidget(new QLineEdit(content));
    m_content = content;
    m_contentDialog = new QDialog(content);
    m_gate = std::make_unique<UpdateGate>(*m_updates, m_urls,
                                          UpdateGate::Options{running, [this] { ++m_quits; }}, content);
    m_gate->resize(900, 600);
    m_gate->show();
    QApplication::setActiveWindow(m_gate.get());
    if (!QTest::qWaitForWindowActive(m_gate.get())) {
        qWarning("the gate's window did not become active");
    }
    return *m_gate;
}

void TestUpdateGate::report(const QByteArray &body) {
    m_server->setHandler([body](const RecordedRequest &) { return ScriptedAnswer::json(200, body); });
    QVERIFY(runTask(m_updates->check()));
}

void TestUpdateGate::upToDateShowsTheContent() {
    UpdateGate &gate = makeGate();
    QVERIFY(!gate.isBlocking());
    QVERIFY(m_content->isVisible());
    QVERIFY(!gate.alert());
}

void TestUpdateGate::requiredReplacesTheContentAtOnce() {
    UpdateGate &gate = makeGate();
    report(manifest("1.5", "2.0", "https://tallybrook.app/download/2.0"));
    // No event loop turn in between: the content is gone the moment the status says so.
    QVERIFY(gate.isBlocking());
    QVERIFY(!m_content->isVisible());
    UpdateRequiredView *screen = gate.requiredView();
    QVERIFY(screen->isVisible());
    QCOMPARE(screen->findChild<QLabel *>(u"updateRequiredTitle"_s)->text(), u"Update Required"_s);
    QCOMPARE(
        screen->findChild<QLabel *>(u"updateRequiredMessage"_s)->text(),
        u"This version of Tallybrook (1.0) is no longer supported. Download version 2.0 to keep signing in "_s
        u"visitors."_s);
    // Wrapped within 420 points, every line of it in view.
    auto *message = screen->findChild<QLabel *>(u"updateRequiredMessage"_s);
    QTRY_VERIFY(message->width() > 300);
    QVERIFY(message->width() <= 420);
    QTRY_VERIFY2(
        message->height() >= message->heightForWidth(message->width()),
        qPrintable(u"%1 for %2"_s.arg(message->height()).arg(message->heightForWidth(message->width()))));
    QVERIFY(message->height() > message->fontMetrics().height());
    QCOMPARE(screen->findChild<QPushButton *>(u"downloadUpdateButton"_s)->text(), u"Download Update"_s);
    QCOMPARE(screen->findChild<QPushButton *>(u"quitButton"_s)->text(), u"Quit"_s);
    QVERIFY(!screen->findChild<QLabel *>(u"updateRequiredIcon"_s)->pixmap().isNull());
    QVERIFY(!gate.alert());
}

void TestUpdateGate::returnOpensTheDownloadAndTheDeskKeepsRunning() {
    UpdateGate &gate = makeGate();
    report(manifest("1.5", "2.0", "https://tallybrook.app/download/2.0"));
    auto *download = gate.requiredView()->findChild<QPushButton *>(u"downloadUpdateButton"_s);
    // Return goes where the focus is: on the download button, which the screen hands the focus to.
    QTRY_VERIFY(download->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(m_urls.opened, QList<QUrl>{QUrl(u"https://tallybrook.app/download/2.0"_s)});
    // Even with the focus on "Quit", Return downloads.
    QTest::keyClick(gate.requiredView()->findChild<QPushButton *>(u"quitButton"_s), Qt::Key_Return);
    QCOMPARE(m_urls.opened.size(), 2);
    QTest::keyClick(gate.requiredView(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(m_urls.opened.size(), 3);
    QTest::mouseClick(download, Qt::LeftButton);
    QCOMPARE(m_urls.opened.size(), 4);
    QCOMPARE(m_quits, 0);
}

void TestUpdateGate::quitQuits() {
    UpdateGate &gate = makeGate();
    report(manifest("1.5", "2.0"));
    QTest::mouseClick(gate.requiredView()->findChild<QPushButton *>(u"quitButton"_s), Qt::LeftButton);
    QCOMPARE(m_quits, 1);
    QVERIFY(m_urls.opened.isEmpty());
}

void TestUpdateGate::liftedRequirementGivesTheContentBack() {
    UpdateGate &gate = makeGate();
    report(manifest("1.5", "2.0"));
    QPointer<UpdateRequiredView> screen = gate.requiredView();
    report(manifest("1.0", "1.0"));
    QVERIFY(!gate.isBlocking());
    QVERIFY(m_content->isVisible());
    QTRY_VERIFY(!screen);
}

void TestUpdateGate::contentDialogsCloseWhenBlocked() {
    makeGate();
    QSignalSpy rejected(m_contentDialog.data(), &QDialog::rejected);
    m_contentDialog->open();
    QTRY_VERIFY(m_contentDialog->isVisible());
    report(manifest("1.5", "2.0"));
    QVERIFY(!m_contentDialog->isVisible());
    QCOMPARE(rejected.size(), 1);
}

void TestUpdateGate::offerAlert() {
    UpdateGate &gate = makeGate();
    report(manifest("1.0", "2.0", "https://tallybrook.app/download/2.0"));
    QMessageBox *alert = gate.alert();
    QVERIFY(alert);
    QTRY_VERIFY(alert->isVisible());
    QCOMPARE(alert->windowTitle(), u"A New Version Is Available"_s);
    QCOMPARE(alert->informativeText(), u"Tallybrook 2.0 is ready. You're using 1.0."_s);
    QCOMPARE(UpdateGate::offerMessage(u"2.0"_s, u"1.0"_s), u"Tallybrook 2.0 is ready. You're using 1.0."_s);
    QVERIFY(buttonOf(alert, u"Download"_s));
    QVERIFY(buttonOf(alert, u"Later"_s));
    QCOMPARE(alert->escapeButton(), buttonOf(alert, u"Later"_s));
    QCOMPARE(alert->defaultButton(), buttonOf(alert, u"Download"_s));
    QVERIFY(!gate.isBlocking());
    QVERIFY(m_content->isVisible());
    QCOMPARE(m_updates->dismissedVersion(), std::nullopt);
}

void TestUpdateGate::everyWayOfClosingTheAlertDismisses_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("opensDownload");
    QTest::newRow("Download") << u"download"_s << true;
    QTest::newRow("Later") << u"later"_s << false;
    QTest::newRow("Escape") << u"escape"_s << false;
    QTest::newRow("window closed") << u"close"_s << false;
    QTest::newRow("rejected") << u"reject"_s << false;
}

void TestUpdateGate::everyWayOfClosingTheAlertDismisses() {
    QFETCH(QString, how);
    QFETCH(bool, opensDownload);
    UpdateGate &gate = makeGate();
    report(manifest("1.0", "2.0", "https://tallybrook.app/download/2.0"));
    QPointer<QMessageBox> alert = gate.alert();
    QTRY_VERIFY(alert && alert->isVisible());
    if (how == u"download") {
        QTest::mouseClick(buttonOf(alert, u"Download"_s), Qt::LeftButton);
    } else if (how == u"later") {
        QTest::mouseClick(buttonOf(alert, u"Later"_s), Qt::LeftButton);
    } else if (how == u"escape") {
        QTest::keyClick(alert, Qt::Key_Escape);
    } else if (how == u"close") {
        alert->close();
    } else {
        alert->reject();
    }
    QTRY_COMPARE(m_updates->dismissedVersion(), u"2.0"_s);
    QCOMPARE(m_urls.opened,
             opensDownload ? QList<QUrl>{QUrl(u"https://tallybrook.app/download/2.0"_s)} : QList<QUrl>{});
    QVERIFY(!m_updates->offeredUpdate());
    QVERIFY(!gate.alert());
    QTRY_VERIFY(!alert);
}

void TestUpdateGate::dismissedVersionIsOfferedOnlyWhenANewerOneComes() {
    UpdateGate &gate = makeGate();
    report(manifest("1.0", "2.1"));
    QTRY_VERIFY(gate.alert() && gate.alert()->isVisible());
    QTest::mouseClick(buttonOf(gate.alert(), u"Later"_s), Qt::LeftButton);
    QCOMPARE(m_updates->dismissedVersion(), u"2.1"_s);

    report(manifest("1.0", "2.1"));
    QTest::qWait(50);
    QVERIFY(!gate.alert());

    report(manifest("1.0", "2.2"));
    QVERIFY(gate.alert());
    QTRY_VERIFY(gate.alert()->isVisible());
    QCOMPARE(gate.alert()->informativeText(), u"Tallybrook 2.2 is ready. You're using 1.0."_s);
}

void TestUpdateGate::requiredWhileTheAlertShowsReplacesEverything() {
    UpdateGate &gate = makeGate();
    report(manifest("1.0", "2.0"));
    QPointer<QMessageBox> alert = gate.alert();
    QTRY_VERIFY(alert && alert->isVisible());
    report(manifest("1.5", "2.0"));
    QVERIFY(gate.isBlocking());
    QVERIFY(!gate.alert());
    QTRY_VERIFY(!alert);
    // The alert went because the offer went, not because the person put it off.
    QCOMPARE(m_updates->dismissedVersion(), std::nullopt);
    QVERIFY(m_urls.opened.isEmpty());
}

void TestUpdateGate::hiddenGateOffersOnlyOnceShown() {
    UpdateGate &gate = makeGate();
    gate.hide();
    report(manifest("1.0", "2.0"));
    QVERIFY(!gate.alert());
    gate.show();
    QVERIFY(gate.alert());
    QTRY_VERIFY(gate.alert()->isVisible());
}

void TestUpdateGate::twoWindowsOneDismissal() {
    UpdateGate &first = makeGate();
    auto *other = new QWidget;
    UpdateGate second(*m_updates, m_urls, UpdateGate::Options{u"1.0"_s, {}}, other);
    second.show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    report(manifest("1.0", "2.0"));
    QPointer<QMessageBox> firstAlert = first.alert();
    QPointer<QMessageBox> secondAlert = second.alert();
    QTRY_VERIFY(firstAlert && firstAlert->isVisible() && secondAlert && secondAlert->isVisible());
    QTest::mouseClick(buttonOf(secondAlert, u"Later"_s), Qt::LeftButton);
    QCOMPARE(m_updates->dismissedVersion(), u"2.0"_s);
    QTRY_VERIFY(!firstAlert);
    QVERIFY(!first.alert());
}

void TestUpdateGate::queuedAnswerNeverShowsTheAlert() {
    MessageBox::setNextAnswer(u"Download"_s);
    UpdateGate &gate = makeGate();
    report(manifest("1.0", "2.0", "https://tallybrook.app/download/2.0"));
    QVERIFY(!gate.alert());
    QVERIFY(!gate.findChild<QMessageBox *>());
    QTRY_COMPARE(m_updates->dismissedVersion(), u"2.0"_s);
    QCOMPARE(m_urls.opened, QList<QUrl>{QUrl(u"https://tallybrook.app/download/2.0"_s)});
    QCOMPARE(MessageBox::pendingAnswerCount(), 0);
}

void TestUpdateGate::missingRunningVersionReadsAsZero() {
    UpdateGate &gate = makeGate(QString());
    report(manifest("1.5", "2.0"));
    QCOMPARE(gate.requiredView()->findChild<QLabel *>(u"updateRequiredMessage"_s)->text(),
             UpdateRequiredView::message(u"0"_s, u"2.0"_s));
}

QTEST_MAIN(TestUpdateGate)
#include "tst_updategate.moc"
