#pragma once

#include "records/InviteRecords.h"
#include "records/SetupRecords.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace tallybrook {

// The answers typed for one visitor, by form slot; slot 0 is the visitor's name.
struct VisitorDraft {
    QMap<int, QString> answers;

    // An expected guest's answers: the first answer for a slot wins, and the name falls back to the invite's.
    [[nodiscard]] static VisitorDraft fromInvite(const Invite &invite);

    friend bool operator==(const VisitorDraft &, const VisitorDraft &) = default;
};

// Nothing when the answers are acceptable; otherwise the first problem, as the sheet shows it. Slot 0 is
// always required, even on a form that marks it optional.
[[nodiscard]] std::optional<QString> validationMessage(const QList<KioskField> &fields,
                                                       const QMap<int, QString> &answers);

// Equal ignoring letter case and diacritics ("zoe" and "Zoë").
[[nodiscard]] bool sameIgnoringCaseAndDiacritics(const QString &a, const QString &b);

} // namespace tallybrook
