#pragma once

#include <QWidget>

namespace tallybrook::ui {

// The first-run tour. For now its welcome alone, with the button that ends it.
class OnboardingView final : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingView(QWidget *parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override { return {640, 520}; }

Q_SIGNALS:
    // The person finished the tour.
    void finished();
};

} // namespace tallybrook::ui
