#include "service/dbustypes.h"

#include <QDBusMetaType>

#include <mutex>

QDBusArgument &operator<<(QDBusArgument &argument, const CardState &card)
{
    argument.beginStructure();
    argument << card.host << card.status << card.authenticationFailed << card.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, CardState &card)
{
    argument.beginStructure();
    argument >> card.host >> card.status >> card.authenticationFailed >> card.data;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const StoredCard &card)
{
    argument.beginStructure();
    argument << card.info.ip << card.info.port << card.info.version << card.info.authType << card.info.privType
             << card.communitySet << card.userNameSet << card.passwordSet;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, StoredCard &card)
{
    card = StoredCard();
    argument.beginStructure();
    argument >> card.info.ip >> card.info.port >> card.info.version >> card.info.authType >> card.info.privType
        >> card.communitySet >> card.userNameSet >> card.passwordSet;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const StoredEvent &event)
{
    argument.beginStructure();
    argument << event.date << event.host << event.event;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, StoredEvent &event)
{
    argument.beginStructure();
    argument >> event.date >> event.host >> event.event;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const CardDetails &details)
{
    argument.beginStructure();
    argument << details.host << details.answeredAtMs << details.model << details.outputSource << details.batteryStatus
             << details.capacity << details.runtimeMinutes << details.loadPercent << details.inputVoltage
             << details.outputVoltage << details.inputFrequencyTenths << details.batteryTemperature;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, CardDetails &details)
{
    details = CardDetails();
    argument.beginStructure();
    argument >> details.host >> details.answeredAtMs >> details.model >> details.outputSource >> details.batteryStatus
        >> details.capacity >> details.runtimeMinutes >> details.loadPercent >> details.inputVoltage
        >> details.outputVoltage >> details.inputFrequencyTenths >> details.batteryTemperature;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const HistorySample &sample)
{
    argument.beginStructure();
    argument << sample.at << sample.capacity << sample.loadPercent << sample.runtimeMinutes << sample.inputVoltage;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, HistorySample &sample)
{
    sample = HistorySample();
    argument.beginStructure();
    argument >> sample.at >> sample.capacity >> sample.loadPercent >> sample.runtimeMinutes >> sample.inputVoltage;
    argument.endStructure();
    return argument;
}

void registerBusTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<CardState>();
        qDBusRegisterMetaType<StoredCard>();
        qDBusRegisterMetaType<StoredEvent>();
        qDBusRegisterMetaType<QList<CardState>>();
        qDBusRegisterMetaType<QList<StoredCard>>();
        qDBusRegisterMetaType<QVector<StoredEvent>>();
        qDBusRegisterMetaType<CardDetails>();
        qDBusRegisterMetaType<HistorySample>();
        qDBusRegisterMetaType<QList<CardDetails>>();
        qDBusRegisterMetaType<QVector<HistorySample>>();
    });
}
