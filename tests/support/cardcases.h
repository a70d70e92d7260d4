#pragma once

#include "snmp/snmpinfo.h"
#include "support/cards.h"

#include <QString>
#include <QVector>

// The card records a person may enter, with what every face must answer: run against each writer of the host
// table (the dialog and the service's AddHost/ModifyHost both go through the backend's one validation). Each
// case starts from the two stored cards below and ends with them stored again.
namespace CardCases {

inline SNMPInfo storedCommunityCard()
{
    SNMPInfo info;
    info.ip = QStringLiteral("127.0.0.21");
    info.port = 16201;
    info.version = Snmp::CommunityBased;
    info.community = QStringLiteral("stored-community");
    return info;
}

inline SNMPInfo storedUsmCard()
{
    SNMPInfo info;
    info.ip = QStringLiteral("127.0.0.22");
    info.port = 16202;
    info.version = Snmp::Usm;
    info.authType = Snmp::AuthSha;
    info.privType = Snmp::PrivAes;
    info.userName = QStringLiteral("stored-operator");
    info.password = QStringLiteral("stored-privacy");
    return info;
}

// A free address for a new card.
inline const QString newAddress = QStringLiteral("127.0.0.23");

struct Case
{
    const char *name;
    SNMPInfo entered;
    // Empty: entered is a new card; else the address of the stored card it replaces.
    QString oldIp;
    // A piece of the reason the face must give, or empty when the record is taken. Taken, the stored card has
    // entered's fields, an empty secret replaced by the stored one (kept only on the card's own address).
    QString refusal;
};

inline SNMPInfo community(const QString &ip, int port, const QString &community)
{
    return v2cHost(ip, port, community);
}

inline SNMPInfo usm(const QString &ip, const QString &userName, const QString &password, int authType = Snmp::AuthMd5,
    int privType = Snmp::PrivDes)
{
    return v3Host(ip, 161, authType, privType, userName, password);
}

inline SNMPInfo withVersion(SNMPInfo info, int version)
{
    info.version = version;
    return info;
}

inline const QVector<Case> &all()
{
    const QString ip = newAddress;
    const QString v2c = storedCommunityCard().ip;
    const QString v3 = storedUsmCard().ip;
    const QString user8 = QStringLiteral("operator");
    const QString pass8 = QStringLiteral("password");
    static const QVector<Case> cases {
        {"address out of range", community(QStringLiteral("300.1.1.1"), 161, QStringLiteral("public")), {},
            QStringLiteral("300.1.1.1")},
        {"address with a letter", community(QStringLiteral("127.0.0.x"), 161, QStringLiteral("public")), {},
            QStringLiteral("127.0.0.x")},
        {"IPv6 address", community(QStringLiteral("::1"), 161, QStringLiteral("public")), {}, QStringLiteral("::1")},
        {"empty address", community(QString(), 161, QStringLiteral("public")), {}, QStringLiteral("IPv4")},
        {"port 0", community(ip, 0, QStringLiteral("public")), {}, QStringLiteral("port")},
        {"port 65536", community(ip, 65536, QStringLiteral("public")), {}, QStringLiteral("port")},
        {"port 1", community(ip, 1, QStringLiteral("public")), {}, {}},
        {"port 65535", community(ip, 65535, QStringLiteral("public")), {}, {}},
        {"version 3", withVersion(community(ip, 161, QStringLiteral("public")), 3), {}, QStringLiteral("version")},
        {"network UPS server", withVersion(community(ip, 3493, QStringLiteral("ups1")), Snmp::NetworkUps), {}, {}},
        {"UPS name with a blank", withVersion(community(ip, 3493, QStringLiteral("my ups")), Snmp::NetworkUps), {},
            QStringLiteral("UPS name")},
        {"empty community", community(ip, 161, QString()), {}, QStringLiteral("community")},
        {"overlong community", community(ip, 161, QString(256, QLatin1Char('c'))), {}, QStringLiteral("community")},
        {"user name of 7", usm(ip, user8.left(7), pass8), {}, QStringLiteral("user name")},
        {"user name of 8", usm(ip, user8, pass8), {}, {}},
        {"user name of 32", usm(ip, QString(32, QLatin1Char('u')), pass8), {}, {}},
        {"user name of 33", usm(ip, QString(33, QLatin1Char('u')), pass8), {}, QStringLiteral("user name")},
        {"password of 7", usm(ip, user8, pass8.left(7)), {}, QStringLiteral("password")},
        {"password of 8", usm(ip, user8, pass8), {}, {}},
        {"no password", usm(ip, user8, QString()), {}, {}},
        {"unknown authentication", usm(ip, user8, pass8, 2, Snmp::PrivDes), {}, QStringLiteral("type")},
        {"unknown privacy", usm(ip, user8, pass8, Snmp::AuthMd5, -1), {}, QStringLiteral("type")},
        {"address taken", community(v2c, 161, QStringLiteral("public")), {}, QStringLiteral("stored already")},
        {"moved onto a taken address", community(v3, 161, QStringLiteral("public")), v2c,
            QStringLiteral("stored already")},
        {"community kept on its address", community(v2c, 16211, QString()), v2c, {}},
        {"community not kept on a new address", community(ip, 16211, QString()), v2c, QStringLiteral("community")},
        {"v3 secrets kept on their address", usm(v3, QString(), QString(), Snmp::AuthMd5, Snmp::PrivDes), v3, {}},
        {"v3 user name not kept on a new address", usm(ip, QString(), QString()), v3, QStringLiteral("user name")},
        {"community not kept across the version", usm(v2c, QString(), QString()), v2c, QStringLiteral("user name")},
        {"modified, new secret", community(v2c, 16211, QStringLiteral("private")), v2c, {}},
    };
    return cases;
}

// What the stored card must hold after a taken case.
inline SNMPInfo expectedStored(const Case &c)
{
    SNMPInfo expected = c.entered;
    if (c.oldIp.isEmpty() || c.oldIp != c.entered.ip)
        return expected;
    const SNMPInfo old = c.oldIp == storedCommunityCard().ip ? storedCommunityCard() : storedUsmCard();
    if (expected.version != old.version)
        return expected;
    if (expected.community.isEmpty())
        expected.community = old.community;
    if (expected.userName.isEmpty())
        expected.userName = old.userName;
    if (expected.password.isEmpty())
        expected.password = old.password;
    return expected;
}

} // namespace CardCases
