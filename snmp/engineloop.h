#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

// The engine thread's receive cycle. It waits with epoll on the sockets of the library's sessions and reads only
// those that are ready, so an answer costs the same with 10 cards as with 5000. The library's retransmissions
// and time-outs run every 50 ms, for the sessions whose requests are due (every send is noted with
// requestSent()), and once a second for all. The set of sockets follows the sessions: whoever opens, adds or
// closes a library session calls sessionsChanged() with the library lock held, which also wakes every loop.
// One loop per engine thread; runOnce() only on that thread, the static functions from any thread.
class EngineLoop
{
public:
    EngineLoop();
    ~EngineLoop();
    EngineLoop(const EngineLoop &) = delete;
    EngineLoop &operator=(const EngineLoop &) = delete;

    // One pass: waits without the lock until a socket is ready, the sessions change, the next time-out run is
    // due (50 ms at most) or maxWaitMs have passed, then reads what is ready and runs the time-outs when due.
    // False when no wait was possible (the caller then sleeps).
    bool runOnce(qint64 maxWaitMs = -1);

    // Library lock held.
    static void sessionsChanged();
    // A request went out on the session (the library's record of it, see snmp_sess_pointer). Library lock held.
    static void requestSent(void *record);
    // Any thread: job runs on an engine thread, under the library lock, in the next pass of whichever loop
    // runs first (the loops are woken).
    static void post(std::function<void()> job);
    // Any thread: every loop's wait ends now.
    static void wake();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
