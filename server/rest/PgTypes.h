#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace tbserver::pg {

// The text forms the hosted database accepts and writes, for the column types the REST tables use.

// Accepts what PostgreSQL's uuid input accepts (upper or lower case, optional braces, hyphens after any group
// of four digits) and returns the canonical lower-case 36-character form.
[[nodiscard]] std::optional<QByteArray> uuid(QByteArrayView text);

enum class TimestampProblem { None, Syntax, OutOfRange };
struct Timestamp {
    QByteArray text; // "yyyy-MM-ddTHH:mm:ss.ffffff+00:00": fixed width, UTC, so text order is time order
    TimestampProblem problem = TimestampProblem::None;
};
// ISO 8601: a date, optionally "T" or a space and a time with optional seconds and fraction (rounded to
// microseconds), and an optional zone "Z" or +hh, +hhmm, +hh:mm. No zone means UTC (the hosted session zone).
[[nodiscard]] Timestamp timestamp(QByteArrayView text);
// Unix microseconds in the same stored form.
[[nodiscard]] QByteArray timestampFromMicros(qint64 microsSinceEpoch);

// PostgreSQL's boolean input: true/false, yes/no, on/off, 1/0 and unique prefixes, any case.
[[nodiscard]] std::optional<bool> boolean(QByteArrayView text);

// Valid UTF-8 without NUL characters (PostgreSQL text cannot hold either).
[[nodiscard]] bool isCleanUtf8(QByteArrayView text);

// A LIKE pattern with PostgreSQL's rules: "%" any run, "_" one character, backslash escapes the next
// character.
class LikePattern final {
public:
    // Empty when the pattern ends in a lone escape character. `caseInsensitive` lowers the pattern (ILIKE);
    // the value is then lowered at match time.
    [[nodiscard]] static std::optional<LikePattern> compile(QByteArrayView utf8, bool caseInsensitive);

    // `alreadyLowerCase`: the value is known to be lower-case (the search text), so ILIKE need not lower it.
    [[nodiscard]] bool matches(QByteArrayView utf8, bool alreadyLowerCase = false) const;
    [[nodiscard]] bool caseInsensitive() const { return m_caseInsensitive; }
    // The runs of literal text (between wildcards) of at least `minimumCharacters` characters: every match
    // contains each of them.
    [[nodiscard]] QList<QByteArray> literalRuns(int minimumCharacters) const;

private:
    struct Element {
        bool anyOne = false; // "_"
        QByteArray literal;  // otherwise: literal bytes
    };
    using Segment = QList<Element>;
    // The parts between unescaped "%": the first is anchored at the start of the value, the last at its end
    // (either may be empty), the ones between match anywhere in order.
    QList<Segment> m_segments;
    bool m_caseInsensitive = false;

    [[nodiscard]] bool matchAnchored(QByteArrayView text) const;
};

// Lower-cases text as the hosted database's lower() does for the common scripts (ASCII fast path).
[[nodiscard]] QByteArray lowerUtf8(QByteArrayView utf8);

} // namespace tbserver::pg
