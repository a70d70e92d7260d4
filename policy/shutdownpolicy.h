#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>

#include <functional>
#include <memory>

class QTimer;

// The protection: decides from the data reports when the machine must go down. Plain logic fed with data
// arrays; its timer counts in "minutes" whose length a test can shrink. Every settings key is read at the
// moment of use. GUI thread only.
class ShutdownPolicy : public QObject
{
    Q_OBJECT
public:
    explicit ShutdownPolicy(QObject *parent = nullptr);
    ~ShutdownPolicy() override;

    void checkShutdownCondition(const QByteArray &data);

    // Test seams: the length of one minute, and what "shut the system down" does (default shutdownSystem()).
    void setMinuteMs(qint64 ms);
    void setShutdownHandler(std::function<void()> handler);

    bool countdownActive() const;
    bool applicationHandled() const;
    QTimer *shutdownTimer() const;
    QProcess *shutdownProcess() const;

    // What is left of the running timer in milliseconds, including the part of a very long countdown that
    // does not fit into one timer interval; -1 when the timer is stopped.
    qint64 remainingMs() const;

signals:
    // A row for the event table under the object "System"; already translated. Never stored.
    void message(const QString &text);

public slots:
    void onOffAPPTimeout();
    void onOffAPPError(QProcess::ProcessError error);
    void onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void updateCountdown(bool trouble, int minutes);
    void runShutdownApplication();
    void armTimer(qint64 ms);

    struct Private;
    std::unique_ptr<Private> d;
};
