#include "model/AppModel.h"

#include "notify/Notifier.h"
#include "notify/Webhook.h"
#include "platform/DesktopNotices.h"
#include "records/DeskError.h"
#include "records/Uuid.h"

#include <QCollator>
#include <QHostInfo>
#include <QJsonDocument>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <QUuid>
#include <qcorotimer.h>

#include <algorithm>

namespace tallybrook {

using namespace Qt::StringLiterals;

namespace {

QString messageOf(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DeskError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return u"Something went wrong."_s;
    }
}

const QString setupNotLoadedMessage =
    u"The account's settings have not loaded yet, so nothing was saved. Check the connection and try again."_s;

KioskField nameField() {
    return KioskField{0, u"Name"_s, fieldTypeText(FieldType::PlainText), true, false};
}

// More arrivals in one list than this make one notice with their number: a desk back on the network after an
// hour must not bury the screen.
constexpr qsizetype mostArrivalNotices = 3;

QString arrivalNotice(const VisitorRow &row) {
    const QString host = row.hostName.value_or(QString()).trimmed();
    if (host.isEmpty()) {
        return row.visitorName + u" signed in"_s;
    }
    return row.visitorName + u" signed in \u2014 visiting "_s + host;
}

} // namespace

AppModel::AppModel(CloudClient &cloud, BadgePrinter &printer, Notifier &notifier, Options options,
                   QObject *parent)
    : QObject(parent), m_cloud(cloud), m_printer(printer), m_notifier(notifier),
      m_options(std::move(options)) {
    if (m_options.pendingFolder) {
        m_pending.emplace(*m_options.pendingFolder);
    }
}

AppModel::~AppModel() {
    m_scope->abort();
}

KioskSettings AppModel::defaultForm() {
    KioskSettings form;
    form.fields = {nameField(), KioskField{1, u"Email"_s, fieldTypeText(FieldType::Email), false, false},
                   KioskField{2, u"Phone"_s, fieldTypeText(FieldType::Phone), false, false}};
    return form;
}

NotificationSettings AppModel::defaultNotifications() {
    return NotificationSettings{QString(), true, false, {}};
}

QDateTime AppModel::now() const {
    return m_options.clock ? m_options.clock() : QDateTime::currentDateTimeUtc();
}

QTimeZone AppModel::timeZone() const {
    return m_options.timeZone.value_or(QTimeZone::systemTimeZone());
}

bool AppModel::isSignedInAs(const QUuid &user) const {
    return m_cloud.session() && m_cloud.session()->userID == user;
}

QString AppModel::deviceName() const {
    const QString name = m_options.deviceName ? m_options.deviceName().trimmed() : QString();
    return name.isEmpty() ? u"Desk"_s : name;
}

// Setters: each notifies only when the value changes.
void AppModel::setSigningIn(bool value) {
    if (m_isSigningIn != value) {
        m_isSigningIn = value;
        Q_EMIT isSigningInChanged();
    }
}

void AppModel::setInviting(bool value) {
    if (m_isInviting != value) {
        m_isInviting = value;
        Q_EMIT isInvitingChanged();
    }
}

void AppModel::setShowingOnboarding(bool value) {
    if (m_isShowingOnboarding != value) {
        m_isShowingOnboarding = value;
        Q_EMIT isShowingOnboardingChanged();
    }
}

void AppModel::setSettings(const KioskSettings &settings) {
    if (m_settings != settings) {
        m_settings = settings;
        Q_EMIT settingsChanged();
    }
}

void AppModel::setNotifications(const NotificationSettings &notifications) {
    if (m_notifications != notifications) {
        m_notifications = notifications;
        Q_EMIT notificationsChanged();
    }
}

void AppModel::setHasSavedForm(bool value) {
    if (m_hasSavedForm != value) {
        m_hasSavedForm = value;
        Q_EMIT hasSavedFormChanged();
    }
}

void AppModel::setHasLoadedSetup(bool value) {
    if (m_hasLoadedSetup != value) {
        m_hasLoadedSetup = value;
        Q_EMIT hasLoadedSetupChanged();
    }
}

void AppModel::setOnSite(const QList<VisitorRow> &rows) {
    if (m_onSite != rows) {
        m_onSite = rows;
        Q_EMIT onSiteChanged();
    }
}

void AppModel::setCounts(const DeskCounts &counts) {
    if (m_counts != counts) {
        m_counts = counts;
        Q_EMIT countsChanged();
    }
}

