// Test-only: installs the crash handler and dies in the way the first argument names.
#include "app/crashhandler.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {
volatile int sink = 0;
volatile std::uintptr_t badAddress = 0x10;
volatile int depthLimit = 1 << 30; // never reached: the stack runs out first

int recurse(int depth)
{
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth >= depthLimit)
        return pad[0];
    return recurse(depth + 1) + pad[0];
}
} // namespace

int main(int argc, char **argv)
{
    installCrashHandler();
    const char *how = argc > 1 ? argv[1] : "segv";
    if (std::strcmp(how, "abort") == 0)
        std::abort();
    if (std::strcmp(how, "overflow") == 0)
        sink = recurse(0);
    if (std::strcmp(how, "fpe") == 0)
        std::raise(SIGFPE);
    volatile int *bad = reinterpret_cast<volatile int *>(badAddress);
    *bad = 1;
    return 0;
}
