#pragma once

#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class QPainter;

namespace tallybrook::platform {

// One print job, its pages drawn by a callback.
struct PrintJob {
    QString printerName; // empty: the system's default printer
    QPageSize pageSize;  // as the paper is defined (narrow side across for a label roll)
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QMarginsF margins; // in points; the page is never shrunk to the printer's unprintable edge
    QString title;     // the job's name in the queue
    bool showDialog = false;
    int pageCount = 1;
    // Draws page `index` (from 0). `page` is the area inside the margins in the painter's coordinates, the
    // orientation applied; the painter's origin is the paper's corner.
    std::function<void(QPainter &painter, const QRectF &page, int index)> drawPage;
};

enum class PrintResult {
    Printed,   // handed over to the print system
    Cancelled, // the person closed the print dialog
    Failed,    // the print system refused or lost the job
    NoPrinter, // the named printer is not installed, or there is no default printer
};

// The platform's print system: which printers there are, and printing a job. Everything runs on the GUI
// thread; print() blocks until the job is handed over or abandoned (and while the dialog is open).
class PrintSystem {
public:
    virtual ~PrintSystem() = default;
    Q_DISABLE_COPY_MOVE(PrintSystem)

    // An empty list means no printer at all.
    [[nodiscard]] virtual QStringList installedPrinterNames() const = 0;
    // Empty when no printer is the default one.
    [[nodiscard]] virtual QString defaultPrinterName() const = 0;
    // Whether a printer of exactly this name is installed; the empty name never is.
    [[nodiscard]] virtual bool hasPrinter(const QString &name) const = 0;

    virtual PrintResult print(const PrintJob &job) = 0;

protected:
    PrintSystem() = default;
};

} // namespace tallybrook::platform
