#include "rest/PgTypes.h"

#include <QDate>
#include <QString>

#include <cstdio>
#include <cstring>

namespace tbserver::pg {

namespace {

constexpr qint64 microsPerSecond = 1'000'000;
constexpr qint64 microsPerDay = 86'400 * microsPerSecond;
constexpr qint64 unixEpochJulianDay = 2'440'588;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Bytes of the UTF-8 sequence that starts with `lead` (1 for anything that is not a lead byte).
int sequenceLength(unsigned char lead) {
    if (lead < 0xC0) {
        return 1;
    }
    if (lead < 0xE0) {
        return 2;
    }
    if (lead < 0xF0) {
        return 3;
    }
    return 4;
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

qsizetype nextCharacter(QByteArrayView text, qsizetype pos) {
    const qsizetype next = pos + sequenceLength(static_cast<unsigned char>(text[pos]));
    return next > text.size() ? text.size() : next;
}

int characterCount(QByteArrayView text) {
    int count = 0;
    for (const char c : text) {
        if (!isContinuation(c)) {
            ++count;
        }
    }
    return count;
}

// Reads 1 to `maximum` digits at `pos`.
bool readNumber(QByteArrayView text, qsizetype &pos, int minimum, int maximum, int &value) {
    value = 0;
    int count = 0;
    while (pos < text.size() && isDigit(text[pos]) && count < maximum) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++count;
    }
    return count >= minimum;
}

QByteArrayView trimmed(QByteArrayView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end &&
           (text[begin] == ' ' || text[begin] == '\t' || text[begin] == '\n' || text[begin] == '\r')) {
        ++begin;
    }
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\n' ||
                           text[end - 1] == '\r')) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

} // namespace

std::optional<QByteArray> uuid(QByteArrayView text) {
    if (text.startsWith('{')) {
        if (!text.endsWith('}') || text.size() < 2) {
            return std::nullopt;
        }
        text = text.sliced(1, text.size() - 2);
    }
    char digits[32];
    int count = 0;
    bool afterHyphen = false;
    for (const char c : text) {
        const int value = hexValue(c);
        if (value >= 0) {
            if (count == 32) {
                return std::nullopt;
            }
            digits[count++] = "0123456789abcdef"[value];
            afterHyphen = false;
        } else if (c == '-') {
            if (count == 0 || count % 4 != 0 || afterHyphen) {
                return std::nullopt;
            }
            afterHyphen = true;
        } else {
            return std::nullopt;
        }
    }
    if (count != 32 || afterHyphen) {
        return std::nullopt;
    }
    QByteArray canonical;
    canonical.reserve(36);
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            canonical += '-';
        }
        canonical += digits[i];
    }
    return canonical;
}

QByteArray timestampFromMicros(qint64 micros) {
    qint64 days = micros / microsPerDay;
    qint64 rest = micros % microsPerDay;
    if (rest < 0) {
        rest += microsPerDay;
        --days;
    }
    const QDate date = QDate::fromJulianDay(days + unixEpochJulianDay);
    const qint64 seconds = rest / microsPerSecond;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%06d+00:00", date.year(),
                  date.month(), date.day(), int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60),
                  int(rest % microsPerSecond));
    return QByteArray(buffer);
}

