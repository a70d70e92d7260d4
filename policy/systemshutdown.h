#pragma once

#include <functional>

// Asks the operating system to power the machine off, forced, and returns at once. Reports nothing to the
// user; the caller does not learn whether the request was accepted. GUI thread only.
void shutdownSystem();

// Replaces what shutdownSystem() does for the rest of the process (an empty function restores the real
// request). For demonstrations and tests only; the program itself never calls it.
void setShutdownBackend(std::function<void()> backend);
