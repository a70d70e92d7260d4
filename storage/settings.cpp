#include "storage/settings.h"

#include "storage/privatefile.h"

#include <QSettings>

QVariant readSetting(const QString &path, const QString &key)
{
    // A FIFO left in its place would block the reading thread for good, a link would read someone's file.
    if (!PrivateFile::usable(path))
        return QVariant();
    QSettings settings(path, QSettings::IniFormat);
    return settings.value(key, QVariant());
}

void writeSetting(const QString &path, const QString &key, const QVariant &value)
{
    // QSettings keeps the mode of an existing file when it rewrites it; make the first one private. It would
    // also write through a link to its target, so a refused file or lock file is not written at all.
    if (!PrivateFile::ensure(path) || !PrivateFile::check(path + QStringLiteral(".lock")))
        return;
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}
