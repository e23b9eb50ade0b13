// The value forms the REST service reads and writes: uuids, timestamps, booleans, LIKE patterns, search text.
#include "rest/PgTypes.h"
#include "rest/SearchText.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using namespace tbserver;
using namespace Qt::StringLiterals;

class TestServerRestTypes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void uuid_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected"); // empty: refused
        const QByteArray canonical = "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11";
        QTest::newRow("canonical") << canonical << canonical;
        QTest::newRow("upper case") << QByteArray("A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11") << canonical;
        QTest::newRow("braces") << QByteArray("{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11}") << canonical;
        QTest::newRow("no hyphens") << QByteArray("a0eebc999c0b4ef8bb6d6bb9bd380a11") << canonical;
        QTest::newRow("hyphen every four")
            << QByteArray("a0ee-bc99-9c0b-4ef8-bb6d-6bb9-bd38-0a11") << canonical;
        QTest::newRow("short") << QByteArray("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a1") << QByteArray();
        QTest::newRow("long") << QByteArray("a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a111") << QByteArray();
        QTest::newRow("not hex") << QByteArray("g0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11") << QByteArray();
        QTest::newRow("hyphen inside a group")
            << QByteArray("a0e-ebc99-9c0b-4ef8-bb6d-6bb9bd380a11") << QByteArray();
        QTest::newRow("double hyphen") << QByteArray("a0eebc99--9c0b-4ef8-bb6d-6bb9bd380a11") << QByteArray();
        QTest::newRow("trailing hyphen") << QByteArray("a0eebc999c0b4ef8bb6d6bb9bd380a11-") << QByteArray();
        QTest::newRow("open brace") << QByteArray("{a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11") << QByteArray();
        QTest::newRow("spaces") << QByteArray(" a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11") << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void uuid() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        QCOMPARE(pg::uuid(input).value_or(QByteArray()), expected);
    }

    void timestamp_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("expected"); // "syntax" or "range" for the two refusals
        QTest::newRow("Z") << QByteArray("2025-03-04T09:05:12Z")
                           << QByteArray("2025-03-04T09:05:12.000000+00:00");
        QTest::newRow("micro") << QByteArray("2025-03-04T09:05:12.123456+00:00")
                               << QByteArray("2025-03-04T09:05:12.123456+00:00");
        QTest::newRow("milli") << QByteArray("2025-03-04T09:05:12.123Z")
                               << QByteArray("2025-03-04T09:05:12.123000+00:00");
        QTest::newRow("rounds to micro")
            << QByteArray("2025-03-04T09:05:12.1234565Z") << QByteArray("2025-03-04T09:05:12.123457+00:00");
        QTest::newRow("rounds into the next day")
            << QByteArray("2025-12-31T23:59:59.9999999Z") << QByteArray("2026-01-01T00:00:00.000000+00:00");
        QTest::newRow("offset") << QByteArray("2025-03-04T09:05:12+02:00")
                                << QByteArray("2025-03-04T07:05:12.000000+00:00");
        QTest::newRow("negative offset over midnight")
            << QByteArray("2025-03-04T23:30:00-01:30") << QByteArray("2025-03-05T01:00:00.000000+00:00");
        QTest::newRow("offset hhmm") << QByteArray("2025-03-04T09:05:12+0530")
                                     << QByteArray("2025-03-04T03:35:12.000000+00:00");
        QTest::newRow("offset hours")
            << QByteArray("2025-03-04T09:05:12-05") << QByteArray("2025-03-04T14:05:12.000000+00:00");
        QTest::newRow("space, no zone")
            << QByteArray("2025-03-04 09:05") << QByteArray("2025-03-04T09:05:00.000000+00:00");
        QTest::newRow("date") << QByteArray("2025-03-04") << QByteArray("2025-03-04T00:00:00.000000+00:00");
        QTest::newRow("unpadded") << QByteArray("2025-3-4T9:05:00Z")
                                  << QByteArray("2025-03-04T09:05:00.000000+00:00");
        QTest::newRow("leap day") << QByteArray("2024-02-29T12:00:00Z")
                                  << QByteArray("2024-02-29T12:00:00.000000+00:00");
        QTest::newRow("24:00") << QByteArray("2025-03-04T24:00:00Z")
                               << QByteArray("2025-03-05T00:00:00.000000+00:00");
        QTest::newRow("space before zone")
            << QByteArray("2025-03-04 09:05:12 +01:00") << QByteArray("2025-03-04T08:05:12.000000+00:00");
        QTest::newRow("plus became a space")
            << QByteArray("2025-03-04T09:05:12 01:00") << QByteArray("syntax");
        QTest::newRow("words") << QByteArray("yesterday") << QByteArray("syntax");
        QTest::newRow("trailing text") << QByteArray("2025-03-04T09:05:12Zx") << QByteArray("syntax");
        QTest::newRow("empty fraction") << QByteArray("2025-03-04T09:05:12.Z") << QByteArray("syntax");
        QTest::newRow("two-digit year") << QByteArray("25-03-04") << QByteArray("syntax");
        QTest::newRow("month 13") << QByteArray("2025-13-04") << QByteArray("range");
        QTest::newRow("February 30") << QByteArray("2025-02-30") << QByteArray("range");
        QTest::newRow("hour 25") << QByteArray("2025-03-04T25:00:00Z") << QByteArray("range");
        QTest::newRow("24:00:01") << QByteArray("2025-03-04T24:00:01Z") << QByteArray("range");
        QTest::newRow("offset 16 hours") << QByteArray("2025-03-04T09:00:00+16:00") << QByteArray("range");
        QTest::newRow("before year 1") << QByteArray("0001-01-01T00:00:00+01:00") << QByteArray("range");
        QTest::newRow("year 1") << QByteArray("0001-01-01T00:00:00Z")
                                << QByteArray("0001-01-01T00:00:00.000000+00:00");
    }

    void timestamp() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, expected);
        const pg::Timestamp stamp = pg::timestamp(input);
        const QByteArray actual = stamp.problem == pg::TimestampProblem::Syntax       ? QByteArray("syntax")
                                  : stamp.problem == pg::TimestampProblem::OutOfRange ? QByteArray("range")
                                                                                      : stamp.text;
        QCOMPARE(actual, expected);
    }

    void boolean_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("expected"); // -1 refused
        for (const char *yes : {"true", "TRUE", "t", "tr", "yes", "y", "on", "1", " true "}) {
            QTest::newRow(yes) << QByteArray(yes) << 1;
        }
        for (const char *no : {"false", "f", "no", "n", "off", "of", "0", "False"}) {
            QTest::newRow(no) << QByteArray(no) << 0;
        }
        for (const char *bad : {"", "o", "2", "yep", "truth", "null"}) {
            QTest::newRow(bad[0] ? bad : "empty") << QByteArray(bad) << -1;
        }
    }

    void boolean() {
        QFETCH(QByteArray, input);
        QFETCH(int, expected);
        const std::optional<bool> value = pg::boolean(input);
        QCOMPARE(value ? int(*value) : -1, expected);
    }

    void like_data() {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("insensitive");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("matches");
        const auto row = [](const char *name, const char *pattern, bool insensitive, const char *value,
                            bool matches) {
            QTest::newRow(name) << QByteArray(pattern) << insensitive << QByteArray(value) << matches;
        };
        row("exact", "abc", false, "abc", true);
        row("exact is whole", "abc", false, "abcd", false);
        row("case", "ABC", false, "abc", false);
        row("ilike case", "ABC", true, "abc", true);
        row("percent any run", "a%c", false, "abbbc", true);
        row("percent empty run", "a%c", false, "ac", true);
        row("underscore one", "a_c", false, "abc", true);
        row("underscore not zero", "a_c", false, "ac", false);
        row("underscore one character, not byte", "a_c", false,
            "a\xc3\xa9"
            "c",
            true);
        row("escaped percent", "50\\%", false, "50%", true);
        row("escaped percent is literal", "50\\%", false, "500", false);
        row("escaped underscore", "a\\_c", false, "abc", false);
        row("escaped backslash", "a\\\\b", false, "a\\b", true);
        row("escaped ordinary", "\\a", false, "a", true);
        row("contains", "%lee%", false, "ann lee smith", true);
        row("starts", "ann%", false, "ann lee", true);
        row("ends", "%lee", false, "ann lee", true);
        row("ends, not anchored late", "%lee", false, "lee ann", false);
        row("ordered parts", "%a%b%", false, "xbxa", false);
        row("backtracking", "%aab%", false, "aaab", true);
        row("repeat parts", "%ab%ab%", false, "ab", false);
        row("repeat parts found", "%ab%ab%", false, "abab", true);
        row("underscore at end", "%a_", false, "xab", true);
        row("first and last overlap", "a%a", false, "a", false);
        row("only percents", "%%", false, "", true);
        row("empty pattern", "", false, "", true);
        row("empty pattern vs text", "", false, "x", false);
        row("ilike non-ASCII", "%ZO\xc3\x8b%", true, "zo\xc3\xab bront\xc3\xab", true);
        row("like non-ASCII case", "%ZO\xc3\x8b%", false, "zo\xc3\xab", false);
        row("ilike sharp s", "%GRO\xc3\x9f%", true, "j\xc3\xbcrgen gro\xc3\x9f", true);
    }

    void like() {
        QFETCH(QByteArray, pattern);
        QFETCH(bool, insensitive);
        QFETCH(QByteArray, value);
        QFETCH(bool, matches);
        const std::optional<pg::LikePattern> compiled = pg::LikePattern::compile(pattern, insensitive);
        QVERIFY(compiled.has_value());
        QCOMPARE(compiled->matches(value), matches);
    }

    void likeRefusesLoneEscape() {
        QVERIFY(!pg::LikePattern::compile("abc\\", false).has_value());
        QVERIFY(!pg::LikePattern::compile("\\", true).has_value());
        QVERIFY(pg::LikePattern::compile("abc\\\\", false).has_value());
    }

    void literalRuns_data() {
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<QByteArray>("runs");
        QTest::newRow("plain") << QByteArray("%acme%") << QByteArray("acme");
        QTest::newRow("short") << QByteArray("%ac%") << QByteArray();
        QTest::newRow("wildcards split") << QByteArray("%ann%smith_x%") << QByteArray("ann|smith");
        QTest::newRow("escapes kept as text") << QByteArray("%50\\%\\_off%") << QByteArray("50%_off");
        QTest::newRow("characters, not bytes") << QByteArray("%\xc3\xa9\xc3\xa9%") << QByteArray();
        QTest::newRow("three characters")
            << QByteArray("%\xc3\xa9\xc3\xa9x%") << QByteArray("\xc3\xa9\xc3\xa9x");
        QTest::newRow("lowered") << QByteArray("%ACME%") << QByteArray("acme");
    }

    void literalRuns() {
        QFETCH(QByteArray, pattern);
        QFETCH(QByteArray, runs);
        QCOMPARE(pg::LikePattern::compile(pattern, true)->literalRuns(3).join('|'), runs);
    }

    void searchText_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("host"); // null: no host
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("all parts") << u"Ann LEE"_s << u"Maria"_s
                                   << QByteArray("[{\"label\":\"Company\",\"value\":\"ACME\"}]")
                                   << QByteArray("ann lee maria company acme");
        QTest::newRow("no host") << u"Bob"_s << QString() << QByteArray("[]") << QByteArray("bob");
        QTest::newRow("empty parts skipped")
            << u"Bob"_s << u""_s << QByteArray("[{\"label\":\"\",\"value\":\"x\"}]") << QByteArray("bob x");
        QTest::newRow("non-ASCII lowered") << u"ZO\u00cb"_s << u"J\u00dcRGEN"_s << QByteArray("[]")
                                           << QByteArray("zo\xc3\xab j\xc3\xbcrgen");
        QTest::newRow("numbers and junk")
            << u"Bob"_s << QString() << QByteArray("[{\"label\":\"Slot\",\"value\":7},5,{\"x\":1}]")
            << QByteArray("bob slot 7");
        QTest::newRow("answers not JSON")
            << u"Bob"_s << QString() << QByteArray("{oops") << QByteArray("bob");
    }

    void searchText() {
        QFETCH(QString, name);
        QFETCH(QString, host);
        QFETCH(QByteArray, answers);
        QFETCH(QByteArray, expected);
        const std::optional<QByteArray> hostText =
            host.isNull() ? std::nullopt : std::optional(host.toUtf8());
        const std::optional<QByteArrayView> hostView =
            hostText ? std::optional<QByteArrayView>(*hostText) : std::nullopt;
        QCOMPARE(searchTextFor(name.toUtf8(), hostView, answers), expected);
    }
};

QTEST_GUILESS_MAIN(TestServerRestTypes)
#include "tst_server_rest_types.moc"
