#include "badges/BadgeDrawing.h"

#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

QFont badgeFont(int size) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(size);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    // The same line breaks on screen, on the image and on the label, whatever each device's resolution.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// Centred horizontally and set from the rectangle's top; lines break at word boundaries, and a word wider
// than the rectangle breaks where it must rather than spill out sideways. What does not fit below is cut off
// by whole lines, as the Mac's text system does it: a line sliced through its letters reads as a printing
// fault.
void drawTextIn(QPainter &painter, const QString &text, const QRectF &rect, int fontSize,
                const QColor &color) {
    if (text.isEmpty())
        return;
    QTextLayout layout(text, badgeFont(fontSize));
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    // Nothing below the rectangle is laid out: a pasted essay costs nothing.
    while (y < rect.height()) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();

    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setPen(color);
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        // The first line always shows, clipped should even it be too tall.
        if (i > 0 && line.y() + line.height() > rect.height())
            break;
        line.draw(&painter, rect.topLeft());
    }
    painter.restore();
}

} // namespace

QString badgeDateLine(const QDateTime &timestamp, const QLocale &locale, const QTimeZone &zone) {
    if (!timestamp.isValid())
        return {};
    // "Ap" is the locale's own AM/PM text, unchanged in case.
    return locale.toString(timestamp.toTimeZone(zone), u"ddd, MMM d       hh:mm Ap");
}

QColor badgeAccentColor(LabelStock stock) {
    switch (stock) {
    case LabelStock::Dk2205:
        return QColor(Qt::red);
    case LabelStock::Dk1234:
        return QColor(Qt::black);
    }
    Q_UNREACHABLE();
}

void drawBadge(QPainter &painter, const Badge &badge) {
    const BadgeGeometry &geometry = badgeGeometry(badge.stock);
    const QRectF canvas(QPointF(0, 0), geometry.canvas);
    const QColor accent = badgeAccentColor(badge.stock);

    painter.save();
    painter.setClipRect(canvas, Qt::IntersectClip);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.fillRect(canvas, Qt::white);
    drawTextIn(painter, badge.name, geometry.nameRect, BadgeGeometry::nameFontSize, Qt::black);
    drawTextIn(painter, badgeDateLine(badge.timestamp, badge.locale, badge.timeZone), geometry.dateLineRect,
               BadgeGeometry::dateLineFontSize, Qt::black);
    drawTextIn(painter, u"Visitor"_s, geometry.titleRect, BadgeGeometry::titleFontSize, accent);
    for (const QRectF &bar : geometry.frameBars)
        painter.fillRect(bar, accent);
    painter.restore();
}

QImage badgeImage(const Badge &badge, qreal scale) {
    const QSizeF canvas = badgeGeometry(badge.stock).canvas;
    QImage image((canvas * scale).toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(scale, scale);
    drawBadge(painter, badge);
    return image;
}

QPageSize BadgePage::pageSize() const {
    const BadgeGeometry &geometry = badgeGeometry(m_badge.stock);
    return QPageSize(geometry.labelPoints.transposed(), QPageSize::Point, labelStockCode(m_badge.stock),
                     QPageSize::ExactMatch);
}

void BadgePage::paint(QPainter &painter, const QRectF &page) const {
    const QSizeF canvas = badgeGeometry(m_badge.stock).canvas;
    painter.save();
    painter.translate(page.topLeft());
    painter.scale(page.width() / canvas.width(), page.height() / canvas.height());
    drawBadge(painter, m_badge);
    painter.restore();
}

} // namespace tallybrook
