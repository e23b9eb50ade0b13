#include "ui/RollCallSheet.h"

#include "ui/BusyIndicator.h"
#include "ui/SavePanel.h"
#include "ui/SheetParts.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

RollCallSheet::RollCallSheet(Environment environment, QWidget *parent)
    : QDialog(parent), m_environment(environment) {
    setFixedWidth(420);
    QVBoxLayout *layout = beginSheet(this, u"rollCallSheet"_s, u"Roll Call"_s, 20);
    addSheetHeading(layout, u"Roll Call"_s, this);
    m_status = new QLabel(u"Loading the latest list\u2026"_s, this);
    m_status->setObjectName(u"rollCallStatus"_s);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_messageLabel = addSheetMessage(layout, this);

    const SheetButtons buttons = addSheetButtons(layout, this, u"Print\u2026"_s, u"rollCallPrintButton"_s);
    m_busy = buttons.busy;
    m_print = buttons.primary;
    m_save = new QPushButton(u"Save as PDF\u2026"_s, this);
    m_save->setObjectName(u"rollCallSaveButton"_s);
    m_save->setAccessibleName(u"Save as PDF"_s);
    buttons.row->insertWidget(buttons.row->indexOf(buttons.cancel) + 1, m_save);
    m_print->setEnabled(false);
    m_save->setEnabled(false);
    connect(m_print, &QPushButton::clicked, this, &RollCallSheet::print);
    connect(m_save, &QPushButton::clicked, this, &RollCallSheet::saveAsPdf);
    load();
}

void RollCallSheet::load() {
    m_busy->setVisible(true);
    AppModel &model = m_environment.model;
    const std::optional<QDateTime> before = model.lastRefresh();
    QCoro::connect(model.refresh(), this, [this, before] {
        const AppModel &model = m_environment.model;
        // A refresh that brought no newer list failed: what is shown is the last list loaded, if any.
        const bool unreachable = model.lastRefresh() == before && model.error().has_value();
        m_rollCall.emplace(model.onSite(), model.lastRefresh(), unreachable,
                           model.settings().placeName.value_or(QString()));
        m_busy->setVisible(false);
        m_status->setText(m_rollCall->statusLine() + u"."_s);
        m_status->setAccessibleName(m_status->text());
        m_print->setEnabled(true);
        m_save->setEnabled(true);
        m_print->setFocus();
    });
}

void RollCallSheet::print() {
    if (!m_rollCall) {
        return;
    }
    platform::PrintJob job;
    job.title = u"Roll Call"_s;
    job.pageSize = QPageSize(QLocale().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                        : QPageSize::A4);
    job.margins = QMarginsF(36, 36, 36, 36);
    job.showDialog = true; // any printer of the office, not only the badge printer
    job.pageCount = m_rollCall->pageCount();
    const RollCall rollCall = *m_rollCall;
    job.drawPage = [&rollCall](QPainter &painter, const QRectF &page, int index) {
        rollCall.paintPage(painter, page, index);
    };
    switch (m_environment.printer().printSystem().print(job)) {
    case platform::PrintResult::Printed:
        accept();
        break;
    case platform::PrintResult::Cancelled:
        break;
    case platform::PrintResult::NoPrinter:
        setMessage(u"No printer is available. Save the roll call as a PDF instead."_s);
        break;
    case platform::PrintResult::Failed:
        setMessage(u"The roll call could not be printed. Save it as a PDF instead."_s);
        break;
    }
}

void RollCallSheet::saveAsPdf() {
    if (!m_rollCall) {
        return;
    }
    const SavePanel::Request request{
        u"Save Roll Call"_s, u"Roll Call "_s + QDateTime::currentDateTime().toString(u"yyyy-MM-dd HH.mm"_s),
        u"PDF document (*.pdf)"_s, u"pdf"_s};
    SavePanel::choose(this, request, [this](const std::optional<QString> &path) {
        if (!path) {
            return;
        }
        QSaveFile file(*path);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_rollCall->pdf()) < 0 || !file.commit()) {
            setMessage(u"The roll call could not be saved: %1"_s.arg(file.errorString()));
            return;
        }
        accept();
    });
}

void RollCallSheet::setMessage(const std::optional<QString> &message) {
    m_message = message;
    setSheetMessage(m_messageLabel, message);
}

} // namespace tallybrook::ui
