// The real desk libraries against the real local server, started on a free port with a fresh data folder:
// the road of one visitor sign-in through the model, and every CloudClient operation once.
#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "records/Uuid.h"
#include "support/FakeSessionStore.h"
#include "support/ScriptedHttpServer.h"
#include "support/ServerProcess.h"
#include "support/TaskOutcome.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

const QString ended = u"Your session ended. Please sign in again."_s;
const QString noMatch = u"That email and password combination did not work."_s;

QStringList names(const QList<VisitorRow> &rows) {
    QStringList result;
    for (const VisitorRow &row : rows) {
        result.append(row.visitorName);
    }
    return result;
}

} // namespace

class TestE2e : public QObject {
    Q_OBJECT

    ServerProcess m_server;
    QNetworkAccessManager m_http;
    std::vector<std::unique_ptr<FakeSessionStore>> m_stores;
    std::vector<std::unique_ptr<CloudClient>> m_desks;
    CloudClient *m_desk = nullptr; // signed in as owner@example.com, with six visitors
    QDateTime m_base;

    static CloudConfig config(const ServerProcess &server) {
        CloudConfig config;
        config.backendURL = config.websiteURL = server.baseUrl();
        config.publishableKey = QString::fromUtf8(server.publishableKey());
        return config;
    }
    // A desk of its own (client and store) as another computer would have, optionally with a stored session.
    CloudClient &newDesk(const std::optional<CloudSession> &stored = {},
                         const ServerProcess *server = nullptr) {
        m_stores.push_back(std::make_unique<FakeSessionStore>());
        m_stores.back()->stored = stored;
        m_desks.push_back(
            std::make_unique<CloudClient>(m_http, *m_stores.back(), config(server ? *server : m_server)));
        m_stores.back()->client = m_desks.back().get();
        return *m_desks.back();
    }
    CloudClient &signedUp(const QString &email) {
        CloudClient &desk = newDesk();
        const auto outcome = awaitTask(desk.signUp(email, u"correct horse"_s, u"Desk Owner"_s));
        if (!outcome.succeeded() || !desk.isSignedIn()) {
            QTest::qFail(qPrintable(u"sign-up failed: "_s + outcome.errorText()), __FILE__, __LINE__);
        }
        return desk;
    }
    NewVisitor visitor(const CloudClient &desk, const QString &name, const QDateTime &at,
                       std::optional<QString> host = {}) {
        return NewVisitor{
            desk.session()->userID, uuidUpper(QUuid::createUuid()), name, std::move(host), {}, at,
            u"Front Desk"_s};
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
        m_desk = &signedUp(u"owner@example.com"_s);
        m_base = QDateTime::currentDateTimeUtc().addSecs(-3600);
        const QList<std::pair<QString, std::optional<QString>>> people{
            {u"Ann_Lee"_s, u"Zo\u00eb Park"_s}, {u"Annalee Smith"_s, {}},  {u"50% Off Deals"_s, {}},
            {u"C:\\Users\\Bob"_s, {}},          {u"a+b Consulting"_s, {}}, {u"\u0141ukasz Nowak"_s, {}}};
        for (qsizetype i = 0; i < people.size(); ++i) {
            const auto inserted = awaitTask(m_desk->insertVisitor(
                visitor(*m_desk, people[i].first, m_base.addSecs(i * 60), people[i].second)));
            QCOMPARE(inserted.value.value_or(VisitorRow()).visitorName, people[i].first);
        }
    }

    void cleanupTestCase() {
        m_desks.clear();
        m_server.stop();
    }

