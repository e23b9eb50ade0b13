#include "ui/InvitesView.h"

#include "cloud/CloudClient.h"
#include "records/DateStyles.h"
#include "ui/Commands.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/InviteCodeSheet.h"
#include "ui/MessageBox.h"
#include "ui/Style.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcorotask.h>

namespace tallybrook::ui {

using namespace Qt::StringLiterals;

namespace {

struct LoadOutcome {
    std::optional<QList<Invite>> invites;
    QString error;
};

QCoro::Task<LoadOutcome> loadInvites(CloudClient &cloud, std::shared_ptr<RequestScope> scope) {
    try {
        QList<Invite> invites = co_await cloud.loadInvites(false, InvitesView::listLimit, std::move(scope));
        co_return LoadOutcome{std::move(invites), {}};
    } catch (const std::exception &error) {
        co_return LoadOutcome{std::nullopt, errorMessage(error)};
    }
}

QLabel *plainLabel(const QString &text, TextStyle style, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    // Names and addresses come from the network: never markup.
    label->setTextFormat(Qt::PlainText);
    setTextStyle(label, style, style == TextStyle::Headline ? QFont::DemiBold : QFont::Normal);
    if (style != TextStyle::Headline) {
        setTextColor(label, secondaryTextColor(label->palette()));
    }
    return label;
}

} // namespace

InviteRow::InviteRow(const Invite &invite, const QDateTime &now, bool divider, QWidget *parent)
    : QWidget(parent), m_invite(invite), m_divider(divider) {
    setObjectName(u"inviteRow"_s);
    setAccessibleName(invite.visitorName);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->setSpacing(10);

    auto *text = new QVBoxLayout;
    text->setSpacing(2);
    QLabel *name = plainLabel(invite.visitorName, TextStyle::Headline, this);
    name->setObjectName(u"guestName"_s);
    text->addWidget(name);
    QLabel *detail = plainLabel(detailLine(invite), TextStyle::Callout, this);
    detail->setObjectName(u"inviteDetail"_s);
    text->addWidget(detail);
    layout->addLayout(text, 1);

    QLabel *status = plainLabel(statusText(invite, now), TextStyle::Callout, this);
    status->setObjectName(u"inviteStatus"_s);
    layout->addWidget(status);

    if (invite.status(now).kind == InviteStatus::Kind::Waiting) {
        auto *signIn = new QPushButton(u"Sign In"_s, this);
        signIn->setObjectName(u"signInInviteButton"_s);
        signIn->setAccessibleName(u"Sign In"_s);
        // Every waiting row has one: the description says whose it is.
        signIn->setAccessibleDescription(u"Sign in "_s + invite.visitorName);
        signIn->setAutoDefault(false);
        connect(signIn, &QPushButton::clicked, this, [this] { Q_EMIT signInRequested(m_invite); });
        layout->addWidget(signIn);
    }

    auto *more = new QToolButton(this);
    more->setObjectName(u"inviteMenuButton"_s);
    static const QIcon ellipsis = symbol(u"ellipsis.circle");
    more->setIcon(ellipsis);
    more->setIconSize(QSize(18, 18));
    more->setAutoRaise(true);
    more->setFocusPolicy(Qt::StrongFocus);
    more->setText(u"More"_s);
    more->setAccessibleName(u"More"_s);
    more->setAccessibleDescription(u"What to do with the invite for "_s + invite.visitorName);
    more->setToolTip(u"More"_s);
    auto *menu = new QMenu(more);
    menu->setObjectName(u"inviteMenu"_s);
    menu->addAction(u"Show QR Code"_s, this, [this] { Q_EMIT showCodeRequested(m_invite); });
    menu->addAction(u"Copy Link"_s, this, [this] { Q_EMIT copyLinkRequested(m_invite); });
    if (!invite.usedAt) {
        menu->addAction(u"Send Invite Again"_s, this, [this] { Q_EMIT resendRequested(m_invite); });
        menu->addSeparator();
        QAction *cancel =
            menu->addAction(u"Cancel Invite\u2026"_s, this, [this] { Q_EMIT cancelRequested(m_invite); });
        cancel->setObjectName(u"cancelInviteAction"_s);
    }
    setPressMenu(more, menu);
    layout->addWidget(more);
}

QString InviteRow::statusText(const Invite &invite, const QDateTime &now, const QLocale &locale) {
    const InviteStatus status = invite.status(now);
    switch (status.kind) {
    case InviteStatus::Kind::SignedIn:
        return status.signedInAt ? u"Signed in "_s + abbreviatedDateTime(*status.signedInAt, locale)
                                 : u"Signed in"_s;
    case InviteStatus::Kind::Expired:
        return u"Expired"_s;
    case InviteStatus::Kind::Waiting:
        break;
    }
    return u"Waiting"_s;
}

QString InviteRow::detailLine(const Invite &invite, const QLocale &locale) {
    return invite.visitorEmail + u" \u00B7 "_s + invite.visitDescription(locale).value_or(u"Any day"_s);
}

void InviteRow::paintEvent(QPaintEvent *) {
    if (m_divider) {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Midlight));
        painter.drawLine(0, height() - 1, width(), height() - 1);
    }
}

