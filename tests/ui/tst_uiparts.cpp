#include "DeskTestSupport.h"
#include "ui/Commands.h"
#include "ui/Icons.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

using namespace tallybrook::ui;
using namespace Qt::StringLiterals;

namespace {

// How many pixels of an image are not fully transparent.
int paintedPixels(const QImage &image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return count;
}

MessageBox::Alert twoButtons() {
    MessageBox::Alert alert;
    alert.title = u"Sign out all 3 visitors on site?"_s;
    alert.message = u"Zo\u00eb, \u0141ukasz and Ann"_s;
    alert.buttons = {{u"Sign Out Everyone"_s, QMessageBox::DestructiveRole},
                     {u"Cancel"_s, QMessageBox::RejectRole}};
    return alert;
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

class TestUiParts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { tallybrook::testing::quietOffscreenNoise(); }
    void cleanup() { MessageBox::clearNextAnswers(); }

    void everySymbolDraws_data();
    void everySymbolDraws();
    void unknownSymbolIsNull();
    void tintedSymbolIsOneColour();
    void applicationIconDraws();
    void shortcutTooltipsUseTheNativeText();

    void cancelButtonOfAnAlert_data();
    void cancelButtonOfAnAlert();
    void queuedAnswersAreUsedInOrder();
    void realAlertReportsEveryWayOfClosing_data();
    void realAlertReportsEveryWayOfClosing();
    void alertOfAGoneWindowReportsNothing();
    void alertTextIsPlain();
};

void TestUiParts::everySymbolDraws_data() {
    QTest::addColumn<QString>("name");
    for (const QString &name : symbolNames()) {
        QTest::newRow(qPrintable(name)) << name;
    }
}

void TestUiParts::everySymbolDraws() {
    QFETCH(QString, name);
    QVERIFY(!themeIconName(name).isEmpty());
    const QIcon icon = symbol(name);
    QVERIFY(!icon.isNull());
    for (const int side : {16, 18, 56}) {
        const QImage image = icon.pixmap(QSize(side, side)).toImage();
        QVERIFY2(!image.isNull(), qPrintable(name));
        QVERIFY2(paintedPixels(image) > side, qPrintable(u"%1 at %2"_s.arg(name).arg(side)));
    }
    // Our own drawing stands in wherever the theme has no such icon.
    const QIcon own(u":/tallybrook/icons/"_s + name + u".svg"_s);
    QVERIFY2(paintedPixels(own.pixmap(QSize(18, 18)).toImage()) > 18, qPrintable(name));
}

void TestUiParts::unknownSymbolIsNull() {
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"no icon for the symbol"_s));
    QVERIFY(symbol(u"no.such.symbol").isNull());
    QVERIFY(themeIconName(u"no.such.symbol").isEmpty());
}

void TestUiParts::tintedSymbolIsOneColour() {
    const QColor accent(0x20, 0x80, 0xe0);
    const QImage image = tintedSymbol(u"arrow.down.circle", QSize(56, 56), accent).toImage();
    QVERIFY(paintedPixels(image) > 56);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 255) {
                QCOMPARE(pixel.rgb(), accent.rgb());
            }
        }
    }
}

void TestUiParts::applicationIconDraws() {
    QVERIFY(!applicationIcon().isNull());
    const QImage image = applicationIconPixmap(72, 2.0).toImage();
    QCOMPARE(image.size(), QSize(144, 144));
    QVERIFY(paintedPixels(image) > 72 * 72);
}

void TestUiParts::shortcutTooltipsUseTheNativeText() {
    QCOMPARE(withShortcut(u"Sign in a visitor"_s, signInVisitorShortcut()), u"Sign in a visitor (Ctrl+N)"_s);
    QCOMPARE(newInviteShortcut().toString(QKeySequence::NativeText), u"Ctrl+Shift+I"_s);
    QCOMPARE(refreshShortcut(), QKeySequence(u"Ctrl+R"_s));
    QCOMPARE(settingsShortcut(), QKeySequence(u"Ctrl+,"_s));
}

void TestUiParts::cancelButtonOfAnAlert_data() {
    QTest::addColumn<QList<QMessageBox::ButtonRole>>("roles");
    QTest::addColumn<int>("explicitCancel");
    QTest::addColumn<int>("cancel");
    using R = QMessageBox::ButtonRole;
    QTest::newRow("the reject button") << QList<R>{R::AcceptRole, R::RejectRole} << -1 << 1;
    QTest::newRow("the last reject button")
        << QList<R>{R::RejectRole, R::AcceptRole, R::RejectRole} << -1 << 2;
    QTest::newRow("without one, the last button") << QList<R>{R::AcceptRole} << -1 << 0;
    QTest::newRow("as chosen") << QList<R>{R::AcceptRole, R::RejectRole} << 0 << 0;
    QTest::newRow("a choice out of range is ignored") << QList<R>{R::AcceptRole, R::RejectRole} << 5 << 1;
}

