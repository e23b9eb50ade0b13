#include "badges/BadgeDrawing.h"
#include "badges/LabelStock.h"

#include <QDir>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(tallybrook::LabelStock)

namespace {

const QLocale usEnglish(QLocale::English, QLocale::UnitedStates);
const QTimeZone utc = QTimeZone::utc();
// A Tuesday.
const QDateTime morningVisit(QDate(2025, 3, 4), QTime(9, 5), utc);
const QString longName =
    u"Alexandrina Wilhelmina Montgomery-Featherstonehaugh of Little Whinging on the Marsh"_s;

Badge badge(const QString &name, LabelStock stock, const QDateTime &at = morningVisit) {
    return Badge{name, stock, at, usEnglish, utc};
}

bool isRed(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}

bool isBlack(QRgb pixel) {
    return qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40;
}

bool isWhite(QRgb pixel) {
    return pixel == qRgb(255, 255, 255);
}

// Any mark at all, antialiased edges included.
bool isInk(QRgb pixel) {
    return !isWhite(pixel);
}

int count(const QImage &image, const QRect &area, bool (*test)(QRgb)) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    }
    return n;
}

// The first and last rows and columns with ink inside `area`; invalid when there is none.
QRect inkBounds(const QImage &image, const QRect &area) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (isInk(image.pixel(x, y)))
                bounds = bounds.united(QRect(x, y, 1, 1));
        }
    }
    return bounds;
}

QFont systemFont(int pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixelSize);
    return font;
}

// Keeps the rendered badges for a person to look at when TALLYBROOK_BADGE_IMAGES names a folder.
void keep(const QImage &image, const QString &name) {
    const QString folder = qEnvironmentVariable("TALLYBROOK_BADGE_IMAGES");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        image.save(QDir(folder).filePath(name + u".png"_s));
}

} // namespace

class TestBadgeDrawing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void imageIsTheCanvasTimesTheScale_data();
    void imageIsTheCanvasTimesTheScale();
    void titleAndFrameTakeTheStockColour_data();
    void titleAndFrameTakeTheStockColour();
    void frameBarsSitWhereTheLayoutPutsThem_data();
    void frameBarsSitWhereTheLayoutPutsThem();
    void textsAreCentredAndSetFromTheTop_data();
    void textsAreCentredAndSetFromTheTop();
    void longNameWrapsKeepsItsSizeAndIsCutBelowItsRectangle_data();
    void longNameWrapsKeepsItsSizeAndIsCutBelowItsRectangle();
    void aWordWiderThanTheBadgeStaysInsideIt();
    void dateLineWording_data();
    void dateLineWording();
    void dateLineDrawnShowsTheTwoDigitHour();
    void nothingIsDrawnOutsideTheCanvas();
    void thePageStretchesTheCanvasOverTheLabel_data();
    void thePageStretchesTheCanvasOverTheLabel();
};

void TestBadgeDrawing::imageIsTheCanvasTimesTheScale_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<QSize>("size");
    QTest::newRow("DK-2205") << LabelStock::Dk2205 << 1.0 << QSize(1000, 650);
    QTest::newRow("DK-1234") << LabelStock::Dk1234 << 1.0 << QSize(950, 650);
    QTest::newRow("DK-2205 half") << LabelStock::Dk2205 << 0.5 << QSize(500, 325);
    QTest::newRow("DK-1234 double") << LabelStock::Dk1234 << 2.0 << QSize(1900, 1300);
}

void TestBadgeDrawing::imageIsTheCanvasTimesTheScale() {
    QFETCH(LabelStock, stock);
    QFETCH(qreal, scale);
    QFETCH(QSize, size);
    const QImage image = badgeImage(badge(u"Robin Sample"_s, stock), scale);
    QCOMPARE(image.size(), size);
    // The frame's top bar lands at 15 units whatever the scale.
    QVERIFY(isInk(image.pixel(size.width() / 2, qRound(16 * scale))));
    QVERIFY(isWhite(image.pixel(size.width() / 2, qRound(8 * scale))));
}

