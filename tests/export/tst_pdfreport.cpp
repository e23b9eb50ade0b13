#include "export/PdfReport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace tallybrook;

namespace {

struct Word {
    QString text;
    QRectF box; // points, y downwards
};

// Per page, the words in reading order, as `pdftotext -bbox` finds them.
struct ReadBack {
    int pages = 0;
    QString pageSize;
    QList<QList<Word>> words;

    [[nodiscard]] QString pageText(int page) const {
        QStringList texts;
        for (const Word &word : words.value(page))
            texts.append(word.text);
        return texts.join(u' ');
    }
    [[nodiscard]] QList<QPoint> corners(const QString &text) const { // top left, rounded, on the first page
        QList<QPoint> found;
        for (const Word &word : words.value(0)) {
            if (word.text == text)
                found.append(word.box.topLeft().toPoint());
        }
        return found;
    }
};

const ReportContext usDesk{QDateTime({2025, 3, 4}, {14, 5}, Qt::UTC),
                           QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()};

VisitorRow visitor(QString name, std::optional<QDateTime> signedOut = std::nullopt) {
    return VisitorRow{
        {}, std::move(name), {}, {}, QDateTime({2025, 3, 4}, {9, 5}, Qt::UTC), std::move(signedOut), {}, {}};
}

QString run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30'000) || process.exitCode() != 0)
        qWarning("%s failed: %s (poppler-utils is needed)", qPrintable(program),
                 process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput());
}

ReadBack readBack(const QByteArray &pdf, const QTemporaryDir &folder) {
    static int serial = 0;
    const QString path = folder.filePath(u"report-%1.pdf"_s.arg(++serial));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size())
        return {};
    file.close();
    ReadBack result;
    const QString info = run(u"pdfinfo"_s, {path});
    static const QRegularExpression pages(u"^Pages:\\s+(\\d+)$"_s, QRegularExpression::MultilineOption);
    static const QRegularExpression size(u"^Page size:\\s+(.+)$"_s, QRegularExpression::MultilineOption);
    result.pages = pages.match(info).captured(1).toInt();
    result.pageSize = size.match(info).captured(1).trimmed();
    static const QRegularExpression pageOrWord(
        uR"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"_s);
    for (const QRegularExpressionMatch &match :
         pageOrWord.globalMatch(run(u"pdftotext"_s, {u"-bbox"_s, path, u"-"_s}))) {
        if (match.captured(0).startsWith(u"<page"_s)) {
            result.words.append(QList<Word>());
            continue;
        }
        QString text = match.captured(5);
        text.replace(u"&lt;"_s, u"<"_s)
            .replace(u"&gt;"_s, u">"_s)
            .replace(u"&quot;"_s, u"\""_s)
            .replace(u"&amp;"_s, u"&"_s);
        result.words.last().append(
            {text, QRectF(QPointF(match.captured(1).toDouble(), match.captured(2).toDouble()),
                          QPointF(match.captured(3).toDouble(), match.captured(4).toDouble()))});
    }
    return result;
}

} // namespace

