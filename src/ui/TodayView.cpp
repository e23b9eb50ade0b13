#include "ui/TodayView.h"

#include "badges/BadgePrinter.h"
#include "records/DateStyles.h"
#include "ui/DeskActions.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/MessageBox.h"
#include "ui/OnSiteModel.h"
#include "ui/Style.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int tilePadding = 14;
// The on-site list's margins around its rows.
constexpr int listMargin = 20;
constexpr int listBottomMargin = 12;

// A line of a row: as tall as its font and no wider than the row makes it, so laying a row out shapes no text
// and the row's text is shaped only when it is painted.
class RowLine final : public QLabel {
public:
    using QLabel::QLabel;
    [[nodiscard]] QSize sizeHint() const override { return {0, fontMetrics().height()}; }
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }
};

QColor tileFill(const QPalette &palette) {
    QColor fill = palette.color(QPalette::Text);
    fill.setAlphaF(0.06);
    return fill;
}

} // namespace

StatTile::StatTile(const QString &title, QWidget *parent) : QWidget(parent), m_title(title) {
    static const bool readAsText = [] {
        QAccessible::installFactory([](const QString &className, QObject *object) -> QAccessibleInterface * {
            if (className == u"tallybrook::ui::StatTile" && object->isWidgetType()) {
                return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StaticText);
            }
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(readAsText);
    setObjectName(u"statTile"_s);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setValue(0);
}

void StatTile::setValue(int value) {
    m_value = value;
    setAccessibleName(m_title + u": "_s + QLocale().toString(value));
    update();
}

QSize StatTile::sizeHint() const {
    const QFontMetrics number(ui::font(TextStyle::LargeTitle, QFont::DemiBold));
    const QFontMetrics title(ui::font(TextStyle::Callout));
    return {qMax(number.horizontalAdvance(u"0000"_s), title.horizontalAdvance(m_title)) + 2 * tilePadding,
            number.height() + 4 + title.height() + 2 * tilePadding};
}

void StatTile::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tileFill(palette()));
    painter.drawRoundedRect(QRectF(rect()), 8, 8);

    const QRect inside = rect().adjusted(tilePadding, tilePadding, -tilePadding, -tilePadding);
    const QFont numberFont = ui::font(TextStyle::LargeTitle, QFont::DemiBold);
    painter.setFont(numberFont);
    painter.setPen(palette().color(QPalette::Text));
    const int numberHeight = QFontMetrics(numberFont).height();
    painter.drawText(QRect(inside.topLeft(), QSize(inside.width(), numberHeight)),
                     Qt::AlignLeft | Qt::AlignVCenter, QLocale().toString(m_value));
    painter.setFont(ui::font(TextStyle::Callout));
    painter.setPen(secondaryTextColor(palette()));
    painter.drawText(inside.adjusted(0, numberHeight + 4, 0, 0), Qt::AlignLeft | Qt::AlignTop, m_title);
}

OnSiteRow::OnSiteRow(const VisitorRow &row, QWidget *parent) : QWidget(parent) {
    setObjectName(u"onSiteRow"_s);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(10);

    auto *text = new QVBoxLayout;
    text->setSpacing(2);
    m_name = new RowLine(this);
    m_name->setObjectName(u"visitorName"_s);
    // Names come from the network: never markup.
    m_name->setTextFormat(Qt::PlainText);
    setTextStyle(m_name, TextStyle::Headline, QFont::DemiBold);
    text->addWidget(m_name);
    m_detail = new RowLine(this);
    m_detail->setObjectName(u"visitorDetail"_s);
    m_detail->setTextFormat(Qt::PlainText);
    setTextStyle(m_detail, TextStyle::Callout);
    setTextColor(m_detail, secondaryTextColor(palette()));
    text->addWidget(m_detail);
    layout->addLayout(text, 1);

    m_print = new QToolButton(this);
    m_print->setObjectName(u"printBadgeButton"_s);
    // One icon for every row: a theme lookup per row would cost more than the row.
    static const QIcon printer = symbol(u"printer");
    m_print->setIcon(printer);
    m_print->setIconSize(QSize(18, 18));
    m_print->setAutoRaise(true);
    m_print->setFocusPolicy(Qt::StrongFocus);
    m_print->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_print->setText(u"Print Badge"_s);
    m_print->setAccessibleName(u"Print Badge"_s);
    m_print->setToolTip(u"Print a badge"_s);
    connect(m_print, &QToolButton::clicked, this, [this] { Q_EMIT printRequested(m_row); });
    layout->addWidget(m_print);

    m_signOut = new QPushButton(u"Sign Out"_s, this);
    m_signOut->setObjectName(u"signOutButton"_s);
    m_signOut->setAccessibleName(u"Sign Out"_s);
    m_signOut->setAutoDefault(false);
    connect(m_signOut, &QPushButton::clicked, this, [this] { Q_EMIT signOutRequested(m_row); });
    layout->addWidget(m_signOut);

    setRow(row);
}

