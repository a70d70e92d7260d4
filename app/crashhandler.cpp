#include "app/crashhandler.h"

#include "storage/apppaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

// Everything the handler needs is prepared here, before any crash: inside it only async-signal-safe calls run.
namespace {
constexpr int crashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t altStackSize = 64 * 1024;

long utcOffsetSeconds = 0; // localtime_r is not async-signal-safe, so the zone offset is taken at install
char crashBoxPath[4096] = {0};
bool crashBoxUsable = false;
// The directory's path with a trailing slash, room left for the dump's name; empty: no dump is written.
char dumpDirectory[4096] = {0};
constexpr size_t dumpNameSpace = 32;

void putStr(int fd, const char *s) { (void)!::write(fd, s, std::strlen(s)); }

void putHex(int fd, std::uintptr_t v)
{
    char buf[2 + 2 * sizeof v + 1];
    char tmp[2 * sizeof v];
    int n = 0;
    do {
        tmp[n++] = "0123456789abcdef"[v & 0xf];
        v >>= 4;
    } while (v);
    int i = 0;
    buf[i++] = '0';
    buf[i++] = 'x';
    while (n)
        buf[i++] = tmp[--n];
    buf[i] = 0;
    putStr(fd, buf);
}

void formatHex(char *out, std::uintptr_t v)
{
    char tmp[2 * sizeof v];
    int n = 0;
    do {
        tmp[n++] = "0123456789abcdef"[v & 0xf];
        v >>= 4;
    } while (v);
    *out++ = '0';
    *out++ = 'x';
    while (n)
        *out++ = tmp[--n];
    *out = 0;
}

void putDec(int fd, long v)
{
    char buf[24];
    char *p = buf + sizeof buf;
    *--p = 0;
    const bool neg = v < 0;
    unsigned long u = neg ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (neg)
        *--p = '-';
    putStr(fd, p);
}

// yyyyMMddhhmmss.dmp from the local time, computed by hand (days-from-civil inverse).
void dumpName(char *out)
{
    long long t = static_cast<long long>(::time(nullptr)) + utcOffsetSeconds;
    long long days = t / 86400;
    long long secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long year = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    const long long fields[] = {year, month, day, secs / 3600, (secs / 60) % 60, secs % 60};
    const int widths[] = {4, 2, 2, 2, 2, 2};
    char *p = out;
    for (int f = 0; f < 6; ++f) {
        long long v = fields[f];
        for (int w = widths[f] - 1; w >= 0; --w) {
            p[w] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        p += widths[f];
    }
    std::memcpy(p, ".dmp", 5);
}

void copyFile(int out, const char *path)
{
    const int in = ::open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(in, buf, sizeof buf)) > 0)
        (void)!::write(out, buf, static_cast<size_t>(n));
    ::close(in);
}

void showCrashBox(int signo, std::uintptr_t address)
{
    if (!crashBoxUsable)
        return;
    char code[24];
    char addr[24];
    formatHex(code, static_cast<std::uintptr_t>(static_cast<unsigned>(signo)));
    formatHex(addr, address);
    // fork() would run the atfork handlers and copy a heap whose lock the crash may hold, so the child could
    // hang before its exec; vfork() shares the memory and only execs. Nobody waits for the box: the process
    // must end now, and the box stays up on its own.
    char *const argv[] = {crashBoxPath, code, addr, nullptr};
    if (::vfork() == 0) {
        ::execve(crashBoxPath, argv, environ);
        ::_exit(127);
    }
}

void crashFilter(int signo, siginfo_t *info, void *)
{
    const std::uintptr_t address = info ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
    char name[sizeof dumpDirectory + dumpNameSpace];
    const size_t directoryLength = std::strlen(dumpDirectory);
    std::memcpy(name, dumpDirectory, directoryLength);
    dumpName(name + directoryLength);
    // An entry of that name (a dump of the same second, or anything else) is removed, never written
    // through, and the dump is made anew.
    int fd = -1;
    if (directoryLength > 0) {
        ::unlink(name);
        fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    if (fd >= 0) {
        putStr(fd, "signal: ");
        putDec(fd, signo);
        putStr(fd, "\ncode: ");
        putDec(fd, info ? info->si_code : 0);
        putStr(fd, "\naddress: ");
        putHex(fd, address);
        putStr(fd, "\npid: ");
        putDec(fd, ::getpid());
        putStr(fd, "\n\nbacktrace:\n");
        void *frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        putStr(fd, "\nmaps:\n");
        copyFile(fd, "/proc/self/maps");
        ::close(fd);
    }
    showCrashBox(signo, address);
    // SA_RESETHAND put the default action back: re-raise so the exit status says how the process died.
    ::raise(signo);
}

// The newest dumps only, leaving room for one more; entries that are not named as dumps are left alone.
void pruneDumps(const QString &dir)
{
    static const QRegularExpression dumpNamePattern(QStringLiteral("^\\d{14}\\.dmp$"));
    QStringList dumps = QDir(dir).entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
    dumps = dumps.filter(dumpNamePattern);
    // The names are the crash times, so the first are the oldest.
    for (int i = 0; i + maxCrashDumps - 1 < dumps.size(); ++i)
        QFile::remove(dir + QLatin1Char('/') + dumps.at(i));
}

void prepareDumpDirectory()
{
    const QString dir = AppPaths::crashDir();
    const QByteArray path = QFile::encodeName(dir) + '/';
    if (!AppPaths::makePrivatePath(dir) || size_t(path.size()) >= sizeof dumpDirectory)
        return;
    pruneDumps(dir);
    std::memcpy(dumpDirectory, path.constData(), size_t(path.size()) + 1);
}
} // namespace

void installCrashHandler()
{
    prepareDumpDirectory();

    const time_t now = ::time(nullptr);
    struct tm local
    {
    };
    ::localtime_r(&now, &local);
    utcOffsetSeconds = local.tm_gmtoff;

    // backtrace() loads libgcc on its first call, which allocates: do that now, not inside the handler.
    void *warm[1];
    ::backtrace(warm, 1);

    const ssize_t n = ::readlink("/proc/self/exe", crashBoxPath, sizeof crashBoxPath - 32);
    if (n > 0) {
        crashBoxPath[n] = 0;
        char *slash = std::strrchr(crashBoxPath, '/');
        if (slash) {
            std::strcpy(slash + 1, "vigilex-crashbox");
            const char *platform = std::getenv("QT_QPA_PLATFORM");
            const bool headless = platform && std::strstr(platform, "offscreen");
            const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
            crashBoxUsable = !headless && display && ::access(crashBoxPath, X_OK) == 0;
        }
    }

    stack_t stack {};
    // Kept for the life of the process; held here too, so that a leak checker sees it is still in use.
    static void *altStackMemory = std::malloc(altStackSize);
    stack.ss_sp = altStackMemory;
    stack.ss_size = altStackSize;
    if (stack.ss_sp)
        ::sigaltstack(&stack, nullptr);

    struct sigaction action
    {
    };
    action.sa_sigaction = crashFilter;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signo : crashSignals)
        ::sigaction(signo, &action, nullptr);
}
