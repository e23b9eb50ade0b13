#pragma once

#include "records/VisitorRecords.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

namespace tallybrook {

// When and for whom a report is made. Its dates are written in this locale and time zone, with the month
// abbreviated and the short time: "Mar 4, 2025, 2:05 PM", "4. März 2025, 15:05".
struct ReportContext {
    QDateTime generatedAt = QDateTime::currentDateTimeUtc();
    QLocale locale;
    QTimeZone timeZone = QTimeZone::systemTimeZone();
};

// The visitor log as a printable report on US Letter pages: on every page the title, the "Generated" line
// and the column headings, then up to 14 two-line visitor blocks. Empty bytes when no PDF could be made.
// Needs a QGuiApplication (fonts). Writing the bytes to disk is the caller's business.
[[nodiscard]] QByteArray exportPDF(const QString &title, const QList<VisitorRow> &rows,
                                   const ReportContext &context = {});

} // namespace tallybrook
