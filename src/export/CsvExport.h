#pragma once

#include "records/VisitorRecords.h"

#include <QByteArray>
#include <QList>

namespace tallybrook {

// The visitor log as a spreadsheet file: UTF-8 without a byte-order mark, every cell quoted, CRLF between
// lines and none after the last. Columns: "Name", "Visiting", one per answer label in order of first
// appearance, "Signed in", "Signed out", "List", "Device". A cell that a spreadsheet would read as a
// formula gets an apostrophe in front. Writing the bytes to disk is the caller's business.
[[nodiscard]] QByteArray exportCSV(const QList<VisitorRow> &rows);

} // namespace tallybrook
