// exportCSV over a large visitor log. Target: 100,000 rows with six answers each in 80 ms or less.
#include "VisitorLogSample.h"
#include "export/CsvExport.h"

#include <QCoreApplication>

#include <cstdio>

using namespace tallybrook;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    constexpr int rowCount = 100'000;
    const QList<VisitorRow> rows = bench::sampleVisitorLog(rowCount);

    qsizetype bytes = exportCSV(rows).size(); // warms caches and the allocator
    const double ms = bench::bestOf(5, [&] { bytes = exportCSV(rows).size(); });
    std::printf("exportCSV %d rows: %.1f ms (best of 5), %.1f MB of CSV\n", rowCount, ms,
                double(bytes) / (1024.0 * 1024.0));
    return 0;
}
