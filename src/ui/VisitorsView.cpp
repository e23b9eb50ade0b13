#include "ui/VisitorsView.h"

#include "badges/BadgePrinter.h"
#include "cloud/CloudClient.h"
#include "export/CsvExport.h"
#include "export/PdfReport.h"
#include "records/DateStyles.h"
#include "ui/BusyIndicator.h"
#include "ui/DeskActions.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/MessageBox.h"
#include "ui/SavePanel.h"
#include "ui/Style.h"
#include "ui/VisitorTableModel.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

struct PageOutcome {
    std::optional<QList<VisitorRow>> rows;
    QString error;
};

QCoro::Task<PageOutcome> fetchPage(CloudClient &cloud, VisitorQuery query, int limit, int offset,
                                   std::shared_ptr<RequestScope> scope) {
    try {
        // Awaited into a local: GCC 12 miscompiles a co_await inside a braced initializer.
        QList<VisitorRow> rows =
            co_await cloud.visitorPage(std::move(query), limit, offset, std::move(scope));
        co_return PageOutcome{std::move(rows), {}};
    } catch (const std::exception &error) {
        co_return PageOutcome{std::nullopt, errorMessage(error)};
    }
}

// Fetches every match, builds the file's bytes and replaces the file in one step: a failure on the way leaves
// whatever was there before. The error's words, or nothing.
QCoro::Task<std::optional<QString>> exportVisitors(CloudClient &cloud, VisitorQuery query,
                                                   std::shared_ptr<RequestScope> scope,
                                                   VisitorsView::ExportFormat format, QString path,
                                                   std::function<void(int)> fetched) {
    QList<VisitorRow> rows;
    try {
        rows = co_await cloud.allVisitors(std::move(query), std::move(scope), std::move(fetched));
    } catch (const std::exception &error) {
        co_return errorMessage(error);
    }
    const QByteArray bytes =
        format == VisitorsView::ExportFormat::Pdf ? exportPDF(u"Visitor Log"_s, rows) : exportCSV(rows);
    if (bytes.isEmpty() && format == VisitorsView::ExportFormat::Pdf) {
        co_return u"The report could not be made."_s;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        co_return u"The file could not be saved: "_s + file.errorString();
    }
    co_return std::nullopt;
}

