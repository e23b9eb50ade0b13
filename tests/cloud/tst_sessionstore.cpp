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

using namespace tallybrook;
using namespace Qt::StringLiterals;

namespace {

CloudSession sample() {
    return CloudSession{u"eyJ.access"_s, u"refresh-1"_s,
                        QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 250), Qt::UTC),
                        QUuid(u"6f1c2a8e-3b4d-4e5f-9a0b-1c2d3e4f5a6b"_s), u"zo\u00eb@example.com"_s};
}

} // namespace

class TestSessionStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void storedFormRoundTrips();
    void unreadableStoredFormsMeanSignedOut_data();
    void unreadableStoredFormsMeanSignedOut();
    void withoutAKeyringAPrivateFileFollowsTheSession();
    void lockedKeyringStaysTheStoreAndStartsSignedOut();
};

void TestSessionStore::storedFormRoundTrips() {
    const CloudSession session = sample();
    // Seconds since 2001-01-01 UTC and an upper-case user id, as the stores of our other apps keep them.
    QCOMPARE(QJsonDocument::fromJson(session.toStoredForm()).object(),
             (QJsonObject{{u"accessToken"_s, u"eyJ.access"_s},
                          {u"refreshToken"_s, u"refresh-1"_s},
                          {u"expiresAt"_s, 60.25},
                          {u"userID"_s, u"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B"_s},
                          {u"email"_s, u"zo\u00eb@example.com"_s}}));
    QCOMPARE(CloudSession::fromStoredForm(session.toStoredForm()), std::optional(session));
}

void TestSessionStore::unreadableStoredFormsMeanSignedOut_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("not json") << "session=abc"_ba;
    QTest::newRow("array") << "[]"_ba;
    QTest::newRow("missing email")
        << R"({"accessToken":"a","refreshToken":"r","expiresAt":1,"userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B"})"_ba;
    QTest::newRow("expiry as text") << R"({"accessToken":"a","refreshToken":"r","expiresAt":"1",
        "userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":""})"_ba;
    QTest::newRow("user id not a uuid")
        << R"({"accessToken":"a","refreshToken":"r","expiresAt":1,"userID":"me","email":""})"_ba;
    QTest::newRow("expiry out of range") << R"({"accessToken":"a","refreshToken":"r","expiresAt":1e300,
        "userID":"6F1C2A8E-3B4D-4E5F-9A0B-1C2D3E4F5A6B","email":""})"_ba;
}

void TestSessionStore::unreadableStoredFormsMeanSignedOut() {
    QFETCH(QByteArray, data);
    QVERIFY(!CloudSession::fromStoredForm(data));
}

void TestSessionStore::withoutAKeyringAPrivateFileFollowsTheSession() {
    // ctest runs this without a session bus, as on a server or a fresh desktop without a keyring.
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config/tallybrook/session.json"_s);
    QElapsedTimer timer;
    timer.start();
    KeychainSessionStore store(u"test.session"_s, u"session"_s, path, KeychainSessionStore::Backend::Probe,
                               std::chrono::milliseconds(2000));
    QVERIFY(timer.elapsed() < 5000);
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
