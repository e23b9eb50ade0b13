#pragma once

#include "cloud/SessionStore.h"
#include "platform/Keyring.h"

#include <QString>

#include <chrono>
#include <optional>

namespace tallybrook {

// The session in the desktop keyring under (service, account). Only when the desktop has no Secret Service
// at all does it live in an owner-only file instead (`fallbackFile`), written atomically. A keyring in use
// removes the file, so no copy outlives the session elsewhere.
class KeychainSessionStore final : public SessionStore {
public:
    // `Probe` asks the desktop; the others say what it would find. A locked keyring stays the store, but the
    // desk starts signed out instead of waiting for it again.
    enum class Backend { Probe, Keyring, LockedKeyring, File };

    // The probe runs before the desk's window shows, so it waits little: an unlocked keyring answers in a few
    // milliseconds, and one that waits for its unlock prompt would hold the window back for nothing.
    KeychainSessionStore(QString service, QString account, QString fallbackFile,
                         Backend backend = Backend::Probe,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));
    Q_DISABLE_COPY_MOVE(KeychainSessionStore)

    [[nodiscard]] std::optional<CloudSession> load() override;
    void save(const std::optional<CloudSession> &session) override;

    [[nodiscard]] bool usesKeyring() const { return m_usesKeyring; }
    [[nodiscard]] const QString &service() const { return m_keyring.service(); }
    [[nodiscard]] const QString &account() const { return m_keyring.account(); }
    [[nodiscard]] const QString &fallbackFile() const { return m_fallbackFile; }

    // "<application id>.session" in the keyring, "session.json" in the application's config folder.
    [[nodiscard]] static QString defaultService();
    [[nodiscard]] static QString defaultFallbackFile();

private:
    platform::KeyringItem m_keyring;
    QString m_fallbackFile;
    bool m_usesKeyring = false;
    bool m_keyringLocked = false;
};

} // namespace tallybrook
