#include "app/SingleInstance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tallybrook;
using namespace Qt::StringLiterals;

// Each test has a socket name of its own, so a desk running on this computer is never touched.
class TestSingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void aSecondLaunchRaisesTheFirstAndStops();
    void aSocketLeftByACrashIsTakenOver();

private:
    QTemporaryDir m_dir;
};

void TestSingleInstance::aSecondLaunchRaisesTheFirstAndStops() {
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

void TestSingleInstance::aSocketLeftByACrashIsTakenOver() {
    // A bound socket nobody listens on: what a desk that crashed leaves behind.
    const QString name = m_dir.filePath(u"crashed"_s);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name);
    QVERIFY(size_t(path.size()) < sizeof(address.sun_path));
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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
