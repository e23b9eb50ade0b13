#include "PrivateCups.h"
#include "platform/QtPrintSystem.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace tallybrook::platform;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

// A 62 mm roll cut 95.4 mm long, printed across.
const QSizeF labelPoints(175.748, 270.382);

struct DrawnPage {
    int calls = 0;
    QRectF page;
    QRect deviceRect;
};

PrintJob labelJob(const QString &printer, const QString &title, DrawnPage *drawn) {
    PrintJob job;
    job.printerName = printer;
    job.pageSize = QPageSize(labelPoints, QPageSize::Point, u"Label"_s, QPageSize::ExactMatch);
    job.orientation = QPageLayout::Landscape;
    job.margins = QMarginsF(0, 0, 0, 0);
    job.title = title;
    job.drawPage = [drawn](QPainter &painter, const QRectF &page) {
        ++drawn->calls;
        drawn->page = page;
        drawn->deviceRect = QRect(0, 0, painter.device()->width(), painter.device()->height());
        painter.fillRect(page, Qt::white);
        painter.fillRect(QRectF(page.topLeft(), page.size() / 4), Qt::red);
    };
    return job;
}

// "Custom.175.748x270.382" (points), "Custom.62x95.38mm" and the like.
QSizeF mediaPoints(const QString &media) {
    static const QRegularExpression custom(u"^Custom\\.([0-9.]+)x([0-9.]+)(mm|in|pt)?$"_s);
    const auto match = custom.match(media);
    if (!match.hasMatch())
        return {};
    const QString unit = match.captured(3);
    const qreal factor = unit == u"mm" ? 72.0 / 25.4 : unit == u"in" ? 72.0 : 1.0;
    return QSizeF(match.captured(1).toDouble() * factor, match.captured(2).toDouble() * factor);
}

// Answers the print dialog as soon as it is up, and notes which printer it offered.
class DialogAnswer {
public:
    explicit DialogAnswer(bool accept) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, accept] {
            auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_timer.stop();
            ++m_seen;
            m_objectName = dialog->objectName();
            m_printer = dialog->printer()->printerName();
            accept ? dialog->accept() : dialog->reject();
        });
        m_timer.start(20);
    }
    [[nodiscard]] int seen() const { return m_seen; }
    [[nodiscard]] const QString &printer() const { return m_printer; }
    [[nodiscard]] const QString &objectName() const { return m_objectName; }

private:
    QTimer m_timer;
    int m_seen = 0;
    QString m_printer;
    QString m_objectName;
};

} // namespace

class TestQtPrintSystem : public QObject {
    Q_OBJECT

public:
    explicit TestQtPrintSystem(PrivateCups &cups) : m_cups(cups) {}

private Q_SLOTS:
    void initTestCase();
    void queueTitleFitsAnIppName_data();
    void queueTitleFitsAnIppName();
    void withoutPrintersThereIsNothingToPrintOn();
    void unknownNamesAreNeverTheDefaultPrinter();
    void printsOnePageOfTheLabelSizeWithItsTitle();
    void withoutDefaultPrinterTheDialogStartsAtTheFirst();
    void longAndMultiLineTitlesReachTheQueueCut();
    void aQueueThatRejectsJobsFails();
    void aPrinterWithoutTheLabelSizeFailsInsteadOfPrintingOnItsOwnPaper();
    void cancellingTheDialogPrintsNothing();
    void acceptingTheDialogKeepsTheLabelPage();
    void cleanupTestCase();

private:
    // The job the queue got last, once finished.
    std::optional<PrivateCups::Job> lastFinishedJob(const QString &queue);

    PrivateCups &m_cups;
    QtPrintSystem m_system;
};

void TestQtPrintSystem::initTestCase() {
    if (!PrivateCups::isInstalled())
        QSKIP("/usr/sbin/cupsd is not installed (scripts/setup.sh installs cups); the print system needs it");
    QVERIFY2(m_cups.start(), qPrintable(m_cups.errorText()));
}

void TestQtPrintSystem::cleanupTestCase() {
    m_cups.stop();
}

