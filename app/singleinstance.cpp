#include "app/singleinstance.h"

#include "storage/privatefile.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int AnswerWaitMs = 2000;

uid_t readHolder(int fd)
{
    char buf[32] = {0};
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return uid_t(-1);
    bool ok = false;
    const uint uid = QByteArray(buf, int(n)).trimmed().toUInt(&ok);
    return ok ? uid_t(uid) : uid_t(-1);
}
} // namespace

SingleInstance::SingleInstance(const QString &lockPath, const QString &installation, QObject *parent) : QObject(parent)
{
    // Per user and per installation: the runtime directory is the user's own, the hash tells installations apart.
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(installation), QCryptographicHash::Sha1);
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    m_socketName = (runtime.isEmpty() ? QString() : runtime + QLatin1Char('/')) + QStringLiteral("vigilex-")
        + QString::fromLatin1(hash.toHex().left(16));

    m_fd = PrivateFile::openShared(lockPath, O_RDWR);
    if (m_fd < 0) {
        qWarning() << "Single instance lock" << lockPath << "unusable; starting without it";
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_primary = false;
        // The holder writes its id just after taking the lock: a start at that very moment waits briefly.
        for (int i = 0; i < 20 && (m_holder = readHolder(m_fd)) == uid_t(-1); ++i)
            QThread::msleep(50);
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    const QByteArray id = QByteArray::number(uint(::getuid())) + '\n';
    if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, id.constData(), size_t(id.size()), 0) != id.size())
        qWarning() << "Single instance lock" << lockPath << "does not take the user id";

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // The lock is ours, so a socket left by an earlier instance of this user is stale.
    QLocalServer::removeServer(m_socketName);
    if (!m_server->listen(m_socketName))
        qWarning() << "Single instance socket" << m_socketName << "not available:" << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            socket->deleteLater();
            emit activationRequested();
        }
    });
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock
}

QString SingleInstance::holderName() const
{
    if (m_holder == uid_t(-1))
        return QStringLiteral("?");
    struct passwd pw
    {
    };
    struct passwd *found = nullptr;
    char buf[4096];
    if (::getpwuid_r(m_holder, &pw, buf, sizeof buf, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uint(m_holder));
}

bool SingleInstance::activateRunning() const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketName);
    if (!socket.waitForConnected(AnswerWaitMs))
        return false;
    socket.write("show\n");
    socket.waitForBytesWritten(AnswerWaitMs);
    socket.disconnectFromServer();
    return true;
}
