#pragma once

#include "mail/MailMessage.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

namespace tbserver {

// Kept next to a message waiting in outbox/pending/ as <name>.json: its envelope and how sending it went so
// far. Written before the message, so a crash leaves at worst a state without its message (dropped by the
// queue); a message without a state, or with a damaged one, is taken as new.
struct MailState {
    QString recipient;
    QDateTime queuedAt;
    int attempts = 0;
    QDateTime nextAttempt;
    QString lastError;

    [[nodiscard]] QByteArray toJson() const;
    [[nodiscard]] static std::optional<MailState> fromJson(const QByteArray &json);
};

// Every email the server writes goes through here. Without delivery each one is an .eml file in the outbox
// folder, where a person (or a test) can open it. With delivery it waits in outbox/pending/ until the
// MailQueue moves it to sent/ or failed/.
class Outbox final {
public:
    explicit Outbox(QString folder, MailAddress from = defaultSender(), bool deliver = false);
    Q_DISABLE_COPY_MOVE(Outbox)

    // Safe on any thread: it only writes files, then calls the queued callback. Returns the path of the
    // written message, or an empty text when it could not be written.
    QString write(const MailMessage &message) const;
    QString write(const QString &to, const QString &subject, const QString &textBody) const;

    // Called on the writing thread after each message queued for delivery.
    void setOnQueued(std::function<void()> callback) { m_onQueued = std::move(callback); }

    [[nodiscard]] const QString &folder() const { return m_folder; }
    [[nodiscard]] const MailAddress &from() const { return m_from; }
    [[nodiscard]] static MailAddress defaultSender();

    [[nodiscard]] static QString pendingFolder(const QString &outbox) {
        return outbox + QStringLiteral("/pending");
    }
    [[nodiscard]] static QString sentFolder(const QString &outbox) {
        return outbox + QStringLiteral("/sent");
    }
    [[nodiscard]] static QString failedFolder(const QString &outbox) {
        return outbox + QStringLiteral("/failed");
    }

private:
    QString m_folder;
    MailAddress m_from;
    bool m_deliver;
    QByteArray m_idDomain;
    std::function<void()> m_onQueued;
};

} // namespace tbserver
