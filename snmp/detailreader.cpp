#include "snmp/detailreader.h"

#include "snmp/snmplock.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstring>
#include <limits>

namespace {

enum Field
{
    Model,
    OutputSource,
    BatteryStatus,
    Capacity,
    Runtime,
    Load,
    InputVoltage,
    OutputVoltage,
    InputFrequency,
    BatteryTemperature
};

constexpr int maxOidLength = 14;
constexpr int maxModelLength = 255;
constexpr qint64 laterMs = 1000;

struct DetailObject
{
    Field field;
    int length;
    unsigned long name[maxOidLength];
};

// The standard objects first: a vendor object only fills a field the standard left absent. The first entry names
// a detail read, whose answers share the poll's sessions and callback.
constexpr DetailObject objects[] = {
    {Model, 11, {1, 3, 6, 1, 2, 1, 33, 1, 1, 2, 0}},
    {BatteryStatus, 11, {1, 3, 6, 1, 2, 1, 33, 1, 2, 1, 0}},
    {Runtime, 11, {1, 3, 6, 1, 2, 1, 33, 1, 2, 3, 0}},
    {Capacity, 11, {1, 3, 6, 1, 2, 1, 33, 1, 2, 4, 0}},
    {BatteryTemperature, 11, {1, 3, 6, 1, 2, 1, 33, 1, 2, 7, 0}},
    {InputFrequency, 13, {1, 3, 6, 1, 2, 1, 33, 1, 3, 3, 1, 2, 1}},
    {InputVoltage, 13, {1, 3, 6, 1, 2, 1, 33, 1, 3, 3, 1, 3, 1}},
    {OutputSource, 11, {1, 3, 6, 1, 2, 1, 33, 1, 4, 1, 0}},
    {OutputVoltage, 13, {1, 3, 6, 1, 2, 1, 33, 1, 4, 4, 1, 2, 1}},
    {Load, 13, {1, 3, 6, 1, 2, 1, 33, 1, 4, 4, 1, 5, 1}},
    {Model, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 1, 1, 1, 0}},
    {Capacity, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 2, 1, 0}},
    {Runtime, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 2, 4, 0}},
    {InputVoltage, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 3, 2, 1, 0}},
    {OutputVoltage, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 4, 2, 1, 0}},
    {Load, 14, {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 4, 2, 3, 0}},
};
constexpr int objectCount = int(sizeof objects / sizeof objects[0]);

bool named(const netsnmp_variable_list *var, const DetailObject &object)
{
    static_assert(sizeof(oid) == sizeof(unsigned long), "the OID tables are written as unsigned long");
    return snmp_oid_compare(
               var->name, var->name_length, reinterpret_cast<const oid *>(object.name), size_t(object.length))
        == 0;
}

int *numberOf(CardDetails *details, Field field)
{
    switch (field) {
    case OutputSource:
        return &details->outputSource;
    case BatteryStatus:
        return &details->batteryStatus;
    case Capacity:
        return &details->capacity;
    case Runtime:
        return &details->runtimeMinutes;
    case Load:
        return &details->loadPercent;
    case InputVoltage:
        return &details->inputVoltage;
    case OutputVoltage:
        return &details->outputVoltage;
    case InputFrequency:
        return &details->inputFrequencyTenths;
    case BatteryTemperature:
        return &details->batteryTemperature;
    case Model:
        break;
    }
    return nullptr;
}

// A number the field can hold; a value that cannot be what the object means is no value.
bool numberOfVariable(const netsnmp_variable_list *var, Field field, int *number)
{
    if (!var->val.integer || var->val_len < sizeof(long))
        return false;
    switch (var->type) {
    case ASN_INTEGER:
    case ASN_GAUGE:
    case ASN_COUNTER:
    case ASN_UINTEGER:
        break;
    default:
        return false;
    }
    const long value = *var->val.integer;
    // Unsigned types arrive as the low 32 bits in a long.
    if (value <= std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return false;
    if (field != BatteryTemperature && value < 0)
        return false;
    if (field == Capacity && value > 100)
        return false;
    *number = int(value);
    return true;
}

} // namespace

DetailReader::DetailReader()
{
    withSnmpLibrary([this] {
        netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
        if (!pdu) {
            qWarning("Create PDU failed!");
            return;
        }
        for (const DetailObject &object : objects)
            snmp_add_null_var(pdu, reinterpret_cast<const oid *>(object.name), size_t(object.length));
        m_request = pdu;
    });
}

