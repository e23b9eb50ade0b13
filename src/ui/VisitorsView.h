#pragma once

#include "cloud/VisitorQuery.h"
#include "records/VisitorRecords.h"
#include "ui/DeskActions.h"
#include "ui/DeskScreen.h"
#include "ui/Environment.h"

#include <QDate>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <optional>

class QCheckBox;
class QDateEdit;
class QFormLayout;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class QTableView;
class QToolButton;

namespace tallybrook {
class RequestScope;
}

namespace tallybrook::ui {

class BusyIndicator;
class VisitorTableModel;

// The selected visitor in full: name and host, every answer, the times, device and list; a badge reprint and,
// while the visitor is on site, "Sign Out".
class VisitorDetail final : public QWidget {
    Q_OBJECT

public:
    explicit VisitorDetail(QWidget *parent = nullptr);

    void setRow(const VisitorRow &row);
    [[nodiscard]] const VisitorRow &row() const { return m_row; }
    void setSigningOut(bool signingOut);

Q_SIGNALS:
    void printRequested(const VisitorRow &row);
    void signOutRequested(const VisitorRow &row);

private:
    VisitorRow m_row;
    QFormLayout *m_form = nullptr;
    QPushButton *m_print = nullptr;
    QPushButton *m_signOut = nullptr;
};

// The whole visitor log: a search and an optional date range, the matching records page by page, the
// selected one in an inspector, and an export of every match to CSV or PDF.
class VisitorsView final : public DeskScreen {
    Q_OBJECT

public:
    explicit VisitorsView(Environment environment, QWidget *parent = nullptr);
    ~VisitorsView() override;
    Q_DISABLE_COPY_MOVE(VisitorsView)

    [[nodiscard]] QString title() const override;
    [[nodiscard]] QWidget *toolbarItems() const override;

    // The query the search field and the date range make: the range runs from the start of the first day to
    // the start of the day after the last, in the computer's zone.
    [[nodiscard]] VisitorQuery query() const;
    [[nodiscard]] static VisitorQuery queryFor(const QString &search,
                                               std::optional<std::pair<QDate, QDate>> days);

    [[nodiscard]] VisitorTableModel &tableModel() const { return *m_model; }
    [[nodiscard]] bool hasMore() const { return m_hasMore; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] bool isExporting() const { return m_isExporting; }
    [[nodiscard]] const std::optional<QString> &problem() const { return m_problem.message(); }
    [[nodiscard]] std::optional<QUuid> selection() const;

    void loadMore();
    enum class ExportFormat { Csv, Pdf };
    void exportLog(ExportFormat format);

    static constexpr int pageSize = 50;
    static constexpr int debounceMs = 300;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeToolbarItems();
    // The search, the range or the visitor revision changed: the running load is dropped and a new one waits
    // for the typing to pause.
    void reloadKeyChanged();
    void loadPage(bool reload);
    void syncBody();
    void syncDetail();
    void writeExport(ExportFormat format, const QString &path);
    void setExporting(bool exporting, int fetched = 0);

    Environment m_environment;
    VisitorTableModel *m_model = nullptr;
    bool m_hasMore = false;
    bool m_isLoading = false;
    bool m_isExporting = false;
    ProblemAlert m_problem{this};

    // Bumped by every change of the reload key: a page of an older generation never lands.
    quint64 m_generation = 0;
    std::shared_ptr<RequestScope> m_loadScope;
    QTimer m_debounce;

    QPointer<QWidget> m_toolbarItems;
    QLineEdit *m_search = nullptr;
    QToolButton *m_export = nullptr;
    QCheckBox *m_limitsDates = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QLabel *m_shown = nullptr;
    BusyIndicator *m_busy = nullptr;
    QLabel *m_exportProgress = nullptr;
    QStackedWidget *m_body = nullptr;
    QWidget *m_emptyState = nullptr;
    QTableView *m_table = nullptr;
    QPushButton *m_loadMore = nullptr;
    VisitorDetail *m_detail = nullptr;
    QWidget *m_detailPanel = nullptr;
};

} // namespace tallybrook::ui