void OnSiteRow::setRow(const VisitorRow &row) {
    m_row = row;
    m_name->setText(row.visitorName);
    m_detail->setText(OnSiteModel::detailLine(row));
    // Every row has the same two buttons: the description says whose they are.
    m_print->setAccessibleDescription(u"Print a badge for "_s + row.visitorName);
    m_signOut->setAccessibleDescription(u"Sign out "_s + row.visitorName);
    setAccessibleName(row.visitorName);
    setAccessibleDescription(m_detail->text());
}

void OnSiteRow::placeAfter(const OnSiteRow *previous) {
    QWidget::setTabOrder(previous->m_signOut, m_print);
    QWidget::setTabOrder(m_print, m_signOut);
}

void OnSiteRow::setSigningOut(bool signingOut) {
    m_signOut->setEnabled(!signingOut);
}

void OnSiteRow::paintEvent(QPaintEvent *) {
    // The divider under each row.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Midlight));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

OnSiteList::OnSiteList(OnSiteModel &model, QWidget *parent) : QScrollArea(parent), m_model(model) {
    setObjectName(u"onSiteList"_s);
    setAccessibleName(u"On site now"_s);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_content = new QWidget(this);
    m_content->setObjectName(u"onSiteRows"_s);
    m_content->setBackgroundRole(QPalette::Base);
    setWidget(m_content);

    connect(&m_model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { insertRows(first, last); });
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { removeRows(first, last); });
    connect(&m_model, &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex &, int from, int, const QModelIndex &, int to) {
                // The destination counts the moved row as still in place.
                moveRow(from, to > from ? to - 1 : to);
            });
    connect(&m_model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                for (int index = topLeft.row(); index <= bottomRight.row(); ++index) {
                    if (OnSiteRow *row = rowAt(index)) {
                        row->setRow(m_model.row(index));
                    }
                }
            });
    connect(&m_model, &QAbstractItemModel::modelReset, this, &OnSiteList::rebuild);
    m_batch.setSingleShot(true);
    m_batch.setInterval(0);
    connect(&m_batch, &QTimer::timeout, this, &OnSiteList::buildMore);

    // Every row has the same two lines of text and the same buttons, so one row, never shown, measures them
    // all. Measuring now also loads the rows' fonts and icon before the first poll needs them.
    VisitorRow sample;
    sample.visitorName = u"Visitor"_s;
    sample.signedInAt = QDateTime::currentDateTimeUtc();
    m_rowHeight = OnSiteRow(sample, m_content).sizeHint().height();
    rebuild();
}

int OnSiteList::rowWidth() const {
    return m_content->width() - 2 * listMargin;
}

void OnSiteList::resizeContent() {
    m_content->setMinimumHeight(int(m_rows.size()) * m_rowHeight + listBottomMargin);
}

void OnSiteList::place(int from, int to) {
    for (int index = from; index <= to; ++index) {
        if (OnSiteRow *row = m_rows.at(index)) {
            row->move(listMargin, index * m_rowHeight);
        }
    }
}

void OnSiteList::fit(int index) {
    OnSiteRow *row = m_rows.at(index);
    if (row && row->width() != rowWidth()) {
        row->resize(rowWidth(), m_rowHeight);
    }
}

void OnSiteList::placeInTabOrder(int index) {
    // Rows are not always built top to bottom (the ones in view come first): each row's buttons follow those
    // of the nearest built row above it, so Tab still goes down the list.
    for (int above = index - 1; above >= 0; --above) {
        if (const OnSiteRow *previous = m_rows.at(above)) {
            m_rows.at(index)->placeAfter(previous);
            return;
        }
    }
}

void OnSiteList::build(int index) {
    auto *row = new OnSiteRow(m_model.row(index), m_content);
    connect(row, &OnSiteRow::printRequested, this, &OnSiteList::printRequested);
    connect(row, &OnSiteRow::signOutRequested, this, &OnSiteList::signOutRequested);
    row->setGeometry(listMargin, index * m_rowHeight, rowWidth(), m_rowHeight);
    m_rows[index] = row;
    placeInTabOrder(index);
    row->show();
    ++m_built;
}

void OnSiteList::buildInView() {
    if (m_rows.isEmpty()) {
        return;
    }
    // A list not shown yet has no real viewport: it builds what a screen's height would show.
    const int height =
        viewport()->isVisible() ? viewport()->height() : screen()->availableGeometry().height();
    const int top = verticalScrollBar()->value();
    const int last = int(m_rows.size()) - 1;
    for (int index = qBound(0, top / m_rowHeight, last);
         index <= qBound(0, (top + height) / m_rowHeight, last); ++index) {
        if (m_rows.at(index)) {
            fit(index);
        } else {
            build(index);
        }
    }
    if (m_built < m_rows.size() || m_fitted < m_rows.size()) {
        m_batch.start();
    }
}

