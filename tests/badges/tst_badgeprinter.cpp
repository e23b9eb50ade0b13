#include "FakePrintSystem.h"
#include "PrivateCups.h"
#include "badges/BadgePrinter.h"
#include "platform/QtPrintSystem.h"

#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using platform::PrintResult;

Q_DECLARE_METATYPE(tallybrook::BadgePrintOutcome)
Q_DECLARE_METATYPE(tallybrook::platform::PrintResult)

namespace {

const QDateTime morningVisit(QDate(2025, 3, 4), QTime(9, 5), QTimeZone::utc());

} // namespace

// The badge printer: its preferences, where a badge goes and what becomes of it, the job it hands over, and
// one badge printed for real through a private CUPS queue.
class TestBadgePrinter : public QObject {
    Q_OBJECT

public:
    explicit TestBadgePrinter(PrivateCups &cups) : m_cups(cups) {}

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    // Each preference: a change is stored at once and signalled once, setting what is there does neither, and
    // the line in the file is read once, at the start; anything unknown or damaged reads as the default.
    void preferences_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("unset"); // with nothing stored
        QTest::addColumn<QString>("line");   // in the file on disk
        QTest::addColumn<QVariant>("value"); // the line read back
        QTest::addColumn<bool>("written");   // whether setting the value writes the line
        const QVariant off(false), roll = QVariant::fromValue(LabelStock::Dk2205);
        QTest::newRow("automatic printing")
            << "autoPrint"_ba << off << u"PrintLabel=true"_s << QVariant(true) << true;
        QTest::newRow("the stock, as its raw text")
            << "stock"_ba << roll << u"LabelType=dk1234"_s << QVariant::fromValue(LabelStock::Dk1234) << true;
        QTest::newRow("the printer") << "printerName"_ba << QVariant(QString())
                                     << u"BadgePrinterName=Brother QL-820NWB"_s
                                     << QVariant(u"Brother QL-820NWB"_s) << true;
        QTest::newRow("the dialog") << "showDialog"_ba << off << u"BadgeShowPrintDialog=true"_s
                                    << QVariant(true) << true;
        QTest::newRow("a flag as a number")
            << "showDialog"_ba << off << u"BadgeShowPrintDialog=1"_s << QVariant(true) << false;
        QTest::newRow("another number is off")
            << "showDialog"_ba << off << u"BadgeShowPrintDialog=2"_s << off << false;
    }
    void preferences() {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, unset);
        QFETCH(QString, line);
        QFETCH(QVariant, value);
        QFETCH(bool, written);
        const QString key = line.section(u'=', 0, 0);
        FakePrintSystem system;
        if (written) {
            const auto defaults = settings();
            BadgePrinter printer(*defaults, system);
            const QMetaProperty meta =
                printer.metaObject()->property(printer.metaObject()->indexOfProperty(property.constData()));
            QSignalSpy changed(&printer, meta.notifySignal());
            // Nothing stored: the default. Setting it again changes nothing and writes nothing.
            QCOMPARE(meta.read(&printer), unset);
            QVERIFY(meta.write(&printer, unset));
            QCOMPARE(changed.size(), 0);
            QVERIFY(storedLines().filter(u"="_s).isEmpty());
            QVERIFY(meta.write(&printer, value));
            QVERIFY(meta.write(&printer, value));
            QCOMPARE(changed.size(), 1);
            QCOMPARE(meta.read(&printer), value);
            // On disk at once, while the printer's QSettings is still alive.
            QVERIFY2(storedLines().contains(line), qPrintable(storedLines().join(u'|')));
        } else { // a line the desk itself would not have written
            QFile file(m_dir->filePath(u"defaults.ini"_s));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\n" + line.toUtf8()) > 0);
        }
        // Read after a restart, without writing anything; then a change underneath goes unseen.
        const auto defaults = settings();
        const BadgePrinter restarted(*defaults, system);
        QCOMPARE(restarted.property(property.constData()), value);
        QCOMPARE(defaults->allKeys(), QStringList{key});
        defaults->setValue(key, u"changed underneath"_s);
        QCOMPARE(restarted.property(property.constData()), value);
    }
    void whereTheBadgeGoes_data() {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("defaultPrinter");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<PrintResult>("answer"); // the print system's
        QTest::addColumn<BadgePrintOutcome>("outcome");
        QTest::addColumn<QString>("jobPrinter"); // empty: the print system's default; null: no job at all
        const QStringList two{u"Office Laser"_s, u"QL"_s};
        const QString none, theDefault = u""_s;
        QTest::newRow("no printer at all, not even a dialog")
            << QStringList() << none << none << PrintResult::Printed << BadgePrintOutcome::NoPrinter << none;
        QTest::newRow("the chosen one") << two << u"Office Laser"_s << u"QL"_s << PrintResult::Printed
                                        << BadgePrintOutcome::Printed << u"QL"_s;
        QTest::newRow("the chosen one is gone: never the default instead")
            << two << u"Office Laser"_s << u"Brother QL-820NWB"_s << PrintResult::Printed
            << BadgePrintOutcome::NoPrinter << none;
        QTest::newRow("none chosen and no default: the only one")
            << QStringList{u"QL"_s} << none << none << PrintResult::Printed << BadgePrintOutcome::Printed
            << u"QL"_s;
        QTest::newRow("two and no default: the print system decides")
            << two << none << none << PrintResult::NoPrinter << BadgePrintOutcome::NoPrinter << theDefault;
        QTest::newRow("the dialog was cancelled")
            << two << u"QL"_s << none << PrintResult::Cancelled << BadgePrintOutcome::Failed << theDefault;
    }
    void whereTheBadgeGoes() {
        QFETCH(QStringList, installed);
        QFETCH(QString, defaultPrinter);
        QFETCH(QString, chosen);
        QFETCH(PrintResult, answer);
        QFETCH(BadgePrintOutcome, outcome);
        QFETCH(QString, jobPrinter);
        const auto defaults = settings();
        FakePrintSystem system;
        system.printers = installed;
        system.defaultPrinter = defaultPrinter;
        system.result = answer;
        BadgePrinter printer(*defaults, system);
        printer.setPrinterName(chosen);
        printer.setShowDialog(true);
        printer.setStock(LabelStock::Dk1234);
        printer.setDateStyle(QLocale(QLocale::German, QLocale::Germany), QTimeZone("Europe/Berlin"));
        const QString name = u"Zo\u00eb \u0141ukasz \U0001F600"_s;
        QCOMPARE(printer.print(name, morningVisit), outcome);
        QCOMPARE(system.jobs.size(), jobPrinter.isNull() ? 0 : 1);
        if (!jobPrinter.isNull()) {
            // One landscape label page of the current stock, without margins.
            const platform::PrintJob &job = system.jobs.constFirst();
            QCOMPARE(job.printerName, jobPrinter);
            QVERIFY(job.showDialog);
            QCOMPARE(job.title, u"Visitor badge - "_s + name);
            QCOMPARE(job.orientation, QPageLayout::Landscape);
            QCOMPARE(job.margins, QMarginsF(0, 0, 0, 0));
            QCOMPARE(job.pageSize.name(), u"DK-1234"_s);
            // It draws the badge of the current stock in the printer's date style over its page: the frame's
            // top bar runs across it.
            const Badge badge = printer.badgeFor(name, morningVisit);
            QCOMPARE(badgeDateLine(badge.timestamp, badge.locale, badge.timeZone),
                     u"Di., M\u00e4rz 4       10:05 AM"_s);
            const QImage &page = system.lastPage;
            QCOMPARE(QColor(page.pixel(page.width() / 2, int(16 * page.height() / 650.0))),
                     QColor(Qt::black));
        }
        QCOMPARE(printer.printerName(), chosen); // the choice stays the person's, gone or not
        const QString message = outcome == BadgePrintOutcome::Failed
                                    ? u"The badge didn't print. Check the printer and try again."_s
                                : outcome == BadgePrintOutcome::NoPrinter
                                    ? u"No printer is available. Choose one in Settings > Badges."_s
                                    : QString();
        QCOMPARE(badgePrintMessage(outcome), message);
    }
    void aBadgeReachesAPrivateCupsQueue() {
        if (!PrivateCups::isInstalled())
            QSKIP(
                "/usr/sbin/cupsd is not installed (scripts/setup.sh installs cups); badges print through it");
        QVERIFY2(m_cups.start(), qPrintable(m_cups.errorText()));
        // The one queue, not the default one: the badge goes there all the same.
        QVERIFY2(m_cups.addQueue(u"Badges"_s), qPrintable(m_cups.errorText()));
        const auto defaults = settings();
        platform::QtPrintSystem system;
        BadgePrinter printer(*defaults, system);
        printer.setStock(LabelStock::Dk1234);
        QCOMPARE(printer.print(u"Zo\u00eb \u0141ukasz"_s, morningVisit), BadgePrintOutcome::Printed);
        const auto jobs = m_cups.finishedJobs(u"Badges"_s);
        QVERIFY2(jobs && jobs->size() == 1, qPrintable(m_cups.errorText()));
        const PrivateCups::Job &job = jobs->constFirst();
        QCOMPARE(job.value(u"job-state"_s), u"completed"_s);
        QCOMPARE(job.value(u"job-name"_s), u"Visitor badge - Zo\u00eb \u0141ukasz"_s);
        // The paper: the DK-1234 label, narrow side across, in points.
        QCOMPARE(job.value(u"media"_s), u"Custom.170.079x243.78"_s);
        m_cups.stop();
    }

private:
    [[nodiscard]] std::unique_ptr<QSettings> settings() const {
        return std::make_unique<QSettings>(m_dir->filePath(u"defaults.ini"_s), QSettings::IniFormat);
    }
    // The preferences file as text: another QSettings in this process would share the unsaved cache.
    [[nodiscard]] QStringList storedLines() const {
        QFile file(m_dir->filePath(u"defaults.ini"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(u'\n')
                                              : QStringList();
    }

    PrivateCups &m_cups;
    std::unique_ptr<QTemporaryDir> m_dir;
};

int main(int argc, char **argv) {
    // Before the application: CUPS clients, Qt's among them, read where the scheduler is only once.
    PrivateCups cups;
    QGuiApplication app(argc, argv);
    TestBadgePrinter test(cups);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_badgeprinter.moc"
