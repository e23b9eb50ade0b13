#pragma once

#include "ui/DeskActions.h"
#include "ui/DeskScreen.h"
#include "ui/Environment.h"

#include <QDialog>
#include <QPointer>

#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedLayout;
class QToolButton;

namespace tallybrook::ui {

class BusyIndicator;
class EmptyState;

// Adds an employee (no original name) or edits one: the name and a personal webhook. A failed save keeps the
// sheet open with what was typed.
class EmployeeSheet final : public QDialog {
    Q_OBJECT

public:
    EmployeeSheet(Environment environment, std::optional<QString> original, QWidget *parent = nullptr);

    [[nodiscard]] bool isSaving() const { return m_isSaving; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    [[nodiscard]] bool canSave() const;
    void save();

private:
    void syncControls();
    void setMessage(const std::optional<QString> &message);

    Environment m_environment;
    std::optional<QString> m_original;
    bool m_isSaving = false;
    std::optional<QString> m_message;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_webhook = nullptr;
    QLabel *m_webhookProblem = nullptr;
    QLabel *m_messageLabel = nullptr;
    BusyIndicator *m_busy = nullptr;
    QPushButton *m_saveButton = nullptr;
};

// The people visitors come to see: the account's employee list, each with a bell when alerts for them go to a
// webhook of their own. Every change is saved to the account at once.
class EmployeesView final : public DeskScreen {
    Q_OBJECT

public:
    explicit EmployeesView(Environment environment, QWidget *parent = nullptr);
    ~EmployeesView() override;

    [[nodiscard]] QString title() const override;
    [[nodiscard]] QWidget *toolbarItems() const override { return m_toolbarItems; }

    [[nodiscard]] std::optional<QString> selection() const;
    void select(const QString &name);
    [[nodiscard]] EmployeeSheet *sheet() const { return m_sheet; }
    // The message of the "Something went wrong" alert while it shows.
    [[nodiscard]] const std::optional<QString> &problem() const { return m_problem.message(); }

    // Opens the employee sheet: for adding without a name, else for editing that employee.
    void openSheet(const std::optional<QString> &original);
    void remove(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    void syncToolbar();

    Environment m_environment;
    ProblemAlert m_problem;
    QPointer<EmployeeSheet> m_sheet;

    QWidget *m_toolbarItems = nullptr;
    QToolButton *m_editButton = nullptr;
    QToolButton *m_removeButton = nullptr;
    QWidget *m_hint = nullptr;
    QStackedLayout *m_stack = nullptr;
    QListWidget *m_list = nullptr;
    EmptyState *m_empty = nullptr;
};

} // namespace tallybrook::ui
