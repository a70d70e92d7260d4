#include "policy/shutdownpolicy.h"

#include "policy/applicationtrust.h"
#include "policy/shutdownprocess.h"
#include "policy/systemmessages.h"
#include "policy/systemshutdown.h"
#include "snmp/snmpinfo.h"
#include "storage/apppaths.h"
#include "storage/settingkeys.h"
#include "storage/settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <climits>

namespace {

constexpr int DefaultExecMinutes = 15;
constexpr int MinExecMinutes = 1;
constexpr int MaxExecMinutes = 90;
// Between SIGTERM and SIGKILL when the application's time is up: enough for a script to clean up.
constexpr int killGraceMs = 5000;
// A countdown that ran out while the program was away waits this long at most for a report that confirms or
// ends the trouble.
constexpr qint64 resumeGraceMs = 10000;
// Followers get this long to log out unless nut/fsd_wait says otherwise; no setting may hold a due shutdown longer.
constexpr int DefaultFollowerWaitSeconds = 15;
constexpr int MaxFollowerWaitSeconds = 300;
constexpr int FollowerFinalDelaySeconds = 5;

QVariant setting(const char *key)
{
    return readCheckedSetting(AppPaths::settingsFilePath(), QLatin1String(key));
}

// The row in English for the log, whatever language the face shows it in.
void logInEnglish(const char *id, const QStringList &args = QStringList())
{
    QString text = QString::fromLatin1(id);
    for (const QString &arg : args)
        text = text.arg(arg);
    qInfo("%s", qPrintable(text));
}

QString minutesText(qint64 ms, qint64 minuteMs)
{
    return QString::number(double(float(ms) / float(minuteMs)), 'f', 1);
}

} // namespace

// What the policy knows of one card: the last known value of each byte. A byte no answer has carried yet is
// unknown, and unknown is neither trouble nor normal.
struct KnownCard
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
    QHash<QString, KnownCard> cards;
    bool countdownActive = false;
    // The application step has run in this outage; it runs again only after the trouble has been over.
    bool applicationHandled = false;
    // Set once the application step has begun (application started or shutdown requested): no report may
    // shorten, restart or cancel anything after that, until a refused power-off finds the trouble over.
    bool committed = false;
    // The application has ended (or failed) and led to its one request.
    bool applicationEnded = false;
    // A power-off request has gone out and logind has not refused it: never a second one meanwhile.
    bool requestInFlight = false;
    // The last request was refused; the retry timer asks again while some card still shows trouble.
    bool refused = false;
    SystemMessage refusal;
    QTimer retryTimer;
    // A countdown taken over from before a restart whose deadline had passed: the first report that still
    // shows the trouble acts at once, one that shows it over cancels, silence acts when the grace is over.
    bool resumedPastDue = false;
    // Wall-clock milliseconds: when the countdown's condition began and when it runs out. They must survive
    // the program, so no monotonic clock.
    qint64 troubleSince = 0;
    qint64 deadline = 0;
    QString statePath;
    bool stateWriteWarned = false;
    QTimer shutdownTimer;
    QTimer applicationTimer;
    ShutdownProcess shutdownProcess;
    qint64 minuteMs = 60000;
    // A countdown longer than one timer interval (INT_MAX ms) runs as several intervals; this is what is
    // left after the current one.
    qint64 pendingMs = 0;
    std::function<void()> shutdownHandler;
    std::function<ShutdownPolicy::ForcedShutdown(const QStringList &)> forcedShutdownHook;
    // Between the forced shutdown raised and the application: bounded by followerTimer.
    bool waitingForFollowers = false;
    int followerWaitSeconds = 0;
    int followers = 0;
    QTimer followerTimer;
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
    d->retryTimer.setSingleShot(true);
    connect(&d->retryTimer, &QTimer::timeout, this, &ShutdownPolicy::retryPowerOff);
    d->followerTimer.setSingleShot(true);
    d->followerTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->followerTimer, &QTimer::timeout, this, [this] {
        if (!d->waitingForFollowers)
            return;
        if (d->followers > 0) {
            const QStringList args {QString::number(d->followers), QString::number(d->followerWaitSeconds)};
            logInEnglish(SystemMessages::followersStayed, args);
            say(SystemMessages::followersStayed, args);
        }
        followersDone();
    });

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
    d->followerTimer.stop();
}

