#include "support/ScriptedHttpServer.h"
#include "support/TaskOutcome.h"
#include "updates/UpdateChecker.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using namespace tallybrook;
using namespace tallybrook::testing;
using namespace Qt::StringLiterals;
using Kind = UpdateStatus::Kind;

namespace {

QByteArray manifest(const QByteArray &minimum, const QByteArray &latest,
                    const QByteArray &url = "https://tallybrook.app/download") {
    return R"({"direct":{"minimumVersion":")" + minimum + R"(","latestVersion":")" + latest +
           R"(","downloadURL":")" + url + R"("},"appStore":null})";
}

} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void comparesVersions_data();
    void comparesVersions();
    void readsManifests_data();
    void readsManifests();
    void evaluatesTheRunningVersion_data();
    void evaluatesTheRunningVersion();
    void failedChecksKeepTheStatus_data();
    void failedChecksKeepTheStatus();
    void dismissedOfferReturnsOnlyForANewVersion();
    void activationChecksOnlyAfterAnHour();

private:
    std::unique_ptr<UpdateChecker> makeChecker(ScriptedHttpServer &server, QNetworkAccessManager &http,
                                               const QString &running);
    QDateTime m_now = QDateTime(QDate(2025, 3, 4), QTime(9, 0), Qt::UTC);
};

void TestUpdateChecker::comparesVersions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("missing piece is zero") << u"1.2"_s << u"1.2.0"_s << 0;
    QTest::newRow("numeric, not textual") << u"1.10"_s << u"1.9"_s << 1;
    QTest::newRow("suffix counts as zero") << u"2.0-beta"_s << u"2.0"_s << 0;
    QTest::newRow("empty pieces dropped") << u"1..2"_s << u"1.2"_s << 0;
    QTest::newRow("letters count as zero") << u"2b"_s << u"0"_s << 0;
    QTest::newRow("less") << u"1.4"_s << u"1.5"_s << -1;
    QTest::newRow("longer is greater when the rest is not zero") << u"1.6"_s << u"1.6.1"_s << -1;
    QTest::newRow("empty is zero") << QString() << u"0.0"_s << 0;
}

void TestUpdateChecker::comparesVersions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(compareVersions(a, b), order);
    QCOMPARE(compareVersions(b, a), -order);
}

