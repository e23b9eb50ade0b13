#include "ui/NewInviteSheet.h"

#include "cloud/CloudClient.h"
#include "records/EmailAddress.h"
#include "ui/AnswerField.h"
#include "ui/BusyIndicator.h"
#include "ui/DeskActions.h"
#include "ui/SheetParts.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <qcorotask.h>

#include <algorithm>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

// The first `limit` characters as a reader counts them: an accent or an emoji is never split from its base.
QString firstCharacters(const QString &text, qsizetype limit) {
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (count < limit && characters.toNextBoundary() >= 0) {
        ++count;
    }
    return count < limit ? text : text.left(characters.position());
}

QString trimmedSpaces(const QString &text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ') {
        ++first;
    }
    while (last > first && text.at(last - 1) == u' ') {
        --last;
    }
    return text.sliced(first, last - first);
}

const KioskField *emailQuestion(const QList<KioskField> &fields) {
    const auto found = std::find_if(fields.begin(), fields.end(), [](const KioskField &field) {
        return field.fieldType() == FieldType::Email;
    });
    return found == fields.end() ? nullptr : &*found;
}

} // namespace

NewInviteSheet::NewInviteSheet(Environment environment, QWidget *parent)
    : QDialog(parent), m_environment(environment) {
    setFixedWidth(460);
    QVBoxLayout *layout = beginSheet(this, u"newInviteSheet"_s, u"New Invite"_s, 24);
    addSheetHeading(layout, u"New Invite"_s, this);

    m_form = new QFormLayout;
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_form->setSpacing(10);
    layout->addLayout(m_form);

    m_email = new QLineEdit(this);
    m_email->setObjectName(u"inviteEmailField"_s);
    m_email->setAccessibleName(u"Email to send the invite to"_s);
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);

    const QDateTime now = QDateTime::currentDateTime();
    m_hasDate = new QCheckBox(u"Set a visit date"_s, this);
    m_hasDate->setObjectName(u"setVisitDateToggle"_s);
    m_date = new QDateEdit(now.date(), this);
    m_date->setObjectName(u"visitDatePicker"_s);
    m_date->setAccessibleName(u"Visit date"_s);
    m_date->setCalendarPopup(true);
    m_date->setMinimumDate(now.date());
    m_hasTime = new QCheckBox(u"Set a time"_s, this);
    m_hasTime->setObjectName(u"setVisitTimeToggle"_s);
    m_time = new QTimeEdit(QTime(now.time().hour(), now.time().minute()), this);
    m_time->setObjectName(u"visitTimePicker"_s);
    m_time->setAccessibleName(u"Visit time"_s);
    m_time->setDisplayFormat(QLocale().timeFormat(QLocale::ShortFormat).remove(u":ss"_s));
    connect(m_hasDate, &QCheckBox::toggled, this, &NewInviteSheet::syncDateControls);
    connect(m_hasTime, &QCheckBox::toggled, this, &NewInviteSheet::syncDateControls);

    m_note = new QPlainTextEdit(this);
    m_note->setObjectName(u"inviteNoteField"_s);
    m_note->setAccessibleName(u"Note for the visitor (optional)"_s);
    m_note->setPlaceholderText(u"Note for the visitor (optional)"_s);
    m_note->setTabChangesFocus(true);
    connect(m_note->document(), &QTextDocument::contentsChanged, this, &NewInviteSheet::fitNote);

    m_messageLabel = addSheetMessage(layout, this);
    const SheetButtons buttons = addSheetButtons(layout, this, u"Send Invite"_s, u"sendInviteButton"_s);
    m_busy = buttons.busy;
    m_sendButton = buttons.primary;
    connect(m_sendButton, &QPushButton::clicked, this, &NewInviteSheet::send);

    rebuildForm();
    fitNote();
    connect(&m_environment.model, &AppModel::settingsChanged, this, &NewInviteSheet::rebuildForm);
}

QLineEdit *NewInviteSheet::answerField(int slot) const {
    for (const auto &[fieldSlot, edit] : m_fields) {
        if (fieldSlot == slot) {
            return edit;
        }
    }
    return nullptr;
}

