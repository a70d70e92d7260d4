// Fuzz target: a settings file of arbitrary bytes, read the way the program reads it, then a run of the
// shutdown policy over arbitrary data reports with a recorder in place of the system shutdown.
//
// Input: byte 0 chooses what the shutdown application path becomes (see safeApplication), byte 1 the number
// of reports (0..31), then four bytes per report, then the settings file itself.
//
// Safety: the policy starts "system/shutdown_app" as a program. Before every run the path the policy would
// read is checked with the policy's own reader; anything that exists outside the scratch directory is
// replaced (a relative path is judged from the working directory, as the process start would judge it) and
// PATH points at an empty directory, so no program outside the scratch directory can ever be started. The system shutdown itself is replaced twice over (handler and backend).
#include "policy/shutdownpolicy.h"
#include "policy/systemshutdown.h"
#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QTemporaryDir *scratch = nullptr;
QString emptyDir;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "settings/policy property broken: %s\n", what);
    std::abort();
}

QString key(const char *k) { return QLatin1String(k); }

bool insideScratch(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() && canonical.startsWith(QFileInfo(scratch->path()).canonicalFilePath() + QLatin1Char('/'));
}

// True when the policy could start nothing that lies outside the scratch directory.
bool applicationIsHarmless()
{
    const QString path = readSetting(AppPaths::settingsFilePath(), key("system/shutdown_app")).toString();
    return path.isEmpty() || !QFile::exists(path) || insideScratch(path);
}

void safeApplication(uint8_t mode)
{
    const QString settings = AppPaths::settingsFilePath();
    switch (mode % 4) {
    case 1: // a file that does not exist
        writeSetting(settings, key("system/shutdown_app"), QVariant(QString(scratch->path() + QStringLiteral("/no such program"))));
        break;
    case 2: // something that exists but cannot be run
        writeSetting(settings, key("system/shutdown_app"), QVariant(QString(scratch->path() + QStringLiteral("/cfg"))));
        break;
    default: // whatever the fuzzed file says, as long as it is harmless
        break;
    }
    if (!applicationIsHarmless())
        writeSetting(settings, key("system/shutdown_app"), QVariant(QString(scratch->path() + QStringLiteral("/no such program"))));
}

int shutdownRequests = 0;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int fakeArgc = 1;
    static char name[] = "fuzz_settings_policy";
    static char *fakeArgv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(fakeArgc, fakeArgv);
    (void)argc;
    (void)argv;
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    scratch = new QTemporaryDir;
    QDir(scratch->path()).mkpath(QStringLiteral("cfg"));
    QDir(scratch->path()).mkpath(QStringLiteral("empty"));
    emptyDir = scratch->path() + QStringLiteral("/empty");
    qputenv("PATH", QFile::encodeName(emptyDir));
    AppPaths::setRoot(scratch->path());
    setShutdownBackend([] { fail("the real system shutdown was reached"); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const size_t reports = data[1] % 32;
    if (size < 2 + reports * 4)
        return 0;
    const char *reportBytes = reinterpret_cast<const char *>(data + 2);
    const QByteArray ini(reportBytes + reports * 4, int(size - 2 - reports * 4));

    const QString settings = AppPaths::settingsFilePath();
    {
        QFile file(settings);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail("cannot write the settings file");
        file.write(ini);
    }

    // Every key, with the conversion its readers apply.
    auto read = [&](const char *k) { return readSetting(settings, key(k)); };
    (void)read("system/language").toInt();
    (void)read("system/pop_warning").toBool();
    (void)read("system/shutdown_app_enable").toBool();
    (void)read("system/shutdown_app").toString();
    (void)read("system/shutdown_exec_time").toInt();
    (void)read("shutdown/batt_low_time").toInt();
    (void)read("shutdown/ac_failed_time").toInt();

    safeApplication(mode);
    if (!applicationIsHarmless())
        fail("could not make the shutdown application harmless");
    const int threshold = read("shutdown/ac_failed_capacity").toInt();

    shutdownRequests = 0;
    QStringList messages;
    {
        ShutdownPolicy policy;
        policy.setMinuteMs(1 + mode / 4); // short minutes, so that some countdowns expire below
        policy.setShutdownHandler([] { ++shutdownRequests; });
        QObject::connect(&policy, &ShutdownPolicy::message, &policy,
                         [&messages](const QString &text) { messages.append(text); });

        bool anyTrouble = false;
        for (size_t i = 0; i < reports; ++i) {
            const QByteArray report(reportBytes + i * 4, 4);
            const auto battery = uint8_t(report.at(0));
            const auto input = uint8_t(report.at(1));
            const auto capacity = static_cast<signed char>(report.at(3));
            const bool trouble = battery == 3 || input != 0;
            anyTrouble = anyTrouble || trouble;

            const bool handledBefore = policy.applicationHandled();
            const int requestsBefore = shutdownRequests;
            policy.checkShutdownCondition(report);

            // Inside a report only the capacity rule can reach the application step, and only when enabled.
            const bool stepRan = (!handledBefore && policy.applicationHandled()) || shutdownRequests > requestsBefore;
            if (stepRan && !(input != 0 && threshold > 0 && capacity < threshold)) {
                std::fprintf(stderr, "report %d.%d.%d.%d, capacity threshold %d\n", battery, input, uint8_t(report.at(2)),
                             int(capacity), threshold);
                fail("the application step ran on a report that does not meet the capacity rule");
            }
            if (!anyTrouble && (policy.countdownActive() || !messages.isEmpty()))
                fail("a countdown or message without any power trouble");
        }

        // Let short countdowns and application limits expire, bounded in time.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3 && policy.shutdownTimer()->isActive())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);

        if (!anyTrouble && shutdownRequests > 0)
            fail("a shutdown request without any power trouble");
        policy.shutdownProcess()->kill();
        policy.shutdownProcess()->waitForFinished(100);
    }
    return 0;
}