void AppModel::setLastRefresh(const std::optional<QDateTime> &at) {
    if (m_lastRefresh != at) {
        m_lastRefresh = at;
        Q_EMIT lastRefreshChanged();
    }
}

void AppModel::setError(const std::optional<QString> &message) {
    if (m_error != message) {
        m_error = message;
        Q_EMIT errorChanged();
    }
}

void AppModel::raiseVisitorRevision() {
    ++m_visitorRevision;
    Q_EMIT visitorRevisionChanged();
}

void AppModel::start() {
    if (m_isPolling) {
        return;
    }
    m_isPolling = true;
    // What waits from an earlier run counts from the first frame, before the first poll has answered.
    if (m_pending && m_cloud.isSignedIn() && m_pending->account() != m_cloud.session()->userID) {
        if (const std::optional<QString> problem = m_pending->load(m_cloud.session()->userID)) {
            setError(problem);
        }
    }
    poll(m_generation);
}

void AppModel::reset() {
    ++m_generation;
    m_isPolling = false;
    // Whatever the previous account still has on the wire is cut off; its results would be dropped anyway.
    m_scope->abort();
    m_scope = std::make_shared<RequestScope>();
    setSettings(defaultForm());
    setNotifications(defaultNotifications());
    setHasSavedForm(false);
    setHasLoadedSetup(false);
    setOnSite({});
    m_storedOnSite.clear();
    m_storedCounts = {};
    m_knownOnSite.clear();
    m_hasKnownOnSite = false;
    setCounts({});
    setLastRefresh(std::nullopt);
    setError(std::nullopt);
}

void AppModel::applicationBecameActive() {
    if (m_isPolling) {
        catchUp();
    }
}

QCoro::Task<void> AppModel::catchUp() {
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    if (!m_hasLoadedSetup) {
        // Tried again at every poll: a desk started without a network must not run on the defaults.
        co_await loadSetup();
        if (!self || m_generation != generation) {
            co_return;
        }
    }
    co_await refresh();
}

QCoro::Task<void> AppModel::poll(quint64 generation) {
    const QPointer<AppModel> self(this);
    while (self && m_generation == generation) {
        co_await catchUp();
        if (!self || m_generation != generation) {
            break;
        }
        // QTimer waits on the monotonic clock; the wait starts when the refresh has ended.
        co_await QCoro::sleepFor(m_options.pollInterval);
    }
}

QCoro::Task<void> AppModel::loadSetup() {
    if (!m_cloud.isSignedIn()) {
        co_return;
    }
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    const auto scope = m_scope;
    try {
        const std::optional<KioskSettings> form = co_await m_cloud.loadKioskSettings(scope);
        if (!self || m_generation != generation) {
            co_return;
        }
        setHasSavedForm(form.has_value());
        setSettings(form.value_or(defaultForm()));
        const std::optional<NotificationSettings> alerts = co_await m_cloud.loadNotificationSettings(scope);
        if (!self || m_generation != generation) {
            co_return;
        }
        setNotifications(alerts.value_or(defaultNotifications()));
        setHasLoadedSetup(true);
    } catch (...) {
        if (self && m_generation == generation) {
            setError(messageOf(std::current_exception()));
        }
    }
}