InvitesView::InvitesView(Environment environment, SignIn signIn, QWidget *parent)
    : DeskScreen(parent), m_environment(environment), m_signIn(std::move(signIn)),
      m_notice(this, u"Invites"_s) {
    setObjectName(u"invitesView"_s);

    m_toolbarItems = new QWidget;
    m_toolbarItems->setObjectName(u"invitesToolbar"_s);
    auto *tools = new QHBoxLayout(m_toolbarItems);
    tools->setContentsMargins(0, 0, 0, 0);
    QToolButton *newInvite = toolbarButton(
        u"New Invite"_s, u"plus", withShortcut(u"Invite a visitor"_s, newInviteShortcut()), m_toolbarItems);
    newInvite->setObjectName(u"newInviteButton"_s);
    connect(newInvite, &QToolButton::clicked, this, [this] { m_environment.model.setInviting(true); });
    tools->addWidget(newInvite);

    m_stack = new QStackedLayout(this);
    m_list = new QScrollArea(this);
    m_list->setObjectName(u"inviteList"_s);
    m_list->setAccessibleName(u"Invites"_s);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setWidgetResizable(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *content = new QWidget(m_list);
    content->setBackgroundRole(QPalette::Base);
    auto *outer = new QVBoxLayout(content);
    outer->setContentsMargins(20, 4, 20, 12);
    outer->setSpacing(0);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(0);
    outer->addLayout(m_rows);
    outer->addStretch(1);
    m_list->setWidget(content);
    m_stack->addWidget(m_list);

    m_empty = new EmptyState(u"envelope", u"No invites yet"_s,
                             u"Invite a visitor and their details will be ready when they arrive."_s, this);
    QPushButton *emptyNewInvite = m_empty->addButton(u"New Invite"_s);
    emptyNewInvite->setObjectName(u"emptyNewInviteButton"_s);
    connect(emptyNewInvite, &QPushButton::clicked, this, [this] { m_environment.model.setInviting(true); });
    m_stack->addWidget(m_empty);

    // The list follows the new-invite sheet: reloaded when it closes, left alone while it is open.
    connect(&m_environment.model, &AppModel::isInvitingChanged, this, &InvitesView::reload);
    // A guest signed in from their invite turns their row "Signed in".
    connect(&m_environment.model, &AppModel::visitorRevisionChanged, this, &InvitesView::reload);
    reload();
}

InvitesView::~InvitesView() {
    if (m_loadScope) {
        m_loadScope->abort();
    }
    delete m_toolbarItems;
}

QString InvitesView::title() const {
    return u"Invites"_s;
}

void InvitesView::reload() {
    if (m_environment.model.isInviting()) {
        return;
    }
    // A newer load replaces one still on its way.
    if (m_loadScope) {
        m_loadScope->abort();
    }
    const quint64 generation = ++m_generation;
    m_loadScope = m_environment.model.requestScope()->child();
    QCoro::connect(loadInvites(m_environment.cloud(), m_loadScope), this,
                   [this, generation](const LoadOutcome &outcome) {
                       if (generation != m_generation) {
                           return;
                       }
                       m_loadScope.reset();
                       if (outcome.invites) {
                           m_invites = *outcome.invites;
                       } else {
                           m_notice.show(outcome.error); // the list stays as it was
                       }
                       m_isLoading = false;
                       rebuildRows();
                   });
}

void InvitesView::rebuildRows() {
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < m_invites.size(); ++i) {
        auto *row = new InviteRow(m_invites[i], now, i + 1 < m_invites.size(), m_list->widget());
        connect(row, &InviteRow::signInRequested, this, [this](const Invite &invite) {
            if (m_signIn) {
                m_signIn(invite);
            }
        });
        connect(row, &InviteRow::showCodeRequested, this, &InvitesView::showCode);
        connect(row, &InviteRow::copyLinkRequested, this, &InvitesView::copyLink);
        connect(row, &InviteRow::resendRequested, this, &InvitesView::resend);
        connect(row, &InviteRow::cancelRequested, this, &InvitesView::askToCancel);
        m_rows->addWidget(row);
    }
    // While the first load runs the (empty) list shows, not "No invites yet".
    m_stack->setCurrentWidget(m_invites.isEmpty() && !m_isLoading ? static_cast<QWidget *>(m_empty) : m_list);
}

void InvitesView::showCode(const Invite &invite) {
    if (m_codeSheet) {
        return;
    }
    auto *sheet = new InviteCodeSheet(invite, m_environment.cloud().inviteLink(invite.token), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_codeSheet = sheet;
    sheet->open();
}

void InvitesView::copyLink(const Invite &invite) {
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_environment.cloud().inviteLink(invite.token).toString(QUrl::FullyEncoded));
}

void InvitesView::resend(const Invite &invite) {
    QCoro::connect(
        failureOf(m_environment.cloud().resendInvite(invite.id, m_environment.model.requestScope())), this,
        [this, email = invite.visitorEmail](const std::optional<QString> &error) {
            m_notice.show(error.value_or(u"Sent again to "_s + email + u'.'));
        });
}

void InvitesView::askToCancel(const Invite &invite) {
    MessageBox::Alert alert{
        u"Cancel the invite for "_s + invite.visitorName + u'?',
        QString(),
        {{u"Cancel Invite"_s, QMessageBox::DestructiveRole}, {u"Keep Invite"_s, QMessageBox::RejectRole}}};
    // Return keeps the invite: cancelling one takes a deliberate choice.
    alert.defaultButton = 1;
    MessageBox::show(this, alert, [this, invite](int button) {
        if (button == 0) {
            cancelInvite(invite);
        }
    });
}

void InvitesView::cancelInvite(const Invite &invite) {
    QCoro::connect(
        failureOf(m_environment.cloud().deleteInvite(invite.id, m_environment.model.requestScope())), this,
        [this, id = invite.id](const std::optional<QString> &error) {
            if (error) {
                m_notice.show(*error);
                return;
            }
            m_invites.removeIf([&](const Invite &each) { return each.id == id; });
            rebuildRows();
        });
}

} // namespace tallybrook::ui
