#pragma once

#include <QTimer>
#include <QWidget>

namespace tallybrook::ui {

// The small spinning progress indicator shown while a request runs. It turns only while visible.
class BusyIndicator final : public QWidget {
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer m_timer;
    int m_angle = 0;
};

} // namespace tallybrook::ui
