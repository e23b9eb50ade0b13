#include "ui/Style.h"

#include "ui/Icons.h"

#include <QApplication>
#include <QMenu>
#include <QToolButton>
#include <QWidget>

namespace tallybrook::ui {

namespace {

qreal scaleOf(TextStyle style) {
    switch (style) {
    case TextStyle::LargeTitle:
        return 26.0 / 13.0;
    case TextStyle::Title:
        return 22.0 / 13.0;
    case TextStyle::Title2:
        return 17.0 / 13.0;
    case TextStyle::Title3:
        return 15.0 / 13.0;
    case TextStyle::Headline:
    case TextStyle::Body:
        return 1.0;
    case TextStyle::Callout:
        return 12.0 / 13.0;
    case TextStyle::Caption:
        return 10.0 / 13.0;
    }
    return 1.0;
}

} // namespace

QFont font(TextStyle style, QFont::Weight weight) {
    QFont result = QApplication::font();
    if (result.pointSizeF() > 0) {
        result.setPointSizeF(result.pointSizeF() * scaleOf(style));
    } else {
        result.setPixelSize(qRound(result.pixelSize() * scaleOf(style)));
    }
    if (style == TextStyle::Headline && weight == QFont::Normal) {
        weight = QFont::DemiBold;
    }
    result.setWeight(weight);
    return result;
}

void setTextStyle(QWidget *widget, TextStyle style, QFont::Weight weight) {
    widget->setFont(font(style, weight));
}

QColor secondaryTextColor(const QPalette &palette) {
    return palette.color(QPalette::Active, QPalette::PlaceholderText);
}

QColor errorTextColor(const QPalette &palette) {
    // The system red, a little darker on light windows so that it reads as text.
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xff, 0x45, 0x3a)
                                                             : QColor(0xd7, 0x00, 0x15);
}

QColor accentColor(const QPalette &palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

void setTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
    }
    widget->setPalette(palette);
}

QColor textColor(const QWidget *widget) {
    return widget->palette().color(QPalette::Active, QPalette::WindowText);
}

QToolButton *toolbarButton(const QString &text, QStringView symbolName, const QString &toolTip,
                           QWidget *parent, Qt::ToolButtonStyle style) {
    auto *button = new QToolButton(parent);
    button->setText(text);
    button->setAccessibleName(text);
    button->setIcon(symbol(symbolName));
    button->setIconSize(QSize(18, 18));
    button->setToolButtonStyle(style);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setToolTip(toolTip);
    return button;
}

void setPressMenu(QToolButton *button, QMenu *menu) {
    button->setMenu(menu);
    button->setPopupMode(QToolButton::DelayedPopup);
    if (button->toolButtonStyle() == Qt::ToolButtonIconOnly) {
        // A symbol alone says there is a menu; the style's arrow would sit on top of it.
        button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    }
    // Queued: the menu runs its own event loop, and the press that asked for it should return first.
    QObject::connect(button, &QToolButton::clicked, button, &QToolButton::showMenu, Qt::QueuedConnection);
}

} // namespace tallybrook::ui
