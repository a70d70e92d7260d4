#include "snmp/snmpinfo.h"

#include <QCoreApplication>
#include <QHostAddress>

namespace {
// What the card's agent and the USM accept: a security name is at most 32 octets, and a pass phrase shorter
// than 8 characters derives no key. Longer texts than these bounds are typing accidents, not secrets.
constexpr int maxCommunity = 255;
constexpr int minSecret = 8;
constexpr int maxUserName = 32;
constexpr int maxPassword = 255;
// A UPS name as upsd's configuration takes it; login and password go on one request line each.
constexpr int maxUpsName = 64;
constexpr int maxUpsLogin = 64;

bool isUpsName(const QString &name)
{
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') && c != QLatin1Char('_')
            && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

bool hasControl(const QString &text, bool blankToo)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || (blankToo && c.isSpace()))
            return true;
    }
    return false;
}

struct Reason
{
    Reason() = default;
    Reason(const char *pattern, const QString &argument = QString()) : pattern(pattern), argument(argument) { }

    const char *pattern = nullptr;
    QString argument;
};

Reason checkNetworkUps(const SNMPInfo &info, bool keptSecrets)
{
    if (info.community.isEmpty() && !keptSecrets)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The UPS name must not be empty")};
    if (info.community.size() > maxUpsName || !isUpsName(info.community))
        return {QT_TRANSLATE_NOOP("SNMPInfo",
                    "The UPS name may hold only letters A to Z, digits, '-', '_' and '.', at most %1 of them"),
            QString::number(maxUpsName)};
    if (info.userName.size() > maxUpsLogin || hasControl(info.userName, true))
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The user must have no blanks and at most %1 characters"),
            QString::number(maxUpsLogin)};
    if (info.password.size() > maxPassword || hasControl(info.password, false))
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The password must not be longer than %1 characters"),
            QString::number(maxPassword)};
    // A password without a user could never be sent. Kept ones stand behind empty fields and are checked
    // again once filled in.
    if (!keptSecrets && info.userName.isEmpty() != info.password.isEmpty())
        return {QT_TRANSLATE_NOOP("SNMPInfo", "Give both the user and the password, or neither")};
    return {};
}

Reason check(const SNMPInfo &info, bool keptSecrets)
{
    QHostAddress address;
    // setAddress() also takes "1.2" and other short forms; the card's identity is the dotted quad as typed.
    if (!address.setAddress(info.ip) || address.protocol() != QAbstractSocket::IPv4Protocol
        || QHostAddress(address.toIPv4Address()).toString() != info.ip)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "\"%1\" is not an IPv4 address (four numbers from 0 to 255 with dots)"),
            info.ip};
    if ((info.port < 1 || info.port > 65535) && info.version == Snmp::NetworkUps)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The port must be a number from 1 to 65535")};
    if (info.port < 1 || info.port > 65535)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The SNMP port must be a number from 1 to 65535")};
    if (info.version == Snmp::CommunityBased) {
        if (info.community.isEmpty() && !keptSecrets)
            return {QT_TRANSLATE_NOOP("SNMPInfo", "The community must not be empty")};
        if (info.community.size() > maxCommunity)
            return {QT_TRANSLATE_NOOP("SNMPInfo", "The community must not be longer than %1 characters"),
                QString::number(maxCommunity)};
        return {};
    }
    if (info.version == Snmp::NetworkUps)
        return checkNetworkUps(info, keptSecrets);
    if (info.version != Snmp::Usm)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "Unknown SNMP version")};
    if (!(keptSecrets && info.userName.isEmpty())) {
        if (info.userName.isEmpty())
            return {QT_TRANSLATE_NOOP("SNMPInfo", "The user name must not be empty")};
        if (info.userName.size() < minSecret)
            return {QT_TRANSLATE_NOOP("SNMPInfo", "The user name must have at least %1 characters"),
                QString::number(minSecret)};
        if (info.userName.size() > maxUserName)
            return {QT_TRANSLATE_NOOP("SNMPInfo", "The user name must not be longer than %1 characters"),
                QString::number(maxUserName)};
    }
    if (!info.password.isEmpty() && info.password.size() < minSecret)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The password must be empty or have at least %1 characters"),
            QString::number(minSecret)};
    if (info.password.size() > maxPassword)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "The password must not be longer than %1 characters"),
            QString::number(maxPassword)};
    if (info.authType < Snmp::AuthMd5 || info.authType > Snmp::AuthSha)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "Unknown authentication type")};
    if (info.privType < Snmp::PrivDes || info.privType > Snmp::PrivAes)
        return {QT_TRANSLATE_NOOP("SNMPInfo", "Unknown privacy type")};
    return {};
}

QString fill(QString text, const Reason &reason)
{
    return reason.argument.isNull() ? text : text.arg(reason.argument);
}
} // namespace

QString SNMPInfo::validate(bool keptSecrets) const
{
    const Reason reason = check(*this, keptSecrets);
    return reason.pattern ? fill(QString::fromLatin1(reason.pattern), reason) : QString();
}

QString SNMPInfo::validationText(bool keptSecrets) const
{
    const Reason reason = check(*this, keptSecrets);
    return reason.pattern ? fill(QCoreApplication::translate("SNMPInfo", reason.pattern), reason) : QString();
}
