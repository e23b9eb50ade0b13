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
    void timestampsAtUtcInWholeSeconds_data();
    void timestampsAtUtcInWholeSeconds();
    void timestampsAgreeWithTheWireFormat();
};

namespace {

const QDateTime nineOhFive = QDateTime({2025, 3, 4}, {9, 5, 12}, Qt::UTC);
const QDateTime tenPast = QDateTime({2025, 3, 4}, {10, 10}, Qt::UTC);

VisitorRow visitor(QString name, QList<VisitorAnswer> answers = {},
                   std::optional<QString> host = std::nullopt, std::optional<QDateTime> signedOut = tenPast) {
    VisitorRow row;
    row.visitorName = std::move(name);
    row.hostName = std::move(host);
    row.answers = std::move(answers);
    row.signedInAt = nineOhFive;
    row.signedOutAt = std::move(signedOut);
    return row;
}

VisitorRow signedInAt(const QDateTime &at) {
    VisitorRow row = visitor(u"Sam"_s, {}, std::nullopt, std::nullopt);
    row.signedInAt = at;
    return row;
}

// The header line without answer columns.
const QByteArray fixedHeader = R"("Name","Visiting","Signed in","Signed out","List","Device")";

} // namespace

void TestCsvExport::writesTheLog_data() {
    QTest::addColumn<QList<VisitorRow>>("rows");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no rows: the header alone, no line break") << QList<VisitorRow>{} << fixedHeader;

    VisitorRow full = visitor(u"Zoë Łukasz"_s, {{u"Company"_s, u"Acme 🎉"_s}}, u"Ann"_s);
    full.listName = u"Contractors"_s;
    full.deviceName = u"Front desk"_s;
    QTest::newRow("every column filled, UTF-8")
        << QList{full}
        << QByteArray(
               R"("Name","Visiting","Company","Signed in","Signed out","List","Device")"
               "\r\n"
               "\"Zo\xC3\xAB \xC5\x81ukasz\",\"Ann\",\"Acme \xF0\x9F\x8E\x89\",\"2025-03-04T09:05:12Z\","
               R"("2025-03-04T10:10:00Z","Contractors","Front desk")");

    QTest::newRow("different labels: a column each, the other cell empty")
        << QList{visitor(u"Ann"_s, {{u"Company"_s, u"Acme"_s}}), visitor(u"Bo"_s, {{u"Phone"_s, u"555"_s}})}
        << QByteArray(R"("Name","Visiting","Company","Phone","Signed in","Signed out","List","Device")"
                      "\r\n"
                      R"("Ann","","Acme","","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")"
                      "\r\n"
                      R"("Bo","","","555","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")");

    QTest::newRow("labels in order of first appearance, compared exactly")
        << QList{visitor(u"Ann"_s, {{u"Phone"_s, u"1"_s}}),
                 visitor(u"Bo"_s, {{u"company"_s, u"x"_s}, {u"Company"_s, u"y"_s}, {u"Phone"_s, u"2"_s}})}
        << QByteArray(
               R"("Name","Visiting","Phone","company","Company","Signed in","Signed out","List","Device")"
               "\r\n"
               R"("Ann","","1","","","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")"
               "\r\n"
               R"("Bo","","2","x","y","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")");

    QTest::newRow("an empty label goes under Answer")
        << QList{visitor(u"Ann"_s, {{u""_s, u"Blue badge"_s}})}
        << QByteArray(R"("Name","Visiting","Answer","Signed in","Signed out","List","Device")"
                      "\r\n"
                      R"("Ann","","Blue badge","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")");

    QTest::newRow("same label twice in a row: the first wins")
        << QList{visitor(
               u"Ann"_s,
               {{u"Car"_s, u"red"_s}, {u""_s, u"x"_s}, {u"Car"_s, u"blue"_s}, {u"Answer"_s, u"y"_s}})}
        << QByteArray(R"("Name","Visiting","Car","Answer","Signed in","Signed out","List","Device")"
                      "\r\n"
                      R"("Ann","","red","x","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")");

    QTest::newRow("quotes doubled; commas and line breaks stay inside")
        << QList{visitor(u"Ann \"Nan\" Lee"_s, {{u"Note"_s, u"first, second\r\nthird\n"_s}})}
        << QByteArray(R"("Name","Visiting","Note","Signed in","Signed out","List","Device")"
                      "\r\n"
                      R"("Ann ""Nan"" Lee","","first, second)"
                      "\r\nthird\n"
                      R"(","2025-03-04T09:05:12Z","2025-03-04T10:10:00Z","","")");

    const QString strayHalf = u"Zo"_s + QChar(0xD83C);
    QTest::newRow("half a surrogate pair is replaced in its own cell")
        << QList{visitor(strayHalf, {}, strayHalf, std::nullopt)}
        << (fixedHeader + "\r\n" +
            "\"Zo\xEF\xBF\xBD\",\"Zo\xEF\xBF\xBD\",\"2025-03-04T09:05:12Z\",\"\",\"\",\"\"");

    QTest::newRow("a visitor on site has an empty sign-out cell")
        << QList{visitor(u"Ann"_s, {}, u"Bo"_s, std::nullopt)}
        << (fixedHeader + "\r\n" + R"("Ann","Bo","2025-03-04T09:05:12Z","","","")");
}

