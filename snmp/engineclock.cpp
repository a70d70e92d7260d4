#include "snmp/engineclock.h"

#include <chrono>

namespace {
std::function<qint64()> &source()
{
    static std::function<qint64()> current;
    return current;
}
} // namespace

qint64 EngineClock::nowSeconds()
{
    if (source())
        return source()();
    // Monotonic: a wall-clock step (NTP, a resume from suspend, a hand-set clock) must neither mark every card
    // offline at once nor suspend the rule for as long as the clock went back.
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void EngineClock::setSource(std::function<qint64()> newSource)
{
    source() = std::move(newSource);
}
