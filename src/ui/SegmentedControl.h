#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QToolButton;

namespace tallybrook::ui {

// A row of joined, mutually exclusive buttons: one choice of a few, all in view.
class SegmentedControl final : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList &titles, QWidget *parent = nullptr);

    [[nodiscard]] int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);
    [[nodiscard]] QToolButton *segment(int index) const;
    [[nodiscard]] int count() const { return int(m_segments.size()); }

Q_SIGNALS:
    // Only when the person or setCurrentIndex() changes the choice.
    void currentIndexChanged(int index);

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyLook();

    QButtonGroup *m_group;
    QList<QToolButton *> m_segments;
    int m_current = 0;
};

} // namespace tallybrook::ui