QLabel *valueLabel(const QString &text, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    // Every value comes from the network.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

VisitorDetail::VisitorDetail(QWidget *parent) : QWidget(parent) {
    setObjectName(u"visitorDetail"_s);
    setAccessibleName(u"Visitor details"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    m_form = new QFormLayout;
    m_form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    m_form->setVerticalSpacing(6);
    layout->addLayout(m_form);

    m_print = new QPushButton(symbol(u"printer"), u"Print Badge"_s, this);
    m_print->setObjectName(u"detailPrintBadgeButton"_s);
    m_print->setAccessibleName(u"Print Badge"_s);
    connect(m_print, &QPushButton::clicked, this, [this] { Q_EMIT printRequested(m_row); });
    layout->addWidget(m_print);
    m_signOut = new QPushButton(symbol(u"rectangle.portrait.and.arrow.right"), u"Sign Out"_s, this);
    m_signOut->setObjectName(u"detailSignOutButton"_s);
    m_signOut->setAccessibleName(u"Sign Out"_s);
    connect(m_signOut, &QPushButton::clicked, this, [this] { Q_EMIT signOutRequested(m_row); });
    layout->addWidget(m_signOut);
    layout->addStretch(1);
}

void VisitorDetail::setRow(const VisitorRow &row) {
    m_row = row;
    while (m_form->rowCount() > 0) {
        m_form->removeRow(0);
    }
    const auto add = [this](const QString &label, const QString &value) {
        auto *title = new QLabel(label, this);
        title->setTextFormat(Qt::PlainText); // an answer's label comes from the account's form
        setTextStyle(title, TextStyle::Callout);
        setTextColor(title, secondaryTextColor(palette()));
        m_form->addRow(title, valueLabel(value, this));
    };
    const auto section = [this] { m_form->addRow(new QLabel(this)); };
    add(u"Name"_s, row.visitorName);
    if (row.hostName) {
        add(u"Visiting"_s, *row.hostName);
    }
    if (!row.answers.isEmpty()) {
        section();
        for (const VisitorAnswer &answer : row.answers) {
            add(answer.label.isEmpty() ? u"Answer"_s : answer.label, answer.value);
        }
    }
    section();
    add(u"Signed in"_s, abbreviatedDateTime(row.signedInAt, QLocale()));
    add(u"Signed out"_s, row.signedOutAt ? abbreviatedDateTime(*row.signedOutAt, QLocale()) : u"On site"_s);
    if (row.deviceName) {
        add(u"Device"_s, *row.deviceName);
    }
    if (row.listName) {
        add(u"List"_s, *row.listName);
    }
    const QString whose = u" for "_s + row.visitorName;
    m_print->setAccessibleDescription(u"Print a badge"_s + whose);
    m_signOut->setAccessibleDescription(u"Sign out"_s + whose);
    m_signOut->setVisible(row.isOnSite());
}

void VisitorDetail::setSigningOut(bool signingOut) {
    m_signOut->setEnabled(!signingOut);
}

VisitorsView::VisitorsView(Environment environment, QWidget *parent)
    : DeskScreen(parent), m_environment(environment), m_model(new VisitorTableModel(this)) {
    setObjectName(u"visitorsView"_s);
    m_model->setAccentColor(accentColor(palette()));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());

    m_body = new QStackedWidget(this);
    m_emptyState = new EmptyState(u"person.2.slash", u"No visitors found"_s, {}, m_body);
    m_body->addWidget(m_emptyState);

    auto *split = new QSplitter(Qt::Horizontal, m_body);
    split->setChildrenCollapsible(false);
    auto *tableSide = new QWidget(split);
    auto *tableLayout = new QVBoxLayout(tableSide);
    tableLayout->setContentsMargins(0, 0, 0, 8);
    m_table = new QTableView(tableSide);
    m_table->setObjectName(u"visitorTable"_s);
    m_table->setAccessibleName(u"Visitor log"_s);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setTabKeyNavigation(false);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setShowGrid(false);
    m_table->verticalHeader()->hide();
    // One height for every row: the view never measures the rows it does not show.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (const auto &[column, width] : {std::pair{0, 180}, {1, 150}, {2, 170}, {3, 170}}) {
        m_table->setColumnWidth(column, width);
    }
    tableLayout->addWidget(m_table, 1);
    m_loadMore = new QPushButton(u"Load More"_s, tableSide);
    m_loadMore->setObjectName(u"loadMoreButton"_s);
    m_loadMore->setAccessibleName(u"Load More"_s);
    connect(m_loadMore, &QPushButton::clicked, this, &VisitorsView::loadMore);
    tableLayout->addWidget(m_loadMore, 0, Qt::AlignHCenter);

    auto *panel = new QScrollArea(split);
    panel->setObjectName(u"visitorInspector"_s);
    panel->setWidgetResizable(true);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setMinimumWidth(240);
    panel->setMaximumWidth(280);
    m_detail = new VisitorDetail(panel);
    panel->setWidget(m_detail);
    m_detailPanel = panel;
    split->addWidget(tableSide);
    split->addWidget(panel);
    split->setStretchFactor(0, 1);
    m_body->addWidget(split);
    layout->addWidget(m_body, 1);

    connect(m_detail, &VisitorDetail::printRequested, this, [this](const VisitorRow &row) {
        if (const std::optional<QString> problem = reprintBadge(m_environment.printer(), row)) {
            m_problem.show(*problem);
        }
    });
    connect(m_detail, &VisitorDetail::signOutRequested, this, [this](const VisitorRow &row) {
        m_detail->setSigningOut(true);
        // A sign-out that works raises the visitor revision, which reloads the table.
        QCoro::connect(signOutVisitor(m_environment.model, row), this,
                       [this](const std::optional<QString> &error) {
                           m_detail->setSigningOut(false);
                           if (error) {
                               m_problem.show(*error);
                           }
                       });
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VisitorsView::syncDetail);
    connect(m_model, &QAbstractItemModel::modelReset, this, &VisitorsView::syncBody);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &VisitorsView::syncBody);
    connect(&m_environment.model, &AppModel::visitorRevisionChanged, this, &VisitorsView::reloadKeyChanged);

    m_toolbarItems = makeToolbarItems();
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_search->setFocus(Qt::ShortcutFocusReason);
        m_search->selectAll();
    });

    m_debounce.setSingleShot(true);
    // A coarse timer may fire up to 5% early: the pause is 300 ms, not 285.
    m_debounce.setTimerType(Qt::PreciseTimer);
    m_debounce.setInterval(debounceMs);
    connect(&m_debounce, &QTimer::timeout, this, [this] { loadPage(true); });
    syncBody();
    syncDetail();
    reloadKeyChanged();
}

