#pragma once

// Catches SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT on an alternate stack (so a stack overflow is caught
// too), writes yyyyMMddhhmmss.dmp into the current working directory, shows the "Crash" box when a display
// is there, and lets the signal's default action end the process. Install it first thing in main.
void installCrashHandler();
