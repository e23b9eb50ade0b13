#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "records/Uuid.h"
#include "support/CloudFixture.h"
#include "support/TaskOutcome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

const QUuid accountA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid accountB(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);
const QString one = u"11111111-1111-4111-8111-111111111111"_s;
const QString two = u"22222222-2222-4222-8222-222222222222"_s;

QByteArray compact(const QJsonValue &value) {
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonObject visitorRow(const QString &id, const QString &name) {
    return QJsonObject{{u"id"_s, id},
                       {u"visitor_name"_s, name},
                       {u"host_name"_s, QJsonValue::Null},
                       {u"answers"_s, QJsonArray{}},
                       {u"signed_in_at"_s, u"2025-03-04T08:00:00+00:00"_s}};
}

QJsonArray alertSettings(const QString &office, bool onSignIn = true, bool onSignOut = true,
                         const QJsonObject &personal = {}) {
    return QJsonArray{QJsonObject{{u"office_webhook"_s, office},
                                  {u"notify_sign_in"_s, onSignIn},
                                  {u"notify_sign_out"_s, onSignOut},
                                  {u"employee_webhooks"_s, personal}}};
}

// A form whose slots are stored out of order; slots 1 and 3 pick from the employee list.
QJsonArray savedForm(const QStringList &employees = {u"Zo\u00eb Park"_s, u"  \u00c9mile Roux  "_s}) {
    QJsonObject form = QJsonDocument::fromJson(R"({"fields":[
        {"slot":0,"label":"Name","type":"Plain Text","required":true,"employee_list":false},
        {"slot":3,"label":"Also visiting","type":"Plain Text","required":false,"employee_list":true},
        {"slot":1,"label":"Host","type":"Plain Text","required":false,"employee_list":true},
        {"slot":2,"label":"Company","type":"Plain Text","required":false,"employee_list":false}]})")
                           .object();
    form.insert(u"employees"_s, QJsonArray::fromStringList(employees));
    return QJsonArray{form};
}

// One account's data as the backend holds it, answered the way the hosted service would.
struct FakeBackend {
    QJsonArray kioskSettings;        // [] or one record
    QJsonArray notificationSettings; // [] or one record
    QJsonArray onSite;
    int today = 0, onSiteCount = 0, week = 0;
    bool failLoads = false;
    bool failSetupLoads = false;
    std::chrono::milliseconds onSiteDelay{0};
    QSet<QByteArray> failingSignOuts;    // ids (lower case) whose sign-out fails
    QSet<QByteArray> signedOutElsewhere; // ids (lower case) a kiosk has signed out already
    std::chrono::milliseconds insertDelay{0};
    std::chrono::milliseconds writeDelay{30}; // sign-outs and setup saves
    bool failInsert = false;
    bool failInviteUse = false;
    QList<QJsonObject> inserted;
    QUuid account;
    QString tag;

    ScriptedAnswer answer(const RecordedRequest &request) {
        if (request.path.endsWith("/auth/v1/token"))
            return ScriptedAnswer::json(200,
                                        tokenAnswer(u"access-"_s + tag, u"refresh-"_s + tag, 3600, account));
        if (request.path.endsWith("/auth/v1/logout"))
            return ScriptedAnswer::json(204, {});
        const QByteArray table = request.path.mid(request.path.lastIndexOf('/') + 1);
        const bool get = request.method == "GET";
        if (get && (failLoads || (failSetupLoads && table != "visitors")))
            return ScriptedAnswer::json(503, R"({"message":"Service temporarily unavailable"})");
        if (get && table == "kiosk_settings")
            return ScriptedAnswer::json(200, compact(kioskSettings));
        if (get && table == "notification_settings")
            return ScriptedAnswer::json(200, compact(notificationSettings));
        if (get && table == "visitors" && request.rawQuery.startsWith("select=id&")) {
            const int total = request.rawQuery.contains("signed_out_at")    ? onSiteCount
                              : request.rawQuery.contains("gte.2025-03-02") ? week
                                                                            : today;
            return ScriptedAnswer::json(206, "[]", {{"Content-Range", "0-0/" + QByteArray::number(total)}});
        }
        if (get && table == "visitors")
            return ScriptedAnswer::json(200, compact(onSite)).delayedBy(onSiteDelay);
        if (request.method == "POST" && table == "visitors") {
            if (failInsert)
                return ScriptedAnswer::json(500, R"({"message":"insert refused"})");
            QJsonObject body = QJsonDocument::fromJson(request.body).object();
            inserted.append(body);
            body.insert(u"id"_s, u"9b2e8c1a-0000-4000-8000-00000000000%1"_s.arg(inserted.size()));
            body.remove(u"owner_id"_s);
            return ScriptedAnswer::json(201, compact(QJsonArray{body})).delayedBy(insertDelay);
        }
        if (request.method == "PATCH" && table == "visitors") {
            const QByteArray id = request.rawQuery.mid(6, 36);
            if (failingSignOuts.contains(id))
                return ScriptedAnswer::json(500, R"({"message":"sign-out refused"})");
            const QByteArray changed = signedOutElsewhere.contains(id)
                                           ? QByteArray("[]")
                                           : QByteArray(R"([{"id":")" + id + R"("}])");
            return ScriptedAnswer::json(200, changed).delayedBy(writeDelay);
        }
        if (request.method == "PATCH" && table == "invites")
            return failInviteUse ? ScriptedAnswer::json(500, "{}") : ScriptedAnswer::json(204, {});
        if (request.method == "POST")
            return ScriptedAnswer::json(201, {}).delayedBy(writeDelay);
        return ScriptedAnswer::json(404, "{}");
    }
};

