#include "PrivateCups.h"
#include "platform/QtPrintSystem.h"

#include <QApplication>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTest>
#include <QTimer>

using namespace tallybrook::platform;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

// A 62 mm roll cut 95.4 mm long, printed across, as CUPS names the size.
const QSizeF labelPoints(175.748, 270.382);
const QString labelMedia = u"Custom.175.748x270.382"_s;

struct DrawnPage {
    int calls = 0;
    QRectF page;
    QRect device;
};

PrintJob labelJob(const QString &printer, DrawnPage *drawn, bool showDialog = false) {
    PrintJob job;
    job.printerName = printer;
    job.pageSize = QPageSize(labelPoints, QPageSize::Point, u"Label"_s, QPageSize::ExactMatch);
    job.orientation = QPageLayout::Landscape;
    job.title = u"Visitor badge - Robin Sample"_s;
    job.showDialog = showDialog;
    job.drawPage = [drawn](QPainter &painter, const QRectF &page, int) {
        ++drawn->calls;
        drawn->page = page;
        drawn->device = QRect(0, 0, painter.device()->width(), painter.device()->height());
        painter.fillRect(page, Qt::red);
    };
    return job;
}

// Answers the print dialog as soon as it is up, and notes which printer it offered.
struct DialogAnswer {
    explicit DialogAnswer(bool accept) {
        QObject::connect(&timer, &QTimer::timeout, [this, accept] {
            if (auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget())) {
                timer.stop();
                printer = dialog->printer()->printerName();
                accept ? dialog->accept() : dialog->reject();
            }
        });
        timer.start(20);
    }
    QTimer timer;
    QString printer; // empty while the dialog never showed
};

} // namespace

