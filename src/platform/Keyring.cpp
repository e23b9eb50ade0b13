#include "platform/Keyring.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace tallybrook::platform {

Q_LOGGING_CATEGORY(lcKeyring, "tallybrook.keyring")

namespace {

// Runs a started job to its end or to the time-out. The job deletes itself once it finishes, even after
// we stopped waiting for it.
bool waitFor(QKeychain::Job *job, std::chrono::milliseconds timeout) {
    QPointer<QKeychain::Job> guard(job);
    bool finished = false;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->start();
    if (!finished) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (!finished) {
        qCWarning(lcKeyring) << "keyring did not answer within" << timeout.count() << "ms";
    }
    return finished;
}

void watch(QKeychain::Job *job, const char *what, std::chrono::milliseconds timeout) {
    auto *timer = new QTimer(job);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, job, [what, timeout] {
        qCWarning(lcKeyring) << what << "still waiting for the keyring after" << timeout.count() << "ms";
    });
    QObject::connect(job, &QKeychain::Job::finished, job, [job, what] {
        if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound) {
            qCWarning(lcKeyring) << what << "failed:" << job->errorString();
        }
    });
    timer->start(timeout);
    job->start();
}

// The keyring's error texts come from GLib, translated, so whether a Secret Service exists is asked of the
// bus itself: running, or started on demand.
bool secretServiceExists(std::chrono::milliseconds timeout) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    const QString name = QStringLiteral("org.freedesktop.secrets");
    const auto ask = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                           QStringLiteral("/org/freedesktop/DBus"),
                                                           QStringLiteral("org.freedesktop.DBus"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = bus.call(call, QDBus::Block, int(timeout.count()));
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0) : QVariant();
    };
    if (ask(QStringLiteral("NameHasOwner"), {name}).toBool()) {
        return true;
    }
    return ask(QStringLiteral("ListActivatableNames"), {}).toStringList().contains(name);
}

} // namespace

KeyringItem::KeyringItem(QString service, QString account, std::chrono::milliseconds timeout)
    : m_service(std::move(service)), m_account(std::move(account)), m_timeout(timeout) {}

KeyringItem::ReadResult KeyringItem::readNow() const {
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(m_account);
    job->setAutoDelete(false);
    ReadResult result;
    if (waitFor(job, m_timeout)) {
        if (job->error() == QKeychain::NoError) {
            result = {ReadStatus::Found, job->binaryData()};
        } else if (job->error() == QKeychain::EntryNotFound) {
            result.status = ReadStatus::NotFound;
        }
        delete job;
    } else {
        job->setAutoDelete(true);
    }
    return result;
}

bool KeyringItem::writeNow(const QByteArray &data) const {
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(m_account);
    job->setBinaryData(data);
    job->setAutoDelete(false);
    if (!waitFor(job, m_timeout)) {
        job->setAutoDelete(true);
        return false;
    }
    const bool ok = job->error() == QKeychain::NoError;
    delete job;
    return ok;
}

bool KeyringItem::removeNow() const {
    auto *job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(m_account);
    job->setAutoDelete(false);
    if (!waitFor(job, m_timeout)) {
        job->setAutoDelete(true);
        return false;
    }
    const bool ok = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
    delete job;
    return ok;
}

void KeyringItem::write(const QByteArray &data) const {
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(m_account);
    job->setBinaryData(data);
    watch(job, "saving the session", m_timeout);
}

void KeyringItem::remove() const {
    auto *job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(m_account);
    watch(job, "deleting the session", m_timeout);
}

KeyringState KeyringItem::probe(const QString &service, std::chrono::milliseconds timeout) {
    if (!secretServiceExists(timeout)) {
        qCInfo(lcKeyring) << "no Secret Service on the session bus";
        return KeyringState::Absent;
    }
    const KeyringItem probe(service, QStringLiteral("probe"), timeout);
    auto *job = new QKeychain::WritePasswordJob(service);
    job->setKey(probe.account());
    job->setBinaryData(QByteArrayLiteral("probe"));
    job->setAutoDelete(false);
    KeyringState state = KeyringState::Locked;
    if (waitFor(job, timeout)) {
        if (job->error() == QKeychain::NoError) {
            state = KeyringState::Available;
        } else if (job->error() == QKeychain::NoBackendAvailable ||
                   job->error() == QKeychain::NotImplemented) {
            state = KeyringState::Absent;
        } else {
            qCWarning(lcKeyring) << "the keyring refused the probe:" << job->errorString();
        }
        delete job;
    } else {
        job->setAutoDelete(true);
    }
    if (state == KeyringState::Available) {
        probe.removeNow();
    } else if (state == KeyringState::Locked) {
        // Queued behind the write, so it also removes an item that a late unlock lets through.
        probe.remove();
    }
    return state;
}

} // namespace tallybrook::platform