QCoro::Task<void> AppModel::refresh() {
    if (!m_cloud.isSignedIn()) {
        co_return;
    }
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    const auto scope = m_scope;
    co_await replayPending();
    if (!self || m_generation != generation) {
        co_return;
    }

    // Both loads are on their way before either is awaited.
    QCoro::Task<QList<VisitorRow>> onSiteLoad = m_cloud.onSiteVisitors(scope);
    QCoro::Task<DeskCounts> countsLoad = m_cloud.deskCounts(now(), timeZone(), scope);
    std::optional<QList<VisitorRow>> rows;
    std::optional<DeskCounts> counts;
    std::exception_ptr failure;
    try {
        rows = co_await std::move(onSiteLoad);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        counts = co_await std::move(countsLoad);
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
    if (!self || m_generation != generation) {
        co_return; // cancelled: a newer account's state is not ours to touch
    }
    if (failure) {
        setError(offlineMessage(messageOf(failure)));
        // The visitors signed in meanwhile show with the last list loaded.
        setOnSite(withPending(m_storedOnSite));
        setCounts(withPending(m_storedCounts));
        co_return;
    }
    announceArrivals(*rows);
    m_storedOnSite = *rows;
    m_storedCounts = *counts;
    setOnSite(withPending(*rows));
    setCounts(withPending(*counts));
    setLastRefresh(now());
    // A setup that could not be read keeps its banner: saves stay refused until it loads. Visits still
    // waiting to be stored keep theirs.
    if (pendingSignIns() > 0) {
        setError(offlineMessage(QString()));
    } else if (m_hasLoadedSetup) {
        setError(std::nullopt);
    }
}

QCoro::Task<BadgePrintOutcome> AppModel::signIn(VisitorDraft draft, std::optional<Invite> invite) {
    if (!m_cloud.isSignedIn()) {
        throw CloudError::signedOut();
    }
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    const QUuid user = m_cloud.session()->userID;
    // The alert goes out with the setup the visitor signed in under, even if the model is reset meanwhile.
    const NotificationSettings alerts = m_notifications;

    QList<KioskField> fields = m_settings.fields;
    std::stable_sort(fields.begin(), fields.end(),
                     [](const KioskField &a, const KioskField &b) { return a.slot < b.slot; });

    std::optional<QString> host;
    for (const KioskField &field : std::as_const(fields)) {
        if (!field.employeeList) {
            continue;
        }
        const QString typed = draft.answers.value(field.slot).trimmed();
        if (typed.isEmpty()) {
            continue;
        }
        for (const QString &employee : m_settings.employees) {
            if (sameIgnoringCaseAndDiacritics(employee.trimmed(), typed)) {
                host = employee; // as the list holds it
                break;
            }
        }
        if (host) {
            break;
        }
    }

    NewVisitor visitor;
    visitor.ownerID = user;
    visitor.deviceRecordID = uuidUpper(QUuid::createUuid());
    visitor.visitorName = draft.answers.value(0).trimmed();
    visitor.hostName = host;
    for (const KioskField &field : std::as_const(fields)) {
        const QString answer = draft.answers.value(field.slot).trimmed();
        if (field.slot != 0 && !answer.isEmpty()) {
            visitor.answers.append(VisitorAnswer{field.label, answer});
        }
    }
    visitor.signedInAt = now();
    visitor.deviceName = deviceName();

    // Not cancelled with the account's scope: an insert cut off after the server stored it would be reported
    // as failed and signed in twice. Its token already ties it to the account it began under.
    std::optional<VisitorRow> stored;
    bool queued = false;
    ++m_insertsOnTheWay;
    try {
        stored = co_await m_cloud.insertVisitor(visitor);
    } catch (...) {
        if (self) {
            --m_insertsOnTheWay;
        }
        // Unreachable, not refused: the visitor waits to be stored, and the desk goes on as if they were.
        if (!self || !queues(std::current_exception()) || !isSignedInAs(user)) {
            throw;
        }
        queued = true;
    }
    if (!self) {
        co_return BadgePrintOutcome::Skipped;
    }
    if (queued) {
        const bool kept = m_pending->append(
            {PendingVisits::Item::Kind::SignIn, visitor, now(),
             invite ? std::optional(invite->id.toString(QUuid::WithoutBraces)) : std::nullopt, std::nullopt});
        if (!kept) {
            qWarning("the unsaved sign-in of %s could not be written to %s; it is kept in memory only",
                     qPrintable(visitor.visitorName), qPrintable(m_pending->filePath()));
        }
        setOnSite(withPending(m_storedOnSite));
        setCounts(withPending(m_storedCounts));
        setError(offlineMessage(m_error.value_or(QString())));
        raiseVisitorRevision();
        co_return m_printer.autoPrint() ? m_printer.print(visitor.visitorName, visitor.signedInAt)
                                        : BadgePrintOutcome::Skipped;
    }
    --m_insertsOnTheWay;
    m_signedInHere.insert(stored->id);
    const VisitorRow row = *stored;
    // A reset alone (a required update, say) does not stop the follow-ups; another user does.
    if (!isSignedInAs(user)) {
        co_return BadgePrintOutcome::Skipped;
    }
    if (invite) {
        try {
            co_await m_cloud.markInviteUsed(invite->id, now());
        } catch (...) {
            // The guest is signed in all the same; the invite just stays open.
        }
        if (!self || !isSignedInAs(user)) {
            co_return BadgePrintOutcome::Skipped;
        }
    }
    notifyHost(alerts, VisitorAlert::Event::SignIn, row);
    if (m_generation == generation) {
        co_await refresh();
        if (!self) {
            co_return BadgePrintOutcome::Skipped;
        }
    }
    raiseVisitorRevision();
    if (!m_printer.autoPrint()) {
        co_return BadgePrintOutcome::Skipped;
    }
    co_return m_printer.print(row.visitorName, row.signedInAt);
}

bool AppModel::queues(const std::exception_ptr &failure) const {
    if (!m_pending) {
        return false;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const CloudError &error) {
        const int status = error.status();
        return error.kind() == CloudError::Kind::Network ||
               (error.kind() == CloudError::Kind::Server &&
                (status == 408 || status == 429 || status == 502 || status == 503 || status == 504));
    } catch (const DecodeError &) {
        // An answer cut short: the write may have been stored, which the lookup before the next attempt
        // finds.
        return true;
    } catch (...) {
    }
    return false;
}

bool AppModel::isPending(const QUuid &visitorID) const {
    if (!m_pending) {
        return false;
    }
    return std::any_of(m_pending->items().cbegin(), m_pending->items().cend(),
                       [&](const PendingVisits::Item &item) {
                           return item.kind == PendingVisits::Item::Kind::SignIn &&
                                  QUuid(item.visitor.deviceRecordID) == visitorID;
                       });
}

QList<VisitorRow> AppModel::withPending(QList<VisitorRow> rows) const {
    if (!m_pending || m_pending->isEmpty()) {
        return rows;
    }
    QSet<QString> signedOut;
    QSet<QUuid> storedSignedOut;
    for (const PendingVisits::Item &item : m_pending->items()) {
        if (item.kind == PendingVisits::Item::Kind::SignOut) {
            if (item.visitorId) {
                storedSignedOut.insert(*item.visitorId);
            } else {
                signedOut.insert(item.visitor.deviceRecordID);
            }
        }
    }
    rows.removeIf([&](const VisitorRow &row) { return storedSignedOut.contains(row.id); });
    // Newest first, as the list is.
    for (const PendingVisits::Item &item : m_pending->items()) {
        if (item.kind != PendingVisits::Item::Kind::SignIn ||
            signedOut.contains(item.visitor.deviceRecordID)) {
            continue;
        }
        const NewVisitor &visitor = item.visitor;
        rows.prepend(VisitorRow{QUuid(visitor.deviceRecordID), visitor.visitorName, visitor.hostName,
                                visitor.answers, visitor.signedInAt, std::nullopt, std::nullopt,
                                visitor.deviceName, true});
    }
    return rows;
}

DeskCounts AppModel::withPending(DeskCounts counts) const {
    if (!m_pending) {
        return counts;
    }
    const int signIns = m_pending->pendingSignIns();
    const int signOuts = int(m_pending->items().size()) - signIns;
    counts.today += signIns;
    counts.thisWeek += signIns;
    counts.onSite += signIns - signOuts;
    return counts;
}

QString AppModel::offlineMessage(const QString &failure) const {
    const int waiting = pendingSignIns();
    if (waiting == 0) {
        return failure;
    }
    return waiting == 1
               ? u"Offline \u2014 1 sign-in will be saved when the connection is back"_s
               : u"Offline \u2014 %1 sign-ins will be saved when the connection is back"_s.arg(waiting);
}

QCoro::Task<void> AppModel::replayPending() {
    if (!m_pending || m_isReplaying || !m_cloud.isSignedIn()) {
        co_return;
    }
    const QUuid user = m_cloud.session()->userID;
    // Only the signed-in account's own file: another account's visits wait for that account.
    if (m_pending->account() != user) {
        if (const std::optional<QString> problem = m_pending->load(user)) {
            setError(problem);
        }
    }
    const QPointer<AppModel> self(this);
    const NotificationSettings alerts = m_notifications;
    m_isReplaying = true;
    bool changed = false;
    while (!m_pending->isEmpty()) {
        const PendingVisits::Item item = m_pending->items().constFirst();
        std::optional<VisitorRow> row;
        std::exception_ptr failure;
        try {
            if (item.kind == PendingVisits::Item::Kind::SignIn) {
                // An earlier attempt may have been stored with its answer lost: never twice.
                row = co_await m_cloud.findVisitorByDeviceRecord(item.visitor.deviceRecordID);
                if (!row) {
                    row = co_await m_cloud.insertVisitor(item.visitor);
                }
                if (item.inviteId) {
                    try {
                        co_await m_cloud.markInviteUsed(QUuid(*item.inviteId), item.at);
                    } catch (...) {
                        // The guest is stored all the same; the invite just stays open.
                    }
                }
            } else {
                bool signedOut = false;
                if (item.visitorId) {
                    signedOut = co_await m_cloud.signOutVisitor(*item.visitorId, item.at);
                } else {
                    signedOut = co_await m_cloud.signOutByDeviceRecord(item.visitor.deviceRecordID, item.at);
                }
                if (signedOut) {
                    row = VisitorRow{item.visitorId.value_or(QUuid(item.visitor.deviceRecordID)),
                                     item.visitor.visitorName,
                                     item.visitor.hostName,
                                     item.visitor.answers,
                                     item.visitor.signedInAt,
                                     item.at,
                                     std::nullopt,
                                     item.visitor.deviceName};
                }
            }
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self) {
            co_return;
        }
        if (!isSignedInAs(user)) {
            break;
        }
        if (failure) {
            // Only a plain refusal drops a visit; anything else (an outage, a cut-off answer, a session to
            // renew) keeps it for the next attempt, where the lookup by its device record id finds it if it
            // was stored after all.
            bool refused = false;
            try {
                std::rethrow_exception(failure);
            } catch (const CloudError &error) {
                const int status = error.status();
                refused = error.kind() == CloudError::Kind::Server && status >= 400 && status < 500 &&
                          status != 401 && status != 403 && status != 408 && status != 429;
                if (refused) {
                    qWarning("the server refused the unsaved %s of %s (%s); it is dropped",
                             item.kind == PendingVisits::Item::Kind::SignIn ? "sign-in" : "sign-out",
                             qPrintable(item.visitor.visitorName), qPrintable(error.message()));
                }
            } catch (...) {
            }
            if (!refused) {
                break;
            }
        }
        m_pending->removeFirst();
        changed = true;
        if (row) {
            // An alert long after the fact would only confuse the host.
            if (item.at.secsTo(now()) <= 15 * 60) {
                notifyHost(alerts,
                           item.kind == PendingVisits::Item::Kind::SignIn ? VisitorAlert::Event::SignIn
                                                                          : VisitorAlert::Event::SignOut,
                           *row);
            } else {
                qInfo("no alert for %s: stored %lld minutes late", qPrintable(item.visitor.visitorName),
                      item.at.secsTo(now()) / 60);
            }
        }
    }
    m_isReplaying = false;
    if (changed) {
        raiseVisitorRevision();
    }
}

void AppModel::announceArrivals(const QList<VisitorRow> &rows) {
    QSet<QUuid> known;
    known.reserve(rows.size());
    QList<const VisitorRow *> arrivals;
    for (const VisitorRow &row : rows) {
        // This desk's own visitor is remembered only until a list shows it; from then on it is known.
        const bool signedInHere = m_signedInHere.remove(row.id);
        if (signedInHere || !m_hasKnownOnSite || m_knownOnSite.contains(row.id)) {
            known.insert(row.id);
        } else if (m_insertsOnTheWay == 0) {
            known.insert(row.id);
            arrivals.append(&row);
        }
        // Otherwise the row may be the visitor of an insert that has not answered yet: the next list decides.
    }
    // A full list may leave out visitors still on site, who would come back as arrivals once others leave.
    if (rows.size() >= CloudClient::onSiteLimit) {
        known.unite(m_knownOnSite);
    }
    m_knownOnSite = std::move(known);
    m_hasKnownOnSite = true;

    const bool wanted =
        !m_options.preferences || m_options.preferences->value(showArrivalNoticesKey, true).toBool();
    if (arrivals.isEmpty() || !m_options.desktopNotices || !wanted) {
        return;
    }
    if (arrivals.size() > mostArrivalNotices) {
        m_options.desktopNotices->show(u"%1 visitors signed in"_s.arg(arrivals.size()));
        return;
    }
    for (const VisitorRow *row : std::as_const(arrivals)) {
        m_options.desktopNotices->show(arrivalNotice(*row));
    }
}

void AppModel::notifyHost(VisitorAlert::Event event, const VisitorRow &row) {
    notifyHost(m_notifications, event, row);
}

void AppModel::notifyHost(const NotificationSettings &alerts, VisitorAlert::Event event,
                          const VisitorRow &row) {
    const bool wanted = event == VisitorAlert::Event::SignIn ? alerts.notifySignIn : alerts.notifySignOut;
    if (!wanted) {
        return;
    }
    std::optional<QUrl> address;
    if (row.hostName) {
        const auto personal = alerts.employeeWebhooks.constFind(*row.hostName);
        if (personal != alerts.employeeWebhooks.constEnd()) {
            address = validatedWebhookURL(*personal);
        }
    }
    if (!address) {
        address = validatedWebhookURL(alerts.officeWebhook);
    }
    if (!address) {
        return;
    }
    VisitorAlert alert;
    alert.event = event;
    alert.visitorName = row.visitorName;
    alert.answers = row.answers;
    alert.hostName = row.hostName;
    alert.date = event == VisitorAlert::Event::SignIn ? row.signedInAt : row.signedOutAt.value_or(now());
    // Delivery runs on its own; its outcome is recorded in the preferences, never shown at the desk.
    if (m_options.deliverAlert) {
        m_options.deliverAlert(alert, *address);
    } else {
        static_cast<void>(m_notifier.post(alert, *address));
    }
}

QCoro::Task<void> AppModel::signOut(VisitorRow row) {
    if (!m_cloud.isSignedIn()) {
        throw CloudError::signedOut();
    }
    const QPointer<AppModel> self(this);
    const QUuid user = m_cloud.session()->userID;
    const QDateTime at = now();
    if (isPending(row.id)) {
        // Not stored yet: the sign-out waits behind its sign-in.
        for (const PendingVisits::Item &item : m_pending->items()) {
            if (item.kind == PendingVisits::Item::Kind::SignIn &&
                QUuid(item.visitor.deviceRecordID) == row.id) {
                m_pending->append(
                    {PendingVisits::Item::Kind::SignOut, item.visitor, at, std::nullopt, std::nullopt});
                break;
            }
        }
        setOnSite(withPending(m_storedOnSite));
        setCounts(withPending(m_storedCounts));
        raiseVisitorRevision();
        co_return;
    }
    bool signedOutHere = false;
    try {
        signedOutHere = co_await m_cloud.signOutVisitor(row.id, at, m_scope);
    } catch (...) {
        // Unreachable: the sign-out waits like a sign-in, and the visitor leaves the list now.
        if (!self || !queues(std::current_exception()) || !isSignedInAs(user)) {
            throw;
        }
        NewVisitor visitor{user,
                           QString(),
                           row.visitorName,
                           row.hostName,
                           row.answers,
                           row.signedInAt,
                           row.deviceName.value_or(QString())};
        m_pending->append({PendingVisits::Item::Kind::SignOut, visitor, at, std::nullopt, row.id});
        setOnSite(withPending(m_storedOnSite));
        setCounts(withPending(m_storedCounts));
        setError(offlineMessage(m_error.value_or(QString())));
        raiseVisitorRevision();
        co_return;
    }
    if (!self || !isSignedInAs(user)) {
        co_return;
    }
    // A kiosk or another desk that got there first has sent its own alert, with its own time.
    if (signedOutHere) {
        row.signedOutAt = at;
        notifyHost(VisitorAlert::Event::SignOut, row);
    }
    co_await refresh();
    if (self) {
        raiseVisitorRevision();
    }
}

QCoro::Task<int> AppModel::signOutEveryone() {
    const QPointer<AppModel> self(this);
    const QList<VisitorRow> snapshot = m_onSite;
    const std::optional<QUuid> user =
        m_cloud.session() ? std::optional(m_cloud.session()->userID) : std::nullopt;
    int failures = 0;
    // One after another: the desk's connection and the host's chat never get a burst.
    for (const VisitorRow &row : snapshot) {
        if (!self || !user || !isSignedInAs(*user)) {
            break;
        }
        try {
            co_await signOut(row);
        } catch (...) {
            ++failures;
        }
    }
    co_return failures;
}

QCoro::Task<void> AppModel::upsert(QString table, QJsonObject record) {
    if (!m_cloud.isSignedIn()) {
        throw CloudError::signedOut();
    }
    if (!m_hasLoadedSetup) {
        throw DeskError(setupNotLoadedMessage);
    }
    const QPointer<AppModel> self(this);
    const QUuid user = m_cloud.session()->userID;
    QueryItems items;
    items.append({u"on_conflict"_s, u"owner_id"_s});
    const QUrl url = m_cloud.restRequestURL(table, items);
    CloudRequest request = co_await m_cloud.authorizedRequest(url);
    // The record was made from one account's setup; it is never written into another's.
    if (!self || !isSignedInAs(user)) {
        throw CloudError::signedOut();
    }
    record.insert(u"owner_id"_s, uuidLower(user));
    request.method = QByteArrayLiteral("POST");
    request.headers.append(
        {QByteArrayLiteral("Prefer"), QByteArrayLiteral("resolution=merge-duplicates,return=minimal")});
    request.body = QJsonDocument(record).toJson(QJsonDocument::Compact);
    co_await m_cloud.perform(std::move(request));
}

KioskSettings AppModel::normalisedForm(QList<KioskField> fields, const QStringList &employees,
                                       const std::optional<QString> &placeName) {
    std::stable_sort(fields.begin(), fields.end(),
                     [](const KioskField &a, const KioskField &b) { return a.slot < b.slot; });
    bool hasName = false;
    for (KioskField &field : fields) {
        field.label = field.label.trimmed();
        if (field.label.isEmpty()) {
            field.label = field.slot == 0 ? u"Name"_s : u"Field "_s + QString::number(field.slot + 1);
        }
        if (field.slot == 0) {
            field.required = true;
            hasName = true;
        }
    }
    if (!hasName) {
        fields.prepend(nameField());
    }

    QStringList cleaned;
    QStringList seen;
    for (const QString &name : employees) {
        const QString trimmed = name.trimmed();
        if (trimmed.isEmpty() || seen.contains(trimmed.toLower())) {
            continue;
        }
        seen.append(trimmed.toLower());
        cleaned.append(trimmed);
    }
    // The C locale's collator ignores numeric mode; fall back to a real language so "B9" sorts before "b10".
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                          : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(cleaned.begin(), cleaned.end(),
                     [&collator](const QString &a, const QString &b) { return collator.compare(a, b) < 0; });

    KioskSettings form;
    form.fields = fields;
    form.employees = cleaned;
    const QString place = placeName.value_or(QString()).trimmed();
    if (!place.isEmpty()) {
        form.placeName = place;
    }
    return form;
}

QCoro::Task<void> AppModel::saveForm(QList<KioskField> fields, QStringList employees,
                                     std::optional<QString> placeName) {
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    const KioskSettings form = normalisedForm(std::move(fields), employees, placeName);
    co_await upsert(u"kiosk_settings"_s, form.toJson());
    if (self && m_generation == generation) {
        setSettings(form);
        setHasSavedForm(true);
    }
}

QCoro::Task<void> AppModel::saveNotifications(NotificationSettings notifications) {
    const QPointer<AppModel> self(this);
    const quint64 generation = m_generation;
    co_await upsert(u"notification_settings"_s, notifications.toJson());
    if (self && m_generation == generation) {
        setNotifications(notifications);
    }
}

QCoro::Task<void> AppModel::saveEmployee(std::optional<QString> previousName, std::optional<QString> newName,
                                         QString webhook) {
    const QPointer<AppModel> self(this);
    const std::optional<QUuid> user =
        m_cloud.session() ? std::optional(m_cloud.session()->userID) : std::nullopt;
    // Both saves start from the setup as it is now; a reset while the first runs must not feed the defaults
    // into the second.
    const NotificationSettings before = m_notifications;
    QStringList employees = m_settings.employees;
    const QString trimmedName = newName.value_or(QString()).trimmed();
    if (previousName) {
        employees.removeAll(*previousName);
    }
    if (!trimmedName.isEmpty()) {
        employees.append(trimmedName);
    }

    QMap<QString, QString> webhooks = before.employeeWebhooks;
    if (previousName) {
        webhooks.remove(*previousName);
    }
    const QString trimmedWebhook = webhook.trimmed();
    if (!trimmedName.isEmpty() && !trimmedWebhook.isEmpty()) {
        webhooks.insert(trimmedName, trimmedWebhook);
    }

    co_await saveForm(m_settings.fields, employees, m_settings.placeName);
    if (!self || !user || !isSignedInAs(*user)) {
        co_return;
    }
    NotificationSettings alerts = before;
    alerts.employeeWebhooks = webhooks;
    if (alerts == before) {
        co_return;
    }
    co_await saveNotifications(alerts);
}

} // namespace tallybrook
