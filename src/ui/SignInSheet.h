#pragma once

#include "model/VisitorDraft.h"
#include "records/InviteRecords.h"
#include "records/SetupRecords.h"
#include "ui/Environment.h"

#include <QDialog>
#include <QList>

#include <optional>

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallybrook::ui {

class BusyIndicator;

// The sheet in which the desk signs a visitor in: the account's form, an "Expected" picker of the open
// invites whose choice fills in the guest's answers, and the badge's fate. A badge that did not print leaves
// the sheet open and empty for the next visitor, with a red line naming the one who is signed in.
class SignInSheet final : public QDialog {
    Q_OBJECT

public:
    // `invite`: the expected guest to sign in, chosen in the picker; none for a walk-in.
    SignInSheet(Environment environment, std::optional<Invite> invite, QWidget *parent = nullptr);

    [[nodiscard]] const VisitorDraft &draft() const { return m_draft; }
    [[nodiscard]] const std::optional<Invite> &invite() const { return m_invite; }
    [[nodiscard]] const QList<Invite> &expected() const { return m_expected; }
    [[nodiscard]] bool isSaving() const { return m_isSaving; }
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }

    // The text field of a form slot; null when the form has no such field.
    [[nodiscard]] QLineEdit *answerField(int slot) const;
    // The offer to use an expected guest's invite for the name typed as a walk-in; hidden when there is none.
    [[nodiscard]] QPushButton *suggestion() const { return m_suggestion; }

    void signIn();

private:
    void loadExpected();
    void rebuildForm();
    void syncPicker();
    void chooseInvite(const std::optional<Invite> &invite);
    void updateSuggestion();
    void showDraft();
    void setMessage(const std::optional<QString> &message);
    void setSaving(bool saving);

    Environment m_environment;
    std::optional<Invite> m_invite;
    VisitorDraft m_draft;
    QList<Invite> m_expected;
    // The picker's invites, after its first choice "Walk-in".
    QList<Invite> m_choices;
    std::optional<Invite> m_suggested;
    bool m_isSaving = false;
    bool m_isShowingDraft = false;
    std::optional<QString> m_message;

    QFormLayout *m_form = nullptr;
    QComboBox *m_picker = nullptr;
    QList<QPair<int, QLineEdit *>> m_fields;
    QPushButton *m_suggestion = nullptr;
    QLabel *m_messageLabel = nullptr;
    QWidget *m_autoPrintNote = nullptr;
    BusyIndicator *m_busy = nullptr;
    QPushButton *m_signInButton = nullptr;
};

} // namespace tallybrook::ui
