#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

#include <climits>

// What a card reports of itself beyond the four polled objects, read on a slower schedule than the poll: from
// the standard UPS-MIB (RFC 1628) where the card has it, else from the vendor's own objects. A field the card
// does not have stays absent and is shown as "—".
struct CardDetails
{
    static constexpr int absent = INT_MIN;

    QString host;
    // When the card last answered a detail read, ms since 1970 UTC (0 never): an answer that changes nothing
    // is passed on once a minute, so this is at most a minute behind.
    qint64 answeredAtMs = 0;
    QString model;            // empty when the card has none
    int outputSource = absent;   // upsOutputSource: 1 other, 2 none, 3 normal, 4 bypass, 5 battery, 6 booster, 7 reducer
    int batteryStatus = absent;  // upsBatteryStatus: 1 unknown, 2 normal, 3 low, 4 depleted
    int capacity = absent;       // %
    int runtimeMinutes = absent; // estimated minutes on battery
    int loadPercent = absent;    // output load, % of capacity
    int inputVoltage = absent;   // V RMS
    int outputVoltage = absent;  // V RMS
    int inputFrequencyTenths = absent; // 0.1 Hz
    int batteryTemperature = absent;   // degrees Celsius

    bool isKnown() const { return answeredAtMs != 0; }
    friend bool operator==(const CardDetails &a, const CardDetails &b)
    {
        return a.host == b.host && a.answeredAtMs == b.answeredAtMs && a.model == b.model
            && a.outputSource == b.outputSource && a.batteryStatus == b.batteryStatus && a.capacity == b.capacity
            && a.runtimeMinutes == b.runtimeMinutes && a.loadPercent == b.loadPercent
            && a.inputVoltage == b.inputVoltage && a.outputVoltage == b.outputVoltage
            && a.inputFrequencyTenths == b.inputFrequencyTenths && a.batteryTemperature == b.batteryTemperature;
    }
    friend bool operator!=(const CardDetails &a, const CardDetails &b) { return !(a == b); }
};

// One minute of a card's history: what it reported last in that minute.
struct HistorySample
{
    static constexpr int absent = CardDetails::absent;

    qint64 at = 0; // seconds since 1970 UTC, the start of the minute
    int capacity = absent;
    int loadPercent = absent;
    int runtimeMinutes = absent;
    int inputVoltage = absent;

    friend bool operator==(const HistorySample &a, const HistorySample &b)
    {
        return a.at == b.at && a.capacity == b.capacity && a.loadPercent == b.loadPercent
            && a.runtimeMinutes == b.runtimeMinutes && a.inputVoltage == b.inputVoltage;
    }
};

Q_DECLARE_METATYPE(CardDetails)
Q_DECLARE_METATYPE(HistorySample)
