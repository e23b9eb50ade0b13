#include "ui/ErrorBanner.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

ErrorBanner::ErrorBanner(QWidget *parent)
    : QWidget(parent), m_icon(new QLabel(this)), m_text(new QLabel(this)) {
    setObjectName(u"errorBanner"_s);
    setAccessibleName(u"Error"_s);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    m_icon->setObjectName(u"errorBannerIcon"_s);
    const int side = QFontMetrics(ui::font(TextStyle::Callout)).height();
    m_icon->setPixmap(symbol(u"exclamationmark.triangle").pixmap(QSize(side, side), devicePixelRatioF()));
    m_icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_icon, 0, Qt::AlignTop);

    m_text->setObjectName(u"errorBannerText"_s);
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_text->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setTextStyle(m_text, TextStyle::Callout);
    layout->addWidget(m_text, 1);
}

void ErrorBanner::setMessage(const QString &message) {
    m_text->setText(message);
    m_text->setAccessibleName(message);
}

QString ErrorBanner::message() const {
    return m_text->text();
}

void ErrorBanner::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    // The system yellow at a fifth of its strength: present without shouting.
    QColor yellow(0xff, 0xcc, 0x00);
    yellow.setAlphaF(0.2f);
    painter.fillRect(rect(), yellow);
}

} // namespace tallybrook::ui