void TestBadgeDrawing::titleAndFrameTakeTheStockColour_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<bool>("red");
    QTest::newRow("DK-2205 is red") << LabelStock::Dk2205 << true;
    QTest::newRow("DK-1234 is black") << LabelStock::Dk1234 << false;
}

void TestBadgeDrawing::titleAndFrameTakeTheStockColour() {
    QFETCH(LabelStock, stock);
    QFETCH(bool, red);
    const QImage image = badgeImage(badge(u"Robin Sample"_s, stock));
    keep(image, u"badge-"_s + labelStockRawValue(stock));
    const BadgeGeometry &geometry = badgeGeometry(stock);
    QCOMPARE(badgeAccentColor(stock), red ? QColor(Qt::red) : QColor(Qt::black));

    // The title: its solid strokes are in the accent colour, and only in it.
    const QRect titleBand = QRect(geometry.titleRect.toRect().left(), geometry.titleRect.toRect().top(),
                                  geometry.titleRect.toRect().width(), 140);
    const int redInTitle = count(image, titleBand, isRed);
    const int blackInTitle = count(image, titleBand, isBlack);
    QVERIFY2(redInTitle + blackInTitle > 2000, "the title is drawn");
    QCOMPARE(redInTitle > 0, red);
    QCOMPARE(blackInTitle > 0, !red);

    // The frame likewise.
    for (const QRectF &bar : geometry.frameBars) {
        const QPoint middle = bar.intersected(QRectF(QPointF(0, 0), geometry.canvas)).center().toPoint();
        QVERIFY2(red ? isRed(image.pixel(middle)) : isBlack(image.pixel(middle)),
                 qPrintable(u"bar at %1,%2"_s.arg(middle.x()).arg(middle.y())));
    }

    // The name and the date line are black on both stocks.
    const QRect nameAndDate = QRect(30, int(geometry.nameRect.top()), 900,
                                    int(geometry.canvas.height()) - 20 - int(geometry.nameRect.top()));
    QVERIFY(count(image, nameAndDate, isBlack) > 1000);
    QCOMPARE(count(image, nameAndDate, isRed), 0);
}

