#pragma once

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringView>

#include <array>

namespace tallybrook {

// The Brother label roll loaded in the printer. Every size on a badge depends on it.
enum class LabelStock { Dk2205, Dk1234 };

// In the order the settings picker lists them.
inline constexpr std::array<LabelStock, 2> allLabelStocks{LabelStock::Dk2205, LabelStock::Dk1234};

// The text stored in the preferences: "dk2205", "dk1234".
[[nodiscard]] QString labelStockRawValue(LabelStock stock);
// Anything unknown, the empty text included, is the continuous roll.
[[nodiscard]] LabelStock labelStockFromRawValue(QStringView rawValue);

// "DK-2205", "DK-1234".
[[nodiscard]] QString labelStockCode(LabelStock stock);
// "2.4 in x 100 ft (62 mm x 30.4 m) Continuous Length" and the like.
[[nodiscard]] QString labelStockDescription(LabelStock stock);
// The picker row: the code, ": ", the description.
[[nodiscard]] QString labelStockPickerText(LabelStock stock);

// Where the parts of a badge sit on the canvas. The canvas is always 650 units high and is stretched over the
// label, so its two scales may differ slightly.
struct BadgeGeometry {
    QSizeF labelMillimetres; // width x height as the badge reads (landscape)
    QSizeF labelPoints;      // the same in points (1/72 inch)
    QSizeF canvas;           // abstract units

    QRectF titleRect;
    QRectF nameRect;
    QRectF dateLineRect;
    std::array<QRectF, 4> frameBars; // top, left, bottom, right

    static constexpr int titleFontSize = 120;
    static constexpr int nameFontSize = 100;
    static constexpr int dateLineFontSize = 40;
    static constexpr qreal canvasHeight = 650;
};

[[nodiscard]] const BadgeGeometry &badgeGeometry(LabelStock stock);

} // namespace tallybrook
