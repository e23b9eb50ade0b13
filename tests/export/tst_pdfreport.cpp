#include "export/PdfReport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace tallybrook;

// The PDF report as poppler reads it back: pages, header on each, blocks, and text that stays in its place.
class TestPdfReport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void fourteenBlocksAPage_data();
    void fourteenBlocksAPage();
    void headerOnEveryPage();
    void headerAndColumnsInPlace();
    void signedOutOrOnSite();
    void longDetailStaysInItsBlock_data();
    void longDetailStaysInItsBlock();
    void longNameStopsBeforeTheNextColumn();
    void nonAsciiNamesAreExtractable();
    void datesInTheDesksLocaleAndZone_data();
    void datesInTheDesksLocaleAndZone();

private:
    QTemporaryDir m_dir;
};

namespace {

struct Word {
    QString text;
    QRectF box; // points, y downwards
};

struct ReadBack {
    int pages = 0;
    QString pageSize;
    QList<QList<Word>> words; // per page, in reading order

    [[nodiscard]] QString pageText(int page) const {
        QStringList texts;
        for (const Word &word : words.value(page))
            texts.append(word.text);
        return texts.join(u' ');
    }
    [[nodiscard]] QList<Word> find(int page, const QString &text) const {
        QList<Word> found;
        for (const Word &word : words.value(page)) {
            if (word.text == text)
                found.append(word);
        }
        return found;
    }
};

const QDateTime generatedAt = QDateTime({2025, 3, 4}, {14, 5}, Qt::UTC);

ReportContext context() {
    return {generatedAt, QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()};
}

VisitorRow visitor(QString name, std::optional<QDateTime> signedOut = std::nullopt) {
    VisitorRow row;
    row.visitorName = std::move(name);
    row.signedInAt = QDateTime({2025, 3, 4}, {9, 5}, Qt::UTC);
    row.signedOutAt = std::move(signedOut);
    return row;
}

QList<VisitorRow> numbered(int count) {
    QList<VisitorRow> rows;
    for (int i = 1; i <= count; ++i)
        rows.append(visitor(u"Visitor%1"_s.arg(i, 2, 10, QChar(u'0'))));
    return rows;
}

QString run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30'000) || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString unescaped(QString text) {
    text.replace(u"&lt;"_s, u"<"_s).replace(u"&gt;"_s, u">"_s).replace(u"&quot;"_s, u"\""_s);
    return text.replace(u"&amp;"_s, u"&"_s);
}

} // namespace

void TestPdfReport::initTestCase() {
    if (QStandardPaths::findExecutable(u"pdftotext"_s).isEmpty() ||
        QStandardPaths::findExecutable(u"pdfinfo"_s).isEmpty())
        QFAIL("pdftotext and pdfinfo (poppler-utils) are needed to read the report back: apt install "
              "poppler-utils");
    QVERIFY(m_dir.isValid());
}

namespace {

ReadBack readBack(const QByteArray &pdf, const QString &folder) {
    static int serial = 0;
    const QString path = u"%1/report-%2.pdf"_s.arg(folder).arg(++serial);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();

    ReadBack result;
    const QString info = run(u"pdfinfo"_s, {path});
    static const QRegularExpression pages(u"^Pages:\\s+(\\d+)$"_s, QRegularExpression::MultilineOption);
    static const QRegularExpression size(u"^Page size:\\s+(.+)$"_s, QRegularExpression::MultilineOption);
    result.pages = pages.match(info).captured(1).toInt();
    result.pageSize = size.match(info).captured(1).trimmed();

    static const QRegularExpression pageOrWord(
        uR"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"_s);
    const QString html = run(u"pdftotext"_s, {u"-bbox"_s, path, u"-"_s});
    for (const QRegularExpressionMatch &match : pageOrWord.globalMatch(html)) {
        if (match.captured(0).startsWith(u"<page"_s)) {
            result.words.append(QList<Word>());
            continue;
        }
        const QPointF topLeft(match.captured(1).toDouble(), match.captured(2).toDouble());
        const QPointF bottomRight(match.captured(3).toDouble(), match.captured(4).toDouble());
        result.words.last().append({unescaped(match.captured(5)), QRectF(topLeft, bottomRight)});
    }
    return result;
}

} // namespace

void TestPdfReport::fourteenBlocksAPage_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("blocksPerPage");

    QTest::newRow("no rows: one page, header only") << 0 << QList{0};
    QTest::newRow("one row") << 1 << QList{1};
    QTest::newRow("fourteen rows fill one page") << 14 << QList{14};
    QTest::newRow("fifteen rows spill onto a second") << 15 << QList{14, 1};
    QTest::newRow("twenty-nine rows, three pages") << 29 << QList{14, 14, 1};
}

