#pragma once

#include "records/VisitorRecords.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QRectF>
#include <QString>

class QPainter;

namespace tallybrook {

// The list of everyone on site for an evacuation: one page for every 40 people, sorted by name, each with a
// box to tick at the assembly point. Drawn the same way on a printer and into a PDF.
class RollCall final {
public:
    static constexpr int peoplePerPage = 40;

    // `asOf`: when the list was loaded; none when no list has ever loaded. `unreachable`: the last attempt to
    // load a newer one failed, so the list may be out of date.
    RollCall(QList<VisitorRow> people, std::optional<QDateTime> asOf, bool unreachable, QString placeName,
             QLocale locale = QLocale());

    [[nodiscard]] const QList<VisitorRow> &people() const { return m_people; }
    [[nodiscard]] int pageCount() const;
    // "As of 09:41 · 12 people on site"; "As of 09:41, the server could not be reached · …".
    [[nodiscard]] QString statusLine() const;
    // Page `index` (from 0) into `page`, whatever the device's resolution.
    void paintPage(QPainter &painter, const QRectF &page, int index) const;
    [[nodiscard]] QByteArray pdf() const;

private:
    [[nodiscard]] QString timeText(const QDateTime &instant) const;

    QList<VisitorRow> m_people;
    std::optional<QDateTime> m_asOf;
    bool m_unreachable;
    QString m_placeName;
    QLocale m_locale;
};

} // namespace tallybrook
