#include "ui/SettingsView.h"

#include "ui/Icons.h"
#include "ui/SettingsTabs.h"

#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

// A tab taller than the window scrolls rather than squeezing its form.
QScrollArea *scrolling(QWidget *tab, QWidget *parent) {
    auto *area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(tab);
    return area;
}

} // namespace

SettingsView::SettingsView(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment), m_tabs(new QTabWidget(this)) {
    setObjectName(u"settingsView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(m_tabs);
    m_tabs->setObjectName(u"settingsTabs"_s);
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(scrolling(new AccountSettings(m_environment), m_tabs), symbol(u"person.crop.circle"),
                   u"Account"_s);
    m_tabs->addTab(scrolling(new FormSettings(m_environment), m_tabs), symbol(u"list.bullet.rectangle"),
                   u"Form"_s);
    m_tabs->addTab(scrolling(new BadgeSettings(m_environment), m_tabs), symbol(u"printer"), u"Badges"_s);
    m_tabs->addTab(scrolling(new AlertSettings(m_environment), m_tabs), symbol(u"bell"), u"Alerts"_s);
}

} // namespace tallybrook::ui
