#pragma once

#include <QString>

#include <optional>

class QDialog;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tallybrook::ui {

class BusyIndicator;

// What every sheet of the desk has: a heading, a red line under the form for what went wrong, and a row of
// a progress indicator, "Cancel" (Escape) and the default button (Return).
struct SheetButtons {
    QHBoxLayout *row = nullptr; // leading items go in before its stretch, at index 0
    BusyIndicator *busy = nullptr;
    QPushButton *cancel = nullptr;
    QPushButton *primary = nullptr;
};

// Makes `sheet` a window-modal sheet with this title and returns its layout: these margins all round, the
// desk's spacing, the sheet as tall as its contents.
QVBoxLayout *beginSheet(QDialog *sheet, const QString &objectName, const QString &title, int margin);
QLabel *addSheetHeading(QVBoxLayout *layout, const QString &text, QDialog *sheet);
// Hidden until a message is set.
QLabel *addSheetMessage(QVBoxLayout *layout, QDialog *sheet);
// Shows the message, announced at once to assistive technology wherever the focus is, or hides the line.
void setSheetMessage(QLabel *label, const std::optional<QString> &message);
// "Cancel" closes the sheet; the caller connects the primary button. The progress indicator starts hidden.
SheetButtons addSheetButtons(QVBoxLayout *layout, QDialog *sheet, const QString &primaryText,
                             const QString &primaryObjectName);

} // namespace tallybrook::ui
