#pragma once

#include "ui/Environment.h"

#include <QWidget>

class QTabWidget;

namespace tallybrook::ui {

// The settings window's content: the Account, Form, Badges and Alerts tabs.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    explicit SettingsView(Environment environment, QWidget *parent = nullptr);

    [[nodiscard]] QTabWidget *tabs() const { return m_tabs; }

    static constexpr int windowWidth = 560;
    static constexpr int minimumHeight = 400;

private:
    Environment m_environment;
    QTabWidget *m_tabs;
};

} // namespace tallybrook::ui