// The PDF report as poppler (poppler-utils) reads it back: pages, the header on each, the visitor blocks,
// and text that stays in its place.
class TestPdfReport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fourteenBlocksAPageUnderTheHeader_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("blocksPerPage");
        QTest::addColumn<QString>("count");
        QTest::newRow("no rows: one page, header only") << 0 << QList{0} << u"0 records"_s;
        QTest::newRow("one row") << 1 << QList{1} << u"1 record"_s;
        QTest::newRow("fourteen rows fill one page") << 14 << QList{14} << u"14 records"_s;
        QTest::newRow("fifteen rows spill onto a second") << 15 << QList{14, 1} << u"15 records"_s;
        QTest::newRow("twenty-nine rows, three pages") << 29 << QList{14, 14, 1} << u"29 records"_s;
    }
    void fourteenBlocksAPageUnderTheHeader() {
        QFETCH(int, rows);
        QFETCH(QList<int>, blocksPerPage);
        QFETCH(QString, count);
        QList<VisitorRow> visitors;
        for (int i = 1; i <= rows; ++i)
            visitors.append(visitor(u"Visitor%1"_s.arg(i, 2, 10, QChar(u'0'))));
        const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, visitors, usDesk), m_dir);
        QCOMPARE(pdf.pages, blocksPerPage.size());
        QVERIFY2(pdf.pageSize.startsWith(u"612 x 792 pts"_s), qPrintable(pdf.pageSize)); // US Letter
        // Every page opens with the same header; the blocks follow in order.
        const QString header =
            u"Visitor Log Generated Mar 4, 2025, 2:05 PM · "_s + count + u" VISITOR SIGNED IN SIGNED OUT"_s;
        QStringList expected;
        int next = 1;
        for (int page = 0; page < pdf.pages; ++page) {
            QString text = header;
            for (int i = 0; i < blocksPerPage[page]; ++i, ++next)
                text += u" Visitor%1 Mar 4, 2025, 9:05 AM On site"_s.arg(next, 2, 10, QChar(u'0'));
            QCOMPARE(pdf.pageText(page), text);
        }
    }
    void signedOutOrOnSiteInTheirColumns() {
        const QList<VisitorRow> rows{visitor(u"Ann"_s, QDateTime({2025, 3, 4}, {16, 45}, Qt::UTC)),
                                     visitor(u"Bo"_s)};
        const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, rows, usDesk), m_dir);
        QVERIFY2(pdf.pageText(0).endsWith(
                     u"Ann Mar 4, 2025, 9:05 AM Mar 4, 2025, 4:45 PM Bo Mar 4, 2025, 9:05 AM On site"_s),
                 qPrintable(pdf.pageText(0)));
        // The times in their columns; the next block 44 points further down (give or take the glyphs' edges).
        const auto near = [](const QList<QPoint> &found, const QList<QPoint> &expected) {
            return found.size() == expected.size() &&
                   std::equal(found.cbegin(), found.cend(), expected.cbegin(),
                              [](QPoint a, QPoint b) { return (a - b).manhattanLength() <= 3; });
        };
        QVERIFY(near(pdf.corners(u"Mar"_s).mid(1), {{336, 102}, {456, 102}, {336, 146}}));
        QVERIFY(near(pdf.corners(u"On"_s), {{456, 146}}));
    }
    void longDetailStaysInItsBlock_data() {
        QTest::addColumn<QString>("word");
        QTest::newRow("latin") << u"word"_s;
        QTest::newRow("devanagari, shaped") << u"नमस्ते"_s;
    }
    void longDetailStaysInItsBlock() {
        QFETCH(QString, word);
        VisitorRow talkative = visitor(u"Ann"_s);
        talkative.hostName = u"Bo"_s;
        QString note = u"START"_s;
        for (int i = 0; i < 60; ++i)
            note += u' ' + word + QString::number(i);
        talkative.answers = {{u"Company"_s, u"Acme"_s}, {u"Note"_s, note + u" ENDMARK"_s}};
        const ReadBack pdf =
            readBack(exportPDF(u"Visitor Log"_s, {talkative, visitor(u"Cy"_s)}, usDesk), m_dir);
        const QString text = pdf.pageText(0);
        QVERIFY2(text.contains(u"Visiting: Bo Company: Acme Note: START"_s), qPrintable(text));
        QVERIFY2(!text.contains(u"ENDMARK"_s), "the detail was not cut after its second line");
        QVERIFY2(text.contains(u"…"_s), "the last visible line ends in an ellipsis");
        // Every word of the first block's detail lies in its rectangle: x 36 to 326, y 116 to 140, on two
        // lines.
        QList<qreal> tops;
        for (const Word &w : pdf.words.value(0)) {
            if (w.box.top() < 112 || w.box.top() >= 146 || w.box.left() >= 336)
                continue;
            QVERIFY2(w.box.bottom() <= 140.5 && w.box.right() <= 326.5, qPrintable(w.text));
            if (std::none_of(tops.cbegin(), tops.cend(),
                             [&w](qreal top) { return qAbs(top - w.box.top()) < 5; }))
                tops.append(
                    w.box.top()); // glyphs of another script's font sit a point or two lower on the same line
        }
        QCOMPARE(tops.size(), 2);
        QVERIFY(pdf.corners(u"Cy"_s).value(0).y() >= 146);
    }
    void longNameStopsBeforeTheNextColumn() {
        const QString name = u"Maximiliane Wilhelmina Theodora Annunziata Fitzgerald-Oppenheimer"_s;
        const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, {visitor(name)}, usDesk), m_dir);
        QVERIFY(pdf.pageText(0).contains(u"Maximiliane Wilhelmina"_s));
        for (const Word &word : pdf.words.value(0)) {
            if (word.box.top() >= 100 && word.box.top() < 110 && word.box.left() < 336)
                QVERIFY2(word.box.right() < 336, qPrintable(word.text));
        }
    }
    void textsInTheDesksLocaleAndZone_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("dates");
        QTest::newRow("US English in Los Angeles")
            << QLocale(QLocale::English, QLocale::UnitedStates) << QTimeZone("America/Los_Angeles")
            << u"Mar 4, 2025, 6:05 AM|Mar 4, 2025, 1:05 AM"_s;
        QTest::newRow("German in Berlin")
            << QLocale(QLocale::German, QLocale::Germany) << QTimeZone("Europe/Berlin")
            << u"4. März 2025, 15:05|4. März 2025, 10:05"_s;
    }
    void textsInTheDesksLocaleAndZone() {
        QFETCH(QLocale, locale);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, dates);
        VisitorRow row = visitor(u"Zoë Łukasz"_s);
        row.hostName = u"Jürgen Groß"_s;
        row.answers = {{u"Firma"_s, u"Αθηνά & Дмитрий"_s}};
        const ReportContext desk{usDesk.generatedAt, locale, zone};
        // Letters beyond ASCII come back out of the PDF as they went in.
        QCOMPARE(
            readBack(exportPDF(u"Besucherübersicht"_s, {row}, desk), m_dir).pageText(0),
            u"Besucherübersicht Generated %1 · 1 record VISITOR SIGNED IN SIGNED OUT Zoë Łukasz %2 On site "
            u"Visiting: Jürgen Groß Firma: Αθηνά & Дмитрий"_s.arg(dates.section(u'|', 0, 0),
                                                                  dates.section(u'|', 1, 1)));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPdfReport)

#include "tst_pdfreport.moc"
