#include "E2eFixture.h"
#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "support/ScriptedHttpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

// The road of one visitor sign-in, end to end: the real model and client against the real server.
class TestE2eDesk : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roadOfOneVisitor();
};

void TestE2eDesk::roadOfOneVisitor() {
    E2eFixture fixture;
    QVERIFY(fixture.start());
    CloudClient &desk = fixture.newDesk();
    QVERIFY(E2eFixture::signUp(desk, u"front.desk@example.com"_s));

    QTemporaryDir dir;
    QSettings defaults(dir.filePath(u"desk.ini"_s), QSettings::IniFormat);
    FakePrintSystem prints;
    prints.printers = {u"Brother QL"_s};
    prints.defaultPrinter = u"Brother QL"_s;
    BadgePrinter printer(defaults, prints);
    printer.setAutoPrint(true);
    Notifier notifier(*fixture.http, defaults);

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

    // Setup, once the account's has been read: a form with an employee question, the office webhook.
    model.start();
    QTRY_VERIFY(model.hasLoadedSetup());
    const QList<KioskField> fields{{0, u"Name"_s, u"Plain Text"_s, true, false},
                                   {1, u"Who are you visiting?"_s, u"Plain Text"_s, true, true},
                                   {2, u"Company"_s, u"Plain Text"_s, false, false}};
    QVERIFY(
        awaitTask(model.saveForm(fields, {u"Zo\u00eb Park"_s, u"\u0141ukasz Nowak"_s}, u"Riverside Office"_s))
            .succeeded());
    NotificationSettings alerts = AppModel::defaultNotifications();
    alerts.officeWebhook = u"https://hooks.slack.com/services/T0/B0/office"_s;
    QVERIFY(awaitTask(model.saveNotifications(alerts)).succeeded());

    model.reset();
    model.start();
    QTRY_VERIFY(model.lastRefresh().has_value());
    QVERIFY(model.hasSavedForm());
    QCOMPARE(model.settings().placeName, std::optional(u"Riverside Office"_s));
    QCOMPARE(model.counts(), (DeskCounts{0, 0, 0}));

    // An invited guest arrives.
    NewInvite newInvite;
    newInvite.email = u"ann@example.com"_s;
    newInvite.answers = {{0, u"Ann Lee"_s}, {2, u"Acme"_s}};
    const auto created = awaitTask(desk.createInvite(newInvite));
    QVERIFY2(created.succeeded(), qPrintable(created.errorText()));
    const auto expected = awaitTask(desk.loadInvites(true, 200));
    QVERIFY2(expected.succeeded(), qPrintable(expected.errorText()));
    QCOMPARE(expected.value->size(), 1);
    const Invite invite = expected.value->constFirst();

    VisitorDraft draft = VisitorDraft::fromInvite(invite);
    draft.answers.insert(1, u"zoe park"_s);
    QVERIFY(!validationMessage(model.settings().fields, draft.answers));
    const auto signedIn = awaitTask(model.signIn(draft, invite));
    QVERIFY2(signedIn.succeeded(), qPrintable(signedIn.errorText()));
    QCOMPARE(*signedIn.value, BadgePrintOutcome::Printed);
    QCOMPARE(prints.jobs.constFirst().title, u"Visitor badge - Ann Lee"_s);

    QCOMPARE(model.visitorRevision(), 1);
    QCOMPARE(model.onSite().size(), 1);
    const VisitorRow row = model.onSite().constFirst();
    QCOMPARE(row.visitorName, u"Ann Lee"_s);
    QCOMPARE(row.hostName, std::optional(u"Zo\u00eb Park"_s));
    QCOMPARE(row.deviceName, std::optional(u"Front Desk"_s));
    QCOMPARE(model.counts(), (DeskCounts{1, 1, 1}));

    const auto afterwards = awaitTask(desk.loadInvites(true, 200));
    QVERIFY(afterwards.value->isEmpty()); // the invite was marked used

    QVERIFY(receiver.waitForRequests(1, 10'000));
    const QJsonObject slack = QJsonDocument::fromJson(receiver.requests().constFirst().body).object();
    QVERIFY2(slack.value(u"text"_s).toString().contains(u"Ann Lee"_s), receiver.requests().constFirst().body);

    // And leaves.
    const auto signedOut = awaitTask(model.signOut(row));
    QVERIFY2(signedOut.succeeded(), qPrintable(signedOut.errorText()));
    QVERIFY(model.onSite().isEmpty());
    QCOMPARE(model.counts(), (DeskCounts{1, 0, 1}));
    QCOMPARE(model.visitorRevision(), 2);
    model.reset();
}

QTEST_MAIN(TestE2eDesk)
#include "tst_e2e_desk.moc"
