#include "policy/historysampler.h"

#include "snmp/snmpinfo.h"

#include <QDateTime>

namespace {
std::function<qint64()> &clockSource()
{
    static std::function<qint64()> source;
    return source;
}
} // namespace

qint64 HistorySampler::nowMs()
{
    return clockSource() ? clockSource()() : QDateTime::currentMSecsSinceEpoch();
}

void HistorySampler::setClockSource(std::function<qint64()> source)
{
    clockSource() = std::move(source);
}

void HistorySampler::noteStatus(const QString &host, int status)
{
    if (status == Snmp::Online)
        m_online.insert(host, true);
}

HistorySampler::Taken HistorySampler::take(
    qint64 minuteStart, const QList<CardState> &cards, const std::function<CardDetails(const QString &host)> &detailsOf)
{
    Taken taken;
    QHash<QString, bool> next;
    for (const CardState &card : cards) {
        const bool online = card.status == Snmp::Online;
        if (online || m_online.value(card.host))
            taken.append({card.host, sampleOf(minuteStart, card.data, detailsOf(card.host))});
        if (online)
            next.insert(card.host, true);
    }
    // Unlisted cards are forgotten with the rest.
    m_online = next;
    return taken;
}

HistorySample HistorySampler::sampleOf(qint64 minuteStart, const QByteArray &data, const CardDetails &details)
{
    HistorySample sample;
    sample.at = minuteStart;
    const bool fresh = details.isKnown() && details.answeredAtMs >= (minuteStart - freshDetailsSeconds) * 1000;
    if (fresh) {
        sample.capacity = details.capacity;
        sample.loadPercent = details.loadPercent;
        sample.runtimeMinutes = details.runtimeMinutes;
        sample.inputVoltage = details.inputVoltage;
    }
    // The poll's capacity is a second old at most; the details' only stands in for it.
    if (Snmp::isKnown(data, Snmp::BatteryCapacity) && data.size() > Snmp::BatteryCapacity)
        sample.capacity = static_cast<unsigned char>(data.at(Snmp::BatteryCapacity));
    return sample;
}

qint64 HistorySampler::minuteEndedBy(qint64 nowMs)
{
    const qint64 minute = nowMs >= 0 ? nowMs / 60000 : (nowMs - 59999) / 60000;
    return (minute - 1) * 60;
}

int HistorySampler::msToNextMinute(qint64 nowMs)
{
    const qint64 into = ((nowMs % 60000) + 60000) % 60000;
    return int(60000 - into);
}
