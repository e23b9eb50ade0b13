#include "export/PdfReport.h"
#include "export/RollCall.h"

#include <QProcess>
#include <QRegularExpression>
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
    QSizeF pageSize; // of the first page, in points
    QList<QList<Word>> words;

    [[nodiscard]] QString pageText(int page) const {
        QStringList texts;
        for (const Word &word : words.value(page))
            texts.append(word.text);
        return texts.join(u' ');
    }
};

const ReportContext usDesk{QDateTime({2025, 3, 4}, {14, 5}, Qt::UTC),
                           QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone::utc()};

VisitorRow visitor(QString name, std::optional<QDateTime> signedOut = std::nullopt) {
    return VisitorRow{
        {}, std::move(name), {}, {}, QDateTime({2025, 3, 4}, {9, 5}, Qt::UTC), std::move(signedOut), {}, {}};
}

// The words of the PDF as `pdftotext -bbox` (poppler-utils) reads them.
ReadBack readBack(const QByteArray &pdf) {
    QProcess pdftotext;
    pdftotext.start(u"pdftotext"_s, {u"-bbox"_s, u"-"_s, u"-"_s}); // from stdin to stdout
    pdftotext.write(pdf);
    pdftotext.closeWriteChannel();
    if (!pdftotext.waitForFinished(30'000) || pdftotext.exitCode() != 0)
        qWarning("pdftotext failed: %s (poppler-utils is needed)",
                 pdftotext.readAllStandardError().constData());
    ReadBack result;
    static const QRegularExpression pageOrWord(
        uR"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"_s);
    for (const QRegularExpressionMatch &match :
         pageOrWord.globalMatch(QString::fromUtf8(pdftotext.readAllStandardOutput()))) {
        if (match.captured(0).startsWith(u"<page"_s)) {
            if (result.words.isEmpty())
                result.pageSize = QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble());
            result.words.append(QList<Word>());
            continue;
        }
        const QString text =
            match.captured(7).replace(u"&amp;"_s, u"&"_s); // the only entity these texts need
        result.words.last().append(
            {text, QRectF(QPointF(match.captured(3).toDouble(), match.captured(4).toDouble()),
                          QPointF(match.captured(5).toDouble(), match.captured(6).toDouble()))});
    }
    return result;
}

} // namespace