void TestPdfReport::fourteenBlocksAPage() {
    QFETCH(int, rows);
    QFETCH(QList<int>, blocksPerPage);
    const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, numbered(rows), context()), m_dir.path());
    QCOMPARE(pdf.pages, blocksPerPage.size());
    QVERIFY2(pdf.pageSize.startsWith(u"612 x 792 pts"_s), qPrintable(pdf.pageSize));

    int next = 1;
    for (int page = 0; page < pdf.pages; ++page) {
        const QString text = pdf.pageText(page);
        const int blocks = int(text.count(QRegularExpression(u"Visitor\\d\\d"_s)));
        QCOMPARE(blocks, blocksPerPage[page]);
        for (int i = 0; i < blocks; ++i, ++next)
            QVERIFY2(text.contains(u"Visitor%1"_s.arg(next, 2, 10, QChar(u'0'))), qPrintable(text));
    }
}

void TestPdfReport::headerOnEveryPage() {
    const auto header = [](const QString &count) -> QString {
        return u"Visitor Log Generated Mar 4, 2025, 2:05 PM · "_s + count +
               u" VISITOR SIGNED IN SIGNED OUT"_s;
    };
    const ReadBack many = readBack(exportPDF(u"Visitor Log"_s, numbered(29), context()), m_dir.path());
    QCOMPARE(many.pages, 3);
    for (int page = 0; page < many.pages; ++page)
        QVERIFY2(many.pageText(page).startsWith(header(u"29 records"_s)), qPrintable(many.pageText(page)));

    const ReadBack none = readBack(exportPDF(u"Visitor Log"_s, {}, context()), m_dir.path());
    QCOMPARE(none.pageText(0), header(u"0 records"_s));
    const ReadBack one = readBack(exportPDF(u"Visitor Log"_s, numbered(1), context()), m_dir.path());
    QVERIFY2(one.pageText(0).startsWith(header(u"1 record"_s) + u" Visitor01"_s),
             qPrintable(one.pageText(0)));
}

void TestPdfReport::headerAndColumnsInPlace() {
    const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, numbered(2), context()), m_dir.path());
    const auto near = [](qreal actual, qreal expected) { return qAbs(actual - expected) <= 3; };
    // Each text's top-left corner, as poppler measures the glyphs.
    const QList<std::tuple<QString, qreal, qreal>> placed = {
        {u"Visitor"_s, 36, 36},    {u"Generated"_s, 36, 56},  {u"VISITOR"_s, 36, 80},
        {u"Visitor01"_s, 36, 102}, {u"Visitor02"_s, 36, 146},
    };
    for (const auto &[text, x, y] : placed) {
        const QList<Word> words = pdf.find(0, text);
        QVERIFY2(!words.isEmpty(), qPrintable(text));
        const QRectF box = words.constFirst().box;
        QVERIFY2(near(box.left(), x) && near(box.top(), y),
                 qPrintable(u"%1 at %2, %3"_s.arg(text).arg(box.left()).arg(box.top())));
    }
    const QList<Word> signedColumn = pdf.find(0, u"SIGNED"_s);
    QCOMPARE(signedColumn.size(), 2);
    QVERIFY(near(signedColumn[0].box.left(), 336) && near(signedColumn[0].box.top(), 80));
    QVERIFY(near(signedColumn[1].box.left(), 456) && near(signedColumn[1].box.top(), 80));
}

void TestPdfReport::signedOutOrOnSite() {
    const QList<VisitorRow> rows{visitor(u"Ann"_s, QDateTime({2025, 3, 4}, {16, 45}, Qt::UTC)),
                                 visitor(u"Bo"_s)};
    const QString text = readBack(exportPDF(u"Visitor Log"_s, rows, context()), m_dir.path()).pageText(0);
    QVERIFY2(
        text.contains(u"Ann Mar 4, 2025, 9:05 AM Mar 4, 2025, 4:45 PM Bo Mar 4, 2025, 9:05 AM On site"_s),
        qPrintable(text));
    QCOMPARE(text.count(u"On site"_s), 1);
}

void TestPdfReport::longDetailStaysInItsBlock_data() {
    QTest::addColumn<QString>("word");

    QTest::newRow("latin") << u"word"_s;
    QTest::newRow("greek and cyrillic") << u"λόγος слово"_s;
    QTest::newRow("devanagari, shaped") << u"नमस्ते"_s;
    QTest::newRow("latin, one shaped word far past the cut") << u"word"_s;
}

