#include "export/RollCall.h"

#include "records/DateStyles.h"

#include <QBuffer>
#include <QCollator>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

// The page is laid out in points on an A4 sheet inside half-inch margins, then scaled to the device's page.
constexpr qreal pageWidth = 595 - 2 * 36;
constexpr qreal tickColumn = 22;
constexpr qreal nameColumn = 200;
constexpr qreal hostColumn = 180;

QFont fontOf(qreal pixels, bool bold = false) {
    QFont font(u"DejaVu Sans"_s);
    font.setPixelSize(qRound(pixels));
    font.setBold(bold);
    return font;
}

void text(QPainter &painter, const QRectF &box, const QString &value, Qt::Alignment align = Qt::AlignLeft) {
    const QString shown = QFontMetricsF(painter.font()).elidedText(value, Qt::ElideRight, box.width());
    painter.drawText(box, int(align | Qt::AlignVCenter), shown);
}

} // namespace

RollCall::RollCall(QList<VisitorRow> people, std::optional<QDateTime> asOf, bool unreachable,
                   QString placeName, QLocale locale)
    : m_people(std::move(people)), m_asOf(std::move(asOf)), m_unreachable(unreachable),
      m_placeName(std::move(placeName)), m_locale(std::move(locale)) {
    QCollator collator(m_locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(m_people.begin(), m_people.end(), [&collator](const VisitorRow &a, const VisitorRow &b) {
        return collator.compare(a.visitorName, b.visitorName) < 0;
    });
}

int RollCall::pageCount() const {
    return std::max<int>(1, int((m_people.size() + peoplePerPage - 1) / peoplePerPage));
}

QString RollCall::timeText(const QDateTime &instant) const {
    const QDateTime local = instant.toLocalTime();
    // A list from an earlier day says which day.
    if (local.date() != QDate::currentDate()) {
        return abbreviatedDateTime(instant, m_locale);
    }
    return shortTime(local.time(), m_locale);
}

QString RollCall::statusLine() const {
    const qsizetype count = m_people.size();
    const QString people = count == 0   ? u"Nobody on site"_s
                           : count == 1 ? u"1 person on site"_s
                                        : u"%1 people on site"_s.arg(count);
    if (!m_asOf) {
        return u"The server could not be reached and no list has been loaded yet"_s;
    }
    const QString asOf = u"As of "_s + timeText(*m_asOf);
    return (m_unreachable ? asOf + u", the server could not be reached"_s : asOf) + u" \u00b7 "_s + people;
}

void RollCall::paintPage(QPainter &painter, const QRectF &page, int index) const {
    const qreal scale = page.width() / pageWidth;
    const qreal height = page.height() / scale;
    painter.save();
    painter.translate(page.topLeft());
    painter.scale(scale, scale);
    painter.setPen(Qt::black);

    painter.setFont(fontOf(18, true));
    const QString title = m_placeName.isEmpty() ? u"Roll Call"_s : u"Roll Call \u2014 "_s + m_placeName;
    text(painter, QRectF(0, 0, pageWidth - 90, 26), title);
    painter.setFont(fontOf(9));
    text(painter, QRectF(pageWidth - 90, 0, 90, 26), u"Page %1 of %2"_s.arg(index + 1).arg(pageCount()),
         Qt::AlignRight);
    painter.setFont(fontOf(10));
    text(painter, QRectF(0, 28, pageWidth, 16), statusLine());

    const qreal top = 56;
    painter.setFont(fontOf(9, true));
    text(painter, QRectF(tickColumn, top, nameColumn, 14), u"Name"_s);
    text(painter, QRectF(tickColumn + nameColumn, top, hostColumn, 14), u"Visiting"_s);
    text(painter,
         QRectF(tickColumn + nameColumn + hostColumn, top, pageWidth - tickColumn - nameColumn - hostColumn,
                14),
         u"Signed in"_s);
    painter.drawLine(QPointF(0, top + 16), QPointF(pageWidth, top + 16));

    const qreal first = top + 20;
    const qreal rowHeight = std::min<qreal>(17, (height - first) / peoplePerPage);
    painter.setFont(fontOf(std::min<qreal>(10, rowHeight * 0.62)));
    const qsizetype begin = qsizetype(index) * peoplePerPage;
    const qsizetype end = std::min<qsizetype>(m_people.size(), begin + peoplePerPage);
    for (qsizetype i = begin; i < end; ++i) {
        const VisitorRow &person = m_people.at(i);
        const qreal y = first + qreal(i - begin) * rowHeight;
        const qreal box = std::min<qreal>(10, rowHeight - 4);
        painter.drawRect(QRectF(2, y + (rowHeight - box) / 2, box, box));
        text(painter, QRectF(tickColumn, y, nameColumn - 6, rowHeight), person.visitorName);
        text(painter, QRectF(tickColumn + nameColumn, y, hostColumn - 6, rowHeight),
             person.hostName.value_or(QString()));
        text(painter,
             QRectF(tickColumn + nameColumn + hostColumn, y, pageWidth - tickColumn - nameColumn - hostColumn,
                    rowHeight),
             timeText(person.signedInAt));
    }
    painter.restore();
}

QByteArray RollCall::pdf() const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(72);
    writer.setTitle(u"Roll Call"_s);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(36, 36, 36, 36), QPageLayout::Point));
    QPainter painter(&writer);
    for (int index = 0; index < pageCount(); ++index) {
        if (index > 0) {
            writer.newPage();
        }
        paintPage(painter, writer.pageLayout().paintRectPixels(writer.resolution()), index);
    }
    painter.end();
    return bytes;
}

} // namespace tallybrook
