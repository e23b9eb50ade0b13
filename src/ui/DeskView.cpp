#include "ui/DeskView.h"

#include "ui/Commands.h"
#include "ui/DeskScreen.h"
#include "ui/EmployeesView.h"
#include "ui/ErrorBanner.h"
#include "ui/Icons.h"
#include "ui/InvitesView.h"
#include "ui/NewInviteSheet.h"
#include "ui/RollCallSheet.h"
#include "ui/ScannerCheckIn.h"
#include "ui/SidebarModel.h"
#include "ui/SignInSheet.h"
#include "ui/Style.h"
#include "ui/TodayView.h"
#include "ui/VisitorsView.h"

#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QSettings>
#include <QToolButton>
#include <QVBoxLayout>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

QFrame *separator(QFrame::Shape shape, QWidget *parent) {
    auto *line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Midlight);
    return line;
}

} // namespace

DeskView::DeskView(Environment environment, QWidget *parent)
    : QWidget(parent), m_environment(environment), m_sidebarModel(new SidebarModel(this)) {
    setObjectName(u"deskView"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeToolbar());
    layout->addWidget(separator(QFrame::HLine, this));

    auto *columns = new QHBoxLayout;
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(makeSidebar());
    columns->addWidget(separator(QFrame::VLine, this));
    m_detail = new QWidget(this);
    m_detail->setObjectName(u"deskDetail"_s);
    m_detail->setBackgroundRole(QPalette::Base);
    m_detail->setAutoFillBackground(true);
    auto *detailLayout = new QVBoxLayout(m_detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    columns->addWidget(m_detail, 1);
    layout->addLayout(columns, 1);

    m_errorBanner = new ErrorBanner(this);
    layout->addWidget(m_errorBanner);

    AppModel &model = m_environment.model;
    connect(&model, &AppModel::errorChanged, this, &DeskView::syncErrorBanner);
    connect(&model, &AppModel::isSigningInChanged, this, &DeskView::syncSignInSheet);
    connect(&model, &AppModel::isInvitingChanged, this, &DeskView::syncNewInviteSheet);

    m_scanner =
        new ScannerCheckIn(m_environment, this, [this](const Invite &invite) { signInFromInvite(invite); });

    syncSidebar();
    syncErrorBanner();
    showScreen(shownSection());
    m_sidebarList->setCurrentIndex(m_sidebarModel->indexOf(DeskSection::Today));
    // A flag raised before the desk existed opens its sheet once the desk is in its window.
    QMetaObject::invokeMethod(
        this,
        [this] {
            syncSignInSheet();
            syncNewInviteSheet();
        },
        Qt::QueuedConnection);
}

DeskView::~DeskView() {
    // The sheets go with the desk: their flags must not reopen them on the next desk.
    if (m_signInSheet) {
        m_environment.model.setSigningIn(false);
    }
    if (m_newInviteSheet) {
        m_environment.model.setInviting(false);
    }
}

QWidget *DeskView::makeToolbar() {
    auto *toolbar = new QWidget(this);
    toolbar->setObjectName(u"deskToolbar"_s);
    auto *row = new QHBoxLayout(toolbar);
    row->setContentsMargins(0, 6, 12, 6);
    row->setSpacing(8);

    m_toolbarLeading = new QWidget(toolbar);
    auto *leading = new QHBoxLayout(m_toolbarLeading);
    leading->setContentsMargins(8, 0, 8, 0);
    leading->addStretch(1);
    m_collapseButton = new QToolButton(m_toolbarLeading);
    m_collapseButton->setObjectName(u"collapseSidebarButton"_s);
    m_collapseButton->setIcon(symbol(u"sidebar.left"));
    m_collapseButton->setIconSize(QSize(18, 18));
    m_collapseButton->setAutoRaise(true);
    m_collapseButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(m_collapseButton, &QToolButton::clicked, this,
            [this] { setSidebarCollapsed(!isSidebarCollapsed()); });
    leading->addWidget(m_collapseButton);
    row->addWidget(m_toolbarLeading);

    auto *heading = new QVBoxLayout;
    heading->setSpacing(0);
    m_title = new QLabel(toolbar);
    m_title->setObjectName(u"deskTitle"_s);
    setTextStyle(m_title, TextStyle::Title3, QFont::DemiBold);
    heading->addWidget(m_title);
    m_subtitle = new QLabel(toolbar);
    m_subtitle->setObjectName(u"deskSubtitle"_s);
    // A screen's subtitle may name the account's place, which comes from the network.
    m_subtitle->setTextFormat(Qt::PlainText);
    setTextStyle(m_subtitle, TextStyle::Caption);
    setTextColor(m_subtitle, secondaryTextColor(palette()));
    heading->addWidget(m_subtitle);
    row->addSpacing(8);
    row->addLayout(heading);
    row->addStretch(1);

    m_screenTools = new QHBoxLayout;
    m_screenTools->setContentsMargins(0, 0, 0, 0);
    m_screenTools->setSpacing(8);
    row->addLayout(m_screenTools);

    m_signInButton = toolbarButton(u"Sign In Visitor"_s, u"person.badge.plus",
                                   withShortcut(u"Sign in a visitor"_s, signInVisitorShortcut()), toolbar);
    m_signInButton->setObjectName(u"signInVisitorButton"_s);
    connect(m_signInButton, &QToolButton::clicked, this, [this] { m_environment.model.setSigningIn(true); });
    row->addWidget(m_signInButton);
    return toolbar;
}

QWidget *DeskView::makeSidebar() {
    m_sidebar = new QWidget(this);
    m_sidebar->setObjectName(u"sidebar"_s);
    auto *layout = new QVBoxLayout(m_sidebar);
    layout->setContentsMargins(0, 8, 0, 8);
    m_sidebarList = new QListView(m_sidebar);
    m_sidebarList->setObjectName(u"sidebarList"_s);
    m_sidebarList->setAccessibleName(u"Sections"_s);
    m_sidebarList->setModel(m_sidebarModel);
    m_sidebarList->setItemDelegate(new SidebarDelegate(m_sidebarList));
    m_sidebarList->setFrameShape(QFrame::NoFrame);
    m_sidebarList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebarList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_sidebarList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_sidebarList->setUniformItemSizes(true);
    m_sidebarList->setMouseTracking(true);
    m_sidebarList->setBackgroundRole(QPalette::Window);
    m_sidebarList->viewport()->setBackgroundRole(QPalette::Window);
    m_sidebarList->viewport()->installEventFilter(this);
    layout->addWidget(m_sidebarList);

    m_sidebarList->selectionModel()->select(m_sidebarModel->indexOf(DeskSection::Today),
                                            QItemSelectionModel::ClearAndSelect);
    connect(m_sidebarList->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList chosen = m_sidebarList->selectionModel()->selectedIndexes();
        setSection(chosen.isEmpty() ? std::nullopt : SidebarModel::sectionAt(chosen.constFirst()));
    });
    return m_sidebar;
}

