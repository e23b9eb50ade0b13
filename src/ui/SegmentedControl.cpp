#include "ui/SegmentedControl.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

SegmentedControl::SegmentedControl(const QStringList &titles, QWidget *parent)
    : QWidget(parent), m_group(new QButtonGroup(this)) {
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (qsizetype i = 0; i < titles.size(); ++i) {
        auto *segment = new QToolButton(this);
        segment->setText(titles.at(i));
        segment->setAccessibleName(titles.at(i));
        segment->setCheckable(true);
        segment->setChecked(i == 0);
        segment->setToolButtonStyle(Qt::ToolButtonTextOnly);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setFocusPolicy(Qt::StrongFocus);
        segment->setProperty("segmentPosition", i == 0                   ? u"first"_s
                                                : i == titles.size() - 1 ? u"last"_s
                                                                         : u"middle"_s);
        m_group->addButton(segment, int(i));
        m_segments.append(segment);
        layout->addWidget(segment);
    }
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked && id != m_current) {
            m_current = id;
            Q_EMIT currentIndexChanged(id);
        }
    });
    applyLook();
}

void SegmentedControl::setCurrentIndex(int index) {
    if (index >= 0 && index < m_segments.size()) {
        m_segments.at(index)->setChecked(true);
    }
}

QToolButton *SegmentedControl::segment(int index) const {
    return m_segments.value(index);
}

void SegmentedControl::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        applyLook();
    }
}

void SegmentedControl::applyLook() {
    const QPalette &colors = palette();
    const QString border = colors.color(QPalette::Mid).name();
    const QString base = colors.color(QPalette::Button).name();
    const QString chosen = colors.color(QPalette::Base).name();
    const QString text = colors.color(QPalette::ButtonText).name();
    const QString sheet =
        uR"(QToolButton { border: 1px solid %1; background: %2; color: %4; padding: 4px 12px; margin: 0; }
QToolButton:checked { background: %3; font-weight: 600; }
QToolButton[segmentPosition="first"] { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }
QToolButton[segmentPosition="last"] { border-top-right-radius: 6px; border-bottom-right-radius: 6px; border-left: none; }
QToolButton[segmentPosition="middle"] { border-left: none; })"_s.arg(border, base, chosen, text);
    // Only this control's buttons: the look must not leak into anything placed inside it later.
    for (QToolButton *segment : std::as_const(m_segments)) {
        segment->setStyleSheet(sheet);
    }
}

} // namespace tallybrook::ui
