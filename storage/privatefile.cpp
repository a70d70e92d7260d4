#include "storage/privatefile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// The mode of path's directory, or 0 when it cannot be examined.
mode_t directoryMode(const QString &path)
{
    struct stat st {};
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::stat(dir.constData(), &st) == 0 ? st.st_mode : 0;
}

bool isMember(uid_t uid, gid_t gid)
{
    // The answer for the last stranger is kept: the log handler asks for every line.
    static std::mutex mutex;
    static uid_t lastUid = uid_t(-1);
    static gid_t lastGid = gid_t(-1);
    static bool lastAnswer = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (uid == lastUid && gid == lastGid)
        return lastAnswer;

    bool member = false;
    std::vector<char> buf(16384);
    struct passwd pw
    {
    };
    struct passwd *user = nullptr;
    if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &user) == 0 && user) {
        member = user->pw_gid == gid;
        const QByteArray name(user->pw_name);
        std::vector<char> gbuf(65536);
        struct group gr
        {
        };
        struct group *found = nullptr;
        if (!member && ::getgrgid_r(gid, &gr, gbuf.data(), gbuf.size(), &found) == 0 && found) {
            for (char **m = found->gr_mem; m && *m && !member; ++m)
                member = name == *m;
        }
    }
    lastUid = uid;
    lastGid = gid;
    lastAnswer = member;
    return member;
}

// Empty when the file may be used; else why not.
QString refusalOf(const struct stat &st, const QString &path)
{
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("is no regular file");
    if (st.st_nlink != 1)
        return QStringLiteral("has more than one name");
    if (st.st_uid == ::geteuid() || st.st_uid == 0)
        return QString();
    struct stat dir
    {
    };
    const QByteArray dirName = QFile::encodeName(QFileInfo(path).absolutePath());
    // Another member's file only where the group shares the directory (writes in it), not where it only reads.
    if (::stat(dirName.constData(), &dir) == 0 && (dir.st_mode & S_ISGID) && (dir.st_mode & S_IWGRP)
        && isMember(st.st_uid, dir.st_gid))
        return QString();
    return QStringLiteral("belongs to uid %1, no member of the group").arg(st.st_uid);
}

QString refusalOfPath(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QString(); // absent: it is made by whoever opens it, never through a link
    return S_ISLNK(st.st_mode) ? QStringLiteral("is a link") : refusalOf(st, path);
}

// SQLite's default file layer with the checks in front: the database's own name must not be a link (SQLite
// would resolve it), and every file it opens by name, the journal and the write-ahead log included, must pass
// the checks when it exists. SQLite opens the files themselves without following links.
sqlite3_vfs guardedVfs;
sqlite3_vfs *plainVfs = nullptr;

int guardedFullPathname(sqlite3_vfs *, const char *name, int size, char *out)
{
    struct stat st
    {
    };
    if (::lstat(name, &st) == 0 && S_ISLNK(st.st_mode)) {
        qWarning().noquote() << "Refused database file" << QFile::decodeName(name) << ": is a link";
        return SQLITE_CANTOPEN;
    }
    return plainVfs->xFullPathname(plainVfs, name, size, out);
}

int guardedOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *outFlags)
{
    if (name) {
        const QString path = QFile::decodeName(name);
        const QString refusal = refusalOfPath(path);
        if (!refusal.isEmpty()) {
            qWarning().noquote() << "Refused database file" << path << ":" << refusal;
            file->pMethods = nullptr;
            return SQLITE_CANTOPEN;
        }
    }
    return plainVfs->xOpen(plainVfs, name, file, flags, outFlags);
}
} // namespace

unsigned PrivateFile::fileMode(const QString &path)
{
    // A set-group-id directory hands its files to the group: to write where the group writes in it (shared
    // among members), to read where it may only read (the service's log).
    const mode_t dir = directoryMode(path);
    if (!(dir & S_ISGID))
        return 0600;
    return (dir & S_IWGRP) ? 0660 : 0640;
}

bool PrivateFile::ensure(const QString &path)
{
    guardDatabaseFiles();
    const QByteArray name = QFile::encodeName(path);
    // O_EXCL: never touch a file that exists, whoever made it; it also never follows a link.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, fileMode(path));
    if (fd >= 0) {
        ::fchmod(fd, fileMode(path)); // the umask may have taken bits away; the group bit is wanted when shared
        ::close(fd);
        return true;
    }
    return check(path);
}

bool PrivateFile::usable(const QString &path)
{
    return refusalOfPath(path).isEmpty();
}

bool PrivateFile::check(const QString &path)
{
    const QString refusal = refusalOfPath(path);
    if (refusal.isEmpty())
        return true;
    qWarning().noquote() << "Refused file" << path << ":" << refusal;
    return false;
}

int PrivateFile::openShared(const QString &path, int flags, QString *refusal)
{
    const QByteArray name = QFile::encodeName(path);
    const unsigned mode = fileMode(path);
    int fd = ::open(name.constData(), flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
        ::fchmod(fd, mode);
        return fd;
    }
    if (errno != EEXIST)
        return -1;
    fd = ::open(name.constData(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP && refusal)
            *refusal = QStringLiteral("is a link");
        return -1;
    }
    struct stat st
    {
    };
    const QString why = ::fstat(fd, &st) == 0 ? refusalOf(st, path) : QStringLiteral("cannot be examined");
    if (!why.isEmpty()) {
        ::close(fd);
        if (refusal)
            *refusal = why;
        return -1;
    }
    // O_NONBLOCK only kept a FIFO from blocking the open; a regular file does not need it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void PrivateFile::restrictDirectory(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    ::chmod(name.constData(), (directoryMode(path + QStringLiteral("/.")) & S_ISGID) ? 02770 : 0700);
}

void PrivateFile::guardDatabaseFiles()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sqlite3_initialize() != SQLITE_OK)
            return;
        plainVfs = sqlite3_vfs_find(nullptr);
        if (!plainVfs)
            return;
        guardedVfs = *plainVfs;
        guardedVfs.zName = "vigilex-guarded";
        guardedVfs.pNext = nullptr;
        guardedVfs.xOpen = guardedOpen;
        guardedVfs.xFullPathname = guardedFullPathname;
        sqlite3_vfs_register(&guardedVfs, 1);
    });
}
