#include "snmp/engineloop.h"

#include "snmp/snmplock.h"
#include "snmp/trapreader.h"
#include "storage/logthrottle.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <net-snmp/library/large_fd_set.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <queue>
#include <vector>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The library's list of open sessions, which its own snmp_read2 and snmp_timeout walk. It is exported but not
// declared in the public headers; walking it once per change of the sessions is what keeps reading O(1).
extern "C" struct session_list *Sessions;

namespace {

constexpr qint64 timeoutPeriodMs = 50;
// Whatever the notes of sent requests missed (a request the library made itself), this sweep over every session
// catches.
constexpr qint64 fullSweepPeriodMs = 1000;
constexpr int maxEvents = 256;
constexpr int initialSetSize = 64;
// A burst of notifications queues on one socket: read that many of it per pass, then the other sockets' turn.
constexpr int maxReadsPerSocket = 256;
constexpr std::size_t maxNotedRequests = 1000000;

// When a session's oldest request may be due: at its send plus the session's time-out, and again at whatever the
// library then says. Library lock held.
struct DueSession
{
    qint64 atMs;
    int socket; // at the time of the note: with the session's record, what tells it still exists
    session_list *slp;
    bool operator>(const DueSession &other) const { return atMs > other.atMs; }
};
using DueQueue = std::priority_queue<DueSession, std::vector<DueSession>, std::greater<DueSession>>;
DueQueue &dueSessions()
{
    static DueQueue queue;
    return queue;
}

// Bumped under the library lock whenever a session opens or closes: a loop's socket map is valid only for the
// generation it was built for, and a socket number may be reused by the next session at once.
std::atomic<quint64> sessionGeneration {1};

std::mutex &loopsMutex()
{
    static std::mutex mutex;
    return mutex;
}
std::vector<int> &wakeDescriptors()
{
    static std::vector<int> descriptors;
    return descriptors;
}

std::mutex &jobsMutex()
{
    static std::mutex mutex;
    return mutex;
}
std::vector<std::function<void()>> &jobs()
{
    static std::vector<std::function<void()>> queue;
    return queue;
}
std::atomic<bool> jobsWaiting {false};

// Library lock held.
void runJobs()
{
    if (!jobsWaiting.load())
        return;
    std::vector<std::function<void()>> taken;
    {
        std::lock_guard<std::mutex> lock(jobsMutex());
        taken.swap(jobs());
        jobsWaiting.store(false);
    }
    for (const auto &job : taken)
        job();
}

void wakeAll()
{
    std::lock_guard<std::mutex> lock(loopsMutex());
    const uint64_t one = 1;
    for (int fd : wakeDescriptors()) {
        if (::write(fd, &one, sizeof one) < 0) {
            // The counter is full, so the loop is awake anyway.
        }
    }
}

} // namespace

struct EngineLoop::Private
{
    int epoll = -1;
    int wake = -1;
    quint64 built = 0; // the generation bySocket belongs to
    std::vector<session_list *> bySocket;
    std::vector<bool> listener; // by socket: a trap listener, whose socket may hold a burst
    netsnmp_large_fd_set one; // holds the single socket being read or asked
    qint64 lastTimeouts = 0;
    qint64 lastSweep = 0;

    void rebuild();
    void readReady(const epoll_event *events, int count);
    void runDueTimeouts(qint64 now);
    bool selectPass(qint64 maxWaitMs);
};

EngineLoop::EngineLoop() : d(new Private)
{
    netsnmp_large_fd_set_init(&d->one, initialSetSize);
    d->lastTimeouts = d->lastSweep = LogThrottle::steadyMs();
    d->epoll = epoll_create1(EPOLL_CLOEXEC);
    d->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->epoll >= 0 && d->wake >= 0) {
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = d->wake;
        if (epoll_ctl(d->epoll, EPOLL_CTL_ADD, d->wake, &event) == 0) {
            std::lock_guard<std::mutex> lock(loopsMutex());
            wakeDescriptors().push_back(d->wake);
            return;
        }
    }
    qWarning("Engine: no epoll set (%s); the engine selects over every socket instead", strerror(errno));
    if (d->epoll >= 0)
        ::close(d->epoll);
    if (d->wake >= 0)
        ::close(d->wake);
    d->epoll = d->wake = -1;
}

