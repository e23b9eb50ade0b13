#pragma once

#include "records/InviteRecords.h"
#include "ui/DeskActions.h"
#include "ui/DeskScreen.h"
#include "ui/Environment.h"

#include <QDateTime>
#include <QList>
#include <QPointer>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace tallybrook {
class RequestScope;
}

namespace tallybrook::ui {

class EmptyState;

// One invite in the list: the guest, the address and day, where the invite stands, "Sign In" while it waits,
// and a menu of what can be done with it.
class InviteRow final : public QWidget {
    Q_OBJECT

public:
    InviteRow(const Invite &invite, const QDateTime &now, bool divider, QWidget *parent = nullptr);

    [[nodiscard]] const Invite &invite() const { return m_invite; }
    // "Signed in Mar 4, 2025, 2:05 PM", "Signed in", "Expired" or "Waiting".
    [[nodiscard]] static QString statusText(const Invite &invite, const QDateTime &now,
                                            const QLocale &locale = QLocale());
    // "guest@example.com · Tuesday, March 4 at 2:30 PM", or "… · Any day".
    [[nodiscard]] static QString detailLine(const Invite &invite, const QLocale &locale = QLocale());

Q_SIGNALS:
    void signInRequested(const tallybrook::Invite &invite);
    void showCodeRequested(const tallybrook::Invite &invite);
    void copyLinkRequested(const tallybrook::Invite &invite);
    void resendRequested(const tallybrook::Invite &invite);
    void cancelRequested(const tallybrook::Invite &invite);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Invite m_invite;
    bool m_divider;
};

// The account's invites, newest first, with what the desk does for a guest invited ahead: sign them in, show
// their code, copy or resend their link, cancel the invite. Loaded when shown and after each new invite.
class InvitesView final : public DeskScreen {
    Q_OBJECT

public:
    using SignIn = std::function<void(const Invite &)>;
    InvitesView(Environment environment, SignIn signIn, QWidget *parent = nullptr);
    ~InvitesView() override;

    [[nodiscard]] QString title() const override;
    [[nodiscard]] QWidget *toolbarItems() const override { return m_toolbarItems; }

    [[nodiscard]] const QList<Invite> &invites() const { return m_invites; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    // The message of the "Invites" alert while it shows.
    [[nodiscard]] const std::optional<QString> &notice() const { return m_notice.message(); }

    void reload();
    void showCode(const Invite &invite);
    void copyLink(const Invite &invite);
    void resend(const Invite &invite);
    void askToCancel(const Invite &invite);

    static constexpr int listLimit = 50;

private:
    void rebuildRows();
    void cancelInvite(const Invite &invite);

    Environment m_environment;
    SignIn m_signIn;
    QList<Invite> m_invites;
    bool m_isLoading = true;
    ProblemAlert m_notice;
    quint64 m_generation = 0;
    std::shared_ptr<RequestScope> m_loadScope;
    QPointer<QDialog> m_codeSheet;

    QWidget *m_toolbarItems = nullptr;
    QStackedLayout *m_stack = nullptr;
    QScrollArea *m_list = nullptr;
    QVBoxLayout *m_rows = nullptr;
    EmptyState *m_empty = nullptr;
};

} // namespace tallybrook::ui