void ShutdownPolicy::setForcedShutdownHook(std::function<ForcedShutdown(const QStringList &)> hook)
{
    d->forcedShutdownHook = std::move(hook);
}

bool ShutdownPolicy::waitingForFollowers() const
{
    return d->waitingForFollowers;
}

QTimer *ShutdownPolicy::followerTimer() const
{
    return &d->followerTimer;
}

void ShutdownPolicy::shutdownNow(const QString &host, const SystemMessage &reason)
{
    if (d->applicationHandled || d->waitingForFollowers)
        return;
    qInfo("System shutdown at once for %s", qPrintable(host.isEmpty() ? QStringLiteral("the card") : host));
    if (!reason.isEmpty())
        say(reason);
    beginShutdown({host});
}

// Followers shut down before this machine, so that the UPS keeps them up while they do; none, or none logged in,
// and nothing waits.
void ShutdownPolicy::beginShutdown(const QStringList &hosts)
{
    if (d->applicationHandled || d->waitingForFollowers)
        return;
    commitShutdown();
    QStringList raise = hosts;
    if (raise.isEmpty()) {
        for (auto it = d->cards.cbegin(); it != d->cards.cend(); ++it) {
            if (it.value().trouble())
                raise << it.key();
        }
        raise.sort();
    }
    const ForcedShutdown forced = d->forcedShutdownHook ? d->forcedShutdownHook(raise) : ForcedShutdown();
    const QVariant stored = setting(SettingKeys::nutFsdWait);
    bool ok = false;
    const int seconds = stored.toInt(&ok);
    d->followerWaitSeconds
        = ok && seconds >= 0 && seconds <= MaxFollowerWaitSeconds ? seconds : DefaultFollowerWaitSeconds;
    if (forced.followers <= 0 || d->followerWaitSeconds == 0) {
        runShutdownApplication();
        return;
    }
    d->waitingForFollowers = true;
    d->followers = forced.followers;
    const QStringList args {
        forced.raisedOn, QString::number(d->followerWaitSeconds), QString::number(forced.followers)};
    logInEnglish(SystemMessages::forcedShutdownRaised, args);
    say(SystemMessages::forcedShutdownRaised, args);
    // Seconds of the policy's minute, so that a test's short minute shortens the wait too.
    d->followerTimer.start(int(qMin<qint64>(qint64(d->followerWaitSeconds) * d->minuteMs / 60, INT_MAX)));
}

void ShutdownPolicy::followersLoggedIn(int count)
{
    if (!d->waitingForFollowers)
        return;
    d->followers = qMax(0, count);
    if (d->followers > 0)
        return;
    logInEnglish(SystemMessages::followersLeft);
    say(SystemMessages::followersLeft);
    // A follower logs out first and then runs its own shutdown: a last moment for that (as upsmon's primary
    // waits its FINALDELAY), never past the bound.
    const qint64 finalMs = qint64(FollowerFinalDelaySeconds) * d->minuteMs / 60;
    d->followerTimer.start(int(qBound<qint64>(0, qMin<qint64>(finalMs, d->followerTimer.remainingTime()), INT_MAX)));
}

