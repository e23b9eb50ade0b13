#include "records/DateStyles.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

struct FormatPiece {
    QString text;
    bool isField = false; // a run of one pattern letter (d, M or y); otherwise literal text
};

bool isDateLetter(QChar c) {
    return c == u'd' || c == u'M' || c == u'y';
}

// Splits a format into pattern runs and the literal text between them; a quoted section stays one literal.
QList<FormatPiece> splitFormat(const QString &format) {
    QList<FormatPiece> pieces;
    auto appendLiteral = [&pieces](QStringView text) {
        if (!pieces.isEmpty() && !pieces.last().isField)
            pieces.last().text += text;
        else
            pieces.append({text.toString(), false});
    };
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format.at(i);
        qsizetype end = i + 1;
        if (isDateLetter(c)) {
            while (end < format.size() && format.at(end) == c)
                ++end;
            pieces.append({format.mid(i, end - i), true});
        } else {
            if (c == u'\'') {
                // '' inside quotes is an escaped quote, so a quoted section ends at a lone quote.
                while (end < format.size()) {
                    if (format.at(end) == u'\'') {
                        if (end + 1 < format.size() && format.at(end + 1) == u'\'') {
                            end += 2;
                            continue;
                        }
                        ++end;
                        break;
                    }
                    ++end;
                }
            }
            appendLiteral(QStringView(format).mid(i, end - i));
        }
        i = end;
    }
    return pieces;
}

// The locale's long date format with the year and the separator that belongs to it removed:
// "dddd, MMMM d, yyyy" -> "dddd, MMMM d", "yyyy年M月d日dddd" -> "M月d日dddd". Qt has no format skeletons to
// ask for.
QString withoutYear(const QString &dateFormat) {
    QList<FormatPiece> pieces = splitFormat(dateFormat);
    for (;;) {
        const auto year = std::find_if(pieces.cbegin(), pieces.cend(), [](const FormatPiece &piece) {
            return piece.isField && piece.text.startsWith(u'y');
        });
        if (year == pieces.cend())
            break;
        const qsizetype index = year - pieces.cbegin();
        const bool fieldFollows =
            std::any_of(year + 1, pieces.cend(), [](const FormatPiece &p) { return p.isField; });
        if (fieldFollows) {
            // A leading or inner year takes the separator after it with it ("yyyy年M月" -> "M月").
            const qsizetype count = pieces.at(index + 1).isField ? 1 : 2;
            pieces.remove(index, count);
        } else {
            // A trailing year takes the separator before it and any suffix after it (", yyyy", " yyyy 'г'.").
            const bool literalBefore = index > 0 && !pieces.at(index - 1).isField;
            const qsizetype first = literalBefore ? index - 1 : index;
            pieces.remove(first, pieces.size() - first);
        }
    }
    QString format;
    for (const FormatPiece &piece : std::as_const(pieces))
        format += piece.text;
    return format.trimmed();
}

} // namespace

QString weekdayMonthDay(const QDate &date, const QLocale &locale) {
    return locale.toString(date, withoutYear(locale.dateFormat(QLocale::LongFormat)));
}

QString shortTime(const QTime &time, const QLocale &locale) {
    // The C locale's short style still carries seconds ("HH:mm:ss"); a shortened time never does.
    static const QRegularExpression seconds(u"[:.]?ss?"_s); // compiled once: this runs for every row shown
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(u's')) {
        format.remove(seconds);
    }
    return locale.toString(time, format);
}

QString abbreviatedDateFormat(const QLocale &locale) {
    static const QRegularExpression weekday(u"^dddd[\\s,]*|[\\s,]*dddd"_s);
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    format.replace(u"MMMM"_s, u"MMM"_s);
    return format.trimmed();
}

QString abbreviatedDateTime(const QDateTime &instant, const QLocale &locale) {
    const QDateTime local = instant.toLocalTime();
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + u", "_s +
           shortTime(local.time(), locale);
}

} // namespace tallybrook
