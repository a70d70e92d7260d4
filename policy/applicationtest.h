#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class ShutdownProcess;

// Runs the shutdown application now, on request, exactly as an outage would: the same trust check, the same
// clean environment, its own process group, and the maximum execution time with TERM and then KILL to the
// group. It never requests a power-off and never touches the protection. GUI thread only.
class ApplicationTest : public QObject
{
    Q_OBJECT
public:
    explicit ApplicationTest(QObject *parent = nullptr);
    // A run still going is killed with its group: nobody would be told its end.
    ~ApplicationTest() override;

    // Starts path with a limit of minutes; finished follows later in every case, also for a refusal.
    void start(const QString &path, int minutes);
    bool isRunning() const;

    // Test seam: the length of one minute.
    void setMinuteMs(qint64 ms);

signals:
    // exitCode and exitStatus (QProcess::ExitStatus) as QProcess reports them, the signal number for a run
    // that was killed. refusal (English) is set when the application was not run or could not be started.
    void finished(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal);

private:
    void finish(int exitCode, int exitStatus, const QString &refusal);

    std::unique_ptr<ShutdownProcess> m_process;
    QTimer m_limit;
    QElapsedTimer m_clock;
    qint64 m_minuteMs = 60000;
    bool m_running = false;
};
