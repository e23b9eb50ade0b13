#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace tallybrook::platform {

// One secret item in the desktop keyring (the Secret Service on Linux), named by service and account.
// Every job is bounded by a time-out: a locked or absent keyring never freezes the desk.
class KeyringItem final {
public:
    KeyringItem(QString service, QString account, std::chrono::milliseconds timeout);

    enum class ReadStatus { Found, NotFound, Failed };
    struct ReadResult {
        ReadStatus status = ReadStatus::Failed;
        QByteArray data;
    };

    // Waits for the answer in a local event loop; meant for start-up, before the desk runs.
    [[nodiscard]] ReadResult readNow() const;
    bool writeNow(const QByteArray &data) const;
    bool removeNow() const;

    // Start the job and return at once. The keyring runs its jobs one after another, so a later write
    // or removal always lands after an earlier one.
    void write(const QByteArray &data) const;
    void remove() const;

    // Whether a keyring answers at all: writes and deletes a probe item.
    [[nodiscard]] static bool isAvailable(const QString &service, std::chrono::milliseconds timeout);

    [[nodiscard]] const QString &service() const { return m_service; }
    [[nodiscard]] const QString &account() const { return m_account; }

private:
    QString m_service;
    QString m_account;
    std::chrono::milliseconds m_timeout;
};

} // namespace tallybrook::platform
