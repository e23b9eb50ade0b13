#include "export/CsvExport.h"

#include "records/Timestamps.h"

#include <QHash>
#include <QLatin1StringView>
#include <QString>
#include <QStringConverter>
#include <QStringView>

#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

constexpr QStringView unlabelled = u"Answer";

QStringView columnLabel(const VisitorAnswer &answer) {
    return answer.label.isEmpty() ? unlabelled : QStringView(answer.label);
}

// Characters that make a spreadsheet evaluate a cell.
bool startsFormula(QStringView cell) {
    if (cell.isEmpty())
        return false;
    const char16_t first = cell.front().unicode();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' ||
           first == u'\r';
}

QStringView optionalText(const std::optional<QString> &text) {
    return text ? QStringView(*text) : QStringView();
}

// Encodes straight into the output: a UTF-16 copy of the whole file first would double the memory and the
// time of a large export.
class Utf8Writer {
public:
    explicit Utf8Writer(qsizetype expectedBytes) { m_bytes.resize(qMax<qsizetype>(expectedBytes, 256)); }

    void append(QStringView text) {
        reserve(m_encoder.requiredSpace(text.size()));
        // Most cells are short and ASCII; copying those directly beats a call into the encoder.
        char *out = m_bytes.data() + m_size;
        const char16_t *in = text.utf16();
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (in[i] >= 0x80) {
                m_size = m_encoder.appendToBuffer(out + i, text.sliced(i)) - m_bytes.constData();
                return;
            }
            out[i] = char(in[i]);
        }
        m_size += text.size();
    }
    void append(QLatin1StringView ascii) {
        reserve(ascii.size());
        std::memcpy(m_bytes.data() + m_size, ascii.data(), size_t(ascii.size()));
        m_size += ascii.size();
    }
    void append(char ascii) {
        reserve(1);
        m_bytes.data()[m_size++] = ascii;
    }

    // Quoted, with doubled quotes, and an apostrophe in front of what a spreadsheet would take for a formula.
    void appendCell(QStringView cell) {
        append('"');
        if (startsFormula(cell))
            append('\'');
        for (qsizetype quote = cell.indexOf(u'"'); quote >= 0; quote = cell.indexOf(u'"')) {
            append(cell.first(quote + 1));
            append('"');
            cell = cell.sliced(quote + 1);
        }
        append(cell);
        append('"');
    }

    // 2025-03-04T14:05:09Z at UTC in whole seconds, as writeTimestamp gives it. QDateTime::toString costs a
    // microsecond or more, which a hundred thousand rows feel; the calendar arithmetic is done here instead.
    void appendTimestamp(const QDateTime &instant) {
        if (!instant.isValid())
            return;
        const qint64 msecs = instant.toMSecsSinceEpoch();
        const qint64 secs = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
        const qint64 days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
        const int secondOfDay = int(secs - days * 86400);

        // Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
        const qint64 z = days + 719468;
        const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
        const qint64 dayOfEra = z - era * 146097;
        const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const qint64 mp = (5 * dayOfYear + 2) / 153;
        const int day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
        const int month = int(mp < 10 ? mp + 3 : mp - 9);
        const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
        if (year < 1 || year > 9999) {
            append(writeTimestamp(instant));
            return;
        }

        char text[] = "0000-00-00T00:00:00Z";
        twoDigits(text, int(year / 100));
        twoDigits(text + 2, int(year % 100));
        twoDigits(text + 5, month);
        twoDigits(text + 8, day);
        twoDigits(text + 11, secondOfDay / 3600);
        twoDigits(text + 14, secondOfDay / 60 % 60);
        twoDigits(text + 17, secondOfDay % 60);
        append(QLatin1StringView(text, 20));
    }

    [[nodiscard]] QByteArray take() {
        m_bytes.truncate(m_size);
        return std::move(m_bytes);
    }

private:
    static void twoDigits(char *out, int value) {
        out[0] = char('0' + value / 10);
        out[1] = char('0' + value % 10);
    }

    void reserve(qsizetype extra) {
        if (m_size + extra > m_bytes.size())
            m_bytes.resize(qMax(m_bytes.size() * 2, m_size + extra));
    }

    QByteArray m_bytes; // m_size bytes written, the rest spare room
    qsizetype m_size = 0;
    // Stateless: each piece is encoded on its own, so a stray half of a surrogate pair becomes U+FFFD in its
    // own cell instead of waiting for the next piece of text.
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
};

} // namespace

QByteArray exportCSV(const QList<VisitorRow> &rows) {
    // Distinct labels in order of first appearance, and for every answer of every row the column it fills.
    QList<QStringView> labels;
    QHash<QStringView, int> columnOf;
    std::vector<int> answerColumns;
    for (const VisitorRow &row : rows) {
        // Rows from one form ask the same questions in the same order: the column after the previous answer's
        // is nearly always the one, and comparing two labels is cheaper than hashing one.
        int column = -1;
        for (const VisitorAnswer &answer : row.answers) {
            const QStringView label = columnLabel(answer);
            if (++column >= labels.size() || labels[column] != label) {
                auto found = columnOf.constFind(label);
                if (found == columnOf.cend()) {
                    found = columnOf.insert(label, int(labels.size()));
                    labels.append(label);
                }
                column = *found;
            }
            answerColumns.push_back(column);
        }
    }

    // Room for every value once plus the quotes, commas and timestamps; non-ASCII text grows it as needed.
    qsizetype expectedBytes = 80 + 16 * labels.size();
    for (const VisitorRow &row : rows) {
        expectedBytes += 2 * 24 + 3 * (row.answers.size() + labels.size() + 6) + row.visitorName.size();
        for (const VisitorAnswer &answer : row.answers)
            expectedBytes += answer.value.size();
    }
    Utf8Writer out(expectedBytes);
    bool atLineStart = true;
    auto cell = [&out, &atLineStart](QStringView value) {
        if (!atLineStart)
            out.append(',');
        atLineStart = false;
        out.appendCell(value);
    };
    auto timestampCell = [&out](const QDateTime *instant) {
        out.append(QLatin1StringView(",\""));
        if (instant)
            out.appendTimestamp(*instant);
        out.append('"');
    };

    for (const QStringView header : {u"Name", u"Visiting"})
        cell(header);
    for (const QStringView label : std::as_const(labels))
        cell(label);
    for (const QStringView header : {u"Signed in", u"Signed out", u"List", u"Device"})
        cell(header);

    std::vector<const QString *> values(labels.size());
    qsizetype nextAnswer = 0;
    for (const VisitorRow &row : rows) {
        std::fill(values.begin(), values.end(), nullptr);
        for (const VisitorAnswer &answer : row.answers) {
            const QString *&value = values[answerColumns[nextAnswer++]];
            if (!value) // a second answer under the same label loses to the first
                value = &answer.value;
        }
        out.append(QLatin1StringView("\r\n"));
        atLineStart = true;
        cell(row.visitorName);
        cell(optionalText(row.hostName));
        for (const QString *value : values)
            cell(value ? QStringView(*value) : QStringView());
        timestampCell(&row.signedInAt);
        timestampCell(row.signedOutAt ? &*row.signedOutAt : nullptr);
        cell(optionalText(row.listName));
        cell(optionalText(row.deviceName));
    }
    return out.take();
}

} // namespace tallybrook
