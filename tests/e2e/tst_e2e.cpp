// The real desk libraries against the real local server, started on a free port with a fresh data folder:
// the road of one visitor sign-in through the model, and every CloudClient operation once.
#include "badges/FakePrintSystem.h"
#include "model/AppModel.h"
#include "notify/Notifier.h"
#include "records/Uuid.h"
#include "support/FakeSessionStore.h"
#include "support/MailReader.h"
#include "support/ServerProcess.h"
#include "support/SmtpSink.h"
#include "support/TaskOutcome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

struct Fetched {
    int status = 0;
    QByteArray body;
};

// A GET, or a POST of `body` (JSON with a bearer token, or a form without one).
Fetched fetch(QNetworkAccessManager &http, const QUrl &url, const QByteArray &body = {},
              const QByteArray &authorization = {}) {
    QNetworkRequest request(url);
    QNetworkReply *reply = nullptr;
    if (body.isEmpty()) {
        reply = http.get(request);
    } else {
        request.setHeader(QNetworkRequest::ContentTypeHeader, authorization.isEmpty()
                                                                  ? "application/x-www-form-urlencoded"_ba
                                                                  : "application/json"_ba);
        request.setRawHeader("Authorization", authorization);
        reply = http.post(request, body);
    }
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 15'000)) {
        return {};
    }
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

QStringList names(const QList<VisitorRow> &rows) {
    QStringList result;
    for (const VisitorRow &row : rows) {
        result.append(row.visitorName);
    }
    return result;
}

const QString officeHook = u"https://hooks.slack.com/services/T0/B0/office"_s;

// What a desk's model stands on beside its client: preferences of its own, a label printer for each badge,
// and the notifier. Alerts are recorded as the desk hands them over, each for the office's webhook (how the
// notifier posts them is its own test's).
struct DeskKit {
    Q_DISABLE_COPY_MOVE(DeskKit)
    explicit DeskKit(QNetworkAccessManager &http) : notifier(http, defaults) {
        prints.printers = {u"Brother QL"_s};
        prints.defaultPrinter = u"Brother QL"_s;
        printer.setAutoPrint(true);
        options.deviceName = [] { return u"Front Desk"_s; };
        options.deliverAlert = [this](const VisitorAlert &alert, const QUrl &url) {
            QCOMPARE(url, QUrl(officeHook));
            alerts.append(alert.summary());
        };
    }
    [[nodiscard]] std::unique_ptr<AppModel> model(CloudClient &desk) {
        return std::make_unique<AppModel>(desk, printer, notifier, options);
    }

    QTemporaryDir dir;
    QSettings defaults{dir.filePath(u"desk.ini"_s), QSettings::IniFormat};
    FakePrintSystem prints;
    BadgePrinter printer{defaults, prints};
    Notifier notifier;
    AppModelOptions options;
    QStringList alerts;
};

} // namespace

class TestE2e : public QObject {
    Q_OBJECT

    ServerProcess m_server;
    QNetworkAccessManager m_http;
    std::vector<std::unique_ptr<FakeSessionStore>> m_stores;
    std::vector<std::unique_ptr<CloudClient>> m_desks;
    CloudClient *m_desk = nullptr; // signed in as owner@example.com, with six visitors
    QDateTime m_base;

