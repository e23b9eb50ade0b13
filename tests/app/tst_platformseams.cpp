#include "app/SingleInstance.h"
#include "platform/ComputerName.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tallybrook;
using namespace Qt::StringLiterals;

// What the desk learns from the computer: its name, and whether a desk already runs in this session.
class TestPlatformSeams : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir; // each test has a socket name of its own: a desk running here is never touched

private Q_SLOTS:
    // The pretty name of /etc/machine-info, read as the shell reads it, else the host name.
    void computerName_data() {
        QTest::addColumn<QByteArray>("machineInfo");
        QTest::addColumn<QString>("name"); // on a computer whose host name is desk-01
        QTest::newRow("double quotes")
            << QByteArray("PRETTY_HOSTNAME=\"Front Desk\"\nX=y") << u"Front Desk"_s;
        QTest::newRow("single quotes, UTF-8") << QByteArray("PRETTY_HOSTNAME='Zo\xc3\xab'") << u"Zo\u00eb"_s;
        QTest::newRow("escaped quote") << QByteArray("PRETTY_HOSTNAME=\"A \\\"B\\\"\"") << u"A \"B\""_s;
        QTest::newRow("comment after the value") << QByteArray("PRETTY_HOSTNAME=Lobby # big") << u"Lobby"_s;
        QTest::newRow("the last one wins") << QByteArray("PRETTY_HOSTNAME=A\nPRETTY_HOSTNAME=B") << u"B"_s;
        QTest::newRow("commented out") << QByteArray("#PRETTY_HOSTNAME=A") << u"desk-01"_s;
        QTest::newRow("blank: the host name") << QByteArray("PRETTY_HOSTNAME=\"  \"") << u"desk-01"_s;
    }
    void computerName() {
        QFETCH(QByteArray, machineInfo);
        QFETCH(QString, name);
        QCOMPARE(platform::computerNameFrom(machineInfo, u"desk-01"_s), name);
        QCOMPARE(platform::computerNameFrom({}, u" "_s), u"Desk"_s); // neither
        QVERIFY(!platform::computerName().trimmed().isEmpty());
    }

    void aSecondLaunchRaisesTheFirstAndStops() {
        const QString name = m_dir.filePath(u"desk"_s);
        auto first = std::make_unique<SingleInstance>(name);
        QSignalSpy raised(first.get(), &SingleInstance::activationRequested);
        QVERIFY(first->claim());
        QVERIFY(!SingleInstance(name).claim());
        QTRY_COMPARE(raised.size(), 1);
        // Once the first desk has quit, the next launch is the desk.
        first.reset();
        QVERIFY(SingleInstance(name).claim());
    }

    void aSocketLeftByACrashIsTakenOver() {
        // A bound socket nobody listens on: what a desk that crashed leaves behind.
        const QString name = m_dir.filePath(u"crashed"_s);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(name);
        QVERIFY(fd >= 0 && size_t(path.size()) < sizeof(address.sun_path));
        std::copy(path.cbegin(), path.cend(), address.sun_path);
        QCOMPARE(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(name));

        SingleInstance desk(name);
        QSignalSpy raised(&desk, &SingleInstance::activationRequested);
        QVERIFY(desk.claim());
        QVERIFY(!SingleInstance(name).claim());
        QTRY_COMPARE(raised.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPlatformSeams)
#include "tst_platformseams.moc"
