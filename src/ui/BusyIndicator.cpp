#include "ui/BusyIndicator.h"

#include "ui/Style.h"

#include <QPainter>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

BusyIndicator::BusyIndicator(QWidget *parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(u"In progress"_s);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

QSize BusyIndicator::sizeHint() const {
    return {16, 16};
}

void BusyIndicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height()) - 2.0;
    const QRectF box((width() - side) / 2, (height() - side) / 2, side, side);
    QColor track = secondaryTextColor(palette());
    track.setAlphaF(0.3f);
    painter.setPen(QPen(track, 2.0));
    painter.drawEllipse(box);
    painter.setPen(QPen(secondaryTextColor(palette()), 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(box, -m_angle * 16, 100 * 16);
}

void BusyIndicator::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    m_timer.stop();
}

} // namespace tallybrook::ui
