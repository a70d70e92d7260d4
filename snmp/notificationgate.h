#pragma once

#include "storage/logthrottle.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

// Which notifications enter the program. Every one from the address of a configured card does: a card's power
// events are what the program exists for, so nothing of a card is dropped to make room for others. Any other
// sender is taken at a bounded rate per address (a token bucket), and what it sends beyond that is dropped and
// counted, so that a neighbour's flood cannot crowd the cards out. An inform that is not admitted is not
// acknowledged, so its sender sends it again. One process-wide instance; any thread.
class NotificationGate
{
public:
    static constexpr int foreignPerSecond = 10;
    static constexpr int foreignBurst = 50;

    static NotificationGate *instance();

    // The bare addresses of the configured cards (GUI thread, whenever the hosts change).
    void setCards(const QStringList &addresses);
    bool isCard(const QString &host) const;
    // Engine thread, once per received datagram, before it is parsed; nowMs is a steady clock in milliseconds.
    bool admit(const QString &host, qint64 nowMs);
    // Summary lines for drops held back by the once-a-minute rule, once the minute has passed.
    void logOverdue(qint64 nowMs);

    quint64 droppedCount() const;
    void reset(); // forgets every sender's bucket and count (tests)

private:
    NotificationGate() = default;

    struct Bucket
    {
        double tokens = foreignBurst;
        qint64 at = 0;
    };
    // Forged source addresses could be without number: the table is bounded, full buckets go first.
    static constexpr int maxSenders = 4096;

    mutable QMutex m_mutex;
    QSet<QString> m_cards;
    QHash<QString, Bucket> m_buckets;
    quint64 m_dropped = 0;
    LogThrottle m_log;
};
