#include "snmp/notificationgate.h"

#include <QDebug>
#include <QMutexLocker>

NotificationGate *NotificationGate::instance()
{
    static NotificationGate *gate = new NotificationGate; // used by the engine thread until process exit
    return gate;
}

void NotificationGate::setCards(const QStringList &addresses)
{
    QMutexLocker lock(&m_mutex);
    m_cards = QSet<QString>(addresses.cbegin(), addresses.cend());
}

bool NotificationGate::isCard(const QString &host) const
{
    QMutexLocker lock(&m_mutex);
    return m_cards.contains(host);
}

bool NotificationGate::admit(const QString &host, qint64 nowMs)
{
    QMutexLocker lock(&m_mutex);
    if (m_cards.contains(host))
        return true;
    auto it = m_buckets.find(host);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= maxSenders) {
            for (auto old = m_buckets.begin(); old != m_buckets.end();) {
                const double refilled = old->tokens + (nowMs - old->at) * foreignPerSecond / 1000.0;
                if (refilled >= foreignBurst)
                    old = m_buckets.erase(old);
                else
                    ++old;
            }
        }
        if (m_buckets.size() < maxSenders)
            it = m_buckets.insert(host, Bucket {double(foreignBurst), nowMs});
    }
    if (it != m_buckets.end()) {
        it->tokens = qMin<double>(foreignBurst, it->tokens + (nowMs - it->at) * foreignPerSecond / 1000.0);
        it->at = nowMs;
        if (it->tokens >= 1.0) {
            it->tokens -= 1.0;
            return true;
        }
    }
    ++m_dropped;
    lock.unlock();
    const qint64 lines = m_log.hit(host, nowMs);
    if (lines == 1)
        qWarning().noquote() << "Notifications from" << host << "dropped: it is not a configured card and sends more"
                             << "than" << foreignPerSecond << "per second (one line a minute per sender)";
    else if (lines > 1)
        qWarning().noquote() << "Notifications from" << host << "dropped:" << lines
                             << "in the last minute or longer (not a configured card, over its rate)";
    return false;
}

void NotificationGate::logOverdue(qint64 nowMs)
{
    const auto due = m_log.takeOverdue(nowMs);
    for (const auto &entry : due)
        qWarning().noquote() << "Notifications from" << entry.first << "dropped:" << entry.second
                             << "more in the last minute or longer (not a configured card, over its rate)";
}

quint64 NotificationGate::droppedCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_dropped;
}

void NotificationGate::reset()
{
    QMutexLocker lock(&m_mutex);
    m_buckets.clear();
    m_dropped = 0;
}