void ShutdownPolicy::followersDone()
{
    d->waitingForFollowers = false;
    d->followerTimer.stop();
    runShutdownApplication();
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
    for (const KnownCard &card : d->cards) {
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
        found = d->cards.insert(host, KnownCard());
    KnownCard &card = found.value();
    const bool troubleBefore = card.trouble();

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

    // A countdown taken over from before a restart whose time has passed: this card still shows the trouble.
    if (d->resumedPastDue && d->countdownActive && card.trouble()) {
        d->resumedPastDue = false;
        qInfo("Power trouble confirmed by %s after the restart: the countdown had run out", qPrintable(host));
        onOffAPPTimeout();
    }

    // A threshold of 0 or less switches the rule off. Only a known percentage counts: a missing object or a
    // byte no percentage can have must not read as an empty battery. The threshold is read (a look at the
    // settings file) only for a card the rule can apply to.
    const bool mainsFailed = card.has(Snmp::InputStatus) && card.value[Snmp::InputStatus] != Snmp::InputNormal;
    const bool capacityKnown
        = card.has(Snmp::BatteryCapacity) && card.value[Snmp::BatteryCapacity] <= Snmp::MaxCapacity;
    if (mainsFailed && capacityKnown) {
        const int threshold = setting("shutdown/ac_failed_capacity").toInt();
        if (threshold > 0 && int(card.value[Snmp::BatteryCapacity]) < threshold)
            beginShutdown();
    }

    if (changed)
        updateCountdown(anyTrouble(), minutes);
    // The saved state follows which cards show trouble, so that a restart resumes with the right ones.
    if (changed && card.trouble() != troubleBefore && (d->countdownActive || d->committed))
        saveState();
}

void ShutdownPolicy::forgetCard(const QString &host)
{
    if (d->cards.remove(host) == 0)
        return;
    updateCountdown(anyTrouble(), -1);
    if (d->countdownActive || d->committed)
        saveState();
}

void ShutdownPolicy::updateCountdown(bool trouble, int minutes)
{
    if (d->committed) {
        // A refused power-off stays due while the trouble lasts; once it is over the next outage starts afresh.
        if (!trouble && d->refused)
            rearm();
        return;
    }
    if (!trouble) {
        if (d->countdownActive) {
            d->countdownActive = false;
            d->resumedPastDue = false;
            d->shutdownTimer.stop();
            d->pendingMs = 0;
            clearState();
            say(SystemMessages::countdownCanceled);
        }
        return;
    }
    if (minutes <= 0)
        return;

    // 64 bits: a hand-edited file may hold more minutes than 32-bit milliseconds can count.
    const qint64 ms = qint64(minutes) * d->minuteMs;
    if (!d->shutdownTimer.isActive()) {
        d->countdownActive = true;
        d->troubleSince = QDateTime::currentMSecsSinceEpoch();
        startCountdown(ms);
    } else if (ms < remainingMs()) {
        startCountdown(ms);
    }
}

void ShutdownPolicy::startCountdown(qint64 ms)
{
    d->resumedPastDue = false;
    armTimer(ms);
    d->deadline = QDateTime::currentMSecsSinceEpoch() + ms;
    saveState();
    say(SystemMessages::countdownStarted, {minutesText(ms, d->minuteMs)});
}

void ShutdownPolicy::onOffAPPTimeout()
{
    if (d->pendingMs > 0) {
        armTimer(d->pendingMs);
        return;
    }
    if (d->countdownActive) {
        d->countdownActive = false;
        d->resumedPastDue = false;
        beginShutdown();
    }
}

void ShutdownPolicy::commitShutdown()
{
    d->committed = true;
    d->countdownActive = false;
    d->resumedPastDue = false;
    d->shutdownTimer.stop();
    d->pendingMs = 0;
    // The deadline stays on disk: a program that dies from here on acts at once when it is back and the
    // trouble is still there.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    d->deadline = d->deadline > 0 ? qMin(d->deadline, now) : now;
    if (d->troubleSince == 0)
        d->troubleSince = d->deadline;
    saveState();
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
    d->applicationEnded = false;

    const bool enable = setting("system/shutdown_app_enable").toBool();
    const QString path = setting("system/shutdown_app").toString();
    const QVariant limit = setting("system/shutdown_exec_time");

    if (!enable) {
        d->applicationHandled = true;
        onOffAPPFinished(0, QProcess::NormalExit);
        return;
    }

    // An enabled application without a path would otherwise mark the step done and never shut down.
    if (!isTrustedShutdownApplication(path)) {
        say(SystemMessages::applicationInvalid);
        d->applicationHandled = true;
        onOffAPPFinished(0, QProcess::NormalExit);
        return;
    }

    say(SystemMessages::applicationStarting);

    int minutes = DefaultExecMinutes;
    if (limit.isValid()) {
        const int value = limit.toInt();
        if (value >= MinExecMinutes && value <= MaxExecMinutes)
            minutes = value;
    }
    // Timer and flag are set before the start, so an error that QProcess reports from inside start()
    // finds the step begun.
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
    // A crash reports the error and then the end: the application leads to one request either way, and it is
    // not started again in this outage.
    if (d->applicationEnded)
        return;
    say(SystemMessages::applicationEnded);
    d->applicationTimer.stop();
    onOffAPPFinished(0, QProcess::NormalExit);
}

void ShutdownPolicy::onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    qDebug() << "System shutdown code:" << exitCode << ", status:" << exitStatus;
    if (d->applicationEnded)
        return;
    d->applicationEnded = true;
    d->applicationTimer.stop();
    requestPowerOff();
}

