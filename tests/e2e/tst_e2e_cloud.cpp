#include "E2eFixture.h"
#include "records/Uuid.h"

#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;

namespace {

NewVisitor visitor(const CloudClient &desk, const QString &name, const QDateTime &at,
                   const std::optional<QString> &host = std::nullopt, QList<VisitorAnswer> answers = {}) {
    return NewVisitor{
        desk.session()->userID, uuidUpper(QUuid::createUuid()), name, host, std::move(answers), at,
        u"Front Desk"_s};
}

QStringList names(const QList<VisitorRow> &rows) {
    QStringList result;
    for (const VisitorRow &row : rows) {
        result.append(row.visitorName);
    }
    return result;
}

} // namespace

// Every CloudClient operation against the real local server.
class TestE2eCloud : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void accounts();
    void confirmationIsRequiredWhenAsked();
    void staleTokenIsRefreshedOnceAndSignOutEndsIt();
    void visitorLog();
    void searches_data();
    void searches();
    void invites();
    void accountsAreIsolatedAndDeletable();

private:
    std::unique_ptr<E2eFixture> m_f;
    CloudClient *m_desk = nullptr;
    QDateTime m_base;
};

void TestE2eCloud::initTestCase() {
    m_f = std::make_unique<E2eFixture>();
    QVERIFY(m_f->start());
    m_desk = &m_f->newDesk();
    QVERIFY(E2eFixture::signUp(*m_desk, u"owner@example.com"_s));
    m_base = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QList<std::pair<QString, std::optional<QString>>> people{
        {u"Ann_Lee"_s, u"Zo\u00eb Park"_s},  {u"Annalee Smith"_s, std::nullopt},
        {u"50% Off Deals"_s, std::nullopt},  {u"C:\\Users\\Bob"_s, std::nullopt},
        {u"a+b Consulting"_s, std::nullopt}, {u"\u0141ukasz Nowak"_s, std::nullopt}};
    for (qsizetype i = 0; i < people.size(); ++i) {
        const auto inserted = awaitTask(m_desk->insertVisitor(
            visitor(*m_desk, people[i].first, m_base.addSecs(i * 60), people[i].second)));
        QVERIFY2(inserted.succeeded(), qPrintable(inserted.errorText()));
        QCOMPARE(inserted.value->visitorName, people[i].first);
    }
}

void TestE2eCloud::cleanupTestCase() {
    m_f.reset();
}

void TestE2eCloud::accounts() {
    // An account of its own: signing out ends every session of the account.
    CloudClient &first = m_f->newDesk();
    QVERIFY(E2eFixture::signUp(first, u"chores@example.com"_s));
    CloudClient &desk = m_f->newDesk();
    QCOMPARE(awaitTask(desk.signUp(u"chores@example.com"_s, u"another one"_s, u"X"_s)).errorText(),
             u"There's already an account for that email. Sign in with it instead."_s);
    QCOMPARE(awaitTask(desk.signInAccount(u"chores@example.com"_s, u"wrong password"_s)).errorText(),
             u"That email and password combination did not work."_s);
    const auto signedIn = awaitTask(desk.signInAccount(u"  chores@example.com\t"_s, u"correct horse"_s));
    QVERIFY2(signedIn.succeeded(), qPrintable(signedIn.errorText()));
    QCOMPARE(desk.session()->email, u"chores@example.com"_s);
    QCOMPARE(desk.session()->userID, first.session()->userID);

    QVERIFY(awaitTask(desk.sendPasswordReset(u"nobody@example.com"_s)).succeeded());
    QVERIFY(awaitTask(desk.changePassword(u"correct horse battery"_s)).succeeded());
    QVERIFY(awaitTask(desk.signInAccount(u"chores@example.com"_s, u"correct horse battery"_s)).succeeded());
    desk.signOutAccount();
    QVERIFY(!desk.isSignedIn());
}

void TestE2eCloud::confirmationIsRequiredWhenAsked() {
    E2eFixture confirming(QStringList{u"--confirm-emails"_s});
    QVERIFY(confirming.start());
    CloudClient &desk = confirming.newDesk();
    const auto signedUp = awaitTask(desk.signUp(u"new@example.com"_s, u"long enough"_s, u"New"_s));
    QVERIFY2(signedUp.succeeded(), qPrintable(signedUp.errorText()));
    QVERIFY(!signedUp.value->has_value());
    QVERIFY(!desk.isSignedIn());
    QCOMPARE(awaitTask(desk.signInAccount(u"new@example.com"_s, u"long enough"_s)).errorText(),
             u"Confirm your email first. Check your inbox for the link we sent when you signed up."_s);
}

