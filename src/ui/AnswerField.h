#pragma once

#include "records/SetupRecords.h"

#include <QString>
#include <QStringList>

#include <functional>

class QFormLayout;
class QLineEdit;
class QWidget;

namespace tallybrook::ui {

// A question's label as the form shows it: optional questions say so; the name (slot 0) never does.
[[nodiscard]] QString answerFieldTitle(const KioskField &field);

// One question of the account's form as a row of `form`: a text field fitted to the answer's type and, for a
// question about whom the visitor comes to see, a menu of the account's employees. `changed` follows every
// change of the text (typed, chosen, or set by assistive technology). Returns the text field.
QLineEdit *addAnswerField(QFormLayout *form, QWidget *parent, const KioskField &field,
                          const QStringList &employees, std::function<void(const QString &)> changed);

} // namespace tallybrook::ui
