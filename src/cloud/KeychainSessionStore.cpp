#include "cloud/KeychainSessionStore.h"

#include "platform/PrivateFile.h"

#include <QLoggingCategory>
#include <QStandardPaths>

namespace tallybrook {

Q_LOGGING_CATEGORY(lcSessionStore, "tallybrook.session")

KeychainSessionStore::KeychainSessionStore(QString service, QString account, QString fallbackFile,
                                           Backend backend, std::chrono::milliseconds timeout)
    : m_keyring(std::move(service), std::move(account), timeout), m_fallbackFile(std::move(fallbackFile)) {
    using platform::KeyringState;
    KeyringState state = KeyringState::Absent;
    switch (backend) {
    case Backend::Probe:
        state = platform::KeyringItem::probe(m_keyring.service(), timeout);
        break;
    case Backend::Keyring:
        state = KeyringState::Available;
        break;
    case Backend::LockedKeyring:
        state = KeyringState::Locked;
        break;
    case Backend::File:
        break;
    }
    m_usesKeyring = state != KeyringState::Absent;
    m_keyringLocked = state == KeyringState::Locked;
    if (!m_usesKeyring) {
        qCInfo(lcSessionStore) << "no desktop keyring; keeping the session in" << m_fallbackFile;
    } else if (!platform::removePrivateFile(m_fallbackFile)) {
        // A copy left from a run without a keyring would hold a refresh token nobody ends.
        qCWarning(lcSessionStore) << "could not remove" << m_fallbackFile;
    }
}

std::optional<CloudSession> KeychainSessionStore::load() {
    if (m_keyringLocked) {
        // The probe already waited its time; asking again would only hold the desk up longer.
        qCInfo(lcSessionStore) << "the keyring is locked; starting signed out";
        return std::nullopt;
    }
    if (m_usesKeyring) {
        const auto result = m_keyring.readNow();
        if (result.status != platform::KeyringItem::ReadStatus::Found) {
            return std::nullopt;
        }
        return CloudSession::fromStoredForm(result.data);
    }
    const auto data = platform::readPrivateFile(m_fallbackFile);
    return data ? CloudSession::fromStoredForm(*data) : std::nullopt;
}

void KeychainSessionStore::save(const std::optional<CloudSession> &session) {
    if (m_usesKeyring) {
        if (session) {
            m_keyring.write(session->toStoredForm());
        } else {
            m_keyring.remove();
        }
        return;
    }
    const bool ok = session ? platform::writePrivateFile(m_fallbackFile, session->toStoredForm())
                            : platform::removePrivateFile(m_fallbackFile);
    if (!ok) {
        qCWarning(lcSessionStore) << "could not update" << m_fallbackFile;
    }
}

QString KeychainSessionStore::defaultService() {
    return QStringLiteral(TALLYBROOK_APP_ID ".session");
}

QString KeychainSessionStore::defaultFallbackFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + u"/session.json";
}

} // namespace tallybrook