    // A desk of its own (client and store) as another computer would have, optionally with a stored session.
    CloudClient &newDesk(const std::optional<CloudSession> &stored = {},
                         const ServerProcess *project = nullptr, const ServerProcess *website = nullptr) {
        project = project ? project : &m_server;
        CloudConfig config;
        config.backendURL = project->baseUrl();
        config.websiteURL = (website ? website : project)->baseUrl();
        config.publishableKey = QString::fromUtf8(project->publishableKey());
        m_stores.push_back(std::make_unique<FakeSessionStore>());
        m_stores.back()->stored = stored;
        m_desks.push_back(std::make_unique<CloudClient>(m_http, *m_stores.back(), config));
        m_stores.back()->client = m_desks.back().get();
        return *m_desks.back();
    }
    CloudClient &signedUp(const QString &email, const ServerProcess *project = nullptr,
                          const ServerProcess *website = nullptr) {
        CloudClient &desk = newDesk({}, project, website);
        const auto outcome = awaitTask(desk.signUp(email, u"correct horse"_s, u"Desk Owner"_s));
        if (!outcome.succeeded() || !desk.isSignedIn()) {
            QTest::qFail(qPrintable(u"sign-up failed: "_s + outcome.errorText()), __FILE__, __LINE__);
        }
        return desk;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
        m_desk = &signedUp(u"owner@example.com"_s);
        m_base = QDateTime::currentDateTimeUtc().addSecs(-3600);
        const QStringList people{u"Ann_Lee"_s, u"50% Off Deals"_s, u"C:\\Users\\Bob"_s}; // a minute apart
        for (qsizetype i = 0; i < people.size(); ++i) {
            NewVisitor visitor{m_desk->session()->userID, uuidUpper(QUuid::createUuid()), people[i]};
            visitor.signedInAt = m_base.addSecs(60 * i);
            QCOMPARE(awaitTask(m_desk->insertVisitor(visitor)).value.value_or(VisitorRow()).visitorName,
                     people[i]);
        }
    }

    // The road of one invited visitor: setup saved once it has loaded, the invite found and sent again, the
    // sign-in recorded with the host, the badge printed, the invite used, the office alerted, the sign-out,
    // and the invite deleted.
    void roadOfOneVisitor() {
        CloudClient &desk = signedUp(u"front.desk@example.com"_s);
        DeskKit kit(m_http);
        const auto model = kit.model(desk);
        model->start();
        QTRY_VERIFY(model->hasLoadedSetup());
        const QList<KioskField> fields{{0, u"Name"_s, u"Plain Text"_s, true, false},
                                       {1, u"Who are you visiting?"_s, u"Plain Text"_s, true, true}};
        QVERIFY(awaitTask(model->saveForm(fields, {u"Zo\u00eb Park"_s}, u"Riverside Office"_s)).succeeded());
        NotificationSettings alerts = AppModel::defaultNotifications();
        alerts.officeWebhook = officeHook;
        QVERIFY(awaitTask(model->saveNotifications(alerts)).succeeded());
        model->reset();
        model->start();
        QTRY_VERIFY(model->lastRefresh().has_value());
        QCOMPARE(model->settings().placeName, std::optional(u"Riverside Office"_s));
        QCOMPARE(model->counts(), (DeskCounts{0, 0, 0}));

        QVERIFY(awaitTask(desk.createInvite({{{0, u"Ann Lee"_s}}, u"ann@example.com"_s, {}, u"14:30"_s, {}}))
                    .succeeded());
        const Invite invite =
            awaitTask(desk.loadInvites(true, 200)).value.value_or(QList<Invite>{Invite()}).constFirst();
        QCOMPARE(invite.visitorName + u'|' + invite.visitTime.value_or(QString()), u"Ann Lee|14:30"_s);
        QVERIFY(awaitTask(desk.resendInvite(invite.id)).succeeded());
        VisitorDraft draft = VisitorDraft::fromInvite(invite);
        draft.answers.insert(1, u"zoe park"_s);
        QVERIFY(!validationMessage(model->settings().fields, draft.answers));
        const auto signedIn = awaitTask(model->signIn(draft, invite));
        QCOMPARE(signedIn.value, std::optional(BadgePrintOutcome::Printed));
        const VisitorRow row = model->onSite().value(0);
        QCOMPARE(row.visitorName + u'|' + row.hostName.value_or(QString()) + u'|' +
                     row.deviceName.value_or(QString()),
                 u"Ann Lee|Zo\u00eb Park|Front Desk"_s);
        QCOMPARE(model->counts(), (DeskCounts{1, 1, 1}));
        QVERIFY(awaitTask(desk.loadInvites(true, 200)).value->isEmpty()); // the invite was marked used
        QCOMPARE(kit.alerts, QStringList{u"Ann Lee has arrived to see Zo\u00eb Park"_s});

        QVERIFY(awaitTask(model->signOut(row)).succeeded());
        QVERIFY(model->onSite().isEmpty());
        QCOMPARE(model->counts(), (DeskCounts{1, 0, 1}));
        QVERIFY(awaitTask(desk.deleteInvite(invite.id)).succeeded());
        QVERIFY(awaitTask(desk.loadInvites(false, 50)).value->isEmpty());
        model->reset();
    }

