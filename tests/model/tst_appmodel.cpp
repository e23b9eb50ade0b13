#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "platform/DesktopNotices.h"
#include "records/Uuid.h"
#include "support/CloudFixture.h"
#include "support/TaskOutcome.h"

#include <QDir>
#include <QFile>
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

using Answers = QMap<int, QString>;
using Webhooks = QMap<QString, QString>;

namespace {

const QUuid accountA(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s);
const QUuid accountB(u"0a1b2c3d-4e5f-4061-8728-394a5b6c7d8e"_s);
const QString zoe = u"Zo\u00eb Park"_s, office = u"https://hooks.slack.com/office"_s;
const QString unavailable = u"Service temporarily unavailable"_s;

QJsonObject visitorRow(int n, const QString &name) {
    return QJsonObject{{u"id"_s, u"%1-1111-4111-8111-111111111111"_s.arg(QString(8, QChar(u'0' + n)))},
                       {u"visitor_name"_s, name},
                       {u"host_name"_s, QJsonValue::Null},
                       {u"answers"_s, QJsonArray{}},
                       {u"signed_in_at"_s, u"2025-03-04T08:00:00+00:00"_s}};
}

QJsonObject withHost(QJsonObject row, const QString &host) {
    row.insert(u"host_name"_s, host);
    return row;
}

// Many on site, by number from 1; the newest first, as the list comes.
QJsonArray numberedRows(int first, int last) {
    QJsonArray rows;
    for (int n = last; n >= first; --n)
        rows.append(QJsonObject{{u"id"_s, u"00000000-0000-4000-8000-%1"_s.arg(n, 12, 10, QChar(u'0'))},
                                {u"visitor_name"_s, u"Visitor %1"_s.arg(n)},
                                {u"answers"_s, QJsonArray{}},
                                {u"signed_in_at"_s, u"2025-03-04T08:00:00+00:00"_s}});
    return rows;
}

// Records what the desk would show on the desktop.
struct RecordedNotices final : platform::DesktopNotices {
    void show(const QString &summary) override { shown.append(summary); }
    QStringList shown;
};

QJsonArray alertSettings(const QString &address, bool onSignIn = true, bool onSignOut = true,
                         const QJsonObject &personal = {}) {
    return {QJsonObject{{u"office_webhook"_s, address},
                        {u"notify_sign_in"_s, onSignIn},
                        {u"notify_sign_out"_s, onSignOut},
                        {u"employee_webhooks"_s, personal}}};
}

// A form whose slots are stored out of order; slots 1 and 3 pick from the employee list.
QJsonArray savedForm(const QStringList &employees = {zoe, u"  \u00c9mile Roux  "_s}) {
    QJsonObject form = QJsonDocument::fromJson(R"({"fields":[
        {"slot":0,"label":"Name","type":"Plain Text","required":true,"employee_list":false},
        {"slot":3,"label":"Also visiting","type":"Plain Text","required":false,"employee_list":true},
        {"slot":1,"label":"Host","type":"Plain Text","required":false,"employee_list":true},
        {"slot":2,"label":"Company","type":"Plain Text","required":false,"employee_list":false}]})")
                           .object();
    form.insert(u"employees"_s, QJsonArray::fromStringList(employees));
    return {form};
}

