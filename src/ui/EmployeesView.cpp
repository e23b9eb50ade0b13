#include "ui/EmployeesView.h"

#include "notify/Webhook.h"
#include "ui/BusyIndicator.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/SheetParts.h"
#include "ui/Style.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcorotask.h>

#include <algorithm>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int hasWebhookRole = Qt::UserRole + 1;

bool hasPersonalWebhook(const NotificationSettings &alerts, const QString &name) {
    return !alerts.employeeWebhooks.value(name).isEmpty();
}

// The name, and the bell at the trailing end for an employee with a webhook of their own.
class EmployeeDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(hasWebhookRole).toBool()) {
            return;
        }
        const int side = 16;
        const QColor color = option.state & QStyle::State_Selected
                                 ? option.palette.color(QPalette::HighlightedText)
                                 : secondaryTextColor(option.palette);
        const QPixmap bell =
            tintedSymbol(u"bell", QSize(side, side), color, painter->device()->devicePixelRatioF());
        const QRect place(option.rect.right() - side - 10, option.rect.center().y() - side / 2, side, side);
        painter->drawPixmap(place, bell);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(size.height(), 28));
        return size;
    }
};

} // namespace

EmployeeSheet::EmployeeSheet(Environment environment, std::optional<QString> original, QWidget *parent)
    : QDialog(parent), m_environment(environment), m_original(std::move(original)) {
    setObjectName(u"employeeSheet"_s);
    setWindowFlag(Qt::Sheet);
    setWindowModality(Qt::WindowModal);
    const QString heading = m_original ? u"Edit Employee"_s : u"Add Employee"_s;
    setWindowTitle(heading);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    addSheetHeading(layout, heading, this);

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setSpacing(10);
    m_name = new QLineEdit(m_original.value_or(QString()), this);
    m_name->setObjectName(u"employeeNameField"_s);
    m_name->setAccessibleName(u"Name"_s);
    form->addRow(u"Name"_s, m_name);
    const QString webhook =
        m_original ? m_environment.model.notifications().employeeWebhooks.value(*m_original) : QString();
    m_webhook = new QLineEdit(webhook, this);
    m_webhook->setObjectName(u"employeeWebhookField"_s);
    m_webhook->setAccessibleName(u"Personal webhook (optional)"_s);
    m_webhook->setPlaceholderText(u"https://"_s);
    form->addRow(u"Personal webhook (optional)"_s, m_webhook);
    m_webhookProblem = new QLabel(u"Webhook addresses start with https://"_s, this);
    m_webhookProblem->setObjectName(u"webhookProblem"_s);
    setTextStyle(m_webhookProblem, TextStyle::Caption);
    setTextColor(m_webhookProblem, errorTextColor(palette()));
    form->addRow(QString(), m_webhookProblem);
    layout->addLayout(form);

    m_messageLabel = addSheetMessage(layout, this);
    const SheetButtons buttons = addSheetButtons(layout, this, u"Save"_s, u"saveButton"_s);
    m_busy = buttons.busy;
    m_saveButton = buttons.primary;
    connect(m_saveButton, &QPushButton::clicked, this, &EmployeeSheet::save);

    connect(m_name, &QLineEdit::textChanged, this, &EmployeeSheet::syncControls);
    connect(m_webhook, &QLineEdit::textChanged, this, &EmployeeSheet::syncControls);
    syncControls();
    // Once the layout exists, so that it keeps the width and sets only the height.
    setFixedWidth(420);
}

bool EmployeeSheet::canSave() const {
    const QString webhook = m_webhook->text();
    const bool webhookAcceptable = webhook.trimmed().isEmpty() || validatedWebhookURL(webhook).has_value();
    return !m_isSaving && !m_name->text().trimmed().isEmpty() && webhookAcceptable;
}

void EmployeeSheet::syncControls() {
    const QString webhook = m_webhook->text();
    m_webhookProblem->setVisible(!webhook.trimmed().isEmpty() && !validatedWebhookURL(webhook));
    m_busy->setVisible(m_isSaving);
    m_saveButton->setEnabled(canSave());
}

