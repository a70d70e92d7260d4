#include "storage/apppaths.h"

#include "storage/privatefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString &overrideRoot()
{
    static QString dir;
    return dir;
}

bool s_keepLogInInstallation = false;
} // namespace

QString AppPaths::root()
{
    const QString &dir = overrideRoot();
    if (!dir.isEmpty())
        return dir;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // What applicationDirPath() reads on this platform.
    return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).path();
}

void AppPaths::setRoot(const QString &dir) { overrideRoot() = dir; }

void AppPaths::keepLogInInstallation(bool keep) { s_keepLogInInstallation = keep; }

QString AppPaths::userStateDir()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base = QDir::isAbsolutePath(state) ? state : QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base) + QStringLiteral("/vigilex");
}

QString AppPaths::logDir()
{
    const QString installed = installedLogDir();
    if (s_keepLogInInstallation)
        return installed;
    // The effective user's view: the one that opens the files.
    if (::euidaccess(QFile::encodeName(installed).constData(), W_OK | X_OK) == 0)
        return installed;
    return errno == EACCES || errno == EROFS ? userStateDir() : installed;
}

bool AppPaths::makePrivatePath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (!QDir::isAbsolutePath(clean))
        return false;
    int at = 0;
    while (at >= 0) {
        at = clean.indexOf(QLatin1Char('/'), at + 1);
        const QByteArray part = QFile::encodeName(at < 0 ? clean : clean.left(at));
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(clean).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AppPaths::createDirectories()
{
    const QString own = logDir();
    if (own != installedLogDir())
        makePrivatePath(own);
    for (const QString &dir : {dataDir(), cfgDir(), installedLogDir()}) {
        if (QDir(dir).exists())
            continue;
        QDir().mkdir(dir);
        // The configuration holds community strings and pass phrases.
        if (dir == cfgDir())
            PrivateFile::restrictDirectory(dir);
    }
}
