#include "snmp/trapreader.h"

#include "snmp/notificationgate.h"
#include "storage/logthrottle.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// One system call takes up to this many datagrams; each buffer holds the largest UDP datagram, as the library's
// own read does.
constexpr int batchSize = 32;
constexpr std::size_t datagramSize = 65536;
// Dropped datagrams looked at in one call of the library's read, before the lock is given back for a while.
constexpr int maxInspectedPerRead = 1024;

std::atomic<unsigned long long> shed {0};

struct Reader
{
    int family = AF_UNSPEC;
    sockaddr_storage bound {}; // the socket's own address: the destination when IP_PKTINFO says nothing
    int (*libraryRecv)(netsnmp_transport *, void *, int, void **, int *) = nullptr;
    std::vector<char> data = std::vector<char>(batchSize * datagramSize);
    mmsghdr headers[batchSize] {};
    iovec vectors[batchSize] {};
    sockaddr_storage from[batchSize] {};
    alignas(cmsghdr) char control[batchSize][CMSG_SPACE(sizeof(in_pktinfo))] {};
    int count = 0; // datagrams in the batch
    int next = 0; // the first not yet handed over or dropped
};

// Library lock held.
std::unordered_map<const netsnmp_transport *, std::unique_ptr<Reader>> &readers()
{
    static std::unordered_map<const netsnmp_transport *, std::unique_ptr<Reader>> map;
    return map;
}

QString hostOf(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in &>(address).sin_addr, text, sizeof text);
    else if (address.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 &>(address).sin6_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

bool fillBatch(Reader &r, int sock)
{
    r.count = r.next = 0;
    for (int i = 0; i < batchSize; ++i) {
        r.vectors[i].iov_base = r.data.data() + std::size_t(i) * datagramSize;
        r.vectors[i].iov_len = datagramSize;
        msghdr &m = r.headers[i].msg_hdr;
        m.msg_name = &r.from[i];
        m.msg_namelen = sizeof r.from[i];
        m.msg_iov = &r.vectors[i];
        m.msg_iovlen = 1;
        m.msg_control = r.control[i];
        m.msg_controllen = sizeof r.control[i];
        m.msg_flags = 0;
        r.headers[i].msg_len = 0;
    }
    const int n = recvmmsg(sock, r.headers, batchSize, MSG_DONTWAIT, nullptr);
    if (n <= 0)
        return false;
    r.count = n;
    return true;
}

// The record the library's own UDP reading leaves with a received message, which its answer path and its
// address formatting read: for IPv4 the sender with the destination address and interface, for IPv6 the sender.
bool addressRecord(const Reader &r, int i, void **opaque, int *olength)
{
    if (r.family == AF_INET6) {
        auto *from = static_cast<sockaddr_in6 *>(calloc(1, sizeof(sockaddr_in6)));
        if (!from)
            return false;
        std::memcpy(from, &r.from[i], sizeof(sockaddr_in6));
        *opaque = from;
        *olength = sizeof(sockaddr_in6);
        return true;
    }
    auto *pair = static_cast<netsnmp_indexed_addr_pair *>(calloc(1, sizeof(netsnmp_indexed_addr_pair)));
    if (!pair)
        return false;
    std::memcpy(&pair->remote_addr.sin, &r.from[i], sizeof(sockaddr_in));
    std::memcpy(&pair->local_addr.sin, &r.bound, sizeof(sockaddr_in));
    const msghdr &m = r.headers[i].msg_hdr;
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(const_cast<msghdr *>(&m), c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            pair->local_addr.sin.sin_addr = info.ipi_addr;
            pair->if_index = info.ipi_ifindex;
        }
    }
    *opaque = pair;
    *olength = sizeof(netsnmp_indexed_addr_pair);
    return true;
}

// In place of the transport's receive function, inside the library's read, library lock held. Returns the next
// admitted datagram, or -1 (EAGAIN) when none is waiting or enough were dropped for one read.
int receiveAdmitted(netsnmp_transport *t, void *buf, int size, void **opaque, int *olength)
{
    auto it = readers().find(t);
    if (it == readers().end()) {
        errno = EBADF;
        return -1;
    }
    Reader &r = *it->second;
    NotificationGate *gate = NotificationGate::instance();
    const qint64 now = LogThrottle::steadyMs();
    for (int inspected = 0; inspected < maxInspectedPerRead; ++inspected) {
        if (r.next >= r.count && !fillBatch(r, t->sock))
            return -1;
        const int i = r.next++;
        if (r.from[i].ss_family != r.family || !gate->admit(hostOf(r.from[i]), now)) {
            shed.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const int length = qMin<int>(int(r.headers[i].msg_len), size);
        if (!addressRecord(r, i, opaque, olength)) {
            errno = ENOMEM;
            return -1;
        }
        std::memcpy(buf, r.vectors[i].iov_base, std::size_t(length));
        return length;
    }
    errno = EAGAIN;
    return -1;
}

} // namespace

bool TrapReader::attach(netsnmp_transport *transport)
{
    if (!transport || transport->sock < 0 || !transport->f_recv)
        return false;
    auto r = std::make_unique<Reader>();
    socklen_t length = sizeof r->bound;
    int type = 0;
    socklen_t typeLength = sizeof type;
    if (getsockname(transport->sock, reinterpret_cast<sockaddr *>(&r->bound), &length) != 0
        || getsockopt(transport->sock, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_DGRAM)
        return false;
    r->family = r->bound.ss_family;
    if (r->family == AF_INET) {
        // The destination of each datagram, from which its answer goes out again.
        const int one = 1;
        if (setsockopt(transport->sock, IPPROTO_IP, IP_PKTINFO, &one, sizeof one) != 0)
            return false;
    } else if (r->family != AF_INET6) {
        return false;
    }
    r->libraryRecv = transport->f_recv;
    transport->f_recv = receiveAdmitted;
    readers()[transport] = std::move(r);
    return true;
}

void TrapReader::detach(netsnmp_transport *transport)
{
    auto it = readers().find(transport);
    if (it == readers().end())
        return;
    transport->f_recv = it->second->libraryRecv;
    readers().erase(it);
}

bool TrapReader::hasWaiting(const netsnmp_transport *transport)
{
    auto it = readers().find(transport);
    return it != readers().end() && it->second->next < it->second->count;
}

unsigned long long TrapReader::shedCount()
{
    return shed.load(std::memory_order_relaxed);
}
