#include "ui/PlaceholderSheet.h"

#include "ui/Style.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

PlaceholderSheet::PlaceholderSheet(const QString &title, QWidget *parent) : QDialog(parent) {
    setWindowFlag(Qt::Sheet);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(title);
    setMinimumWidth(460);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    auto *heading = new QLabel(title, this);
    heading->setObjectName(u"sheetTitle"_s);
    setTextStyle(heading, TextStyle::Title2, QFont::DemiBold);
    layout->addWidget(heading);
    layout->addStretch(1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *cancel = buttons->addButton(u"Cancel"_s, QDialogButtonBox::RejectRole);
    cancel->setObjectName(u"cancelButton"_s);
    cancel->setAccessibleName(u"Cancel"_s);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace tallybrook::ui
