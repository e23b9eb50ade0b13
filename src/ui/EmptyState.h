#pragma once

#include <QString>
#include <QStringView>
#include <QWidget>

class QPushButton;

namespace tallybrook::ui {

// The centred picture of a screen with nothing to show: a symbol, a title and, optionally, a line saying what
// would appear here.
class EmptyState final : public QWidget {
    Q_OBJECT

public:
    EmptyState(QStringView symbolName, const QString &title, const QString &description = {},
               QWidget *parent = nullptr);

    // A button under the text, for what would fill the screen.
    QPushButton *addButton(const QString &text);
};

} // namespace tallybrook::ui
