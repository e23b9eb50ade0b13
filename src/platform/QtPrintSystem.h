#pragma once

#include "platform/PrintSystem.h"

namespace tallybrook::platform {

// The print system through Qt Print Support (CUPS on Linux). A printer name that is not installed is never
// replaced by the default printer, and a page size the printer refuses fails the job instead of printing on
// whatever paper the printer would pick. The print dialog needs a QApplication.
class QtPrintSystem final : public PrintSystem {
public:
    QtPrintSystem() = default;

    [[nodiscard]] QStringList installedPrinterNames() const override;
    [[nodiscard]] QString defaultPrinterName() const override;
    [[nodiscard]] bool hasPrinter(const QString &name) const override;
    PrintResult print(const PrintJob &job) override;

    // IPP keeps a job's name to 255 bytes of UTF-8; longer titles are cut at a character boundary.
    [[nodiscard]] static QString queueTitle(const QString &title);
    static constexpr int maximumTitleBytes = 255;
};

} // namespace tallybrook::platform
