#include "badges/BadgeDrawing.h"
#include "badges/LabelStock.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(tallybrook::LabelStock)

namespace {

const QLocale usEnglish(QLocale::English, QLocale::UnitedStates);
const QTimeZone utc = QTimeZone::utc();
const QDateTime morningVisit(QDate(2025, 3, 4), QTime(9, 5), utc); // a Tuesday

Badge badge(const QString &name, LabelStock stock, const QDateTime &at = morningVisit) {
    return Badge{name, stock, at, usEnglish, utc};
}

bool isWhite(QRgb pixel) {
    return pixel == qRgb(255, 255, 255);
}

// The first and last rows and columns with any mark inside `area`; invalid when there is none.
QRect inkBounds(const QImage &image, const QRect &area) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!isWhite(image.pixel(x, y)))
                bounds = bounds.united(QRect(x, y, 1, 1));
        }
    }
    return bounds;
}

int count(const QImage &image, const QRect &area, const QColor &colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            n += QColor(image.pixel(x, y)) == colour ? 1 : 0;
    }
    return n;
}

QFontMetricsF metrics(int pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    return QFontMetricsF(font);
}

} // namespace

// The two label stocks, the badge drawn on each, and the badge as a printable page.
class TestBadgeDrawing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each stock: its stored name, its page, and the badge drawn on it.
    void eachStock_data() {
        QTest::addColumn<LabelStock>("stock");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QSizeF>("millimetres");
        QTest::addColumn<QSizeF>("canvas");
        QTest::addColumn<QColor>("accent");
        QTest::newRow("DK-2205") << LabelStock::Dk2205 << u"dk2205"_s << QSizeF(95.3846, 62)
                                 << QSizeF(1000, 650) << QColor(Qt::red);
        QTest::newRow("DK-1234") << LabelStock::Dk1234 << u"dk1234"_s << QSizeF(86, 60) << QSizeF(950, 650)
                                 << QColor(Qt::black);
    }
    void eachStock() {
        QFETCH(LabelStock, stock);
        QFETCH(QString, raw);
        QFETCH(QSizeF, millimetres);
        QFETCH(QSizeF, canvas);
        QFETCH(QColor, accent);
        QCOMPARE(labelStockRawValue(stock), raw);
        QCOMPARE(labelStockFromRawValue(raw), stock);
        // Only the exact raw text: anything else stored reads as the continuous roll.
        for (const QString &other : QStringList{raw.toUpper(), labelStockCode(stock), u" "_s + raw})
            QCOMPARE(labelStockFromRawValue(other), LabelStock::Dk2205);

        // The page is the label defined with the narrow side across, as the roll feeds, named by its code.
        const Badge robin = badge(u"Robin Smith"_s, stock);
        const QSizeF points = millimetres.transposed() * 72 / 25.4;
        const QSizeF pageSize = BadgePage(robin).pageSize().size(QPageSize::Point);
        QVERIFY(qAbs(pageSize.width() - points.width()) < 0.001 &&
                qAbs(pageSize.height() - points.height()) < 0.001);
        QCOMPARE(BadgePage(robin).pageSize().name(), labelStockCode(stock));
        // The preview image is the canvas times its scale.
        QCOMPARE(badgeImage(robin, 0.5).size(), (canvas / 2).toSize());

        const BadgeGeometry &geometry = badgeGeometry(stock);
        // Neither text has a descender, so the ink ends on the first line's baseline.
        const QImage image = badgeImage(robin);
        // The frame in the accent colour, each bar where the layout has it.
        for (const QRectF &bar : geometry.frameBars)
            QCOMPARE(QColor(image.pixel(bar.center().toPoint())), accent);
        // The title in the accent colour, centred and set from its rectangle's top at full size; the name
        // too, in black.
        for (const auto &[rect, size, colour] :
             {std::tuple{geometry.titleRect, BadgeGeometry::titleFontSize, accent},
              std::tuple{geometry.nameRect, BadgeGeometry::nameFontSize, QColor(Qt::black)}}) {
            const QFontMetricsF font = metrics(size);
            const QRect band(rect.toRect().topLeft(), QSize(int(rect.width()), qCeil(font.height())));
            const QRect ink = inkBounds(image, band);
            QVERIFY(count(image, band, colour) > 500);
            QVERIFY(qAbs((ink.left() + ink.right() + 1) / 2.0 - rect.center().x()) < 3);
            QVERIFY(qAbs(ink.bottom() + 1 - (rect.top() + font.ascent())) < 2.5);
        }
        QCOMPARE(count(image, QRect(30, int(geometry.nameRect.top()), 900, 380), QColor(Qt::red)), 0);
        // The date line, centred (its wording is checked on its own).
        const QRect dateBand(30, int(geometry.dateLineRect.top()), 900,
                             int(geometry.frameBars[2].top() - geometry.dateLineRect.top()) - 1);
        const QRect dateInk = inkBounds(image, dateBand);
        QVERIFY(qAbs((dateInk.left() + dateInk.right() + 1) / 2.0 - geometry.dateLineRect.center().x()) < 3);
    }
    // A long name keeps its size and wraps, a word wider than the badge breaks inside it, and what does not
    // fit is cut below the name's rectangle by whole lines.
    void longNamesWrapInsideTheirRectangle_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("many words")
            << u"Alexandrina Wilhelmina Montgomery-Featherstonehaugh of Little Whinging on the Marsh"_s;
        QTest::newRow("one word") << u"Wolfeschlegelsteinhausenbergerdorffwelchevoralternwarengewissenhaft"_s;
    }
    void longNamesWrapInsideTheirRectangle() {
        QFETCH(QString, name);
        const BadgeGeometry &geometry = badgeGeometry(LabelStock::Dk2205);
        // No date line, so everything under the name's rectangle is the name's business.
        const QImage shortImage = badgeImage(badge(u"Robin Sample"_s, LabelStock::Dk2205, QDateTime()));
        const QImage image = badgeImage(badge(name, LabelStock::Dk2205, QDateTime()));
        const QFontMetricsF font = metrics(BadgeGeometry::nameFontSize);
        const QRect nameRect = geometry.nameRect.toRect();
        const auto line = [&](qreal first, qreal last) {
            return QRect(nameRect.left(), nameRect.top() + qCeil(first * font.height()), nameRect.width(),
                         qFloor((last - first) * font.height()));
        };
        // The first line starts where a short name starts: same size, same place; then it goes on below.
        QCOMPARE(inkBounds(image, line(0, 1)).top(), inkBounds(shortImage, line(0, 1)).top());
        QVERIFY(inkBounds(image, line(1, 2)).isValid());
        const QRect ink = inkBounds(image, QRect(3, nameRect.top(), 994, nameRect.height()));
        QVERIFY2(ink.left() >= nameRect.left() && ink.right() <= nameRect.right(),
                 qPrintable(QVariant(ink).toString()));
        // Only whole lines: the last one that fits is there, the one the edge would cut is not, nor anything
        // below.
        const int wholeLines = int(geometry.nameRect.height() / font.height());
        QVERIFY(inkBounds(image, line(wholeLines - 1, wholeLines)).isValid());
        const QRect underTheName(3, line(wholeLines, 0).top(), 994,
                                 int(geometry.frameBars[2].top()) - line(wholeLines, 0).top());
        QVERIFY2(!inkBounds(image, underTheName).isValid(), "ink below the last whole line");
    }
    void dateLineWording_data() {
        QTest::addColumn<QDateTime>("at");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("text");
        const QString gap = u"       "_s;
        QTest::newRow("evening on a 12-hour clock, two digits")
            << QDateTime(QDate(2025, 3, 4), QTime(21, 5), utc) << usEnglish << utc
            << u"Tue, Mar 4"_s + gap + u"09:05 PM"_s;
        QTest::newRow("half past midnight") << QDateTime(QDate(2025, 3, 4), QTime(0, 30), utc) << usEnglish
                                            << utc << u"Tue, Mar 4"_s + gap + u"12:30 AM"_s;
        QTest::newRow("the day changes with the zone")
            << QDateTime(QDate(2025, 3, 5), QTime(2, 0), utc) << usEnglish << QTimeZone("America/Los_Angeles")
            << u"Tue, Mar 4"_s + gap + u"06:00 PM"_s;
        QTest::newRow("no time, no line") << QDateTime() << usEnglish << utc << QString();
    }
    void dateLineWording() {
        QFETCH(QDateTime, at);
        QFETCH(QLocale, locale);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, text);
        QCOMPARE(badgeDateLine(at, locale, zone), text);
    }
    void thePageStretchesTheCanvasOverTheLabel() {
        // DK-1234 at 4 pixels a point: its two scales differ. The border around the page must stay untouched,
        // also where the side bars run past the canvas.
        const BadgeGeometry &geometry = badgeGeometry(LabelStock::Dk1234);
        const QRectF page(QPointF(20, 30), geometry.labelPoints * 4);
        QImage image((page.size() + QSizeF(40, 60)).toSize(), QImage::Format_RGB32);
        image.fill(Qt::gray);
        {
            QPainter painter(&image);
            BadgePage(badge(u"Robin Sample"_s, LabelStock::Dk1234)).paint(painter, page);
        }
        const qreal sx = page.width() / geometry.canvas.width(),
                    sy = page.height() / geometry.canvas.height();
        // Bars two units wide land on about two pixels here, their edges antialiased.
        const auto at = [&](qreal x, qreal y) {
            const QRgb pixel = image.pixel((page.topLeft() + QPointF(x * sx, y * sy)).toPoint());
            return pixel == QColor(Qt::gray).rgb() ? u"page edge"_s
                   : qGray(pixel) < 90             ? u"bar"_s
                                                   : u"label"_s;
        };
        QCOMPARE(at(946, 300), u"bar"_s); // the right bar, at the far edge
        QCOMPARE(at(951, 300), u"page edge"_s);
        QCOMPARE(at(475, 646), u"bar"_s); // the bottom bar, at the far edge
        const QRect under(0, qCeil(page.bottom()) + 1, image.width(),
                          image.height() - qCeil(page.bottom()) - 1);
        QCOMPARE(count(image, under, Qt::gray), under.width() * under.height());
    }
};

QTEST_MAIN(TestBadgeDrawing)

#include "tst_badgedrawing.moc"