QByteArray compact(const QJsonArray &array) {
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// One account's data as the backend holds it, answered the way the hosted service would.
struct FakeBackend {
    // The setup tables hold [] or one record (by default a saved form and alerts to the office); the on-site
    // list.
    QJsonArray kioskSettings = savedForm(), notificationSettings = alertSettings(office), onSite;
    // Calls answered 503: "GET kiosk_settings", "POST visitors", "PATCH invites", "PATCH <visitor id>".
    QSet<QByteArray> failing;
    QSet<QByteArray> signedOutElsewhere; // visitor ids (lower case): a kiosk signed them out first
    QSet<QByteArray> refusing;           // calls answered 400
    bool loseInsertAnswers = false;      // an insert is stored, then the connection drops before its answer
    // Writes are sign-outs and setup saves.
    std::chrono::milliseconds onSiteDelay{0}, insertDelay{0}, writeDelay{30};
    std::function<void(const QByteArray &call)> onCall; // told of each REST call as it arrives
    QList<QJsonObject> inserted;
    QUuid account;
    QString tag;

    ScriptedAnswer answer(const RecordedRequest &request) {
        if (request.path.endsWith("/auth/v1/token"))
            return ScriptedAnswer::json(200,
                                        tokenAnswer(u"access-"_s + tag, u"refresh-"_s + tag, 3600, account));
        if (request.path.endsWith("/auth/v1/logout"))
            return ScriptedAnswer::json(204, {});
        const QByteArray call = request.method + ' ' + request.path.mid(request.path.lastIndexOf('/') + 1);
        const QByteArray id = request.rawQuery.mid(6, 36); // of "id=eq.<id>"
        if (onCall)
            onCall(call);
        if (failing.contains(call) || failing.contains(request.method + ' ' + id))
            return ScriptedAnswer::json(503, R"({"message":"Service temporarily unavailable"})");
        if (refusing.contains(call))
            return ScriptedAnswer::json(400, R"({"message":"invalid input syntax"})");
        if (call == "GET visitors" && request.rawQuery.contains("device_record_id=eq.")) {
            const QString wanted =
                QUrlQuery(QString::fromUtf8(request.rawQuery)).queryItemValue(u"device_record_id"_s).mid(3);
            QJsonArray found;
            for (qsizetype i = 0; i < inserted.size(); ++i)
                if (inserted[i][u"device_record_id"].toString() == wanted)
                    found.append(visitorRow(int(i % 9) + 1, inserted[i][u"visitor_name"].toString()));
            return ScriptedAnswer::json(200, compact(found));
        }
        if (call == "GET kiosk_settings")
            return ScriptedAnswer::json(200, compact(kioskSettings));
        if (call == "GET notification_settings")
            return ScriptedAnswer::json(200, compact(notificationSettings));
        if (call == "GET visitors" && request.rawQuery.startsWith("select=id&")) {
            // Counted: 1 on site, 9 this week, 4 today.
            const QByteArray total = request.rawQuery.contains("signed_out_at")    ? "1"
                                     : request.rawQuery.contains("gte.2025-03-02") ? "9"
                                                                                   : "4";
            return ScriptedAnswer::json(206, "[]", {{"Content-Range", "0-0/" + total}});
        }
        if (call == "GET visitors")
            return ScriptedAnswer::json(200, compact(onSite)).delayedBy(onSiteDelay);
        if (call == "POST visitors") {
            QJsonObject body = QJsonDocument::fromJson(request.body).object();
            inserted.append(body);
            body.insert(u"id"_s, u"9b2e8c1a-0000-4000-8000-00000000000%1"_s.arg(inserted.size()));
            body.remove(u"owner_id"_s);
            if (loseInsertAnswers)
                return ScriptedAnswer::dropMidBody(201, compact({body}));
            return ScriptedAnswer::json(201, compact({body})).delayedBy(insertDelay);
        }
        if (call == "PATCH visitors") {
            const QByteArray changed = signedOutElsewhere.contains(id)
                                           ? QByteArray("[]")
                                           : QByteArray(R"([{"id":")" + id + R"("}])");
            return ScriptedAnswer::json(200, changed).delayedBy(writeDelay);
        }
        if (call == "PATCH invites")
            return ScriptedAnswer::json(204, {});
        if (request.method == "POST")
            return ScriptedAnswer::json(201, {}).delayedBy(writeDelay);
        return ScriptedAnswer::json(404, "{}");
    }
};

// The model with everything it talks to, for one test: signed in as account A at 09:05 UTC, on the computer's
// zone (UTC unless a test moves it); alerts are recorded instead of posted.
struct Desk {
    CloudFixture f;
    FakeBackend backend;
    QTemporaryDir dir;
    QSettings defaults{dir.filePath(u"desk.ini"_s), QSettings::IniFormat};
    FakePrintSystem prints;
    BadgePrinter printer{defaults, prints};
    Notifier notifier{*f.http, defaults};
    QList<std::pair<VisitorAlert, QUrl>> alerts;
    RecordedNotices notices;
    std::unique_ptr<AppModel> model;

    // With `offline`, sign-ins that cannot reach the backend wait in a folder of their own.
    explicit Desk(bool offline = false) {
        f.server->setHandler([this](const RecordedRequest &request) { return backend.answer(request); });
        f.makeClient(f.sessionExpiringIn(3600, accountA, u"a"_s));
        prints.printers = {u"Label"_s};
        AppModelOptions options;
        options.clock = [this] { return f.now; };
        options.deviceName = [] { return u"Front Desk"_s; };
        options.pollInterval = std::chrono::hours(1);
        options.deliverAlert = [this](const VisitorAlert &alert, const QUrl &url) {
            alerts.append({alert, url});
        };
        options.desktopNotices = &notices;
        options.preferences = &defaults;
        if (offline)
            options.pendingFolder = pendingFolder();
        model = std::make_unique<AppModel>(*f.client, printer, notifier, options);
    }
    // The setup and the on-site list as the backend has them now.
    [[nodiscard]] bool load() { return runTask(model->loadSetup()) && runTask(model->refresh()); }
    // What became of a sign-in, with its error text if it failed.
    [[nodiscard]] Outcome<BadgePrintOutcome> signIn(const Answers &answers,
                                                    std::optional<Invite> invite = {}) {
        return awaitTask(model->signIn(VisitorDraft{answers}, std::move(invite)));
    }
    // Another account signs in on the client.
    void signInAs(const QUuid &account, const QString &tag) {
        backend.account = account;
        backend.tag = tag;
        static_cast<void>(f.client->signInAccount(u"other@example.com"_s, u"pw"_s));
    }
    // The same, and true once the client holds that account's session.
    [[nodiscard]] bool switchTo(const QUuid &account, const QString &tag) {
        signInAs(account, tag);
        return QTest::qWaitFor([&] { return f.client->session() && f.client->session()->userID == account; });
    }
    // What each alert said, in order.
    [[nodiscard]] QStringList alerted() const {
        QStringList said;
        for (const auto &[alert, url] : alerts)
            said.append(alert.summary());
        return said;
    }
    // `act` runs as each insert reaches the server, before its answer.
    void onInsert(const std::function<void()> &act) {
        backend.onCall = [act](const QByteArray &call) {
            if (call == "POST visitors")
                act();
        };
    }
    [[nodiscard]] QString pendingFolder() const { return dir.filePath(u"pending"_s); }
};

} // namespace