void TestCsvExport::writesTheLog() {
    QFETCH(QList<VisitorRow>, rows);
    QFETCH(QByteArray, expected);
    QCOMPARE(exportCSV(rows), expected);
}

void TestCsvExport::guardsCellsAgainstFormulas_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("cell");

    QTest::newRow("equals") << u"=HYPERLINK(\"x\")"_s << QByteArray(R"csv("'=HYPERLINK(""x"")")csv");
    QTest::newRow("plus") << u"+44 20 7946 0000"_s << QByteArray(R"("'+44 20 7946 0000")");
    QTest::newRow("minus") << u"-2+3"_s << QByteArray(R"("'-2+3")");
    QTest::newRow("at") << u"@SUM(A1)"_s << QByteArray(R"csv("'@SUM(A1)")csv");
    QTest::newRow("tab") << u"\t=1"_s << QByteArray("\"'\t=1\"");
    QTest::newRow("carriage return") << u"\r=1"_s << QByteArray("\"'\r=1\"");
    QTest::newRow("leading space is not prefixed") << u" =1"_s << QByteArray(R"(" =1")");
    QTest::newRow("equals inside is not prefixed") << u"a=1"_s << QByteArray(R"("a=1")");
    QTest::newRow("line feed first is not prefixed") << u"\n=1"_s << QByteArray("\"\n=1\"");
}

void TestCsvExport::guardsCellsAgainstFormulas() {
    QFETCH(QString, name);
    QFETCH(QByteArray, cell);
    // The same text as a name, a host, an answer and its label (a header cell).
    VisitorRow row = visitor(name, {{name, name}}, name);
    row.listName = name;
    row.deviceName = name;
    const QByteArray expected = R"("Name","Visiting",)" + cell +
                                R"(,"Signed in","Signed out","List","Device")"
                                "\r\n" +
                                cell + ',' + cell + ',' + cell +
                                R"(,"2025-03-04T09:05:12Z","2025-03-04T10:10:00Z",)" + cell + ',' + cell;
    QCOMPARE(exportCSV({row}), expected);
}

void TestCsvExport::timestampsAtUtcInWholeSeconds_data() {
    QTest::addColumn<QDateTime>("signedIn");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("fraction cut, not rounded")
        << QDateTime({2025, 3, 4}, {9, 5, 12, 999}, Qt::UTC) << QByteArray("2025-03-04T09:05:12Z");
    QTest::newRow("offset turned to UTC")
        << QDateTime({2025, 3, 4}, {0, 30}, QTimeZone(5 * 3600 + 1800)) << QByteArray("2025-03-03T19:00:00Z");
    QTest::newRow("before 1970") << QDateTime({1969, 12, 31}, {23, 59, 59, 500}, Qt::UTC)
                                 << QByteArray("1969-12-31T23:59:59Z");
    QTest::newRow("leap day") << QDateTime({2024, 2, 29}, {23, 59, 59}, Qt::UTC)
                              << QByteArray("2024-02-29T23:59:59Z");
    QTest::newRow("century without leap day")
        << QDateTime({1900, 3, 1}, {0, 0}, Qt::UTC) << QByteArray("1900-03-01T00:00:00Z");
    QTest::newRow("year one") << QDateTime({1, 1, 1}, {0, 0}, Qt::UTC) << QByteArray("0001-01-01T00:00:00Z");
    QTest::newRow("last second of 9999")
        << QDateTime({9999, 12, 31}, {23, 59, 59}, Qt::UTC) << QByteArray("9999-12-31T23:59:59Z");
    QTest::newRow("invalid instant is an empty cell") << QDateTime() << QByteArray();
}

void TestCsvExport::timestampsAtUtcInWholeSeconds() {
    QFETCH(QDateTime, signedIn);
    QFETCH(QByteArray, text);
    QCOMPARE(exportCSV({signedInAt(signedIn)}),
             fixedHeader + "\r\n" + R"("Sam","",")" + text + R"(","","","")");
}

void TestCsvExport::timestampsAgreeWithTheWireFormat() {
    // The export writes timestamps itself for speed; they must read exactly like the REST service's.
    QRandomGenerator random(20250304);
    const qint64 from = QDateTime({1600, 1, 1}, {}, Qt::UTC).toMSecsSinceEpoch();
    const qint64 to = QDateTime({2400, 1, 1}, {}, Qt::UTC).toMSecsSinceEpoch();
    for (int i = 0; i < 2000; ++i) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(random.bounded(from, to), Qt::UTC);
        const QByteArray csv = exportCSV({signedInAt(at)});
        const QByteArray expected =
            fixedHeader + "\r\n" + R"("Sam","",")" + writeTimestamp(at).toUtf8() + R"(","","","")";
        QCOMPARE(csv, expected);
    }
}

QTEST_GUILESS_MAIN(TestCsvExport)

#include "tst_csvexport.moc"
