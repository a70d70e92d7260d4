#pragma once

#include "policy/carddetails.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <queue>
#include <utility>
#include <vector>

struct snmp_pdu;

// The slower read of what a card reports beyond the poll: one GET per card every period, of the standard UPS-MIB
// objects and, where a card lacks one, the vendor's own. The reads of a period are spread over it, so a thousand
// cards cost a steady hundred requests a second rather than a burst. It owns the request and the schedule; the
// poll manager owns the sessions and sends. Construction and destruction take the library lock; everything else
// runs on the engine thread with the lock held, but decode, which is pure.
class DetailReader
{
public:
    static constexpr qint64 periodMs = 10000;
    // One period is cut in ticks this long; a tick sends at most its share of the cards.
    static constexpr qint64 tickMs = 100;

    DetailReader();
    ~DetailReader();
    DetailReader(const DetailReader &) = delete;
    DetailReader &operator=(const DetailReader &) = delete;

    // The card with this serial is read from now on, the first time now.
    void add(quint64 serial, qint64 nowMs);
    void clear();
    enum class Asked
    {
        Sent,
        Later, // not to be asked yet (the poll does not hear it, or a v3 card has no keys): again a second later
        Gone // the card is no longer read
    };
    // Asks the cards that are due, no more in one tick than their share when cards cards are read.
    void sendDue(qint64 nowMs, int cards, const std::function<Asked(quint64 serial)> &ask);
    // When sendDue has something to do next (steady ms).
    qint64 nextDueMs(qint64 nowMs) const;

    // A copy goes out with each read; null when the library could not make one.
    const snmp_pdu *request() const { return m_request; }
    // An answer (or the time-out) of a detail read rather than of a poll.
    static bool isDetailPdu(const snmp_pdu *pdu);
    // The card's details in an answer, host and answer time left as they were. rawModel holds the model's octets
    // of the previous answer: the same octets keep the text without making it again.
    static void decode(const snmp_pdu *pdu, CardDetails *details, QByteArray *rawModel);
    // The two agree in what the card reports, whenever they were read.
    static bool sameReport(const CardDetails &a, const CardDetails &b);

private:
    using Due = std::pair<qint64, quint64>; // steady ms, serial
    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> m_queue;
    qint64 m_tickEndMs = 0;
    int m_sentInTick = 0;
    snmp_pdu *m_request = nullptr;
};