class TestAppModel : public QObject {
    Q_OBJECT

    std::optional<Desk> d;

private Q_SLOTS:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void init() { d.emplace(); }
    void cleanup() { d.reset(); }

    void validation_data() {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QString>("message");
        QTest::newRow("name required even when marked optional")
            << Answers{{2, u"Acme"_s}} << u"Please fill in Full name."_s;
        QTest::newRow("spaces count as empty")
            << Answers{{0, u"Ann"_s}, {2, u" \n "_s}} << u"Please fill in Company."_s;
        QTest::newRow("at sign without a dot after it")
            << Answers{{0, u"Ann"_s}, {1, u"ann@example"_s}, {2, u"A"_s}}
            << u"Please enter a valid email for Work email."_s;
        QTest::newRow("a valid email, trimmed")
            << Answers{{0, u"Ann"_s}, {1, u" ann@mail.example.com "_s}, {2, u"A"_s}} << QString();
        QTest::newRow("empty optional email") << Answers{{0, u"Ann"_s}, {2, u"Acme"_s}} << QString();
    }
    void validation() {
        QFETCH(Answers, answers);
        QFETCH(QString, message);
        const QList<KioskField> form{{0, u"Full name"_s, u"Plain Text"_s, false, false},
                                     {1, u"Work email"_s, u"Email"_s, false, false},
                                     {2, u"Company"_s, u"Plain Text"_s, true, false}};
        QCOMPARE(validationMessage(form, answers).value_or(QString()), message);
    }
    void draftFromInvite() {
        // An invite's answers: the first for a slot wins; the name falls back to the invite's.
        Invite invite;
        invite.visitorName = u"Ann Lee"_s;
        invite.answers = {
            {0, std::nullopt, QString()}, {2, u"Company"_s, u"Acme"_s}, {2, std::nullopt, u"Other"_s}};
        QCOMPARE(VisitorDraft::fromInvite(invite).answers, (Answers{{0, u"Ann Lee"_s}, {2, u"Acme"_s}}));
    }

    void startLoadsTheSetupOnceAndResetForgetsEverything() {
        d->backend.notificationSettings = {};
        d->backend.onSite = {visitorRow(1, u"Ann"_s)};
        d->model->start();
        d->model->start();
        QTRY_VERIFY(d->model->lastRefresh().has_value());
        QCOMPARE(d->f.requestsTo("/kiosk_settings"), 1);
        QCOMPARE(d->f.requestsTo("/visitors"), 4); // one list and three counts
        QVERIFY(d->model->hasSavedForm());
        QCOMPARE(d->model->notifications(), AppModel::defaultNotifications());
        QCOMPARE(d->model->onSite().size(), 1);
        QCOMPARE(d->model->counts(), (DeskCounts{4, 1, 9}));
        // Becoming active refreshes while polling, the setup loaded already.
        d->model->applicationBecameActive();
        QTRY_COMPARE(d->f.requestsTo("/visitors"), 8);
        QCOMPARE(d->f.requestsTo("/kiosk_settings"), 1);

        // A reset while a refresh still waits for a fresh token: that refresh leaves nothing behind.
        d->f.now = d->f.now.addSecs(3590);
        const auto token = start(d->f.client->validSession());
        const auto stale = start(d->model->refresh());
        d->model->reset();
        QVERIFY(waitUntilFinished(*stale, 5000));
        QVERIFY(!d->model->error());
        QVERIFY(!d->model->isPolling());
        QCOMPARE(d->model->settings(), AppModel::defaultForm());
        QVERIFY(!d->model->hasSavedForm() && d->model->onSite().isEmpty() && !d->model->lastRefresh());
        QCOMPARE(d->model->counts(), DeskCounts{});
        d->f.server->clearRequests();
        d->model->start(); // the setup is loaded again
        QTRY_VERIFY(d->model->lastRefresh().has_value());
        QCOMPARE(d->f.requestsTo("/kiosk_settings"), 1);
    }

    void slowLoadOfAnOldAccountNeverLands() {
        d->backend.onSite = {visitorRow(1, u"Old account's visitor"_s)};
        d->backend.onSiteDelay = std::chrono::milliseconds(300);
        QSignalSpy onSiteChanged(d->model.get(), &AppModel::onSiteChanged);
        d->model->start();
        QTRY_COMPARE(d->f.requestsTo("/visitors"), 4);
        // The desk signs out while the list is still on its way, and another account signs in.
        d->f.client->signOutAccount();
        d->model->reset();
        d->backend.onSite = {visitorRow(2, u"New account's visitor"_s)};
        d->backend.onSiteDelay = std::chrono::milliseconds(0);
        QVERIFY(d->switchTo(accountB, u"b"_s));
        d->model->start();
        QTRY_VERIFY(d->model->lastRefresh().has_value());
        QTest::qWait(450); // well past the old answer's arrival
        QCOMPARE(d->model->onSite().value(0).visitorName, u"New account's visitor"_s);
        QCOMPARE(onSiteChanged.size(), 1); // the old list never appeared, not even briefly
    }