std::optional<PrivateCups::Job> TestQtPrintSystem::lastFinishedJob(const QString &queue) {
    const QList<PrivateCups::Job> jobs = m_cups.jobs(queue);
    if (jobs.isEmpty())
        return std::nullopt;
    return m_cups.waitForFinishedJob(queue, jobs.constLast().id);
}

void TestQtPrintSystem::queueTitleFitsAnIppName_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short") << u"Visitor badge - Robin Sample"_s << u"Visitor badge - Robin Sample"_s;
    QTest::newRow("unicode kept") << u"Visitor badge - Zo\u00eb \u0141ukasz"_s
                                  << u"Visitor badge - Zo\u00eb \u0141ukasz"_s;
    QTest::newRow("line breaks become spaces")
        << u"Visitor badge - Robin\nSample\r\t!"_s << u"Visitor badge - Robin Sample  !"_s;
    QTest::newRow("exactly 255 bytes") << QString(255, u'a') << QString(255, u'a');
    QTest::newRow("256 bytes") << QString(256, u'a') << QString(255, u'a');
    // 127 two-byte letters are 254 bytes; the next one would make 256.
    QTest::newRow("two-byte letters stay whole")
        << QString(200, QChar(0x00eb)) << QString(127, QChar(0x00eb));
    // An emoji is four bytes in UTF-8 and two UTF-16 units; it is never cut in half.
    const QString emoji = u"\U0001F600"_s;
    QTest::newRow("emoji stay whole") << u"a"_s + emoji.repeated(100) << u"a"_s + emoji.repeated(63);
    // A letter and its combining accent are one character.
    const QString accented = u"e\u0301"_s;
    QTest::newRow("combining marks stay with their letter")
        << QString(253, u'x') + accented << QString(253, u'x');
}

void TestQtPrintSystem::queueTitleFitsAnIppName() {
    QFETCH(QString, title);
    QFETCH(QString, expected);
    const QString cut = QtPrintSystem::queueTitle(title);
    QCOMPARE(cut, expected);
    QVERIFY(cut.toUtf8().size() <= 255);
}

void TestQtPrintSystem::withoutPrintersThereIsNothingToPrintOn() {
    QCOMPARE(m_system.installedPrinterNames(), QStringList());
    QCOMPARE(m_system.defaultPrinterName(), QString());
    QVERIFY(!m_system.hasPrinter(u"TestPDF"_s));

    DrawnPage drawn;
    PrintJob job = labelJob(QString(), u"Visitor badge - Robin Sample"_s, &drawn);
    QCOMPARE(m_system.print(job), PrintResult::NoPrinter);
    // Not even the dialog has a printer to start from.
    job.showDialog = true;
    const DialogAnswer answer(false);
    QCOMPARE(m_system.print(job), PrintResult::NoPrinter);
    QCOMPARE(answer.seen(), 0);
    QCOMPARE(drawn.calls, 0);
}