bool DeskView::eventFilter(QObject *watched, QEvent *event) {
    // A click on the sidebar's empty space deselects, as in a source list; the desk then shows Today.
    if (watched == m_sidebarList->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (!m_sidebarList->indexAt(press->position().toPoint()).isValid()) {
            m_sidebarList->clearSelection();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DeskView::setSection(std::optional<DeskSection> section) {
    if (m_section == section) {
        return;
    }
    const DeskSection before = shownSection();
    m_section = section;
    QItemSelectionModel *selection = m_sidebarList->selectionModel();
    const QModelIndex row = section ? m_sidebarModel->indexOf(*section) : QModelIndex();
    if (row.isValid() && !selection->isSelected(row)) {
        selection->select(row, QItemSelectionModel::ClearAndSelect);
    } else if (!row.isValid() && selection->hasSelection()) {
        selection->clearSelection();
    }
    if (shownSection() != before) {
        showScreen(shownSection());
    }
    Q_EMIT sectionChanged();
}

void DeskView::showScreen(DeskSection section) {
    if (m_screen) {
        // The screen may be the one whose signal led here: let it return first.
        m_screen->hide();
        if (QWidget *tools = m_screen->toolbarItems()) {
            tools->hide();
        }
        m_screen->deleteLater();
    }
    m_screen = makeScreen(section);
    m_detail->layout()->addWidget(m_screen);
    if (QWidget *tools = m_screen->toolbarItems()) {
        m_screenTools->addWidget(tools);
        tools->show();
    }
    connect(m_screen, &DeskScreen::headingChanged, this, &DeskView::syncHeading);
    m_screen->show();
    syncHeading();
}

DeskScreen *DeskView::makeScreen(DeskSection section) {
    switch (section) {
    case DeskSection::Today:
        return new TodayView(m_environment, m_detail);
    case DeskSection::Visitors:
        return new VisitorsView(m_environment, m_detail);
    case DeskSection::Employees:
        return new EmployeesView(m_environment, m_detail);
    case DeskSection::Invites:
        return new InvitesView(
            m_environment, [this](const Invite &invite) { signInFromInvite(invite); }, m_detail);
    }
    Q_UNREACHABLE();
    return nullptr;
}

QDialog *DeskView::makeSignInSheet(const std::optional<Invite> &invite) {
    return new SignInSheet(m_environment, invite, this);
}

QDialog *DeskView::makeNewInviteSheet() {
    return new NewInviteSheet(m_environment, this);
}

void DeskView::syncHeading() {
    if (!m_screen) {
        return;
    }
    m_title->setText(m_screen->title());
    const QString subtitle = m_screen->subtitle();
    m_subtitle->setText(subtitle);
    m_subtitle->setVisible(!subtitle.isEmpty());
}

bool DeskView::isSidebarCollapsed() const {
    return m_environment.defaults.value(sidebarIsCollapsedKey, false).toBool();
}

void DeskView::setSidebarCollapsed(bool collapsed) {
    if (collapsed != isSidebarCollapsed()) {
        m_environment.defaults.setValue(sidebarIsCollapsedKey, collapsed);
    }
    syncSidebar();
}

int DeskView::sidebarWidth() const {
    return isSidebarCollapsed() ? collapsedSidebarWidth : expandedSidebarWidth;
}

void DeskView::syncSidebar() {
    const bool collapsed = isSidebarCollapsed();
    m_sidebarModel->setCollapsed(collapsed);
    // Minimum and maximum are the same: no layout and no hand can make the sidebar another width.
    m_sidebar->setFixedWidth(sidebarWidth());
    m_toolbarLeading->setFixedWidth(sidebarWidth());
    const QString label = collapsed ? u"Expand Sidebar"_s : u"Collapse Sidebar"_s;
    m_collapseButton->setText(label);
    m_collapseButton->setAccessibleName(label);
    m_collapseButton->setToolTip(collapsed ? u"Expand the sidebar"_s : u"Collapse the sidebar to icons"_s);
    m_sidebarList->viewport()->update();
}

void DeskView::syncErrorBanner() {
    const std::optional<QString> &error = m_environment.model.error();
    m_errorBanner->setMessage(error.value_or(QString()));
    m_errorBanner->setVisible(error.has_value());
}

void DeskView::syncSignInSheet() {
    AppModel &model = m_environment.model;
    if (model.isSigningIn() && !m_signInSheet) {
        QDialog *sheet = makeSignInSheet(std::nullopt);
        sheet->setObjectName(u"signInVisitorSheet"_s);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        m_signInSheet = sheet;
        connect(sheet, &QDialog::finished, this, [this, sheet] {
            if (m_signInSheet == sheet) {
                m_signInSheet = nullptr;
                m_environment.model.setSigningIn(false);
            }
        });
        sheet->open();
    } else if (!model.isSigningIn() && m_signInSheet) {
        QDialog *sheet = m_signInSheet;
        m_signInSheet = nullptr;
        sheet->reject();
    }
}

void DeskView::signInFromInvite(const Invite &invite) {
    if (m_inviteSignInSheet) {
        return; // one guest at a time, as one sheet at a time
    }
    m_signingInInvite = invite;
    QDialog *sheet = makeSignInSheet(invite);
    sheet->setObjectName(u"inviteSignInSheet"_s);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_inviteSignInSheet = sheet;
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (m_inviteSignInSheet == sheet) {
            m_inviteSignInSheet = nullptr;
            m_signingInInvite.reset();
        }
    });
    sheet->open();
}

void DeskView::showRollCall() {
    if (m_rollCallSheet) {
        return; // already open over the desk
    }
    auto *sheet = new RollCallSheet(m_environment, this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_rollCallSheet = sheet;
    sheet->open();
}

void DeskView::syncNewInviteSheet() {
    AppModel &model = m_environment.model;
    if (model.isInviting() && !m_newInviteSheet) {
        QDialog *sheet = makeNewInviteSheet();
        sheet->setObjectName(u"newInviteSheet"_s);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        m_newInviteSheet = sheet;
        connect(sheet, &QDialog::finished, this, [this, sheet] {
            if (m_newInviteSheet == sheet) {
                m_newInviteSheet = nullptr;
                m_environment.model.setInviting(false);
            }
        });
        sheet->open();
    } else if (!model.isInviting() && m_newInviteSheet) {
        QDialog *sheet = m_newInviteSheet;
        m_newInviteSheet = nullptr;
        sheet->reject();
    }
}

} // namespace tallybrook::ui