DetailReader::~DetailReader()
{
    if (m_request)
        withSnmpLibrary([this] { snmp_free_pdu(m_request); });
}

void DetailReader::add(quint64 serial, qint64 nowMs)
{
    m_queue.push({nowMs, serial});
}

void DetailReader::clear()
{
    m_queue = {};
}

void DetailReader::sendDue(qint64 nowMs, int cards, const std::function<Asked(quint64)> &ask)
{
    if (nowMs >= m_tickEndMs) {
        m_tickEndMs = nowMs + tickMs;
        m_sentInTick = 0;
    }
    const int share = int(qint64(cards) * tickMs / periodMs) + 1;
    while (!m_queue.empty() && m_queue.top().first <= nowMs && m_sentInTick < share) {
        const quint64 serial = m_queue.top().second;
        m_queue.pop();
        switch (ask(serial)) {
        case Asked::Sent:
            ++m_sentInTick;
            m_queue.push({nowMs + periodMs, serial});
            break;
        case Asked::Later:
            m_queue.push({nowMs + laterMs, serial});
            break;
        case Asked::Gone:
            break;
        }
    }
}

qint64 DetailReader::nextDueMs(qint64 nowMs) const
{
    if (m_queue.empty())
        return std::numeric_limits<qint64>::max();
    const qint64 due = m_queue.top().first;
    if (due <= nowMs)
        return m_tickEndMs > nowMs ? m_tickEndMs : nowMs;
    // Woken at the next tick's start rather than for each card: a thousand cards cost ten passes of the engine
    // loop a second, not a hundred.
    return (due + tickMs - 1) / tickMs * tickMs;
}

bool DetailReader::isDetailPdu(const snmp_pdu *pdu)
{
    return pdu && pdu->variables && named(pdu->variables, objects[0]);
}

void DetailReader::decode(const snmp_pdu *pdu, CardDetails *details, QByteArray *rawModel)
{
    const QString host = details->host;
    const qint64 answeredAtMs = details->answeredAtMs;
    const QString model = details->model;
    *details = CardDetails();
    details->host = host;
    details->answeredAtMs = answeredAtMs;
    // An error answer (genErr, tooBig...) carries no values, whatever its variables hold.
    if (!pdu || pdu->errstat != SNMP_ERR_NOERROR) {
        rawModel->clear();
        return;
    }
    bool modelFound = false;
    int index = 0;
    for (const netsnmp_variable_list *var = pdu->variables; var; var = var->next_variable, ++index) {
        // The agent answers in the order asked; a search only when it did not.
        int i = index < objectCount && named(var, objects[index]) ? index : -1;
        for (int j = 0; i < 0 && j < objectCount; ++j) {
            if (named(var, objects[j]))
                i = j;
        }
        if (i < 0)
            continue;
        const Field field = objects[i].field;
        if (field == Model) {
            if (modelFound || var->type != ASN_OCTET_STR || !var->val.string || var->val_len == 0)
                continue;
            int length = int(qMin<size_t>(var->val_len, maxModelLength));
            // Cards pad the text with NULs and blanks.
            while (length > 0 && (var->val.string[length - 1] == 0 || var->val.string[length - 1] == ' '))
                --length;
            if (length == 0)
                continue;
            modelFound = true;
            const char *octets = reinterpret_cast<const char *>(var->val.string);
            if (rawModel->size() == length && std::memcmp(rawModel->constData(), octets, size_t(length)) == 0) {
                details->model = model;
            } else {
                *rawModel = QByteArray(octets, length);
                details->model = QString::fromUtf8(*rawModel);
            }
            continue;
        }
        int *number = numberOf(details, field);
        int value = 0;
        if (number && *number == CardDetails::absent && numberOfVariable(var, field, &value))
            *number = value;
    }
    if (!modelFound)
        rawModel->clear();
}

bool DetailReader::sameReport(const CardDetails &a, const CardDetails &b)
{
    return a.host == b.host && a.model == b.model && a.outputSource == b.outputSource
        && a.batteryStatus == b.batteryStatus && a.capacity == b.capacity && a.runtimeMinutes == b.runtimeMinutes
        && a.loadPercent == b.loadPercent && a.inputVoltage == b.inputVoltage && a.outputVoltage == b.outputVoltage
        && a.inputFrequencyTenths == b.inputFrequencyTenths && a.batteryTemperature == b.batteryTemperature;
}
