#pragma once

#include "records/SetupRecords.h"
#include "ui/Environment.h"

#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// The four tabs of the settings window. Each holds a draft of what it edits only while it is showing: it is
// rebuilt from the model each time the tab appears, and nothing reaches the account without its Save button
// (this computer's badge preferences and arrival notices are the exception: they are stored at once).
namespace tallybrook::ui {

// The signed-in account: its address, the web dashboard, signing out, a new password, deleting the account.
class AccountSettings final : public QWidget {
    Q_OBJECT

public:
    explicit AccountSettings(Environment environment, QWidget *parent = nullptr);
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuildSession();
    void changePassword();
    void confirmDeletion();
    void setMessage(const std::optional<QString> &message);

    Environment m_environment;
    std::optional<QString> m_message;
    QWidget *m_signedIn = nullptr;
    QLabel *m_signedOut = nullptr;
    QLabel *m_email = nullptr;
    QLineEdit *m_password = nullptr;
    QPushButton *m_changePassword = nullptr;
    QLabel *m_messageLabel = nullptr;
};

// One question of the form as the tab edits it.
struct FieldSlot {
    int id = 0; // 0 to 5, the question's slot
    bool isOn = false;
    QString label;
    FieldType type = FieldType::PlainText;
    bool required = false;
    bool employeeList = false;

    friend bool operator==(const FieldSlot &, const FieldSlot &) = default;
};

// The sign-in questions the desk and the kiosks ask, six slots, and the place name of invite e-mails.
class FormSettings final : public QWidget {
    Q_OBJECT

public:
    explicit FormSettings(Environment environment, QWidget *parent = nullptr);

    static constexpr int slotCount = 6;
    // The slots a saved form gives: its field in each slot, the name question always on and required.
    [[nodiscard]] static QList<FieldSlot> slotsOf(const KioskSettings &settings);
    [[nodiscard]] QList<FieldSlot> slots() const;
    [[nodiscard]] bool canSave() const;
    [[nodiscard]] bool isSaving() const { return m_isSaving; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    void save();

protected:
    void showEvent(QShowEvent *event) override;

private:
    struct SlotControls {
        QCheckBox *isOn = nullptr;
        QLineEdit *label = nullptr;
        QComboBox *type = nullptr;
        QWidget *options = nullptr;
        QCheckBox *required = nullptr;
        QCheckBox *employeeList = nullptr;
    };

    void load();
    void sync();

    Environment m_environment;
    QList<SlotControls> m_slots;
    QLineEdit *m_place = nullptr;
    bool m_isSaving = false;
    bool m_isLoading = false;
    std::optional<QString> m_message;
    QLabel *m_messageLabel = nullptr;
    QPushButton *m_save = nullptr;
};

// This computer's badges: the printer, the label roll, when to print, a preview and a test print.
class BadgeSettings final : public QWidget {
    Q_OBJECT

public:
    explicit BadgeSettings(Environment environment, QWidget *parent = nullptr);
    [[nodiscard]] const std::optional<QString> &testResult() const { return m_testResult; }
    void printTestBadge();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void updatePreview();

    Environment m_environment;
    std::optional<QString> m_testResult;
    QComboBox *m_printer = nullptr;
    QComboBox *m_stock = nullptr;
    QCheckBox *m_autoPrint = nullptr;
    QCheckBox *m_showDialog = nullptr;
    QLabel *m_preview = nullptr;
    QLabel *m_testLabel = nullptr;
};

// Where host alerts go: the office webhook, the two events, a test message, the setup guide; and whether this
// computer shows a notice when a visitor signs in on another device.
class AlertSettings final : public QWidget {
    Q_OBJECT

public:
    explicit AlertSettings(Environment environment, QWidget *parent = nullptr);

    [[nodiscard]] NotificationSettings draft() const;
    [[nodiscard]] bool canSave() const;
    [[nodiscard]] bool canTest() const;
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }
    void save();
    void sendTestMessage();

    // Tests only: where a test message goes instead of the office address (a local receiver).
    static void setTestRoute(std::function<QUrl(const QUrl &)> route);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void sync();
    void setMessage(const std::optional<QString> &message);

    Environment m_environment;
    NotificationSettings m_loaded;
    bool m_isTesting = false;
    bool m_isSaving = false;
    std::optional<QString> m_message;
    QLineEdit *m_office = nullptr;
    QWidget *m_serviceRow = nullptr;
    QLabel *m_service = nullptr;
    QLabel *m_officeProblem = nullptr;
    QCheckBox *m_signIn = nullptr;
    QCheckBox *m_signOut = nullptr;
    QCheckBox *m_arrivalNotices = nullptr;
    QLabel *m_messageLabel = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_test = nullptr;
};

} // namespace tallybrook::ui
