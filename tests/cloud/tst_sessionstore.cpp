#include "cloud/CloudSession.h"
#include "cloud/KeychainSessionStore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace tallybrook;
using namespace Qt::StringLiterals;

namespace {

CloudSession sample() {
    return CloudSession{u"eyJ.access"_s, u"refresh-1"_s,
                        QDateTime(QDate(2025, 3, 4), QTime(10, 5, 0, 250), Qt::UTC),
                        QUuid(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s), u"zo\u00eb@example.com"_s};
}

} // namespace

class TestSessionStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storedFormHasItsKeys();
    void storedFormRoundTrips();
    void unreadableStoredFormsMeanSignedOut_data();
    void unreadableStoredFormsMeanSignedOut();
    void fileStoreIsPrivateAndFollowsTheSession();
    void withoutAKeyringTheProbeFallsBackQuickly();
    void lockedKeyringStaysTheStoreAndStartsSignedOut();
};

void TestSessionStore::storedFormHasItsKeys() {
    CloudSession session = sample();
    session.expiresAt = QDateTime(QDate(2001, 1, 1), QTime(0, 1), Qt::UTC);
    const QJsonObject object = QJsonDocument::fromJson(session.toStoredForm()).object();
    QCOMPARE(object.value(u"accessToken").toString(), u"eyJ.access"_s);
    QCOMPARE(object.value(u"refreshToken").toString(), u"refresh-1"_s);
    QCOMPARE(object.value(u"expiresAt").toDouble(), 60.0);
    QCOMPARE(object.value(u"userID").toString(), u"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B"_s);
    QCOMPARE(object.value(u"email").toString(), u"zo\u00eb@example.com"_s);
    QCOMPARE(object.size(), 5);
}

void TestSessionStore::storedFormRoundTrips() {
    const CloudSession session = sample();
    QCOMPARE(CloudSession::fromStoredForm(session.toStoredForm()), std::optional(session));
}

void TestSessionStore::unreadableStoredFormsMeanSignedOut_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not json") << QByteArray("session=abc");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("missing email") << QByteArray(
        R"({"accessToken":"a","refreshToken":"r","expiresAt":1,"userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B"})");
    QTest::newRow("expiry as text") << QByteArray(
        R"({"accessToken":"a","refreshToken":"r","expiresAt":"1","userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":""})");
    QTest::newRow("user id not a uuid")
        << QByteArray(R"({"accessToken":"a","refreshToken":"r","expiresAt":1,"userID":"me","email":""})");
    QTest::newRow("expiry out of range") << QByteArray(
        R"({"accessToken":"a","refreshToken":"r","expiresAt":1e300,"userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":""})");
    QTest::newRow("invalid utf-8") << QByteArray("{\"accessToken\":\"\xff\"}");
}

void TestSessionStore::unreadableStoredFormsMeanSignedOut() {
    QFETCH(QByteArray, data);
    QVERIFY(!CloudSession::fromStoredForm(data));
}

void TestSessionStore::fileStoreIsPrivateAndFollowsTheSession() {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config/tallybrook/session.json"_s);
    KeychainSessionStore store(u"test.session"_s, u"session"_s, path, KeychainSessionStore::Backend::File);
    QVERIFY(!store.usesKeyring());
    QVERIFY(!store.load());

    store.save(sample());
    QCOMPARE(store.load(), std::optional(sample()));
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    QCOMPARE(QFileInfo(path).permissions() & (others | QFileDevice::ExeOwner), QFileDevice::Permissions());
    QCOMPARE(QFile::permissions(QFileInfo(path).absolutePath()) & others, QFileDevice::Permissions());
    // Only the session's file is in the folder: the write left no temporary behind.
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{u"session.json"_s});

    CloudSession second = sample();
    second.accessToken = u"second"_s;
    store.save(second);
    QCOMPARE(store.load()->accessToken, u"second"_s);

    store.save(std::nullopt);
    QVERIFY(!QFile::exists(path));
    QVERIFY(!store.load());

    QFile garbage(path);
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x00\x01 not a session");
    garbage.close();
    QVERIFY(!store.load());
}

void TestSessionStore::withoutAKeyringTheProbeFallsBackQuickly() {
    // ctest runs this without a session bus, as on a server or a fresh desktop without a keyring.
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    KeychainSessionStore store(u"test.session"_s, u"session"_s, dir.filePath(u"session.json"_s),
                               KeychainSessionStore::Backend::Probe, std::chrono::milliseconds(2000));
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!store.usesKeyring());
    store.save(sample());
    QCOMPARE(store.load(), std::optional(sample()));
}

void TestSessionStore::lockedKeyringStaysTheStoreAndStartsSignedOut() {
    // A file left from a run without a keyring must neither sign the desk in nor outlive the switch.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"session.json"_s);
    KeychainSessionStore(u"test.session"_s, u"session"_s, path, KeychainSessionStore::Backend::File)
        .save(sample());
    QVERIFY(QFile::exists(path));

    KeychainSessionStore store(u"test.session"_s, u"session"_s, path,
                               KeychainSessionStore::Backend::LockedKeyring);
    QVERIFY(store.usesKeyring());
    QVERIFY(!store.load());
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestSessionStore)
#include "tst_sessionstore.moc"
