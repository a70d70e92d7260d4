#include "nut/nutups.h"

#include "snmp/snmpinfo.h"

#include <QCoreApplication>

namespace NutUps {

namespace {
struct Known
{
    const char *name;
    const char *description;
    bool number;
};
// The names and descriptions are those of the protocol's variable list, which clients show as they are.
constexpr Known known[] = {
    {"battery.charge", "Battery charge (percent of full)", true},
    {"battery.runtime", "Battery runtime (seconds)", true},
    {"device.type", "Device type (ups, pdu, scd, psu, ats)", false},
    {"driver.name", "Driver name", false},
    {"input.voltage", "Input voltage (V)", true},
    {"output.voltage", "Output voltage (V)", true},
    {"ups.load", "Load on UPS (percent of full)", true},
    {"ups.model", "UPS model", false},
    {"ups.status", "UPS status", false},
};

const Known *find(const QString &variable)
{
    for (const Known &k : known) {
        if (variable == QLatin1String(k.name))
            return &k;
    }
    return nullptr;
}
} // namespace

QString nameOf(const QString &host)
{
    QString name = QStringLiteral("ups-") + host;
    for (QChar &c : name) {
        if (c == QLatin1Char('.') || c == QLatin1Char(':'))
            c = QLatin1Char('-');
    }
    return name;
}

QString description(const CardDetails &details)
{
    return details.model.isEmpty() ? QStringLiteral("Unavailable") : details.model;
}

bool isStale(const CardState &card)
{
    return card.status != Snmp::Online || card.data.size() < Snmp::PolledObjectCount;
}

QList<Variable> variables(const CardState &card, const CardDetails &details, bool forced)
{
    QList<Variable> list;
    const QByteArray &data = card.data;
    const auto add = [&list](const char *name, const QString &value) { list.append({QLatin1String(name), value}); };
    const auto addNumber = [&add](const char *name, int value) {
        if (value != CardDetails::absent)
            add(name, QString::number(value));
    };

    int charge = details.capacity;
    if (Snmp::isKnown(data, Snmp::BatteryCapacity) && uchar(data.at(Snmp::BatteryCapacity)) <= Snmp::MaxCapacity)
        charge = uchar(data.at(Snmp::BatteryCapacity));
    addNumber("battery.charge", charge);
    if (details.runtimeMinutes != CardDetails::absent && details.runtimeMinutes >= 0)
        add("battery.runtime", QString::number(qint64(details.runtimeMinutes) * 60));
    add("device.type", QStringLiteral("ups"));
    add("driver.name", QStringLiteral("vigilex"));
    addNumber("input.voltage", details.inputVoltage);
    addNumber("output.voltage", details.outputVoltage);
    addNumber("ups.load", details.loadPercent);
    if (!details.model.isEmpty())
        add("ups.model", details.model);

    // OL or OB from the mains, LB beside either; a power byte the card left out keeps the status unknown.
    QStringList status;
    if (Snmp::isKnown(data, Snmp::InputStatus))
        status << (data.at(Snmp::InputStatus) == Snmp::InputNormal ? QStringLiteral("OL") : QStringLiteral("OB"));
    else if (Snmp::isKnown(data, Snmp::OutputStatus))
        status << (data.at(Snmp::OutputStatus) == Snmp::OutputOnBattery ? QStringLiteral("OB") : QStringLiteral("OL"));
    if (Snmp::isKnown(data, Snmp::BatteryStatus) && data.at(Snmp::BatteryStatus) == Snmp::BatteryLow)
        status << QStringLiteral("LB");
    // upsmon's secondaries shut down on FSD whatever else the status says.
    if (forced)
        status << QStringLiteral("FSD");
    if (!status.isEmpty())
        add("ups.status", status.join(QLatin1Char(' ')));
    return list;
}

QString describe(const QString &variable)
{
    const Known *k = find(variable);
    return k ? QLatin1String(k->description) : QString();
}

bool isNumber(const QString &variable)
{
    const Known *k = find(variable);
    return k && k->number;
}

} // namespace NutUps
