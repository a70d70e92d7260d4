#pragma once

#include <QProcessEnvironment>
#include <QString>

class QProcess;

// The shutdown application runs in the account of whichever member's instance protects the machine, while
// any member may set its path. So it is run only when nobody else could have written it: an absolute path to
// a regular file owned by root or by this user, not writable by group or others, in directories of root or
// this user that group and others cannot change (a sticky directory such as /tmp excepted). Logs why not.
bool isTrustedShutdownApplication(const QString &path);
// Why the check above refuses path ("owned by uid 1000", "writable by the group", ...), in English, or empty.
// The dialog and the service ask it when the path is chosen, so the refusal never first shows at an outage.
QString shutdownApplicationRefusal(const QString &path);

// A clean, minimal environment for the application (a fixed PATH, the user's identity, locale and session
// addresses; nothing of what the program itself was started with otherwise), set on the process and returned.
QProcessEnvironment prepareShutdownApplicationEnvironment(QProcess &process);

// The open-file limit the process started with, before the program raised it for its card sessions.
void rememberStartOpenFileLimit();

// Child side, between fork and exec: only async-signal-safe calls. Clears the ambient and inheritable
// capabilities, so the application gets none of the program's; gives back the open-file limit the program
// started with and marks every descriptor from 3 up close-on-exec, so the application inherits no socket
// (QProcess's own close-on-exec pipe still reports a failed exec).
void resetChildProcessState();
