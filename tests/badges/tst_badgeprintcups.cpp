#include "PrivateCups.h"
#include "badges/BadgePrinter.h"
#include "platform/QtPrintSystem.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(tallybrook::LabelStock)

namespace {

const QDateTime morningVisit(QDate(2025, 3, 4), QTime(9, 5), QTimeZone::utc());

// "Custom.175.748x270.382" in points.
QSizeF mediaPoints(const QString &media) {
    static const QRegularExpression custom(u"^Custom\\.([0-9.]+)x([0-9.]+)$"_s);
    const auto match = custom.match(media);
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()) : QSizeF();
}

} // namespace

// Badges printed for real: through Qt's print support to a private CUPS scheduler and its cups-pdf queue.
class TestBadgePrintCups : public QObject {
    Q_OBJECT

public:
    explicit TestBadgePrintCups(PrivateCups &cups) : m_cups(cups) {}

private Q_SLOTS:
    void initTestCase();
    void withNoPrinterInstalledNothingIsAttempted();
    void aBadgeReachesTheQueueAsOneLabelPage_data();
    void aBadgeReachesTheQueueAsOneLabelPage();
    void anUnknownSavedPrinterIsNotReplacedByTheDefault();
    void cleanupTestCase();

private:
    PrivateCups &m_cups;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_defaults;
    platform::QtPrintSystem m_system;
    std::unique_ptr<BadgePrinter> m_printer;
};

void TestBadgePrintCups::initTestCase() {
    if (!PrivateCups::isInstalled())
        QSKIP("/usr/sbin/cupsd is not installed (scripts/setup.sh installs cups); badges print through it");
    QVERIFY2(m_cups.start(), qPrintable(m_cups.errorText()));
    m_defaults = std::make_unique<QSettings>(m_dir.filePath(u"defaults.ini"_s), QSettings::IniFormat);
    m_printer = std::make_unique<BadgePrinter>(*m_defaults, m_system);
    m_printer->setDateStyle(QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc());
}

void TestBadgePrintCups::cleanupTestCase() {
    m_cups.stop();
}

void TestBadgePrintCups::withNoPrinterInstalledNothingIsAttempted() {
    m_printer->setShowDialog(true);
    // The dialog would need a QApplication and report a failure; no printer is reported before it.
    QCOMPARE(m_printer->print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::NoPrinter);
    m_printer->setShowDialog(false);
    QCOMPARE(m_printer->print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::NoPrinter);

    QVERIFY2(m_cups.addQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
    QVERIFY2(m_cups.setDefaultQueue(u"TestPDF"_s), qPrintable(m_cups.errorText()));
    QCOMPARE(m_printer->installedPrinterNames(), QStringList{u"TestPDF"_s});
}

void TestBadgePrintCups::aBadgeReachesTheQueueAsOneLabelPage_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<QString>("printerName");
    QTest::addColumn<QString>("visitor");
    QTest::newRow("DK-2205 on the default printer") << LabelStock::Dk2205 << QString() << u"Robin Sample"_s;
    QTest::newRow("DK-1234 on the chosen printer")
        << LabelStock::Dk1234 << u"TestPDF"_s << u"Zo\u00eb \u0141ukasz"_s;
}

