#include "model/VisitorDraft.h"

#include "records/EmailAddress.h"

namespace tallybrook {

using namespace Qt::StringLiterals;

VisitorDraft VisitorDraft::fromInvite(const Invite &invite) {
    VisitorDraft draft;
    for (const InviteAnswer &answer : invite.answers) {
        if (!draft.answers.contains(answer.slot)) {
            draft.answers.insert(answer.slot, answer.value);
        }
    }
    if (draft.answers.value(0).isEmpty()) {
        draft.answers.insert(0, invite.visitorName);
    }
    return draft;
}

std::optional<QString> validationMessage(const QList<KioskField> &fields, const QMap<int, QString> &answers) {
    for (const KioskField &field : fields) {
        if ((field.slot == 0 || field.required) && answers.value(field.slot).trimmed().isEmpty()) {
            return u"Please fill in "_s + field.label + u'.';
        }
    }
    for (const KioskField &field : fields) {
        if (field.type != fieldTypeText(FieldType::Email)) {
            continue;
        }
        const QString answer = answers.value(field.slot).trimmed();
        if (!answer.isEmpty() && !isEmailAddress(answer)) {
            return u"Please enter a valid email for "_s + field.label + u'.';
        }
    }
    return std::nullopt;
}

namespace {

QString folded(const QString &text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString base;
    base.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing) {
            base.append(c);
        }
    }
    return base.toCaseFolded();
}

} // namespace

bool sameIgnoringCaseAndDiacritics(const QString &a, const QString &b) {
    return folded(a) == folded(b);
}

} // namespace tallybrook
