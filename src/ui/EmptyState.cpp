#include "ui/EmptyState.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

EmptyState::EmptyState(QStringView symbolName, const QString &title, const QString &description,
                       QWidget *parent)
    : QWidget(parent) {
    setObjectName(u"emptyState"_s);
    setAccessibleName(description.isEmpty() ? title : title + u". "_s + description);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->setSpacing(12);
    layout->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setObjectName(u"emptyStateIcon"_s);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(
        tintedSymbol(symbolName, QSize(44, 44), secondaryTextColor(palette()), devicePixelRatioF()));
    layout->addWidget(icon);

    auto *heading = new QLabel(title, this);
    heading->setObjectName(u"emptyStateTitle"_s);
    heading->setAlignment(Qt::AlignCenter);
    setTextStyle(heading, TextStyle::Title2, QFont::DemiBold);
    setTextColor(heading, secondaryTextColor(palette()));
    layout->addWidget(heading);

    if (!description.isEmpty()) {
        auto *text = new QLabel(description, this);
        text->setObjectName(u"emptyStateDescription"_s);
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        setTextStyle(text, TextStyle::Callout);
        setTextColor(text, secondaryTextColor(palette()));
        layout->addWidget(text);
    }
    layout->addStretch(1);
}

QPushButton *EmptyState::addButton(const QString &text) {
    auto *button = new QPushButton(text, this);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    auto *layout = static_cast<QVBoxLayout *>(this->layout());
    // Above the closing stretch, centred like the text.
    layout->insertWidget(layout->count() - 1, button, 0, Qt::AlignHCenter);
    return button;
}

} // namespace tallybrook::ui
