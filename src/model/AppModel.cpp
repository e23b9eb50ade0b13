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
      m_options(std::move(options)) {}

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
        setError(messageOf(failure));
        co_return;
    }
    announceArrivals(*rows);
    setOnSite(*rows);
    setCounts(*counts);
    setLastRefresh(now());
    // A setup that could not be read keeps its banner: saves stay refused until it loads.
    if (m_hasLoadedSetup) {
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
    ++m_insertsOnTheWay;
    try {
        stored = co_await m_cloud.insertVisitor(visitor);
    } catch (...) {
        if (self) {
            --m_insertsOnTheWay;
        }
        throw;
    }
    if (!self) {
        co_return BadgePrintOutcome::Skipped;
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
    const bool signedOutHere = co_await m_cloud.signOutVisitor(row.id, at, m_scope);
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
