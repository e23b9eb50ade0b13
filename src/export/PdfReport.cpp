#include "export/PdfReport.h"

#include "records/DateStyles.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QRegularExpression>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>
#include <QVarLengthArray>

#include <optional>
#include <span>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

namespace tallybrook {

namespace {

// The page in points, y growing downwards.
constexpr qreal margin = 36;
constexpr qreal contentWidth = 540;
constexpr qreal signedInX = 336;
constexpr qreal signedOutX = 456;
constexpr qreal firstBlockY = 102;
constexpr qreal blockHeight = 44;
constexpr qreal lastBlockBottom = 756;
// A column's text stops this short of the next column, so neighbours never touch.
constexpr qreal columnGap = 4;
constexpr qreal nameWidth = signedInX - margin - columnGap;
constexpr qreal timeWidth = signedOutX - signedInX - columnGap;
constexpr qreal detailWidth = 290;
constexpr qreal detailHeight = 24;
// Line pitch of the detail text at most 1.2 em: fonts with tall ascenders (Noto Sans is 1.36 em) would
// otherwise leave room for a single line of the two the block is made for.
constexpr qreal detailPointSize = 9;
constexpr qreal detailLinePitch = 1.2 * detailPointSize;

const QString ellipsis = u"…"_s;
const QColor darkGrey = QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3);
const QColor separatorGrey = QColor::fromRgbF(2.0f / 3, 2.0f / 3, 2.0f / 3, 0.5f);

// The report draws every text on one line of its own; a line break in a visitor's answer is a space there.
QString oneLine(QString text) {
    for (QChar &c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text;
}

QString detailLine(const VisitorRow &row) {
    QStringList parts;
    if (row.hostName)
        parts.append(u"Visiting: "_s + *row.hostName);
    for (const VisitorAnswer &answer : row.answers)
        parts.append(answer.label + u": "_s + answer.value);
    return oneLine(parts.join(u"   "_s));
}

// A font and colour of the report, with what it knows about the widths and glyphs of plain characters.
class TextStyle {
public:
    TextStyle(QFont font, QColor colour, QPaintDevice *device)
        : m_font(std::move(font)), m_colour(std::move(colour)), m_metrics(m_font, device),
          m_rawFont(QRawFont::fromFont(QFont(m_font, device))), m_advances(simpleCharacterCount, -1),
          m_simpleGlyphs(simpleCharacterCount) {}

    [[nodiscard]] const QFont &font() const { return m_font; }
    [[nodiscard]] const QColor &colour() const { return m_colour; }
    [[nodiscard]] const QFontMetricsF &metrics() const { return m_metrics; }
    [[nodiscard]] const QRawFont &rawFont() const { return m_rawFont; }

    // Appends the glyphs of `text` set from `baseline` on, each after the advance of the one before: what
    // QPainter::drawText draws for text that needs no shaping, no reordering and no other font. False, with
    // nothing appended, for any other text.
    bool appendGlyphs(QStringView text, QPointF baseline, QList<quint32> &indexes,
                      QList<QPointF> &positions) {
        const qsizetype start = indexes.size();
        qreal x = baseline.x();
        for (const QChar c : text) {
            const Glyph glyph = this->glyph(c);
            if (glyph.index == 0) {
                indexes.resize(start);
                positions.resize(start);
                return false;
            }
            indexes.append(glyph.index);
            positions.append(QPointF(x, baseline.y()));
            x += glyph.advance;
        }
        return true;
    }

    // The text, or as much as fits in `width` with an ellipsis.
    [[nodiscard]] QString elided(const QString &text, qreal width) {
        return surelyFits(text, width) ? text : m_metrics.elidedText(text, Qt::ElideRight, width);
    }

    // Plain text wrapped at spaces, or inside a word longer than a line, into at most `maxLines` lines of
    // `width`; the last ends in an ellipsis when text is left over. Nothing for text this cannot measure by
    // adding up advances: QTextLayout wraps that.
    [[nodiscard]] std::optional<QStringList> wrapped(QStringView text, qreal width, qsizetype maxLines) {
        for (const QChar c : text) {
            if (!advance(c))
                return std::nullopt;
        }
        QStringList lines;
        qsizetype lineStart = 0;
        qsizetype breakAt = -1; // just after the last space on the line
        qreal lineWidth = 0;
        qreal widthBeforeBreak = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qreal width_i = *advance(text[i]);
            if (text[i] == u' ') {
                // Spaces at the end of a line may hang past its edge, as in any text layout.
                lineWidth += width_i;
                breakAt = i + 1;
                widthBeforeBreak = lineWidth;
                continue;
            }
            while (lineWidth + width_i > width && i > lineStart) {
                if (lines.size() + 1 == maxLines) {
                    lines.append(withEllipsis(text.sliced(lineStart), width));
                    return lines;
                }
                const qsizetype end = breakAt > lineStart ? breakAt : i;
                lines.append(text.sliced(lineStart, end - lineStart).toString());
                lineWidth = end == i ? 0 : lineWidth - widthBeforeBreak;
                lineStart = end;
                breakAt = -1;
            }
            lineWidth += width_i;
        }
        if (lineStart < text.size())
            lines.append(text.sliced(lineStart).toString());
        return lines;
    }

private:
    // Latin, Greek and Cyrillic: drawn without shaping, so a line is as wide as its characters' advances
    // plus kerning, a fraction of a point that the gap between columns absorbs.
    static constexpr char16_t simpleCharacterCount = 0x0590;

    // Measuring a line costs about as much as drawing it; adding up cached advances costs next to nothing.
    std::optional<qreal> advance(QChar c) {
        if (c.unicode() >= simpleCharacterCount)
            return std::nullopt;
        qreal &advance = m_advances[c.unicode()];
        if (advance < 0)
            advance = m_metrics.horizontalAdvance(c);
        return advance;
    }

    // Anything this cannot judge is measured for real.
    bool surelyFits(QStringView text, qreal width) {
        qreal total = 0;
        for (const QChar c : text) {
            const std::optional<qreal> width_c = advance(c);
            if (!width_c)
                return false;
            total += *width_c;
            if (total > width)
                return false;
        }
        return true;
    }

    QString withEllipsis(QStringView text, qreal width) {
        const qreal room = width - m_metrics.horizontalAdvance(ellipsis);
        qreal total = 0;
        qsizetype shown = 0;
        while (shown < text.size() && (total += *advance(text[shown])) <= room)
            ++shown;
        return text.first(shown).trimmed() + ellipsis;
    }

    // A character's glyph in the style's own font; index 0 when it is drawn some other way.
    struct Glyph {
        quint32 index = 0;
        qreal advance = -1; // -1 until looked up
    };

    // Latin letters and what all scripts share (digits, punctuation, signs, spaces) are drawn left to right,
    // one glyph each, from the first font that has them; other scripts may pick another font by themselves.
    static bool drawnAsIs(QChar c) {
        const QChar::Script script = c.script();
        if (script != QChar::Script_Latin && script != QChar::Script_Common)
            return false;
        if (c.direction() == QChar::DirR || c.direction() == QChar::DirAL)
            return false;
        return c.isLetterOrNumber() || c.isPunct() || c.isSymbol() || c.category() == QChar::Separator_Space;
    }

    Glyph glyph(QChar c) {
        Glyph &known =
            c.unicode() < simpleCharacterCount ? m_simpleGlyphs[c.unicode()] : m_otherGlyphs[c.unicode()];
        if (known.advance < 0) {
            known.advance = 0;
            quint32 index = 0;
            int count = 1;
            QPointF advance;
            if (drawnAsIs(c) && m_rawFont.glyphIndexesForChars(&c, 1, &index, &count) && count == 1 &&
                index != 0 && m_rawFont.advancesForGlyphIndexes(&index, &advance, 1)) {
                known.index = index;
                known.advance = advance.x();
            }
        }
        return known;
    }

    QFont m_font;
    QColor m_colour;
    QFontMetricsF m_metrics;
    QRawFont m_rawFont;                // the first font of m_font, at the page's resolution
    std::vector<qreal> m_advances;     // by character, -1 until measured
    std::vector<Glyph> m_simpleGlyphs; // by character
    QHash<char16_t, Glyph> m_otherGlyphs;
};

class ReportPainter {
public:
    ReportPainter(QPainter &painter, const QString &title, const QList<VisitorRow> &rows,
                  const ReportContext &context)
        : m_painter(painter), m_locale(context.locale), m_zone(context.timeZone),
          m_dateFormat(abbreviatedDateFormat(context.locale)), m_title(style(16, true, Qt::black)),
          m_meta(style(detailPointSize, false, darkGrey)), m_heading(style(9, true, Qt::black)),
          m_name(style(11, true, Qt::black)), m_small(style(9, false, Qt::black)) {
        const qsizetype count = rows.size();
        // One instant for the whole report, so every page's header reads the same.
        m_titleText = m_title.elided(oneLine(title), contentWidth);
        m_generated = u"Generated "_s + dateTime(context.generatedAt) + u"  ·  "_s + QString::number(count) +
                      (count == 1 ? u" record"_s : u" records"_s);
        m_detailOption.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        const qreal lineHeight = m_meta.metrics().height();
        m_detailPitch = qMin(lineHeight, detailLinePitch);
        m_detailLines = qMax(1, 1 + int((detailHeight - lineHeight) / m_detailPitch));
    }

