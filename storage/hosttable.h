#pragma once

#include "snmp/snmpinfo.h"

#include <QList>
#include <QString>

// The stored cards in snmp_session, through the GUI thread's connection. A failed statement gives false (or
// nothing) and is not reported further. GUI thread only.
class HostTable
{
public:
    static QList<SNMPInfo> all();
    static bool find(const QString &ip, SNMPInfo *info);
    static bool exists(const QString &ip);
    // A new card; the caller has checked its fields.
    static bool insert(const SNMPInfo &info);
    // The card stored under oldIp takes info's fields, its address included.
    static bool update(const SNMPInfo &info, const QString &oldIp);
    static bool remove(const QString &ip);
};
