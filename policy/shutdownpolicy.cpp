#include "policy/shutdownpolicy.h"

#include "policy/applicationtrust.h"
#include "policy/shutdownprocess.h"
#include "policy/systemmessages.h"
#include "policy/systemshutdown.h"
#include "snmp/snmpinfo.h"
#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QTimer>

#include <climits>

namespace {

constexpr int DefaultExecMinutes = 15;
constexpr int MinExecMinutes = 1;
constexpr int MaxExecMinutes = 90;
// Between SIGTERM and SIGKILL when the application's time is up: enough for a script to clean up.
constexpr int killGraceMs = 5000;

QVariant setting(const char *key)
{
    return readCheckedSetting(AppPaths::settingsFilePath(), QLatin1String(key));
}

// The window shows these rows under its own "System" object, so they are translated in its context.
QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source);
}

} // namespace

// What the policy knows of one card: the last known value of each byte. A byte no answer has carried yet is
// unknown, and unknown is neither trouble nor normal.
struct CardState
{
    unsigned char value[Snmp::PolledObjectCount] = {};
    unsigned known = 0;

    bool has(int index) const { return (known >> index) & 1u; }
    bool trouble() const
    {
        return (has(Snmp::BatteryStatus) && value[Snmp::BatteryStatus] == Snmp::BatteryLow)
            || (has(Snmp::InputStatus) && value[Snmp::InputStatus] != Snmp::InputNormal);
    }
};

struct ShutdownPolicy::Private
{
    QHash<QString, CardState> cards;
    bool countdownActive = false;
    bool applicationHandled = false;
    // Set once the application step has begun (application started or shutdown requested): no report may
    // shorten, restart or cancel anything after that.
    bool committed = false;
    QTimer shutdownTimer;
    QTimer applicationTimer;
    ShutdownProcess shutdownProcess;
    qint64 minuteMs = 60000;
    // A countdown longer than one timer interval (INT_MAX ms) runs as several intervals; this is what is
    // left after the current one.
    qint64 pendingMs = 0;
    std::function<void()> shutdownHandler;
};

ShutdownPolicy::ShutdownPolicy(QObject *parent) : QObject(parent), d(new Private)
{
    // Repeating, as the countdown always was; its expiries after the first find nothing to do.
    d->shutdownTimer.setSingleShot(false);
    d->shutdownTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->shutdownTimer, &QTimer::timeout, this, &ShutdownPolicy::onOffAPPTimeout);
    // The application's own time: no countdown offer may shorten it.
    d->applicationTimer.setSingleShot(true);
    d->applicationTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->applicationTimer, &QTimer::timeout, this, &ShutdownPolicy::onApplicationTimeLimit);

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
    d->applicationTimer.stop();
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

QTimer *ShutdownPolicy::applicationTimer() const
{
    return &d->applicationTimer;
}

bool ShutdownPolicy::shutdownCommitted() const
{
    return d->committed;
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
    checkShutdownCondition(QString(), data);
}

bool ShutdownPolicy::anyTrouble() const
{
    for (const CardState &card : d->cards) {
        if (card.trouble())
            return true;
    }
    return false;
}

