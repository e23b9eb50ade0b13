// exportPDF over a large visitor log. Targets: 10,000 rows in 800 ms or less and at most 60 MB peak memory.
// The peak is measured in a second run of this program that makes one report and nothing else, so the timing
// runs do not inflate it.
#include "VisitorLogSample.h"
#include "export/PdfReport.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QProcess>

#include <cstdio>
#include <cstring>

using namespace tallybrook;

namespace {

constexpr int rowCount = 10'000;

int measurePeakMemory() {
    const QList<VisitorRow> rows = bench::sampleVisitorLog(rowCount);
    const double before = bench::peakResidentMB();
    const QByteArray pdf = exportPDF(QStringLiteral("Visitor Log"), rows);
    std::printf("%.1f %.1f %lld\n", before, bench::peakResidentMB(), static_cast<long long>(pdf.size()));
    return pdf.isEmpty() ? 1 : 0;
}

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--peak-memory") == 0)
        return measurePeakMemory();

    const QList<VisitorRow> rows = bench::sampleVisitorLog(rowCount);
    qsizetype bytes = exportPDF(QStringLiteral("Visitor Log"), rows).size();
    const double ms =
        bench::bestOf(5, [&] { bytes = exportPDF(QStringLiteral("Visitor Log"), rows).size(); });
    std::printf("exportPDF %d rows: %.1f ms (best of 5), %.1f MB of PDF\n", rowCount, ms,
                double(bytes) / (1024.0 * 1024.0));

    QProcess single;
    single.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--peak-memory")});
    if (!single.waitForFinished(120'000) || single.exitCode() != 0) {
        std::printf("exportPDF %d rows: peak memory not measured\n", rowCount);
        return 1;
    }
    const QList<QByteArray> figures = single.readAllStandardOutput().trimmed().split(' ');
    std::printf(
        "exportPDF %d rows: peak RSS %s MB (one report in its own process; %s MB before the export)\n",
        rowCount, figures.value(1).constData(), figures.value(0).constData());
    return 0;
}