using Answers = QMap<int, QString>;
using Webhooks = QMap<QString, QString>;

} // namespace

class TestAppModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void validation_data();
    void validation();
    void draftFromInvite();

    void nothingHappensWithoutAUser();
    void startLoadsTheSetupOnceAndResetForgetsEverything();
    void slowLoadOfAnOldAccountNeverLands();
    void failedRefreshKeepsDataUntilTheNextSuccess();
    void failedSetupLoadIsRetriedAndSavesWaitForIt();
    void countsFollowTheComputersZoneAndSundayWeeks();

    void signInWritesTheRecord();
    void signInHostMatching_data();
    void signInHostMatching();
    void failedInsertDoesNothingElse();
    void inviteIsMarkedUsedAndItsFailureIgnored();
    void alertRouting_data();
    void alertRouting();
    void signOutEveryoneGoesOneByOne();
    void signInFollowUpsSurviveAResetButNotAnotherUser_data();
    void signInFollowUpsSurviveAResetButNotAnotherUser();
    void workForOneAccountStopsWhenAnotherSignsIn();

    void setupSavesAreExact();
    void employeeEdits_data();
    void employeeEdits();

private:
    void signInAs(const QUuid &account, const QString &tag);

    std::optional<CloudFixture> m_f;
    FakeBackend m_backend;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_defaults;
    std::unique_ptr<FakePrintSystem> m_prints;
    std::unique_ptr<BadgePrinter> m_printer;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<AppModel> m_model;
    QList<std::pair<VisitorAlert, QUrl>> m_alerts;
};

void TestAppModel::init() {
    m_f.emplace();
    m_backend = FakeBackend{};
    m_alerts.clear();
    m_f->server->setHandler([this](const RecordedRequest &request) { return m_backend.answer(request); });
    m_f->makeClient(m_f->sessionExpiringIn(3600, accountA, u"a"_s));
    m_defaults = std::make_unique<QSettings>(m_dir.filePath(u"desk.ini"_s), QSettings::IniFormat);
    m_defaults->clear();
    m_prints = std::make_unique<FakePrintSystem>();
    m_prints->printers = {u"Label"_s};
    m_printer = std::make_unique<BadgePrinter>(*m_defaults, *m_prints);
    m_printer->setAutoPrint(false);
    m_notifier = std::make_unique<Notifier>(*m_f->http, *m_defaults);
    AppModelOptions options;
    options.clock = [this] { return m_f->now; };
    options.deviceName = [] { return u"Front Desk"_s; };
    options.timeZone = QTimeZone::utc();
    options.pollInterval = std::chrono::hours(1);
    options.deliverAlert = [this](const VisitorAlert &alert, const QUrl &url) {
        m_alerts.append({alert, url});
    };
    m_model = std::make_unique<AppModel>(*m_f->client, *m_printer, *m_notifier, options);
}

void TestAppModel::cleanup() {
    m_model.reset();
    m_notifier.reset();
    m_printer.reset();
    m_prints.reset();
    m_f.reset();
}

void TestAppModel::signInAs(const QUuid &account, const QString &tag) {
    m_backend.account = account;
    m_backend.tag = tag;
    const auto outcome = awaitTask(m_f->client->signInAccount(u"desk@example.com"_s, u"pw"_s));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
}

