#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace tallybrook::platform {

// What the start-up probe learned about the desktop keyring.
enum class KeyringState {
    Available,
    // A Secret Service exists but did not take the item in time (an unlock prompt nobody answered) or refused
    // it: it stays the session's home, and the desk starts signed out.
    Locked,
    // No Secret Service on this desktop at all.
    Absent,
};

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

    // Asks the session bus whether a Secret Service exists; if so, writes a probe item and waits for the
    // answer. The item is deleted afterwards whatever the outcome, also when the write lands after the
    // time-out.
    [[nodiscard]] static KeyringState probe(const QString &service, std::chrono::milliseconds timeout);

    [[nodiscard]] const QString &service() const { return m_service; }
    [[nodiscard]] const QString &account() const { return m_account; }

private:
    QString m_service;
    QString m_account;
    std::chrono::milliseconds m_timeout;
};

} // namespace tallybrook::platform
