#pragma once

#include <QString>
#include <QVariant>

// Every access to the settings file goes through these two: a settings object per call, INI format. A read of
// an absent key gives an invalid QVariant; a write is on disk when the call returns.
QVariant readSetting(const QString &path, const QString &key);
void writeSetting(const QString &path, const QString &key, const QVariant &value);
