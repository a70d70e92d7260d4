#include "storage/logthrottle.h"

#include <QMutexLocker>

#include <chrono>

LogThrottle::LogThrottle(qint64 intervalMs) : m_intervalMs(intervalMs)
{ }

qint64 LogThrottle::steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 LogThrottle::hit(const QString &key, qint64 nowMs)
{
    QMutexLocker lock(&m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        if (m_entries.size() >= maxKeys) {
            for (auto old = m_entries.begin(); old != m_entries.end();) {
                if (old->held == 0 && nowMs - old->lineAt >= m_intervalMs)
                    old = m_entries.erase(old);
                else
                    ++old;
            }
            if (m_entries.size() >= maxKeys)
                return 0; // counted by the caller's own totals; no line for a key we cannot keep
        }
        m_entries.insert(key, Entry {nowMs, 0});
        return 1;
    }
    if (nowMs - it->lineAt < m_intervalMs) {
        ++it->held;
        return 0;
    }
    const qint64 count = it->held + 1;
    it->lineAt = nowMs;
    it->held = 0;
    return count;
}

QList<QPair<QString, qint64>> LogThrottle::takeOverdue(qint64 nowMs)
{
    QMutexLocker lock(&m_mutex);
    QList<QPair<QString, qint64>> due;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->held > 0 && nowMs - it->lineAt >= m_intervalMs) {
            due.append({it.key(), it->held});
            it->lineAt = nowMs;
            it->held = 0;
        }
    }
    return due;
}
