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
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void preferencesAreReadOnce_data() {
        QTest::addColumn<QVariantList>(
            "stored"); // PrintLabel, LabelType, BadgePrinterName, BadgeShowPrintDialog
        QTest::addColumn<bool>("autoPrint");
        QTest::addColumn<LabelStock>("stock");
        QTest::addColumn<bool>("showDialog");
        QTest::newRow("nothing stored") << QVariantList{} << false << LabelStock::Dk2205 << false;
        QTest::newRow("unknown stock, flags as text")
            << QVariantList{u"true"_s, u"dk9999"_s, u"QL-820NWB"_s, u"1"_s} << true << LabelStock::Dk2205
            << true;
        QTest::newRow("damaged flags are off")
            << QVariantList{u"yes please"_s, u"dk1234"_s, QString(), u"2"_s} << false << LabelStock::Dk1234
            << false;
    }
    void preferencesAreReadOnce() {
        QFETCH(QVariantList, stored);
        QFETCH(bool, autoPrint);
        QFETCH(LabelStock, stock);
        QFETCH(bool, showDialog);
        const QStringList keys{u"PrintLabel"_s, u"LabelType"_s, u"BadgePrinterName"_s,
                               u"BadgeShowPrintDialog"_s};
        {
            const auto writer = settings();
            for (qsizetype i = 0; i < stored.size(); ++i)
                writer->setValue(keys[i], stored[i]);
        }
        const auto defaults = settings();
        FakePrintSystem system;
        const BadgePrinter printer(*defaults, system);
        QCOMPARE(printer.autoPrint(), autoPrint);
        QCOMPARE(printer.stock(), stock);
        QCOMPARE(printer.printerName(), stored.value(2).toString());
        QCOMPARE(printer.showDialog(), showDialog);
        QCOMPARE(defaults->allKeys().size(), stored.size()); // reading writes nothing
        // Afterwards the printer is the source of truth: a later change underneath it goes unseen.
        defaults->setValue(u"LabelType"_s, u"dk1234"_s);
        defaults->setValue(u"PrintLabel"_s, !autoPrint);
        QCOMPARE(printer.stock(), stock);
        QCOMPARE(printer.autoPrint(), autoPrint);
    }
    void everyChangeIsStoredAtOnceAndSignalled_data() {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("line"); // in the file on disk
        QTest::newRow("automatic printing") << "autoPrint"_ba << QVariant(true) << u"PrintLabel=true"_s;
        QTest::newRow("the stock, as its raw text")
            << "stock"_ba << QVariant::fromValue(LabelStock::Dk1234) << u"LabelType=dk1234"_s;
        QTest::newRow("the printer") << "printerName"_ba << QVariant(u"Brother QL-820NWB"_s)
                                     << u"BadgePrinterName=Brother QL-820NWB"_s;
        QTest::newRow("the dialog") << "showDialog"_ba << QVariant(true) << u"BadgeShowPrintDialog=true"_s;
    }
    void everyChangeIsStoredAtOnceAndSignalled() {
        QFETCH(QByteArray, property);
        QFETCH(QVariant, value);
        QFETCH(QString, line);
        FakePrintSystem system;
        {
            const auto defaults = settings();
            BadgePrinter printer(*defaults, system);
            const QMetaProperty meta =
                printer.metaObject()->property(printer.metaObject()->indexOfProperty(property.constData()));
            QSignalSpy changed(&printer, meta.notifySignal());
            // Setting what is already there changes nothing, and writes nothing.
            QVERIFY(meta.write(&printer, meta.read(&printer)));
            QCOMPARE(changed.size(), 0);
            QVERIFY(storedLines().filter(u"="_s).isEmpty());
            QVERIFY(meta.write(&printer, value));
            QVERIFY(meta.write(&printer, value));
            QCOMPARE(changed.size(), 1);
            QCOMPARE(meta.read(&printer), value);
            // On disk at once, while the printer's QSettings is still alive.
            QVERIFY2(storedLines().contains(line), qPrintable(storedLines().join(u'|')));
        }
        // And read back after a restart.
        const auto defaults = settings();
        const BadgePrinter restarted(*defaults, system);
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
        QTest::newRow("none chosen: the default") << two << u"Office Laser"_s << none << PrintResult::Printed
                                                  << BadgePrintOutcome::Printed << theDefault;
        QTest::newRow("none chosen and no default: the only one")
            << QStringList{u"QL"_s} << none << none << PrintResult::Printed << BadgePrintOutcome::Printed
            << u"QL"_s;
        QTest::newRow("two and no default: the print system decides")
            << two << none << none << PrintResult::NoPrinter << BadgePrintOutcome::NoPrinter << theDefault;
        QTest::newRow("the print system failed")
            << two << u"QL"_s << none << PrintResult::Failed << BadgePrintOutcome::Failed << theDefault;
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
        QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), outcome);
        QCOMPARE(system.jobs.size(), jobPrinter.isNull() ? 0 : 1);
        if (!jobPrinter.isNull()) {
            QCOMPARE(system.jobs.constFirst().printerName, jobPrinter);
            QVERIFY(system.jobs.constFirst().showDialog);
        }
        QCOMPARE(printer.printerName(), chosen); // the choice stays the person's, gone or not
        const QString message = outcome == BadgePrintOutcome::Failed
                                    ? u"The badge didn't print. Check the printer and try again."_s
                                : outcome == BadgePrintOutcome::NoPrinter
                                    ? u"No printer is available. Choose one in Settings > Badges."_s
                                    : QString();
        QCOMPARE(badgePrintMessage(outcome), message);
        QCOMPARE(badgePrintMessage(BadgePrintOutcome::Skipped), QString());
    }
    void theJobIsOneLandscapeLabelPage() {
        const auto defaults = settings();
        FakePrintSystem system;
        system.printers = {u"QL"_s};
        BadgePrinter printer(*defaults, system);
        printer.setStock(LabelStock::Dk1234);
        printer.setDateStyle(QLocale(QLocale::German, QLocale::Germany), QTimeZone("Europe/Berlin"));
        const QString name = u"Zo\u00eb \u0141ukasz \U0001F600"_s;
        QCOMPARE(printer.print(name, morningVisit), BadgePrintOutcome::Printed);
        const platform::PrintJob &job = system.jobs.constFirst();
        QCOMPARE(job.title, u"Visitor badge - "_s + name);
        QVERIFY(!job.showDialog);
        QCOMPARE(job.orientation, QPageLayout::Landscape);
        QCOMPARE(job.margins, QMarginsF(0, 0, 0, 0));
        QCOMPARE(job.pageSize.name(), u"DK-1234"_s);
        // The badge of the current stock, its date line in the printer's date style.
        const Badge badge = printer.badgeFor(name, morningVisit);
        QCOMPARE(badge.stock, LabelStock::Dk1234);
        QCOMPARE(badgeDateLine(badge.timestamp, badge.locale, badge.timeZone),
                 u"Di., M\u00e4rz 4       10:05 AM"_s);
        // The job draws that badge over its page: the frame's top bar runs across it.
        const QImage &page = system.lastPage;
        QCOMPARE(QColor(page.pixel(page.width() / 2, int(16 * page.height() / 650.0))), QColor(Qt::black));
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
