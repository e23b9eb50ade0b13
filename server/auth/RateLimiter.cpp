#include "auth/RateLimiter.h"

namespace tbserver {

QList<qint64> &RateLimiter::recent(const QString &key, qint64 now) {
    QList<qint64> &events = m_events[key];
    events.removeIf([&](qint64 at) { return now - at >= m_window; });
    return events;
}

bool RateLimiter::isLimited(const QString &key, qint64 now) {
    if (!m_events.contains(key)) {
        return false;
    }
    return recent(key, now).size() >= m_limit;
}

qint64 RateLimiter::secondsLeft(const QString &key, qint64 now) {
    if (!isLimited(key, now)) {
        return 0;
    }
    return m_events.value(key).constFirst() + m_window - now;
}

void RateLimiter::record(const QString &key, qint64 now) {
    // Keys of the past go now and then, so a long run with many addresses does not grow without bound.
    if (m_events.size() > 10'000) {
        m_events.removeIf([&](const auto &entry) {
            return entry.value().isEmpty() || now - entry.value().constLast() >= m_window;
        });
    }
    recent(key, now).append(now);
}

} // namespace tbserver
