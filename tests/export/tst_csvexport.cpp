#include "export/CsvExport.h"
#include "records/Timestamps.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;
using namespace tallybrook;

// The visitor log as CSV bytes: columns, quoting, formula guard, line ends and timestamps.
class TestCsvExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesTheLog_data();
    void writesTheLog();
    void guardsCellsAgainstFormulas_data();
    void guardsCellsAgainstFormulas();
    void timestampsAtUtcInWholeSeconds();
};

namespace {

const QDateTime arrival({2025, 3, 4}, {9, 5, 12}, Qt::UTC);

VisitorRow visitor(QString name, QList<VisitorAnswer> answers = {},
                   std::optional<QString> host = std::nullopt,
                   std::optional<QDateTime> signedOut = QDateTime({2025, 3, 4}, {10, 10}, Qt::UTC)) {
    return VisitorRow{
        {}, std::move(name), std::move(host), std::move(answers), arrival, std::move(signedOut), {}, {}};
}

// The line of a visitor with no answers, signed in at `signedIn` and still on site.
QByteArray onSiteLine(const QDateTime &signedIn) {
    VisitorRow row = visitor(u"Sam"_s, {}, std::nullopt, std::nullopt);
    row.signedInAt = signedIn;
    return exportCSV({row}).split('\n').value(1);
}

const QByteArray times = R"("2025-03-04T09:05:12Z","2025-03-04T10:10:00Z")";
const QByteArray tail = times + R"(,"","")"; // the times, no list, no device

QByteArray lines(const QByteArrayList &texts) {
    return texts.join("\r\n");
}

} // namespace

void TestCsvExport::writesTheLog_data() {
    QTest::addColumn<QList<VisitorRow>>("rows");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("no rows: the header alone, no line break")
        << QList<VisitorRow>{} << QByteArray(R"("Name","Visiting","Signed in","Signed out","List","Device")");
    VisitorRow full = visitor(u"Zoë Łukasz"_s, {{u"Company"_s, u"Acme 🎉"_s}}, u"Ann"_s);
    full.listName = u"Contractors"_s;
    full.deviceName = u"Front desk"_s;
    QTest::newRow("every column filled, UTF-8")
        << QList{full}
        << lines({R"("Name","Visiting","Company","Signed in","Signed out","List","Device")",
                  "\"Zo\xC3\xAB \xC5\x81ukasz\",\"Ann\",\"Acme \xF0\x9F\x8E\x89\"," + times +
                      R"(,"Contractors","Front desk")"});
    QTest::newRow("labels in order of first appearance, compared exactly; other cells empty")
        << QList{visitor(u"Ann"_s, {{u"Phone"_s, u"1"_s}}),
                 visitor(u"Bo"_s, {{u"company"_s, u"x"_s}, {u"Company"_s, u"y"_s}, {u"Phone"_s, u"2"_s}})}
        << lines({R"("Name","Visiting","Phone","company","Company","Signed in","Signed out","List","Device")",
                  R"("Ann","","1","","",)" + tail, R"("Bo","","2","x","y",)" + tail});
    QTest::newRow("an empty label goes under Answer; the same label twice: the first wins")
        << QList{visitor(
               u"Ann"_s,
               {{u"Car"_s, u"red"_s}, {u""_s, u"x"_s}, {u"Car"_s, u"blue"_s}, {u"Answer"_s, u"y"_s}})}
        << lines({R"("Name","Visiting","Car","Answer","Signed in","Signed out","List","Device")",
                  R"("Ann","","red","x",)" + tail});
    QTest::newRow("quotes doubled; commas and line breaks stay inside")
        << QList{visitor(u"Ann \"Nan\" Lee"_s, {{u"Note"_s, u"first, second\r\nthird\n"_s}})}
        << lines({R"("Name","Visiting","Note","Signed in","Signed out","List","Device")",
                  R"("Ann ""Nan"" Lee","","first, second)", "third\n\"," + tail});
    const QString strayHalf = u"Zo"_s + QChar(0xD83C);
    QTest::newRow("half a surrogate pair is replaced in its own cell; on site: no sign-out")
        << QList{visitor(strayHalf, {}, strayHalf, std::nullopt)}
        << lines({R"("Name","Visiting","Signed in","Signed out","List","Device")",
                  "\"Zo\xEF\xBF\xBD\",\"Zo\xEF\xBF\xBD\",\"2025-03-04T09:05:12Z\",\"\",\"\",\"\""});
}