void ShutdownPolicy::checkShutdownCondition(const QString &host, const QByteArray &data)
{
    // The engine always sends four values; anything shorter is no report to act on, neither to start nor to
    // cancel a countdown.
    if (data.size() < Snmp::PolledObjectCount)
        return;
    const unsigned mask = Snmp::knownMask(data);

    // A card's first report counts as a change: a card reporting input status 255 from the start shows trouble
    // and must get its countdown. An offline card keeps its entry: a UPS that died in an outage must not end it.
    auto found = d->cards.find(host);
    if (found == d->cards.end())
        found = d->cards.insert(host, CardState());
    CardState &card = found.value();

    // Takes in the values the answer carried; an unknown one leaves the last known value standing. Returns which
    // known values changed (or became known).
    unsigned changedMask = 0;
    for (int i = 0; i < Snmp::PolledObjectCount; ++i) {
        if (!((mask >> i) & 1u))
            continue;
        const auto now = static_cast<unsigned char>(data.at(i));
        if (!card.has(i) || card.value[i] != now)
            changedMask |= 1u << i;
        card.value[i] = now;
        card.known |= 1u << i;
    }

    int minutes = -1;
    const bool batteryChanged = (changedMask >> Snmp::BatteryStatus) & 1u;
    const bool inputChanged = (changedMask >> Snmp::InputStatus) & 1u;
    if (batteryChanged && card.value[Snmp::BatteryStatus] == Snmp::BatteryLow)
        minutes = setting("shutdown/batt_low_time").toInt();
    if (inputChanged && card.value[Snmp::InputStatus] != Snmp::InputNormal) {
        const int t = setting("shutdown/ac_failed_time").toInt();
        if (t >= 1)
            minutes = minutes <= 0 ? t : qMin(minutes, t);
    }
    const bool changed = batteryChanged || inputChanged;

    const int threshold = setting("shutdown/ac_failed_capacity").toInt();
    // A threshold of 0 or less switches the rule off. Only a known percentage counts: a missing object or a
    // byte no percentage can have must not read as an empty battery.
    const bool mainsFailed = card.has(Snmp::InputStatus) && card.value[Snmp::InputStatus] != Snmp::InputNormal;
    const bool capacityKnown
        = card.has(Snmp::BatteryCapacity) && card.value[Snmp::BatteryCapacity] <= Snmp::MaxCapacity;
    if (mainsFailed && capacityKnown && threshold > 0 && int(card.value[Snmp::BatteryCapacity]) < threshold)
        runShutdownApplication();

    if (changed)
        updateCountdown(anyTrouble(), minutes);
}

void ShutdownPolicy::forgetCard(const QString &host)
{
    if (d->cards.remove(host) == 0)
        return;
    updateCountdown(anyTrouble(), -1);
}

void ShutdownPolicy::updateCountdown(bool trouble, int minutes)
{
    if (d->committed)
        return;
    if (!trouble) {
        if (d->countdownActive) {
            d->countdownActive = false;
            d->shutdownTimer.stop();
            d->pendingMs = 0;
            emit message(text(SystemMessages::countdownCanceled));
        }
        return;
    }
    if (minutes <= 0)
        return;

    // 64 bits: a hand-edited file may hold more minutes than 32-bit milliseconds can count.
    const qint64 ms = qint64(minutes) * d->minuteMs;
    const QString announcement = text(SystemMessages::countdownStarted)
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
    if (d->countdownActive) {
        d->countdownActive = false;
        runShutdownApplication();
    }
}

void ShutdownPolicy::commitShutdown()
{
    d->committed = true;
    d->countdownActive = false;
    d->shutdownTimer.stop();
    d->pendingMs = 0;
}

void ShutdownPolicy::onApplicationTimeLimit()
{
    if (d->shutdownProcess.state() == QProcess::NotRunning)
        return;
    qWarning() << "Shutdown application still runs after its maximum execution time, stopping it";
    d->shutdownProcess.stopGroup(killGraceMs);
}

void ShutdownPolicy::runShutdownApplication()
{
    if (d->applicationHandled)
        return;
    commitShutdown();

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
        emit message(text(SystemMessages::applicationInvalid));
        onOffAPPFinished(0, QProcess::NormalExit);
        d->applicationHandled = true;
        return;
    }

    emit message(text(SystemMessages::applicationStarting));

    int minutes = DefaultExecMinutes;
    if (limit.isValid()) {
        const int value = limit.toInt();
        if (value >= MinExecMinutes && value <= MaxExecMinutes)
            minutes = value;
    }
    // Timer and flag are set before the start, so an error that QProcess reports from inside start()
    // leaves the state that error handling sets (flag cleared, timer stopped).
    d->applicationTimer.start(int(qMin<qint64>(qint64(minutes) * d->minuteMs, INT_MAX)));
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
    emit message(text(SystemMessages::applicationEnded));
    d->applicationHandled = false;
    d->applicationTimer.stop();
    onOffAPPFinished(0, QProcess::NormalExit);
}

void ShutdownPolicy::onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "System shutdown code:" << exitCode << ", status:" << exitStatus;
    if (d->shutdownHandler)
        d->shutdownHandler();
    else
        shutdownSystem(this, [this](ShutdownProblem problem, const QString &detail) {
            emit message(shutdownProblemText(problem, detail));
        });
}

void ShutdownPolicy::checkPowerOffRight()
{
    if (d->shutdownHandler)
        return;
    ::checkPowerOffRight(this,
        [this](ShutdownProblem problem, const QString &detail) { emit message(shutdownProblemText(problem, detail)); });
}
