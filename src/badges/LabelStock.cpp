#include "badges/LabelStock.h"

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

constexpr qreal pointsPerMillimetre = 72.0 / 25.4;

BadgeGeometry makeDk2205() {
    // A continuous roll, 62 mm wide, cut to the canvas' proportions: 62 x 1000/650 mm.
    BadgeGeometry g;
    g.labelMillimetres = QSizeF(62.0 * 1000.0 / 650.0, 62.0);
    g.labelPoints = g.labelMillimetres * pointsPerMillimetre;
    g.canvas = QSizeF(1000, BadgeGeometry::canvasHeight);
    g.titleRect = QRectF(30, 30, 900, 300);
    g.nameRect = QRectF(30, 220, 900, 350);
    g.dateLineRect = QRectF(30, 550, 900, 100);
    g.frameBars = {QRectF(0, 15, 997, 2), QRectF(0, 15, 2, 615), QRectF(0, 630, 997, 2),
                   QRectF(997, 15, 2, 615)};
    return g;
}

BadgeGeometry makeDk1234() {
    BadgeGeometry g;
    g.labelMillimetres = QSizeF(86.0, 60.0);
    g.labelPoints = g.labelMillimetres * pointsPerMillimetre;
    g.canvas = QSizeF(950, BadgeGeometry::canvasHeight);
    g.titleRect = QRectF(30, 40, 900, 200);
    g.nameRect = QRectF(30, 250, 900, 350);
    g.dateLineRect = QRectF(30, 590, 900, 100);
    // The side bars run past the bottom bar and the canvas; only the part on the canvas shows.
    g.frameBars = {QRectF(0, 15, 945, 2), QRectF(0, 15, 2, 645), QRectF(0, 645, 945, 2),
                   QRectF(945, 15, 2, 645)};
    return g;
}

} // namespace

QString labelStockRawValue(LabelStock stock) {
    switch (stock) {
    case LabelStock::Dk2205:
        return u"dk2205"_s;
    case LabelStock::Dk1234:
        return u"dk1234"_s;
    }
    Q_UNREACHABLE();
}

LabelStock labelStockFromRawValue(QStringView rawValue) {
    for (const LabelStock stock : allLabelStocks) {
        if (rawValue == labelStockRawValue(stock))
            return stock;
    }
    return LabelStock::Dk2205;
}

QString labelStockCode(LabelStock stock) {
    switch (stock) {
    case LabelStock::Dk2205:
        return u"DK-2205"_s;
    case LabelStock::Dk1234:
        return u"DK-1234"_s;
    }
    Q_UNREACHABLE();
}

QString labelStockDescription(LabelStock stock) {
    switch (stock) {
    case LabelStock::Dk2205:
        return u"2.4 in x 100 ft (62 mm x 30.4 m) Continuous Length"_s;
    case LabelStock::Dk1234:
        return u"2.3 in x 3.4 in (60 mm x 86 mm) Adhesive Name Badge"_s;
    }
    Q_UNREACHABLE();
}

QString labelStockPickerText(LabelStock stock) {
    return labelStockCode(stock) + u": "_s + labelStockDescription(stock);
}

const BadgeGeometry &badgeGeometry(LabelStock stock) {
    static const BadgeGeometry dk2205 = makeDk2205();
    static const BadgeGeometry dk1234 = makeDk1234();
    switch (stock) {
    case LabelStock::Dk2205:
        return dk2205;
    case LabelStock::Dk1234:
        return dk1234;
    }
    Q_UNREACHABLE();
}

} // namespace tallybrook