void OnSiteList::buildMore() {
    // Rows out of view are built, or fitted to a new width, about a millisecond's worth at a time: a pass
    // that also paints or answers a click still fits in a frame, and the rest catch up no later for it.
    constexpr qint64 budgetNs = 1'000'000;
    buildInView();
    QElapsedTimer spent;
    spent.start();
    while (spent.nsecsElapsed() < budgetNs) {
        if (m_built < m_rows.size()) {
            while (m_rows.at(m_firstUnbuilt)) {
                ++m_firstUnbuilt;
            }
            build(m_firstUnbuilt);
        } else if (m_fitted < m_rows.size()) {
            fit(m_fitted++);
        } else {
            return;
        }
    }
    m_batch.start();
}

void OnSiteList::insertRows(int first, int last) {
    m_rows.insert(first, last - first + 1, nullptr);
    m_firstUnbuilt = qMin(m_firstUnbuilt, first);
    m_fitted = qMin(m_fitted, first);
    place(last + 1, int(m_rows.size()) - 1);
    resizeContent();
    buildInView();
}

void OnSiteList::removeRows(int first, int last) {
    for (int index = last; index >= first; --index) {
        if (OnSiteRow *row = m_rows.at(index)) {
            delete row;
            --m_built;
        }
    }
    m_rows.remove(first, last - first + 1);
    m_firstUnbuilt = qMin(m_firstUnbuilt, first);
    m_fitted = qMin(m_fitted, first);
    place(first, int(m_rows.size()) - 1);
    resizeContent();
    buildInView();
}

void OnSiteList::moveRow(int from, int to) {
    m_rows.move(from, to);
    m_firstUnbuilt = qMin(m_firstUnbuilt, qMin(from, to));
    m_fitted = qMin(m_fitted, qMin(from, to));
    place(qMin(from, to), qMax(from, to));
    if (m_rows.at(to)) {
        placeInTabOrder(to);
    }
    buildInView();
}

void OnSiteList::rebuild() {
    qDeleteAll(m_rows);
    m_rows = QList<OnSiteRow *>(m_model.rowCount(), nullptr);
    m_built = 0;
    m_firstUnbuilt = 0;
    m_fitted = 0;
    resizeContent();
    buildInView();
}

bool OnSiteList::eventFilter(QObject *watched, QEvent *event) {
    const bool handled = QScrollArea::eventFilter(watched, event);
    if (watched == m_content && event->type() == QEvent::Resize &&
        static_cast<QResizeEvent *>(event)->oldSize().width() != m_content->width()) {
        // A new width reaches the rows in view now and the rest between events, so that dragging the
        // window's edge does not lay out a thousand rows per step.
        m_fitted = 0;
        buildInView();
    }
    return handled;
}

void OnSiteList::resizeEvent(QResizeEvent *event) {
    QScrollArea::resizeEvent(event);
    buildInView();
}

void OnSiteList::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    // Rows scrolled into view are built before they are painted.
    buildInView();
}

void OnSiteList::showEvent(QShowEvent *event) {
    QScrollArea::showEvent(event);
    buildInView();
}

OnSiteRow *OnSiteList::rowAt(int index) const {
    return m_rows.value(index);
}

OnSiteRow *OnSiteList::rowFor(const QUuid &visitor) const {
    for (OnSiteRow *row : m_rows) {
        if (row && row->row().id == visitor) {
            return row;
        }
    }
    return nullptr;
}

int OnSiteList::count() const {
    return m_built;
}