void TestAppModel::validation_data() {
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QString>("message");
    QTest::newRow("name required even when marked optional")
        << Answers{{2, u"Acme"_s}} << u"Please fill in Full name."_s;
    QTest::newRow("spaces count as empty")
        << Answers{{0, u"Ann"_s}, {2, u" \n "_s}} << u"Please fill in Company."_s;
    QTest::newRow("required checks come before email checks")
        << Answers{{1, u"bad"_s}} << u"Please fill in Full name."_s;
    QTest::newRow("at sign without a dot after it")
        << Answers{{0, u"Ann"_s}, {1, u"ann@example"_s}, {2, u"Acme"_s}}
        << u"Please enter a valid email for Work email."_s;
    QTest::newRow("a valid email, trimmed")
        << Answers{{0, u"Ann"_s}, {1, u" ann@mail.example.com "_s}, {2, u"A"_s}} << QString();
    QTest::newRow("empty optional email") << Answers{{0, u"Ann"_s}, {2, u"Acme"_s}} << QString();
}

void TestAppModel::validation() {
    QFETCH(Answers, answers);
    QFETCH(QString, message);
    const QList<KioskField> form{{0, u"Full name"_s, u"Plain Text"_s, false, false},
                                 {1, u"Work email"_s, u"Email"_s, false, false},
                                 {2, u"Company"_s, u"Plain Text"_s, true, false}};
    QCOMPARE(validationMessage(form, answers).value_or(QString()), message);
}

void TestAppModel::draftFromInvite() {
    Invite invite;
    invite.visitorName = u"Ann Lee"_s;
    invite.answers = {
        {0, std::nullopt, QString()}, {2, u"Company"_s, u"Acme"_s}, {2, std::nullopt, u"Other"_s}};
    QCOMPARE(VisitorDraft::fromInvite(invite).answers, (Answers{{0, u"Ann Lee"_s}, {2, u"Acme"_s}}));
}

void TestAppModel::nothingHappensWithoutAUser() {
    m_f->client->signOutAccount();
    QVERIFY(runTask(m_model->refresh()));
    QVERIFY(runTask(m_model->loadSetup()));
    QTest::qWait(20);
    QCOMPARE(m_f->server->requestCount(), 1); // only the sign-out notice
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft{{{0, u"Ann"_s}}}));
    QCOMPARE(outcome.errorText(), u"Your session ended. Please sign in again."_s);
}

void TestAppModel::startLoadsTheSetupOnceAndResetForgetsEverything() {
    m_backend.kioskSettings = savedForm();
    m_backend.onSite = QJsonArray{visitorRow(one, u"Ann"_s)};
    m_backend.today = 4;
    m_backend.onSiteCount = 1;
    m_backend.week = 9;
    QSignalSpy counts(m_model.get(), &AppModel::countsChanged);
    m_model->start();
    m_model->start();
    QTRY_VERIFY(m_model->lastRefresh().has_value());
    QCOMPARE(m_f->requestsTo("/kiosk_settings"), 1);
    QCOMPARE(m_f->requestsTo("/notification_settings"), 1);
    QCOMPARE(m_f->requestsTo("/visitors"), 4); // one list and three counts
    QVERIFY(m_model->hasSavedForm());
    QCOMPARE(m_model->settings().employees.size(), 2);
    QCOMPARE(m_model->notifications(), AppModel::defaultNotifications());
    QCOMPARE(m_model->onSite().size(), 1);
    QCOMPARE(m_model->counts(), (DeskCounts{4, 1, 9}));
    // Becoming active refreshes while polling, the setup already loaded; counts that stay the same notify
    // nobody.
    m_model->applicationBecameActive();
    QTRY_COMPARE(m_f->requestsTo("/visitors"), 8);
    QVERIFY(runTask(m_model->refresh()));
    QCOMPARE(m_f->requestsTo("/kiosk_settings"), 1);
    QCOMPARE(counts.size(), 1);

    m_model->reset();
    QVERIFY(!m_model->isPolling());
    QCOMPARE(m_model->settings(), AppModel::defaultForm());
    QVERIFY(!m_model->hasSavedForm());
    QVERIFY(m_model->onSite().isEmpty());
    QCOMPARE(m_model->counts(), DeskCounts{});
    QVERIFY(!m_model->lastRefresh());
    m_f->server->clearRequests();
    m_model->applicationBecameActive(); // not polling: nothing
    QTest::qWait(20);
    QCOMPARE(m_f->server->requestCount(), 0);
    m_model->start();
    QTRY_VERIFY(m_model->lastRefresh().has_value());
    const auto requests = m_f->server->requests();
    QVERIFY(requests.size() >= 3);
    QVERIFY(requests[0].path.endsWith("/kiosk_settings"));
    QVERIFY(requests[1].path.endsWith("/notification_settings"));
    QVERIFY(requests[2].path.endsWith("/visitors"));
}

