#pragma once

#include <QRecursiveMutex>

#include <utility>

// Net-SNMP keeps no locks of its own, yet both threads use it: the GUI thread opens and closes sessions, the
// engine thread sends, selects, reads and times out. Every library call goes through withSnmpLibrary() (or an
// SnmpLock in scope). The mutex is recursive because the library calls our callbacks from inside its read of a session,
// and the trap callback sends the inform acknowledgement from there.
class SnmpLock
{
public:
    SnmpLock() { mutex().lock(); }
    ~SnmpLock() { mutex().unlock(); }
    SnmpLock(const SnmpLock &) = delete;
    SnmpLock &operator=(const SnmpLock &) = delete;

    static QRecursiveMutex &mutex();
};

// The library is started once for all its users in the process (the engines and the one-off card queries): the
// first to come starts it, the last to go shuts it down, so that a query that outlives an engine, or an engine
// that outlives a query, never finds it gone. Both take the lock; stopSnmpLibrary() returns whether it shut the
// library down, and runs alsoOnShutdown under the same hold when it did.
void startSnmpLibrary();
bool stopSnmpLibrary(void (*alsoOnShutdown)() = nullptr);

template<typename Fn> auto withSnmpLibrary(Fn &&fn) -> decltype(fn())
{
    SnmpLock lock;
    return std::forward<Fn>(fn)();
}
