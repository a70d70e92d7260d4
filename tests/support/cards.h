#pragma once

#include "snmp/snmpinfo.h"

// The card records the tests build, one way for all of them.
inline SNMPInfo v2cHost(const QString &ip, int port, const QString &community = QStringLiteral("public"))
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = Snmp::CommunityBased;
    info.community = community;
    return info;
}

inline SNMPInfo v3Host(
    const QString &ip, int port, int authType, int privType, const QString &user, const QString &password)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = Snmp::Usm;
    info.authType = authType;
    info.privType = privType;
    info.userName = user;
    info.password = password;
    return info;
}