void TestAppModel::slowLoadOfAnOldAccountNeverLands() {
    m_backend.onSite = QJsonArray{visitorRow(one, u"Old account's visitor"_s)};
    m_backend.onSiteDelay = std::chrono::milliseconds(300);
    QSignalSpy onSiteChanged(m_model.get(), &AppModel::onSiteChanged);
    m_model->start();
    QTRY_COMPARE(m_f->requestsTo("/visitors"), 4);
    // The desk signs out while the list is still on its way, and another account signs in.
    m_f->client->signOutAccount();
    m_model->reset();
    m_backend.onSite = QJsonArray{visitorRow(two, u"New account's visitor"_s)};
    m_backend.onSiteDelay = std::chrono::milliseconds(0);
    signInAs(accountB, u"b"_s);
    m_model->start();
    QTRY_VERIFY(m_model->lastRefresh().has_value());
    QTest::qWait(450); // well past the old answer's arrival
    QCOMPARE(m_model->onSite().size(), 1);
    QCOMPARE(m_model->onSite().constFirst().visitorName, u"New account's visitor"_s);
    QCOMPARE(onSiteChanged.size(), 1); // the old list never appeared, not even briefly
    QVERIFY(!m_model->error());
}

void TestAppModel::failedRefreshKeepsDataUntilTheNextSuccess() {
    m_backend.onSite = QJsonArray{visitorRow(one, u"Ann"_s)};
    m_backend.today = 3;
    QVERIFY(runTask(m_model->loadSetup()));
    QVERIFY(runTask(m_model->refresh()));
    const QDateTime firstRefresh = *m_model->lastRefresh();
    m_backend.failLoads = true;
    m_f->now = m_f->now.addSecs(15);
    QVERIFY(runTask(m_model->refresh()));
    QCOMPARE(m_model->error().value_or(QString()), u"Service temporarily unavailable"_s);
    QCOMPARE(m_model->onSite().size(), 1);
    QCOMPARE(m_model->counts().today, 3);
    QCOMPARE(*m_model->lastRefresh(), firstRefresh);
    m_backend.failLoads = false;
    QVERIFY(runTask(m_model->refresh()));
    QVERIFY(!m_model->error());
    QCOMPARE(*m_model->lastRefresh(), m_f->now);
}

void TestAppModel::failedSetupLoadIsRetriedAndSavesWaitForIt() {
    m_backend.kioskSettings = savedForm();
    m_backend.failSetupLoads = true;
    m_model->start();
    QTRY_VERIFY(m_model->lastRefresh().has_value());
    // The on-site list loaded, but the setup did not: its banner stays and no save may write the defaults.
    QCOMPARE(m_model->error().value_or(QString()), u"Service temporarily unavailable"_s);
    QVERIFY(!m_model->hasLoadedSetup());
    const int before = m_f->server->requestCount();
    const auto refused = awaitTask(m_model->saveEmployee(std::nullopt, u"Ada"_s, QString()));
    QVERIFY(refused.errorText().startsWith(u"The account's settings have not loaded yet"_s));
    QVERIFY(!awaitTask(m_model->saveNotifications(AppModel::defaultNotifications())).succeeded());
    QCOMPARE(m_f->server->requestCount(), before);
    // The next poll (here: becoming active) tries again.
    m_backend.failSetupLoads = false;
    m_model->applicationBecameActive();
    QTRY_VERIFY(m_model->hasLoadedSetup());
    QTRY_VERIFY(!m_model->error());
    QCOMPARE(m_model->settings().employees.size(), 2);
    QVERIFY(awaitTask(m_model->saveEmployee(std::nullopt, u"Ada"_s, QString())).succeeded());
}

void TestAppModel::countsFollowTheComputersZoneAndSundayWeeks() {
    const QByteArray previousZone = qgetenv("TZ");
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); // weeks start on Monday there
    AppModelOptions options;
    options.clock = [this] { return m_f->now; };
    AppModel model(*m_f->client, *m_printer, *m_notifier, options);
    m_f->now = QDateTime(QDate(2025, 3, 4), QTime(12, 0), QTimeZone::utc()); // a Tuesday
    QStringList todayFrom;
    for (const char *zone : {"UTC", "Pacific/Kiritimati"}) { // the zone changes while the desk runs
        qputenv("TZ", zone);
        m_f->server->clearRequests();
        QVERIFY(runTask(model.refresh()));
        for (const auto &request : m_f->server->requests()) {
            const QUrlQuery query(QString::fromLatin1(request.rawQuery));
            if (query.hasQueryItem(u"signed_in_at"_s) && !query.hasQueryItem(u"signed_out_at"_s))
                todayFrom.append(query.queryItemValue(u"signed_in_at"_s, QUrl::FullyDecoded));
        }
    }
    previousZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", previousZone);
    QLocale::setDefault(previousLocale);
    // Today and this week (from Sunday), first at UTC, then at UTC+14 where it is already Wednesday.
    QCOMPARE(todayFrom, (QStringList{u"gte.2025-03-04T00:00:00Z"_s, u"gte.2025-03-02T00:00:00Z"_s,
                                     u"gte.2025-03-04T10:00:00Z"_s, u"gte.2025-03-01T10:00:00Z"_s}));
}

