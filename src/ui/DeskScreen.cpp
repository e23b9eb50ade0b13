#include "ui/DeskScreen.h"

#include "ui/EmptyState.h"

#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

DeskScreen::DeskScreen(QWidget *parent) : QWidget(parent) {}

PlaceholderScreen::PlaceholderScreen(DeskSection section, QWidget *parent)
    : DeskScreen(parent), m_section(section) {
    setObjectName(u"placeholderScreen"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new EmptyState(symbolName(section), title(), {}, this));
}

QString PlaceholderScreen::title() const {
    return ui::title(m_section);
}

} // namespace tallybrook::ui
