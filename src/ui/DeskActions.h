#pragma once

#include "records/VisitorRecords.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <qcorotask.h>

#include <exception>
#include <optional>

class QWidget;

namespace tallybrook {
class AppModel;
class BadgePrinter;
} // namespace tallybrook

// What more than one screen does for a visitor, and how a screen tells a failure.
namespace tallybrook::ui {

// The words the desk shows for a failure: a DeskError's own message, else the exception's text.
[[nodiscard]] QString errorMessage(const std::exception &error);

// Awaits a backend call: the error's words when it failed, nothing when it went through.
QCoro::Task<std::optional<QString>> failureOf(QCoro::Task<void> call);

// Signs the visitor out through the model; the error's words, or nothing when it went through.
QCoro::Task<std::optional<QString>> signOutVisitor(AppModel &model, VisitorRow row);

// Prints the visitor's badge at once; the badge message when it did not print.
[[nodiscard]] std::optional<QString> reprintBadge(BadgePrinter &printer, const VisitorRow &row);

// The "Something went wrong" alert of a screen: one at a time, a second failure replacing the message of the
// one showing; the message is kept until the person dismisses it.
class ProblemAlert final {
public:
    explicit ProblemAlert(QWidget *parent, QString title = QStringLiteral("Something went wrong"))
        : m_parent(parent), m_title(std::move(title)) {}

    void show(const QString &message);
    [[nodiscard]] const std::optional<QString> &message() const { return m_message; }

private:
    QWidget *m_parent;
    QString m_title;
    std::optional<QString> m_message;
    QPointer<QMessageBox> m_box;
};

} // namespace tallybrook::ui