void NewInviteSheet::rebuildForm() {
    // The fixed rows are taken out and put back after the questions, which may change while the sheet is open
    // (the form's first load failed); what was typed stays in the draft.
    for (QWidget *fixed : {static_cast<QWidget *>(m_email), static_cast<QWidget *>(m_hasDate),
                           static_cast<QWidget *>(m_date), static_cast<QWidget *>(m_hasTime),
                           static_cast<QWidget *>(m_time), static_cast<QWidget *>(m_note)}) {
        m_form->removeWidget(fixed);
        fixed->hide();
    }
    while (m_form->rowCount() > 0) {
        m_form->removeRow(0);
    }
    m_fields.clear();

    const KioskSettings &settings = m_environment.model.settings();
    QWidget *previous = nullptr;
    const auto chain = [&](QWidget *next) {
        if (previous) {
            setTabOrder(previous, next);
        }
        previous = next;
    };
    for (const KioskField &field : settings.fields) {
        const int slot = field.slot;
        QLineEdit *edit =
            addAnswerField(m_form, this, field, settings.employees,
                           [this, slot](const QString &text) { m_draft.answers.insert(slot, text); });
        edit->setText(m_draft.answers.value(slot));
        chain(edit);
        m_fields.append({slot, edit});
    }
    if (!emailQuestion(settings.fields)) {
        m_form->addRow(u"Email to send the invite to"_s, m_email);
        m_email->show();
        chain(m_email);
    }
    m_form->addRow(m_hasDate);
    m_form->addRow(u"Visit date"_s, m_date);
    m_form->addRow(m_hasTime);
    m_form->addRow(u"Visit time"_s, m_time);
    m_form->addRow(u"Note"_s, m_note);
    m_hasDate->show();
    m_note->show();
    for (QWidget *next : {static_cast<QWidget *>(m_hasDate), static_cast<QWidget *>(m_date),
                          static_cast<QWidget *>(m_hasTime), static_cast<QWidget *>(m_time),
                          static_cast<QWidget *>(m_note)}) {
        chain(next);
    }
    syncDateControls();
}

void NewInviteSheet::syncDateControls() {
    const bool hasDate = m_hasDate->isChecked();
    const bool hasTime = hasDate && m_hasTime->isChecked();
    m_form->setRowVisible(m_date, hasDate);
    m_form->setRowVisible(m_hasTime, hasDate);
    m_form->setRowVisible(m_time, hasTime);
}

void NewInviteSheet::fitNote() {
    // Two lines to start with, growing with the text up to four, then scrolling.
    const int lines = std::clamp(int(m_note->document()->size().height()), 2, 4);
    const QMargins margins = m_note->contentsMargins();
    const int height = lines * m_note->fontMetrics().lineSpacing() +
                       int(2 * m_note->document()->documentMargin()) + margins.top() + margins.bottom();
    if (m_note->height() != height || m_note->minimumHeight() != height) {
        m_note->setFixedHeight(height);
    }
}

void NewInviteSheet::send() {
    if (m_isSending) {
        return;
    }
    const QList<KioskField> &fields = m_environment.model.settings().fields;
    if (const std::optional<QString> problem = validationMessage(fields, m_draft.answers)) {
        setMessage(problem);
        return;
    }
    const KioskField *emailField = emailQuestion(fields);
    const QString address =
        emailField ? m_draft.answers.value(emailField->slot).trimmed() : trimmedSpaces(m_email->text());
    if (!isEmailAddress(address)) {
        setMessage(u"Please enter a valid email address to send the invite to."_s);
        return;
    }

    NewInvite invite;
    for (const KioskField &field : fields) {
        const QString value = m_draft.answers.value(field.slot).trimmed();
        if (!value.isEmpty()) {
            invite.answers.append({field.slot, firstCharacters(value, answerLimit)});
        }
    }
    invite.email = address;
    // Fixed formats whatever the person's language: the invite service reads these, not a person.
    if (m_hasDate->isChecked()) {
        invite.visitDate = QLocale::c().toString(m_date->date(), u"yyyy-MM-dd");
        if (m_hasTime->isChecked()) {
            invite.visitTime = QLocale::c().toString(m_time->time(), u"HH:mm");
        }
    }
    const QString note = m_note->toPlainText().trimmed();
    if (!note.isEmpty()) {
        invite.note = note;
    }

    setMessage(std::nullopt);
    setSending(true);
    QCoro::connect(
        failureOf(m_environment.cloud().createInvite(std::move(invite), m_environment.model.requestScope())),
        this, [this](const std::optional<QString> &error) {
            setSending(false);
            if (error) {
                setMessage(error);
            } else {
                accept();
            }
        });
}

void NewInviteSheet::setMessage(const std::optional<QString> &message) {
    m_message = message;
    setSheetMessage(m_messageLabel, message);
}

void NewInviteSheet::setSending(bool sending) {
    m_isSending = sending;
    m_sendButton->setEnabled(!sending);
    m_busy->setVisible(sending);
}

} // namespace tallybrook::ui
