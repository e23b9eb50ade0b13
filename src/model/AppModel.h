#pragma once

#include "badges/BadgePrinter.h"
#include "cloud/CloudClient.h"
#include "model/PendingVisits.h"
#include "model/VisitorDraft.h"
#include "notify/VisitorAlert.h"
#include "records/DeskCounts.h"
#include "records/InviteRecords.h"
#include "records/SetupRecords.h"
#include "records/VisitorRecords.h"

#include <QDateTime>
#include <QJsonObject>
#include <QLatin1StringView>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace tallybrook {

class Notifier;

namespace platform {
class DesktopNotices;
}

struct AppModelOptions {
    std::function<QDateTime()> clock;
    // The computer's user-visible name, written on each visitor record.
    std::function<QString()> deviceName;
    // "Today" and "this week" are counted in this zone; unset, in the computer's zone at each count, so a
    // change of zone while the desk runs is followed.
    std::optional<QTimeZone> timeZone;
    std::chrono::milliseconds pollInterval{15'000};
    // Where sign-ins made while the backend cannot be reached wait to be stored, one file per account. Unset,
    // such a sign-in fails as any other.
    std::optional<QString> pendingFolder;
    // Delivers a host alert; by default the Notifier's post, started and not awaited.
    std::function<void(const VisitorAlert &, const QUrl &)> deliverAlert;
    // Where a visitor signed in on another device (a kiosk, another desk) is announced; unset, nowhere.
    platform::DesktopNotices *desktopNotices = nullptr;
    // The computer's preferences, read for AppModel::showArrivalNoticesKey at each arrival.
    QSettings *preferences = nullptr;
};

// The desk's state for the signed-in account and every operation the screens offer. Lives on the GUI thread
// for the whole run; the main window pairs reset() and start() with every change of the session.
class AppModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool hasSavedForm READ hasSavedForm NOTIFY hasSavedFormChanged)
    Q_PROPERTY(bool hasLoadedSetup READ hasLoadedSetup NOTIFY hasLoadedSetupChanged)
    Q_PROPERTY(qint64 visitorRevision READ visitorRevision NOTIFY visitorRevisionChanged)
    Q_PROPERTY(bool isSigningIn READ isSigningIn WRITE setSigningIn NOTIFY isSigningInChanged)
    Q_PROPERTY(bool isInviting READ isInviting WRITE setInviting NOTIFY isInvitingChanged)
    Q_PROPERTY(bool isShowingOnboarding READ isShowingOnboarding WRITE setShowingOnboarding NOTIFY
                   isShowingOnboardingChanged)

public:
    using Options = AppModelOptions;

    // Performs no I/O and starts nothing.
    AppModel(CloudClient &cloud, BadgePrinter &printer, Notifier &notifier, Options options = {},
             QObject *parent = nullptr);
    ~AppModel() override;
    Q_DISABLE_COPY_MOVE(AppModel)

    [[nodiscard]] CloudClient &cloud() const { return m_cloud; }
    [[nodiscard]] BadgePrinter &printer() const { return m_printer; }
    [[nodiscard]] Notifier &notifier() const { return m_notifier; }

    [[nodiscard]] const KioskSettings &settings() const { return m_settings; }
    [[nodiscard]] const NotificationSettings &notifications() const { return m_notifications; }
    [[nodiscard]] bool hasSavedForm() const { return m_hasSavedForm; }
    // Both halves of the account's setup have been read; until then every setup save is refused, so the
    // defaults shown meanwhile never overwrite what the account's kiosks share.
    [[nodiscard]] bool hasLoadedSetup() const { return m_hasLoadedSetup; }
    [[nodiscard]] const QList<VisitorRow> &onSite() const { return m_onSite; }
    [[nodiscard]] const DeskCounts &counts() const { return m_counts; }
    [[nodiscard]] const std::optional<QDateTime> &lastRefresh() const { return m_lastRefresh; }
    [[nodiscard]] const std::optional<QString> &error() const { return m_error; }
    [[nodiscard]] qint64 visitorRevision() const { return m_visitorRevision; }
    // A visitor of the on-site list whose sign-in waits to be stored (the backend could not be reached).
    [[nodiscard]] bool isPending(const QUuid &visitorID) const;
    [[nodiscard]] int pendingSignIns() const { return m_pending ? m_pending->pendingSignIns() : 0; }
    [[nodiscard]] bool isSigningIn() const { return m_isSigningIn; }
    [[nodiscard]] bool isInviting() const { return m_isInviting; }
    [[nodiscard]] bool isShowingOnboarding() const { return m_isShowingOnboarding; }
    void setSigningIn(bool value);
    void setInviting(bool value);
    void setShowingOnboarding(bool value);
    [[nodiscard]] bool isPolling() const { return m_isPolling; }
    // The requests made for the signed-in account; reset() aborts them. Screens that load on their own (the
    // visitor log, an export, the invites) pass it so that nothing of one account lands under another.
    [[nodiscard]] std::shared_ptr<RequestScope> requestScope() const { return m_scope; }

    // The computer's preference (on unless switched off) for the notices of arrivals from other devices.
    static constexpr QLatin1StringView showArrivalNoticesKey{"showArrivalNotices"};

    [[nodiscard]] static KioskSettings defaultForm();
    [[nodiscard]] static NotificationSettings defaultNotifications();

    // Lifecycle.
    void start();
    void reset();
    // Never throw; a failure goes into error().
    QCoro::Task<void> refresh();
    QCoro::Task<void> loadSetup();

    // Desk operations.
    // Throws when the visitor could not be stored; otherwise the badge's fate.
    QCoro::Task<BadgePrintOutcome> signIn(VisitorDraft draft, std::optional<Invite> invite = std::nullopt);
    QCoro::Task<void> signOut(VisitorRow row);
    // The number of visitors who could not be signed out; never throws.
    QCoro::Task<int> signOutEveryone();
    // Starts the host alert and returns at once.
    void notifyHost(VisitorAlert::Event event, const VisitorRow &row);

    // Setup operations. Each throws while the setup has not loaded.
    QCoro::Task<void> upsert(QString table, QJsonObject record);
    QCoro::Task<void> saveForm(QList<KioskField> fields, QStringList employees,
                               std::optional<QString> placeName);
    QCoro::Task<void> saveNotifications(NotificationSettings notifications);
    // Adds (no previous name), renames or edits (both), or removes (no new name) an employee with the
    // personal webhook.
    QCoro::Task<void> saveEmployee(std::optional<QString> previousName, std::optional<QString> newName,
                                   QString webhook);
    // The form as it is saved: fields by slot with labels, a required name field first, employees cleaned and
    // sorted as a file browser sorts names, an empty place name dropped.
    [[nodiscard]] static KioskSettings normalisedForm(QList<KioskField> fields, const QStringList &employees,
                                                      const std::optional<QString> &placeName);

