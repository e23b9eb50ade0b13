#include "ui/AnswerField.h"

#include "ui/Icons.h"
#include "ui/Style.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

QString answerFieldTitle(const KioskField &field) {
    return field.required || field.slot == 0 ? field.label : field.label + u" (optional)"_s;
}

QLineEdit *addAnswerField(QFormLayout *form, QWidget *parent, const KioskField &field,
                          const QStringList &employees, std::function<void(const QString &)> changed) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(u"answerField%1"_s.arg(field.slot));
    edit->setAccessibleName(answerFieldTitle(field));
    switch (field.fieldType().value_or(FieldType::PlainText)) {
    case FieldType::Email:
        edit->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
        break;
    case FieldType::Numeric:
        edit->setInputMethodHints(Qt::ImhDigitsOnly);
        break;
    case FieldType::Phone:
        edit->setInputMethodHints(Qt::ImhDialableCharactersOnly);
        break;
    case FieldType::PlainText:
        break;
    }
    // textChanged, not textEdited: assistive technologies and input methods set the text too.
    QObject::connect(edit, &QLineEdit::textChanged, edit, std::move(changed));
    QWidget *row = edit;
    if (field.employeeList && !employees.isEmpty()) {
        row = new QWidget(parent);
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        line->setSpacing(4);
        line->addWidget(edit, 1);
        auto *choose = new QToolButton(row);
        choose->setObjectName(u"chooseEmployeeButton"_s);
        choose->setIcon(symbol(u"person.crop.circle"));
        choose->setToolTip(u"Choose an employee"_s);
        choose->setAccessibleName(u"Choose an employee"_s);
        choose->setAccessibleDescription(u"For "_s + field.label);
        choose->setFocusPolicy(Qt::StrongFocus);
        auto *menu = new QMenu(choose);
        for (const QString &employee : employees) {
            menu->addAction(employee, edit, [edit, employee] { edit->setText(employee); });
        }
        setPressMenu(choose, menu);
        line->addWidget(choose);
    }
    form->addRow(answerFieldTitle(field), row);
    return edit;
}

} // namespace tallybrook::ui
