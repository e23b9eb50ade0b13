#include "ui/SignInSheet.h"

#include "badges/BadgePrinter.h"
#include "ui/AnswerField.h"
#include "ui/BusyIndicator.h"
#include "ui/DeskActions.h"
#include "ui/Icons.h"
#include "ui/SheetParts.h"
#include "ui/Style.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>
#include <qcorotask.h>

#include <algorithm>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

struct SignInResult {
    std::optional<BadgePrintOutcome> badge; // none when the visitor was not stored
    QString error;
};

QCoro::Task<SignInResult> signInVisitor(AppModel &model, VisitorDraft draft, std::optional<Invite> invite) {
    try {
        // Awaited into a local: GCC 12 miscompiles a co_await inside a braced initializer.
        const BadgePrintOutcome badge = co_await model.signIn(std::move(draft), std::move(invite));
        co_return SignInResult{badge, {}};
    } catch (const std::exception &error) {
        co_return SignInResult{std::nullopt, errorMessage(error)};
    }
}

// A failed load is dropped: the picker then offers only "Walk-in".
QCoro::Task<std::optional<QList<Invite>>> openInvites(CloudClient &cloud,
                                                      std::shared_ptr<RequestScope> scope) {
    try {
        co_return co_await cloud.loadInvites(true, 200, std::move(scope));
    } catch (const std::exception &) {
        co_return std::nullopt;
    }
}

} // namespace

SignInSheet::SignInSheet(Environment environment, std::optional<Invite> invite, QWidget *parent)
    : QDialog(parent), m_environment(environment), m_invite(std::move(invite)) {
    setFixedWidth(460);
    if (m_invite) {
        m_draft = VisitorDraft::fromInvite(*m_invite);
    }

    QVBoxLayout *layout = beginSheet(this, u"signInSheet"_s, u"Sign In Visitor"_s, 20);
    addSheetHeading(layout, u"Sign In Visitor"_s, this);

    m_form = new QFormLayout;
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_form->setSpacing(10);
    m_picker = new QComboBox(this);
    m_picker->setObjectName(u"expectedPicker"_s);
    m_picker->setAccessibleName(u"Expected"_s);
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        chooseInvite(index <= 0 || index > m_choices.size() ? std::nullopt
                                                            : std::optional(m_choices.at(index - 1)));
    });
    m_form->addRow(u"Expected"_s, m_picker);
    layout->addLayout(m_form);

    m_messageLabel = addSheetMessage(layout, this);
    const SheetButtons buttons = addSheetButtons(layout, this, u"Sign In"_s, u"signInButton"_s);
    m_busy = buttons.busy;
    m_signInButton = buttons.primary;
    connect(m_signInButton, &QPushButton::clicked, this, &SignInSheet::signIn);

    m_autoPrintNote = new QWidget(this);
    m_autoPrintNote->setObjectName(u"autoPrintNote"_s);
    auto *note = new QHBoxLayout(m_autoPrintNote);
    note->setContentsMargins(0, 0, 0, 0);
    note->setSpacing(4);
    const int side = QFontMetrics(ui::font(TextStyle::Callout)).height();
    auto *printerIcon = new QLabel(m_autoPrintNote);
    printerIcon->setPixmap(
        tintedSymbol(u"printer", QSize(side, side), secondaryTextColor(palette()), devicePixelRatioF()));
    note->addWidget(printerIcon);
    auto *noteText = new QLabel(u"A badge will print"_s, m_autoPrintNote);
    setTextStyle(noteText, TextStyle::Callout);
    setTextColor(noteText, secondaryTextColor(palette()));
    note->addWidget(noteText);
    m_autoPrintNote->setVisible(m_environment.printer().autoPrint());
    buttons.row->insertWidget(0, m_autoPrintNote);

    rebuildForm();
    syncPicker();
    connect(&m_environment.model, &AppModel::settingsChanged, this, &SignInSheet::rebuildForm);
    loadExpected();
}

QLineEdit *SignInSheet::answerField(int slot) const {
    for (const auto &[fieldSlot, edit] : m_fields) {
        if (fieldSlot == slot) {
            return edit;
        }
    }
    return nullptr;
}

void SignInSheet::rebuildForm() {
    // The form may arrive while the sheet is open (its first load failed); what was typed stays in the draft.
    while (m_form->rowCount() > 1) {
        m_form->removeRow(1);
    }
    m_fields.clear();
    m_suggestion = nullptr;
    const KioskSettings &settings = m_environment.model.settings();
    QWidget *previous = m_picker;
    for (const KioskField &field : settings.fields) {
        const int slot = field.slot;
        QLineEdit *edit =
            addAnswerField(m_form, this, field, settings.employees, [this, slot](const QString &text) {
                if (!m_isShowingDraft) {
                    m_draft.answers.insert(slot, text);
                    if (slot == 0) {
                        updateSuggestion();
                    }
                }
            });
        setTabOrder(previous, edit);
        previous = edit;
        m_fields.append({slot, edit});
        if (slot == 0) {
            // Right under the name, where the receptionist is looking while typing it.
            m_suggestion = new QPushButton(this);
            m_suggestion->setObjectName(u"expectedSuggestion"_s);
            m_suggestion->setFlat(true);
            m_suggestion->setCursor(Qt::PointingHandCursor);
            m_suggestion->setStyleSheet(
                u"QPushButton { text-align: left; padding: 0; color: palette(link); }"_s);
            m_suggestion->hide();
            connect(m_suggestion, &QPushButton::clicked, this, [this] {
                if (const std::optional<Invite> invite = m_suggested) {
                    chooseInvite(invite);
                    syncPicker();
                    if (m_fields.size() > 1) {
                        m_fields.at(1).second->setFocus();
                    }
                }
            });
            m_form->addRow(QString(), m_suggestion);
            setTabOrder(edit, m_suggestion);
            previous = m_suggestion;
        }
    }
    showDraft();
}