void TestAppModel::signInWritesTheRecord() {
    QVERIFY(runTask(m_model->loadSetup()));
    QSignalSpy revision(m_model.get(), &AppModel::visitorRevisionChanged);
    const VisitorDraft draft{{{0, u"  Ann Lee \n"_s}, {1, u"   "_s}}};
    const auto outcome = awaitTask(m_model->signIn(draft));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(*outcome.value, BadgePrintOutcome::Skipped);
    QVERIFY(m_prints->jobs.isEmpty());
    QCOMPARE(revision.size(), 1);
    QCOMPARE(m_backend.inserted.size(), 1);
    QJsonObject record = m_backend.inserted.constFirst();
    const QString deviceRecordID = record.take(u"device_record_id"_s).toString();
    QVERIFY(parseUuid(deviceRecordID));
    QCOMPARE(deviceRecordID, deviceRecordID.toUpper());
    QCOMPARE(record, (QJsonObject{{u"owner_id"_s, uuidUpper(accountA)},
                                  {u"visitor_name"_s, u"Ann Lee"_s},
                                  {u"host_name"_s, QJsonValue::Null},
                                  {u"answers"_s, QJsonArray{}},
                                  {u"signed_in_at"_s, u"2025-03-04T09:05:00Z"_s},
                                  {u"device_name"_s, u"Front Desk"_s}}));
    // With automatic printing, the badge prints with the stored name.
    m_printer->setAutoPrint(true);
    QCOMPARE(*awaitTask(m_model->signIn(draft)).value, BadgePrintOutcome::Printed);
    QCOMPARE(m_prints->jobs.size(), 1);
    QCOMPARE(m_prints->jobs.constFirst().title, u"Visitor badge - Ann Lee"_s);
}

void TestAppModel::signInHostMatching_data() {
    QTest::addColumn<Answers>("answers");
    QTest::addColumn<QJsonValue>("host");
    QTest::newRow("case, accents and spaces ignored; entry stored as listed")
        << Answers{{0, u"Ann"_s}, {1, u"  emile roux "_s}} << QJsonValue(u"  \u00c9mile Roux  "_s);
    QTest::newRow("the first employee field by slot decides")
        << Answers{{0, u"Ann"_s}, {1, u"Zoe Park"_s}, {3, u"Emile Roux"_s}} << QJsonValue(u"Zo\u00eb Park"_s);
    QTest::newRow("an empty first field is skipped")
        << Answers{{0, u"Ann"_s}, {1, u"  "_s}, {3, u"zo\u00eb park"_s}} << QJsonValue(u"Zo\u00eb Park"_s);
    QTest::newRow("no match: no host, the answer kept")
        << Answers{{0, u"Ann"_s}, {1, u"Nobody Here"_s}} << QJsonValue(QJsonValue::Null);
}

void TestAppModel::signInHostMatching() {
    QFETCH(Answers, answers);
    QFETCH(QJsonValue, host);
    m_backend.kioskSettings = savedForm();
    QVERIFY(runTask(m_model->loadSetup()));
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft{answers}));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    const QJsonObject record = m_backend.inserted.constFirst();
    QCOMPARE(record.value(u"host_name"_s), host);
    // Answers in slot order, empty ones left out.
    QJsonArray expected;
    const QList<std::pair<int, QString>> labels{{1, u"Host"_s}, {2, u"Company"_s}, {3, u"Also visiting"_s}};
    for (const auto &[slot, label] : labels) {
        if (!answers.value(slot).trimmed().isEmpty())
            expected.append(QJsonObject{{u"label"_s, label}, {u"value"_s, answers.value(slot).trimmed()}});
    }
    QCOMPARE(record.value(u"answers"_s).toArray(), expected);
}

