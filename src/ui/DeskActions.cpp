#include "ui/DeskActions.h"

#include "badges/BadgePrinter.h"
#include "model/AppModel.h"
#include "records/DeskError.h"
#include "ui/MessageBox.h"

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

QString errorMessage(const std::exception &error) {
    if (const auto *desk = dynamic_cast<const DeskError *>(&error)) {
        return desk->message();
    }
    return QString::fromUtf8(error.what());
}

QCoro::Task<std::optional<QString>> failureOf(QCoro::Task<void> call) {
    try {
        co_await std::move(call);
    } catch (const std::exception &error) {
        co_return errorMessage(error);
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> signOutVisitor(AppModel &model, VisitorRow row) {
    co_return co_await failureOf(model.signOut(std::move(row)));
}

std::optional<QString> reprintBadge(BadgePrinter &printer, const VisitorRow &row) {
    const BadgePrintOutcome outcome = printer.print(row.visitorName, row.signedInAt);
    if (outcome == BadgePrintOutcome::Failed || outcome == BadgePrintOutcome::NoPrinter) {
        return badgePrintMessage(outcome);
    }
    return std::nullopt;
}

void ProblemAlert::show(const QString &message) {
    m_message = message;
    if (m_box) {
        MessageBox::setMessage(m_box, message);
        return;
    }
    m_box = MessageBox::show(m_parent, {m_title, message, {{u"OK"_s}}}, [this](int) { m_message.reset(); });
}

} // namespace tallybrook::ui
