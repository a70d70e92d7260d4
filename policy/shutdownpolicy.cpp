#include "policy/shutdownpolicy.h"

#include "policy/applicationtrust.h"
#include "policy/systemshutdown.h"
#include "snmp/snmpinfo.h"
#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTimer>

#include <climits>

namespace {

constexpr int DefaultExecMinutes = 15;
constexpr int MinExecMinutes = 1;
constexpr int MaxExecMinutes = 90;

QVariant setting(const char *key)
{
    return readSetting(AppPaths::settingsFilePath(), QLatin1String(key));
}

// The window shows these rows under its own "System" object, so they are translated in its context.
QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

} // namespace

struct ShutdownPolicy::Private
{
    QByteArray lastData = QByteArray(Snmp::PolledObjectCount, char(0xFF));
    // The first report counts as a change, even when a byte of it is 0xFF like the initial snapshot: a card
    // reporting input status 255 (or -1) from the start shows trouble and must get its countdown.
    bool reported = false;
    bool countdownActive = false;
    bool applicationHandled = false;
    QTimer shutdownTimer;
    QProcess shutdownProcess;
    qint64 minuteMs = 60000;
    // A countdown longer than one timer interval (INT_MAX ms) runs as several intervals; this is what is
    // left after the current one.
    qint64 pendingMs = 0;
    std::function<void()> shutdownHandler;
};

ShutdownPolicy::ShutdownPolicy(QObject *parent) : QObject(parent), d(new Private)
{
    // Repeating on purpose: after the countdown it goes on timing the shutdown application.
    d->shutdownTimer.setSingleShot(false);
    d->shutdownTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->shutdownTimer, &QTimer::timeout, this, &ShutdownPolicy::onOffAPPTimeout);

    // Nobody reads the application's output: a full pipe would stall it, and an open stdin would make a
    // program that reads it wait until its time is up.
    d->shutdownProcess.setStandardInputFile(QProcess::nullDevice());
    d->shutdownProcess.setStandardOutputFile(QProcess::nullDevice());
    d->shutdownProcess.setStandardErrorFile(QProcess::nullDevice());
    connect(&d->shutdownProcess, &QProcess::errorOccurred, this, &ShutdownPolicy::onOffAPPError);
    connect(&d->shutdownProcess, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
        &ShutdownPolicy::onOffAPPFinished);
}

ShutdownPolicy::~ShutdownPolicy()
{
    // Destroying a running QProcess kills it and reports the end; quitting the program is no reason to
    // request a system shutdown, and this object is half gone by then.
    d->shutdownProcess.disconnect(this);
    d->shutdownTimer.stop();
}

void ShutdownPolicy::setMinuteMs(qint64 ms)
{
    d->minuteMs = qMax<qint64>(1, ms);
}

void ShutdownPolicy::setShutdownHandler(std::function<void()> handler)
{
    d->shutdownHandler = std::move(handler);
}

bool ShutdownPolicy::countdownActive() const
{
    return d->countdownActive;
}

bool ShutdownPolicy::applicationHandled() const
{
    return d->applicationHandled;
}

QTimer *ShutdownPolicy::shutdownTimer() const
{
    return &d->shutdownTimer;
}

QProcess *ShutdownPolicy::shutdownProcess() const
{
    return &d->shutdownProcess;
}

qint64 ShutdownPolicy::remainingMs() const
{
    if (!d->shutdownTimer.isActive())
        return -1;
    return qMax(0, d->shutdownTimer.remainingTime()) + d->pendingMs;
}

void ShutdownPolicy::armTimer(qint64 ms)
{
    const qint64 interval = qBound<qint64>(0, ms, INT_MAX);
    d->pendingMs = qMax<qint64>(0, ms - interval);
    d->shutdownTimer.start(int(interval));
}

void ShutdownPolicy::checkShutdownCondition(const QByteArray &data)
{
    // The engine always sends four bytes; anything shorter is no report to act on, neither to start nor to
    // cancel a countdown.
    if (data.size() < Snmp::PolledObjectCount)
        return;

    const auto battery = static_cast<unsigned char>(data.at(Snmp::BatteryStatus));
    const auto input = static_cast<unsigned char>(data.at(Snmp::InputStatus));
    const bool trouble = Snmp::isPowerTrouble(battery, input);

    int minutes = -1;
    bool changed = false;
    const bool first = !d->reported;
    d->reported = true;
    if (first || battery != static_cast<unsigned char>(d->lastData.at(Snmp::BatteryStatus))) {
        changed = true;
        if (battery == Snmp::BatteryLow)
            minutes = setting("shutdown/batt_low_time").toInt();
    }
    if (first || input != static_cast<unsigned char>(d->lastData.at(Snmp::InputStatus))) {
        changed = true;
        if (input != Snmp::InputNormal) {
            const int t = setting("shutdown/ac_failed_time").toInt();
            if (t >= 1)
                minutes = minutes <= 0 ? t : qMin(minutes, t);
        }
    }

    const int threshold = setting("shutdown/ac_failed_capacity").toInt();
    const auto capacity = static_cast<signed char>(data.at(Snmp::BatteryCapacity));
    // A threshold of 0 or less switches the rule off: a capacity byte of 128 or more reads as negative and
    // must not shut the machine down while the rule is disabled.
    if (input != Snmp::InputNormal && threshold > 0 && capacity < threshold)
        runShutdownApplication();

    d->lastData = data.left(Snmp::PolledObjectCount);

    if (changed)
        updateCountdown(trouble, minutes);
}

