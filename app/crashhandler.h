#pragma once

// Catches SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate stack (so a stack overflow is caught
// too), writes yyyyMMddhhmmss.dmp into AppPaths::crashDir(), shows the "Crash" box when a display is there,
// and lets the signal's default action end the process. Install it first thing in main: it makes the
// directory (owner only) and removes the oldest dumps there, so that with the next one at most maxCrashDumps
// are kept.
constexpr int maxCrashDumps = 10;
void installCrashHandler();
