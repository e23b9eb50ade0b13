#pragma once

#include "ui/Environment.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QAbstractAnimation;
class QLabel;
class QPushButton;
class QVariantAnimation;
class QVBoxLayout;

namespace tallybrook::ui {

// Where the tour stands, drawn as a row of dots with the current one drawn long. Assistive technology reads
// the row as one line of text ("Page 2 of 6") rather than as so many shapes.
class PageDots final : public QWidget {
    Q_OBJECT

public:
    explicit PageDots(int count, QWidget *parent = nullptr);

    void setCurrent(int index);
    [[nodiscard]] int current() const { return m_current; }

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_count;
    int m_current = 0;
    int m_previous = 0;
    QVariantAnimation *m_grow;
};

// The first-run tour: six pages on what the desk does, paged with Back and Continue (or the arrow keys), and
// left early with Skip. Shown in the main window before the first sign-in, and as a sheet from the Help menu.
class OnboardingView final : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingView(Environment environment, QWidget *parent = nullptr);

    static constexpr int pageCount = 6;

    [[nodiscard]] int currentPage() const { return m_current; }
    [[nodiscard]] QSize sizeHint() const override { return {640, 520}; }

Q_SIGNALS:
    // The person finished the tour, or skipped the rest of it.
    void finished();

private:
    void showPage(int index);
    void advance();
    [[nodiscard]] QWidget *buildPage(int index);
    void slide(const QPixmap &outgoing);
    void endSlide();

    Environment m_environment;
    int m_current = 0;
    QWidget *m_stage;
    QVBoxLayout *m_stageLayout;
    QWidget *m_page = nullptr;
    QPushButton *m_skip;
    QPushButton *m_back;
    PageDots *m_dots;
    QPushButton *m_primary;
    QPointer<QAbstractAnimation> m_slide;
    QPointer<QLabel> m_snapshot;
};

} // namespace tallybrook::ui
