#include "storage/apppaths.h"

#include "storage/privatefile.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &overrideRoot()
{
    static QString dir;
    return dir;
}
} // namespace

QString AppPaths::root()
{
    const QString &dir = overrideRoot();
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

void AppPaths::setRoot(const QString &dir) { overrideRoot() = dir; }

void AppPaths::createDirectories()
{
    for (const QString &dir : {dataDir(), cfgDir(), logDir()}) {
        if (QDir(dir).exists())
            continue;
        QDir().mkdir(dir);
        // The configuration holds community strings and pass phrases.
        if (dir == cfgDir())
            PrivateFile::restrictDirectory(dir);
    }
}
