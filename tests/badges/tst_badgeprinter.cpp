#include "FakePrintSystem.h"
#include "badges/BadgePrinter.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using platform::PrintResult;

Q_DECLARE_METATYPE(tallybrook::LabelStock)
Q_DECLARE_METATYPE(tallybrook::BadgePrintOutcome)
Q_DECLARE_METATYPE(tallybrook::platform::PrintResult)

namespace {

const QDateTime morningVisit(QDate(2025, 3, 4), QTime(9, 5), QTimeZone::utc());

bool near(const QSizeF &a, const QSizeF &b) {
    return qAbs(a.width() - b.width()) < 0.001 && qAbs(a.height() - b.height()) < 0.001;
}

} // namespace

class TestBadgePrinter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void absentPreferencesMeanTheDefaults();
    void storedPreferencesAreReadOnce_data();
    void storedPreferencesAreReadOnce();
    void everyChangeIsStoredAtOnceUnderItsKey();
    void settersSignalOnlyRealChanges();
    void propertiesAreObservable();
    void theStockSurvivesARestart();
    void withNoPrinterAtAllNothingIsAttempted();
    void aSavedPrinterThatIsGoneIsKept();
    void theJobIsOneLandscapeLabelPage_data();
    void theJobIsOneLandscapeLabelPage();
    void theJobGoesToTheChosenPrinterOrTheDefault_data();
    void theJobGoesToTheChosenPrinterOrTheDefault();
    void thePrintSystemsAnswerBecomesTheOutcome_data();
    void thePrintSystemsAnswerBecomesTheOutcome();
    void messagesForTheDesk_data();
    void messagesForTheDesk();