VisitorsView::~VisitorsView() {
    if (m_loadScope) {
        m_loadScope->abort();
    }
    delete m_toolbarItems;
}

QWidget *VisitorsView::makeHeader() {
    auto *header = new QWidget(this);
    header->setObjectName(u"visitorsHeader"_s);
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(16, 10, 16, 10);
    row->setSpacing(10);
    m_limitsDates = new QCheckBox(u"Dates"_s, header);
    m_limitsDates->setObjectName(u"datesToggle"_s);
    m_limitsDates->setAccessibleName(u"Dates"_s);
    row->addWidget(m_limitsDates);
    const QDate today = QDate::currentDate();
    const auto dateEdit = [header, row](const QString &name, const QDate &date) {
        auto *label = new QLabel(name, header);
        auto *edit = new QDateEdit(date, header);
        edit->setObjectName(name.toLower() + u"Date"_s);
        edit->setAccessibleName(name);
        edit->setCalendarPopup(true);
        label->setBuddy(edit);
        row->addWidget(label);
        row->addWidget(edit);
        return std::pair{label, edit};
    };
    const auto [fromLabel, from] = dateEdit(u"From"_s, today.addDays(-30));
    const auto [toLabel, to] = dateEdit(u"To"_s, today);
    m_from = from;
    m_to = to;
    for (QWidget *widget : {static_cast<QWidget *>(fromLabel), static_cast<QWidget *>(from),
                            static_cast<QWidget *>(toLabel), static_cast<QWidget *>(to)}) {
        widget->setVisible(false);
        connect(m_limitsDates, &QCheckBox::toggled, widget, &QWidget::setVisible);
    }
    connect(m_limitsDates, &QCheckBox::toggled, this, &VisitorsView::reloadKeyChanged);
    connect(m_from, &QDateEdit::dateChanged, this, &VisitorsView::reloadKeyChanged);
    connect(m_to, &QDateEdit::dateChanged, this, &VisitorsView::reloadKeyChanged);

    m_shown = new QLabel(header);
    m_shown->setObjectName(u"shownCount"_s);
    setTextStyle(m_shown, TextStyle::Callout);
    setTextColor(m_shown, secondaryTextColor(palette()));
    row->addWidget(m_shown);
    row->addStretch(1);
    m_exportProgress = new QLabel(header);
    m_exportProgress->setObjectName(u"exportProgress"_s);
    setTextStyle(m_exportProgress, TextStyle::Callout);
    setTextColor(m_exportProgress, secondaryTextColor(palette()));
    m_exportProgress->hide();
    row->addWidget(m_exportProgress);
    m_busy = new BusyIndicator(header);
    m_busy->hide();
    row->addWidget(m_busy);
    return header;
}

QWidget *VisitorsView::makeToolbarItems() {
    auto *tools = new QWidget;
    tools->setObjectName(u"visitorsToolbarItems"_s);
    auto *row = new QHBoxLayout(tools);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_search = new QLineEdit(tools);
    m_search->setObjectName(u"visitorSearch"_s);
    m_search->setPlaceholderText(u"Name, host or answer"_s);
    m_search->setAccessibleName(u"Search visitors"_s);
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(220);
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::textChanged, this, &VisitorsView::reloadKeyChanged);
    row->addWidget(m_search);

    m_export = toolbarButton(u"Export"_s, u"square.and.arrow.up", u"Export the log"_s, tools);
    m_export->setObjectName(u"exportButton"_s);
    auto *menu = new QMenu(m_export);
    menu->addAction(u"Export as CSV\u2026"_s, this, [this] { exportLog(ExportFormat::Csv); });
    menu->addAction(u"Export as PDF\u2026"_s, this, [this] { exportLog(ExportFormat::Pdf); });
    setPressMenu(m_export, menu);
    row->addWidget(m_export);
    return tools;
}

bool VisitorsView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_search && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape && !m_search->text().isEmpty()) {
        m_search->clear();
        return true;
    }
    return DeskScreen::eventFilter(watched, event);
}

QString VisitorsView::title() const {
    return u"Visitors"_s;
}

QWidget *VisitorsView::toolbarItems() const {
    return m_toolbarItems;
}

VisitorQuery VisitorsView::queryFor(const QString &search, std::optional<std::pair<QDate, QDate>> days) {
    VisitorQuery query;
    query.search = search;
    if (days) {
        // Each day's own start, so a day that changes the clock still covers all of its hours.
        query.from = days->first.startOfDay().toUTC();
        query.to = days->second.addDays(1).startOfDay().toUTC();
    }
    return query;
}

