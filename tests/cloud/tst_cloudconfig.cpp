#include "cloud/CloudConfig.h"

#include <QTest>

using namespace tallybrook;
using namespace Qt::StringLiterals;

class TestCloudConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void acceptsHttpsAndLoopbackHttpOnly_data();
    void acceptsHttpsAndLoopbackHttpOnly();
    void appendsPathsWithOneSlash();
    void environmentOverridesTheBuild();
};

void TestCloudConfig::acceptsHttpsAndLoopbackHttpOnly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("https") << u"https://example.com:8443/base"_s << true;
    QTest::newRow("http on 127.0.0.1") << u"http://127.0.0.1:54321"_s << true;
    QTest::newRow("http on another 127/8 address") << u"http://127.8.9.10:1"_s << true;
    QTest::newRow("http on localhost, any case") << u"http://LOCALHOST:8080"_s << true;
    QTest::newRow("http on ::1") << u"http://[::1]:54321"_s << true;
    QTest::newRow("http elsewhere") << u"http://example.com"_s << false;
    QTest::newRow("http on the office network") << u"http://192.168.1.20:54321"_s << false;
    QTest::newRow("http on a look-alike host") << u"http://127.0.0.1.example.com"_s << false;
    QTest::newRow("another scheme") << u"ftp://example.com"_s << false;
    QTest::newRow("no host") << u"https://"_s << false;
    QTest::newRow("credentials in the URL") << u"https://user:pw@example.com"_s << false;
    QTest::newRow("a query") << u"https://example.com/?next=http://evil.example"_s << false;
    QTest::newRow("a fragment") << u"https://example.com/#x"_s << false;
}

void TestCloudConfig::acceptsHttpsAndLoopbackHttpOnly() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(CloudConfig::acceptedBaseURL(text), accepted ? std::optional(QUrl(text)) : std::nullopt);
}

void TestCloudConfig::appendsPathsWithOneSlash() {
    QCOMPARE(appendingPath(QUrl(u"https://a.co"_s), u"auth/v1"_s), QUrl(u"https://a.co/auth/v1"_s));
    QCOMPARE(appendingPath(QUrl(u"https://a.co/base//"_s), u"//support"_s),
             QUrl(u"https://a.co/base/support"_s));
}

void TestCloudConfig::environmentOverridesTheBuild() {
    qputenv("TALLYBROOK_BACKEND_URL", " https://project.example.co ");
    qputenv("TALLYBROOK_WEBSITE_URL", "http://example.org"); // plain http off this computer: ignored
    qputenv("TALLYBROOK_PUBLISHABLE_KEY", "sb_publishable_from_the_environment_000000000");
    const CloudConfig config = CloudConfig::fromEnvironment();
    QCOMPARE(config.backendURL, QUrl(u"https://project.example.co"_s));
    QVERIFY(config.websiteURL.isValid());
    QVERIFY(config.websiteURL.host() != u"example.org"_s);
    QCOMPARE(config.publishableKey, u"sb_publishable_from_the_environment_000000000"_s);
    QCOMPARE(config.pageURL(u"guides/kiosk-setup"_s),
             appendingPath(config.websiteURL, u"guides/kiosk-setup"_s));

    qunsetenv("TALLYBROOK_BACKEND_URL");
    qunsetenv("TALLYBROOK_WEBSITE_URL");
    qunsetenv("TALLYBROOK_PUBLISHABLE_KEY");
    const CloudConfig defaults = CloudConfig::fromEnvironment();
    QVERIFY(CloudConfig::acceptedBaseURL(defaults.backendURL.toString()).has_value());
    QVERIFY(defaults.publishableKey.startsWith(u"sb_publishable_"));
    QCOMPARE(defaults.publicAuthTimeout, std::chrono::milliseconds(15'000));
    QCOMPARE(defaults.authorizedTimeout, std::chrono::milliseconds(30'000));
    QCOMPARE(defaults.signOutTimeout, std::chrono::milliseconds(10'000));
}

QTEST_GUILESS_MAIN(TestCloudConfig)
#include "tst_cloudconfig.moc"
