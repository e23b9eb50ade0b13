#include "platform/ActivationNotice.h"
#include "platform/ComputerName.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

using namespace tallybrook::platform;
using namespace Qt::StringLiterals;

class TestPlatformSeams : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void computerName_data();
    void computerName();
    void thisComputerHasAName();
    void activationIsReportedOnTheChangeToActive();
};

void TestPlatformSeams::computerName_data() {
    QTest::addColumn<QByteArray>("machineInfo");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("name");
    QTest::newRow("pretty name in double quotes")
        << QByteArray("PRETTY_HOSTNAME=\"Front Desk\"\nCHASSIS=desktop\n") << u"desk-01"_s << u"Front Desk"_s;
    QTest::newRow("pretty name in single quotes")
        << QByteArray("PRETTY_HOSTNAME='Zo\xc3\xab Park'\n") << u"desk-01"_s << u"Zo\u00eb Park"_s;
    QTest::newRow("escaped quote inside double quotes")
        << QByteArray("PRETTY_HOSTNAME=\"Reception \\\"A\\\"\"") << u"desk-01"_s << u"Reception \"A\""_s;
    QTest::newRow("plain value with an escaped space")
        << QByteArray("PRETTY_HOSTNAME=Lobby\\ iMac\n") << u"desk-01"_s << u"Lobby iMac"_s;
    QTest::newRow("comment after the value")
        << QByteArray("PRETTY_HOSTNAME=Lobby # the big one\n") << u"desk-01"_s << u"Lobby"_s;
    QTest::newRow("the last assignment wins")
        << QByteArray("PRETTY_HOSTNAME=Old\nPRETTY_HOSTNAME=\"New Desk\"\n") << u"desk-01"_s << u"New Desk"_s;
    QTest::newRow("Unicode") << QByteArray("PRETTY_HOSTNAME=\"\xc5\x81ukasz \xf0\x9f\x96\xa5\"")
                             << u"desk-01"_s << u"\u0141ukasz \U0001F5A5"_s;
    QTest::newRow("blank pretty name falls back to the host name")
        << QByteArray("PRETTY_HOSTNAME=\"  \"\n") << u"desk-01"_s << u"desk-01"_s;
    QTest::newRow("commented-out pretty name")
        << QByteArray("#PRETTY_HOSTNAME=\"Old\"\n") << u"desk-01"_s << u"desk-01"_s;
    QTest::newRow("no file") << QByteArray() << u"desk-01"_s << u"desk-01"_s;
    QTest::newRow("neither") << QByteArray() << u" "_s << u"Desk"_s;
}

void TestPlatformSeams::computerName() {
    QFETCH(QByteArray, machineInfo);
    QFETCH(QString, hostName);
    QFETCH(QString, name);
    QCOMPARE(computerNameFrom(machineInfo, hostName), name);
}

void TestPlatformSeams::thisComputerHasAName() {
    QVERIFY(!tallybrook::platform::computerName().trimmed().isEmpty());
}

void TestPlatformSeams::activationIsReportedOnTheChangeToActive() {
    ActivationNotice notice;
    QSignalSpy active(&notice, &ActivationNotice::becameActive);
    notice.applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(active.size(), 0);
    notice.applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(active.size(), 1);
    notice.applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(active.size(), 1);
    notice.applicationStateChanged(Qt::ApplicationHidden);
    notice.applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(active.size(), 2);
    // And it listens to the application itself.
    notice.applicationStateChanged(Qt::ApplicationInactive);
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(active.size(), 3);
}

QTEST_MAIN(TestPlatformSeams)
#include "tst_platformseams.moc"