void TestAppModel::failedInsertDoesNothingElse() {
    m_backend.failInsert = true;
    m_backend.notificationSettings = alertSettings(u"https://hooks.slack.com/x"_s);
    QVERIFY(runTask(m_model->loadSetup()));
    m_printer->setAutoPrint(true);
    QSignalSpy revision(m_model.get(), &AppModel::visitorRevisionChanged);
    Invite invite;
    invite.id = QUuid::createUuid();
    const int before = m_f->server->requestCount();
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft{{{0, u"Ann"_s}}}, invite));
    QCOMPARE(outcome.errorText(), u"insert refused"_s);
    QCOMPARE(m_f->server->requestCount(), before + 1);
    QVERIFY(m_alerts.isEmpty());
    QVERIFY(m_prints->jobs.isEmpty());
    QCOMPARE(revision.size(), 0);
}

void TestAppModel::inviteIsMarkedUsedAndItsFailureIgnored() {
    Invite invite;
    invite.id = QUuid(u"ABCDEF01-2345-4678-9ABC-DEF012345678"_s);
    invite.visitorName = u"Guest"_s;
    m_backend.failInviteUse = true;
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft::fromInvite(invite), invite));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(m_f->requestsTo("/invites"), 1);
    const RecordedRequest marked = m_f->server->requests().at(1);
    QCOMPARE(marked.method + ' ' + marked.rawQuery, "PATCH id=eq.abcdef01-2345-4678-9abc-def012345678");
    QCOMPARE(m_backend.inserted.constFirst().value(u"visitor_name"_s).toString(), u"Guest"_s);
    QCOMPARE(m_model->visitorRevision(), 1);
}

void TestAppModel::alertRouting_data() {
    QTest::addColumn<QString>("office");
    QTest::addColumn<QString>("personal");
    QTest::addColumn<bool>("onSignIn");
    QTest::addColumn<QString>("expected");
    const QString office = u"https://hooks.slack.com/office"_s;
    QTest::newRow("personal webhook wins") << office << u" https://discord.com/api/webhooks/1/x "_s << true
                                           << u"https://discord.com/api/webhooks/1/x"_s;
    QTest::newRow("invalid personal falls back to the office")
        << office << u"http://insecure.example/hook"_s << true << office;
    QTest::newRow("no usable address: nothing sent") << u"not a url"_s << QString() << true << QString();
    QTest::newRow("sign-in alerts switched off") << office << QString() << false << QString();
}

void TestAppModel::alertRouting() {
    QFETCH(QString, office);
    QFETCH(QString, personal);
    QFETCH(bool, onSignIn);
    QFETCH(QString, expected);
    QJsonObject webhooks;
    if (!personal.isEmpty())
        webhooks.insert(u"Zo\u00eb Park"_s, personal);
    m_backend.kioskSettings = savedForm();
    m_backend.notificationSettings = alertSettings(office, onSignIn, false, webhooks);
    QVERIFY(runTask(m_model->loadSetup()));
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft{{{0, u"Ann"_s}, {1, u"zoe park"_s}}}));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(m_alerts.size(), expected.isEmpty() ? 0 : 1);
    if (expected.isEmpty())
        return;
    QCOMPARE(m_alerts[0].second, QUrl(expected));
    QCOMPARE(m_alerts[0].first.event, VisitorAlert::Event::SignIn);
    QCOMPARE(m_alerts[0].first.hostName, std::optional(u"Zo\u00eb Park"_s));
    QCOMPARE(m_alerts[0].first.date, m_f->now);
    // Sign-out alerts are off in this setup.
    m_alerts.clear();
    QVERIFY(awaitTask(m_model->signOut(m_model->onSite().value(0, VisitorRow{}))).finished);
    QVERIFY(m_alerts.isEmpty());
}

void TestAppModel::signOutEveryoneGoesOneByOne() {
    const QString three = u"33333333-3333-4333-8333-333333333333"_s;
    const QString four = u"44444444-4444-4444-8444-444444444444"_s;
    m_backend.notificationSettings = alertSettings(u"https://hooks.slack.com/o"_s);
    m_backend.onSite = QJsonArray{visitorRow(one, u"One"_s), visitorRow(two, u"Two"_s),
                                  visitorRow(three, u"Three"_s), visitorRow(four, u"Four"_s)};
    m_backend.failingSignOuts = {two.toLatin1()};
    // A kiosk signed Four out first and alerted the host itself.
    m_backend.signedOutElsewhere = {four.toLatin1()};
    QVERIFY(runTask(m_model->loadSetup()));
    QVERIFY(runTask(m_model->refresh()));
    QCOMPARE(m_model->onSite().size(), 4);
    // Each sign-out reaches the server only after the one before it has ended, its revision raised.
    QList<qint64> revisionAtEachSignOut;
    connect(m_f->server.get(), &ScriptedHttpServer::requestReceived, this, [&] {
        if (m_f->server->requests().constLast().method == "PATCH")
            revisionAtEachSignOut.append(m_model->visitorRevision());
    });
    const auto failures = awaitTask(m_model->signOutEveryone());
    QCOMPARE(*failures.value, 1);
    QCOMPARE(revisionAtEachSignOut, (QList<qint64>{0, 1, 1, 2}));
    QCOMPARE(m_model->visitorRevision(), 3);
    QList<QString> alerted;
    for (const auto &[alert, url] : std::as_const(m_alerts)) {
        QCOMPARE(alert.event, VisitorAlert::Event::SignOut);
        QCOMPARE(alert.date, m_f->now);
        alerted.append(alert.visitorName);
    }
    QCOMPARE(alerted, (QList<QString>{u"One"_s, u"Three"_s}));
}

