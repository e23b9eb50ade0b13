#pragma once

#include "core/Outbox.h"
#include "mail/SmtpClient.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace tbserver {

// Where the server's email goes: with smtp, out through that server; without, into the outbox folder only.
struct MailConfig {
    MailAddress from = Outbox::defaultSender();
    std::optional<SmtpSettings> smtp;
};

struct MailQueueOptions {
    // The wait after the first failed attempt, doubled after each further one up to retryCap.
    std::chrono::milliseconds retryBase = std::chrono::minutes(1);
    std::chrono::milliseconds retryCap = std::chrono::hours(1);
    // A message still not sent this long after it was queued goes to failed/.
    std::chrono::milliseconds giveUpAfter = std::chrono::hours(24);
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
};

// Sends what waits in outbox/pending/, one message at a time, oldest first; each start tries every pending
// message once at once, then backs off. A message moves to sent/ only after the server took it, so a crash in
// between sends it again, with the same Message-ID: at least once, never lost.
class MailQueue final : public QObject {
    Q_OBJECT
public:
    MailQueue(const QString &outbox, MailAddress from, SmtpSettings smtp, MailQueueOptions options = {});
    ~MailQueue() override;
    Q_DISABLE_COPY_MOVE(MailQueue)

    void start();

public Q_SLOTS:
    // Something new is pending.
    void wake();

private:
    void deliverNext();
    void deliver(const QString &name, MailState state);
    void settle(const QString &name, MailState state, SmtpClient::Outcome outcome, const QString &error);
    [[nodiscard]] MailState stateOf(const QString &name) const;
    [[nodiscard]] QString pendingPath(const QString &name, QStringView suffix) const;

    QString m_pending;
    QString m_sent;
    QString m_failed;
    MailAddress m_from;
    SmtpSettings m_smtp;
    MailQueueOptions m_options;
    QTimer m_timer;
    QPointer<SmtpClient> m_client;
    // When each message tried since this start may be tried again; one not in here is due now.
    QHash<QString, QDateTime> m_notBefore;
};

} // namespace tbserver