    void drawHeader() {
        draw(m_title, margin, 36, m_titleText);
        draw(m_meta, margin, 56, m_generated);
        const Placed headings[] = {
            {margin, 80, u"VISITOR"_s}, {signedInX, 80, u"SIGNED IN"_s}, {signedOutX, 80, u"SIGNED OUT"_s}};
        draw(m_heading, headings);
        m_painter.fillRect(QRectF(margin, 94, contentWidth, 0.8), Qt::black);
    }

    void drawBlock(const VisitorRow &row, qreal y) {
        draw(m_name, margin, y, m_name.elided(oneLine(row.visitorName), nameWidth));
        drawDetail(detailLine(row), QRectF(margin, y + 14, detailWidth, detailHeight));
        const Placed times[] = {
            {signedInX, y, m_small.elided(dateTime(row.signedInAt), timeWidth)},
            {signedOutX, y,
             row.signedOutAt ? m_small.elided(dateTime(*row.signedOutAt), timeWidth) : u"On site"_s}};
        draw(m_small, times);
        m_painter.fillRect(QRectF(margin, y + 38, contentWidth, 0.4), separatorGrey);
    }

private:
    TextStyle style(qreal points, bool bold, const QColor &colour) const {
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPointSizeF(points);
        font.setWeight(bold ? QFont::Bold : QFont::Normal);
        // Scripts that need shaping (Arabic, Devanagari, ...) still get it; Latin, Greek and Cyrillic text is
        // mapped to glyphs directly, which is most of the time a long report takes.
        font.setStyleStrategy(QFont::PreferNoShaping);
        return TextStyle(font, colour, m_painter.device());
    }

