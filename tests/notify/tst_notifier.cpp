#include "notify/Notifier.h"
#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace tallybrook;
using namespace tallybrook::testing;

using PostResult = std::optional<NotifyError>;

Q_DECLARE_METATYPE(PostResult)

namespace tallybrook {
// Failure messages name the error instead of leaving it out.
char *toString(const std::optional<NotifyError> &outcome) {
    return QTest::toString(outcome ? outcome->message() : u"delivered"_s);
}
} // namespace tallybrook

// Delivering one alert: the request, the single retry, what is reported and what is remembered.
class TestNotifier : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void postsTheJsonOfTheAddressKind();
    void retriesOnceAndReportsTheLastAnswer_data();
    void retriesOnceAndReportsTheLastAnswer();
    void successClearsTheLastError();
    void failureKeepsTheLastSuccess();
    void hangingEndpointEndsWithANetworkError();
    void closedPortIsANetworkError();
    void testMessageGoesThroughThePost();
    void notifierMayGoAwayWhilePosting();

private:
    [[nodiscard]] Notifier &makeNotifier(std::chrono::milliseconds transferTimeout = 3s);
    [[nodiscard]] QUrl hook() const { return m_server->baseUrl().resolved(QUrl(u"/hooks/desk"_s)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_preferences;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_http;
    std::unique_ptr<Notifier> m_notifier;
    QList<std::chrono::milliseconds> m_waits;
    QDateTime m_now = QDateTime({2025, 3, 4}, {9, 5}, Qt::UTC);
};

namespace {

const VisitorAlert arrival{VisitorAlert::Event::SignIn,
                           u"Zoë Quinn"_s,
                           {{u"Company"_s, u"Acme"_s}},
                           u"Łukasz"_s,
                           QDateTime({2025, 3, 4}, {9, 5, 12}, Qt::UTC)};

} // namespace

void TestNotifier::initTestCase() {
    QStandardPaths::setTestModeEnabled(true);
}

void TestNotifier::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_preferences = std::make_unique<QSettings>(m_dir->filePath(u"desk.ini"_s), QSettings::IniFormat);
    m_server = std::make_unique<ScriptedHttpServer>();
    m_http = std::make_unique<QNetworkAccessManager>();
    m_waits.clear();
}

void TestNotifier::cleanup() {
    m_notifier.reset();
    m_http.reset();
    m_server.reset();
    m_preferences.reset();
    m_dir.reset();
}

Notifier &TestNotifier::makeNotifier(std::chrono::milliseconds transferTimeout) {
    NotifierOptions options;
    options.transferTimeout = transferTimeout;
    // The retry's pause is recorded, not waited for.
    options.wait = [this](std::chrono::milliseconds delay) -> QCoro::Task<void> {
        m_waits.append(delay);
        co_return;
    };
    options.clock = [this] { return m_now; };
    options.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    options.timeZone = QTimeZone::utc();
    m_notifier = std::make_unique<Notifier>(*m_http, *m_preferences, options);
    return *m_notifier;
}

void TestNotifier::postsTheJsonOfTheAddressKind() {
    m_server->enqueue(ScriptedAnswer::json(200, "ok"));
    const auto outcome = awaitTask(makeNotifier().post(arrival, hook()));
    QVERIFY(outcome.finished);
    QCOMPARE(*outcome.value, PostResult());

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->requests().constFirst();
    QCOMPARE(request.method, "POST");
    QCOMPARE(request.path, "/hooks/desk");
    QCOMPARE(request.header("Content-Type"), "application/json");
    // A loopback address is no chat service: it receives the generic object.
    QCOMPARE(request.body, Notifier::body(Notifier::payload(arrival, WebhookKind::Generic,
                                                            QLocale(QLocale::English, QLocale::UnitedStates),
                                                            QTimeZone::utc())));
    QVERIFY(m_waits.isEmpty());
}

void TestNotifier::retriesOnceAndReportsTheLastAnswer_data() {
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<PostResult>("expected");
    QTest::addColumn<int>("requests");

    QTest::newRow("200 at once") << QList<int>{200} << PostResult() << 1;
    QTest::newRow("204 counts as delivered") << QList<int>{204} << PostResult() << 1;
    QTest::newRow("500 then 200") << QList<int>{500, 200} << PostResult() << 2;
    QTest::newRow("404 twice") << QList<int>{404, 404} << PostResult(NotifyError::http(404)) << 2;
    QTest::newRow("the second status is reported")
        << QList<int>{500, 503} << PostResult(NotifyError::http(503)) << 2;
    QTest::newRow("a 3xx answer is no delivery")
        << QList<int>{300, 300} << PostResult(NotifyError::http(300)) << 2;
}

