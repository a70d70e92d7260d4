#include "snmp/trapsockets.h"

#include <QString>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
// sd_listen_fds(3): the passed descriptors start at 3.
constexpr int firstPassed = 3;

// The library reads the same variables, and only while they are there: they are removed only by seal().
int passedNow()
{
    bool ok = false;
    const qint64 pid = qEnvironmentVariable("LISTEN_PID").toLongLong(&ok);
    if (!ok || pid != qint64(::getpid()))
        return 0;
    const int count = qEnvironmentVariableIntValue("LISTEN_FDS", &ok);
    // Far above the two the unit passes; a wrong value must not make us touch every descriptor.
    return ok && count > 0 && count <= 64 ? count : 0;
}
} // namespace

int TrapSockets::passedCount()
{
    return passedNow();
}

netsnmp_transport *TrapSockets::open(const char *spec, bool *passed)
{
    netsnmp_transport *transport = netsnmp_transport_open_server("snmptrapd", spec);
    const int count = passedNow();
    *passed = transport && transport->sock >= firstPassed && transport->sock < firstPassed + count;
    return transport;
}

void TrapSockets::seal()
{
    const int count = passedNow();
    for (int fd = firstPassed; fd < firstPassed + count; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
}