    // Visitors of one day share its date, and often a time: each is formatted once.
    QString dateTime(const QDateTime &instant) {
        const QDateTime local = instant.toTimeZone(m_zone);
        const QDate date = local.date();
        auto day = m_dates.constFind(date.toJulianDay());
        if (day == m_dates.cend())
            day = m_dates.insert(date.toJulianDay(), m_locale.toString(date, m_dateFormat));
        const QTime time = local.time();
        const int key = time.msecsSinceStartOfDay() / 1000 / m_clockStep;
        auto clock = m_times.constFind(key);
        if (clock == m_times.cend())
            clock = m_times.insert(key, m_locale.toString(time, QLocale::ShortFormat));
        return *day + u", "_s + *clock;
    }

    // A text and where it goes; `top` is the top of the text, as the layout measures it.
    struct Placed {
        qreal x;
        qreal top;
        QString text;
    };

    void draw(TextStyle &style, qreal x, qreal top, const QString &text) {
        const Placed placed[] = {{x, top, text}};
        draw(style, placed);
    }

    // Texts of one style go to the page as one run of glyphs: QPainter::drawText would shape and lay out each
    // again, and write each with its own text object, which was most of the drawing time. A text that needs
    // shaping or another font is drawn as such.
    void draw(TextStyle &style, std::span<const Placed> texts) {
        use(style);
        m_glyphIndexes.clear();
        m_glyphPositions.clear();
        for (const Placed &placed : texts) {
            const QPointF baseline(placed.x, placed.top + style.metrics().ascent());
            if (!style.appendGlyphs(placed.text, baseline, m_glyphIndexes, m_glyphPositions))
                m_painter.drawText(baseline, placed.text);
        }
        if (m_glyphIndexes.isEmpty())
            return;
        m_glyphRun.setRawFont(style.rawFont());
        m_glyphRun.setRawData(m_glyphIndexes.constData(), m_glyphPositions.constData(),
                              int(m_glyphIndexes.size()));
        m_painter.drawGlyphRun(QPointF(), m_glyphRun);
    }