void TestE2eCloud::staleTokenIsRefreshedOnceAndSignOutEndsIt() {
    CloudClient &desk = m_f->newDesk();
    QVERIFY(E2eFixture::signUp(desk, u"refresh@example.com"_s));
    QVERIFY(awaitTask(desk.insertVisitor(visitor(desk, u"Someone"_s, QDateTime::currentDateTimeUtc())))
                .succeeded());

    // A copy of the session about to expire: three calls started together refresh it once.
    FakeSessionStore laterStore;
    laterStore.stored = desk.session();
    laterStore.stored->expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
    CloudClient later(*m_f->http, laterStore, m_f->config());
    laterStore.client = &later;
    const auto a = start(later.countVisitors({}));
    const auto b = start(later.onSiteVisitors());
    const auto c = start(later.countVisitors({}));
    QTRY_VERIFY(a->finished && b->finished && c->finished);
    QVERIFY2(a->succeeded() && b->succeeded() && c->succeeded(), qPrintable(a->errorText() + b->errorText()));
    QCOMPARE(*a->value, 1);
    QCOMPARE(laterStore.saves.size(), 1);
    QVERIFY(later.session()->refreshToken != desk.session()->refreshToken); // rotated

    // Signing out ends every session of the account: the copy cannot refresh any more.
    desk.signOutAccount();
    QTest::qWait(500); // the sign-out notice is not awaited by design
    FakeSessionStore copyStore;
    copyStore.stored = later.session();
    copyStore.stored->expiresAt = QDateTime::currentDateTimeUtc().addSecs(10);
    CloudClient copy(*m_f->http, copyStore, m_f->config());
    copyStore.client = &copy;
    QCOMPARE(awaitTask(copy.onSiteVisitors()).errorText(), u"Your session ended. Please sign in again."_s);
    QVERIFY(!copy.isSignedIn());

    // A token that was tampered with is refused and ends the session.
    FakeSessionStore tamperedStore;
    tamperedStore.stored = *m_desk->session();
    tamperedStore.stored->accessToken.chop(3);
    tamperedStore.stored->accessToken += u"abc"_s;
    CloudClient tampered(*m_f->http, tamperedStore, m_f->config());
    tamperedStore.client = &tampered;
    QCOMPARE(awaitTask(tampered.onSiteVisitors()).errorText(),
             u"Your session ended. Please sign in again."_s);
    QVERIFY(!tampered.isSignedIn());
}

void TestE2eCloud::visitorLog() {
    const auto onSite = awaitTask(m_desk->onSiteVisitors());
    QVERIFY2(onSite.succeeded(), qPrintable(onSite.errorText()));
    QCOMPARE(onSite.value->size(), 6);
    QCOMPARE(onSite.value->constFirst().visitorName, u"\u0141ukasz Nowak"_s); // newest first

    const auto page = awaitTask(m_desk->visitorPage({}, 2, 2));
    QCOMPARE(names(*page.value), (QStringList{u"C:\\Users\\Bob"_s, u"50% Off Deals"_s}));
    const auto windowed =
        awaitTask(m_desk->visitorPage({QString(), m_base.addSecs(60), m_base.addSecs(180)}, 50, 0));
    QCOMPARE(names(*windowed.value), (QStringList{u"50% Off Deals"_s, u"Annalee Smith"_s}));
    const auto everything = awaitTask(m_desk->allVisitors({}));
    QCOMPARE(everything.value->size(), 6);

    const VisitorRow bob = everything.value->at(2);
    QCOMPARE(awaitTask(m_desk->signOutVisitor(bob.id, QDateTime::currentDateTimeUtc())).value,
             std::optional(true));
    // Signing out again keeps the first time, and says it changed nothing.
    QCOMPARE(awaitTask(m_desk->signOutVisitor(bob.id, QDateTime::currentDateTimeUtc().addSecs(600))).value,
             std::optional(false));
    const auto counts = awaitTask(m_desk->deskCounts(QDateTime::currentDateTimeUtc()));
    QVERIFY2(counts.succeeded(), qPrintable(counts.errorText()));
    QCOMPARE(counts.value->onSite, 5);
    QVERIFY(counts.value->thisWeek >= counts.value->today);
    const auto bobAgain = awaitTask(m_desk->visitorPage({u"users"_s, {}, {}}, 5, 0));
    QCOMPARE(bobAgain.value->size(), 1);
    QVERIFY(bobAgain.value->constFirst().signedOutAt);
    QVERIFY(bobAgain.value->constFirst().signedOutAt < QDateTime::currentDateTimeUtc().addSecs(60));

    // A visitor from a month ago is in the log but not in this week.
    QVERIFY(awaitTask(m_desk->insertVisitor(visitor(*m_desk, u"Walk-in"_s, m_base.addSecs(-86400 * 30))))
                .succeeded());
}