void SignInSheet::updateSuggestion() {
    m_suggested.reset();
    const QString name = m_draft.answers.value(0).simplified();
    if (!m_invite && !name.isEmpty()) {
        const QDate today = QDateTime::currentDateTime().date();
        for (const Invite &invite : std::as_const(m_expected)) {
            // Guests of today, and those invited without a date; case, accents and extra spaces aside.
            const std::optional<QDateTime> day = invite.visitDay();
            if ((!day || day->date() == today) &&
                sameIgnoringCaseAndDiacritics(name, invite.visitorName.simplified())) {
                m_suggested = invite;
                break;
            }
        }
    }
    if (!m_suggestion) {
        return;
    }
    if (m_suggested) {
        const QString text = u"Expected: "_s + m_suggested->visitorName + u" \u2014 use the invite"_s;
        m_suggestion->setText(text);
        m_suggestion->setAccessibleName(text);
    }
    m_suggestion->setVisible(bool(m_suggested));
}

void SignInSheet::showDraft() {
    const QScopedValueRollback showing(m_isShowingDraft, true);
    for (const auto &[slot, edit] : std::as_const(m_fields)) {
        edit->setText(m_draft.answers.value(slot));
    }
    updateSuggestion();
}

void SignInSheet::loadExpected() {
    QCoro::connect(openInvites(m_environment.cloud(), m_environment.model.requestScope()), this,
                   [this](const std::optional<QList<Invite>> &invites) {
                       const QDateTime now = QDateTime::currentDateTimeUtc();
                       m_expected.clear();
                       for (const Invite &invite : invites.value_or(QList<Invite>())) {
                           if (!invite.isPast(now)) {
                               m_expected.append(invite);
                           }
                       }
                       syncPicker();
                       updateSuggestion(); // a name typed before the invites arrived
                   });
}

void SignInSheet::syncPicker() {
    const QSignalBlocker quiet(m_picker);
    m_picker->clear();
    m_choices = m_expected;
    // The guest the Invites screen handed over stays the choice even when the load did not bring them.
    const auto chosen = [this](const Invite &invite) { return m_invite && invite.id == m_invite->id; };
    if (m_invite && std::none_of(m_choices.cbegin(), m_choices.cend(), chosen)) {
        m_choices.prepend(*m_invite);
    }
    m_picker->addItem(u"Walk-in"_s);
    int current = 0;
    for (const Invite &invite : std::as_const(m_choices)) {
        m_picker->addItem(invite.visitorName);
        if (chosen(invite)) {
            current = m_picker->count() - 1;
        }
    }
    m_picker->setCurrentIndex(current);
}

void SignInSheet::chooseInvite(const std::optional<Invite> &invite) {
    m_invite = invite;
    m_draft = invite ? VisitorDraft::fromInvite(*invite) : VisitorDraft{};
    showDraft();
}

void SignInSheet::signIn() {
    if (m_isSaving) {
        return;
    }
    if (const std::optional<QString> problem =
            validationMessage(m_environment.model.settings().fields, m_draft.answers)) {
        setMessage(problem);
        return;
    }
    setMessage(std::nullopt);
    setSaving(true);
    const QString name = m_draft.answers.value(0).trimmed();
    const std::optional<Invite> invite = m_invite;
    QCoro::connect(signInVisitor(m_environment.model, m_draft, invite), this,
                   [this, name, invite](const SignInResult &result) {
                       setSaving(false);
                       if (!result.badge) {
                           setMessage(result.error); // the draft stays as typed
                           return;
                       }
                       if (*result.badge == BadgePrintOutcome::Printed ||
                           *result.badge == BadgePrintOutcome::Skipped) {
                           accept();
                           return;
                       }
                       // Signed in without a badge: say so, and make the sheet ready for the next visitor.
                       // The invite just used is no longer expected.
                       if (invite) {
                           m_expected.removeIf([&](const Invite &each) { return each.id == invite->id; });
                       }
                       m_invite.reset();
                       m_draft = {};
                       syncPicker();
                       showDraft();
                       setMessage(name + u" is signed in, but: "_s + badgePrintMessage(*result.badge));
                       if (!m_fields.isEmpty()) {
                           m_fields.constFirst().second->setFocus();
                       }
                   });
}

void SignInSheet::setMessage(const std::optional<QString> &message) {
    m_message = message;
    setSheetMessage(m_messageLabel, message);
}

void SignInSheet::setSaving(bool saving) {
    m_isSaving = saving;
    m_signInButton->setEnabled(!saving);
    m_busy->setVisible(saving);
}

} // namespace tallybrook::ui
