#include "storage/privatefile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool inSharedDirectory(const QString &path)
{
    struct stat st {};
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    return ::stat(dir.constData(), &st) == 0 && (st.st_mode & S_ISGID);
}
} // namespace

unsigned PrivateFile::fileMode(const QString &path) { return inSharedDirectory(path) ? 0660 : 0600; }

void PrivateFile::ensure(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // O_EXCL: never touch a file that exists, whoever made it.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, fileMode(path));
    if (fd >= 0) {
        ::fchmod(fd, fileMode(path)); // the umask may have taken bits away; the group bit is wanted when shared
        ::close(fd);
    }
}

void PrivateFile::restrictDirectory(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    ::chmod(name.constData(), inSharedDirectory(path + QStringLiteral("/.")) ? 02770 : 0700);
}