// The PDF report as poppler (poppler-utils) reads it back: pages, the header on each, the visitor blocks,
// and text that stays in its place.
class TestPdfReport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every page opens with the same header, and fourteen visitor blocks fill a page. The dates are in the
    // desk's locale and zone; letters beyond ASCII come back out of the PDF as they went in; a line break is
    // a space, as every text is drawn on one line.
    void pagesOfBlocksUnderTheHeader_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("blocksPerPage");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QTimeZone>("zone");
        QTest::addColumn<QString>("generated"); // and the count
        QTest::addColumn<QString>("signedIn");
        const QLocale us = usDesk.locale;
        const QTimeZone utc = QTimeZone::utc();
        const QString at = u"Mar 4, 2025, 2:05 PM · "_s, visit = u"Mar 4, 2025, 9:05 AM"_s;
        QTest::newRow("no rows: one page, header only")
            << 0 << QList{0} << us << utc << at + u"0 records"_s << visit;
        QTest::newRow("fourteen rows fill one page")
            << 14 << QList{14} << us << utc << at + u"14 records"_s << visit;
        QTest::newRow("fifteen rows spill onto a second")
            << 15 << QList{14, 1} << us << utc << at + u"15 records"_s << visit;
        QTest::newRow("German in Berlin")
            << 1 << QList{1} << QLocale(QLocale::German, QLocale::Germany) << QTimeZone("Europe/Berlin")
            << u"4. März 2025, 15:05 · 1 record"_s << u"4. März 2025, 10:05"_s;
    }
    void pagesOfBlocksUnderTheHeader() {
        QFETCH(int, rows);
        QFETCH(QList<int>, blocksPerPage);
        QFETCH(QLocale, locale);
        QFETCH(QTimeZone, zone);
        QFETCH(QString, generated);
        QFETCH(QString, signedIn);
        QList<VisitorRow> visitors;
        for (int i = 1; i <= rows; ++i)
            visitors.append(visitor(u"Zoë\nŁukasz%1"_s.arg(i, 2, 10, QChar(u'0'))));
        // A lone visitor has a detail line too; among many, pdftotext reads the details as a column of their
        // own.
        if (rows == 1) {
            visitors.first().hostName = u"Jürgen\nGroß"_s;
            visitors.first().answers = {{u"Firma"_s, u"Αθηνά & Дмитрий"_s}};
        }
        const ReportContext desk{usDesk.generatedAt, locale, zone};
        const ReadBack pdf = readBack(exportPDF(u"Besucherübersicht"_s, visitors, desk));
        QCOMPARE(pdf.words.size(), blocksPerPage.size());
        QCOMPARE(pdf.pageSize, QSizeF(612, 792)); // US Letter
        int next = 1;
        for (int page = 0; page < pdf.words.size(); ++page) {
            QString text = u"Besucherübersicht Generated "_s + generated + u" VISITOR SIGNED IN SIGNED OUT"_s;
            for (int i = 0; i < blocksPerPage[page]; ++i, ++next) {
                text += u" Zoë Łukasz%1 %2 On site"_s.arg(next, 2, 10, QChar(u'0')).arg(signedIn);
                if (rows == 1)
                    text += u" Visiting: Jürgen Groß Firma: Αθηνά & Дмитрий"_s;
            }
            QCOMPARE(pdf.pageText(page), text);
        }
    }
    // Every text in its place: a long name stopped before the sign-in column, and a long detail cut after its
    // second line inside its block, measured by adding up advances or, for a script that needs shaping, by a
    // text layout.
    void textsStayInTheirPlaces_data() {
        QTest::addColumn<QString>("word");
        QTest::newRow("latin") << u"word"_s;
        QTest::newRow("devanagari, shaped") << u"नमस्ते"_s;
    }
    void textsStayInTheirPlaces() {
        QFETCH(QString, word);
        VisitorRow talkative = visitor(u"Maximiliane Wilhelmina Theodora Annunziata Fitzgerald-Oppenheimer"_s,
                                       QDateTime({2025, 3, 4}, {16, 45}, Qt::UTC));
        talkative.hostName = u"Bo"_s;
        QString note = u"START"_s;
        for (int i = 0; i < 60; ++i)
            note += u' ' + word + QString::number(i);
        talkative.answers = {{u"Company"_s, u"Acme"_s}, {u"Note"_s, note + u" ENDMARK"_s}};
        const ReadBack pdf = readBack(exportPDF(u"Visitor Log"_s, {talkative, visitor(u"Cy"_s)}, usDesk));
        const QString text = pdf.pageText(0);
        QVERIFY2(text.contains(u"Maximiliane Wilhelmina"_s), qPrintable(text));
        QVERIFY2(text.contains(u"Visiting: Bo Company: Acme Note: START"_s), qPrintable(text));
        QVERIFY2(!text.contains(u"ENDMARK"_s), "the detail was not cut after its second line");
        QVERIFY2(text.contains(u"…"_s), "the last visible line ends in an ellipsis");
        QVERIFY2(text.contains(u"Mar 4, 2025, 4:45 PM"_s) &&
                     text.endsWith(u"Cy Mar 4, 2025, 9:05 AM On site"_s),
                 qPrintable(text));
        // The name's words end before the sign-in column; every word of the detail lies in its rectangle: x
        // 36 to 326, y 116 to 140, on two lines.
        QList<qreal> tops;
        for (const Word &w : pdf.words.value(0)) {
            if (w.box.top() >= 100 && w.box.top() < 110 && w.box.left() < 336)
                QVERIFY2(w.box.right() < 336, qPrintable(w.text));
            if (w.box.top() < 112 || w.box.top() >= 146 || w.box.left() >= 336)
                continue;
            QVERIFY2(w.box.bottom() <= 140.5 && w.box.right() <= 326.5, qPrintable(w.text));
            // Glyphs of another script's font sit a point or two lower on the same line.
            if (std::none_of(tops.cbegin(), tops.cend(),
                             [&w](qreal top) { return qAbs(top - w.box.top()) < 5; }))
                tops.append(w.box.top());
        }
        QCOMPARE(tops.size(), 2);
    }
    // Plain Latin text goes to the page as glyphs placed from the font's advances; a letter of another script
    // sends the whole text through QPainter's own layout. Both put the same words in the same places.
    void plainTextLandsWhereLaidOutTextDoes() {
        const QString name = u"Avery Quinn-Lowe, Jr. (12) ’Ł’"_s;
        const ReadBack pdf =
            readBack(exportPDF(u"Visitor Log"_s, {visitor(name), visitor(name + u" Ж"_s)}, usDesk));
        QList<QList<QRectF>> boxes(2); // of the name's words, block by block
        for (const Word &w : pdf.words.value(0)) {
            const int block = w.box.top() > 100 && w.box.top() < 112   ? 0
                              : w.box.top() > 144 && w.box.top() < 156 ? 1
                                                                       : -1;
            if (block >= 0 && w.box.left() < 336 && w.text != u"Ж"_s)
                boxes[block].append(w.box);
        }
        QCOMPARE(boxes[0].size(), 5);
        QCOMPARE(boxes[1].size(), boxes[0].size());
        for (qsizetype i = 0; i < boxes[0].size(); ++i) {
            QCOMPARE(boxes[1][i].left(), boxes[0][i].left());
            QCOMPARE(boxes[1][i].right(), boxes[0][i].right());
        }
    }

    // Forty people a page, sorted by name, each on a page under the same header; an empty list is one page.
    void rollCallPages_data() {
        QTest::addColumn<int>("people");
        QTest::addColumn<int>("pages");
        QTest::newRow("nobody") << 0 << 1;
        QTest::newRow("a full page") << 40 << 1;
        QTest::newRow("one more") << 41 << 2;
    }
    void rollCallPages() {
        QFETCH(int, people);
        QFETCH(int, pages);
        QList<VisitorRow> rows;
        for (int i = people; i > 0; --i) {
            rows.append(visitor(u"Person%1"_s.arg(i, 2, 10, QChar(u'0'))));
        }
        const RollCall rollCall(rows, QDateTime::currentDateTime(), false, u"Front Desk"_s);
        const ReadBack read = readBack(rollCall.pdf());
        QCOMPARE(read.words.size(), pages);
        for (int page = 0; page < pages; ++page) {
            const QString text = read.pageText(page);
            QVERIFY2(text.startsWith(
                         u"Roll Call \u2014 Front Desk Page %1 of %2 As of "_s.arg(page + 1).arg(pages)),
                     qPrintable(text));
            // Sorted by name, whatever order the list came in.
            const int first = page * RollCall::peoplePerPage + 1;
            const QString firstName = u"Person%1"_s.arg(first, 2, 10, QChar(u'0'));
            const bool found = std::any_of(read.words[page].cbegin(), read.words[page].cend(),
                                           [&](const Word &word) { return word.text == firstName; });
            QVERIFY2(found == (people >= first), qPrintable(text));
            QCOMPARE(read.words[page].size() > 20, people > 0); // the rows themselves
        }
    }

    void rollCallStatusLine_data() {
        QTest::addColumn<int>("people");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("unreachable");
        QTest::addColumn<QString>("line");
        QTest::newRow("fresh") << 2 << true << false << u"As of 09:41 \u00b7 2 people on site"_s;
        QTest::newRow("one") << 1 << true << false << u"As of 09:41 \u00b7 1 person on site"_s;
        QTest::newRow("server gone")
            << 0 << true << true << u"As of 09:41, the server could not be reached \u00b7 Nobody on site"_s;
        QTest::newRow("never loaded")
            << 0 << false << true << u"The server could not be reached and no list has been loaded yet"_s;
    }
    void rollCallStatusLine() {
        QFETCH(int, people);
        QFETCH(bool, loaded);
        QFETCH(bool, unreachable);
        QFETCH(QString, line);
        const QDateTime asOf(QDate::currentDate(), QTime(9, 41));
        const RollCall rollCall(QList<VisitorRow>(people, visitor(u"Ann"_s)),
                                loaded ? std::optional(asOf) : std::nullopt, unreachable, {}, QLocale::c());
        QCOMPARE(rollCall.statusLine(), line);
    }
};

QTEST_MAIN(TestPdfReport)

#include "tst_pdfreport.moc"
