#pragma once

#include "platform/PrintSystem.h"

#include <QImage>
#include <QList>
#include <QPainter>

namespace tallybrook::testing {

// A print system that never blocks: it records each job, draws its page into an image of the page's size
// (`pixelsPerPoint` per point) and answers with `result`.
class FakePrintSystem final : public platform::PrintSystem {
public:
    QStringList printers;
    QString defaultPrinter;
    platform::PrintResult result = platform::PrintResult::Printed;
    qreal pixelsPerPoint = 4;

    QList<platform::PrintJob> jobs;
    QImage lastPage;

    [[nodiscard]] QStringList installedPrinterNames() const override { return printers; }
    [[nodiscard]] QString defaultPrinterName() const override { return defaultPrinter; }
    [[nodiscard]] bool hasPrinter(const QString &name) const override {
        return !name.isEmpty() && printers.contains(name);
    }

    platform::PrintResult print(const platform::PrintJob &job) override {
        jobs.append(job);
        QPageLayout layout(job.pageSize, job.orientation, job.margins, QPageLayout::Point);
        layout.setMode(QPageLayout::FullPageMode);
        const QRectF page = layout.paintRect(QPageLayout::Point);
        lastPage = QImage((layout.fullRect(QPageLayout::Point).size() * pixelsPerPoint).toSize(),
                          QImage::Format_RGB32);
        lastPage.fill(Qt::gray);
        if (job.drawPage) {
            QPainter painter(&lastPage);
            // Every page on the same image: the last one drawn shows.
            for (int index = 0; index < job.pageCount; ++index) {
                job.drawPage(painter, QRectF(page.topLeft() * pixelsPerPoint, page.size() * pixelsPerPoint),
                             index);
            }
        }
        return result;
    }
};

} // namespace tallybrook::testing
