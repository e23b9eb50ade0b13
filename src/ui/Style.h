#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStringView>

class QLabel;
class QMenu;
class QToolButton;
class QWidget;

namespace tallybrook::ui {

// The desk's type scale. Sizes follow the design's text styles relative to the body font, so that the
// person's own font size still counts: large title 26, title 22, title 2 17, title 3 15, headline and body
// 13, callout 12, caption 10 (points at a 13-point body).
enum class TextStyle { LargeTitle, Title, Title2, Title3, Headline, Body, Callout, Caption };

[[nodiscard]] QFont font(TextStyle style, QFont::Weight weight = QFont::Normal);
void setTextStyle(QWidget *widget, TextStyle style, QFont::Weight weight = QFont::Normal);

// Text that explains rather than states: the palette's placeholder colour.
[[nodiscard]] QColor secondaryTextColor(const QPalette &palette);
// A failure told in a line of text.
[[nodiscard]] QColor errorTextColor(const QPalette &palette);
// The highlight the person chose, used for tinted symbols.
[[nodiscard]] QColor accentColor(const QPalette &palette);
// The text colour of a label (and of a line edit's text).
void setTextColor(QWidget *widget, const QColor &color);
[[nodiscard]] QColor textColor(const QWidget *widget);

// A button of the desk's toolbar row: the symbol, the text beside it (or only as its accessible name), flat.
[[nodiscard]] QToolButton *toolbarButton(const QString &text, QStringView symbolName, const QString &toolTip,
                                         QWidget *parent,
                                         Qt::ToolButtonStyle style = Qt::ToolButtonTextBesideIcon);

// Gives the button a menu that its press opens, by mouse, keyboard or assistive technology alike (an
// instant popup offers assistive technology no action that opens it).
void setPressMenu(QToolButton *button, QMenu *menu);

} // namespace tallybrook::ui
