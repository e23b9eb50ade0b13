#include "ui/DeskScreen.h"

namespace tallybrook::ui {

DeskScreen::DeskScreen(QWidget *parent) : QWidget(parent) {}

} // namespace tallybrook::ui
