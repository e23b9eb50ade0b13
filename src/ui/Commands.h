#pragma once

#include <QKeySequence>
#include <QString>

namespace tallybrook::ui {

// The keyboard shortcuts of the desk's commands, shared by the menus and by the tooltips that mention them.
[[nodiscard]] inline QKeySequence signInVisitorShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_N);
}
[[nodiscard]] inline QKeySequence newInviteShortcut() {
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I);
}
[[nodiscard]] inline QKeySequence rollCallShortcut() {
    return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R);
}
[[nodiscard]] inline QKeySequence refreshShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_R);
}
[[nodiscard]] inline QKeySequence settingsShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_Comma);
}
// Spelled out: QKeySequence::Quit is empty where the platform theme follows Windows' key bindings.
[[nodiscard]] inline QKeySequence quitShortcut() {
    return QKeySequence(Qt::CTRL | Qt::Key_Q);
}

// A tooltip naming the command's shortcut as this platform writes it: "Sign in a visitor (Ctrl+N)".
[[nodiscard]] inline QString withShortcut(const QString &text, const QKeySequence &shortcut) {
    return text + QStringLiteral(" (") + shortcut.toString(QKeySequence::NativeText) + QStringLiteral(")");
}

} // namespace tallybrook::ui