    void failedLoadsKeepTheirBannerAndWhatTheDeskShows() {
        d->backend.onSite = {visitorRow(1, u"Ann"_s)};
        d->backend.failing = {"GET kiosk_settings"};
        d->model->start();
        QTRY_VERIFY(d->model->lastRefresh().has_value());
        // The on-site list loaded, but the setup did not: its banner stays and no save may write the
        // defaults.
        QCOMPARE(d->model->error().value_or(QString()), unavailable);
        QVERIFY(!d->model->hasLoadedSetup());
        const int before = d->f.server->requestCount();
        const auto refused = awaitTask(d->model->saveEmployee(std::nullopt, u"Ada"_s, QString()));
        QVERIFY(refused.errorText().startsWith(u"The account's settings have not loaded yet"_s));
        QVERIFY(!awaitTask(d->model->saveNotifications(AppModel::defaultNotifications())).succeeded());
        QCOMPARE(d->f.server->requestCount(), before);
        // The next poll (here: becoming active) tries again.
        d->backend.failing.clear();
        d->model->applicationBecameActive();
        QTRY_VERIFY(d->model->hasLoadedSetup());
        QTRY_VERIFY(!d->model->error());
        QVERIFY(awaitTask(d->model->saveEmployee(std::nullopt, u"Ada"_s, QString())).succeeded());

        // A failed refresh shows its banner and keeps the list and the time of the last success.
        const QDateTime lastSuccess = *d->model->lastRefresh();
        d->backend.failing = {"GET visitors"};
        d->f.now = d->f.now.addSecs(15);
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->model->error().value_or(QString()), unavailable);
        QCOMPARE(d->model->onSite().size(), 1);
        QCOMPARE(*d->model->lastRefresh(), lastSuccess);
    }

    void countsFollowTheComputersZoneAndSundayWeeks() {
        // The zone changes while the desk runs: at noon UTC on this Tuesday, UTC+14 is already on Wednesday.
        // Weeks start on Monday in Germany; the desk's start on Sunday all the same.
        const QLocale previousLocale;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        qputenv("TZ", "Pacific/Kiritimati");
        d->f.now = QDateTime(QDate(2025, 3, 4), QTime(12, 0), QTimeZone::utc());
        const bool refreshed = runTask(d->model->refresh());
        qputenv("TZ", "UTC");
        QLocale::setDefault(previousLocale);
        QVERIFY(refreshed);
        QStringList from; // today's and this week's counts ask from; the on-site list and count do not
        for (const auto &request : d->f.server->requests())
            from.append(QUrlQuery(QString::fromLatin1(request.rawQuery)).queryItemValue(u"signed_in_at"_s));
        from.removeAll(QString());
        QCOMPARE(from, (QStringList{u"gte.2025-03-04T10:00:00Z"_s, u"gte.2025-03-01T10:00:00Z"_s}));
    }

    // Each list is one poll. The session's first list only says who is there; after it, each visitor new to a
    // list gets one notice (on unless switched off on this computer).
    void arrivalNotices_data() {
        QTest::addColumn<QList<QJsonArray>>("polls");
        QTest::addColumn<int>("resetAfter"); // the poll after which the model is reset; -1: none
        QTest::addColumn<bool>("switchedOn");
        QTest::addColumn<QStringList>("notices");
        const QJsonObject ada = withHost(visitorRow(1, u"Ada Lovelace"_s), u"Zo\u00eb Adeyemi"_s);
        const QJsonObject grace = visitorRow(2, u"Grace Hopper"_s);
        const QString adaArrived = u"Ada Lovelace signed in \u2014 visiting Zo\u00eb Adeyemi"_s;
        const QString graceArrived = u"Grace Hopper signed in"_s;
        QTest::newRow("the first list only establishes")
            << QList<QJsonArray>{{ada}} << -1 << true << QStringList();
        QTest::newRow("with a host") << QList<QJsonArray>{{}, {ada}} << -1 << true << QStringList{adaArrived};
        QTest::newRow("without a host")
            << QList<QJsonArray>{{}, {grace}} << -1 << true << QStringList{graceArrived};
        QTest::newRow("each visitor once") << QList<QJsonArray>{{}, {ada}, {ada, grace}, {grace, ada}} << -1
                                           << true << QStringList{adaArrived, graceArrived};
        QTest::newRow("two at once: one each")
            << QList<QJsonArray>{{}, {grace, ada}} << -1 << true << QStringList{graceArrived, adaArrived};
        QTest::newRow("more than three at once: one with their number")
            << QList<QJsonArray>{{}, numberedRows(1, 4)} << -1 << true
            << QStringList{u"4 visitors signed in"_s};
        QTest::newRow("after a reset the first list only establishes again")
            << QList<QJsonArray>{{}, {ada}} << 0 << true << QStringList();
        QTest::newRow("switched off") << QList<QJsonArray>{{}, {ada}} << -1 << false << QStringList();
        // The list stops at 500: a visitor pushed out by a newcomer comes back when the newcomer leaves.
        QJsonArray newcomerFirst = numberedRows(2, 500);
        newcomerFirst.prepend(grace);
        QTest::newRow("a full list forgets nobody")
            << QList<QJsonArray>{numberedRows(1, 500), newcomerFirst, numberedRows(1, 500)} << -1 << true
            << QStringList{graceArrived};
    }
    void arrivalNotices() {
        QFETCH(QList<QJsonArray>, polls);
        QFETCH(int, resetAfter);
        QFETCH(bool, switchedOn);
        QFETCH(QStringList, notices);
        if (!switchedOn)
            d->defaults.setValue(u"showArrivalNotices"_s, false);
        for (int poll = 0; poll < polls.size(); ++poll) {
            d->backend.onSite = polls[poll];
            QVERIFY(runTask(d->model->refresh()));
            if (poll == resetAfter)
                d->model->reset();
        }
        QCOMPARE(d->notices.shown, notices);
    }

    // The visitor signed in here comes back in the lists, whether a poll or the insert's answer comes first:
    // no notice for it; a kiosk's visitor in the same lists gets one.
    void noNoticeForAVisitorSignedInHere_data() {
        QTest::addColumn<bool>("pollBeforeAnswer");
        QTest::newRow("the insert answered first") << false;
        QTest::newRow("a poll lists the visitor before the insert answers") << true;
    }
    void noNoticeForAVisitorSignedInHere() {
        QFETCH(bool, pollBeforeAnswer);
        QVERIFY(d->load());
        d->backend.insertDelay = std::chrono::milliseconds(200);
        std::shared_ptr<Outcome<void>> poll;
        d->onInsert([&] {
            QJsonObject stored = visitorRow(1, u"Ann"_s); // under the id the insert answers with
            stored.insert(u"id"_s,
                          u"9b2e8c1a-0000-4000-8000-00000000000%1"_s.arg(d->backend.inserted.size() + 1));
            d->backend.onSite = {stored, visitorRow(2, u"Grace Hopper"_s)};
            if (pollBeforeAnswer)
                poll = start(d->model->refresh());
        });
        QVERIFY(d->signIn({{0, u"Ann"_s}}).succeeded());
        QVERIFY(!pollBeforeAnswer || (poll && poll->finished));
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->notices.shown, QStringList{u"Grace Hopper signed in"_s});
    }

    void signInWritesTheRecordAndThenTheFollowUps() {
        QVERIFY(runTask(d->model->loadSetup()));
        QSignalSpy revision(d->model.get(), &AppModel::visitorRevisionChanged);
        d->printer.setAutoPrint(true);
        Invite invite;
        invite.id = QUuid(u"ABCDEF01-2345-4678-9ABC-DEF012345678"_s);
        // A refused insert does nothing else: no invite marked, no alert, badge, revision or row on site.
        d->backend.failing = {"POST visitors"};
        QCOMPARE(d->signIn({{0, u"Ann"_s}}, invite).errorText(), unavailable);
        QCOMPARE(d->f.server->requestCount(), 3);
        QVERIFY(d->alerts.isEmpty() && d->prints.jobs.isEmpty() && revision.isEmpty() &&
                d->model->onSite().isEmpty());

        // A refused invite mark is ignored: the guest is signed in all the same. A reset (for an update, say)
        // while the insert is on its way does not stop the follow-ups either.
        d->backend.failing = {"PATCH invites"};
        d->backend.insertDelay = std::chrono::milliseconds(50);
        d->onInsert([this] { d->model->reset(); });
        d->f.server->clearRequests();
        const auto outcome = d->signIn({{0, u"  Ann Lee \n"_s}, {1, u"   "_s}, {2, u" 555 "_s}}, invite);
        QVERIFY2(outcome.succeeded(), qPrintable(outcome.errorText()));
        QCOMPARE(*outcome.value, BadgePrintOutcome::Printed);
        // Empty answers are left out; the rest trimmed, under the labels of the form the visitor saw.
        QJsonObject record = d->backend.inserted.constLast();
        const QString deviceRecordID = record.take(u"device_record_id"_s).toString();
        QVERIFY(parseUuid(deviceRecordID) && deviceRecordID == deviceRecordID.toUpper());
        QCOMPARE(record, (QJsonObject{{u"owner_id"_s, uuidUpper(accountA)},
                                      {u"visitor_name"_s, u"Ann Lee"_s},
                                      {u"host_name"_s, QJsonValue::Null},
                                      {u"answers"_s, QJsonArray{QJsonObject{{u"label"_s, u"Company"_s},
                                                                            {u"value"_s, u"555"_s}}}},
                                      {u"signed_in_at"_s, u"2025-03-04T09:05:00Z"_s},
                                      {u"device_name"_s, u"Front Desk"_s}}));
        QCOMPARE(d->f.server->requests().at(1).rawQuery, "id=eq.abcdef01-2345-4678-9abc-def012345678"_ba);
        QCOMPARE(d->alerts.size(), 1);
        QCOMPARE(revision.size(), 1);
        QCOMPARE(d->prints.jobs.constFirst().title, u"Visitor badge - Ann Lee"_s);

        // Without automatic printing, no badge.
        d->backend.onCall = {};
        d->printer.setAutoPrint(false);
        QCOMPARE(*d->signIn({{0, u"Bo"_s}}).value, BadgePrintOutcome::Skipped);
        QCOMPARE(d->prints.jobs.size(), 1);
        // Signed out while the insert is on its way: nothing more is done for that account.
        d->printer.setAutoPrint(true);
        d->onInsert([this] { d->f.client->signOutAccount(); });
        d->f.server->clearRequests();
        QVERIFY(d->signIn({{0, u"Cy"_s}}, invite).succeeded());
        QCOMPARE(d->f.requestsTo("/invites"), 0);
        QCOMPARE(d->prints.jobs.size(), 1);
    }

    // A sign-in names the host as the form lists it and alerts the host's own webhook, or else the office's.
    // Unreachable: the visitor waits, shows as not yet saved and is counted; the first insert that reaches
    // the server but loses its answer is found by its device record id, so the visitor is stored once, with
    // one alert; a sign-out made meanwhile follows its sign-in.
    void unreachableSignInsAreStoredOnceLater() {
        d.emplace(true);
        QVERIFY(d->load());
        d->backend.failing = {"POST visitors"};
        QVERIFY(d->signIn({{0, u"Ada Lovelace"_s}}).succeeded());
        QVERIFY(d->signIn({{0, u"Grace Hopper"_s}}).succeeded());
        QCOMPARE(d->model->onSite().size(), 2);
        QVERIFY(d->model->isPending(d->model->onSite().first().id));
        QCOMPARE(d->model->counts().onSite, 1 + 2);
        QVERIFY(runTask(d->model->signOut(d->model->onSite().first()))); // Grace, the newest
        QCOMPARE(d->model->counts().onSite, 1 + 1);
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->model->error(), u"Offline \u2014 2 sign-ins will be saved when the connection is back"_s);

        d->backend.failing.clear();
        d->backend.loseInsertAnswers = true;
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->backend.inserted.size(), 1); // stored, but the desk could not know
        d->backend.loseInsertAnswers = false;
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->backend.inserted.size(), 2);
        QCOMPARE(d->backend.inserted[0][u"visitor_name"].toString(), u"Ada Lovelace"_s);
        QCOMPARE(d->model->pendingSignIns(), 0);
        QCOMPARE(d->model->error(), std::nullopt);
        QCOMPARE(d->alerted(), QStringList({u"Ada Lovelace has signed in"_s, u"Grace Hopper has signed in"_s,
                                            u"Grace Hopper has signed out"_s}));
        const QList<RecordedRequest> requests = d->f.server->requests();
        QVERIFY(std::any_of(requests.cbegin(), requests.cend(), [](const RecordedRequest &r) {
            return r.method == "PATCH" && r.rawQuery.startsWith("device_record_id=eq.");
        }));
    }

    // A visitor the backend has, signed out while it cannot be reached: gone from the list and the count at
    // once, stored and alerted when it is back.
    void anUnreachableSignOutWaitsToo() {
        d.emplace(true);
        d->backend.onSite = {visitorRow(1, u"Ann"_s)};
        QVERIFY(d->load());
        const QByteArray patch = "PATCH " + d->backend.onSite[0][u"id"].toString().toLatin1();
        d->backend.failing = {patch};
        QVERIFY(runTask(d->model->signOut(d->model->onSite().value(0))));
        QVERIFY(d->model->onSite().isEmpty());
        QCOMPARE(d->model->counts().onSite, 0);
        QVERIFY(d->alerts.isEmpty());
        d->backend.failing.clear();
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->model->pendingSignIns(), 0);
        QCOMPARE(d->alerted(), QStringList{u"Ann has signed out"_s});
    }

    // A refusal is not an outage: nothing waits, and the desk says what went wrong.
    void aRefusedSignInDoesNotWait() {
        d.emplace(true);
        QVERIFY(d->load());
        d->backend.refusing = {"POST visitors"};
        const Outcome<BadgePrintOutcome> outcome = d->signIn({{0, u"Ada"_s}});
        QCOMPARE(outcome.errorText(), u"invalid input syntax"_s);
        QCOMPARE(d->model->pendingSignIns(), 0);
        QVERIFY(QDir(d->pendingFolder()).isEmpty()); // or not there at all
    }

    // What waits for account A is never sent with B's token, and is stored when A is back.
    void waitingVisitsStayWithTheirAccount() {
        d.emplace(true);
        QVERIFY(d->load());
        d->backend.failing = {"POST visitors"};
        QVERIFY(d->signIn({{0, u"Ada"_s}}).succeeded());
        d->backend.failing.clear();
        d->model->reset();
        QVERIFY(d->switchTo(accountB, u"b"_s));
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->backend.inserted.size(), 0);
        QCOMPARE(d->model->pendingSignIns(), 0);
        d->model->reset();
        QVERIFY(d->switchTo(accountA, u"a"_s));
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->backend.inserted.size(), 1);
        for (const RecordedRequest &request : d->f.server->requests())
            if (request.method == "POST" && request.path.endsWith("/visitors"))
                QCOMPARE(request.header("Authorization"), QByteArray("Bearer access-a"));
    }

    // A list that cannot be read is kept aside under another name, said once, and the desk goes on.
    void anUnreadableListIsSetAside_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("damaged") << QByteArray("{\"version\":1,\"items\":[{\"kind\":");
        QTest::newRow("from a newer desk") << QByteArray(R"({"version":2,"items":[]})");
    }
    void anUnreadableListIsSetAside() {
        QFETCH(QByteArray, file);
        d.emplace(true);
        const QDir folder(d->pendingFolder());
        QVERIFY(folder.mkpath(u"."_s));
        const QString path =
            folder.filePath(u"pending-"_s + accountA.toString(QUuid::WithoutBraces) + u".json"_s);
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
        written.close();
        QVERIFY(runTask(d->model->refresh()));
        QVERIFY(!QFile::exists(path));
        const QStringList aside = folder.entryList({u"*.unreadable-*"_s});
        QCOMPARE(aside.size(), 1);
        QFile kept(folder.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), file);
        QVERIFY(runTask(d->model->loadSetup()));
        QVERIFY(runTask(d->model->refresh()));
        QCOMPARE(d->model->error(), std::nullopt); // said once; the next list clears it
    }

    void signInHostAndAlert_data() {
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QJsonValue>("host");
        QTest::addColumn<QString>("officeHook");
        QTest::addColumn<QString>("personal"); // Zoë's
        QTest::addColumn<bool>("onSignIn");
        QTest::addColumn<QString>("alertedAt"); // empty: no alert
        const QString discord = u"https://discord.com/api/webhooks/1/x"_s;
        QTest::newRow("case, accents and spaces ignored; entry stored as listed")
            << Answers{{0, u"Ann"_s}, {1, u"  emile roux "_s}} << QJsonValue(u"  \u00c9mile Roux  "_s)
            << office << discord << true << office;
        QTest::newRow("the first employee field by slot decides; the host's webhook wins")
            << Answers{{0, u"Ann"_s}, {1, u"Zoe Park"_s}, {3, u"Emile Roux"_s}} << QJsonValue(zoe) << office
            << u" "_s + discord + u" "_s << true << discord;
        QTest::newRow("an empty first field is skipped; an invalid webhook falls back to the office")
            << Answers{{0, u"Ann"_s}, {1, u"  "_s}, {3, u"zo\u00eb park"_s}} << QJsonValue(zoe) << office
            << u"http://insecure.example/hook"_s << true << office;
        QTest::newRow("no match: no host, the answer kept; no usable address, nothing sent")
            << Answers{{0, u"Ann"_s}, {1, u"Nobody Here"_s}} << QJsonValue(QJsonValue::Null) << u"not a url"_s
            << QString() << true << QString();
        QTest::newRow("sign-in alerts switched off")
            << Answers{{0, u"Ann"_s}, {1, u"zoe park"_s}} << QJsonValue(zoe) << office << QString() << false
            << QString();
    }
    void signInHostAndAlert() {
        QFETCH(Answers, answers);
        QFETCH(QJsonValue, host);
        QFETCH(QString, officeHook);
        QFETCH(QString, personal);
        QFETCH(bool, onSignIn);
        QFETCH(QString, alertedAt);
        d->backend.notificationSettings = alertSettings(
            officeHook, onSignIn, false, personal.isEmpty() ? QJsonObject() : QJsonObject{{zoe, personal}});
        QVERIFY(runTask(d->model->loadSetup()));
        QVERIFY(d->signIn(answers).succeeded());
        QCOMPARE(d->backend.inserted.constFirst().value(u"host_name"_s), host);
        // Sign-out alerts are off in this setup.
        QVERIFY(awaitTask(d->model->signOut(d->model->onSite().value(0, VisitorRow{}))).finished);
        QCOMPARE(d->alerts.size(), alertedAt.isEmpty() ? 0 : 1);
        QCOMPARE(d->alerts.value(0).second, QUrl(alertedAt));
        QVERIFY(alertedAt.isEmpty() || d->alerts[0].first.event == VisitorAlert::Event::SignIn);
    }

    void signOutEveryoneGoesOneByOne() {
        d->backend.onSite = {visitorRow(1, u"One"_s), visitorRow(2, u"Two"_s), visitorRow(3, u"Three"_s),
                             visitorRow(4, u"Four"_s)};
        d->backend.failing = {"PATCH " + visitorRow(2, {}).value(u"id"_s).toString().toLatin1()};
        // A kiosk signed Four out first and alerted the host itself.
        d->backend.signedOutElsewhere = {visitorRow(4, {}).value(u"id"_s).toString().toLatin1()};
        QVERIFY(d->load());
        // Each sign-out reaches the server only after the one before it has ended, its revision raised.
        QList<qint64> revisionAtEachSignOut;
        d->backend.onCall = [this, &revisionAtEachSignOut](const QByteArray &call) {
            if (call == "PATCH visitors")
                revisionAtEachSignOut.append(d->model->visitorRevision());
        };
        QCOMPARE(*awaitTask(d->model->signOutEveryone()).value, 1);
        QCOMPARE(revisionAtEachSignOut, (QList<qint64>{0, 1, 1, 2}));
        QCOMPARE(d->model->visitorRevision(), 3);
        // Two failed and Four was signed out elsewhere: One and Three alert their hosts.
        QCOMPARE(d->alerted(), (QStringList{u"One has signed out"_s, u"Three has signed out"_s}));
        QCOMPARE(d->alerts[1].first.date, d->f.now);
    }

    void workForOneAccountStopsWhenAnotherSignsIn() {
        d->backend.onSite = {visitorRow(1, u"One"_s), visitorRow(2, u"Two"_s)};
        QVERIFY(d->load());
        // As soon as the first write reaches the server, another account signs in; the write's answer comes
        // after.
        d->backend.writeDelay = std::chrono::milliseconds(150);
        bool switched = false;
        d->backend.onCall = [this, &switched](const QByteArray &call) {
            if (!switched && !call.startsWith("GET ")) {
                switched = true;
                d->backend.account == accountB ? d->signInAs(accountA, u"a"_s)
                                               : d->signInAs(accountB, u"b"_s);
            }
        };
        d->f.server->clearRequests();
        QVERIFY(awaitTask(d->model->signOutEveryone()).finished);
        QCOMPARE(d->f.client->session()->userID, accountB);
        QCOMPARE(d->f.requestsTo("/visitors"), 1); // Two is left alone
        QVERIFY(d->alerts.isEmpty());

        switched = false;
        d->f.server->clearRequests();
        QVERIFY(awaitTask(d->model->saveEmployee(std::nullopt, u"Ada"_s, u"https://hooks.slack.com/ada"_s))
                    .finished);
        QCOMPARE(d->f.client->session()->userID, accountA);
        QCOMPARE(d->f.requestsTo("/kiosk_settings"), 1);
        QCOMPARE(d->f.requestsTo("/notification_settings"), 0); // B's webhooks never merged into A's

        // A save waiting for a fresh token is not written if the desk leaves A as soon as the token comes.
        d->f.now = d->f.now.addSecs(3590);
        d->f.server->clearRequests();
        const auto refresh = start(d->f.client->validSession());
        connect(
            d->f.client.get(), &CloudClient::sessionChanged, this,
            [this] {
                d->f.client->signOutAccount();
                d->signInAs(accountB, u"b"_s);
            },
            Qt::SingleShotConnection);
        QCOMPARE(awaitTask(d->model->saveForm({}, {}, {})).errorText(),
                 u"Your session ended. Please sign in again."_s);
        QCOMPARE(d->f.requestsTo("/kiosk_settings"), 0);
    }

    void setupSavesAreExact() {
        QVERIFY(runTask(d->model->loadSetup()));
        const QList<KioskField> fields{{2, u"  "_s, u"Phone"_s, false, false},
                                       {1, u" Company "_s, u"Signature"_s, true, false}};
        const QStringList employees{u"b10"_s, u" B9 "_s, u"\u00e9mile"_s, u"b9"_s, u"   "_s, u"Anna"_s};
        const auto saved = awaitTask(d->model->saveForm(fields, employees, u"  "_s));
        QVERIFY2(saved.succeeded(), qPrintable(saved.errorText()));
        const RecordedRequest upsert = d->f.server->requests().constLast();
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
        // A refused save changes nothing.
        d->f.server->enqueue(ScriptedAnswer::json(403, R"({"code":"42501","message":"permission denied"})"));
        const KioskSettings before = d->model->settings();
        QCOMPARE(awaitTask(d->model->saveForm({}, {u"X"_s}, u"HQ"_s)).errorText(), u"permission denied"_s);
        QCOMPARE(d->model->settings(), before);
    }

    // Edits one after another: each saves the form, and the alert settings only when a webhook changes.
    void employeeEdits() {
        const QString hook = u"https://hooks.slack.com/zoe"_s, emile = u"Emile Roux"_s,
                      parker = u"Zoe Parker"_s;
        d->backend.kioskSettings = savedForm({emile, zoe});
        d->backend.notificationSettings = alertSettings(QString(), true, false, {{zoe, hook}});
        QVERIFY(runTask(d->model->loadSetup()));
        const auto edit = [this](std::optional<QString> previous, std::optional<QString> next,
                                 const QString &webhook) {
            d->f.server->clearRequests();
            const bool saved = awaitTask(d->model->saveEmployee(previous, next, webhook)).succeeded();
            return saved ? d->f.server->requestCount() : -1;
        };
        QCOMPARE(edit(zoe, u" Zoe Parker "_s, hook), 2); // a rename moves the webhook
        QCOMPARE(d->model->settings().employees, (QStringList{emile, parker}));
        QCOMPARE(d->model->notifications().employeeWebhooks, (Webhooks{{parker, hook}}));
        QCOMPARE(edit(std::nullopt, u"   "_s, hook), 1);    // a name of spaces adds nobody
        QCOMPARE(edit(std::nullopt, u"Ada"_s, u"  "_s), 1); // an empty webhook stores none
        QCOMPARE(d->model->settings().employees, (QStringList{u"Ada"_s, emile, parker}));
        QCOMPARE(d->model->notifications().employeeWebhooks, (Webhooks{{parker, hook}}));
        QCOMPARE(edit(parker, std::nullopt, QString()), 2); // removing deletes the webhook
        QCOMPARE(d->model->settings().employees, (QStringList{u"Ada"_s, emile}));
        QCOMPARE(d->model->notifications().employeeWebhooks, Webhooks{});
    }
};

QTEST_MAIN(TestAppModel)
#include "tst_appmodel.moc"
