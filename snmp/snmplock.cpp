#include "snmp/snmplock.h"

QRecursiveMutex &SnmpLock::mutex()
{
    static QRecursiveMutex libraryMutex;
    return libraryMutex;
}
