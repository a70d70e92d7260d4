#pragma once

#include <QProcess>

// The shutdown application's process. It runs in a process group of its own, so that what it starts in turn
// (a script's children) is stopped with it when its time is up, in the root directory and without any of the
// program's capabilities. GUI thread only.
class ShutdownProcess : public QProcess
{
    Q_OBJECT
public:
    explicit ShutdownProcess(QObject *parent = nullptr);

    // SIGTERM to the group now, SIGKILL to it after graceMs if the application has not ended by then.
    void stopGroup(int graceMs);
    // SIGKILL to the group now.
    void killGroup();

protected:
    void setupChildProcess() override;

private:
    void signalGroup(int signal);
};
