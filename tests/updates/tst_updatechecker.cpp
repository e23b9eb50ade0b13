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
using Channel = UpdateChecker::Channel;

namespace {

QByteArray channel(const QByteArray &minimum, const QByteArray &latest, const QByteArray &url) {
    return R"({"minimumVersion":")" + minimum + R"(","latestVersion":")" + latest + R"(","downloadURL":")" +
           url + R"("})";
}

QByteArray manifest(const QByteArray &minimum, const QByteArray &latest,
                    const QByteArray &url = "https://tallybrook.app/download",
                    const QByteArray &store = "null") {
    return R"({"direct":)" + channel(minimum, latest, url) + R"(,"appStore":)" + store + "}";
}

// Answers that are no manifest: each would change the status if it were read as one. (Outside the class: moc
// cannot read raw strings.)
const QByteArray malformed = R"({"direct":{"minimumVersion")";
const QByteArray numberForText =
    R"({"direct":{"minimumVersion":9,"latestVersion":"9","downloadURL":"https://a.b"}})";
const QByteArray channelNotAnObject = R"({"direct":"soon"})";

} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT

    QDateTime m_now = QDateTime(QDate(2025, 3, 4), QTime(9, 0), Qt::UTC);
    QNetworkAccessManager m_http;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<UpdateChecker> m_checker;

private Q_SLOTS:
    void init() {
        m_server = std::make_unique<ScriptedHttpServer>();
        UpdateChecker::Options options;
        options.manifestURL = m_server->baseUrl();
        options.runningVersion = u"1.0"_s;
        options.checkAtCreation = false;
        options.clock = [this] { return m_now; };
        m_checker = std::make_unique<UpdateChecker>(m_http, options);
    }

    void comparesVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("numeric, not textual") << u"1.10"_s << u"1.9"_s << 1;
        QTest::newRow("non-numeric piece counts as zero") << u"2.0-beta"_s << u"2.0"_s << 0;
        QTest::newRow("empty pieces dropped") << u"1..2"_s << u"1.2"_s << 0;
    }
    void comparesVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a, b), order);
        QCOMPARE(compareVersions(b, a), -order);
    }

    // The running version is 1. Only the channel in use counts; a download link the desk will not open offers
    // nothing, whatever the versions say.
    void evaluatesTheChannelInUse_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<Channel>("channel");
        QTest::addColumn<QString>("status");
        const auto direct = Channel::Direct;
        const QByteArray store = channel("9", "9.1", "https://a.b/s");
        QTest::newRow("latest written longer") << manifest("1", "1.0.0") << direct << u"up to date"_s;
        QTest::newRow("newer patch") << manifest("1", "1.0.1") << direct << u"available 1.0.1"_s;
        QTest::newRow("only the other channel")
            << "{\"appStore\":" + store + "}" << direct << u"up to date"_s;
        QTest::newRow("the store's copy")
            << manifest("1", "1", "https://a", store) << Channel::AppStore << u"required 9.1"_s;
        QTest::newRow("file link") << manifest("1", "9", "file:///tmp/x") << direct << u"up to date"_s;
        QTest::newRow("file link on this computer")
            << manifest("1", "9", "file://127.0.0.1/x") << direct << u"up to date"_s;
        QTest::newRow("plain http elsewhere")
            << manifest("9", "9", "http://a.b") << direct << u"up to date"_s;
        QTest::newRow("plain http on this computer")
            << manifest("1", "9", "http://127.0.0.1:5") << direct << u"available 9"_s;
        QTest::newRow("file link in the other channel")
            << manifest("1", "9", "https://a", channel("1", "9", "file:///x")) << direct << u"available 9"_s;
    }
    void evaluatesTheChannelInUse() {
        QFETCH(QByteArray, body);
        QFETCH(Channel, channel);
        QFETCH(QString, status);
        const UpdateStatus got = UpdateChecker::evaluate(*VersionManifest::fromJson(body), channel, u"1"_s);
        QCOMPARE(got.kind == Kind::UpToDate
                     ? u"up to date"_s
                     : (got.kind == Kind::Required ? u"required "_s : u"available "_s) + got.version,
                 status);
    }

    // Every failure is silent and leaves the status as it was. A lost connection has no body and fails as the
    // malformed one does.
    void failedChecksKeepTheStatus_data() {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::newRow("201 is not 200") << ScriptedAnswer::json(201, manifest("9.0", "9.0"));
        QTest::newRow("malformed json") << ScriptedAnswer::json(200, malformed);
        QTest::newRow("a number for a version") << ScriptedAnswer::json(200, numberForText);
        QTest::newRow("a channel that is not an object") << ScriptedAnswer::json(200, channelNotAnObject);
    }
    void failedChecksKeepTheStatus() {
        QFETCH(ScriptedAnswer, answer);
        m_server->enqueue(ScriptedAnswer::json(200, manifest("1.0", "1.1")));
        QVERIFY(runTask(m_checker->check()));
        QCOMPARE(m_checker->status().kind, Kind::Available);
        QCOMPARE(m_server->requests().constFirst().header("Accept"), QByteArray("application/json"));

        QSignalSpy changed(m_checker.get(), &UpdateChecker::statusChanged);
        m_server->setHandler([answer](const RecordedRequest &) { return answer; });
        m_now = m_now.addSecs(10);
        QVERIFY(runTask(m_checker->check()));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(*m_checker->lastCheck(), m_now); // a failed check counts as a check
    }

    void activationChecksOnlyAfterAnHour() {
        m_server->setHandler(
            [](const RecordedRequest &) { return ScriptedAnswer::json(200, manifest("1", "1")); });
        m_checker->applicationBecameActive(); // never checked: nothing to compare with
        QVERIFY(runTask(m_checker->check()));
        m_now = m_now.addSecs(3600);
        m_checker->applicationBecameActive();
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 1);
        m_now = m_now.addSecs(1);
        m_checker->applicationBecameActive();
        QVERIFY(m_server->waitForRequests(2));
    }
};

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