    // Every account operation once: sign-in with a trimmed address, recovery, a password change, deletion; a
    // stale session refreshed once for three calls started together; signing out ends every session.
    void accountsAndSessions() {
        CloudClient &desk = signedUp(u"chores@example.com"_s);
        CloudClient &second = newDesk();
        QVERIFY(awaitTask(second.signInAccount(u"  chores@example.com\t"_s, u"correct horse"_s)).succeeded());
        QVERIFY(awaitTask(second.sendPasswordReset(u"nobody@example.com"_s)).succeeded());
        QVERIFY(awaitTask(second.changePassword(u"correct horse battery"_s)).succeeded());
        QVERIFY(
            awaitTask(second.signInAccount(u"chores@example.com"_s, u"correct horse battery"_s)).succeeded());

        CloudSession stale = *second.session();
        stale.expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
        CloudClient &later = newDesk(stale);
        const auto a = start(later.countVisitors({}));
        const auto b = start(later.onSiteVisitors());
        const auto c = start(later.countVisitors({}));
        QTRY_VERIFY(a->finished && b->finished && c->finished);
        QVERIFY(a->succeeded() && b->succeeded() && c->succeeded());
        QVERIFY(later.session()->refreshToken != second.session()->refreshToken); // refreshed

        second.signOutAccount();
        QTest::qWait(500); // the sign-out notice is not awaited by design
        CloudSession copy = *later.session();
        copy.expiresAt = QDateTime::currentDateTimeUtc().addSecs(10);
        QCOMPARE(awaitTask(newDesk(copy).onSiteVisitors()).errorText(),
                 u"Your session ended. Please sign in again."_s);

        QVERIFY(awaitTask(desk.deleteAccount()).succeeded());
        QVERIFY(!desk.isSignedIn());
        QCOMPARE(
            awaitTask(desk.signInAccount(u"chores@example.com"_s, u"correct horse battery"_s)).errorText(),
            u"That email and password combination did not work."_s);
    }

