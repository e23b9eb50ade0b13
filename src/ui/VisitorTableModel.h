#pragma once

#include "records/VisitorRecords.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>

namespace tallybrook::ui {

// The loaded visitor log as a table: name, host, sign-in, sign-out ("On site" in the accent colour while the
// visitor is there) and device, in the backend's order.
class VisitorTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Name, Visiting, SignedIn, SignedOut, Device, ColumnCount };

    explicit VisitorTableModel(QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    [[nodiscard]] const QList<VisitorRow> &rows() const { return m_rows; }
    // A reload: the rows are replaced.
    void setRows(const QList<VisitorRow> &rows);
    // "Load More": the page goes after the rows.
    void appendRows(const QList<VisitorRow> &rows);
    // The row of this record; -1 when it is not loaded.
    [[nodiscard]] int rowOf(const QUuid &id) const;

    void setAccentColor(const QColor &color) { m_accent = color; }

private:
    QList<VisitorRow> m_rows;
    QColor m_accent;
};

} // namespace tallybrook::ui
