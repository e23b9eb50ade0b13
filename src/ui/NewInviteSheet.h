#pragma once

#include "model/VisitorDraft.h"
#include "ui/Environment.h"

#include <QDialog>
#include <QList>

#include <optional>

class QCheckBox;
class QDateEdit;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimeEdit;

namespace tallybrook::ui {

class BusyIndicator;

// The sheet that invites a guest ahead of their visit: their answers to the account's form, the address the
// invite goes to, an optional day and time, and a note. A failure keeps everything typed.
class NewInviteSheet final : public QDialog {
    Q_OBJECT

public:
    explicit NewInviteSheet(Environment environment, QWidget *parent = nullptr);

    [[nodiscard]] bool isSending() const { return m_isSending; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    // The text field of a form slot; null when the form has no such field.
    [[nodiscard]] QLineEdit *answerField(int slot) const;

    void send();

    static constexpr qsizetype answerLimit = 200;

private:
    void rebuildForm();
    void syncDateControls();
    void fitNote();
    void setMessage(const std::optional<QString> &message);
    void setSending(bool sending);

    Environment m_environment;
    VisitorDraft m_draft;
    bool m_isSending = false;
    std::optional<QString> m_message;

    QFormLayout *m_form = nullptr;
    QList<QPair<int, QLineEdit *>> m_fields;
    QLineEdit *m_email = nullptr;
    QCheckBox *m_hasDate = nullptr;
    QDateEdit *m_date = nullptr;
    QCheckBox *m_hasTime = nullptr;
    QTimeEdit *m_time = nullptr;
    QPlainTextEdit *m_note = nullptr;
    QLabel *m_messageLabel = nullptr;
    BusyIndicator *m_busy = nullptr;
    QPushButton *m_sendButton = nullptr;
};

} // namespace tallybrook::ui
