#pragma once

#include "policy/carddetails.h"
#include "policy/cardstate.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QVector>

#include <functional>

// Picks each card's sample of a minute from what is known of it at the minute's end: the capacity of the poll,
// else of the details; load, runtime and input voltage of the details. Details count only while they are
// fresh (see freshDetailsSeconds); a card that was never online in the minute gets no sample.
// Plain logic fed with times in seconds since 1970: the LocalBackend drives it from its minute timer. Whoever
// owns it, one thread.
class HistorySampler
{
public:
    // Details older than this at the minute's start count as unknown: the reader asks every 10 s, and hands
    // over what has not changed once a minute.
    static constexpr qint64 freshDetailsSeconds = 90;

    using Taken = QVector<QPair<QString, HistorySample>>;

    // A status reported for host (see Snmp::Status); an online one marks the minute it came in.
    void noteStatus(const QString &host, int status);
    // The samples of the minute that starts at minuteStart, one per card of cards that was online at some time
    // since the last call; after it, only those online now count as online in the next minute.
    Taken take(qint64 minuteStart, const QList<CardState> &cards,
        const std::function<CardDetails(const QString &host)> &detailsOf);

    static HistorySample sampleOf(qint64 minuteStart, const QByteArray &data, const CardDetails &details);
    // The start of the minute before the one that holds nowMs (ms since 1970), and how long until the next
    // minute starts.
    static qint64 minuteEndedBy(qint64 nowMs);
    static int msToNextMinute(qint64 nowMs);
    // The wall clock of the minute timer, ms since 1970. Tests bring a minute's end near with another source
    // (set before the timer starts); the program never does. An empty function restores the wall clock.
    static qint64 nowMs();
    static void setClockSource(std::function<qint64()> source);

private:
    QHash<QString, bool> m_online; // seen online since the last take
};
