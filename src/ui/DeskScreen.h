#pragma once

#include "ui/DeskSection.h"

#include <QString>
#include <QWidget>

namespace tallybrook::ui {

// One screen of the desk's detail area. Its title (and subtitle) appear in the desk's toolbar, next to the
// controls the screen adds there.
class DeskScreen : public QWidget {
    Q_OBJECT

public:
    explicit DeskScreen(QWidget *parent = nullptr);

    [[nodiscard]] virtual QString title() const = 0;
    // Empty for none.
    [[nodiscard]] virtual QString subtitle() const { return {}; }
    // The screen's own toolbar controls, owned by the screen; null for none.
    [[nodiscard]] virtual QWidget *toolbarItems() const { return nullptr; }

Q_SIGNALS:
    void headingChanged();
};

} // namespace tallybrook::ui