void TestBadgeDrawing::frameBarsSitWhereTheLayoutPutsThem_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("onTheFrame");
    // DK-2205: top 0,15,997,2; left 0,15,2,615; bottom 0,630,997,2; right 997,15,2,615.
    QTest::newRow("2205 top bar") << LabelStock::Dk2205 << QPoint(500, 15) << true;
    QTest::newRow("2205 top bar, second row") << LabelStock::Dk2205 << QPoint(500, 16) << true;
    QTest::newRow("2205 above the top bar") << LabelStock::Dk2205 << QPoint(500, 14) << false;
    QTest::newRow("2205 below the top bar") << LabelStock::Dk2205 << QPoint(500, 17) << false;
    QTest::newRow("2205 left bar") << LabelStock::Dk2205 << QPoint(1, 300) << true;
    QTest::newRow("2205 right of the left bar") << LabelStock::Dk2205 << QPoint(2, 300) << false;
    QTest::newRow("2205 bottom bar") << LabelStock::Dk2205 << QPoint(500, 631) << true;
    QTest::newRow("2205 above the bottom bar") << LabelStock::Dk2205 << QPoint(500, 629) << false;
    QTest::newRow("2205 below the bottom bar") << LabelStock::Dk2205 << QPoint(500, 632) << false;
    QTest::newRow("2205 left bar ends with the bottom bar") << LabelStock::Dk2205 << QPoint(1, 632) << false;
    QTest::newRow("2205 right bar") << LabelStock::Dk2205 << QPoint(998, 300) << true;
    QTest::newRow("2205 left of the right bar") << LabelStock::Dk2205 << QPoint(996, 300) << false;
    QTest::newRow("2205 right of the right bar") << LabelStock::Dk2205 << QPoint(999, 300) << false;
    // The right bar ends where the bottom bar starts, and the bottom bar ends where the right bar starts.
    QTest::newRow("2205 the bars leave the bottom-right corner open")
        << LabelStock::Dk2205 << QPoint(997, 631) << false;
    // DK-1234: top 0,15,945,2; left 0,15,2,645; bottom 0,645,945,2; right 945,15,2,645.
    QTest::newRow("1234 top bar") << LabelStock::Dk1234 << QPoint(475, 16) << true;
    QTest::newRow("1234 above the top bar") << LabelStock::Dk1234 << QPoint(475, 14) << false;
    QTest::newRow("1234 left bar") << LabelStock::Dk1234 << QPoint(0, 300) << true;
    QTest::newRow("1234 bottom bar") << LabelStock::Dk1234 << QPoint(475, 646) << true;
    QTest::newRow("1234 above the bottom bar") << LabelStock::Dk1234 << QPoint(475, 644) << false;
    QTest::newRow("1234 below the bottom bar") << LabelStock::Dk1234 << QPoint(475, 647) << false;
    QTest::newRow("1234 left bar runs past the bottom bar") << LabelStock::Dk1234 << QPoint(1, 649) << true;
    QTest::newRow("1234 right bar") << LabelStock::Dk1234 << QPoint(946, 300) << true;
    QTest::newRow("1234 right bar runs past the bottom bar")
        << LabelStock::Dk1234 << QPoint(946, 649) << true;
    QTest::newRow("1234 left of the right bar") << LabelStock::Dk1234 << QPoint(944, 300) << false;
    QTest::newRow("1234 white edge right of the frame") << LabelStock::Dk1234 << QPoint(948, 300) << false;
}

void TestBadgeDrawing::frameBarsSitWhereTheLayoutPutsThem() {
    QFETCH(LabelStock, stock);
    QFETCH(QPoint, point);
    QFETCH(bool, onTheFrame);
    const QImage image = badgeImage(badge(u"Robin Sample"_s, stock));
    const QRgb pixel = image.pixel(point);
    if (onTheFrame)
        QCOMPARE(QColor(pixel), badgeAccentColor(stock));
    else
        QVERIFY2(isWhite(pixel), qPrintable(QColor(pixel).name()));
}

void TestBadgeDrawing::textsAreCentredAndSetFromTheTop_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::newRow("DK-2205") << LabelStock::Dk2205;
    QTest::newRow("DK-1234") << LabelStock::Dk1234;
}

void TestBadgeDrawing::textsAreCentredAndSetFromTheTop() {
    QFETCH(LabelStock, stock);
    const BadgeGeometry &geometry = badgeGeometry(stock);
    // Neither text has a descender, so the ink ends on the first line's baseline.
    const QImage image = badgeImage(badge(u"Robin Smith"_s, stock));
    struct Element {
        const char *what;
        QRectF rect;
        int fontSize;
    };
    for (const Element &element : {Element{"title", geometry.titleRect, BadgeGeometry::titleFontSize},
                                   Element{"name", geometry.nameRect, BadgeGeometry::nameFontSize}}) {
        const QFontMetricsF metrics(systemFont(element.fontSize));
        const QRect band(element.rect.toRect().left(), element.rect.toRect().top(),
                         element.rect.toRect().width(), qCeil(metrics.height()));
        const QRect ink = inkBounds(image, band);
        QVERIFY2(ink.isValid(), element.what);
        QVERIFY2(qAbs((ink.left() + ink.right() + 1) / 2.0 - element.rect.center().x()) < 3, element.what);
        const qreal baseline = element.rect.top() + metrics.ascent();
        QVERIFY2(qAbs(ink.bottom() + 1 - baseline) < 2.5,
                 qPrintable(u"%1 ink ends at %2, baseline at %3"_s.arg(QString::fromLatin1(element.what))
                                .arg(ink.bottom() + 1)
                                .arg(baseline)));
        // Capitals as tall as the font makes them: nothing shrank.
        QVERIFY2(qAbs(ink.height() - metrics.capHeight()) < metrics.capHeight() * 0.2, element.what);
    }
}

