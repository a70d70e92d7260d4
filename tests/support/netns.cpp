#include "support/netns.h"

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool enterPrivateNetworkNamespace(QString *error)
{
    if (unshare(CLONE_NEWNET) != 0) {
        *error = QStringLiteral("unshare(CLONE_NEWNET): ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        *error = QStringLiteral("socket: ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct ifreq request;
    std::memset(&request, 0, sizeof request);
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (ok) {
        request.ifr_flags |= IFF_UP | IFF_RUNNING;
        ok = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    if (!ok)
        *error = QStringLiteral("bringing lo up: ") + QString::fromLocal8Bit(std::strerror(errno));
    close(fd);
    return ok;
}

void isolateSnmpLibraryFiles()
{
    static QTemporaryDir dir;
    const QByteArray path = QDir(dir.path()).absolutePath().toLocal8Bit();
    qputenv("SNMPCONFPATH", path);
    qputenv("SNMP_PERSISTENT_DIR", path + "/persist");
    qputenv("MIBS", QByteArray());
    qputenv("MIBDIRS", QByteArray("/dev/null"));
}