EngineLoop::~EngineLoop()
{
    if (d->wake >= 0) {
        std::lock_guard<std::mutex> lock(loopsMutex());
        auto &fds = wakeDescriptors();
        for (auto it = fds.begin(); it != fds.end(); ++it) {
            if (*it == d->wake) {
                fds.erase(it);
                break;
            }
        }
    }
    if (d->epoll >= 0)
        ::close(d->epoll);
    if (d->wake >= 0)
        ::close(d->wake);
    netsnmp_large_fd_set_cleanup(&d->one);
}

void EngineLoop::sessionsChanged()
{
    sessionGeneration.fetch_add(1);
    wakeAll();
}

void EngineLoop::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(jobsMutex());
        jobs().push_back(std::move(job));
        jobsWaiting.store(true);
    }
    wakeAll();
}

void EngineLoop::wake()
{
    wakeAll();
}

void EngineLoop::requestSent(void *record)
{
    auto *slp = static_cast<session_list *>(record);
    if (!slp || !slp->session)
        return;
    DueQueue &queue = dueSessions();
    if (queue.size() >= maxNotedRequests)
        queue = DueQueue(); // nobody runs the loop: the full sweep alone will do
    const long timeoutUs = slp->session->timeout > 0 ? slp->session->timeout : 1000000L;
    queue.push({LogThrottle::steadyMs() + timeoutUs / 1000 + 1, slp->transport ? slp->transport->sock : -1, slp});
}

// Library lock held. A socket already in the set answers EEXIST; one closed since has left the set by itself,
// also when a new session got its number, so adding each socket again keeps the set exact.
void EngineLoop::Private::rebuild()
{
    built = sessionGeneration.load();
    bySocket.assign(bySocket.size(), nullptr);
    int highest = -1;
    for (session_list *slp = Sessions; slp; slp = slp->next) {
        if (!slp->transport || slp->transport->sock < 0 || !slp->session || !slp->internal)
            continue;
        const int fd = slp->transport->sock;
        if (std::size_t(fd) >= bySocket.size())
            bySocket.resize(std::size_t(fd) + 1, nullptr);
        bySocket[std::size_t(fd)] = slp;
        if (listener.size() < bySocket.size())
            listener.resize(bySocket.size(), false);
        listener[std::size_t(fd)] = !slp->session->peername;
        highest = qMax(highest, fd);
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0) {
            // Another engine in the same process (tests) may read the datagram first: a read must not block then.
            const int flags = fcntl(fd, F_GETFL);
            if (flags >= 0 && !(flags & O_NONBLOCK))
                fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        } else if (errno != EEXIST) {
            qWarning("Engine: socket %d cannot be watched (%s)", fd, strerror(errno));
        }
    }
    if (highest >= 0 && std::size_t(highest) >= one.lfs_setsize)
        netsnmp_large_fd_set_resize(&one, highest + 1);
}

// Library lock held, and the map is of the current generation.
void EngineLoop::Private::readReady(const epoll_event *events, int count)
{
    for (int i = 0; i < count; ++i) {
        const int fd = events[i].data.fd;
        if (fd == wake || fd < 0 || std::size_t(fd) >= bySocket.size())
            continue;
        session_list *slp = bySocket[std::size_t(fd)];
        if (!slp)
            continue;
        // A card's socket holds its one answer; the listener's may hold a burst, read here while its reader's
        // batch or the kernel says more is waiting (each read costs the library a large buffer, so none is
        // made in vain; the reader drops a flood's datagrams within one read).
        const int reads = listener[std::size_t(fd)] ? maxReadsPerSocket : 1;
        for (int n = 0; n < reads; ++n) {
            if (!slp->transport || slp->transport->sock != fd)
                break;
            NETSNMP_LARGE_FD_SET(fd, &one);
            snmp_sess_read2(slp, &one);
            NETSNMP_LARGE_FD_CLR(fd, &one);
            int queued = 0;
            if (n + 1 >= reads || !slp->transport || slp->transport->sock != fd)
                break;
            if (!TrapReader::hasWaiting(slp->transport) && (ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0))
                break;
        }
    }
}

