#include "storage/settings.h"

#include "storage/privatefile.h"
#include "storage/settingkeys.h"

#include <QFile>
#include <QHash>
#include <QSettings>

#include <mutex>

#include <sys/stat.h>

namespace {

// What tells one state of the settings file from the next: a rewrite (a new file renamed into place), an edit in
// place, a change of owner or mode, or a link or FIFO in its place all show here.
struct FileIdentity
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;

    bool operator==(const FileIdentity &o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size && mode == o.mode
            && owner == o.owner && group == o.group && modifiedNs == o.modifiedNs && changedNs == o.changedNs;
    }
};

FileIdentity identityOf(const QString &path)
{
    FileIdentity id;
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return id;
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mode = st.st_mode;
    id.owner = st.st_uid;
    id.group = st.st_gid;
    id.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

// The values read from one state of one settings file. The policy reads its keys at every report; parsing the
// file each time cost more than everything else of a report.
struct CachedFile
{
    FileIdentity identity;
    bool checked = false;
    bool usable = false;
    QHash<QString, QVariant> values;
};

std::mutex cacheMutex;
QHash<QString, CachedFile> &cache()
{
    static QHash<QString, CachedFile> files;
    return files;
}

} // namespace

QVariant readSetting(const QString &path, const QString &key)
{
    std::lock_guard<std::mutex> lock(cacheMutex);
    CachedFile &file = cache()[path];
    const FileIdentity now = identityOf(path);
    if (!file.checked || !(now == file.identity)) {
        file.checked = true;
        file.identity = now;
        file.values.clear();
        // A FIFO left in its place would block the reading thread for good, a link would read someone's file.
        file.usable = PrivateFile::usable(path);
    }
    if (!file.usable)
        return QVariant();
    const auto known = file.values.constFind(key);
    if (known != file.values.constEnd())
        return known.value();
    QSettings settings(path, QSettings::IniFormat);
    const QVariant value = settings.value(key, QVariant());
    file.values.insert(key, value);
    return value;
}

namespace {
bool writeSettings(const QString &path, const QVariantMap &values)
{
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        cache().remove(path);
    }
    // QSettings keeps the mode of an existing file when it rewrites it; make the first one private. It would
    // also write through a link to its target, so a refused file or lock file is not written at all.
    if (!PrivateFile::ensure(path) || !PrivateFile::check(path + QStringLiteral(".lock")))
        return false;
    bool written = false;
    {
        QSettings settings(path, QSettings::IniFormat);
        QVariantMap before;
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            before.insert(it.key(), settings.value(it.key()));
            settings.setValue(it.key(), it.value());
        }
        settings.sync();
        // A garbled file reads as a FormatError and is written all the same; only a failed write counts.
        written = settings.status() != QSettings::AccessError;
        if (!written) {
            // Qt keeps what it could not write for every later reader in this process: the protection would act
            // on a value the file does not have. The old values go back in its place.
            for (auto it = before.cbegin(); it != before.cend(); ++it) {
                if (it.value().isValid())
                    settings.setValue(it.key(), it.value());
                else
                    settings.remove(it.key());
            }
            settings.sync();
        }
    }
    std::lock_guard<std::mutex> lock(cacheMutex);
    cache().remove(path);
    return written;
}
} // namespace

bool writeSetting(const QString &path, const QString &key, const QVariant &value)
{
    return writeSettings(path, {{key, value}});
}

QString storeSetting(const QString &path, const QString &key, const QVariant &value)
{
    return storeSettings(path, {{key, value}});
}

QString storeSettings(const QString &path, const QVariantMap &values)
{
    QVariantMap stored;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QVariant converted;
        const QString why = SettingKeys::refusal(it.key(), it.value(), &converted);
        if (!why.isEmpty())
            return why;
        stored.insert(it.key(), converted);
    }
    if (!stored.isEmpty() && !writeSettings(path, stored))
        return QStringLiteral("the settings file %1 cannot be written").arg(path);
    return QString();
}

QVariant readCheckedSetting(const QString &path, const QString &key)
{
    return SettingKeys::usable(key, readSetting(path, key));
}
