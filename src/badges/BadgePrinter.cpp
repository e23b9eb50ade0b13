#include "badges/BadgePrinter.h"

#include <QLoggingCategory>
#include <QPainter>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace tallybrook {

Q_LOGGING_CATEGORY(lcBadges, "tallybrook.badges")

namespace {

const QString autoPrintKey = u"PrintLabel"_s;
const QString stockKey = u"LabelType"_s;
const QString printerNameKey = u"BadgePrinterName"_s;
const QString showDialogKey = u"BadgeShowPrintDialog"_s;

// Only a stored true is true: a damaged value reads as the value of an absent key.
bool readFlag(const QVariant &value) {
    const QString text = value.toString();
    return text.compare(u"true", Qt::CaseInsensitive) == 0 || text == u"1";
}

} // namespace

QString badgePrintMessage(BadgePrintOutcome outcome) {
    switch (outcome) {
    case BadgePrintOutcome::Printed:
    case BadgePrintOutcome::Skipped:
        return {};
    case BadgePrintOutcome::Failed:
        return u"The badge didn't print. Check the printer and try again."_s;
    case BadgePrintOutcome::NoPrinter:
        return u"No printer is available. Choose one in Settings > Badges."_s;
    }
    Q_UNREACHABLE();
}

BadgePrinter::BadgePrinter(QSettings &defaults, platform::PrintSystem &printSystem, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_printSystem(printSystem) {
    m_autoPrint = readFlag(m_defaults.value(autoPrintKey));
    m_stock = labelStockFromRawValue(m_defaults.value(stockKey).toString());
    m_printerName = m_defaults.value(printerNameKey).toString();
    m_showDialog = readFlag(m_defaults.value(showDialogKey));
}

BadgePrinter::~BadgePrinter() = default;

void BadgePrinter::setAutoPrint(bool autoPrint) {
    if (m_autoPrint == autoPrint)
        return;
    m_autoPrint = autoPrint;
    store(autoPrintKey, autoPrint);
    Q_EMIT autoPrintChanged();
}

void BadgePrinter::setStock(LabelStock stock) {
    if (m_stock == stock)
        return;
    m_stock = stock;
    store(stockKey, labelStockRawValue(stock));
    Q_EMIT stockChanged();
}

void BadgePrinter::setPrinterName(const QString &printerName) {
    if (m_printerName == printerName)
        return;
    m_printerName = printerName;
    store(printerNameKey, printerName);
    Q_EMIT printerNameChanged();
}

void BadgePrinter::setShowDialog(bool showDialog) {
    if (m_showDialog == showDialog)
        return;
    m_showDialog = showDialog;
    store(showDialogKey, showDialog);
    Q_EMIT showDialogChanged();
}

void BadgePrinter::store(const QString &key, const QVariant &value) {
    m_defaults.setValue(key, value);
    // Written through now, not whenever QSettings gets round to it: the desk may be switched off at any time.
    m_defaults.sync();
    if (m_defaults.status() != QSettings::NoError)
        qCWarning(lcBadges) << "could not store" << key << "in" << m_defaults.fileName();
}

QStringList BadgePrinter::installedPrinterNames() const {
    return m_printSystem.installedPrinterNames();
}

void BadgePrinter::setDateStyle(const QLocale &locale, const QTimeZone &zone) {
    m_locale = locale;
    m_timeZone = zone;
}

Badge BadgePrinter::badgeFor(const QString &visitorName, const QDateTime &visitedAt) const {
    return Badge{visitorName, m_stock, visitedAt, m_locale.value_or(QLocale()),
                 m_timeZone.value_or(QTimeZone::systemTimeZone())};
}

QString BadgePrinter::jobTitle(const QString &visitorName) {
    return u"Visitor badge - "_s + visitorName;
}

BadgePrintOutcome BadgePrinter::print(const QString &visitorName, const QDateTime &visitedAt) {
    // A saved printer that is gone is not swapped for another one; and with no printer at all nothing is
    // attempted, so no dialog opens either.
    QString printerName = m_printerName;
    if (!printerName.isEmpty()) {
        if (!m_printSystem.hasPrinter(printerName))
            return BadgePrintOutcome::NoPrinter;
    } else {
        const QStringList installed = m_printSystem.installedPrinterNames();
        if (installed.isEmpty())
            return BadgePrintOutcome::NoPrinter;
        // CUPS names no default until someone sets one; a lone printer is the only sensible choice.
        if (installed.size() == 1)
            printerName = installed.constFirst();
    }

    const BadgePage page(badgeFor(visitorName, visitedAt));
    platform::PrintJob job;
    job.printerName = printerName;
    job.pageSize = page.pageSize();
    job.orientation = BadgePage::orientation;
    job.margins = QMarginsF(0, 0, 0, 0);
    job.title = jobTitle(visitorName);
    job.showDialog = m_showDialog;
    job.drawPage = [&page](QPainter &painter, const QRectF &rect, int) { page.paint(painter, rect); };

    switch (m_printSystem.print(job)) {
    case platform::PrintResult::Printed:
        return BadgePrintOutcome::Printed;
    case platform::PrintResult::NoPrinter:
        return BadgePrintOutcome::NoPrinter;
    case platform::PrintResult::Cancelled:
    case platform::PrintResult::Failed:
        return BadgePrintOutcome::Failed;
    }
    Q_UNREACHABLE();
}

} // namespace tallybrook