void TestUpdateChecker::readsManifests_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("hasDirect");
    QTest::newRow("both channels")
        << QByteArray(
               R"({"direct":{"minimumVersion":"1","latestVersion":"2","downloadURL":"https://a.b/d","x":1},)"
               R"("appStore":{"minimumVersion":"1","latestVersion":"2","downloadURL":"https://a.b/s"}})")
        << true << true;
    QTest::newRow("no channels") << QByteArray("{}") << true << false;
    QTest::newRow("null channel") << QByteArray(R"({"direct":null})") << true << false;
    QTest::newRow("missing key") << QByteArray(
                                        R"({"direct":{"minimumVersion":"1","downloadURL":"https://a.b/d"}})")
                                 << false << false;
    QTest::newRow("number instead of text")
        << QByteArray(R"({"direct":{"minimumVersion":1,"latestVersion":"2","downloadURL":"https://a.b/d"}})")
        << false << false;
    QTest::newRow("channel not an object") << QByteArray(R"({"appStore":"soon"})") << false << false;
    QTest::newRow("not json") << QByteArray("<html>") << false << false;
    QTest::newRow("array") << QByteArray("[]") << false << false;
}

void TestUpdateChecker::readsManifests() {
    QFETCH(QByteArray, body);
    QFETCH(bool, readable);
    QFETCH(bool, hasDirect);
    const auto manifest = VersionManifest::fromJson(body);
    QCOMPARE(manifest.has_value(), readable);
    if (manifest) {
        QCOMPARE(manifest->direct.has_value(), hasDirect);
    }
}

void TestUpdateChecker::evaluatesTheRunningVersion_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("running");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("version");
    QTest::newRow("below the minimum")
        << manifest("1.5", "1.6") << 0 << u"1.4"_s << Kind::Required << u"1.6"_s;
    QTest::newRow("latest written longer")
        << manifest("1.0", "1.6.0") << 0 << u"1.6"_s << Kind::UpToDate << QString();
    QTest::newRow("newer patch") << manifest("1.0", "1.6.1") << 0 << u"1.6"_s << Kind::Available
                                 << u"1.6.1"_s;
    QTest::newRow("no running version counts as 0")
        << manifest("0.1", "1.0") << 0 << QString() << Kind::Required << u"1.0"_s;
    QTest::newRow("only the other channel")
        << QByteArray(
               R"({"appStore":{"minimumVersion":"9","latestVersion":"9","downloadURL":"https://a.b"}})")
        << 0 << u"1.0"_s << Kind::UpToDate << QString();
    QTest::newRow("store copy reads its own channel")
        << QByteArray(
               R"({"appStore":{"minimumVersion":"9","latestVersion":"9.1","downloadURL":"https://a.b"}})")
        << 1 << u"1.0"_s << Kind::Required << u"9.1"_s;
    // A link the desk will not open offers nothing, whatever the versions say; only the channel in use
    // counts.
    QTest::newRow("file link") << manifest("1.0", "9.0", "file:///tmp/x") << 0 << u"1.0"_s << Kind::UpToDate
                               << QString();
    QTest::newRow("plain http elsewhere")
        << manifest("9.0", "9.1", "http://evil.example") << 0 << u"1.0"_s << Kind::UpToDate << QString();
    QTest::newRow("link that is not a URL")
        << manifest("9.0", "9.1", "http://[::1") << 0 << u"1.0"_s << Kind::UpToDate << QString();
    QTest::newRow("plain http on this computer")
        << manifest("1.0", "9.0", "http://127.0.0.1:5/d") << 0 << u"1.0"_s << Kind::Available << u"9.0"_s;
    QTest::newRow("file link in the other channel")
        << QByteArray(
               R"({"direct":{"minimumVersion":"1","latestVersion":"9","downloadURL":"https://a.b"},)"
               R"("appStore":{"minimumVersion":"1","latestVersion":"9","downloadURL":"file:///tmp/x"}})")
        << 0 << u"1.0"_s << Kind::Available << u"9"_s;
}

void TestUpdateChecker::evaluatesTheRunningVersion() {
    QFETCH(QByteArray, body);
    QFETCH(int, channel);
    QFETCH(QString, running);
    QFETCH(Kind, kind);
    QFETCH(QString, version);
    const auto parsed = VersionManifest::fromJson(body);
    QVERIFY(parsed);
    const UpdateStatus status = UpdateChecker::evaluate(
        *parsed, channel == 0 ? UpdateChecker::Channel::Direct : UpdateChecker::Channel::AppStore, running);
    QCOMPARE(status.kind, kind);
    QCOMPARE(status.version, version);
}

std::unique_ptr<UpdateChecker> TestUpdateChecker::makeChecker(ScriptedHttpServer &server,
                                                              QNetworkAccessManager &http,
                                                              const QString &running) {
    UpdateChecker::Options options;
    options.manifestURL = QUrl(server.baseUrl().toString() + u"/api/mac/version"_s);
    options.runningVersion = running;
    options.timeout = std::chrono::milliseconds(2000);
    options.checkAtCreation = false;
    options.clock = [this] { return m_now; };
    return std::make_unique<UpdateChecker>(http, options);
}

void TestUpdateChecker::failedChecksKeepTheStatus_data() {
    QTest::addColumn<ScriptedAnswer>("answer");
    QTest::newRow("304") << ScriptedAnswer::json(304, {});
    QTest::newRow("500") << ScriptedAnswer::json(500, manifest("1.0", "9.0"));
    QTest::newRow("201 is not 200") << ScriptedAnswer::json(201, manifest("9.0", "9.0"));
    QTest::newRow("malformed json") << ScriptedAnswer::json(200, R"({"direct":{"minimumVersion")");
    QTest::newRow("connection dropped twice") << ScriptedAnswer::drop();
}

void TestUpdateChecker::failedChecksKeepTheStatus() {
    QFETCH(ScriptedAnswer, answer);
    ScriptedHttpServer server;
    QNetworkAccessManager http;
    auto checker = makeChecker(server, http, u"1.0"_s);
    server.enqueue(ScriptedAnswer::json(200, manifest("1.0", "1.1")));
    QVERIFY(runTask(checker->check()));
    QCOMPARE(checker->status().kind, Kind::Available);
    const RecordedRequest first = server.requests().constFirst();
    QCOMPARE(first.path, QByteArray("/api/mac/version"));
    QCOMPARE(first.header("Accept"), QByteArray("application/json"));

    QSignalSpy changed(checker.get(), &UpdateChecker::statusChanged);
    server.setHandler([answer](const RecordedRequest &) { return answer; });
    m_now = m_now.addSecs(10);
    QVERIFY(runTask(checker->check()));
    QCOMPARE(checker->status().kind, Kind::Available);
    QCOMPARE(checker->status().version, u"1.1"_s);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(*checker->lastCheck(), m_now); // a failed check counts as a check
}

void TestUpdateChecker::dismissedOfferReturnsOnlyForANewVersion() {
    ScriptedHttpServer server;
    QNetworkAccessManager http;
    auto checker = makeChecker(server, http, u"1.9"_s);
    server.setHandler(
        [](const RecordedRequest &) { return ScriptedAnswer::json(200, manifest("1.0", "2.0")); });
    QVERIFY(runTask(checker->check()));
    QCOMPARE(checker->offeredUpdate()->version, u"2.0"_s);

    checker->setDismissedVersion(u"2.0"_s);
    QVERIFY(!checker->offeredUpdate());
    QVERIFY(runTask(checker->check()));
    QVERIFY(!checker->offeredUpdate());

    server.setHandler(
        [](const RecordedRequest &) { return ScriptedAnswer::json(200, manifest("1.0", "2.0.1")); });
    QVERIFY(runTask(checker->check()));
    QCOMPARE(checker->offeredUpdate()->version, u"2.0.1"_s);
}

void TestUpdateChecker::activationChecksOnlyAfterAnHour() {
    ScriptedHttpServer server;
    QNetworkAccessManager http;
    auto checker = makeChecker(server, http, u"1.0"_s);
    server.setHandler(
        [](const RecordedRequest &) { return ScriptedAnswer::json(200, manifest("1.0", "1.0")); });

    checker->applicationBecameActive(); // never checked: nothing to compare with
    QTest::qWait(50);
    QCOMPARE(server.requestCount(), 0);

    QVERIFY(runTask(checker->check()));
    m_now = m_now.addSecs(3600);
    checker->applicationBecameActive();
    QTest::qWait(50);
    QCOMPARE(server.requestCount(), 1);

    m_now = m_now.addSecs(1);
    checker->applicationBecameActive();
    QVERIFY(server.waitForRequests(2));
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
