#include "records/Timestamps.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

int number(const QRegularExpressionMatch &match, int group) {
    return match.capturedView(group).toInt();
}

} // namespace

std::optional<QDateTime> readTimestamp(QStringView text) {
    // The database writes microseconds; milliseconds are all the desk keeps.
    static const QRegularExpression longFraction(u"(\\.[0-9]{3})[0-9]+"_s);
    // [0-9] rather than \d: QRegularExpression's \d also matches other scripts' digits.
    static const QRegularExpression internetDateTime(u"^([0-9]{4})-([0-9]{2})-([0-9]{2})"
                                                     u"T([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\\.([0-9]{1,3}))?"
                                                     u"(?:(Z)|([+-])([0-9]{2}):([0-9]{2}))$"_s);

    QString cut = text.toString();
    cut.replace(longFraction, u"\\1"_s);
    const QRegularExpressionMatch match = internetDateTime.match(cut);
    if (!match.hasMatch())
        return std::nullopt;

    const QDate date(number(match, 1), number(match, 2), number(match, 3));
    int milliseconds = 0;
    if (const QStringView fraction = match.capturedView(7); !fraction.isEmpty())
        milliseconds = fraction.toInt() * (fraction.size() == 1 ? 100 : fraction.size() == 2 ? 10 : 1);
    const QTime time(number(match, 4), number(match, 5), number(match, 6), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;

    int offsetSeconds = 0;
    if (match.capturedView(8).isEmpty()) {
        const int hours = number(match, 10);
        const int minutes = number(match, 11);
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 60 + minutes) * 60 * (match.capturedView(9) == u"-" ? -1 : 1);
    }
    // The wall time is offsetSeconds ahead of UTC.
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

QString writeTimestamp(const QDateTime &instant) {
    return instant.toUTC().toString(u"yyyy-MM-dd'T'HH:mm:ss'Z'"_s);
}

} // namespace tallybrook