void ShutdownPolicy::updateCountdown(bool trouble, int minutes)
{
    if (!trouble) {
        if (d->countdownActive) {
            d->countdownActive = false;
            d->shutdownTimer.stop();
            d->pendingMs = 0;
            emit message(text(QT_TRANSLATE_NOOP("MainWindow", "System shutdown is canceled")));
        }
        return;
    }
    if (minutes <= 0)
        return;

    // 64 bits: a hand-edited file may hold more minutes than 32-bit milliseconds can count.
    const qint64 ms = qint64(minutes) * d->minuteMs;
    const QString announcement = text(QT_TRANSLATE_NOOP("MainWindow", "System will be shutdown in %1 minute(s)"))
                                     .arg(double(float(ms) / float(d->minuteMs)), 0, 'f', 1);
    if (!d->shutdownTimer.isActive()) {
        d->countdownActive = true;
        armTimer(ms);
        emit message(announcement);
    } else if (ms < remainingMs()) {
        armTimer(ms);
        emit message(announcement);
    }
}

void ShutdownPolicy::onOffAPPTimeout()
{
    if (d->pendingMs > 0) {
        armTimer(d->pendingMs);
        return;
    }

    // Only an application started before this expiry has used up its time; the one started just below
    // gets its full interval.
    const bool applicationWasRunning = d->shutdownProcess.state() != QProcess::NotRunning;

    if (d->countdownActive) {
        d->countdownActive = false;
        runShutdownApplication();
    }

    if (applicationWasRunning && d->shutdownProcess.state() != QProcess::NotRunning) {
        qWarning() << "Shutdown application still runs after its maximum execution time, killing it";
        d->shutdownProcess.kill();
    }
}

void ShutdownPolicy::runShutdownApplication()
{
    if (d->applicationHandled)
        return;

    const bool enable = setting("system/shutdown_app_enable").toBool();
    const QString path = setting("system/shutdown_app").toString();
    const QVariant limit = setting("system/shutdown_exec_time");

    if (!enable) {
        onOffAPPFinished(0, QProcess::NormalExit);
        d->applicationHandled = true;
        return;
    }

    // An enabled application without a path would otherwise mark the step done and never shut down.
    if (!isTrustedShutdownApplication(path)) {
        emit message(text(QT_TRANSLATE_NOOP("MainWindow", "Shutdown application is invalid!")));
        onOffAPPFinished(0, QProcess::NormalExit);
        d->applicationHandled = true;
        return;
    }

    emit message(text(QT_TRANSLATE_NOOP("MainWindow", "Start to executing shutdown application.")));

    int minutes = DefaultExecMinutes;
    if (limit.isValid()) {
        const int value = limit.toInt();
        if (value >= MinExecMinutes && value <= MaxExecMinutes)
            minutes = value;
    }
    // Timer and flag are set before the start, so an error that QProcess reports from inside start()
    // leaves the state that error handling sets (flag cleared, timer stopped).
    armTimer(qint64(minutes) * d->minuteMs);
    d->applicationHandled = true;

    // The path is the program itself, never split at blanks and never given arguments.
    d->shutdownProcess.setProgram(path);
    d->shutdownProcess.setArguments(QStringList());
    prepareShutdownApplicationEnvironment(d->shutdownProcess);
    d->shutdownProcess.start(QIODevice::ReadWrite);
}

void ShutdownPolicy::onOffAPPError(QProcess::ProcessError error)
{
    qWarning() << "Shutdown application error:" << error << d->shutdownProcess.errorString();
    emit message(text(QT_TRANSLATE_NOOP("MainWindow", "Shutdown application exit!")));
    d->applicationHandled = false;
    d->shutdownTimer.stop();
    d->pendingMs = 0;
    onOffAPPFinished(0, QProcess::NormalExit);
}

void ShutdownPolicy::onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "System shutdown code:" << exitCode << ", status:" << exitStatus;
    if (d->shutdownHandler)
        d->shutdownHandler();
    else
        shutdownSystem();
}
