#pragma once

#include <QByteArray>
#include <QString>

// One monitored UPS network card. A plain value, copied between the dialogs, the window and the engine.
struct SNMPInfo
{
    QString ip;
    int port = 0;
    int version = 0; // 0 community-based (SNMPv2c on the wire), 1 SNMP v3 with USM, 2 a network UPS server
    QString community; // of a network UPS server: the UPS name
    int authType = 0; // 0 HMAC-MD5, 1 HMAC-SHA-1
    int privType = 0; // 0 DES, 1 AES-128
    QString userName; // USM security name and, at once, the authentication pass phrase; a UPS server's login
    QString password; // privacy pass phrase; a UPS server's password

    // Inside the engine a host is known by address, colon, port.
    QString peer() const { return ip + QLatin1Char(':') + QString::number(port); }

    // Why the card cannot be stored as it stands, in English, or empty. With keptSecrets an empty community,
    // user name or password stands for the stored one. validationText() gives the same in the current language.
    QString validate(bool keptSecrets = false) const;
    QString validationText(bool keptSecrets = false) const;
};

namespace Snmp {

// NetworkUps is no SNMP at all: the host is a server of the network UPS protocol (Network UPS Tools' upsd, or
// another Vigilex), followed by the client instead of an SNMP session.
enum Version { CommunityBased = 0, Usm = 1, NetworkUps = 2 };
inline constexpr int NetworkUpsDefaultPort = 3493;
enum AuthType { AuthMd5 = 0, AuthSha = 1 };
enum PrivType { PrivDes = 0, PrivAes = 1 };

// Security level of a v3 host follows from the lengths of the two texts, in characters.
enum class SecurityLevel { NoAuthNoPriv, AuthNoPriv, AuthPriv };
inline SecurityLevel securityLevel(const QString &userName, const QString &password)
{
    if (userName.size() < 8)
        return SecurityLevel::NoAuthNoPriv;
    if (password.isEmpty())
        return SecurityLevel::AuthNoPriv;
    if (password.size() < 8)
        return SecurityLevel::NoAuthNoPriv;
    return SecurityLevel::AuthPriv;
}

// The host string of every signal towards the window: the bare address, without the port.
inline QString hostOfPeer(const QString &peer) { return peer.section(QLatin1Char(':'), 0, 0); }

// The four polled objects, in request order; the data array holds their values at the same indexes.
inline constexpr int PolledObjectCount = 4;
inline constexpr int PolledOidLength = 14;
enum DataIndex { BatteryStatus = 0, InputStatus = 1, OutputStatus = 2, BatteryCapacity = 3 };
inline constexpr char polledOidText[PolledObjectCount][32] = {
    "1.3.6.1.4.1.935.1.1.1.2.1.1.0", // battery status
    "1.3.6.1.4.1.935.1.1.1.3.2.5.0", // input (mains) status
    "1.3.6.1.4.1.935.1.1.1.4.1.1.0", // output status
    "1.3.6.1.4.1.935.1.1.1.2.2.1.0", // battery capacity, percent
};
inline constexpr unsigned long polledOid[PolledObjectCount][PolledOidLength] = {
    {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 1, 1, 0},
    {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 3, 2, 5, 0},
    {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 4, 1, 1, 0},
    {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 2, 1, 0},
};

// A data array is the four values followed by one byte whose bit i tells that value i came in the answer. An
// object that is missing, an exception, an empty value or an error response leaves its bit clear: unknown is not
// "normal", and whoever keeps state keeps the last known value instead. An array of only the four values (as
// tests and older callers build them) counts as fully known.
inline constexpr int KnownMaskIndex = 4;
inline constexpr int DataArraySize = 5;
inline constexpr unsigned AllKnown = 0x0F;
inline unsigned knownMask(const QByteArray &data)
{
    if (data.size() > KnownMaskIndex)
        return static_cast<unsigned char>(data.at(KnownMaskIndex)) & AllKnown;
    return (1u << qMin<int>(int(data.size()), PolledObjectCount)) - 1;
}
inline bool isKnown(const QByteArray &data, int index)
{
    return (knownMask(data) >> index) & 1u;
}

// A battery capacity is a percentage; anything else a card sends there is no capacity at all.
inline constexpr int MaxCapacity = 100;

// snmpTrapOID.0, the variable that names a v2 notification.
inline constexpr int TrapOidLength = 11;
inline constexpr unsigned long trapOid[TrapOidLength] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};

// The UPS cards' enterprise: their notifications are 1.3.6.1.4.1.935.0.k (v2) or enterprise 1.3.6.1.4.1.935 (v1).
inline constexpr int UpsEnterpriseLength = 7;
inline constexpr unsigned long upsEnterprise[UpsEnterpriseLength] = {1, 3, 6, 1, 4, 1, 935};
inline constexpr long V1EnterpriseSpecific = 6;

// Values of the data array the program distinguishes.
inline constexpr int BatteryNormal = 2;
inline constexpr int BatteryLow = 3;
inline constexpr int InputNormal = 0;
inline constexpr int InputNoTransfer = 1;
inline constexpr int InputHighLine = 2;
inline constexpr int OutputOnLine = 2;
inline constexpr int OutputOnBattery = 3;
inline constexpr int OutputOnBypass = 6;

// Power trouble: battery low or any input status other than normal. The lamp and the policy share it.
inline bool isPowerTrouble(unsigned char battery, unsigned char input)
{
    return battery == BatteryLow || input != InputNormal;
}

// What a poll answer is to the GUI thread, given the data last handed over for the same address (empty when
// none since its sessions or its status changed). Data that differs is a change. An unchanged answer is a
// confirmation unless both power bytes are known and normal: the policy acts on every report of a card in
// trouble (the capacity threshold, the confirmation of a countdown resumed after a restart), and with a power
// byte unknown it goes by the last known one. The unchanged answer of a card known to be in order changes
// nothing anywhere and stays on the engine thread.
enum class Report { Change, Confirmation, Nothing };
inline Report reportOf(const QByteArray &last, const QByteArray &data)
{
    if (last != data)
        return Report::Change;
    const bool inOrder = isKnown(data, BatteryStatus) && isKnown(data, InputStatus)
        && !isPowerTrouble(static_cast<unsigned char>(data.at(BatteryStatus)),
            static_cast<unsigned char>(data.at(InputStatus)));
    return inOrder ? Report::Nothing : Report::Confirmation;
}

// Host status values and the two event codes of polling; a notification k arrives as code k + 1.
enum Status { Offline = 0, Online = 1 };
enum Event { EventHostLost = 0, EventHostBack = 1 };
inline constexpr int eventOfNotification(int k) { return k + 1; }

// Wire identifiers of the USM protocol choices.
inline constexpr char oidHmacMd5[] = "1.3.6.1.6.3.10.1.1.2";
inline constexpr char oidHmacSha[] = "1.3.6.1.6.3.10.1.1.3";
inline constexpr char oidDes[] = "1.3.6.1.6.3.10.1.2.2";
inline constexpr char oidAes128[] = "1.3.6.1.6.3.10.1.2.4";

inline constexpr char applicationName[] = "NORVA";

} // namespace Snmp
