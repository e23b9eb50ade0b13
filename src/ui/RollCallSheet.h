#pragma once

#include "export/RollCall.h"
#include "ui/Environment.h"

#include <QDialog>

#include <optional>

class QLabel;
class QPushButton;

namespace tallybrook::ui {

class BusyIndicator;

// File > Roll Call: everyone on site, for an evacuation, to print or to save as a PDF. It loads the latest
// list first; when the server cannot be reached it uses the last one loaded and says so on every page.
class RollCallSheet final : public QDialog {
    Q_OBJECT

public:
    explicit RollCallSheet(Environment environment, QWidget *parent = nullptr);

    // Once the list is there.
    [[nodiscard]] const std::optional<RollCall> &rollCall() const { return m_rollCall; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    void print();
    void saveAsPdf();

private:
    void load();
    void setMessage(const std::optional<QString> &message);

    Environment m_environment;
    std::optional<RollCall> m_rollCall;
    std::optional<QString> m_message;
    QLabel *m_status = nullptr;
    QLabel *m_messageLabel = nullptr;
    BusyIndicator *m_busy = nullptr;
    QPushButton *m_print = nullptr;
    QPushButton *m_save = nullptr;
};

} // namespace tallybrook::ui
