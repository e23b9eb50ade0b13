#include "badges/BadgeDrawing.h"
#include "badges/LabelStock.h"

#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(tallybrook::LabelStock)

namespace {

bool near(const QSizeF &a, const QSizeF &b, qreal tolerance) {
    return qAbs(a.width() - b.width()) < tolerance && qAbs(a.height() - b.height()) < tolerance;
}

} // namespace

class TestLabelStock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void casesAreInPickerOrder();
    void textsOfEachStock_data();
    void textsOfEachStock();
    void rawValuesReadBack_data();
    void rawValuesReadBack();
    void labelSizes_data();
    void labelSizes();
    void printablePageIsTheLabelTurnedLandscape_data();
    void printablePageIsTheLabelTurnedLandscape();
};

void TestLabelStock::casesAreInPickerOrder() {
    QCOMPARE(allLabelStocks.size(), 2u);
    QCOMPARE(allLabelStocks[0], LabelStock::Dk2205);
    QCOMPARE(allLabelStocks[1], LabelStock::Dk1234);
}

void TestLabelStock::textsOfEachStock_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("description");
    QTest::newRow("DK-2205") << LabelStock::Dk2205 << u"dk2205"_s << u"DK-2205"_s
                             << u"2.4 in x 100 ft (62 mm x 30.4 m) Continuous Length"_s;
    QTest::newRow("DK-1234") << LabelStock::Dk1234 << u"dk1234"_s << u"DK-1234"_s
                             << u"2.3 in x 3.4 in (60 mm x 86 mm) Adhesive Name Badge"_s;
}

void TestLabelStock::textsOfEachStock() {
    QFETCH(LabelStock, stock);
    QFETCH(QString, raw);
    QFETCH(QString, code);
    QFETCH(QString, description);
    QCOMPARE(labelStockRawValue(stock), raw);
    QCOMPARE(labelStockCode(stock), code);
    QCOMPARE(labelStockDescription(stock), description);
    QCOMPARE(labelStockPickerText(stock), code + u": "_s + description);
}

void TestLabelStock::rawValuesReadBack_data() {
    QTest::addColumn<QString>("raw");
    QTest::addColumn<LabelStock>("stock");
    QTest::newRow("dk2205") << u"dk2205"_s << LabelStock::Dk2205;
    QTest::newRow("dk1234") << u"dk1234"_s << LabelStock::Dk1234;
    QTest::newRow("empty") << QString() << LabelStock::Dk2205;
    QTest::newRow("upper case is another text") << u"DK1234"_s << LabelStock::Dk2205;
    QTest::newRow("the code is not the raw value") << u"DK-1234"_s << LabelStock::Dk2205;
    QTest::newRow("padded") << u" dk1234"_s << LabelStock::Dk2205;
    QTest::newRow("unknown stock") << u"dk11201"_s << LabelStock::Dk2205;
}

void TestLabelStock::rawValuesReadBack() {
    QFETCH(QString, raw);
    QFETCH(LabelStock, stock);
    QCOMPARE(labelStockFromRawValue(raw), stock);
}

void TestLabelStock::labelSizes_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<QSizeF>("millimetres");
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<QSizeF>("canvas");
    QTest::newRow("DK-2205") << LabelStock::Dk2205 << QSizeF(95.3846, 62) << QSizeF(270.3816, 175.7480)
                             << QSizeF(1000, 650);
    QTest::newRow("DK-1234") << LabelStock::Dk1234 << QSizeF(86, 60) << QSizeF(243.7795, 170.0787)
                             << QSizeF(950, 650);
}

void TestLabelStock::labelSizes() {
    QFETCH(LabelStock, stock);
    QFETCH(QSizeF, millimetres);
    QFETCH(QSizeF, points);
    QFETCH(QSizeF, canvas);
    const BadgeGeometry &geometry = badgeGeometry(stock);
    QVERIFY2(near(geometry.labelMillimetres, millimetres, 0.0001), "millimetres");
    QVERIFY2(near(geometry.labelPoints, points, 0.0001), "points");
    QCOMPARE(geometry.canvas, canvas);
}

void TestLabelStock::printablePageIsTheLabelTurnedLandscape_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<QString>("pageName");
    QTest::newRow("DK-2205") << LabelStock::Dk2205 << u"DK-2205"_s;
    QTest::newRow("DK-1234") << LabelStock::Dk1234 << u"DK-1234"_s;
}

void TestLabelStock::printablePageIsTheLabelTurnedLandscape() {
    QFETCH(LabelStock, stock);
    QFETCH(QString, pageName);
    const BadgePage page(Badge{u"Robin Sample"_s, stock, QDateTime()});
    const QSizeF label = badgeGeometry(stock).labelPoints;
    QCOMPARE(page.pageSize().name(), pageName);
    // Defined with the narrow side across, as the roll feeds; landscape turns it back to the badge's shape.
    QVERIFY(near(page.pageSize().size(QPageSize::Point), label.transposed(), 0.001));
    const QPageLayout layout(page.pageSize(), BadgePage::orientation, QMarginsF(), QPageLayout::Point);
    QVERIFY(near(layout.fullRect(QPageLayout::Point).size(), label, 0.001));
}

QTEST_APPLESS_MAIN(TestLabelStock)

#include "tst_labelstock.moc"