TodayView::TodayView(Environment environment, QWidget *parent)
    : DeskScreen(parent), m_environment(environment), m_onSiteModel(new OnSiteModel(this)) {
    setObjectName(u"todayView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 20, 0, 0);
    layout->setSpacing(16);

    auto *tiles = new QHBoxLayout;
    tiles->setContentsMargins(20, 0, 20, 0);
    tiles->setSpacing(12);
    m_today = new StatTile(u"Visitors today"_s, this);
    m_today->setObjectName(u"visitorsTodayTile"_s);
    m_onSite = new StatTile(u"On site now"_s, this);
    m_onSite->setObjectName(u"onSiteTile"_s);
    m_thisWeek = new StatTile(u"This week"_s, this);
    m_thisWeek->setObjectName(u"thisWeekTile"_s);
    for (StatTile *tile : {m_today, m_onSite, m_thisWeek}) {
        tiles->addWidget(tile, 1);
    }
    layout->addLayout(tiles);

    m_body = new QStackedWidget(this);
    m_emptyState = new EmptyState(u"building.2", u"No one on site"_s,
                                  u"Visitors signed in on any device show up here."_s, m_body);
    m_body->addWidget(m_emptyState);
    m_list = new OnSiteList(*m_onSiteModel, m_body);
    m_body->addWidget(m_list);
    layout->addWidget(m_body, 1);
    connect(m_list, &OnSiteList::printRequested, this, &TodayView::printBadge);
    connect(m_list, &OnSiteList::signOutRequested, this, &TodayView::signOut);

    auto *tools = new QWidget;
    tools->setObjectName(u"todayToolbarItems"_s);
    auto *toolsLayout = new QHBoxLayout(tools);
    toolsLayout->setContentsMargins(0, 0, 0, 0);
    m_signOutEveryone = new QToolButton(tools);
    m_signOutEveryone->setObjectName(u"signOutEveryoneButton"_s);
    m_signOutEveryone->setText(u"Sign Out Everyone"_s);
    m_signOutEveryone->setAccessibleName(u"Sign Out Everyone"_s);
    m_signOutEveryone->setToolTip(u"Sign out everyone still on site"_s);
    m_signOutEveryone->setIcon(symbol(u"person.2.slash"));
    m_signOutEveryone->setIconSize(QSize(18, 18));
    m_signOutEveryone->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_signOutEveryone->setAutoRaise(true);
    m_signOutEveryone->setFocusPolicy(Qt::StrongFocus);
    connect(m_signOutEveryone, &QToolButton::clicked, this, &TodayView::confirmSignOutEveryone);
    toolsLayout->addWidget(m_signOutEveryone);
    m_toolbarItems = tools;

    AppModel &model = m_environment.model;
    connect(&model, &AppModel::onSiteChanged, this, &TodayView::syncOnSite);
    connect(&model, &AppModel::countsChanged, this, &TodayView::syncCounts);
    connect(&model, &AppModel::lastRefreshChanged, this, &DeskScreen::headingChanged);
    syncOnSite();
    syncCounts();
}

TodayView::~TodayView() {
    delete m_toolbarItems;
}

QString TodayView::title() const {
    return u"Today"_s;
}

QString TodayView::subtitle() const {
    const std::optional<QDateTime> &at = m_environment.model.lastRefresh();
    return at ? u"Updated "_s + shortTime(at->toLocalTime().time(), QLocale()) : QString();
}

QWidget *TodayView::toolbarItems() const {
    return m_toolbarItems;
}

void TodayView::syncOnSite() {
    const QList<VisitorRow> &rows = m_environment.model.onSite();
    m_onSiteModel->setRows(rows);
    m_body->setCurrentWidget(rows.isEmpty() ? m_emptyState : static_cast<QWidget *>(m_list));
    m_signOutEveryone->setEnabled(!rows.isEmpty());
}

void TodayView::syncCounts() {
    const DeskCounts &counts = m_environment.model.counts();
    m_today->setValue(counts.today);
    m_onSite->setValue(counts.onSite);
    m_thisWeek->setValue(counts.thisWeek);
}

void TodayView::printBadge(const VisitorRow &row) {
    if (const std::optional<QString> problem = reprintBadge(m_environment.printer(), row)) {
        m_problem.show(*problem);
    }
}

void TodayView::signOut(const VisitorRow &row) {
    if (OnSiteRow *widget = m_list->rowFor(row.id)) {
        widget->setSigningOut(true);
    }
    const QUuid id = row.id;
    QCoro::connect(signOutVisitor(m_environment.model, row), this,
                   [this, id](const std::optional<QString> &error) {
                       // On success the row leaves with the refresh the sign-out made.
                       if (OnSiteRow *widget = m_list->rowFor(id)) {
                           widget->setSigningOut(false);
                       }
                       if (error) {
                           m_problem.show(*error);
                       }
                   });
}

void TodayView::confirmSignOutEveryone() {
    const qsizetype count = m_environment.model.onSite().size();
    if (count == 0 || m_isConfirmingEveryone) {
        return;
    }
    m_isConfirmingEveryone = true;
    MessageBox::Alert alert{
        u"Sign out all "_s + QLocale().toString(count) + u" visitors on site?"_s,
        {},
        {{u"Sign Out Everyone"_s, QMessageBox::DestructiveRole}, {u"Cancel"_s, QMessageBox::RejectRole}},
        1};
    MessageBox::show(this, alert, [this](int button) {
        m_isConfirmingEveryone = false;
        if (button != 0) {
            return;
        }
        m_signOutEveryone->setEnabled(false);
        QCoro::connect(m_environment.model.signOutEveryone(), this, [this](int failures) {
            syncOnSite();
            if (failures > 0) {
                m_problem.show(QLocale().toString(failures) +
                               u" visitors could not be signed out. Please try again."_s);
            }
        });
    });
}

} // namespace tallybrook::ui