void EmployeeSheet::save() {
    if (!canSave()) {
        return;
    }
    m_isSaving = true;
    setMessage(std::nullopt);
    syncControls();
    // Passed as typed: the model trims them.
    QCoro::connect(failureOf(m_environment.model.saveEmployee(m_original, m_name->text(), m_webhook->text())),
                   this, [this](const std::optional<QString> &error) {
                       m_isSaving = false;
                       syncControls();
                       if (error) {
                           setMessage(error);
                       } else {
                           accept();
                       }
                   });
}

void EmployeeSheet::setMessage(const std::optional<QString> &message) {
    m_message = message;
    setSheetMessage(m_messageLabel, message);
}

EmployeesView::EmployeesView(Environment environment, QWidget *parent)
    : DeskScreen(parent), m_environment(environment), m_problem(this) {
    setObjectName(u"employeesView"_s);

    m_toolbarItems = new QWidget;
    m_toolbarItems->setObjectName(u"employeesToolbar"_s);
    auto *tools = new QHBoxLayout(m_toolbarItems);
    tools->setContentsMargins(0, 0, 0, 0);
    tools->setSpacing(2);
    QToolButton *add = toolbarButton(u"Add Employee"_s, u"plus", u"Add an employee"_s, m_toolbarItems,
                                     Qt::ToolButtonIconOnly);
    add->setObjectName(u"addEmployeeButton"_s);
    connect(add, &QToolButton::clicked, this, [this] { openSheet(std::nullopt); });
    m_editButton =
        toolbarButton(u"Edit"_s, u"pencil", u"Edit the employee"_s, m_toolbarItems, Qt::ToolButtonIconOnly);
    m_editButton->setObjectName(u"editEmployeeButton"_s);
    connect(m_editButton, &QToolButton::clicked, this, [this] {
        if (const std::optional<QString> name = selection()) {
            openSheet(*name);
        }
    });
    m_removeButton = toolbarButton(u"Remove"_s, u"minus", u"Remove the employee"_s, m_toolbarItems,
                                   Qt::ToolButtonIconOnly);
    m_removeButton->setObjectName(u"removeEmployeeButton"_s);
    connect(m_removeButton, &QToolButton::clicked, this, [this] {
        if (const std::optional<QString> name = selection()) {
            remove(*name);
        }
    });
    for (QToolButton *button : {add, m_editButton, m_removeButton}) {
        tools->addWidget(button);
    }

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_hint = new QWidget(this);
    m_hint->setObjectName(u"employeeListHint"_s);
    m_hint->setAutoFillBackground(true);
    QPalette hintPalette = m_hint->palette();
    QColor fill = hintPalette.color(QPalette::Text);
    fill.setAlphaF(0.05); // the quaternary fill at half strength
    hintPalette.setColor(QPalette::Window, fill);
    m_hint->setPalette(hintPalette);
    auto *hintRow = new QHBoxLayout(m_hint);
    hintRow->setContentsMargins(10, 10, 10, 10);
    hintRow->setSpacing(8);
    auto *hintIcon = new QLabel(m_hint);
    const int side = QFontMetrics(ui::font(TextStyle::Callout)).height();
    hintIcon->setPixmap(
        tintedSymbol(u"info.circle", QSize(side, side), textColor(this), devicePixelRatioF()));
    hintRow->addWidget(hintIcon, 0, Qt::AlignTop);
    auto *hintText = new QLabel(
        u"No sign-in field shows this list yet. Turn on Employee List for a field in Settings > Form."_s,
        m_hint);
    hintText->setWordWrap(true);
    setTextStyle(hintText, TextStyle::Callout);
    hintRow->addWidget(hintText, 1);
    layout->addWidget(m_hint);

    m_stack = new QStackedLayout;
    m_list = new QListWidget(this);
    m_list->setObjectName(u"employeeList"_s);
    m_list->setAccessibleName(u"Employees"_s);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setItemDelegate(new EmployeeDelegate(m_list));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->installEventFilter(this);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &EmployeesView::syncToolbar);
    connect(m_list, &QListWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QListWidgetItem *item = m_list->itemAt(at);
        if (!item) {
            return;
        }
        const QString name = item->text();
        QMenu menu(this);
        menu.addAction(u"Edit\u2026"_s, this, [this, name] { openSheet(name); });
        menu.addAction(u"Remove"_s, this, [this, name] { remove(name); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
    m_stack->addWidget(m_list);
    m_empty = new EmptyState(u"person.crop.rectangle.stack", u"No employees yet"_s,
                             u"Add the people visitors come to see."_s, this);
    QPushButton *emptyAdd = m_empty->addButton(u"Add Employee"_s);
    emptyAdd->setObjectName(u"emptyAddEmployeeButton"_s);
    connect(emptyAdd, &QPushButton::clicked, this, [this] { openSheet(std::nullopt); });
    m_stack->addWidget(m_empty);
    auto *listMargins = new QVBoxLayout;
    listMargins->setContentsMargins(12, 6, 12, 6);
    listMargins->addLayout(m_stack);
    layout->addLayout(listMargins, 1);

    connect(&m_environment.model, &AppModel::settingsChanged, this, &EmployeesView::rebuild);
    connect(&m_environment.model, &AppModel::notificationsChanged, this, &EmployeesView::rebuild);
    rebuild();
}

EmployeesView::~EmployeesView() {
    delete m_toolbarItems;
}

QString EmployeesView::title() const {
    return u"Employees"_s;
}

std::optional<QString> EmployeesView::selection() const {
    const QList<QListWidgetItem *> chosen = m_list->selectedItems();
    return chosen.isEmpty() ? std::nullopt : std::optional(chosen.constFirst()->text());
}

void EmployeesView::select(const QString &name) {
    const QList<QListWidgetItem *> found = m_list->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty()) {
        m_list->setCurrentItem(found.constFirst());
    }
}

void EmployeesView::rebuild() {
    const KioskSettings &settings = m_environment.model.settings();
    const NotificationSettings &alerts = m_environment.model.notifications();
    const std::optional<QString> selected = selection();
    {
        const QSignalBlocker quiet(m_list);
        m_list->clear();
        for (const QString &name : settings.employees) {
            auto *item = new QListWidgetItem(name, m_list);
            if (hasPersonalWebhook(alerts, name)) {
                item->setData(hasWebhookRole, true);
                item->setToolTip(u"Has a personal webhook"_s);
                item->setData(Qt::AccessibleDescriptionRole, u"Has a personal webhook"_s);
            }
            if (selected == name) {
                m_list->setCurrentItem(item);
            }
        }
    }
    const bool listShown = std::any_of(settings.fields.begin(), settings.fields.end(),
                                       [](const KioskField &field) { return field.employeeList; });
    m_hint->setVisible(!settings.employees.isEmpty() && !listShown);
    m_stack->setCurrentWidget(settings.employees.isEmpty() ? static_cast<QWidget *>(m_empty) : m_list);
    syncToolbar();
}

void EmployeesView::syncToolbar() {
    const bool chosen = selection().has_value();
    m_editButton->setEnabled(chosen);
    m_removeButton->setEnabled(chosen);
}

bool EmployeesView::eventFilter(QObject *watched, QEvent *event) {
    // Return opens the selected employee; without a selection the key goes on as usual.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && selection()) {
            openSheet(selection());
            return true;
        }
    }
    return DeskScreen::eventFilter(watched, event);
}

void EmployeesView::openSheet(const std::optional<QString> &original) {
    if (m_sheet) {
        return;
    }
    auto *sheet = new EmployeeSheet(m_environment, original, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet = sheet;
    sheet->open();
}

void EmployeesView::remove(const QString &name) {
    QCoro::connect(failureOf(m_environment.model.saveEmployee(name, std::nullopt, QString())), this,
                   [this](const std::optional<QString> &error) {
                       if (error) {
                           m_problem.show(*error);
                       } else {
                           m_list->clearSelection();
                           m_list->setCurrentItem(nullptr);
                           syncToolbar();
                       }
                   });
}

} // namespace tallybrook::ui
