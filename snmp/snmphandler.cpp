#include "snmp/snmphandler.h"

#include "snmp/snmpinfo.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <QAtomicInt>

#include <chrono>

#include <limits>

namespace {

bool isIntegerLike(u_char type)
{
    switch (type) {
    case ASN_INTEGER:
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        return true;
    default:
        return false;
    }
}

bool sameName(const netsnmp_variable_list *var, const unsigned long *name, int length)
{
    static_assert(sizeof(oid) == sizeof(unsigned long), "the OID tables are written as unsigned long");
    return snmp_oid_compare(var->name, var->name_length, reinterpret_cast<const oid *>(name), length) == 0;
}

// The identifier is 1.3.6.1.4.1.935 or lies under it.
bool underUpsEnterprise(const oid *name, size_t length)
{
    if (!name || length < size_t(Snmp::UpsEnterpriseLength))
        return false;
    return snmp_oidtree_compare(
               name, length, reinterpret_cast<const oid *>(Snmp::upsEnterprise), Snmp::UpsEnterpriseLength)
        == 0;
}

} // namespace

namespace {
// Notifications decoded on the engine thread wait in the GUI thread's queue until the listener takes them, one
// database insert each. Under a flood they would queue without bound, and the poll answers, and with them the
// protection, would wait behind all of them. The queue is kept to what the GUI thread takes in about half a
// second at its measured pace; beyond that the newest are dropped, as the socket drops what it cannot hold.
constexpr qint64 queueBudgetNs = 500000000;
constexpr int minQueuedNotifications = 32;
constexpr int maxQueuedNotifications = 1024;
QAtomicInt queuedNotifications;
QAtomicInt droppedNotifications;
// GUI-thread time per notification while some wait; starts slow so that a first burst cannot overfill the queue.
QAtomicInteger<qint64> takeIntervalNs(10000000);

qint64 monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// GUI thread, once per emission, just before the listener's own slot.
void notificationTaken()
{
    static qint64 lastTake = 0;
    static int waitingAtLastTake = 0;
    const qint64 now = monotonicNs();
    const int waiting = queuedNotifications.fetchAndSubRelaxed(1);
    // Only takes with more waiting behind them measure the pace; the gap after an emptied queue is idle time.
    if (waitingAtLastTake > 1)
        takeIntervalNs.storeRelaxed((takeIntervalNs.loadRelaxed() * 7 + (now - lastTake)) / 8);
    lastTake = now;
    waitingAtLastTake = waiting;
    if (waiting <= 1) {
        if (const int dropped = droppedNotifications.fetchAndStoreRelaxed(0))
            qWarning("Notification flood over: %d notifications dropped", dropped);
    }
}
} // namespace

SNMPHandler *SNMPHandler::instance()
{
    static SNMPHandler *handler = [] {
        auto *created = new SNMPHandler;
        connect(created, &SNMPHandler::gotTrapdData, created, [] { notificationTaken(); });
        return created;
    }();
    return handler;
}

QByteArray SNMPHandler::dataOfResponse(const snmp_pdu *pdu)
{
    QByteArray data(Snmp::DataArraySize, '\0');
    unsigned known = 0;
    // An error response (v1 noSuchName, genErr, tooBig...) carries no values, whatever its variables hold. A PDU
    // built here rather than received has the library's "not set" status.
    if (!pdu || (pdu->errstat != SNMP_ERR_NOERROR && pdu->errstat != SNMP_DEFAULT_ERRSTAT))
        return data;
    for (const netsnmp_variable_list *var = pdu->variables; var; var = var->next_variable) {
        for (int i = 0; i < Snmp::PolledObjectCount; ++i) {
            if (!sameName(var, Snmp::polledOid[i], Snmp::PolledOidLength))
                continue;
            // A later duplicate wins, also when it carries nothing.
            known &= ~(1u << i);
            // Exception values (noSuchObject and kin) and NULLs carry no value storage.
            if (!var->val.string || var->val_len == 0)
                break;
            long value = 0;
            if (isIntegerLike(var->type) && var->val_len >= sizeof(long))
                value = *var->val.integer;
            else if (var->type == ASN_COUNTER64 && var->val_len >= sizeof(counter64))
                value = static_cast<long>(var->val.counter64->low);
            else if (var->type == ASN_OCTET_STR)
                value = var->val.string[0];
            else
                break;
            // The low byte of a status is what the cards mean (a status of -1 reads as 255, trouble); a capacity
            // outside 0..100 is no percentage, and its low byte could read as an empty battery.
            if (i == Snmp::BatteryCapacity && (value < 0 || value > Snmp::MaxCapacity))
                break;
            data[i] = static_cast<char>(value & 0xff);
            known |= 1u << i;
            break;
        }
    }
    data[Snmp::KnownMaskIndex] = static_cast<char>(known);
    return data;
}