void TestAppModel::signInFollowUpsSurviveAResetButNotAnotherUser_data() {
    QTest::addColumn<bool>("anotherUser");
    QTest::newRow("reset for an update, same user") << false;
    QTest::newRow("signed out meanwhile") << true;
}

void TestAppModel::signInFollowUpsSurviveAResetButNotAnotherUser() {
    QFETCH(bool, anotherUser);
    m_backend.notificationSettings = alertSettings(u"https://hooks.slack.com/o"_s);
    QVERIFY(runTask(m_model->loadSetup()));
    m_printer->setAutoPrint(true);
    m_backend.insertDelay = std::chrono::milliseconds(50);
    connect(m_f->server.get(), &ScriptedHttpServer::requestReceived, this, [&] {
        if (m_f->server->requests().constLast().method == "POST")
            anotherUser ? m_f->client->signOutAccount() : m_model->reset();
    });
    Invite invite;
    invite.id = QUuid::createUuid();
    const auto outcome = awaitTask(m_model->signIn(VisitorDraft{{{0, u"Ann"_s}}}, invite));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    const int expected = anotherUser ? 0 : 1;
    QCOMPARE(m_f->requestsTo("/invites"), expected);
    QCOMPARE(m_alerts.size(), expected);
    QCOMPARE(m_prints->jobs.size(), expected);
}

void TestAppModel::workForOneAccountStopsWhenAnotherSignsIn() {
    m_backend.kioskSettings = savedForm();
    m_backend.notificationSettings = alertSettings(u"https://hooks.slack.com/o"_s);
    m_backend.onSite = QJsonArray{visitorRow(one, u"One"_s), visitorRow(two, u"Two"_s)};
    QVERIFY(runTask(m_model->loadSetup()));
    QVERIFY(runTask(m_model->refresh()));
    // As soon as the first write reaches the server, another account signs in; the write's answer comes
    // after.
    m_backend.writeDelay = std::chrono::milliseconds(150);
    bool switched = false;
    connect(m_f->server.get(), &ScriptedHttpServer::requestReceived, this, [&] {
        const RecordedRequest last = m_f->server->requests().constLast();
        if (!switched && last.path.startsWith("/rest/") && last.method != "GET") {
            switched = true;
            m_backend.account = m_backend.account == accountB ? accountA : accountB;
            m_backend.tag = m_backend.account == accountB ? u"b"_s : u"a"_s;
            static_cast<void>(m_f->client->signInAccount(u"other@example.com"_s, u"pw"_s));
        }
    });
    m_f->server->clearRequests();
    QVERIFY(awaitTask(m_model->signOutEveryone()).finished);
    QCOMPARE(m_f->client->session()->userID, accountB);
    QCOMPARE(m_f->requestsTo("/visitors"), 1); // Two is left alone
    QVERIFY(m_alerts.isEmpty());

    switched = false;
    m_f->server->clearRequests();
    QVERIFY(
        awaitTask(m_model->saveEmployee(std::nullopt, u"Ada"_s, u"https://hooks.slack.com/ada"_s)).finished);
    QCOMPARE(m_f->client->session()->userID, accountA);
    QCOMPARE(m_f->requestsTo("/kiosk_settings"), 1);
    QCOMPARE(m_f->requestsTo("/notification_settings"), 0); // B's webhooks never merged into A's
}

