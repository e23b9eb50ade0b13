#include "ui/SettingsView.h"

#include "ui/Style.h"

#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

SettingsView::SettingsView(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment), m_tabs(new QTabWidget(this)) {
    setObjectName(u"settingsView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_tabs);
    m_tabs->setObjectName(u"settingsTabs"_s);
    m_tabs->setDocumentMode(true);
    for (const QString &name : {u"Account"_s, u"Form"_s, u"Badges"_s, u"Alerts"_s}) {
        auto *page = new QWidget(m_tabs);
        auto *pageLayout = new QVBoxLayout(page);
        auto *heading = new QLabel(name, page);
        heading->setAlignment(Qt::AlignCenter);
        setTextStyle(heading, TextStyle::Title2, QFont::DemiBold);
        setTextColor(heading, secondaryTextColor(palette()));
        pageLayout->addWidget(heading);
        m_tabs->addTab(page, name);
    }
}

} // namespace tallybrook::ui
