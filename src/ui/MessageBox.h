#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace tallybrook::ui {

// Every alert and confirmation of the desk goes through here. An alert is window-modal and never blocks: the
// call returns at once and `done` runs when the person has answered. Tests queue answers with
// setNextAnswer(), so no alert ever waits for a click that will not come.
class MessageBox final {
public:
    struct Button {
        QString text;
        QMessageBox::ButtonRole role = QMessageBox::AcceptRole;
    };
    struct Alert {
        QString title;
        QString message;
        QList<Button> buttons;
        // The button that Return presses; the first one unless set.
        int defaultButton = 0;
        // The button that Escape and closing the window press; the last one with the reject role unless set.
        int cancelButton = -1;
    };
    // The index of the chosen button in Alert::buttons.
    using Done = std::function<void(int button)>;

    // Shows the alert over `parent`'s window. `done` runs once, whichever way the alert is closed, and never
    // after `parent` is gone; closing the alert with close() or reject() counts as the cancel button. With a
    // queued answer, nothing is shown, nullptr is returned and `done` runs from the event loop.
    static QPointer<QMessageBox> show(QWidget *parent, const Alert &alert, Done done);

    // Replaces the message of an alert that is showing, as plain text like the first one.
    static void setMessage(QMessageBox *box, const QString &message);

    // The next alert is answered with the button of this text, without being shown (tests only).
    static void setNextAnswer(const QString &buttonText);
    static void clearNextAnswers();
    [[nodiscard]] static int pendingAnswerCount();

    // The button Escape stands for in this alert.
    [[nodiscard]] static int cancelButtonOf(const Alert &alert);

    MessageBox() = delete;
};

} // namespace tallybrook::ui
