#pragma once

#include "records/InviteRecords.h"
#include "ui/DeskScreen.h"
#include "ui/DeskSection.h"
#include "ui/Environment.h"

#include <QDialog>
#include <QLatin1StringView>
#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QListView;
class QToolButton;
class QHBoxLayout;

namespace tallybrook::ui {

class ErrorBanner;
class ScannerCheckIn;
class SidebarModel;

// The desk of a signed-in account: a sidebar of the four sections beside the chosen section's screen, a
// toolbar, the error banner, and the sheets for signing a visitor in and creating an invite. The sidebar is
// exactly 190 points wide, or 80 with icons only; it cannot be dragged to another width.
class DeskView final : public QWidget {
    Q_OBJECT

public:
    explicit DeskView(Environment environment, QWidget *parent = nullptr);
    ~DeskView() override;
    Q_DISABLE_COPY_MOVE(DeskView)

    // The sidebar's selection; none when the person deselected. The screen shown is then Today's.
    [[nodiscard]] std::optional<DeskSection> section() const { return m_section; }
    void setSection(std::optional<DeskSection> section);
    [[nodiscard]] DeskSection shownSection() const { return m_section.value_or(DeskSection::Today); }
    [[nodiscard]] DeskScreen *screen() const { return m_screen; }

    [[nodiscard]] bool isSidebarCollapsed() const;
    void setSidebarCollapsed(bool collapsed);
    [[nodiscard]] int sidebarWidth() const;

    // The Invites screen's sign-in action: opens the sign-in sheet for this invite's guest.
    void signInFromInvite(const Invite &invite);
    [[nodiscard]] const std::optional<Invite> &signingInInvite() const { return m_signingInInvite; }

    [[nodiscard]] QDialog *signInSheet() const { return m_signInSheet; }
    [[nodiscard]] QDialog *inviteSignInSheet() const { return m_inviteSignInSheet; }
    [[nodiscard]] QDialog *newInviteSheet() const { return m_newInviteSheet; }
    [[nodiscard]] ScannerCheckIn *scanner() const { return m_scanner; }
    // File > Roll Call: the sheet to print or save the list of everyone on site.
    void showRollCall();
    [[nodiscard]] QDialog *rollCallSheet() const { return m_rollCallSheet; }

    static constexpr int expandedSidebarWidth = 190;
    static constexpr int collapsedSidebarWidth = 80;
    // The preference that keeps the sidebar collapsed across launches.
    static constexpr QLatin1StringView sidebarIsCollapsedKey{"sidebarIsCollapsed"};

Q_SIGNALS:
    void sectionChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *makeToolbar();
    QWidget *makeSidebar();
    void showScreen(DeskSection section);
    void syncSidebar();
    void syncHeading();
    void syncErrorBanner();
    void syncSignInSheet();
    void syncNewInviteSheet();

    // What each section shows; the screens arrive one by one.
    DeskScreen *makeScreen(DeskSection section);
    QDialog *makeSignInSheet(const std::optional<Invite> &invite);
    QDialog *makeNewInviteSheet();

    Environment m_environment;
    std::optional<DeskSection> m_section = DeskSection::Today;
    std::optional<Invite> m_signingInInvite;

    SidebarModel *m_sidebarModel = nullptr;
    QWidget *m_sidebar = nullptr;
    QListView *m_sidebarList = nullptr;
    QWidget *m_toolbarLeading = nullptr;
    QToolButton *m_collapseButton = nullptr;
    QToolButton *m_signInButton = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_subtitle = nullptr;
    QHBoxLayout *m_screenTools = nullptr;
    QWidget *m_detail = nullptr;
    QPointer<DeskScreen> m_screen;
    ErrorBanner *m_errorBanner = nullptr;
    ScannerCheckIn *m_scanner = nullptr;

    QPointer<QDialog> m_signInSheet;
    QPointer<QDialog> m_inviteSignInSheet;
    QPointer<QDialog> m_newInviteSheet;
    QPointer<QDialog> m_rollCallSheet;
};

} // namespace tallybrook::ui