public Q_SLOTS:
    // Connected to the platform's notice that the application became active.
    void applicationBecameActive();

Q_SIGNALS:
    void settingsChanged();
    void hasLoadedSetupChanged();
    void notificationsChanged();
    void hasSavedFormChanged();
    void onSiteChanged();
    void countsChanged();
    void lastRefreshChanged();
    void errorChanged();
    void visitorRevisionChanged();
    void isSigningInChanged();
    void isInvitingChanged();
    void isShowingOnboardingChanged();

private:
    QCoro::Task<void> poll(quint64 generation);
    // Stores what waited, in order, one at a time; stops at the first that still cannot reach the backend.
    QCoro::Task<void> replayPending();
    [[nodiscard]] bool queues(const std::exception_ptr &failure) const;
    // The on-site list and counts with the visitors still waiting to be stored.
    [[nodiscard]] QList<VisitorRow> withPending(QList<VisitorRow> rows) const;
    [[nodiscard]] DeskCounts withPending(DeskCounts counts) const;
    [[nodiscard]] QString offlineMessage(const QString &failure) const;
    // The setup while it has not loaded, then the on-site list and counts.
    QCoro::Task<void> catchUp();
    [[nodiscard]] QDateTime now() const;
    [[nodiscard]] QTimeZone timeZone() const;
    // Work begun for one account stops when another (or nobody) is signed in by the time it resumes.
    [[nodiscard]] bool isSignedInAs(const QUuid &user) const;
    void notifyHost(const NotificationSettings &alerts, VisitorAlert::Event event, const VisitorRow &row);
    [[nodiscard]] QString deviceName() const;
    void raiseVisitorRevision();
    // Shows a notice for each visitor in a fresh on-site list who is new to this session and was not signed
    // in here.
    void announceArrivals(const QList<VisitorRow> &rows);

    void setSettings(const KioskSettings &settings);
    void setNotifications(const NotificationSettings &notifications);
    void setHasSavedForm(bool value);
    void setHasLoadedSetup(bool value);
    void setOnSite(const QList<VisitorRow> &rows);
    void setCounts(const DeskCounts &counts);
    void setLastRefresh(const std::optional<QDateTime> &at);
    void setError(const std::optional<QString> &message);

    CloudClient &m_cloud;
    BadgePrinter &m_printer;
    Notifier &m_notifier;
    Options m_options;

    KioskSettings m_settings = defaultForm();
    NotificationSettings m_notifications = defaultNotifications();
    bool m_hasSavedForm = false;
    bool m_hasLoadedSetup = false;
    QList<VisitorRow> m_onSite;
    DeskCounts m_counts;
    std::optional<QDateTime> m_lastRefresh;
    std::optional<QString> m_error;
    qint64 m_visitorRevision = 0;
    bool m_isSigningIn = false;
    bool m_isInviting = false;
    bool m_isShowingOnboarding = false;

    // The visitors of the session's last on-site list; until one has arrived, nobody counts as arriving.
    QSet<QUuid> m_knownOnSite;
    bool m_hasKnownOnSite = false;
    // The visitors this desk stored that no on-site list has shown yet, and its inserts not answered yet.
    QSet<QUuid> m_signedInHere;
    int m_insertsOnTheWay = 0;
    std::optional<PendingVisits> m_pending;
    bool m_isReplaying = false;
    // What the server last gave, before the waiting visitors are added.
    QList<VisitorRow> m_storedOnSite;
    DeskCounts m_storedCounts;

    // Bumped by reset(): a load that began under an older generation drops its result.
    quint64 m_generation = 0;
    bool m_isPolling = false;
    // The requests of the current generation, aborted by reset().
    std::shared_ptr<RequestScope> m_scope = std::make_shared<RequestScope>();
};

} // namespace tallybrook