void TestNotifier::retriesOnceAndReportsTheLastAnswer() {
    QFETCH(QList<int>, statuses);
    QFETCH(PostResult, expected);
    QFETCH(int, requests);
    for (int status : statuses)
        m_server->enqueue(ScriptedAnswer::json(status, R"({"error":"nope"})"));
    // A third answer that must never be asked for.
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));

    const auto outcome = awaitTask(makeNotifier().post(arrival, hook()));
    QVERIFY(outcome.finished);
    QCOMPARE(*outcome.value, expected);
    QCOMPARE(m_server->requestCount(), requests);
    QCOMPARE(m_waits,
             requests == 2 ? QList{std::chrono::milliseconds(2s)} : QList<std::chrono::milliseconds>());
    const QList<RecordedRequest> sent = m_server->requests();
    QCOMPARE(sent.constLast().body, sent.constFirst().body);
}

void TestNotifier::successClearsTheLastError() {
    m_preferences->setValue(Notifier::lastErrorKey,
                            u"The service answered with error 500. Check the webhook URL."_s);
    m_server->enqueue(ScriptedAnswer::json(500, "{}"));
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));

    const auto outcome = awaitTask(makeNotifier().post(arrival, hook()));
    QVERIFY(outcome.finished);
    QCOMPARE(*outcome.value, PostResult());
    QVERIFY(!m_preferences->contains(Notifier::lastErrorKey));
    QCOMPARE(m_preferences->value(Notifier::lastSuccessKey).toDateTime(), m_now);
}

void TestNotifier::failureKeepsTheLastSuccess() {
    const QDateTime earlier = m_now.addDays(-1);
    m_preferences->setValue(Notifier::lastSuccessKey, earlier);
    m_server->enqueue(ScriptedAnswer::json(404, "{}"));
    m_server->enqueue(ScriptedAnswer::json(404, "{}"));

    const auto outcome = awaitTask(makeNotifier().post(arrival, hook()));
    QVERIFY(outcome.finished);
    QCOMPARE(outcome.value->value().message(),
             u"The service answered with error 404. Check the webhook URL."_s);
    QCOMPARE(m_preferences->value(Notifier::lastErrorKey).toString(), outcome.value->value().message());
    QCOMPARE(m_preferences->value(Notifier::lastSuccessKey).toDateTime(), earlier);
}

void TestNotifier::hangingEndpointEndsWithANetworkError() {
    m_server->enqueue(ScriptedAnswer::hang());
    m_server->enqueue(ScriptedAnswer::hang());
    NotifierOptions options;
    options.transferTimeout = 300ms;
    // The real timer this time, shortened.
    options.retryDelay = 100ms;
    Notifier notifier(*m_http, *m_preferences, options);

    QElapsedTimer clock;
    clock.start();
    const auto outcome = awaitTask(notifier.post(arrival, hook()), 5000);
    QVERIFY2(outcome.finished, "the post never ended");
    QCOMPARE(*outcome.value, PostResult(NotifyError::network(u"The request timed out."_s)));
    QCOMPARE(m_server->requestCount(), 2);
    QVERIFY2(clock.elapsed() >= 700, "both attempts and the pause between them");
    QCOMPARE(m_preferences->value(Notifier::lastErrorKey).toString(), u"The request timed out."_s);
}

void TestNotifier::closedPortIsANetworkError() {
    const QUrl closed = hook();
    m_server.reset();
    const auto outcome = awaitTask(makeNotifier().post(arrival, closed));
    QVERIFY(outcome.finished);
    QCOMPARE(*outcome.value, PostResult(NotifyError::network(u"Could not connect to the server."_s)));
    QCOMPARE(m_waits.size(), 1);
}

void TestNotifier::testMessageGoesThroughThePost() {
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));
    const auto outcome = awaitTask(makeNotifier().post(VisitorAlert::testMessage(m_now), hook()));
    QVERIFY(outcome.finished);
    QCOMPARE(*outcome.value, PostResult());
    const QJsonObject sent = QJsonDocument::fromJson(m_server->requests().constFirst().body).object();
    QCOMPARE(sent.value(u"text"_s).toString(),
             u"Test Visitor has signed in · 9:05 AM\nNote: This is a test from Tallybrook."_s);
    const QJsonArray fields{
        QJsonObject{{u"label"_s, u"Note"_s}, {u"value"_s, u"This is a test from Tallybrook."_s}}};
    QCOMPARE(sent.value(u"fields"_s).toArray(), fields);
    QVERIFY(!sent.contains(u"host"_s));
}

void TestNotifier::notifierMayGoAwayWhilePosting() {
    m_server->enqueue(ScriptedAnswer::json(500, "{}").delayedBy(100ms));
    m_server->enqueue(ScriptedAnswer::json(200, "{}"));
    auto outcome = start(makeNotifier().post(arrival, hook()));
    QVERIFY(m_server->waitForRequests(1));
    m_notifier.reset();

    QTRY_VERIFY(outcome->finished);
    QCOMPARE(*outcome->value, PostResult());
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(m_preferences->value(Notifier::lastSuccessKey).toDateTime(), m_now);
}

QTEST_GUILESS_MAIN(TestNotifier)

#include "tst_notifier.moc"