void TestQtPrintSystem::unknownNamesAreNeverTheDefaultPrinter() {
    QVERIFY2(m_cups.addQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
    QVERIFY2(m_cups.setDefaultQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
    QCOMPARE(m_system.installedPrinterNames(), QStringList{u"TestPDF"_s});
    QCOMPARE(m_system.defaultPrinterName(), u"TestPDF"_s);
    QVERIFY(m_system.hasPrinter(u"TestPDF"_s));
    QVERIFY(!m_system.hasPrinter(u"Front Desk QL-820"_s));
    QVERIFY(!m_system.hasPrinter(QString()));

    DrawnPage drawn;
    QCOMPARE(m_system.print(labelJob(u"Front Desk QL-820"_s, u"Visitor badge - Robin Sample"_s, &drawn)),
             PrintResult::NoPrinter);
    QCOMPARE(drawn.calls, 0);
    QVERIFY(m_cups.jobs(u"TestPDF"_s).isEmpty());
}

void TestQtPrintSystem::printsOnePageOfTheLabelSizeWithItsTitle() {
    DrawnPage drawn;
    QCOMPARE(m_system.print(labelJob(u"TestPDF"_s, u"Visitor badge - Robin Sample"_s, &drawn)),
             PrintResult::Printed);

    // The callback drew once, on the whole page turned landscape.
    QCOMPARE(drawn.calls, 1);
    QCOMPARE(drawn.page.topLeft(), QPointF(0, 0));
    QVERIFY2(drawn.page.width() > drawn.page.height(), "landscape");
    QCOMPARE(drawn.page.toRect(), drawn.deviceRect);
    QVERIFY(qAbs(drawn.page.width() / drawn.page.height() - labelPoints.height() / labelPoints.width()) <
            0.01);

    const QList<PrivateCups::Job> jobs = m_cups.jobs(u"TestPDF"_s);
    QCOMPARE(jobs.size(), 1);
    const auto job = m_cups.waitForFinishedJob(u"TestPDF"_s, jobs.constFirst().id);
    QVERIFY2(job, qPrintable(m_cups.errorText()));
    QCOMPARE(job->attribute(u"job-state"_s), u"completed"_s);
    QCOMPARE(job->attribute(u"job-name"_s), u"Visitor badge - Robin Sample"_s);
    const QSizeF media = mediaPoints(job->attribute(u"media"_s));
    QVERIFY2(qAbs(media.width() - labelPoints.width()) < 0.01 &&
                 qAbs(media.height() - labelPoints.height()) < 0.01,
             qPrintable(job->attribute(u"media"_s)));

    // The document itself is one landscape page of the label's size (Qt writes whole points).
    QByteArray info;
    QVERIFY2(m_cups.run(u"pdfinfo"_s, {m_cups.spooledDocument(job->id)}, &info),
             qPrintable(m_cups.errorText()));
    static const QRegularExpression pageSize(u"Page size:\\s+([0-9.]+) x ([0-9.]+) pts"_s);
    const auto match = pageSize.match(QString::fromUtf8(info));
    QVERIFY2(match.hasMatch(), info.constData());
    QVERIFY2(qAbs(match.captured(1).toDouble() - labelPoints.height()) < 1.0, info.constData());
    QVERIFY2(qAbs(match.captured(2).toDouble() - labelPoints.width()) < 1.0, info.constData());
    QVERIFY(info.contains("Pages:           1"));
    // And it went all the way through the driver to the device.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_cups.outputFile(u"TestPDF"_s)).size() > 0, 30'000);
}

void TestQtPrintSystem::withoutDefaultPrinterTheDialogStartsAtTheFirst() {
    // A second scheduler state: a printer, but none is the default.
    m_cups.stop();
    QVERIFY2(m_cups.start(), qPrintable(m_cups.errorText()));
    QVERIFY2(m_cups.run(u"lpadmin"_s, {u"-h"_s, m_cups.socketPath(), u"-x"_s, u"TestPDF"_s}),
             qPrintable(m_cups.errorText()));
    QVERIFY2(m_cups.addQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
    QCOMPARE(m_system.defaultPrinterName(), QString());

    DrawnPage drawn;
    PrintJob job = labelJob(QString(), u"Visitor badge - Robin Sample"_s, &drawn);
    QCOMPARE(m_system.print(job), PrintResult::NoPrinter);
    QCOMPARE(drawn.calls, 0);

    job.showDialog = true;
    const DialogAnswer answer(false);
    QCOMPARE(m_system.print(job), PrintResult::Cancelled);
    QCOMPARE(answer.seen(), 1);
    QCOMPARE(answer.printer(), u"TestPDF"_s);
    QVERIFY2(m_cups.setDefaultQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
}

void TestQtPrintSystem::longAndMultiLineTitlesReachTheQueueCut() {
    DrawnPage drawn;
    const QString name = u"Zo\u00eb "_s.repeated(100) + u"\nSecond line"_s;
    QCOMPARE(m_system.print(labelJob(u"TestPDF"_s, u"Visitor badge - "_s + name, &drawn)),
             PrintResult::Printed);
    const auto job = lastFinishedJob(u"TestPDF"_s);
    QVERIFY2(job, qPrintable(m_cups.errorText()));
    const QString title = job->attribute(u"job-name"_s);
    QVERIFY(title.startsWith(u"Visitor badge - Zo\u00eb Zo\u00eb"));
    QVERIFY(title.toUtf8().size() <= 255);
    QVERIFY(!title.contains(u'\n'));
}

void TestQtPrintSystem::aQueueThatRejectsJobsFails() {
    QVERIFY2(m_cups.addQueue(u"Closed"_s), qPrintable(m_cups.errorText()));
    QVERIFY2(m_cups.rejectJobs(u"Closed"_s), qPrintable(m_cups.errorText()));
    DrawnPage drawn;
    QCOMPARE(m_system.print(labelJob(u"Closed"_s, u"Visitor badge - Robin Sample"_s, &drawn)),
             PrintResult::Failed);
    QVERIFY(m_cups.jobs(u"Closed"_s).isEmpty());
    // The next good job is not blamed for the earlier refusal.
    QCOMPARE(m_system.print(labelJob(u"TestPDF"_s, u"Visitor badge - After"_s, &drawn)),
             PrintResult::Printed);
}

void TestQtPrintSystem::aPrinterWithoutTheLabelSizeFailsInsteadOfPrintingOnItsOwnPaper() {
    QVERIFY2(m_cups.addQueue(u"Office"_s, PrivateCups::PageSizes::NamedOnly), qPrintable(m_cups.errorText()));
    DrawnPage drawn;
    QCOMPARE(m_system.print(labelJob(u"Office"_s, u"Visitor badge - Robin Sample"_s, &drawn)),
             PrintResult::Failed);
    QCOMPARE(drawn.calls, 0);
    QVERIFY(m_cups.jobs(u"Office"_s).isEmpty());
    // A size the printer has by name prints.
    PrintJob a4 = labelJob(u"Office"_s, u"A4 page"_s, &drawn);
    a4.pageSize = QPageSize(QPageSize::A4);
    a4.orientation = QPageLayout::Portrait;
    QCOMPARE(m_system.print(a4), PrintResult::Printed);
    const auto job = lastFinishedJob(u"Office"_s);
    QVERIFY2(job, qPrintable(m_cups.errorText()));
    QCOMPARE(job->attribute(u"media"_s), u"A4"_s);
}

void TestQtPrintSystem::cancellingTheDialogPrintsNothing() {
    const qsizetype before = m_cups.jobs(u"TestPDF"_s).size();
    DrawnPage drawn;
    PrintJob job = labelJob(u"TestPDF"_s, u"Visitor badge - Robin Sample"_s, &drawn);
    job.showDialog = true;
    const DialogAnswer answer(false);
    QCOMPARE(m_system.print(job), PrintResult::Cancelled);
    QCOMPARE(answer.seen(), 1);
    QCOMPARE(answer.objectName(), u"printDialog"_s);
    QCOMPARE(answer.printer(), u"TestPDF"_s);
    QCOMPARE(drawn.calls, 0);
    QCOMPARE(m_cups.jobs(u"TestPDF"_s).size(), before);
}

void TestQtPrintSystem::acceptingTheDialogKeepsTheLabelPage() {
    const qsizetype before = m_cups.jobs(u"TestPDF"_s).size();
    DrawnPage drawn;
    PrintJob job = labelJob(u"TestPDF"_s, u"Visitor badge - Through the dialog"_s, &drawn);
    job.showDialog = true;
    const DialogAnswer answer(true);
    QCOMPARE(m_system.print(job), PrintResult::Printed);
    QCOMPARE(answer.seen(), 1);
    QCOMPARE(drawn.calls, 1);
    QCOMPARE(m_cups.jobs(u"TestPDF"_s).size(), before + 1);
    const auto printed = lastFinishedJob(u"TestPDF"_s);
    QVERIFY2(printed, qPrintable(m_cups.errorText()));
    QCOMPARE(printed->attribute(u"job-name"_s), u"Visitor badge - Through the dialog"_s);
    const QSizeF media = mediaPoints(printed->attribute(u"media"_s));
    QVERIFY2(qAbs(media.width() - labelPoints.width()) < 0.01 &&
                 qAbs(media.height() - labelPoints.height()) < 0.01,
             qPrintable(printed->attribute(u"media"_s)));
}

int main(int argc, char **argv) {
    // Before the application: CUPS clients, Qt's among them, read where the scheduler is only once.
    PrivateCups cups;
    QApplication app(argc, argv);
    TestQtPrintSystem test(cups);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qtprintsystem.moc"
