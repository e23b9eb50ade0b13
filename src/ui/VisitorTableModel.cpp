#include "ui/VisitorTableModel.h"

#include "records/DateStyles.h"

#include <QLocale>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

VisitorTableModel::VisitorTableModel(QObject *parent) : QAbstractTableModel(parent) {}

int VisitorTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int VisitorTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VisitorTableModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const VisitorRow &row = m_rows.at(index.row());
    if (role == Qt::ForegroundRole && index.column() == SignedOut && !row.signedOutAt && m_accent.isValid()) {
        return m_accent;
    }
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole) {
        return {};
    }
    switch (index.column()) {
    case Name:
        return row.visitorName;
    case Visiting:
        return row.hostName.value_or(QString());
    case SignedIn:
        return abbreviatedDateTime(row.signedInAt, QLocale());
    case SignedOut:
        return row.signedOutAt ? abbreviatedDateTime(*row.signedOutAt, QLocale()) : u"On site"_s;
    case Device:
        return row.deviceName.value_or(QString());
    default:
        return {};
    }
}

QVariant VisitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const QStringList titles{u"Name"_s, u"Visiting"_s, u"Signed In"_s, u"Signed Out"_s, u"Device"_s};
    return titles.value(section);
}

void VisitorTableModel::setRows(const QList<VisitorRow> &rows) {
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void VisitorTableModel::appendRows(const QList<VisitorRow> &rows) {
    if (rows.isEmpty()) {
        return;
    }
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size() - 1));
    m_rows.append(rows);
    endInsertRows();
}

int VisitorTableModel::rowOf(const QUuid &id) const {
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).id == id) {
            return int(i);
        }
    }
    return -1;
}

} // namespace tallybrook::ui
