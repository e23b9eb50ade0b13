#include "platform/QtPrintSystem.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextBoundaryFinder>

#if defined(TALLYBROOK_HAVE_CUPS)
#include <cups/cups.h>
#endif

#include <cmath>

using namespace Qt::StringLiterals;

namespace tallybrook::platform {

Q_LOGGING_CATEGORY(lcPrint, "tallybrook.print")

namespace {

// An unknown name gives a null QPrinterInfo, and a QPrinter made from that quietly uses the default printer:
// every name is checked here before a QPrinter is made.
QPrinterInfo installedPrinter(const QString &name) {
    return name.isEmpty() ? QPrinterInfo() : QPrinterInfo::printerInfo(name);
}

// The named printer; for the empty name the default one, or with the dialog, when no printer is the default,
// the first one, so the dialog has somewhere to start.
QPrinterInfo jobPrinter(const PrintJob &job) {
    if (!job.printerName.isEmpty())
        return installedPrinter(job.printerName);
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    if (!defaultPrinter.isNull() || !job.showDialog)
        return defaultPrinter;
    const QStringList names = QPrinterInfo::availablePrinterNames();
    return names.isEmpty() ? QPrinterInfo() : installedPrinter(names.constFirst());
}

// A printer's own paper of the same size may be rounded differently; half a point is a sixth of a millimetre.
bool sameSize(const QSizeF &a, const QSizeF &b) {
    return std::abs(a.width() - b.width()) < 0.5 && std::abs(a.height() - b.height()) < 0.5;
}

// A printer that cannot take the size would otherwise print on its own default paper.
bool applyPage(QPrinter &printer, const PrintJob &job) {
    printer.setFullPage(true);
    QPageLayout layout(job.pageSize, job.orientation, job.margins, QPageLayout::Point);
    layout.setMode(QPageLayout::FullPageMode);
    const QPageLayout taken = printer.setPageLayout(layout) ? printer.pageLayout() : QPageLayout();
    if (!taken.isValid() || taken.orientation() != job.orientation ||
        !sameSize(taken.pageSize().size(QPageSize::Point), job.pageSize.size(QPageSize::Point))) {
        qCWarning(lcPrint) << printer.printerName() << "does not take a page of"
                           << job.pageSize.size(QPageSize::Point) << "points";
        return false;
    }
    // Qt swaps in the printer's unprintable edge when it takes a page size.
    printer.setPageMargins(job.margins, QPageLayout::Point);
    return true;
}

bool runDialog(QPrinter &printer) {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        qCWarning(lcPrint) << "the print dialog needs a QApplication";
        return false;
    }
    QPrintDialog dialog(&printer);
    dialog.setObjectName(u"printDialog"_s);
    // One page, printed as it is.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

QStringList QtPrintSystem::installedPrinterNames() const {
    return QPrinterInfo::availablePrinterNames();
}

QString QtPrintSystem::defaultPrinterName() const {
    return QPrinterInfo::defaultPrinterName();
}

bool QtPrintSystem::hasPrinter(const QString &name) const {
    return !installedPrinter(name).isNull();
}

QString QtPrintSystem::queueTitle(const QString &title) {
    QString cleaned = title;
    for (QChar &c : cleaned) {
        // Control characters and line breaks are not allowed in an IPP name.
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    if (cleaned.toUtf8().size() <= maximumTitleBytes)
        return cleaned;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, cleaned);
    qsizetype kept = 0;
    qsizetype bytes = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next != -1; next = graphemes.toNextBoundary()) {
        bytes += QStringView(cleaned).mid(kept, next - kept).toUtf8().size();
        if (bytes > maximumTitleBytes)
            break;
        kept = next;
    }
    return cleaned.left(kept);
}

PrintResult QtPrintSystem::print(const PrintJob &job) {
    const QPrinterInfo target = jobPrinter(job);
    if (target.isNull()) {
        qCWarning(lcPrint) << "no printer" << job.printerName;
        return PrintResult::NoPrinter;
    }
    QPrinter printer(target, QPrinter::HighResolution);
    if (printer.printerName() != target.printerName()) {
        qCWarning(lcPrint) << "printer" << target.printerName() << "went away";
        return PrintResult::NoPrinter;
    }
    printer.setDocName(queueTitle(job.title));
    printer.setCreator(QCoreApplication::applicationName());
    if (!applyPage(printer, job))
        return PrintResult::Failed;

    if (job.showDialog) {
        if (!runDialog(printer))
            return PrintResult::Cancelled;
        // The dialog puts its own idea of the paper back (A4 for a size it does not list), and the person may
        // have picked another printer: the page is the job's, on whichever printer was chosen.
        if (!applyPage(printer, job))
            return PrintResult::Failed;
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        qCWarning(lcPrint) << "could not start a job on" << printer.printerName();
        return PrintResult::Failed;
    }
    if (job.drawPage) {
        for (int index = 0; index < job.pageCount; ++index) {
            if (index > 0 && !printer.newPage()) {
                break;
            }
            job.drawPage(painter, printer.pageLayout().paintRectPixels(printer.resolution()), index);
        }
    }
    // Ending the painter hands the job over; Qt does not say whether the print system took it.
    if (!painter.end() || printer.printerState() == QPrinter::Error) {
        qCWarning(lcPrint) << "the job on" << printer.printerName() << "failed";
        return PrintResult::Failed;
    }
#if defined(TALLYBROOK_HAVE_CUPS)
    if (printer.outputFormat() == QPrinter::NativeFormat && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
        qCWarning(lcPrint) << "CUPS refused the job on" << printer.printerName() << ":"
                           << QString::fromUtf8(cupsLastErrorString());
        return PrintResult::Failed;
    }
#endif
    return PrintResult::Printed;
}

} // namespace tallybrook::platform
