#pragma once

#include "records/VisitorRecords.h"
#include "ui/DeskActions.h"
#include "ui/DeskScreen.h"
#include "ui/Environment.h"

#include <QHash>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <QUuid>

#include <optional>

class QLabel;
class QMessageBox;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace tallybrook::ui {

class OnSiteModel;

// One count of the Today screen: the number large, its title under it, drawn as one piece so that it reads
// aloud as one static text, "Visitors today: 3".
class StatTile final : public QWidget {
    Q_OBJECT

public:
    explicit StatTile(const QString &title, QWidget *parent = nullptr);

    void setValue(int value);
    [[nodiscard]] int value() const { return m_value; }
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
    int m_value = 0;
};

// One visitor on site: name and detail line, a badge reprint button and "Sign Out".
class OnSiteRow final : public QWidget {
    Q_OBJECT

public:
    explicit OnSiteRow(const VisitorRow &row, QWidget *parent = nullptr);

    void setRow(const VisitorRow &row);
    [[nodiscard]] const VisitorRow &row() const { return m_row; }
    void setSigningOut(bool signingOut);
    // Puts this row's buttons right after those of `previous` in Tab order.
    void placeAfter(const OnSiteRow *previous);

Q_SIGNALS:
    void printRequested(const VisitorRow &row);
    void signOutRequested(const VisitorRow &row);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    VisitorRow m_row;
    QLabel *m_name = nullptr;
    QLabel *m_detail = nullptr;
    QToolButton *m_print = nullptr;
    QPushButton *m_signOut = nullptr;
};

// The list of visitors on site, one OnSiteRow per row of an OnSiteModel. It follows the model's row
// insertions, removals, moves and changes one by one, so the rows that stay keep their widgets, focus and
// scroll position. Every row has the same height, so the list is as tall as all its rows from the start; the
// rows in view are built at once, the rest a few at a time between events. count() rows are built so far.
class OnSiteList final : public QScrollArea {
    Q_OBJECT

public:
    explicit OnSiteList(OnSiteModel &model, QWidget *parent = nullptr);

    // Null for a row not built yet.
    [[nodiscard]] OnSiteRow *rowAt(int index) const;
    [[nodiscard]] OnSiteRow *rowFor(const QUuid &visitor) const;
    [[nodiscard]] int count() const;

Q_SIGNALS:
    void printRequested(const VisitorRow &row);
    void signOutRequested(const VisitorRow &row);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent *event) override;

private:
    void insertRows(int first, int last);
    void removeRows(int first, int last);
    void moveRow(int from, int to);
    void rebuild();
    void buildInView();
    void buildMore();
    void build(int index);
    void place(int from, int to);
    void fit(int index);
    void placeInTabOrder(int index);
    void resizeContent();
    [[nodiscard]] int rowWidth() const;

    OnSiteModel &m_model;
    // One entry per model row, in model order; null until the row's widget is built.
    QList<OnSiteRow *> m_rows;
    int m_built = 0;
    // Every row before this one is built, and every one before m_fitted has the list's width.
    int m_firstUnbuilt = 0;
    int m_fitted = 0;
    int m_rowHeight = 0;
    QTimer m_batch;
    QWidget *m_content = nullptr;
};

// The desk's first screen: today's counts, who is on site with a reprint and a sign-out for each, and "Sign
// Out Everyone" in the toolbar.
class TodayView final : public DeskScreen {
    Q_OBJECT

public:
    explicit TodayView(Environment environment, QWidget *parent = nullptr);
    ~TodayView() override;
    Q_DISABLE_COPY_MOVE(TodayView)

    [[nodiscard]] QString title() const override;
    // "Updated 9:05 AM" after the first successful refresh, empty before.
    [[nodiscard]] QString subtitle() const override;
    [[nodiscard]] QWidget *toolbarItems() const override;

    [[nodiscard]] OnSiteModel &onSiteModel() const { return *m_onSiteModel; }
    [[nodiscard]] const std::optional<QString> &actionError() const { return m_problem.message(); }

    // The toolbar's "Sign Out Everyone": asks first, then signs everyone out.
    void confirmSignOutEveryone();

private:
    void syncOnSite();
    void syncCounts();
    void printBadge(const VisitorRow &row);
    void signOut(const VisitorRow &row);

    Environment m_environment;
    OnSiteModel *m_onSiteModel = nullptr;
    StatTile *m_today = nullptr;
    StatTile *m_onSite = nullptr;
    StatTile *m_thisWeek = nullptr;
    QStackedWidget *m_body = nullptr;
    QWidget *m_emptyState = nullptr;
    OnSiteList *m_list = nullptr;
    // Lives in the desk's toolbar, so the screen deletes it itself.
    QPointer<QWidget> m_toolbarItems;
    QToolButton *m_signOutEveryone = nullptr;

    ProblemAlert m_problem{this};
    bool m_isConfirmingEveryone = false;
};

} // namespace tallybrook::ui
