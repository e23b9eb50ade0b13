#include "ui/SheetParts.h"

#include "ui/BusyIndicator.h"
#include "ui/Style.h"

#include <QAccessible>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

QVBoxLayout *beginSheet(QDialog *sheet, const QString &objectName, const QString &title, int margin) {
    sheet->setObjectName(objectName);
    sheet->setWindowFlag(Qt::Sheet);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(title);
    auto *layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(16);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return layout;
}

QLabel *addSheetHeading(QVBoxLayout *layout, const QString &text, QDialog *sheet) {
    auto *heading = new QLabel(text, sheet);
    heading->setObjectName(u"sheetTitle"_s);
    setTextStyle(heading, TextStyle::Title2, QFont::DemiBold);
    layout->addWidget(heading);
    return heading;
}

QLabel *addSheetMessage(QVBoxLayout *layout, QDialog *sheet) {
    auto *label = new QLabel(sheet);
    label->setObjectName(u"sheetMessage"_s);
    label->setTextFormat(Qt::PlainText); // often the server's words
    label->setWordWrap(true);
    setTextStyle(label, TextStyle::Callout);
    setTextColor(label, errorTextColor(label->palette()));
    label->hide();
    layout->addWidget(label);
    return label;
}

void setSheetMessage(QLabel *label, const std::optional<QString> &message) {
    label->setText(message.value_or(QString()));
    label->setAccessibleName(message.value_or(QString()));
    label->setVisible(message.has_value());
    if (message) {
        QAccessibleEvent announce(label, QAccessible::Alert);
        QAccessible::updateAccessibility(&announce);
    }
}

SheetButtons addSheetButtons(QVBoxLayout *layout, QDialog *sheet, const QString &primaryText,
                             const QString &primaryObjectName) {
    SheetButtons buttons;
    buttons.row = new QHBoxLayout;
    buttons.row->setSpacing(8);
    buttons.row->addStretch(1);
    buttons.busy = new BusyIndicator(sheet);
    buttons.busy->hide();
    buttons.row->addWidget(buttons.busy);
    buttons.cancel = new QPushButton(u"Cancel"_s, sheet);
    buttons.cancel->setObjectName(u"cancelButton"_s);
    buttons.cancel->setAccessibleName(u"Cancel"_s);
    buttons.cancel->setAutoDefault(false);
    QObject::connect(buttons.cancel, &QPushButton::clicked, sheet, &QDialog::reject);
    buttons.row->addWidget(buttons.cancel);
    buttons.primary = new QPushButton(primaryText, sheet);
    buttons.primary->setObjectName(primaryObjectName);
    buttons.primary->setAccessibleName(primaryText);
    buttons.primary->setDefault(true);
    buttons.row->addWidget(buttons.primary);
    layout->addLayout(buttons.row);
    return buttons;
}

} // namespace tallybrook::ui
