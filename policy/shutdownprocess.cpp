#include "policy/shutdownprocess.h"

#include "policy/applicationtrust.h"

#include <QTimer>

#include <csignal>
#include <unistd.h>

ShutdownProcess::ShutdownProcess(QObject *parent) : QProcess(parent)
{
    // Not wherever the program was started (it may be a directory others can write, such as a shared log/),
    // where someone could have left a Makefile or a script that the application looks for relative to it.
    setWorkingDirectory(QStringLiteral("/"));
}

// In the child between fork and exec, async-signal-safe calls only: its own process group, no capability, the
// open-file limit the program started with, and no descriptor of ours beyond the standard three.
void ShutdownProcess::setupChildProcess()
{
    ::setpgid(0, 0);
    resetChildProcessState();
}

void ShutdownProcess::signalGroup(int signal)
{
    const qint64 pid = processId();
    if (pid <= 0 || state() == QProcess::NotRunning)
        return;
    // The group exists as long as its leader has not been reaped, which QProcess does only once it saw the end.
    if (::kill(-pid_t(pid), signal) != 0)
        ::kill(pid_t(pid), signal);
}

void ShutdownProcess::stopGroup(int graceMs)
{
    const qint64 pid = processId();
    signalGroup(SIGTERM);
    // Only the same run: the step may have started the application again meanwhile.
    QTimer::singleShot(graceMs, this, [this, pid] {
        if (processId() == pid)
            signalGroup(SIGKILL);
    });
}

void ShutdownProcess::killGroup()
{
    signalGroup(SIGKILL);
}
