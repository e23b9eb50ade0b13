#pragma once

#include <QDialog>

namespace tallybrook::ui {

// A sheet whose form has not been built yet: its title and a way to close it. Window-modal over the desk;
// Escape closes it.
class PlaceholderSheet final : public QDialog {
    Q_OBJECT

public:
    PlaceholderSheet(const QString &title, QWidget *parent);
};

} // namespace tallybrook::ui