private:
    [[nodiscard]] std::unique_ptr<QSettings> settings() const {
        return std::make_unique<QSettings>(m_dir->filePath(u"defaults.ini"_s), QSettings::IniFormat);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestBadgePrinter::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestBadgePrinter::absentPreferencesMeanTheDefaults() {
    const auto defaults = settings();
    FakePrintSystem system;
    const BadgePrinter printer(*defaults, system);
    QCOMPARE(printer.autoPrint(), false);
    QCOMPARE(printer.stock(), LabelStock::Dk2205);
    QCOMPARE(printer.printerName(), QString());
    QCOMPARE(printer.showDialog(), false);
    QCOMPARE(&printer.defaults(), defaults.get());
    // Reading writes nothing.
    QCOMPARE(defaults->allKeys(), QStringList());
}

void TestBadgePrinter::storedPreferencesAreReadOnce_data() {
    QTest::addColumn<QVariant>("printLabel");
    QTest::addColumn<QVariant>("labelType");
    QTest::addColumn<QVariant>("printerName");
    QTest::addColumn<QVariant>("showDialog");
    QTest::addColumn<bool>("expectedAutoPrint");
    QTest::addColumn<LabelStock>("expectedStock");
    QTest::addColumn<bool>("expectedShowDialog");
    QTest::newRow("all set") << QVariant(true) << QVariant(u"dk1234"_s) << QVariant(u"QL-820NWB"_s)
                             << QVariant(true) << true << LabelStock::Dk1234 << true;
    QTest::newRow("all cleared") << QVariant(false) << QVariant(u"dk2205"_s) << QVariant(QString())
                                 << QVariant(false) << false << LabelStock::Dk2205 << false;
    QTest::newRow("unknown stock") << QVariant(true) << QVariant(u"dk9999"_s) << QVariant(u"QL-820NWB"_s)
                                   << QVariant(false) << true << LabelStock::Dk2205 << false;
    QTest::newRow("flags as text") << QVariant(u"true"_s) << QVariant(u"dk1234"_s) << QVariant(u"QL-820NWB"_s)
                                   << QVariant(u"1"_s) << true << LabelStock::Dk1234 << true;
    QTest::newRow("damaged flags are off")
        << QVariant(u"yes please"_s) << QVariant(u"dk1234"_s) << QVariant(u"QL-820NWB"_s) << QVariant(u"2"_s)
        << false << LabelStock::Dk1234 << false;
}

void TestBadgePrinter::storedPreferencesAreReadOnce() {
    QFETCH(QVariant, printLabel);
    QFETCH(QVariant, labelType);
    QFETCH(QVariant, printerName);
    QFETCH(QVariant, showDialog);
    QFETCH(bool, expectedAutoPrint);
    QFETCH(LabelStock, expectedStock);
    QFETCH(bool, expectedShowDialog);
    {
        const auto writer = settings();
        writer->setValue(u"PrintLabel"_s, printLabel);
        writer->setValue(u"LabelType"_s, labelType);
        writer->setValue(u"BadgePrinterName"_s, printerName);
        writer->setValue(u"BadgeShowPrintDialog"_s, showDialog);
    }
    const auto defaults = settings();
    FakePrintSystem system;
    const BadgePrinter printer(*defaults, system);
    QCOMPARE(printer.autoPrint(), expectedAutoPrint);
    QCOMPARE(printer.stock(), expectedStock);
    QCOMPARE(printer.printerName(), printerName.toString());
    QCOMPARE(printer.showDialog(), expectedShowDialog);

    // Afterwards the printer is the source of truth: a later change underneath it goes unseen.
    defaults->setValue(u"LabelType"_s, u"dk2205"_s);
    defaults->setValue(u"PrintLabel"_s, !expectedAutoPrint);
    QCOMPARE(printer.stock(), expectedStock);
    QCOMPARE(printer.autoPrint(), expectedAutoPrint);
}

void TestBadgePrinter::everyChangeIsStoredAtOnceUnderItsKey() {
    const auto defaults = settings();
    FakePrintSystem system;
    BadgePrinter printer(*defaults, system);
    // The file on disk has each change while the printer's QSettings is still alive. (Another QSettings in
    // this process would share its unsaved cache, so the file is read as text.)
    const auto check = [this](const QString &key, const QString &text) {
        QFile file(m_dir->filePath(u"defaults.ini"_s));
        return file.open(QIODevice::ReadOnly) &&
               QString::fromUtf8(file.readAll()).split(u'\n').contains(key + u'=' + text);
    };
    printer.setAutoPrint(true);
    QVERIFY(check(u"PrintLabel"_s, u"true"_s));
    printer.setStock(LabelStock::Dk1234);
    QVERIFY(check(u"LabelType"_s, u"dk1234"_s));
    printer.setPrinterName(u"Brother QL-820NWB"_s);
    QVERIFY(check(u"BadgePrinterName"_s, u"Brother QL-820NWB"_s));
    printer.setShowDialog(true);
    QVERIFY(check(u"BadgeShowPrintDialog"_s, u"true"_s));
    printer.setPrinterName(QString());
    QVERIFY(check(u"BadgePrinterName"_s, QString()));
    printer.setAutoPrint(false);
    QVERIFY(check(u"PrintLabel"_s, u"false"_s));
    QCOMPARE(settings()->allKeys().size(), 4);
    // The stock is stored as its raw text, not as a number.
    QCOMPARE(defaults->value(u"LabelType"_s).typeId(), QMetaType::QString);
    QCOMPARE(defaults->value(u"PrintLabel"_s).typeId(), QMetaType::Bool);
}

void TestBadgePrinter::settersSignalOnlyRealChanges() {
    const auto defaults = settings();
    FakePrintSystem system;
    BadgePrinter printer(*defaults, system);
    QSignalSpy autoPrint(&printer, &BadgePrinter::autoPrintChanged);
    QSignalSpy stock(&printer, &BadgePrinter::stockChanged);
    QSignalSpy printerName(&printer, &BadgePrinter::printerNameChanged);
    QSignalSpy showDialog(&printer, &BadgePrinter::showDialogChanged);

    printer.setAutoPrint(false);
    printer.setStock(LabelStock::Dk2205);
    printer.setPrinterName(QString());
    printer.setShowDialog(false);
    QCOMPARE(autoPrint.count() + stock.count() + printerName.count() + showDialog.count(), 0);
    // Nothing changed, so nothing was written either.
    QCOMPARE(settings()->allKeys(), QStringList());

    printer.setAutoPrint(true);
    printer.setAutoPrint(true);
    printer.setStock(LabelStock::Dk1234);
    printer.setStock(LabelStock::Dk1234);
    printer.setPrinterName(u"QL"_s);
    printer.setPrinterName(u"QL"_s);
    printer.setShowDialog(true);
    printer.setShowDialog(true);
    QCOMPARE(autoPrint.count(), 1);
    QCOMPARE(stock.count(), 1);
    QCOMPARE(printerName.count(), 1);
    QCOMPARE(showDialog.count(), 1);
}

void TestBadgePrinter::propertiesAreObservable() {
    const auto defaults = settings();
    FakePrintSystem system;
    BadgePrinter printer(*defaults, system);
    QSignalSpy stock(&printer, &BadgePrinter::stockChanged);
    QVERIFY(printer.setProperty("stock", QVariant::fromValue(LabelStock::Dk1234)));
    QCOMPARE(printer.stock(), LabelStock::Dk1234);
    QCOMPARE(printer.property("stock").value<LabelStock>(), LabelStock::Dk1234);
    QCOMPARE(stock.count(), 1);
    QVERIFY(printer.setProperty("printerName", u"QL"_s));
    QVERIFY(printer.setProperty("autoPrint", true));
    QVERIFY(printer.setProperty("showDialog", true));
    QCOMPARE(printer.printerName(), u"QL"_s);
    QVERIFY(printer.autoPrint() && printer.showDialog());
    const QMetaObject &meta = BadgePrinter::staticMetaObject;
    for (const char *name : {"autoPrint", "stock", "printerName", "showDialog"}) {
        const QMetaProperty property = meta.property(meta.indexOfProperty(name));
        QVERIFY2(property.isValid() && property.hasNotifySignal() && property.isWritable(), name);
    }
}

void TestBadgePrinter::theStockSurvivesARestart() {
    FakePrintSystem system;
    {
        const auto defaults = settings();
        BadgePrinter printer(*defaults, system);
        printer.setStock(LabelStock::Dk1234);
        printer.setAutoPrint(true);
    }
    const auto defaults = settings();
    const BadgePrinter restarted(*defaults, system);
    QCOMPARE(restarted.stock(), LabelStock::Dk1234);
    QVERIFY(restarted.autoPrint());
    QCOMPARE(defaults->value(u"LabelType"_s).toString(), u"dk1234"_s);
}

void TestBadgePrinter::withNoPrinterAtAllNothingIsAttempted() {
    const auto defaults = settings();
    FakePrintSystem system;
    BadgePrinter printer(*defaults, system);
    printer.setShowDialog(true);
    QCOMPARE(printer.installedPrinterNames(), QStringList());
    QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::NoPrinter);
    // Not even the dialog was shown.
    QVERIFY(system.jobs.isEmpty());
}

