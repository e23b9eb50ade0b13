#pragma once

#include "badges/LabelStock.h"

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QRectF>
#include <QString>
#include <QTimeZone>

class QPainter;

namespace tallybrook {

// What one badge shows. The locale and time zone word the date line; they default to the user's.
struct Badge {
    QString name; // as entered
    LabelStock stock = LabelStock::Dk2205;
    QDateTime timestamp;
    QLocale locale;
    QTimeZone timeZone = QTimeZone::systemTimeZone();
};

// The date line of a badge: abbreviated weekday, abbreviated month, day, seven spaces, the hour on a 12-hour
// clock with two digits, minutes and the locale's AM/PM marker ("Tue, Mar 4       09:05 AM" in en_US).
[[nodiscard]] QString badgeDateLine(const QDateTime &timestamp, const QLocale &locale, const QTimeZone &zone);

// The colour of the title and the frame: red on the continuous roll, black on the name badge labels.
[[nodiscard]] QColor badgeAccentColor(LabelStock stock);

// Draws the badge in canvas units (y downward from the top edge; canvas width x 650 from the origin). The
// caller maps the canvas onto its device; nothing is drawn outside the canvas. Texts wrap within their
// rectangles and are cut off below them; their font size never shrinks.
void drawBadge(QPainter &painter, const Badge &badge);

// The badge on an image of the canvas' size times `scale`, as the settings preview and the tests see it.
[[nodiscard]] QImage badgeImage(const Badge &badge, qreal scale = 1.0);

// One badge as a printable page: the label's size, landscape, no margins, the canvas stretched over the whole
// page.
class BadgePage final {
public:
    explicit BadgePage(Badge badge) : m_badge(std::move(badge)) {}

    static constexpr QPageLayout::Orientation orientation = QPageLayout::Landscape;

    // The label in its upright form (narrow side across), named by the stock's code; landscape turns it.
    [[nodiscard]] QPageSize pageSize() const;
    [[nodiscard]] const Badge &badge() const { return m_badge; }

    // Stretches the canvas over `page`, which is in the painter's coordinates.
    void paint(QPainter &painter, const QRectF &page) const;

private:
    Badge m_badge;
};

} // namespace tallybrook