void TestE2eCloud::searches_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("underscore is literal") << u"ann_lee"_s << QStringList{u"Ann_Lee"_s};
    QTest::newRow("plain prefix") << u"Anna"_s << QStringList{u"Annalee Smith"_s};
    QTest::newRow("percent is literal") << u"50%"_s << QStringList{u"50% Off Deals"_s};
    QTest::newRow("backslash") << u"c:\\users"_s << QStringList{u"C:\\Users\\Bob"_s};
    QTest::newRow("plus") << u"a+b"_s << QStringList{u"a+b Consulting"_s};
    QTest::newRow("non-ASCII, any case") << u"\u0141UKASZ"_s << QStringList{u"\u0141ukasz Nowak"_s};
    QTest::newRow("host is searchable") << u"zo\u00eb"_s << QStringList{u"Ann_Lee"_s};
    QTest::newRow("two letters") << u"ob"_s << QStringList{u"C:\\Users\\Bob"_s};
    QTest::newRow("nothing") << u"zzzz"_s << QStringList{};
}

void TestE2eCloud::searches() {
    QFETCH(QString, search);
    QFETCH(QStringList, found);
    const auto page = awaitTask(m_desk->visitorPage({search, {}, {}}, 50, 0));
    QVERIFY2(page.succeeded(), qPrintable(page.errorText()));
    QCOMPARE(names(*page.value), found);
    const auto total = awaitTask(m_desk->countVisitors(VisitorQuery{search, {}, {}}.queryItems()));
    QCOMPARE(*total.value, found.size());
}

void TestE2eCloud::invites() {
    NewInvite invite;
    invite.email = u"guest@example.com"_s;
    invite.answers = {{0, u"Guest One"_s}};
    invite.visitDate = QDate::currentDate().addDays(1).toString(Qt::ISODate);
    invite.visitTime = u"14:30"_s;
    QVERIFY(awaitTask(m_desk->createInvite(invite)).succeeded());
    invite.answers = {{0, u"Guest Two"_s}};
    QVERIFY(awaitTask(m_desk->createInvite(invite)).succeeded());
    NewInvite broken = invite;
    broken.email = u"not an email"_s;
    const auto refused = awaitTask(m_desk->createInvite(broken));
    QCOMPARE(refused.error<CloudError>()->status(), 422);
    QVERIFY(!refused.errorText().isEmpty());

    auto listed = awaitTask(m_desk->loadInvites(false, 50));
    QCOMPARE(listed.value->size(), 2);
    QCOMPARE(listed.value->constFirst().visitorName, u"Guest Two"_s);
    const Invite first = listed.value->at(1);
    QCOMPARE(first.visitTime, std::optional(u"14:30"_s));
    QVERIFY(!first.token.isEmpty());

    QVERIFY(awaitTask(m_desk->resendInvite(first.id)).succeeded());
    QCOMPARE(awaitTask(m_desk->resendInvite(QUuid::createUuid())).error<CloudError>()->status(), 404);
    QVERIFY(awaitTask(m_desk->markInviteUsed(first.id, QDateTime::currentDateTimeUtc())).succeeded());
    QCOMPARE(awaitTask(m_desk->loadInvites(true, 200)).value->size(), 1);
    QVERIFY(awaitTask(m_desk->deleteInvite(listed.value->constFirst().id)).succeeded());
    QVERIFY(awaitTask(m_desk->deleteInvite(QUuid::createUuid())).succeeded()); // nothing matched: fine
    listed = awaitTask(m_desk->loadInvites(false, 50));
    QCOMPARE(listed.value->size(), 1);
    QVERIFY(listed.value->constFirst().usedAt);
}

void TestE2eCloud::accountsAreIsolatedAndDeletable() {
    CloudClient &other = m_f->newDesk();
    QVERIFY(E2eFixture::signUp(other, u"other@example.com"_s));
    QVERIFY(awaitTask(other.onSiteVisitors()).value->isEmpty());
    QCOMPARE(*awaitTask(other.countVisitors({})).value, 0);
    const auto mine = awaitTask(m_desk->onSiteVisitors());
    const VisitorRow target = mine.value->constFirst();
    QVERIFY(awaitTask(other.signOutVisitor(target.id, QDateTime::currentDateTimeUtc())).succeeded());
    const auto still = awaitTask(m_desk->visitorPage({target.visitorName, {}, {}}, 5, 0));
    QVERIFY(!still.value->constFirst().signedOutAt); // the other account touched nothing

    // A record naming another owner is refused.
    NewVisitor forged = visitor(other, u"Forged"_s, QDateTime::currentDateTimeUtc());
    forged.ownerID = m_desk->session()->userID;
    QCOMPARE(awaitTask(other.insertVisitor(forged)).error<CloudError>()->status(), 403);

    QVERIFY(awaitTask(other.deleteAccount()).succeeded());
    QVERIFY(!other.isSignedIn());
    QCOMPARE(awaitTask(other.signInAccount(u"other@example.com"_s, u"correct horse"_s)).errorText(),
             u"That email and password combination did not work."_s);
}

QTEST_GUILESS_MAIN(TestE2eCloud)
#include "tst_e2e_cloud.moc"
