#include "snmp/snmplock.h"

#include "snmp/snmpinfo.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace {
int libraryUsers = 0; // under the lock
} // namespace

QRecursiveMutex &SnmpLock::mutex()
{
    static QRecursiveMutex libraryMutex;
    return libraryMutex;
}

void startSnmpLibrary()
{
    SnmpLock lock;
    if (libraryUsers++ == 0)
        init_snmp(Snmp::applicationName);
}

bool stopSnmpLibrary(void (*alsoOnShutdown)())
{
    SnmpLock lock;
    if (--libraryUsers > 0)
        return false;
    snmp_shutdown(Snmp::applicationName);
    if (alsoOnShutdown)
        alsoOnShutdown();
    return true;
}