VisitorQuery VisitorsView::query() const {
    return queryFor(m_search->text(), m_limitsDates->isChecked()
                                          ? std::optional(std::pair{m_from->date(), m_to->date()})
                                          : std::nullopt);
}

std::optional<QUuid> VisitorsView::selection() const {
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        return std::nullopt;
    }
    return m_model->rows().at(rows.constFirst().row()).id;
}

void VisitorsView::reloadKeyChanged() {
    ++m_generation;
    if (m_loadScope) {
        m_loadScope->abort();
    }
    m_isLoading = false;
    m_debounce.start();
    syncBody();
}

void VisitorsView::loadMore() {
    if (!m_isLoading && m_hasMore) {
        loadPage(false);
    }
}

void VisitorsView::loadPage(bool reload) {
    auto scope = m_environment.model.requestScope()->child();
    m_loadScope = scope;
    const quint64 generation = m_generation;
    m_isLoading = true;
    syncBody();
    QCoro::connect(
        fetchPage(m_environment.cloud(), query(), pageSize, reload ? 0 : m_model->rowCount(), scope), this,
        [this, generation, reload, scope](const PageOutcome &outcome) {
            if (generation != m_generation) {
                return; // overtaken by a newer search or revision
            }
            m_isLoading = false;
            if (outcome.rows) {
                const std::optional<QUuid> selected = selection();
                if (reload) {
                    m_model->setRows(*outcome.rows);
                } else {
                    m_model->appendRows(*outcome.rows);
                }
                m_hasMore = outcome.rows->size() == pageSize;
                // A reload keeps the selected visitor selected when they are still listed.
                const int again = selected ? m_model->rowOf(*selected) : -1;
                if (reload && again >= 0) {
                    m_table->selectRow(again);
                }
            } else if (!scope->isAborted()) {
                m_problem.show(outcome.error);
            }
            syncBody();
            syncDetail();
        });
}

void VisitorsView::syncBody() {
    const int count = m_model->rowCount();
    m_shown->setText(QLocale().toString(count) + u" shown"_s);
    // "No visitors found" only once a load has said so, not while the first page is on its way.
    m_body->setCurrentIndex(count == 0 && !m_isLoading && !m_debounce.isActive() ? 0 : 1);
    m_loadMore->setVisible(m_hasMore);
    m_loadMore->setEnabled(!m_isLoading);
    m_busy->setVisible(m_isLoading);
}

void VisitorsView::syncDetail() {
    const std::optional<QUuid> selected = selection();
    m_detailPanel->setVisible(selected.has_value());
    if (selected) {
        m_detail->setRow(m_model->rows().at(m_model->rowOf(*selected)));
    }
}

void VisitorsView::exportLog(ExportFormat format) {
    if (m_isExporting) {
        return;
    }
    const bool pdf = format == ExportFormat::Pdf;
    const SavePanel::Request request{
        pdf ? u"Export as PDF"_s : u"Export as CSV"_s,
        u"Visitor Log "_s + QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate),
        pdf ? u"PDF document (*.pdf)"_s : u"Comma-separated text (*.csv)"_s, pdf ? u"pdf"_s : u"csv"_s};
    SavePanel::choose(this, request, [this, format](const std::optional<QString> &path) {
        if (path && !m_isExporting) {
            writeExport(format, *path);
        }
    });
}

void VisitorsView::writeExport(ExportFormat format, const QString &path) {
    setExporting(true);
    const QPointer<VisitorsView> self(this);
    auto fetched = [self](int count) {
        if (self) {
            self->setExporting(true, count);
        }
    };
    QCoro::connect(exportVisitors(m_environment.cloud(), query(), m_environment.model.requestScope()->child(),
                                  format, path, fetched),
                   this, [this](const std::optional<QString> &error) {
                       setExporting(false);
                       if (error) {
                           m_problem.show(*error);
                       }
                   });
}

void VisitorsView::setExporting(bool exporting, int fetched) {
    m_isExporting = exporting;
    m_export->setEnabled(!exporting);
    m_exportProgress->setVisible(exporting);
    m_exportProgress->setText(u"Exporting\u2026 "_s + QLocale().toString(fetched) + u" records"_s);
    m_busy->setVisible(exporting || m_isLoading);
}

} // namespace tallybrook::ui