void TestBadgeDrawing::longNameWrapsKeepsItsSizeAndIsCutBelowItsRectangle_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::newRow("DK-2205") << LabelStock::Dk2205;
    QTest::newRow("DK-1234") << LabelStock::Dk1234;
}

void TestBadgeDrawing::longNameWrapsKeepsItsSizeAndIsCutBelowItsRectangle() {
    QFETCH(LabelStock, stock);
    const BadgeGeometry &geometry = badgeGeometry(stock);
    // No date line, so everything under the name's rectangle is the name's business.
    const QImage shortImage = badgeImage(badge(u"Robin Sample"_s, stock, QDateTime()));
    const QImage longImage = badgeImage(badge(longName, stock, QDateTime()));
    keep(longImage, u"badge-long-name-"_s + labelStockRawValue(stock));
    const QFontMetricsF metrics(systemFont(BadgeGeometry::nameFontSize));
    QVERIFY2(metrics.horizontalAdvance(longName) > 2 * geometry.nameRect.width(),
             "the name needs three lines");

    const QRect nameRect = geometry.nameRect.toRect();
    const int lineHeight = qCeil(metrics.height());
    const QRect firstLine(nameRect.left(), nameRect.top(), nameRect.width(), lineHeight);
    const QRect secondLine(nameRect.left(), nameRect.top() + lineHeight, nameRect.width(), lineHeight);
    const QRect shortInk = inkBounds(shortImage, firstLine);
    const QRect longInk = inkBounds(longImage, firstLine);
    QVERIFY(shortInk.isValid() && longInk.isValid());
    // The first line starts where a short name starts: same size, same place.
    QCOMPARE(longInk.top(), shortInk.top());
    QVERIFY(!inkBounds(shortImage, secondLine).isValid());
    QVERIFY(inkBounds(longImage, secondLine).isValid());

    // Nothing of the name below its rectangle, down to the frame.
    const int frameTop = int(geometry.frameBars[2].top());
    const int below = std::min(frameTop, int(geometry.canvas.height())) - nameRect.bottom() - 2;
    const QRect underTheName(10, nameRect.bottom() + 1, int(geometry.canvas.width()) - 20, below);
    QVERIFY2(!inkBounds(longImage, underTheName).isValid(),
             qPrintable(u"ink at %1"_s.arg(QVariant(inkBounds(longImage, underTheName)).toString())));
    // Inside it, only whole lines: the last one that fits is there, the one cut by the edge is not.
    const int wholeLines = int(geometry.nameRect.height() / metrics.height());
    QVERIFY(wholeLines >= 2);
    const QRect lastWholeLine(nameRect.left(), nameRect.top() + qFloor((wholeLines - 1) * metrics.height()),
                              nameRect.width(), qFloor(metrics.height()));
    QVERIFY(inkBounds(longImage, lastWholeLine).isValid());
    const int cutLineTop = nameRect.top() + qCeil(wholeLines * metrics.height());
    const QRect cutLine(nameRect.left(), cutLineTop, nameRect.width(), nameRect.bottom() - cutLineTop + 1);
    QVERIFY2(!inkBounds(longImage, cutLine).isValid(),
             qPrintable(u"ink at %1"_s.arg(QVariant(inkBounds(longImage, cutLine)).toString())));
}

