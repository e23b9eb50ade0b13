#include "records/EmailAddress.h"
#include "records/JsonRead.h"
#include "records/Timestamps.h"
#include "records/VisitorRecords.h"

#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace tallybrook;

// Timestamp texts, email addresses and whole response bodies, before any record looks at them.
class TestWireFormats : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readTimestamp_data();
    void readTimestamp();
    void writeTimestamp();
    void emailAddress_data();
    void emailAddress();
    void bodies_data();
    void bodies();
};

namespace {
void row(const char *name, const char16_t *text, const QDateTime &expected = {}) {
    QTest::newRow(name) << QString::fromUtf16(text) << expected;
}
QDateTime utc(int hour, int minute, int second, int ms = 0) {
    return QDateTime({2025, 3, 4}, QTime(hour, minute, second, ms), Qt::UTC);
}
} // namespace

void TestWireFormats::readTimestamp_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: unreadable

    row("microseconds cut to milliseconds", u"2025-03-04T09:05:12.123456+00:00", utc(9, 5, 12, 123));
    row("whole seconds, zero offset", u"2025-03-04T09:05:12+00:00", utc(9, 5, 12));
    row("whole seconds, Z", u"2025-03-04T09:05:12Z", utc(9, 5, 12));
    row("east offset", u"2025-03-04T11:05:12+02:00", utc(9, 5, 12));
    row("west offset, previous day", u"2025-03-03T23:35:12-09:30", utc(9, 5, 12));
    row("one fraction digit is tenths", u"2025-03-04T09:05:12.5Z", utc(9, 5, 12, 500));
    row("date alone", u"2025-03-04");
    row("garbage", u"yesterday");
    row("empty", u"");
    row("month 13", u"2025-13-01T00:00:00Z");
    row("no zone", u"2025-03-04T09:05:12");
    row("space for T", u"2025-03-04 09:05:12Z");
    row("trailing text", u"2025-03-04T09:05:12Z!");
}

void TestWireFormats::readTimestamp() {
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);

    const std::optional<QDateTime> read = tallybrook::readTimestamp(text);
    QCOMPARE(read.has_value(), expected.isValid());
    if (read) {
        QCOMPARE(*read, expected);
        QCOMPARE(read->timeSpec(), Qt::UTC);
    }
}

void TestWireFormats::writeTimestamp() {
    // Milliseconds dropped, converted from a zone west of UTC into the next UTC day.
    const QDateTime evening({2025, 3, 3}, {22, 5, 0, 789}, QTimeZone("America/New_York"));
    QCOMPARE(tallybrook::writeTimestamp(evening), u"2025-03-04T03:05:00Z"_s);
}

void TestWireFormats::emailAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain address") << u"ann@example.com"_s << true;
    QTest::newRow("subdomains") << u"a@mail.example.co.uk"_s << true;
    QTest::newRow("letters beyond ASCII") << u"zo\u00eb@\u0142ukasz.example"_s << true;
    QTest::newRow("no dot after the at sign") << u"ann@example"_s << false;
    QTest::newRow("dot only before the at sign") << u"ann.lee@example"_s << false;
    QTest::newRow("two at signs") << u"ann@work@example.com"_s << false;
    QTest::newRow("nothing before the at sign") << u"@example.com"_s << false;
    QTest::newRow("dot right after the at sign") << u"ann@.com"_s << false;
    QTest::newRow("ends with the dot") << u"ann@example."_s << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("space inside") << u"ann lee@example.com"_s << false;
    QTest::newRow("tab at the end") << u"ann@example.com\t"_s << false;
    QTest::newRow("no-break space inside") << u"ann\u00a0lee@example.com"_s << false;
    QTest::newRow("ideographic space inside") << u"ann\u3000lee@example.com"_s << false;
    QTest::newRow("thin space inside") << u"ann@exa\u2009mple.com"_s << false;
    QTest::newRow("line separator at the end") << u"ann@example.com\u2028"_s << false;
    QTest::newRow("zero-width space inside") << u"ann\u200blee@example.com"_s << false;
    QTest::newRow("byte order mark in front") << u"\ufeffann@example.com"_s << false;
}

void TestWireFormats::emailAddress() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isEmailAddress(text), valid);
}

void TestWireFormats::bodies_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error"); // empty: two records decode

    const QString prefix = u"The server's answer could not be read: "_s;
    const QString invalid = prefix + u"it is not valid JSON."_s;
    QTest::newRow("list of two") << QByteArray(R"([{"label":"a","value":"b"},{"label":"c","value":""}])")
                                 << QString();
    QTest::newRow("invalid UTF-8") << QByteArray("[{\"label\":\"\xff\xfe\",\"value\":\"b\"}]") << invalid;
    QTest::newRow("truncated") << QByteArray(R"([{"label":"a")") << invalid;
    QTest::newRow("empty body") << QByteArray() << invalid;
    QTest::newRow("nested too deep") << QByteArray(100000, '[') + QByteArray(100000, ']') << invalid;
    QTest::newRow("object, not a list")
        << QByteArray(R"({"label":"a","value":"b"})") << prefix + u"it is not a list."_s;
    QTest::newRow("list of numbers") << QByteArray("[1,2]") << prefix + u"a record is not an object."_s;
}

void TestWireFormats::bodies() {
    QFETCH(QByteArray, body);
    QFETCH(QString, error);

    try {
        const QList<VisitorAnswer> answers = json::decodeArray<VisitorAnswer>(body);
        QVERIFY2(error.isEmpty(), "decoded a body that should fail");
        QCOMPARE(answers.size(), 2);
    } catch (const DecodeError &e) {
        QCOMPARE(e.message(), error);
    }
}

QTEST_GUILESS_MAIN(TestWireFormats)
#include "tst_wireformats.moc"
