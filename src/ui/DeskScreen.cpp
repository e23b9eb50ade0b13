#include "ui/DeskScreen.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

DeskScreen::DeskScreen(QWidget *parent) : QWidget(parent) {}

PlaceholderScreen::PlaceholderScreen(DeskSection section, QWidget *parent)
    : DeskScreen(parent), m_section(section) {
    setObjectName(u"placeholderScreen"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(12);
    layout->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setObjectName(u"emptyStateIcon"_s);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(
        tintedSymbol(symbolName(section), QSize(44, 44), secondaryTextColor(palette()), devicePixelRatioF()));
    layout->addWidget(icon);

    auto *heading = new QLabel(title(), this);
    heading->setObjectName(u"emptyStateTitle"_s);
    heading->setAlignment(Qt::AlignCenter);
    setTextStyle(heading, TextStyle::Title2, QFont::DemiBold);
    setTextColor(heading, secondaryTextColor(palette()));
    layout->addWidget(heading);
    layout->addStretch(1);
}

QString PlaceholderScreen::title() const {
    return ui::title(m_section);
}

} // namespace tallybrook::ui