void ShutdownPolicy::requestPowerOff()
{
    if (d->requestInFlight)
        return;
    d->requestInFlight = true;
    d->refused = false;
    d->retryTimer.stop();
    if (d->shutdownHandler) {
        d->shutdownHandler();
        return;
    }
    shutdownSystem(this, [this](ShutdownProblem problem, const QString &detail) {
        handlePowerOffRefused(shutdownProblemMessage(problem, detail));
    });
}

void ShutdownPolicy::handlePowerOffRefused(const QString &reason)
{
    handlePowerOffRefused(SystemMessage {reason, {}});
}

void ShutdownPolicy::handlePowerOffRefused(const SystemMessage &reason)
{
    if (!d->requestInFlight)
        return;
    d->requestInFlight = false;
    d->refused = true;
    // One standing row per reason, not one a minute.
    if (reason != d->refusal) {
        d->refusal = reason;
        say(reason);
    }
    if (anyTrouble()) {
        qInfo("System shutdown still due: asking again in %lld s", d->minuteMs / 1000);
        d->retryTimer.start(int(qMin<qint64>(d->minuteMs, INT_MAX)));
    } else {
        rearm();
    }
}

SystemMessage ShutdownPolicy::refusal() const
{
    return d->refused ? d->refusal : SystemMessage();
}

void ShutdownPolicy::say(const char *id, const QStringList &args)
{
    say(SystemMessage {QString::fromLatin1(id), args});
}

void ShutdownPolicy::say(const SystemMessage &message)
{
    // The window shows the row under its own "System" object, in its language; the service sends the id.
    emit this->message(SystemMessages::text(message));
    emit systemMessage(message);
}

void ShutdownPolicy::retryPowerOff()
{
    if (!d->committed || !d->refused)
        return;
    if (!anyTrouble()) {
        rearm();
        return;
    }
    requestPowerOff();
}

void ShutdownPolicy::rearm()
{
    d->retryTimer.stop();
    d->committed = false;
    d->applicationHandled = false;
    d->applicationEnded = false;
    d->refused = false;
    d->refusal = SystemMessage();
    d->requestInFlight = false;
    d->countdownActive = false;
    d->troubleSince = 0;
    d->deadline = 0;
    clearState();
    say(SystemMessages::shutdownNoLongerDue);
}

bool ShutdownPolicy::requestInFlight() const
{
    return d->requestInFlight;
}

bool ShutdownPolicy::shutdownDue() const
{
    return d->committed && d->refused;
}

QTimer *ShutdownPolicy::retryTimer() const
{
    return &d->retryTimer;
}

void ShutdownPolicy::setStatePath(const QString &path)
{
    d->statePath = path;
}

QString ShutdownPolicy::statePath() const
{
    return d->statePath;
}