void TestBadgePrinter::aSavedPrinterThatIsGoneIsKept() {
    const auto defaults = settings();
    FakePrintSystem system;
    system.printers = {u"Office Laser"_s};
    system.defaultPrinter = u"Office Laser"_s;
    BadgePrinter printer(*defaults, system);
    printer.setPrinterName(u"Brother QL-820NWB"_s);
    QSignalSpy changed(&printer, &BadgePrinter::printerNameChanged);

    QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::NoPrinter);
    // Never to the default printer instead.
    QVERIFY(system.jobs.isEmpty());
    QCOMPARE(printer.printerName(), u"Brother QL-820NWB"_s);
    QCOMPARE(settings()->value(u"BadgePrinterName"_s).toString(), u"Brother QL-820NWB"_s);
    QCOMPARE(changed.count(), 0);

    // When it comes back, badges print on it again.
    system.printers.append(u"Brother QL-820NWB"_s);
    QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::Printed);
    QCOMPARE(system.jobs.size(), 1);
    QCOMPARE(system.jobs.constFirst().printerName, u"Brother QL-820NWB"_s);
}

void TestBadgePrinter::theJobIsOneLandscapeLabelPage_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<bool>("showDialog");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSizeF>("paper");
    QTest::newRow("DK-2205, silent") << LabelStock::Dk2205 << false << u"Robin Sample"_s
                                     << QSizeF(175.7480, 270.3816);
    QTest::newRow("DK-1234, with the dialog")
        << LabelStock::Dk1234 << true << u"Zo\u00eb \u0141ukasz \U0001F600"_s << QSizeF(170.0787, 243.7795);
}