void TestAppModel::setupSavesAreExact() {
    QVERIFY(runTask(m_model->loadSetup()));
    const QList<KioskField> fields{{2, u"  "_s, u"Phone"_s, false, false},
                                   {1, u" Company "_s, u"Signature"_s, true, false}};
    const auto saved = awaitTask(m_model->saveForm(
        fields, {u"b10"_s, u" B9 "_s, u"\u00e9mile"_s, u"b9"_s, u"   "_s, u"Anna"_s}, u"  "_s));
    QVERIFY2(saved.succeeded(), qPrintable(saved.errorText()));
    const RecordedRequest upsert = m_f->server->requests().constLast();
    QCOMPARE(upsert.method + ' ' + upsert.path + '?' + upsert.rawQuery,
             "POST /rest/v1/kiosk_settings?on_conflict=owner_id");
    QCOMPARE(upsert.header("Prefer"), "resolution=merge-duplicates,return=minimal");
    // A name field first, labels trimmed or made up, employees cleaned and sorted as a person would; the
    // place name sent as null, so one cleared here is cleared on the account too.
    QCOMPARE(QJsonDocument::fromJson(upsert.body).object(), QJsonDocument::fromJson(R"({
        "owner_id": "6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b", "place_name": null,
        "employees": ["Anna", "B9", "b10", "\u00e9mile"], "fields": [
            {"slot": 0, "label": "Name", "type": "Plain Text", "required": true, "employee_list": false},
            {"slot": 1, "label": "Company", "type": "Signature", "required": true, "employee_list": false},
            {"slot": 2, "label": "Field 3", "type": "Phone", "required": false, "employee_list": false}]})")
                                                                .object());
    QVERIFY(m_model->hasSavedForm());
    QCOMPARE(m_model->settings().fields.size(), 3);
    // A refused save changes nothing.
    m_f->server->enqueue(ScriptedAnswer::json(403, R"({"code":"42501","message":"permission denied"})"));
    const KioskSettings before = m_model->settings();
    QCOMPARE(awaitTask(m_model->saveForm({}, {u"X"_s}, u"HQ"_s)).errorText(), u"permission denied"_s);
    QCOMPARE(m_model->settings(), before);
}

void TestAppModel::employeeEdits_data() {
    QTest::addColumn<QVariant>("previous");
    QTest::addColumn<QVariant>("next");
    QTest::addColumn<QString>("webhook");
    QTest::addColumn<QStringList>("employees");
    QTest::addColumn<Webhooks>("webhooks");
    QTest::addColumn<int>("requests");
    const QString zoe = u"Zo\u00eb Park"_s, zoeHook = u"https://hooks.slack.com/zoe"_s;
    QTest::newRow("rename moves the webhook")
        << QVariant(zoe) << QVariant(u" Zoe Parker "_s) << zoeHook
        << QStringList{u"Emile Roux"_s, u"Zoe Parker"_s} << Webhooks{{u"Zoe Parker"_s, zoeHook}} << 2;
    QTest::newRow("remove deletes the webhook")
        << QVariant(zoe) << QVariant() << QString() << QStringList{u"Emile Roux"_s} << Webhooks{} << 2;
    QTest::newRow("unchanged webhook: the form only")
        << QVariant(zoe) << QVariant(zoe) << zoeHook << QStringList{u"Emile Roux"_s, zoe}
        << Webhooks{{zoe, zoeHook}} << 1;
    QTest::newRow("a name of spaces adds nobody")
        << QVariant() << QVariant(u"   "_s) << u"https://hooks.slack.com/x"_s
        << QStringList{u"Emile Roux"_s, zoe} << Webhooks{{zoe, zoeHook}} << 1;
    QTest::newRow("empty webhook stores none")
        << QVariant() << QVariant(u"Ada"_s) << u"  "_s << QStringList{u"Ada"_s, u"Emile Roux"_s, zoe}
        << Webhooks{{zoe, zoeHook}} << 1;
}

void TestAppModel::employeeEdits() {
    QFETCH(QVariant, previous);
    QFETCH(QVariant, next);
    QFETCH(QString, webhook);
    QFETCH(QStringList, employees);
    QFETCH(Webhooks, webhooks);
    QFETCH(int, requests);
    m_backend.kioskSettings = savedForm({u"Emile Roux"_s, u"Zo\u00eb Park"_s});
    m_backend.notificationSettings =
        alertSettings(QString(), true, false, {{u"Zo\u00eb Park"_s, u"https://hooks.slack.com/zoe"_s}});
    QVERIFY(runTask(m_model->loadSetup()));
    m_f->server->clearRequests();
    const auto text = [](const QVariant &name) {
        return name.isValid() ? std::optional(name.toString()) : std::nullopt;
    };
    const auto outcome = awaitTask(m_model->saveEmployee(text(previous), text(next), webhook));
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
    QCOMPARE(m_f->server->requestCount(), requests);
    QCOMPARE(m_model->settings().employees, employees);
    QCOMPARE(m_model->notifications().employeeWebhooks, webhooks);
}

QTEST_MAIN(TestAppModel)
#include "tst_appmodel.moc"
