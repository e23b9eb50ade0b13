#include "ui/OnSiteModel.h"

#include "records/DateStyles.h"

#include <QHash>
#include <QLocale>
#include <QSet>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

OnSiteModel::OnSiteModel(QObject *parent) : QAbstractListModel(parent) {}

int OnSiteModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant OnSiteModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const VisitorRow &row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.visitorName;
    case DetailRole:
        return detailLine(row);
    case VisitorRole:
        return QVariant::fromValue(row.id);
    default:
        return {};
    }
}

QString OnSiteModel::detailLine(const VisitorRow &row) {
    QStringList parts{u"In at "_s + shortTime(row.signedInAt.toLocalTime().time(), QLocale())};
    if (row.isPending) {
        parts.prepend(u"Not yet saved"_s);
    }
    if (row.hostName && !row.hostName->isEmpty()) {
        parts.append(u"Visiting "_s + *row.hostName);
    }
    if (row.deviceName && !row.deviceName->isEmpty()) {
        parts.append(*row.deviceName);
    }
    return parts.join(u" \u00b7 "_s);
}

void OnSiteModel::setRows(const QList<VisitorRow> &incoming) {
    if (incoming == m_rows) {
        return;
    }
    // A row id stands for one row; an answer that repeats one keeps its first.
    QList<VisitorRow> rows;
    rows.reserve(incoming.size());
    QSet<QUuid> kept;
    kept.reserve(incoming.size());
    for (const VisitorRow &row : incoming) {
        if (!kept.contains(row.id)) {
            kept.insert(row.id);
            rows.append(row);
        }
    }
    if (rows == m_rows) {
        return;
    }
    // Rows that left, removed from the end so the earlier positions hold; a run of neighbours goes at once.
    for (qsizetype last = m_rows.size() - 1; last >= 0;) {
        if (kept.contains(m_rows.at(last).id)) {
            --last;
            continue;
        }
        qsizetype first = last;
        while (first > 0 && !kept.contains(m_rows.at(first - 1).id)) {
            --first;
        }
        beginRemoveRows({}, int(first), int(last));
        m_rows.remove(first, last - first + 1);
        endRemoveRows();
        last = first - 1;
    }

    // Then walk the new order: a row in place is changed if it differs, a newcomer is inserted, a row
    // further down is moved up. Everything before `at` already matches.
    QSet<QUuid> present;
    present.reserve(m_rows.size());
    for (const VisitorRow &row : std::as_const(m_rows)) {
        present.insert(row.id);
    }
    for (qsizetype at = 0; at < rows.size(); ++at) {
        const VisitorRow &wanted = rows.at(at);
        if (at < m_rows.size() && m_rows.at(at).id == wanted.id) {
            if (m_rows.at(at) != wanted) {
                m_rows[at] = wanted;
                const QModelIndex changed = index(int(at));
                Q_EMIT dataChanged(changed, changed);
            }
            continue;
        }
        if (!present.contains(wanted.id)) {
            qsizetype last = at;
            // Newcomers arrive together at the top of the list: one insertion for the run.
            while (last + 1 < rows.size() && !present.contains(rows.at(last + 1).id)) {
                ++last;
            }
            beginInsertRows({}, int(at), int(last));
            for (qsizetype i = at; i <= last; ++i) {
                m_rows.insert(i, rows.at(i));
                present.insert(rows.at(i).id);
            }
            endInsertRows();
            at = last;
            continue;
        }
        qsizetype from = at + 1;
        while (m_rows.at(from).id != wanted.id) {
            ++from;
        }
        beginMoveRows({}, int(from), int(from), {}, int(at));
        m_rows.move(from, at);
        endMoveRows();
        if (m_rows.at(at) != wanted) {
            m_rows[at] = wanted;
            const QModelIndex changed = index(int(at));
            Q_EMIT dataChanged(changed, changed);
        }
    }
}

} // namespace tallybrook::ui