// The print system through Qt Print Support, against a private CUPS scheduler with cups-pdf queues.
class TestQtPrintSystem : public QObject {
    Q_OBJECT

public:
    explicit TestQtPrintSystem(PrivateCups &cups) : m_cups(cups) {}

private Q_SLOTS:
    void initTestCase() {
        if (!PrivateCups::isInstalled())
            QSKIP("/usr/sbin/cupsd is not installed (scripts/setup.sh installs cups); the print system needs "
                  "it");
        QVERIFY2(m_cups.start(), qPrintable(m_cups.errorText()));
    }
    void queueTitleFitsAnIppName_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("line breaks become spaces") << u"Robin\nSample\r\t\u2028!"_s << u"Robin Sample   !"_s;
        QTest::newRow("256 bytes") << QString(256, u'a') << QString(255, u'a');
        // An emoji is four bytes in UTF-8 and two UTF-16 units; it is never cut in half (nor is any letter of
        // several bytes).
        const QString emoji = u"\U0001F600"_s;
        QTest::newRow("emoji stay whole") << u"a"_s + emoji.repeated(100) << u"a"_s + emoji.repeated(63);
        // A letter and its combining accent are one character.
        QTest::newRow("combining marks stay with their letter")
            << QString(253, u'x') + u"e\u0301"_s << QString(253, u'x');
    }
    void queueTitleFitsAnIppName() {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(QtPrintSystem::queueTitle(title), expected);
    }
    void choosingThePrinter() {
        // No printer at all: not even the dialog has a printer to start from. (Without the dialog, the
        // missing default printer below gives the same answer.)
        DrawnPage drawn;
        {
            const DialogAnswer none(false);
            QCOMPARE(m_system.print(labelJob(QString(), &drawn, true)), PrintResult::NoPrinter);
            QCOMPARE(none.printer, QString());
        }

        // A printer, but no default one: only the dialog prints without a name, starting at the first
        // printer.
        QVERIFY2(m_cups.addQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
        QCOMPARE(m_system.defaultPrinterName(), QString());
        QCOMPARE(m_system.print(labelJob(QString(), &drawn)), PrintResult::NoPrinter);
        const DialogAnswer cancel(false);
        QCOMPARE(m_system.print(labelJob(QString(), &drawn, true)), PrintResult::Cancelled);
        QCOMPARE(cancel.printer, u"TestPDF"_s);

        // A name that is not installed is never swapped for the default printer.
        QVERIFY2(m_cups.run(u"lpadmin"_s, {u"-d"_s, u"TestPDF"_s}), qPrintable(m_cups.errorText()));
        QVERIFY(m_system.hasPrinter(u"TestPDF"_s));
        QVERIFY(!m_system.hasPrinter(u"Front Desk QL-820"_s));
        QCOMPARE(m_system.print(labelJob(u"Front Desk QL-820"_s, &drawn)), PrintResult::NoPrinter);
        QCOMPARE(drawn.calls, 0);
        QVERIFY(m_cups.finishedJobs(u"TestPDF"_s) == QList<PrivateCups::Job>());
    }
    void printsOnePageOfTheLabelSizeWithItsTitle() {
        // A queue that refuses jobs fails the job; the next good one is not blamed for it.
        DrawnPage drawn;
        QVERIFY2(m_cups.addQueue(u"Closed"_s) && m_cups.run(u"cupsreject"_s, {u"Closed"_s}),
                 qPrintable(m_cups.errorText()));
        QCOMPARE(m_system.print(labelJob(u"Closed"_s, &drawn)), PrintResult::Failed);
        QVERIFY(m_cups.finishedJobs(u"Closed"_s) == QList<PrivateCups::Job>());

        // Accepted in the dialog, which puts its own idea of the paper back: the job keeps the label page.
        drawn = {};
        PrintJob job = labelJob(u"TestPDF"_s, &drawn, true);
        job.title = u"Visitor badge - "_s + u"Zo\u00eb "_s.repeated(100) + u"\nSecond line"_s;
        const DialogAnswer answer(true);
        QCOMPARE(m_system.print(job), PrintResult::Printed);
        QCOMPARE(answer.printer, u"TestPDF"_s);
        // The callback drew once, on the whole page turned landscape.
        QCOMPARE(drawn.calls, 1);
        QCOMPARE(drawn.page.toRect(), drawn.device);
        QVERIFY(qAbs(drawn.page.width() / drawn.page.height() - labelPoints.height() / labelPoints.width()) <
                0.01);
        const auto jobs = m_cups.finishedJobs(u"TestPDF"_s);
        QVERIFY2(jobs && jobs->size() == 1, qPrintable(m_cups.errorText()));
        QCOMPARE(jobs->constFirst().value(u"job-state"_s), u"completed"_s);
        QCOMPARE(jobs->constFirst().value(u"media"_s), labelMedia);
        // The title as the queue allows it: one line, at most 255 bytes.
        QCOMPARE(jobs->constFirst().value(u"job-name"_s), QtPrintSystem::queueTitle(job.title));
    }
    void aPrinterWithoutTheLabelSizeFailsInsteadOfPrintingOnItsOwnPaper() {
        QVERIFY2(m_cups.addQueue(u"Office"_s, PrivateCups::PageSizes::NamedOnly),
                 qPrintable(m_cups.errorText()));
        DrawnPage drawn;
        QCOMPARE(m_system.print(labelJob(u"Office"_s, &drawn)), PrintResult::Failed);
        QCOMPARE(drawn.calls, 0);
        // A size the printer has by name prints.
        PrintJob a4 = labelJob(u"Office"_s, &drawn);
        a4.pageSize = QPageSize(QPageSize::A4);
        a4.orientation = QPageLayout::Portrait;
        QCOMPARE(m_system.print(a4), PrintResult::Printed);
        const auto jobs = m_cups.finishedJobs(u"Office"_s);
        QVERIFY2(jobs && jobs->size() == 1, qPrintable(m_cups.errorText()));
        QCOMPARE(jobs->constFirst().value(u"media"_s), u"A4"_s);
    }

private:
    PrivateCups &m_cups;
    QtPrintSystem m_system;
};

int main(int argc, char **argv) {
    // Before the application: CUPS clients, Qt's among them, read where the scheduler is only once.
    PrivateCups cups;
    QApplication app(argc, argv);
    TestQtPrintSystem test(cups);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qtprintsystem.moc"