void TestBadgeDrawing::aWordWiderThanTheBadgeStaysInsideIt() {
    const QString word = u"Wolfeschlegelsteinhausenbergerdorffwelchevoralternwarengewissenhaft"_s;
    const QImage image = badgeImage(badge(word, LabelStock::Dk2205, QDateTime()));
    keep(image, u"badge-long-word"_s);
    const QRect nameRect = badgeGeometry(LabelStock::Dk2205).nameRect.toRect();
    const QRect ink = inkBounds(image, QRect(3, nameRect.top(), 994, nameRect.height()));
    QVERIFY(ink.isValid());
    QVERIFY2(ink.left() >= nameRect.left() && ink.right() <= nameRect.right(),
             qPrintable(QVariant(ink).toString()));
    // It broke onto further lines instead.
    QVERIFY(ink.height() > 150);
}

void TestBadgeDrawing::dateLineWording_data() {
    QTest::addColumn<QDateTime>("at");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QTimeZone>("zone");
    QTest::addColumn<QString>("text");
    const QString gap = u"       "_s;
    QTest::newRow("morning keeps two digits")
        << morningVisit << usEnglish << utc << u"Tue, Mar 4"_s + gap + u"09:05 AM"_s;
    QTest::newRow("evening on a 12-hour clock") << QDateTime(QDate(2025, 3, 4), QTime(21, 5), utc)
                                                << usEnglish << utc << u"Tue, Mar 4"_s + gap + u"09:05 PM"_s;
    QTest::newRow("half past midnight") << QDateTime(QDate(2025, 3, 4), QTime(0, 30), utc) << usEnglish << utc
                                        << u"Tue, Mar 4"_s + gap + u"12:30 AM"_s;
    QTest::newRow("noon") << QDateTime(QDate(2025, 12, 25), QTime(12, 0), utc) << usEnglish << utc
                          << u"Thu, Dec 25"_s + gap + u"12:00 PM"_s;
    QTest::newRow("in the visitor's time zone")
        << QDateTime(QDate(2025, 3, 4), QTime(8, 5), utc) << usEnglish << QTimeZone("Europe/Berlin")
        << u"Tue, Mar 4"_s + gap + u"09:05 AM"_s;
    QTest::newRow("the day changes with the zone")
        << QDateTime(QDate(2025, 3, 5), QTime(2, 0), utc) << usEnglish << QTimeZone("America/Los_Angeles")
        << u"Tue, Mar 4"_s + gap + u"06:00 PM"_s;
    QTest::newRow("German names") << morningVisit << QLocale(QLocale::German, QLocale::Germany) << utc
                                  << u"Di., M\u00e4rz 4"_s + gap + u"09:05 AM"_s;
    QTest::newRow("no time, no line") << QDateTime() << usEnglish << utc << QString();
}

void TestBadgeDrawing::dateLineWording() {
    QFETCH(QDateTime, at);
    QFETCH(QLocale, locale);
    QFETCH(QTimeZone, zone);
    QFETCH(QString, text);
    QCOMPARE(badgeDateLine(at, locale, zone), text);
}

void TestBadgeDrawing::dateLineDrawnShowsTheTwoDigitHour() {
    const BadgeGeometry &geometry = badgeGeometry(LabelStock::Dk2205);
    // A short name keeps the date line's band to itself.
    const QImage image = badgeImage(badge(u"Jo"_s, LabelStock::Dk2205));
    const QRect band(30, int(geometry.dateLineRect.top()), 900,
                     int(geometry.frameBars[2].top()) - 1 - int(geometry.dateLineRect.top()));
    const QRect ink = inkBounds(image, band);
    QVERIFY(ink.isValid());
    // The ink is as wide as "…09:05 AM" set in the 40-unit font: one digit wider than "…9:05 AM" would be.
    const QFontMetricsF metrics(systemFont(BadgeGeometry::dateLineFontSize));
    const QString gap = u"       "_s;
    const qreal padded = metrics.horizontalAdvance(u"Tue, Mar 4"_s + gap + u"09:05 AM"_s);
    const qreal unpadded = metrics.horizontalAdvance(u"Tue, Mar 4"_s + gap + u"9:05 AM"_s);
    QVERIFY(padded - unpadded > 15);
    QVERIFY2(qAbs(ink.width() - padded) < 6, qPrintable(u"ink %1, text %2"_s.arg(ink.width()).arg(padded)));
    QVERIFY(qAbs((ink.left() + ink.right() + 1) / 2.0 - geometry.dateLineRect.center().x()) < 3);
}

