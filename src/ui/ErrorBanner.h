#pragma once

#include <QWidget>

class QLabel;

namespace tallybrook::ui {

// The model's latest background failure along the bottom of the desk: a warning symbol and the message on a
// pale yellow band. It has no close control; it goes when the message is cleared.
class ErrorBanner final : public QWidget {
    Q_OBJECT

public:
    explicit ErrorBanner(QWidget *parent = nullptr);

    void setMessage(const QString &message);
    [[nodiscard]] QString message() const;
    [[nodiscard]] QLabel *label() const { return m_text; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_icon;
    QLabel *m_text;
};

} // namespace tallybrook::ui
