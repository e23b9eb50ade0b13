#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace tbserver {

// Counts events per key (an email address, a peer address) in a sliding window, in memory.
class RateLimiter final {
public:
    RateLimiter(int limit, qint64 windowSeconds) : m_limit(limit), m_window(windowSeconds) {}

    // True when `limit` events of this key fall within the window ending at `now`.
    [[nodiscard]] bool isLimited(const QString &key, qint64 now);
    // Seconds until the oldest event in the window leaves it (0 when not limited).
    [[nodiscard]] qint64 secondsLeft(const QString &key, qint64 now);
    void record(const QString &key, qint64 now);
    void forget(const QString &key) { m_events.remove(key); }

private:
    QList<qint64> &recent(const QString &key, qint64 now);

    int m_limit;
    qint64 m_window;
    QHash<QString, QList<qint64>> m_events;
};

} // namespace tbserver