void TestUiParts::cancelButtonOfAnAlert() {
    QFETCH(QList<QMessageBox::ButtonRole>, roles);
    QFETCH(int, explicitCancel);
    QFETCH(int, cancel);
    MessageBox::Alert alert;
    for (const auto role : roles) {
        alert.buttons.append({u"B"_s, role});
    }
    alert.cancelButton = explicitCancel;
    QCOMPARE(MessageBox::cancelButtonOf(alert), cancel);
}

void TestUiParts::queuedAnswersAreUsedInOrder() {
    QWidget window;
    QList<int> answers;
    MessageBox::setNextAnswer(u"Sign Out Everyone"_s);
    MessageBox::setNextAnswer(u"no such button"_s);
    QVERIFY(!MessageBox::show(&window, twoButtons(), [&](int button) { answers.append(button); }));
    QVERIFY(!MessageBox::show(&window, twoButtons(), [&](int button) { answers.append(button); }));
    QVERIFY(answers.isEmpty()); // answered from the event loop, as a person would
    QTRY_COMPARE(answers, (QList<int>{0, 1}));
    QCOMPARE(MessageBox::pendingAnswerCount(), 0);
    QVERIFY(!window.findChild<QMessageBox *>());
}

void TestUiParts::realAlertReportsEveryWayOfClosing_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("answer");
    QTest::newRow("the first button") << u"first"_s << 0;
    QTest::newRow("the cancel button") << u"cancel"_s << 1;
    QTest::newRow("Escape") << u"escape"_s << 1;
    QTest::newRow("closed") << u"close"_s << 1;
    QTest::newRow("Return presses the default button") << u"return"_s << 0;
}

void TestUiParts::realAlertReportsEveryWayOfClosing() {
    QFETCH(QString, how);
    QFETCH(int, answer);
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QList<int> answers;
    QPointer<QMessageBox> box =
        MessageBox::show(&window, twoButtons(), [&](int button) { answers.append(button); });
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->windowTitle(), u"Sign out all 3 visitors on site?"_s);
    QCOMPARE(box->informativeText(), u"Zo\u00eb, \u0141ukasz and Ann"_s);
    if (how == u"first") {
        QTest::mouseClick(buttonOf(box, u"Sign Out Everyone"_s), Qt::LeftButton);
    } else if (how == u"cancel") {
        QTest::mouseClick(buttonOf(box, u"Cancel"_s), Qt::LeftButton);
    } else if (how == u"escape") {
        QTest::keyClick(box, Qt::Key_Escape);
    } else if (how == u"close") {
        box->close();
    } else {
        QTest::keyClick(box, Qt::Key_Return);
    }
    QTRY_COMPARE(answers, QList<int>{answer});
    QTRY_VERIFY(!box); // deleted once closed
}

void TestUiParts::alertOfAGoneWindowReportsNothing() {
    auto window = std::make_unique<QWidget>();
    window->show();
    int answers = 0;
    QPointer<QMessageBox> box = MessageBox::show(window.get(), twoButtons(), [&](int) { ++answers; });
    QVERIFY(box);
    window.reset();
    QVERIFY(!box);
    MessageBox::setNextAnswer(u"Cancel"_s);
    window = std::make_unique<QWidget>();
    MessageBox::show(window.get(), twoButtons(), [&](int) { ++answers; });
    window.reset();
    QTest::qWait(20);
    QCOMPARE(answers, 0);
}

void TestUiParts::alertTextIsPlain() {
    // Server and manifest text reach alerts: markup in it is shown as typed, never followed.
    QWidget window;
    window.show();
    MessageBox::Alert alert = twoButtons();
    alert.title = u"<i>Zo\u00eb</i>"_s;
    alert.message = u"<a href=\"file:///etc/passwd\">Open</a>"_s;
    QPointer<QMessageBox> box = MessageBox::show(&window, alert, [](int) {});
    QVERIFY(box);
    const auto shown = [&box] {
        QStringList texts;
        for (const QLabel *label : box->findChildren<QLabel *>()) {
            if (!label->text().isEmpty()) {
                texts.append(label->text());
                if (label->textFormat() != Qt::PlainText) {
                    texts.append(u"not plain"_s);
                }
            }
        }
        texts.sort();
        return texts;
    };
    QCOMPARE(shown(), QStringList({alert.message, alert.title}));
    MessageBox::setMessage(box, u"<b>2.0</b>"_s);
    QCOMPARE(shown(), QStringList({u"<b>2.0</b>"_s, alert.title}));
    box->close();
}

QTEST_MAIN(TestUiParts)
#include "tst_uiparts.moc"