// The countdown as it stands, in a file replaced whole (write and rename), so that a program killed while
// writing leaves the old one or the new one, never half of each.
void ShutdownPolicy::saveState()
{
    if (d->statePath.isEmpty())
        return;
    QJsonObject cards;
    for (auto it = d->cards.cbegin(); it != d->cards.cend(); ++it) {
        if (!it.value().trouble())
            continue;
        QJsonArray values;
        for (unsigned char value : it.value().value)
            values.append(int(value));
        values.append(int(it.value().known));
        cards.insert(it.key(), values);
    }
    QJsonObject state;
    state.insert(QStringLiteral("troubleSince"), double(d->troubleSince));
    state.insert(QStringLiteral("deadline"), double(d->deadline));
    state.insert(QStringLiteral("cards"), cards);

    QSaveFile file(d->statePath);
    const bool written = file.open(QIODevice::WriteOnly)
        && file.write(QJsonDocument(state).toJson(QJsonDocument::Compact)) >= 0 && file.commit();
    if (!written && !d->stateWriteWarned) {
        // The countdown itself goes on; only a restart would no longer resume it.
        qWarning("The countdown cannot be saved to %s: %s", qPrintable(d->statePath), qPrintable(file.errorString()));
        d->stateWriteWarned = true;
    } else if (written) {
        d->stateWriteWarned = false;
    }
}

void ShutdownPolicy::clearState()
{
    if (!d->statePath.isEmpty() && QFile::exists(d->statePath) && !QFile::remove(d->statePath))
        qWarning("The saved countdown %s cannot be removed", qPrintable(d->statePath));
}

bool ShutdownPolicy::resume(const QStringList &listed)
{
    if (d->statePath.isEmpty() || !QFile::exists(d->statePath))
        return false;
    QFile file(d->statePath);
    QJsonParseError error {};
    const QJsonDocument document
        = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.read(64 * 1024), &error) : QJsonDocument();
    const QJsonObject state = document.object();
    const qint64 deadline = qint64(state.value(QStringLiteral("deadline")).toDouble());
    const QJsonObject cards = state.value(QStringLiteral("cards")).toObject();

    // Only a listed card's last trouble counts: one removed meanwhile is no reason to shut down.
    QHash<QString, KnownCard> restored;
    for (auto it = cards.constBegin(); it != cards.constEnd(); ++it) {
        const QJsonArray values = it.value().toArray();
        if (!listed.contains(it.key()) || values.size() != Snmp::PolledObjectCount + 1)
            continue;
        KnownCard card;
        for (int i = 0; i < Snmp::PolledObjectCount; ++i)
            card.value[i] = static_cast<unsigned char>(values.at(i).toInt());
        card.known = unsigned(values.at(Snmp::PolledObjectCount).toInt()) & ((1u << Snmp::PolledObjectCount) - 1);
        if (card.trouble())
            restored.insert(it.key(), card);
    }
    if (restored.isEmpty() || deadline <= 0) {
        if (error.error != QJsonParseError::NoError)
            qWarning("The saved countdown %s is unreadable and is dropped", qPrintable(d->statePath));
        clearState();
        return false;
    }

    for (auto it = restored.cbegin(); it != restored.cend(); ++it)
        d->cards.insert(it.key(), it.value());
    d->countdownActive = true;
    d->troubleSince = qint64(state.value(QStringLiteral("troubleSince")).toDouble());
    d->deadline = deadline;
    const qint64 left = deadline - QDateTime::currentMSecsSinceEpoch();
    if (left > 0) {
        armTimer(left);
        qInfo("Countdown resumed after a restart: %lld ms left", left);
        say(SystemMessages::countdownStarted, {minutesText(left, d->minuteMs)});
    } else {
        // Run out while the program was away: the first report that still shows the trouble acts; a card that
        // stays silent for the grace does too, as a dead UPS in an outage would.
        d->resumedPastDue = true;
        armTimer(qMin<qint64>(resumeGraceMs, qMax<qint64>(1, d->minuteMs / 6)));
        qInfo("Countdown ran out while the program was away: acting on the first report that confirms it");
        say(SystemMessages::countdownStarted, {minutesText(0, d->minuteMs)});
    }
    return true;
}

void ShutdownPolicy::checkPowerOffRight()
{
    if (d->shutdownHandler)
        return;
    ::checkPowerOffRight(
        this, [this](ShutdownProblem problem, const QString &detail) { say(shutdownProblemMessage(problem, detail)); });
}
