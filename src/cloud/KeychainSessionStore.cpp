#include "cloud/KeychainSessionStore.h"

#include "platform/PrivateFile.h"

#include <QLoggingCategory>
#include <QStandardPaths>

namespace tallybrook {

Q_LOGGING_CATEGORY(lcSessionStore, "tallybrook.session")

KeychainSessionStore::KeychainSessionStore(QString service, QString account, QString fallbackFile,
                                           Backend backend, std::chrono::milliseconds timeout)
    : m_keyring(std::move(service), std::move(account), timeout), m_fallbackFile(std::move(fallbackFile)) {
    switch (backend) {
    case Backend::Keyring:
        m_usesKeyring = true;
        break;
    case Backend::File:
        m_usesKeyring = false;
        break;
    case Backend::Probe:
        m_usesKeyring = platform::KeyringItem::isAvailable(m_keyring.service(), timeout);
        if (!m_usesKeyring) {
            qCInfo(lcSessionStore) << "no desktop keyring; keeping the session in" << m_fallbackFile;
        }
        break;
    }
}

std::optional<CloudSession> KeychainSessionStore::load() {
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
