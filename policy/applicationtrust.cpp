#include "policy/applicationtrust.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
struct rlimit startOpenFileLimit
{
};
bool startOpenFileLimitKnown = false;

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == ::getuid();
}

// Empty when nobody but root and this user can change the directory's entries.
QString directoryRefusal(const QString &dir)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("directory %1 cannot be examined").arg(dir);
    if (!trustedOwner(st.st_uid))
        return QStringLiteral("directory %1 is owned by uid %2").arg(dir).arg(st.st_uid);
    if ((st.st_mode & S_IWGRP) && !(st.st_mode & S_ISVTX))
        return QStringLiteral("directory %1 is writable by the group").arg(dir);
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return QStringLiteral("directory %1 is writable by others").arg(dir);
    return QString();
}

QString chainRefusal(const QString &file)
{
    QString dir = QFileInfo(file).absolutePath();
    for (;;) {
        const QString refusal = directoryRefusal(dir);
        if (!refusal.isEmpty())
            return refusal;
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir)
            return QString();
        dir = parent;
    }
}

} // namespace

QString shutdownApplicationRefusal(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return QStringLiteral("no absolute path");
    const QString real = QFileInfo(path).canonicalFilePath();
    struct stat st
    {
    };
    if (real.isEmpty() || ::stat(QFile::encodeName(real).constData(), &st) != 0)
        return QStringLiteral("no such file");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("no regular file");
    if (!trustedOwner(st.st_uid))
        return QStringLiteral("owned by uid %1").arg(st.st_uid);
    if (st.st_mode & S_IWGRP)
        return QStringLiteral("writable by the group");
    if (st.st_mode & S_IWOTH)
        return QStringLiteral("writable by others");
    // The link as given and the file it leads to: whoever may change either directory may swap the program.
    QString refusal = chainRefusal(QDir::cleanPath(path));
    if (refusal.isEmpty() && real != QDir::cleanPath(path))
        refusal = chainRefusal(real);
    return refusal;
}

bool isTrustedShutdownApplication(const QString &path)
{
    const QString refusal = shutdownApplicationRefusal(path);
    if (refusal.isEmpty())
        return true;
    qWarning().noquote() << "Shutdown application" << path << "refused:" << refusal;
    return false;
}

QProcessEnvironment prepareShutdownApplicationEnvironment(QProcess &process)
{
    const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"));
    // Who and where: what a script needs to find the user's files, speak the user's language and reach the
    // desktop (a notification), nothing that chooses code to load.
    for (const char *name : {"HOME", "USER", "LOGNAME", "SHELL", "LANG", "LANGUAGE", "LC_ALL", "TZ", "DISPLAY",
             "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        const QString key = QLatin1String(name);
        if (inherited.contains(key))
            env.insert(key, inherited.value(key));
    }
    process.setProcessEnvironment(env);
    return env;
}

void rememberStartOpenFileLimit()
{
    startOpenFileLimitKnown = ::getrlimit(RLIMIT_NOFILE, &startOpenFileLimit) == 0;
}

void resetChildProcessState()
{
    // Whatever the program was given (an ambient capability from a unit or a launcher) stays with it: the
    // application's files are the user's to choose, so nothing carries over into the program they name.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] {};
    if (::syscall(SYS_capget, &header, sets) == 0) {
        for (__user_cap_data_struct &set : sets)
            set.inheritable = 0;
        ::syscall(SYS_capset, &header, sets);
    }
    if (startOpenFileLimitKnown)
        ::setrlimit(RLIMIT_NOFILE, &startOpenFileLimit);
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // Kernels before 5.11: one descriptor at a time, up to the limit the program had raised.
    struct rlimit limit
    {
    };
    const long top = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? long(limit.rlim_max) : 65536;
    for (long fd = 3; fd < top && fd < (1L << 20); ++fd) {
        const int flags = ::fcntl(int(fd), F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            ::fcntl(int(fd), F_SETFD, flags | FD_CLOEXEC);
    }
}
