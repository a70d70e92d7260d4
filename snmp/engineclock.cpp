#include "snmp/engineclock.h"

#include <QDateTime>

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
    return QDateTime::currentSecsSinceEpoch();
}

void EngineClock::setSource(std::function<qint64()> newSource)
{
    source() = std::move(newSource);
}