Timestamp timestamp(QByteArrayView input) {
    Timestamp result;
    const QByteArrayView text = trimmed(input);
    qsizetype pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    qint64 fraction = 0; // microseconds
    int offsetSeconds = 0;
    const auto syntax = [&result] {
        result.problem = TimestampProblem::Syntax;
        return result;
    };
    const auto expect = [&](char c) {
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    };

    if (!readNumber(text, pos, 4, 4, year) || !expect('-') || !readNumber(text, pos, 1, 2, month) ||
        !expect('-') || !readNumber(text, pos, 1, 2, day)) {
        return syntax();
    }
    if (pos < text.size()) {
        if (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ') {
            return syntax();
        }
        ++pos;
        if (!readNumber(text, pos, 1, 2, hour) || !expect(':') || !readNumber(text, pos, 2, 2, minute)) {
            return syntax();
        }
        if (expect(':')) {
            if (!readNumber(text, pos, 2, 2, second)) {
                return syntax();
            }
            if (expect('.')) {
                int digits = 0;
                qint64 scale = 100'000;
                bool roundUp = false;
                while (pos < text.size() && isDigit(text[pos])) {
                    const int digit = text[pos] - '0';
                    if (digits < 6) {
                        fraction += digit * scale;
                        scale /= 10;
                    } else if (digits == 6) {
                        roundUp = digit >= 5;
                    }
                    ++digits;
                    ++pos;
                }
                if (digits == 0) {
                    return syntax();
                }
                fraction += roundUp ? 1 : 0;
            }
        }
        while (pos < text.size() && text[pos] == ' ') {
            ++pos;
        }
        if (pos < text.size()) {
            const char zone = text[pos++];
            if (zone == 'Z' || zone == 'z') {
                // UTC
            } else if (zone == '+' || zone == '-') {
                int offsetHours = 0;
                int offsetMinutes = 0;
                if (!readNumber(text, pos, 1, 2, offsetHours)) {
                    return syntax();
                }
                const bool colon = expect(':');
                if ((colon || pos < text.size()) && !readNumber(text, pos, 2, 2, offsetMinutes)) {
                    return syntax();
                }
                if (offsetHours > 15 || offsetMinutes > 59) {
                    result.problem = TimestampProblem::OutOfRange;
                    return result;
                }
                offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (zone == '-' ? -1 : 1);
            } else {
                return syntax();
            }
            if (pos != text.size()) {
                return syntax();
            }
        }
    }
    const QDate date(year, month, day);
    const bool endOfDay = hour == 24 && minute == 0 && second == 0 && fraction == 0;
    if (!date.isValid() || (hour > 23 && !endOfDay) || minute > 59 || second > 60) {
        result.problem = TimestampProblem::OutOfRange;
        return result;
    }
    const qint64 micros = (date.toJulianDay() - unixEpochJulianDay) * microsPerDay +
                          qint64(hour * 3600 + minute * 60 + second - offsetSeconds) * microsPerSecond +
                          fraction;
    qint64 utcDays = micros / microsPerDay;
    if (micros % microsPerDay < 0) {
        --utcDays;
    }
    const QDate utcDay = QDate::fromJulianDay(utcDays + unixEpochJulianDay);
    if (utcDay.year() < 1 || utcDay.year() > 9999) {
        result.problem = TimestampProblem::OutOfRange;
        return result;
    }
    result.text = timestampFromMicros(micros);
    return result;
}

std::optional<bool> boolean(QByteArrayView input) {
    const QByteArray text = trimmed(input).toByteArray().toLower();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    const auto prefixOf = [&text](QByteArrayView word, qsizetype minimum) {
        return text.size() >= minimum && QByteArrayView(word).startsWith(text);
    };
    if (prefixOf("true", 1) || prefixOf("yes", 1) || text == "on" || text == "1") {
        return true;
    }
    if (prefixOf("false", 1) || prefixOf("no", 1) || prefixOf("off", 2) || text == "0") {
        return false;
    }
    return std::nullopt;
}

bool isCleanUtf8(QByteArrayView text) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead == 0) {
            return false;
        }
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        char32_t point = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > size) {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (bytes[i + k] & 0x3F);
        }
        if ((length == 3 && point < 0x800) || (length == 4 && (point < 0x10000 || point > 0x10FFFF)) ||
            (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

QByteArray lowerUtf8(QByteArrayView utf8) {
    bool ascii = true;
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (!ascii) {
        return QString::fromUtf8(utf8).toLower().toUtf8();
    }
    QByteArray lowered(utf8.data(), utf8.size());
    for (char &c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return lowered;
}

std::optional<LikePattern> LikePattern::compile(QByteArrayView utf8, bool caseInsensitive) {
    LikePattern pattern;
    pattern.m_caseInsensitive = caseInsensitive;
    const QByteArray text = caseInsensitive ? lowerUtf8(utf8) : utf8.toByteArray();
    pattern.m_segments.append(Segment());
    const auto appendLiteral = [&pattern](QByteArrayView bytes) {
        Segment &segment = pattern.m_segments.last();
        if (segment.isEmpty() || segment.last().anyOne) {
            segment.append(Element{false, QByteArray()});
        }
        segment.last().literal += bytes;
    };
    qsizetype i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size()) {
                return std::nullopt;
            }
            const qsizetype next = nextCharacter(text, i + 1);
            appendLiteral(QByteArrayView(text).sliced(i + 1, next - i - 1));
            i = next;
        } else if (c == '%') {
            pattern.m_segments.append(Segment());
            ++i;
        } else if (c == '_') {
            pattern.m_segments.last().append(Element{true, QByteArray()});
            ++i;
        } else {
            const qsizetype next = nextCharacter(text, i);
            appendLiteral(QByteArrayView(text).sliced(i, next - i));
            i = next;
        }
    }
    return pattern;
}