void TestBadgeDrawing::nothingIsDrawnOutsideTheCanvas() {
    // A preview larger than the badge: the side bars of DK-1234 that run past the canvas stay off it.
    QImage image(1000, 700, QImage::Format_RGB32);
    image.fill(Qt::gray);
    {
        QPainter painter(&image);
        drawBadge(painter, badge(longName, LabelStock::Dk1234));
    }
    QCOMPARE(count(image, QRect(0, 650, 1000, 50), [](QRgb p) { return p != qRgb(160, 160, 164); }), 0);
    QCOMPARE(count(image, QRect(950, 0, 50, 700), [](QRgb p) { return p != qRgb(160, 160, 164); }), 0);
    QVERIFY(isBlack(image.pixel(1, 649)));
}

void TestBadgeDrawing::thePageStretchesTheCanvasOverTheLabel_data() {
    QTest::addColumn<LabelStock>("stock");
    QTest::newRow("DK-2205") << LabelStock::Dk2205;
    QTest::newRow("DK-1234, two scales") << LabelStock::Dk1234;
}

void TestBadgeDrawing::thePageStretchesTheCanvasOverTheLabel() {
    QFETCH(LabelStock, stock);
    const BadgeGeometry &geometry = badgeGeometry(stock);
    // The label at 4 pixels a point, with a border the page must leave alone.
    const QSizeF page = geometry.labelPoints * 4;
    const QPointF origin(20, 30);
    QImage image((page + QSizeF(40, 60)).toSize(), QImage::Format_RGB32);
    image.fill(Qt::gray);
    {
        QPainter painter(&image);
        BadgePage(badge(u"Robin Sample"_s, stock)).paint(painter, QRectF(origin, page));
    }
    keep(image, u"page-"_s + labelStockRawValue(stock));
    const qreal sx = page.width() / geometry.canvas.width();
    const qreal sy = page.height() / geometry.canvas.height();
    const auto at = [&](qreal x, qreal y) {
        return image.pixel((origin + QPointF(x * sx, y * sy)).toPoint());
    };
    const QColor accent = badgeAccentColor(stock);
    for (const QRectF &bar : geometry.frameBars) {
        // A 2-unit bar lands on about two pixels here, antialiased; its strongest pixel is the accent colour.
        const QPointF middle = bar.intersected(QRectF(QPointF(0, 0), geometry.canvas)).center();
        int closest = 255 * 3;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor pixel(at(middle.x() + dx / sx, middle.y() + dy / sy));
                closest = std::min(closest, qAbs(pixel.red() - accent.red()) +
                                                qAbs(pixel.green() - accent.green()) +
                                                qAbs(pixel.blue() - accent.blue()));
            }
        }
        QVERIFY2(closest < 30, qPrintable(u"bar at %1,%2"_s.arg(middle.x()).arg(middle.y())));
    }
    QVERIFY(isWhite(at(500, 8)));
    // The page covers exactly its rectangle.
    QCOMPARE(QColor(image.pixel(int(origin.x()) - 1, int(origin.y()) + 100)), QColor(Qt::gray));
    QCOMPARE(QColor(image.pixel(qCeil(origin.x() + page.width()) + 1, int(origin.y()) + 100)),
             QColor(Qt::gray));
    QCOMPARE(QColor(image.pixel(int(origin.x()) + 100, qCeil(origin.y() + page.height()) + 1)),
             QColor(Qt::gray));
    QVERIFY(isWhite(image.pixel(qFloor(origin.x() + page.width()) - 1, int(origin.y()) + 4)));
}

QTEST_MAIN(TestBadgeDrawing)

#include "tst_badgedrawing.moc"