// Library lock held, and the map is of the current generation.
void EngineLoop::Private::runDueTimeouts(qint64 now)
{
    DueQueue &queue = dueSessions();
    std::vector<session_list *> due;
    while (!queue.empty() && queue.top().atMs <= now) {
        const DueSession note = queue.top();
        queue.pop();
        // A session closed since is no longer mapped at its socket; a new one there with the same record
        // address is asked harmlessly.
        if (note.socket >= 0 && std::size_t(note.socket) < bySocket.size()
            && bySocket[std::size_t(note.socket)] == note.slp)
            due.push_back(note.slp);
    }
    std::sort(due.begin(), due.end());
    due.erase(std::unique(due.begin(), due.end()), due.end());
    for (session_list *slp : due) {
        // The library closes a session whose socket is gone when asked about it; leave that to its own sweep.
        if (!slp->transport || slp->transport->sock < 0)
            continue;
        snmp_sess_timeout(slp);
        if (!slp->transport || slp->transport->sock < 0)
            continue;
        int numfds = 0;
        int block = 1;
        struct timeval next = {3600, 0};
        snmp_sess_select_info2(slp, &numfds, &one, &next, &block);
        NETSNMP_LARGE_FD_CLR(slp->transport->sock, &one);
        if (!block)
            queue.push(
                {now + qMax<qint64>(1, qint64(next.tv_sec) * 1000 + next.tv_usec / 1000), slp->transport->sock, slp});
    }
}

bool EngineLoop::runOnce(qint64 maxWaitMs)
{
    if (d->epoll < 0)
        return d->selectPass(maxWaitMs);
    if (sessionGeneration.load() != d->built)
        withSnmpLibrary([this] { d->rebuild(); });

    qint64 wait = qBound<qint64>(0, d->lastTimeouts + timeoutPeriodMs - LogThrottle::steadyMs(), timeoutPeriodMs);
    if (maxWaitMs >= 0)
        wait = qMin(wait, maxWaitMs);
    epoll_event events[maxEvents];
    const int ready = epoll_wait(d->epoll, events, maxEvents, int(wait));
    if (ready < 0 && errno != EINTR) {
        qWarning("Engine: waiting for the sockets failed (%s)", strerror(errno));
        return false;
    }
    for (int i = 0; i < ready; ++i) {
        if (events[i].data.fd == d->wake) {
            uint64_t count = 0;
            if (::read(d->wake, &count, sizeof count) < 0) {
                // Already drained.
            }
        }
    }
    const qint64 now = LogThrottle::steadyMs();
    const bool timeoutsDue = now - d->lastTimeouts >= timeoutPeriodMs;
    if (ready <= 0 && !timeoutsDue && !jobsWaiting.load())
        return true;
    {
        SnmpLock lock;
        runJobs();
        // Sessions change only under this lock: with the generation unchanged, every mapped session still
        // exists. Otherwise the sockets stay ready and are read on the next pass, with the map rebuilt.
        const bool current = sessionGeneration.load() == d->built;
        if (ready > 0 && current)
            d->readReady(events, ready);
        if (timeoutsDue) {
            d->lastTimeouts = now;
            if (!current || now - d->lastSweep >= fullSweepPeriodMs) {
                d->lastSweep = now;
                snmp_timeout();
            } else {
                d->runDueTimeouts(now);
            }
        }
    }
    return true;
}

// Without an epoll set (no descriptor left for it): the library's own select cycle, one pass.
bool EngineLoop::Private::selectPass(qint64 maxWaitMs)
{
    netsnmp_large_fd_set readfds;
    netsnmp_large_fd_set_init(&readfds, initialSetSize);
    int numfds = 0;
    int block = 0;
    const long longestUs = long(maxWaitMs >= 0 ? qMin(maxWaitMs, timeoutPeriodMs) : timeoutPeriodMs) * 1000;
    struct timeval timeout = {0, longestUs};
    NETSNMP_LARGE_FD_ZERO(&readfds);
    withSnmpLibrary([&] { snmp_select_info2(&numfds, &readfds, &timeout, &block); });
    if (block || timeout.tv_sec != 0 || timeout.tv_usec > longestUs || timeout.tv_usec < 0)
        timeout = {0, longestUs};
    const int ready = netsnmp_large_fd_set_select(numfds, &readfds, nullptr, nullptr, &timeout);
    withSnmpLibrary([&] {
        runJobs();
        if (ready > 0)
            snmp_read2(&readfds);
    });
    const qint64 now = LogThrottle::steadyMs();
    if (now - lastTimeouts >= timeoutPeriodMs) {
        lastTimeouts = now;
        withSnmpLibrary([] { snmp_timeout(); });
    }
    netsnmp_large_fd_set_cleanup(&readfds);
    return ready >= 0;
}