    void visitorLog() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QCOMPARE(names(*awaitTask(m_desk->onSiteVisitors()).value),
                 (QStringList{u"C:\\Users\\Bob"_s, u"50% Off Deals"_s, u"Ann_Lee"_s}));
        QCOMPARE(names(*awaitTask(m_desk->visitorPage({}, 1, 1)).value), QStringList{u"50% Off Deals"_s});
        const VisitorQuery window{u"50%"_s, m_base.addSecs(30), m_base.addSecs(90)};
        QCOMPARE(names(*awaitTask(m_desk->visitorPage(window, 50, 0)).value),
                 QStringList{u"50% Off Deals"_s});
        QCOMPARE(awaitTask(m_desk->countVisitors(VisitorQuery{u"c:\\users"_s, {}, {}}.queryItems())).value,
                 std::optional(1));
        const QUuid first = awaitTask(m_desk->allVisitors({})).value->constFirst().id;
        QCOMPARE(awaitTask(m_desk->signOutVisitor(first, now)).value, std::optional(true));
        QCOMPARE(awaitTask(m_desk->signOutVisitor(first, now.addSecs(600))).value,
                 std::optional(false)); // already out
        QCOMPARE(awaitTask(m_desk->deskCounts(now)).value.value_or(DeskCounts()).onSite, 2);
    }

    // The desk through an outage: the server goes away under a polling desk, which says so; three visitors
    // signed in and one of them out; the desk restarted; the server back, which the desk finds by itself
    // within a poll. Each visitor is stored once, the one signed out with the time of it, and each alert
    // goes to the office once.
    void signInsWhileTheServerIsGoneAreStoredOnceItIsBack() {
        CloudClient &desk = signedUp(u"offline@example.com"_s);
        DeskKit kit(m_http);
        kit.options.pollInterval = std::chrono::milliseconds(400);
        kit.options.pendingFolder = kit.dir.filePath(u"pending"_s);
        auto model = kit.model(desk);
        model->start();
        QTRY_VERIFY(model->hasLoadedSetup() && model->lastRefresh());
        NotificationSettings alerts = AppModel::defaultNotifications();
        alerts.officeWebhook = officeHook;
        alerts.notifySignIn = alerts.notifySignOut = true;
        QVERIFY(awaitTask(model->saveNotifications(alerts)).succeeded());

        m_server.kill();
        QTRY_VERIFY(model->error().has_value());
        for (const QString &name : {u"Ada"_s, u"Grace"_s, u"Linus"_s}) {
            QVERIFY(awaitTask(model->signIn(VisitorDraft{{{0, name}}})).succeeded());
        }
        QVERIFY(awaitTask(model->signOut(model->onSite().value(1))).succeeded()); // Grace
        QCOMPARE(names(model->onSite()), QStringList({u"Linus"_s, u"Ada"_s}));
        QCOMPARE(model->error(), u"Offline \u2014 3 sign-ins will be saved when the connection is back"_s);
        model.reset(); // the desk quits

        model = kit.model(desk);
        model->start();
        QCOMPARE(model->pendingSignIns(), 3); // read back from this computer's file
        QTest::qWait(200);                    // its first attempt, refused at once, is over
        QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
        QTRY_VERIFY_WITH_TIMEOUT(model->pendingSignIns() == 0 && model->lastRefresh() && !model->error(),
                                 5000); // the next poll, 400 ms on
        const QList<VisitorRow> stored =
            awaitTask(desk.allVisitors(VisitorQuery{})).value.value_or(QList<VisitorRow>());
        QStringList log;
        for (const VisitorRow &row : stored) {
            log.append(row.visitorName + (row.signedOutAt ? u" (out)"_s : QString()));
        }
        log.sort(); // signed in within one second: the order of storing is the unit test's
        QCOMPARE(log, QStringList({u"Ada"_s, u"Grace (out)"_s, u"Linus"_s}));
        QTest::qWait(300); // nothing more comes
        kit.alerts.sort();
        QCOMPARE(kit.alerts, QStringList({u"Ada has signed in"_s, u"Grace has signed in"_s,
                                          u"Grace has signed out"_s, u"Linus has signed in"_s}));
    }

    // An office on a hosted project: a second server, only the website, in front of this one as the project.
    // Invites go through it with the desk's own token, so the project's row security owns and hides them.
    void theWebsiteInFrontOfAHostedProject() {
        QTemporaryDir keys;
        QFile serviceKey(keys.filePath(u"service-key"_s));
        QVERIFY(serviceKey.open(QIODevice::WriteOnly));
        serviceKey.write("sb_secret_tallybrook_test_service_key_01\n");
        serviceKey.close();
        QVERIFY(serviceKey.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        const QStringList keyFile{u"--service-key-file"_s, serviceKey.fileName(), u"--quiet"_s};
        ServerProcess project(keyFile);
        QVERIFY2(project.start(), qPrintable(project.errorText()));
        SmtpSink mail;
        QVERIFY(mail.listen(QHostAddress::LocalHost));
        ServerProcess website(QStringList{u"--website-only"_s, u"--backend"_s, project.baseUrl().toString(),
                                          u"--smtp"_s, u"smtp://127.0.0.1:%1"_s.arg(mail.serverPort())} +
                              keyFile);
        QVERIFY2(website.start(), qPrintable(website.errorText()));
        CloudClient &ada = signedUp(u"ada@example.com"_s, &project, &website);
        CloudClient &bob = signedUp(u"bob@example.com"_s, &project, &website);

        QVERIFY(awaitTask(ada.createInvite(
                              {{{0, u"Zoë Ångström"_s}}, u"zoe@example.com"_s, u"2031-05-06"_s, {}, {}}))
                    .succeeded());
        const QList<Invite> adas = awaitTask(ada.loadInvites(false, 50)).value.value_or(QList<Invite>());
        QCOMPARE(adas.size(), 1);
        QCOMPARE(adas.constFirst().visitorName, u"Zoë Ångström"_s);
        QCOMPARE(adas.constFirst().token.size(), 22);
        QCOMPARE(awaitTask(bob.loadInvites(false, 50)).value.value_or(QList<Invite>{Invite()}).size(), 0);

        const QUrl page = website.baseUrl().resolved(QUrl(u"/i/"_s + adas.constFirst().token));
        // The invitation leaves by mail, once, to the guest, with their name, the link and its QR code.
        QTRY_COMPARE_WITH_TIMEOUT(mail.received.size(), 1, 10'000);
        QCOMPARE(mail.received.constFirst().to, "zoe@example.com"_ba);
        const QJsonObject invitation = readMailBack(mail.received.constFirst().data);
        QCOMPARE(invitation[u"to"][u"name"].toString() + u'|' + invitation[u"subject"].toString(),
                 u"Zoë Ångström|You're invited"_s);
        QVERIFY(invitation[u"plain"].toString().contains(u"Your invitation: "_s + page.toString() + u'\n'));
        QCOMPARE(invitation[u"images"][0][u"qr"].toString(), page.toString());
        const Fetched guest = fetch(m_http, page);
        QCOMPARE(guest.status, 200);
        QVERIFY(guest.body.contains(u"Welcome, Zoë Ångström"_s.toUtf8()));
        QCOMPARE(fetch(m_http, website.baseUrl().resolved(QUrl(u"/i/not-a-token-of-anyone"_s))).status, 404);

        QVERIFY(awaitTask(ada.resendInvite(adas.constFirst().id)).succeeded());
        const auto bobsResend = awaitTask(bob.resendInvite(adas.constFirst().id));
        QVERIFY(bobsResend.errorText().contains(u"Invite not found."_s));
        QTRY_COMPARE_WITH_TIMEOUT(mail.received.size(), 2, 10'000);
        const QDir sent(website.dataDir() + u"/outbox/sent"_s);
        QTRY_COMPARE(sent.entryList({u"*.eml"_s}, QDir::Files).size(), 2);

        // A token whose signature was changed, and one the project never issued.
        QByteArray forged = ada.session()->accessToken.toUtf8();
        forged[forged.size() - 2] = forged[forged.size() - 2] == 'A' ? 'B' : 'A';
        const QUrl api = website.baseUrl().resolved(QUrl(u"/api/invites"_s));
        const QByteArray invite = R"({"answers":[{"slot":0,"value":"Mallory"}],"email":"m@example.com"})";
        QCOMPARE(fetch(m_http, api, invite, "Bearer " + forged).status, 401);
        QCOMPARE(fetch(m_http, api, invite, "Bearer not.a.token").status, 401);
        QCOMPARE(awaitTask(ada.loadInvites(false, 50)).value.value_or(QList<Invite>()).size(), 1);

        // The project's reset link lands on the website's form, whose script takes the session from the
        // fragment; the form changes the password in the project, and only with a session the project issued.
        const QUrl callback = website.baseUrl().resolved(QUrl(u"/auth/callback?next=/reset-password"_s));
        QVERIFY(fetch(m_http, callback).body.contains("link.get('access_token')"));
        const QByteArray password = "&password=new+horse+staple&repeat=new+horse+staple";
        QCOMPARE(fetch(m_http, callback, "token=" + forged + password).status, 400);
        const Fetched changed =
            fetch(m_http, callback, "token=" + ada.session()->accessToken.toUtf8() + password);
        QVERIFY2(changed.body.contains("Password changed"), changed.body.constData());
        QVERIFY(
            awaitTask(
                newDesk({}, &project, &website).signInAccount(u"ada@example.com"_s, u"new horse staple"_s))
                .succeeded());
    }
};

QTEST_MAIN(TestE2e)
#include "tst_e2e.moc"
