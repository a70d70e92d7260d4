#pragma once

#include "policy/systemmessages.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;
class ShutdownProcess;

// The protection: decides from the data reports when the machine must go down. Plain logic fed with data
// arrays; its timers count in "minutes" whose length a test can shrink. Every settings key is read at the
// moment of use. Each card keeps its own last report: a condition starts when that card's value changes into it,
// and the trouble is over only when no card shows it any more. GUI thread only.
class ShutdownPolicy : public QObject
{
    Q_OBJECT
public:
    explicit ShutdownPolicy(QObject *parent = nullptr);
    ~ShutdownPolicy() override;

    // A report of one card, keyed by its address; the one-argument form is a single unnamed card.
    void checkShutdownCondition(const QString &host, const QByteArray &data);
    void checkShutdownCondition(const QByteArray &data);
    // The card was removed or replaced: its state is forgotten, and a countdown ends if no trouble is left.
    void forgetCard(const QString &host);

    // Asks at once whether the machine may be powered off unattended; a problem becomes a message row.
    void checkPowerOffRight();

    // Where the running countdown is kept, so that a restart resumes it (empty: nowhere).
    void setStatePath(const QString &path);
    QString statePath() const;
    // At start: takes over a countdown saved before, when one of the listed cards it names still had trouble
    // then. Arms for what is left; one that ran out meanwhile acts on the first report that confirms the
    // trouble (or after a short grace without one). True when a countdown was resumed.
    bool resume(const QStringList &listed);

    // logind (or whatever replaced it) refused the power-off: the reason stands as a row, the request is made
    // again every minute while some card shows trouble, and the end of the trouble re-arms the protection.
    void handlePowerOffRefused(const QString &reason);
    void handlePowerOffRefused(const SystemMessage &reason);
    // While a due power-off is refused: why; empty otherwise.
    SystemMessage refusal() const;

    // What raising a forced shutdown on the cards in trouble gave: the names it was raised under, as a row shows
    // them, and how many followers (other machines that shut down when told) are logged in on them.
    struct ForcedShutdown
    {
        QString raisedOn;
        int followers = 0;
    };
    // Before the application runs, the program raises a forced shutdown on these cards (empty hook: nobody to
    // tell). With followers logged in, the policy waits until followersLoggedIn(0) and 5 s more for their own
    // shutdown, or until the bound (nut/fsd_wait seconds) has passed, whichever comes first.
    void setForcedShutdownHook(std::function<ForcedShutdown(const QStringList &hosts)> hook);
    // The shutdown of this machine, at once: a forced shutdown raised for the card elsewhere. The reason is a row
    // of its own; from there on it is the same sequence as a countdown that ran out, and the application still
    // runs once per outage.
    void shutdownNow(const QString &host, const SystemMessage &reason);
    // Waiting for followers to log out after a forced shutdown was raised.
    bool waitingForFollowers() const;
    QTimer *followerTimer() const;

    // Test seams: the length of one minute, and what "shut the system down" does (default shutdownSystem()).
    void setMinuteMs(qint64 ms);
    void setShutdownHandler(std::function<void()> handler);

    bool countdownActive() const;
    bool applicationHandled() const;
    // The application step has begun: from here on the shutdown goes ahead whatever the reports say.
    bool shutdownCommitted() const;
    QTimer *shutdownTimer() const;
    // Times the shutdown application's maximum execution time, apart from the countdown.
    QTimer *applicationTimer() const;
    QProcess *shutdownProcess() const;
    bool requestInFlight() const;
    // A power-off was refused and is asked for again while the trouble lasts.
    bool shutdownDue() const;
    QTimer *retryTimer() const;

    // What is left of the running timer in milliseconds, including the part of a very long countdown that
    // does not fit into one timer interval; -1 when the timer is stopped.
    qint64 remainingMs() const;

signals:
    // A row for the event table under the object "System"; already translated. Never stored.
    void message(const QString &text);
    // The same row as its message id and arguments, for a face that shows it in a language of its own.
    void systemMessage(const SystemMessage &message);

public slots:
    // How many followers are still logged in on the cards the forced shutdown was raised on.
    void followersLoggedIn(int count);
    void onOffAPPTimeout();
    void onOffAPPError(QProcess::ProcessError error);
    void onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void say(const char *id, const QStringList &args = QStringList());
    void say(const SystemMessage &message);
    void updateCountdown(bool trouble, int minutes);
    void startCountdown(qint64 ms);
    // The decision to shut down: tells the followers first, then runs the application.
    void beginShutdown(const QStringList &hosts = QStringList());
    void followersDone();
    void runShutdownApplication();
    void commitShutdown();
    void requestPowerOff();
    void retryPowerOff();
    void rearm();
    void saveState();
    void clearState();
    void onApplicationTimeLimit();
    bool anyTrouble() const;
    void armTimer(qint64 ms);

    struct Private;
    std::unique_ptr<Private> d;
};
