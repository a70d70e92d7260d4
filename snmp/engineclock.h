#pragma once

#include <QtGlobal>

#include <functional>

// Seconds on a monotonic clock for the silence rule. Tests replace the source to run the 10-second rule without
// waiting; the program never does. The engine thread reads it for every answer: a replaced source must be safe
// to call from any thread, and is set and reset only while no engine runs.
namespace EngineClock {

qint64 nowSeconds();

// An empty function restores the wall clock.
void setSource(std::function<qint64()> source);

} // namespace EngineClock
