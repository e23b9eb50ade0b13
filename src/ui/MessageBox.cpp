#include "ui/MessageBox.h"

#include "ui/Icons.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QQueue>
#include <QTimer>
#include <QWidget>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

QQueue<QString> &nextAnswers() {
    static QQueue<QString> answers;
    return answers;
}

} // namespace

int MessageBox::cancelButtonOf(const Alert &alert) {
    if (alert.cancelButton >= 0 && alert.cancelButton < alert.buttons.size()) {
        return alert.cancelButton;
    }
    for (qsizetype i = alert.buttons.size() - 1; i >= 0; --i) {
        if (alert.buttons.at(i).role == QMessageBox::RejectRole) {
            return int(i);
        }
    }
    return int(alert.buttons.size()) - 1;
}

void MessageBox::setNextAnswer(const QString &buttonText) {
    nextAnswers().enqueue(buttonText);
}

void MessageBox::clearNextAnswers() {
    nextAnswers().clear();
}

int MessageBox::pendingAnswerCount() {
    return int(nextAnswers().size());
}

void MessageBox::setMessage(QMessageBox *box, const QString &message) {
    box->setInformativeText(message);
    // QMessageBox guesses the format of its informative text and lets its links open.
    if (auto *label = box->findChild<QLabel *>(u"qt_msgbox_informativelabel"_s)) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
    }
}

QPointer<QMessageBox> MessageBox::show(QWidget *parent, const Alert &alert, Done done) {
    const int cancel = cancelButtonOf(alert);
    if (!nextAnswers().isEmpty()) {
        const QString answer = nextAnswers().dequeue();
        int chosen = cancel;
        for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
            if (alert.buttons.at(i).text == answer) {
                chosen = int(i);
            }
        }
        QTimer::singleShot(0, parent, [done = std::move(done), chosen] { done(chosen); });
        return {};
    }

    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setWindowTitle(alert.title);
    // Titles and messages carry server and manifest text: as rich text, markup in them would show, and a link
    // of any scheme would open at a click.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.title);
    if (auto *title = box->findChild<QLabel *>(u"qt_msgbox_label"_s)) {
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
    }
    setMessage(box, alert.message);
    box->setIconPixmap(applicationIconPixmap(64, box->devicePixelRatioF()));
    QList<QAbstractButton *> buttons;
    for (const Button &button : alert.buttons) {
        QPushButton *added = box->addButton(button.text, button.role);
        added->setAccessibleName(button.text);
        buttons.append(added);
    }
    if (alert.defaultButton >= 0 && alert.defaultButton < buttons.size()) {
        box->setDefaultButton(qobject_cast<QPushButton *>(buttons.at(alert.defaultButton)));
    }
    if (cancel >= 0) {
        box->setEscapeButton(buttons.at(cancel));
    }
    const QPointer<QWidget> owner(parent);
    const bool hasOwner = parent != nullptr;
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, cancel, owner, hasOwner, done] {
        if (hasOwner && !owner) {
            return;
        }
        const qsizetype clicked = buttons.indexOf(box->clickedButton());
        done(clicked >= 0 ? int(clicked) : cancel);
    });
    box->open();
    return box;
}

} // namespace tallybrook::ui
