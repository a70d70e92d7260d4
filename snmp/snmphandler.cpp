#include "snmp/snmphandler.h"

#include "snmp/notificationgate.h"
#include "snmp/snmpinfo.h"
#include "storage/logthrottle.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <QAtomicInt>
#include <QThread>

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
// Notifications decoded on the engine thread wait in the GUI thread's queue until the listener takes them. The
// senders that are not cards are held to their rate before they get here, so the queue holds what the cards
// send; it is bounded only so that a GUI thread that stopped taking cannot exhaust the memory, and what is
// dropped at the bound is counted and logged.
constexpr int maxQueuedNotifications = 100000;
QAtomicInt queuedNotifications;
QAtomicInteger<quint64> droppedNotifications;
LogThrottle *queueFullLog()
{
    static LogThrottle *log = new LogThrottle;
    return log;
}
} // namespace

SNMPHandler *SNMPHandler::instance()
{
    static SNMPHandler *handler = [] {
        auto *created = new SNMPHandler;
        // Runs in the GUI thread just before the listener's own slot: one notification taken.
        connect(created, &SNMPHandler::gotTrapdData, created, [] { queuedNotifications.fetchAndSubRelaxed(1); });
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

int SNMPHandler::eventOfNotification(const snmp_pdu *pdu, bool fromCard)
{
    if (!pdu)
        return -1;
    qint64 n = -1;
    switch (pdu->command) {
    case SNMP_MSG_TRAP:
        // An enterprise-specific trap is a UPS event only from the cards' enterprise: any other device's traps,
        // sent to the same port, are none of ours. A generic one (coldStart, linkDown, authenticationFailure...)
        // keeps its number mapping only for a card, which may name its agent's enterprise rather than the
        // cards'; from any other device it is dropped, as its v2c equivalent is.
        if (!underUpsEnterprise(pdu->enterprise, pdu->enterprise_length)
            && (pdu->trap_type == Snmp::V1EnterpriseSpecific || !fromCard))
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

bool SNMPHandler::decodeNotification(const QString &host, snmp_pdu *pdu, quint64 acknowledgement)
{
    const int event = eventOfNotification(pdu, NotificationGate::instance()->isCard(host));
    if (event < 0)
        return true;
    // Emitted in the GUI thread itself, the signal is delivered at once and nothing queues.
    const bool queued = QThread::currentThread() != thread();
    if (queued && queuedNotifications.fetchAndAddRelaxed(1) >= maxQueuedNotifications) {
        queuedNotifications.fetchAndSubRelaxed(1);
        const quint64 dropped = droppedNotifications.fetchAndAddRelaxed(1) + 1;
        if (const qint64 lines = queueFullLog()->hit(QStringLiteral("queue"), LogThrottle::steadyMs()))
            qWarning("Notification queue full (%d waiting): %lld dropped since the last line, %llu in all",
                maxQueuedNotifications, static_cast<long long>(lines), static_cast<unsigned long long>(dropped));
        return false;
    }
    emit gotTrapdData(host, event, acknowledgement);
    return true;
}

quint64 SNMPHandler::droppedNotificationCount()
{
    return droppedNotifications.loadRelaxed();
}
