#pragma once

#include <QHash>
#include <QMutex>
#include <QString>

// Keeps a line that a sender can cause once per notification (an unknown code, a drop) from filling the disk:
// per key (sender and kind) at most one line per interval, carrying the number of occurrences it stands for.
// Any thread; each call takes the object's own lock.
class LogThrottle
{
public:
    explicit LogThrottle(qint64 intervalMs = 60000);

    // Counts one occurrence of key. Returns how many occurrences the line due now stands for (1 for the first
    // of an interval, more when earlier ones were held back), or 0 when no line is due.
    qint64 hit(const QString &key, qint64 nowMs);
    // Lines held back for an interval that has passed: key and count each, for a summary line.
    QList<QPair<QString, qint64>> takeOverdue(qint64 nowMs);

    static qint64 steadyMs();

private:
    struct Entry
    {
        qint64 lineAt = 0;
        qint64 held = 0;
    };
    // Senders can be many and forged; the table is bounded and forgets quiet keys first.
    static constexpr int maxKeys = 4096;

    QMutex m_mutex;
    qint64 m_intervalMs;
    QHash<QString, Entry> m_entries;
};
