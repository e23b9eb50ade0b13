#include "ui/SidebarModel.h"

#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

SidebarModel::SidebarModel(QObject *parent) : QAbstractListModel(parent), m_sections(allDeskSections()) {}

int SidebarModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_sections.size());
}

QVariant SidebarModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const DeskSection section = m_sections.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return title(section);
    case Qt::ToolTipRole:
        return m_collapsed ? QVariant(title(section)) : QVariant();
    case Qt::DecorationRole:
        return symbol(symbolName(section));
    case SectionRole:
        return int(section);
    case CollapsedRole:
        return m_collapsed;
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex &index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QHash<int, QByteArray> SidebarModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(SectionRole, QByteArrayLiteral("section"));
    names.insert(CollapsedRole, QByteArrayLiteral("collapsed"));
    return names;
}

void SidebarModel::setCollapsed(bool collapsed) {
    if (m_collapsed == collapsed) {
        return;
    }
    m_collapsed = collapsed;
    if (!m_sections.isEmpty()) {
        Q_EMIT dataChanged(index(0), index(int(m_sections.size()) - 1), {Qt::ToolTipRole, CollapsedRole});
    }
}

QModelIndex SidebarModel::indexOf(DeskSection section) const {
    const qsizetype row = m_sections.indexOf(section);
    return row < 0 ? QModelIndex() : index(int(row));
}

std::optional<DeskSection> SidebarModel::sectionAt(const QModelIndex &index) {
    const QVariant value = index.data(SectionRole);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return static_cast<DeskSection>(value.toInt());
}

void SidebarDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const bool active = option.state.testFlag(QStyle::State_Active);
    const QRectF row = QRectF(option.rect).adjusted(8, 1, -8, -1);
    if (selected) {
        QColor fill = option.palette.color(QPalette::Active, QPalette::Highlight);
        if (!active) {
            fill = option.palette.color(QPalette::Active, QPalette::Mid);
            fill.setAlphaF(0.45f);
        }
        QPainterPath path;
        path.addRoundedRect(row, 6, 6);
        painter->fillPath(path, fill);
    } else if (option.state.testFlag(QStyle::State_MouseOver)) {
        QColor hover = option.palette.color(QPalette::Active, QPalette::Mid);
        hover.setAlphaF(0.18f);
        QPainterPath path;
        path.addRoundedRect(row, 6, 6);
        painter->fillPath(path, hover);
    }

    const QColor textColor = selected && active
                                 ? option.palette.color(QPalette::Active, QPalette::HighlightedText)
                                 : option.palette.color(QPalette::Active, QPalette::WindowText);
    const auto icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    const bool collapsed = index.data(SidebarModel::CollapsedRole).toBool();
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pixmap = icon.pixmap(QSize(iconSize, iconSize), ratio);
    if (selected && active && !pixmap.isNull()) {
        QPainter tint(&pixmap);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), textColor);
    }
    const qreal iconTop = row.center().y() - iconSize / 2.0;
    if (collapsed) {
        painter->drawPixmap(QPointF(row.center().x() - iconSize / 2.0, iconTop), pixmap);
    } else {
        const qreal iconLeft = row.left() + 10;
        painter->drawPixmap(QPointF(iconLeft, iconTop), pixmap);
        const QRectF textRect = row.adjusted(10 + iconSize + 8, 0, -8, 0);
        painter->setPen(textColor);
        painter->setFont(option.font);
        const QString text = option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(),
                                                           Qt::ElideRight, int(textRect.width()));
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    painter->restore();
}

QSize SidebarDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const {
    return {option.rect.width() > 0 ? option.rect.width() : 80, rowHeight};
}

} // namespace tallybrook::ui