void TestPdfReport::longDetailStaysInItsBlock() {
    QFETCH(QString, word);
    VisitorRow talkative = visitor(u"Ann"_s);
    talkative.hostName = u"Bo"_s;
    QString note = u"START"_s;
    for (int i = 0; i < 60; ++i)
        note += u' ' + word + QString::number(i);
    if (QByteArray(QTest::currentDataTag()).contains("far past"))
        note += u" नमस्ते"_s;
    note += u" ENDMARK"_s;
    talkative.answers = {{u"Company"_s, u"Acme"_s}, {u"Note"_s, note}};
    const QList<VisitorRow> rows{talkative, visitor(u"Cy"_s)};
    const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, rows, context()), m_dir.path());

    const QString text = pdf.pageText(0);
    QVERIFY2(text.contains(u"Visiting: Bo Company: Acme Note: START"_s), qPrintable(text));
    QVERIFY2(!text.contains(u"ENDMARK"_s), "the detail was not cut after its second line");
    QVERIFY2(text.contains(u"…"_s), "the last visible line ends in an ellipsis");

    // Every word of the first block's detail lies in its rectangle: x 36 to 326, y 116 to 140.
    QList<qreal> tops;
    for (const Word &w : pdf.words.value(0)) {
        if (w.box.top() < 112 || w.box.top() >= 146 || w.box.left() >= 336)
            continue;
        tops.append(w.box.top());
        QVERIFY2(w.box.bottom() <= 140.5,
                 qPrintable(u"%1 reaches down to %2"_s.arg(w.text).arg(w.box.bottom())));
        QVERIFY2(w.box.right() <= 326.5,
                 qPrintable(u"%1 reaches right to %2"_s.arg(w.text).arg(w.box.right())));
    }
    // Glyphs of another script's font sit a point or two lower on the same line.
    std::sort(tops.begin(), tops.end());
    int lines = tops.isEmpty() ? 0 : 1;
    for (qsizetype i = 1; i < tops.size(); ++i)
        lines += tops[i] - tops[i - 1] > 5 ? 1 : 0;
    QCOMPARE(lines, 2);
    QVERIFY(pdf.find(0, u"Cy"_s).constFirst().box.top() >= 146);
}

void TestPdfReport::longNameStopsBeforeTheNextColumn() {
    const QString name = u"Maximiliane Wilhelmina Theodora Annunziata Fitzgerald-Oppenheimer"_s;
    const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, {visitor(name)}, context()), m_dir.path());
    for (const Word &word : pdf.words.value(0)) {
        if (word.box.top() >= 100 && word.box.top() < 110 && word.box.left() < 336)
            QVERIFY2(word.box.right() < 336, qPrintable(word.text));
    }
    QVERIFY(pdf.pageText(0).contains(u"Maximiliane Wilhelmina"_s));
}

void TestPdfReport::nonAsciiNamesAreExtractable() {
    VisitorRow row = visitor(u"Zoë Łukasz"_s);
    row.hostName = u"Jürgen Groß"_s;
    row.answers = {{u"Firma"_s, u"Αθηνά & Дмитрий"_s}};
    const QString text =
        readBack(exportPDF(u"Besucherübersicht"_s, {row}, context()), m_dir.path()).pageText(0);
    QVERIFY2(text.startsWith(u"Besucherübersicht"_s), qPrintable(text));
    QVERIFY2(text.contains(u"Zoë Łukasz"_s), qPrintable(text));
    QVERIFY2(text.contains(u"Visiting: Jürgen Groß Firma: Αθηνά & Дмитрий"_s), qPrintable(text));
}

void TestPdfReport::datesInTheDesksLocaleAndZone_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QTimeZone>("zone");
    QTest::addColumn<QString>("expected");

    const QLocale english(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("US English at UTC")
        << english << QTimeZone::utc()
        << u"Generated Mar 4, 2025, 2:05 PM · 1 record VISITOR SIGNED IN SIGNED OUT "
           u"Ann Mar 4, 2025, 9:05 AM On site"_s;
    QTest::newRow("US English in Los Angeles")
        << english << QTimeZone("America/Los_Angeles")
        << u"Generated Mar 4, 2025, 6:05 AM · 1 record VISITOR SIGNED IN SIGNED OUT Ann Mar 4, 2025, 1:05 AM On site"_s;
    QTest::newRow("German in Berlin")
        << QLocale(QLocale::German, QLocale::Germany) << QTimeZone("Europe/Berlin")
        << u"Generated 4. März 2025, 15:05 · 1 record VISITOR SIGNED IN SIGNED OUT Ann 4. März 2025, 10:05 On site"_s;
}

void TestPdfReport::datesInTheDesksLocaleAndZone() {
    QFETCH(QLocale, locale);
    QFETCH(QTimeZone, zone);
    QFETCH(QString, expected);
    const ReportContext desk{generatedAt, locale, zone};
    const QString text =
        readBack(exportPDF(u"Visitor Log"_s, {visitor(u"Ann"_s)}, desk), m_dir.path()).pageText(0);
    QCOMPARE(text, u"Visitor Log "_s + expected);
}

QTEST_MAIN(TestPdfReport)

#include "tst_pdfreport.moc"