void TestBadgePrintCups::aBadgeReachesTheQueueAsOneLabelPage() {
    QFETCH(LabelStock, stock);
    QFETCH(QString, printerName);
    QFETCH(QString, visitor);
    m_printer->setStock(stock);
    m_printer->setPrinterName(printerName);
    const qsizetype before = m_cups.jobs(u"TestPDF"_s).size();

    QCOMPARE(m_printer->print(visitor, morningVisit), BadgePrintOutcome::Printed);

    const QList<PrivateCups::Job> jobs = m_cups.jobs(u"TestPDF"_s);
    QCOMPARE(jobs.size(), before + 1);
    const auto job = m_cups.waitForFinishedJob(u"TestPDF"_s, jobs.constLast().id);
    QVERIFY2(job, qPrintable(m_cups.errorText()));
    QCOMPARE(job->attribute(u"job-state"_s), u"completed"_s);
    QCOMPARE(job->attribute(u"job-name"_s), u"Visitor badge - "_s + visitor);
    // The paper: the label, narrow side across, to a thousandth of a point.
    const QSizeF label = badgeGeometry(stock).labelPoints;
    const QSizeF media = mediaPoints(job->attribute(u"media"_s));
    QVERIFY2(qAbs(media.width() - label.height()) < 0.001 && qAbs(media.height() - label.width()) < 0.001,
             qPrintable(job->attribute(u"media"_s)));

    // The page itself shows the badge, stretched over the label (the page size is checked in
    // tst_qtprintsystem).
    const QString document = m_cups.spooledDocument(job->id);
    const QString raster = m_dir.filePath(u"page-"_s + labelStockRawValue(stock));
    QVERIFY2(m_cups.run(u"pdftoppm"_s, {u"-r"_s, u"288"_s, u"-png"_s, u"-singlefile"_s, document, raster}),
             qPrintable(m_cups.errorText()));
    const QImage page(raster + u".png"_s);
    QVERIFY(!page.isNull());
    QVERIFY(qAbs(qreal(page.width()) / page.height() - label.width() / label.height()) < 0.01);
    const QString keepIn = qEnvironmentVariable("TALLYBROOK_BADGE_IMAGES");
    if (!keepIn.isEmpty() && QDir().mkpath(keepIn))
        page.save(QDir(keepIn).filePath(u"printed-"_s + labelStockRawValue(stock) + u".png"_s));
    const BadgeGeometry &geometry = badgeGeometry(stock);
    const qreal sx = page.width() / geometry.canvas.width();
    const qreal sy = page.height() / geometry.canvas.height();
    const auto colourAt = [&](qreal x, qreal y) { return QColor(page.pixel(int(x * sx), int(y * sy))); };
    const QColor accent = badgeAccentColor(stock);
    // The frame's top and left bars, where the layout has them on the stretched canvas.
    QCOMPARE(colourAt(500, 16), accent);
    QCOMPARE(colourAt(1, 300), accent);
    QCOMPARE(colourAt(500, 8), QColor(Qt::white));
    // The title's vertical stroke of "V" lies left of the centre; the accent colour is there somewhere.
    int accentPixels = 0;
    for (int y = int(geometry.titleRect.top() * sy); y < int((geometry.titleRect.top() + 140) * sy); ++y) {
        for (int x = int(300 * sx); x < int(660 * sx); ++x)
            accentPixels += QColor(page.pixel(x, y)) == accent ? 1 : 0;
    }
    QVERIFY2(accentPixels > 1000, qPrintable(QString::number(accentPixels)));
}

void TestBadgePrintCups::anUnknownSavedPrinterIsNotReplacedByTheDefault() {
    m_printer->setPrinterName(u"Brother QL-820NWB"_s);
    const qsizetype before = m_cups.jobs(u"TestPDF"_s).size();
    QCOMPARE(m_printer->print(u"Robin Sample"_s, morningVisit), BadgePrintOutcome::NoPrinter);
    QCOMPARE(m_cups.jobs(u"TestPDF"_s).size(), before);
    QCOMPARE(m_printer->printerName(), u"Brother QL-820NWB"_s);
    const QSettings reread(m_dir.filePath(u"defaults.ini"_s), QSettings::IniFormat);
    QCOMPARE(reread.value(u"BadgePrinterName"_s).toString(), u"Brother QL-820NWB"_s);
}

int main(int argc, char **argv) {
    // Before the application: CUPS clients, Qt's among them, read where the scheduler is only once.
    PrivateCups cups;
    QGuiApplication app(argc, argv);
    TestBadgePrintCups test(cups);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_badgeprintcups.moc"