int SNMPHandler::eventOfNotification(const snmp_pdu *pdu)
{
    if (!pdu)
        return -1;
    qint64 n = -1;
    switch (pdu->command) {
    case SNMP_MSG_TRAP:
        // An enterprise-specific trap is a UPS event only from the cards' enterprise: any other device's traps,
        // sent to the same port, are none of ours. The generic traps keep their number mapping.
        if (pdu->trap_type == Snmp::V1EnterpriseSpecific
            && !underUpsEnterprise(pdu->enterprise, pdu->enterprise_length))
            return -1;
        n = static_cast<qint32>(static_cast<quint32>(pdu->specific_type));
        break;
    case SNMP_MSG_INFORM:
    case SNMP_MSG_TRAP2: {
        const netsnmp_variable_list *var = pdu->variables;
        while (var && !sameName(var, Snmp::trapOid, Snmp::TrapOidLength))
            var = var->next_variable;
        if (!var)
            return -1;
        // A hostile sender may put anything there: only an OBJECT IDENTIFIER with at least one sub-identifier
        // names a notification. The last sub-identifier sits at val_len / sizeof(oid) - 1.
        if (var->type != ASN_OBJECT_ID || !var->val.objid || var->val_len < sizeof(oid))
            return -1;
        const size_t count = var->val_len / sizeof(oid);
        // Every well-formed OID has two sub-identifiers at least; the library reads an empty one as a single
        // 0. Neither that nor zeroDotZero (0.0, the null identifier) names a notification.
        if (count < 2 || (count == 2 && var->val.objid[0] == 0 && var->val.objid[1] == 0))
            return -1;
        // authenticationFailure, coldStart and the like from any agent are not the cards' power events.
        if (!underUpsEnterprise(var->val.objid, count))
            return -1;
        const size_t last = count - 1;
        n = static_cast<qint32>(static_cast<quint32>(var->val.objid[last]));
        break;
    }
    default:
        return -1;
    }
    // n + 1 must still be an int.
    if (n < 0 || n >= std::numeric_limits<qint32>::max())
        return -1;
    return static_cast<int>(n + 1);
}

void SNMPHandler::decodeResponse(snmp_session *session, snmp_pdu *pdu)
{
    const QByteArray data = dataOfResponse(pdu);
    const QString host = session && session->peername ? QString::fromLatin1(session->peername) : QString();
    emit gotSessionData(host, data);
}

void SNMPHandler::decodeNotification(const QString &host, snmp_pdu *pdu)
{
    const int event = eventOfNotification(pdu);
    if (event < 0)
        return;
    const qint64 pace = qMax<qint64>(1, takeIntervalNs.loadRelaxed());
    const int limit = int(qBound<qint64>(minQueuedNotifications, queueBudgetNs / pace, maxQueuedNotifications));
    if (queuedNotifications.fetchAndAddRelaxed(1) >= limit) {
        queuedNotifications.fetchAndSubRelaxed(1);
        if (droppedNotifications.fetchAndAddRelaxed(1) == 0)
            qWarning("Notification flood: notifications are dropped until the queue drains");
        return;
    }
    emit gotTrapdData(host, event);
}
