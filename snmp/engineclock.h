#pragma once

#include <QtGlobal>

#include <functional>

// Seconds on a monotonic clock for the silence rule. Tests replace the source to run the 10-second rule without
// waiting; the program never does. GUI thread only.
namespace EngineClock {

qint64 nowSeconds();

// An empty function restores the wall clock.
void setSource(std::function<qint64()> source);

} // namespace EngineClock
