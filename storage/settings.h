#pragma once

#include <QString>
#include <QVariant>

// Every access to the settings file goes through these two, INI format. A read of an absent key gives an invalid
// QVariant; a write is on disk when the call returns, and the next read sees it. A read parses the file only when
// it changed since the last read (one lstat tells); any thread.
QVariant readSetting(const QString &path, const QString &key);
// False when the file could not be written.
bool writeSetting(const QString &path, const QString &key, const QVariant &value);

// The writes of the program: checked against the settings-key table first. Gives why the value was refused
// (and then writes nothing), or empty. writeSetting stays the bare write, as a hand edit would be.
QString storeSetting(const QString &path, const QString &key, const QVariant &value);
// Several keys, all or nothing: every value is checked first, and nothing is written when one is refused.
QString storeSettings(const QString &path, const QVariantMap &values);
// A read whose value is fit to act on (see SettingKeys::usable).
QVariant readCheckedSetting(const QString &path, const QString &key);