    // The road of one invited visitor: setup saved once it has loaded, the invite found, the sign-in
    // recorded with the host, the badge printed, the invite used, the office alerted, and the sign-out.
    void roadOfOneVisitor() {
        CloudClient &desk = signedUp(u"front.desk@example.com"_s);
        QTemporaryDir dir;
        QSettings defaults(dir.filePath(u"desk.ini"_s), QSettings::IniFormat);
        FakePrintSystem prints;
        prints.printers = {u"Brother QL"_s};
        prints.defaultPrinter = u"Brother QL"_s;
        BadgePrinter printer(defaults, prints);
        printer.setAutoPrint(true);
        Notifier notifier(m_http, defaults);
        // Chat services are https only; the receiver here stands in for the office's Slack webhook.
        ScriptedHttpServer receiver;
        receiver.setHandler([](const RecordedRequest &) { return ScriptedAnswer::json(200, "ok"); });
        AppModelOptions options;
        options.deviceName = [] { return u"Front Desk"_s; };
        options.deliverAlert = [&](const VisitorAlert &alert, const QUrl &url) {
            QCOMPARE(url, QUrl(u"https://hooks.slack.com/services/T0/B0/office"_s));
            static_cast<void>(
                notifier.post(alert, QUrl(receiver.baseUrl().toString() + u"/services/T0/B0/office"_s)));
        };
        AppModel model(desk, printer, notifier, options);
        model.start();
        QTRY_VERIFY(model.hasLoadedSetup());
        const QList<KioskField> fields{{0, u"Name"_s, u"Plain Text"_s, true, false},
                                       {1, u"Who are you visiting?"_s, u"Plain Text"_s, true, true}};
        QVERIFY(awaitTask(model.saveForm(fields, {u"Zo\u00eb Park"_s}, u"Riverside Office"_s)).succeeded());
        NotificationSettings alerts = AppModel::defaultNotifications();
        alerts.officeWebhook = u"https://hooks.slack.com/services/T0/B0/office"_s;
        QVERIFY(awaitTask(model.saveNotifications(alerts)).succeeded());
        model.reset();
        model.start();
        QTRY_VERIFY(model.lastRefresh().has_value());
        QCOMPARE(model.settings().placeName, std::optional(u"Riverside Office"_s));
        QCOMPARE(model.counts(), (DeskCounts{0, 0, 0}));

        QVERIFY(awaitTask(desk.createInvite({{{0, u"Ann Lee"_s}}, u"ann@example.com"_s, {}, {}, {}}))
                    .succeeded());
        const Invite invite =
            awaitTask(desk.loadInvites(true, 200)).value.value_or(QList<Invite>{Invite()}).constFirst();
        VisitorDraft draft = VisitorDraft::fromInvite(invite);
        draft.answers.insert(1, u"zoe park"_s);
        QVERIFY(!validationMessage(model.settings().fields, draft.answers));
        const auto signedIn = awaitTask(model.signIn(draft, invite));
        QCOMPARE(signedIn.value, std::optional(BadgePrintOutcome::Printed));
        QCOMPARE(prints.jobs.constFirst().title, u"Visitor badge - Ann Lee"_s);
        QCOMPARE(model.visitorRevision(), 1);
        const VisitorRow row = model.onSite().value(0);
        QCOMPARE(row.visitorName + u'|' + row.hostName.value_or(QString()) + u'|' +
                     row.deviceName.value_or(QString()),
                 u"Ann Lee|Zo\u00eb Park|Front Desk"_s);
        QCOMPARE(model.counts(), (DeskCounts{1, 1, 1}));
        QVERIFY(awaitTask(desk.loadInvites(true, 200)).value->isEmpty()); // the invite was marked used
        QVERIFY(receiver.waitForRequests(1, 10'000));
        QVERIFY(receiver.requests().constFirst().body.contains("Ann Lee"));

        QVERIFY(awaitTask(model.signOut(row)).succeeded());
        QVERIFY(model.onSite().isEmpty());
        QCOMPARE(model.counts(), (DeskCounts{1, 0, 1}));
        model.reset();
    }

    void accounts() {
        CloudClient &first = signedUp(u"chores@example.com"_s);
        CloudClient &desk = newDesk();
        QCOMPARE(awaitTask(desk.signUp(u"chores@example.com"_s, u"another one"_s, u"X"_s)).errorText(),
                 u"There's already an account for that email. Sign in with it instead."_s);
        QCOMPARE(awaitTask(desk.signInAccount(u"chores@example.com"_s, u"wrong password"_s)).errorText(),
                 noMatch);
        QVERIFY(awaitTask(desk.signInAccount(u"  chores@example.com\t"_s, u"correct horse"_s)).succeeded());
        QCOMPARE(desk.session()->userID, first.session()->userID);
        QVERIFY(awaitTask(desk.sendPasswordReset(u"nobody@example.com"_s)).succeeded());
        QVERIFY(awaitTask(desk.changePassword(u"correct horse battery"_s)).succeeded());
        QVERIFY(
            awaitTask(desk.signInAccount(u"chores@example.com"_s, u"correct horse battery"_s)).succeeded());
        QVERIFY(awaitTask(desk.deleteAccount()).succeeded());
        QVERIFY(!desk.isSignedIn());
        QCOMPARE(
            awaitTask(desk.signInAccount(u"chores@example.com"_s, u"correct horse battery"_s)).errorText(),
            noMatch);

        ServerProcess confirming({u"--confirm-emails"_s});
        QVERIFY(confirming.start());
        CloudClient &waiting = newDesk({}, &confirming);
        const auto waitingForEmail =
            awaitTask(waiting.signUp(u"new@example.com"_s, u"long enough"_s, u"New"_s));
        QVERIFY(waitingForEmail.succeeded() && !waitingForEmail.value->has_value());
        QVERIFY(!waiting.isSignedIn());
        QCOMPARE(awaitTask(waiting.signInAccount(u"new@example.com"_s, u"long enough"_s)).errorText(),
                 u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s);
    }

    // A stale session is refreshed once for three calls started together; signing out ends every session of
    // the account; a token that was tampered with ends the session that used it.
    void sessions() {
        CloudClient &desk = signedUp(u"refresh@example.com"_s);
        QVERIFY(awaitTask(desk.insertVisitor(visitor(desk, u"Someone"_s, QDateTime::currentDateTimeUtc())))
                    .succeeded());
        CloudSession stale = *desk.session();
        stale.expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
        CloudClient &later = newDesk(stale);
        const auto a = start(later.countVisitors({}));
        const auto b = start(later.onSiteVisitors());
        const auto c = start(later.countVisitors({}));
        QTRY_VERIFY(a->finished && b->finished && c->finished);
        QCOMPARE(a->value.value_or(0) + c->value.value_or(0) + b->value.value_or(QList<VisitorRow>()).size(),
                 3);
        QCOMPARE(m_stores.back()->saves.size(), 1);
        QVERIFY(later.session()->refreshToken != desk.session()->refreshToken);

        desk.signOutAccount();
        QTest::qWait(500); // the sign-out notice is not awaited by design
        CloudSession copy = *later.session();
        copy.expiresAt = QDateTime::currentDateTimeUtc().addSecs(10);
        CloudClient &signedOut = newDesk(copy);
        QCOMPARE(awaitTask(signedOut.onSiteVisitors()).errorText(), ended);
        QVERIFY(!signedOut.isSignedIn());

        CloudSession tampered = *m_desk->session();
        tampered.accessToken = tampered.accessToken.chopped(3) + u"abc"_s;
        CloudClient &forger = newDesk(tampered);
        QCOMPARE(awaitTask(forger.onSiteVisitors()).errorText(), ended);
        QVERIFY(!forger.isSignedIn());
    }

    void visitorLog() {
        const auto onSite = awaitTask(m_desk->onSiteVisitors());
        QCOMPARE(names(onSite.value.value_or(QList<VisitorRow>())).value(0),
                 u"\u0141ukasz Nowak"_s); // newest first
        QCOMPARE(onSite.value->size(), 6);
        QCOMPARE(names(*awaitTask(m_desk->visitorPage({}, 2, 2)).value),
                 (QStringList{u"C:\\Users\\Bob"_s, u"50% Off Deals"_s}));
        QCOMPARE(
            names(*awaitTask(m_desk->visitorPage({QString(), m_base.addSecs(60), m_base.addSecs(180)}, 50, 0))
                       .value),
            (QStringList{u"50% Off Deals"_s, u"Annalee Smith"_s}));
        const auto everything = awaitTask(m_desk->allVisitors({}));
        QCOMPARE(everything.value->size(), 6);
        const QUuid bob = everything.value->at(2).id;
        QCOMPARE(awaitTask(m_desk->signOutVisitor(bob, QDateTime::currentDateTimeUtc())).value,
                 std::optional(true));
        // Signing out again keeps the first time, and says it changed nothing.
        QCOMPARE(awaitTask(m_desk->signOutVisitor(bob, QDateTime::currentDateTimeUtc().addSecs(600))).value,
                 std::optional(false));
        const auto counts = awaitTask(m_desk->deskCounts(QDateTime::currentDateTimeUtc()));
        QCOMPARE(counts.value.value_or(DeskCounts()).onSite, 5);
        QVERIFY(counts.value->thisWeek >= counts.value->today);
        const QList<VisitorRow> found = *awaitTask(m_desk->visitorPage({u"users"_s, {}, {}}, 5, 0)).value;
        QVERIFY(found.size() == 1 && found[0].signedOutAt < QDateTime::currentDateTimeUtc().addSecs(60));
    }

    void searches_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("underscore is literal") << u"ann_lee"_s << QStringList{u"Ann_Lee"_s};
        QTest::newRow("percent is literal") << u"50%"_s << QStringList{u"50% Off Deals"_s};
        QTest::newRow("backslash") << u"c:\\users"_s << QStringList{u"C:\\Users\\Bob"_s};
        QTest::newRow("plus") << u"a+b"_s << QStringList{u"a+b Consulting"_s};
        QTest::newRow("non-ASCII, any case") << u"\u0141UKASZ"_s << QStringList{u"\u0141ukasz Nowak"_s};
        QTest::newRow("host is searchable") << u"zo\u00eb"_s << QStringList{u"Ann_Lee"_s};
        QTest::newRow("two letters") << u"ob"_s << QStringList{u"C:\\Users\\Bob"_s};
    }

    void searches() {
        QFETCH(QString, search);
        QFETCH(QStringList, found);
        QCOMPARE(
            names(
                awaitTask(m_desk->visitorPage({search, {}, {}}, 50, 0)).value.value_or(QList<VisitorRow>())),
            found);
        QCOMPARE(awaitTask(m_desk->countVisitors(VisitorQuery{search, {}, {}}.queryItems())).value,
                 std::optional(int(found.size())));
    }

    void invites() {
        NewInvite invite{{{0, u"Guest One"_s}},
                         u"guest@example.com"_s,
                         QDate::currentDate().addDays(1).toString(Qt::ISODate),
                         u"14:30"_s,
                         {}};
        QVERIFY(awaitTask(m_desk->createInvite(invite)).succeeded());
        invite.answers = {{0, u"Guest Two"_s}};
        QVERIFY(awaitTask(m_desk->createInvite(invite)).succeeded());
        invite.email = u"not an email"_s;
        QCOMPARE(awaitTask(m_desk->createInvite(invite)).error<CloudError>()->status(), 422);
        const QList<Invite> listed = *awaitTask(m_desk->loadInvites(false, 50)).value;
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed[0].visitorName + u'|' + listed[1].visitTime.value_or(QString()),
                 u"Guest Two|14:30"_s);
        QVERIFY(awaitTask(m_desk->resendInvite(listed[1].id)).succeeded());
        QCOMPARE(awaitTask(m_desk->resendInvite(QUuid::createUuid())).error<CloudError>()->status(), 404);
        QVERIFY(awaitTask(m_desk->markInviteUsed(listed[1].id, QDateTime::currentDateTimeUtc())).succeeded());
        QCOMPARE(awaitTask(m_desk->loadInvites(true, 200)).value->size(), 1);
        QVERIFY(awaitTask(m_desk->deleteInvite(listed[0].id)).succeeded());
        QVERIFY(awaitTask(m_desk->deleteInvite(QUuid::createUuid())).succeeded()); // nothing matched: fine
        const QList<Invite> left = *awaitTask(m_desk->loadInvites(false, 50)).value;
        QVERIFY(left.size() == 1 && left[0].usedAt);
    }

    // Another account reads none of the owner's visitors, changes none, and cannot write rows in its name.
    void accountsAreIsolated() {
        CloudClient &other = signedUp(u"other@example.com"_s);
        QCOMPARE(awaitTask(other.onSiteVisitors()).value->size() + *awaitTask(other.countVisitors({})).value,
                 0);
        const VisitorRow target = awaitTask(m_desk->onSiteVisitors()).value->constFirst();
        QVERIFY(awaitTask(other.signOutVisitor(target.id, QDateTime::currentDateTimeUtc())).succeeded());
        QVERIFY(!awaitTask(m_desk->visitorPage({target.visitorName, {}, {}}, 5, 0))
                     .value->constFirst()
                     .signedOutAt);
        NewVisitor forged = visitor(other, u"Forged"_s, QDateTime::currentDateTimeUtc());
        forged.ownerID = m_desk->session()->userID;
        QCOMPARE(awaitTask(other.insertVisitor(forged)).error<CloudError>()->status(), 403);
    }
};

QTEST_MAIN(TestE2e)
#include "tst_e2e.moc"
