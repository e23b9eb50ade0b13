#pragma once

#include "records/VisitorRecords.h"

#include <QAbstractListModel>
#include <QList>

namespace tallybrook::ui {

// The visitors on site, in the model's order. A poll hands over the whole list; setRows() turns it into the
// fewest row removals, insertions, moves and changes, so a view keeps its selection, focus and scroll
// position and an unchanged poll touches nothing.
class OnSiteModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { VisitorRole = Qt::UserRole + 1, DetailRole };

    explicit OnSiteModel(QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    [[nodiscard]] const QList<VisitorRow> &rows() const { return m_rows; }
    [[nodiscard]] const VisitorRow &row(int index) const { return m_rows.at(index); }
    void setRows(const QList<VisitorRow> &incoming);

    // "In at 9:05 AM · Visiting Ann Lee · Front Desk": the sign-in time in the computer's zone, then the host
    // and the device when there are.
    [[nodiscard]] static QString detailLine(const VisitorRow &row);

private:
    QList<VisitorRow> m_rows;
};

} // namespace tallybrook::ui