namespace {

// Where `segment` ends when it matches `text` from `pos`, or -1.
template<class Segment>
qsizetype matchAt(const Segment &segment, QByteArrayView text, qsizetype pos) {
    for (const auto &element : segment) {
        if (element.anyOne) {
            if (pos >= text.size()) {
                return -1;
            }
            pos = nextCharacter(text, pos);
        } else {
            if (text.size() - pos < element.literal.size() ||
                text.sliced(pos, element.literal.size()) != QByteArrayView(element.literal)) {
                return -1;
            }
            pos += element.literal.size();
        }
    }
    return pos;
}

template<class Segment>
int segmentCharacters(const Segment &segment) {
    int count = 0;
    for (const auto &element : segment) {
        count += element.anyOne ? 1 : characterCount(element.literal);
    }
    return count;
}

} // namespace

bool LikePattern::matches(QByteArrayView utf8, bool alreadyLowerCase) const {
    if (!m_caseInsensitive || alreadyLowerCase) {
        return matchAnchored(utf8);
    }
    // Most values are ASCII, and the search text is already lower-case: match those without a copy.
    bool upper = false;
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return matchAnchored(lowerUtf8(utf8));
        }
        upper = upper || (c >= 'A' && c <= 'Z');
    }
    if (!upper) {
        return matchAnchored(utf8);
    }
    thread_local QByteArray lowered;
    lowered.resize(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        lowered[i] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    return matchAnchored(lowered);
}

bool LikePattern::matchAnchored(QByteArrayView text) const {
    const qsizetype count = m_segments.size();
    if (count == 1) {
        return matchAt(m_segments.first(), text, 0) == text.size();
    }
    qsizetype pos = matchAt(m_segments.first(), text, 0);
    if (pos < 0) {
        return false;
    }
    // Each middle part at its leftmost place: that leaves the most room for the rest.
    for (qsizetype s = 1; s < count - 1; ++s) {
        const Segment &segment = m_segments[s];
        if (segment.isEmpty()) {
            continue;
        }
        qsizetype found = -1;
        qsizetype start = pos;
        while (start <= text.size()) {
            if (!segment.first().anyOne) {
                const QByteArray &literal = segment.first().literal;
                const void *hit = ::memmem(text.data() + start, size_t(text.size() - start),
                                           literal.constData(), size_t(literal.size()));
                if (!hit) {
                    return false;
                }
                start = static_cast<const char *>(hit) - text.data();
            }
            found = matchAt(segment, text, start);
            if (found >= 0 || start >= text.size()) {
                break;
            }
            start = nextCharacter(text, start);
        }
        if (found < 0) {
            return false;
        }
        pos = found;
    }
    // The last part ends exactly at the end: step back its length in characters.
    const Segment &last = m_segments.last();
    qsizetype start = text.size();
    for (int characters = segmentCharacters(last); characters > 0; --characters) {
        if (start <= pos) {
            return false;
        }
        --start;
        while (start > pos && isContinuation(text[start])) {
            --start;
        }
    }
    return start >= pos && matchAt(last, text, start) == text.size();
}

QList<QByteArray> LikePattern::literalRuns(int minimumCharacters) const {
    QList<QByteArray> runs;
    for (const Segment &segment : m_segments) {
        for (const Element &element : segment) {
            if (!element.anyOne && characterCount(element.literal) >= minimumCharacters) {
                runs.append(element.literal);
            }
        }
    }
    return runs;
}

} // namespace tbserver::pg