void TestBadgePrinter::theJobIsOneLandscapeLabelPage() {
    QFETCH(LabelStock, stock);
    QFETCH(bool, showDialog);
    QFETCH(QString, name);
    QFETCH(QSizeF, paper);
    const auto defaults = settings();
    FakePrintSystem system;
    system.printers = {u"QL"_s};
    system.defaultPrinter = u"QL"_s;
    BadgePrinter printer(*defaults, system);
    printer.setStock(stock);
    printer.setShowDialog(showDialog);
    printer.setDateStyle(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());

    QCOMPARE(printer.print(name, morningVisit), BadgePrintOutcome::Printed);
    QCOMPARE(system.jobs.size(), 1);
    const platform::PrintJob &job = system.jobs.constFirst();
    QCOMPARE(job.title, u"Visitor badge - "_s + name);
    QCOMPARE(job.showDialog, showDialog);
    QCOMPARE(job.orientation, QPageLayout::Landscape);
    QCOMPARE(job.margins, QMarginsF(0, 0, 0, 0));
    QVERIFY2(near(job.pageSize.size(QPageSize::Point), paper), "the stock's label size, narrow side across");

    // The page is the badge, stretched corner to corner: the frame's top bar and left bar touch the page's
    // edges.
    const QImage &page = system.lastPage;
    QVERIFY(page.width() > page.height());
    const BadgeGeometry &geometry = badgeGeometry(stock);
    const qreal sx = page.width() / geometry.canvas.width();
    const qreal sy = page.height() / geometry.canvas.height();
    QCOMPARE(QColor(page.pixel(int(500 * sx), int(16 * sy))), badgeAccentColor(stock));
    QCOMPARE(QColor(page.pixel(int(1 * sx), int(300 * sy))), badgeAccentColor(stock));
    QCOMPARE(QColor(page.pixel(int(500 * sx), int(8 * sy))), QColor(Qt::white));
    // The date line is worded with the printer's date style.
    QCOMPARE(printer.badgeFor(name, morningVisit).stock, stock);
    QCOMPARE(badgeDateLine(morningVisit, printer.badgeFor(name, morningVisit).locale, QTimeZone::utc()),
             u"Tue, Mar 4       09:05 AM"_s);
}

void TestBadgePrinter::theJobGoesToTheChosenPrinterOrTheDefault_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("defaultPrinter");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("jobPrinter"); // empty: the print system's default
    const QStringList two{u"Office Laser"_s, u"QL"_s};
    QTest::newRow("none chosen") << two << u"Office Laser"_s << QString() << QString();
    QTest::newRow("chosen") << two << u"Office Laser"_s << u"QL"_s << u"QL"_s;
    QTest::newRow("the only printer, no default")
        << QStringList{u"QL"_s} << QString() << QString() << u"QL"_s;
    QTest::newRow("two printers, no default") << two << QString() << QString() << QString();
}

void TestBadgePrinter::theJobGoesToTheChosenPrinterOrTheDefault() {
    QFETCH(QStringList, installed);
    QFETCH(QString, defaultPrinter);
    QFETCH(QString, chosen);
    QFETCH(QString, jobPrinter);
    const auto defaults = settings();
    FakePrintSystem system;
    system.printers = installed;
    system.defaultPrinter = defaultPrinter;
    BadgePrinter printer(*defaults, system);
    printer.setPrinterName(chosen);
    QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::Printed);
    QCOMPARE(system.jobs.constLast().printerName, jobPrinter);
    QCOMPARE(printer.printerName(), chosen); // the choice stays the person's
}

void TestBadgePrinter::thePrintSystemsAnswerBecomesTheOutcome_data() {
    QTest::addColumn<PrintResult>("result");
    QTest::addColumn<BadgePrintOutcome>("outcome");
    QTest::newRow("printed") << PrintResult::Printed << BadgePrintOutcome::Printed;
    QTest::newRow("failed") << PrintResult::Failed << BadgePrintOutcome::Failed;
    QTest::newRow("dialog cancelled") << PrintResult::Cancelled << BadgePrintOutcome::Failed;
    QTest::newRow("no default printer") << PrintResult::NoPrinter << BadgePrintOutcome::NoPrinter;
}

void TestBadgePrinter::thePrintSystemsAnswerBecomesTheOutcome() {
    QFETCH(PrintResult, result);
    QFETCH(BadgePrintOutcome, outcome);
    const auto defaults = settings();
    FakePrintSystem system;
    system.printers = {u"QL"_s};
    system.result = result;
    BadgePrinter printer(*defaults, system);
    printer.setShowDialog(true);
    QCOMPARE(printer.print(u"Robin Sample"_s, morningVisit), outcome);
    QCOMPARE(system.jobs.size(), 1);
}

void TestBadgePrinter::messagesForTheDesk_data() {
    QTest::addColumn<BadgePrintOutcome>("outcome");
    QTest::addColumn<QString>("message");
    QTest::newRow("printed") << BadgePrintOutcome::Printed << QString();
    QTest::newRow("skipped") << BadgePrintOutcome::Skipped << QString();
    QTest::newRow("failed") << BadgePrintOutcome::Failed
                            << u"The badge didn't print. Check the printer and try again."_s;
    QTest::newRow("no printer") << BadgePrintOutcome::NoPrinter
                                << u"No printer is available. Choose one in Settings > Badges."_s;
}

void TestBadgePrinter::messagesForTheDesk() {
    QFETCH(BadgePrintOutcome, outcome);
    QFETCH(QString, message);
    QCOMPARE(badgePrintMessage(outcome), message);
}

QTEST_MAIN(TestBadgePrinter)

#include "tst_badgeprinter.moc"