    // Wraps into the rectangle and shows only the lines that fit whole; the last of them ends in an ellipsis
    // when text is left over, so a long line never reaches into the next block.
    void drawDetail(const QString &text, const QRectF &rect) {
        if (text.isEmpty())
            return;
        if (const std::optional<QStringList> lines = m_meta.wrapped(text, rect.width(), m_detailLines)) {
            QVarLengthArray<Placed, 4> placed;
            for (qsizetype i = 0; i < lines->size(); ++i)
                placed.append({rect.left(), rect.top() + qreal(i) * m_detailPitch, lines->at(i)});
            draw(m_meta, placed);
            return;
        }
        QTextLayout layout(text, m_meta.font(), m_painter.device());
        layout.setTextOption(m_detailOption);
        layout.beginLayout();
        QList<QTextLine> lines;
        bool leftOver = false;
        qreal top = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(rect.width());
            if (top + line.height() > rect.height()) {
                leftOver = true;
                break;
            }
            line.setPosition(QPointF(0, top));
            top += m_detailPitch;
            lines.append(line);
        }
        layout.endLayout();
        if (lines.isEmpty())
            return;

        use(m_meta);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i)
            lines[i].draw(&m_painter, rect.topLeft());
        const QTextLine &last = lines.constLast();
        if (!leftOver) {
            last.draw(&m_painter, rect.topLeft());
            return;
        }
        // The last line keeps what fits before an ellipsis; its glyphs are laid out already, so finding the
        // cut measures nothing again.
        const qreal room = rect.width() - m_meta.metrics().horizontalAdvance(ellipsis);
        const int cut = last.xToCursor(room, QTextLine::CursorBetweenCharacters);
        QString shown = text.mid(last.textStart(), cut - last.textStart());
        while (!shown.isEmpty() && last.cursorToX(last.textStart() + int(shown.size())) > room)
            shown.chop(1);
        const QPointF baseline = rect.topLeft() + QPointF(0, last.y() + last.ascent());
        m_painter.drawText(baseline, shown.trimmed() + ellipsis);
    }

    // Changing font or pen writes to the page, so only a change of style does.
    void use(const TextStyle &style) {
        if (m_current == &style)
            return;
        m_current = &style;
        m_painter.setFont(style.font());
        m_painter.setPen(style.colour());
    }

    QPainter &m_painter;
    QLocale m_locale;
    QTimeZone m_zone;
    QString m_dateFormat;
    QHash<qint64, QString> m_dates; // by Julian day
    QHash<int, QString> m_times;    // by step of the day
    // The short time shows no seconds in most locales: then every time of a minute reads the same.
    int m_clockStep = m_locale.timeFormat(QLocale::ShortFormat).contains(u's') ? 1 : 60;
    TextStyle m_title, m_meta, m_heading, m_name, m_small;
    QString m_titleText;
    QString m_generated;
    QTextOption m_detailOption;
    const TextStyle *m_current = nullptr;
    QList<quint32> m_glyphIndexes; // of the run being drawn
    QList<QPointF> m_glyphPositions;
    QGlyphRun m_glyphRun;
    qreal m_detailPitch = detailLinePitch;
    qsizetype m_detailLines = 2; // that fit the detail rectangle whole
};

// QPdfWriter compresses each page through two 10 MB buffers of its own, made and freed page by page. glibc
// would give that memory back to the system after every page and fault the same pages in again for the next
// one, which took longer than drawing and compressing together. While a report is written, blocks that size
// come from the heap and its free top is kept; only the pages actually touched count as memory. Afterwards
// glibc's initial settings apply again, except that it no longer adjusts them by itself.
class KeptHeap {
public:
    KeptHeap() {
#ifdef __GLIBC__
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
    }
    ~KeptHeap() {
#ifdef __GLIBC__
        mallopt(M_TRIM_THRESHOLD, 128 * 1024);
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    }
    KeptHeap(const KeptHeap &) = delete;
    KeptHeap &operator=(const KeptHeap &) = delete;
};

} // namespace

QByteArray exportPDF(const QString &title, const QList<VisitorRow> &rows, const ReportContext &context) {
    // About 210 bytes a visitor; growing a buffer of megabytes step by step would copy it again and again.
    QByteArray pdf;
    pdf.reserve(64 * 1024 + rows.size() * 256);
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        const KeptHeap keptHeap;
        QPdfWriter writer(&buffer);
        writer.setResolution(72); // one unit is one point
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(),
                                         QPageLayout::Point));
        writer.setTitle(title);
        writer.setCreator(u"Tallybrook"_s);
        QPainter painter;
        if (!painter.begin(&writer))
            return {};
        ReportPainter report(painter, title, rows, context);
        report.drawHeader();
        qreal y = firstBlockY;
        for (const VisitorRow &row : rows) {
            if (y + blockHeight > lastBlockBottom) {
                writer.newPage();
                report.drawHeader();
                y = firstBlockY;
            }
            report.drawBlock(row, y);
            y += blockHeight;
        }
        if (!painter.end())
            return {};
    }
    buffer.close();
    return pdf;
}

} // namespace tallybrook
