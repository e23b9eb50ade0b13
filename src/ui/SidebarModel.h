#pragma once

#include "ui/DeskSection.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <optional>

namespace tallybrook::ui {

// The sidebar's rows: one per desk section, in sidebar order. Collapsed, a row is drawn as its icon alone and
// offers its title as the tooltip.
class SidebarModel final : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { SectionRole = Qt::UserRole + 1, CollapsedRole };

    explicit SidebarModel(QObject *parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex &index) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] bool isCollapsed() const { return m_collapsed; }
    void setCollapsed(bool collapsed);

    [[nodiscard]] QModelIndex indexOf(DeskSection section) const;
    [[nodiscard]] static std::optional<DeskSection> sectionAt(const QModelIndex &index);

private:
    QList<DeskSection> m_sections;
    bool m_collapsed = false;
};

// Draws a sidebar row: icon and title, or the icon alone centred across the row when collapsed, on a rounded
// selection.
class SidebarDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static constexpr int rowHeight = 32;
    static constexpr int iconSize = 18;
};

} // namespace tallybrook::ui
