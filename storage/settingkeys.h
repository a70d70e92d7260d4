#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// Every key of the settings file with its type and the range a writer may store: the store, the dialog and
// the service check against this one table. Any thread.
struct SettingKey
{
    QString name;
    QVariant::Type type;
    int minimum = 0;
    int maximum = 0;
    // 0 is stored as "condition off" besides the range.
    bool zeroIsOff = false;
    // What a stored value outside the range reads as: the dialog's default, never the value itself.
    int fallback = 0;
    // A countdown key keeps a hand-edited value: 0 or less (or no number) already reads as off, and a longer
    // countdown never shuts down sooner than asked, while a default would.
    bool policyReadsAsStored = false;
    // What a dialog shows for an absent key. The protection reads an absent key as off (no pop-ups, no
    // application, no condition) until one is written.
    QVariant byDefault;
};

namespace SettingKeys {
// The keys by name, for the code that reads or writes one of them.
inline constexpr char language[] = "system/language";
inline constexpr char popWarning[] = "system/pop_warning";
// Desktop notifications (org.freedesktop.Notifications) of the window: on unless switched off.
inline constexpr char desktopNotify[] = "system/desktop_notify";
inline constexpr char applicationEnabled[] = "system/shutdown_app_enable";
inline constexpr char application[] = "system/shutdown_app";
inline constexpr char applicationTime[] = "system/shutdown_exec_time";
inline constexpr char acFailedTime[] = "shutdown/ac_failed_time";
inline constexpr char batteryLowTime[] = "shutdown/batt_low_time";
inline constexpr char acFailedCapacity[] = "shutdown/ac_failed_capacity";
// The network UPS protocol server for other machines' upsc and upsmon: off unless switched on, then on this
// address (loopback unless told otherwise) and TCP port.
inline constexpr char nutEnabled[] = "nut/enabled";
inline constexpr char nutAddress[] = "nut/address";
inline constexpr char nutPort[] = "nut/port";
// Seconds the shutdown waits, after raising a forced shutdown, for the followers to log out.
inline constexpr char nutFsdWait[] = "nut/fsd_wait";
// Who may log in to the server (storage/nutusers.h); a face over the bus never gets the passwords back.
inline constexpr char nutUsers[] = "nut/users";

// What the service would run as its own user: a change of these is an administrator's.
bool isApplicationKey(const QString &name);
// The network UPS protocol server's: a change opens a port or grants access, so it is an administrator's too.
bool isServerKey(const QString &name);
// The key's default (see SettingKey::byDefault), invalid for an unknown key.
QVariant defaultValue(const QString &name);
const QVector<SettingKey> &all();
const SettingKey *find(const QString &name);
// Why value cannot be stored under name, in English, or empty; *stored gets it in the key's type.
QString refusal(const QString &name, const QVariant &value, QVariant *stored = nullptr);
// What the protection may act on: absent stays absent, a value outside the range reads as the fallback.
QVariant usable(const QString &name, const QVariant &stored);
} // namespace SettingKeys