void TestCsvExport::writesTheLog() {
    QFETCH(QList<VisitorRow>, rows);
    QFETCH(QByteArray, expected);
    QCOMPARE(exportCSV(rows), expected);
}

void TestCsvExport::guardsCellsAgainstFormulas_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("cell");
    QTest::newRow("equals") << u"=HYPERLINK(\"x\")"_s << QByteArray(R"csv("'=HYPERLINK(""x"")")csv");
    QTest::newRow("plus") << u"+44 20 7946 0000"_s << QByteArray(R"("'+44 20 7946 0000")");
    QTest::newRow("minus") << u"-2+3"_s << QByteArray(R"("'-2+3")");
    QTest::newRow("at") << u"@SUM(A1)"_s << QByteArray(R"csv("'@SUM(A1)")csv");
    QTest::newRow("tab") << u"\t=1"_s << QByteArray("\"'\t=1\"");
    QTest::newRow("carriage return") << u"\r=1"_s << QByteArray("\"'\r=1\"");
    QTest::newRow("leading space is not prefixed") << u" =1"_s << QByteArray(R"(" =1")");
    QTest::newRow("line feed first is not prefixed") << u"\n=1"_s << QByteArray("\"\n=1\"");
}

void TestCsvExport::guardsCellsAgainstFormulas() {
    QFETCH(QString, text);
    QFETCH(QByteArray, cell);
    // The same text as a name, a host, an answer and its label (a header cell), a list and a device.
    VisitorRow row = visitor(text, {{text, text}}, text);
    row.listName = text;
    row.deviceName = text;
    const QByteArray expected = R"("Name","Visiting",)" + cell +
                                R"(,"Signed in","Signed out","List","Device")"
                                "\r\n" +
                                cell + ',' + cell + ',' + cell + ',' + times + ',' + cell + ',' + cell;
    QCOMPARE(exportCSV({row}), expected);
}

void TestCsvExport::timestampsAtUtcInWholeSeconds() {
    // Offsets are turned to UTC; no instant, no text; four digits of year, always.
    QCOMPARE(onSiteLine(QDateTime({2025, 3, 4}, {0, 30}, QTimeZone(5 * 3600 + 1800))),
             R"("Sam","","2025-03-03T19:00:00Z","","","")");
    QCOMPARE(onSiteLine(QDateTime()), R"("Sam","","","","","")");
    QCOMPARE(onSiteLine(QDateTime({1, 1, 1}, {0, 0}, Qt::UTC)),
             R"("Sam","","0001-01-01T00:00:00Z","","","")");
    // The export writes timestamps itself for speed; they must read exactly like the REST service's,
    // fractions of a second cut, not rounded, also before 1970.
    QRandomGenerator random(20250304);
    const qint64 from = QDateTime({1600, 1, 1}, {}, Qt::UTC).toMSecsSinceEpoch();
    const qint64 to = QDateTime({2400, 1, 1}, {}, Qt::UTC).toMSecsSinceEpoch();
    for (int i = 0; i < 2000; ++i) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(random.bounded(from, to), Qt::UTC);
        const QByteArray expected = R"("Sam","",")" + writeTimestamp(at).toUtf8() + R"(","","","")";
        QCOMPARE(onSiteLine(at), expected);
    }
}

QTEST_GUILESS_MAIN(TestCsvExport)

#include "tst_csvexport.moc"
