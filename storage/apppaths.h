#pragma once

#include <QString>

// Everything the program keeps lives beside the executable. Tests point the root at a scratch directory;
// the program never does. The getters work before the application object exists (the crash handler asks
// first thing).
// GUI thread for setRoot; the getters may be called from any thread once start-up is over.
class AppPaths
{
public:
    static QString root();
    static void setRoot(const QString &dir);

    static QString dataDir() { return root() + QStringLiteral("/data"); }
    static QString cfgDir() { return root() + QStringLiteral("/cfg"); }
    // The installation's log/, where the service logs and a development tree's programs do.
    static QString installedLogDir() { return root() + QStringLiteral("/log"); }
    // Where this process writes its day log: log/, unless log/ is there and this user may not write in it
    // (the installed window, log/ being the service's own); then the user's own state directory. A missing
    // log/ stays the answer, so that a deleted log directory loses messages rather than moving them.
    static QString logDir();
    // Where this process writes its crash dumps: crash/ under its log directory.
    static QString crashDir() { return logDir() + QStringLiteral("/crash"); }
    // $XDG_STATE_HOME/vigilex, or ~/.local/state/vigilex when the variable is unset or not an absolute path.
    static QString userStateDir();
    // The service logs in log/ whatever its user may do there. Before installCrashHandler().
    static void keepLogInInstallation(bool keep = true);
    // Makes the missing parts of path with mode 0700; true when path is a directory afterwards.
    static bool makePrivatePath(const QString &path);
    static QString translateDir() { return root() + QStringLiteral("/translate"); }
    static QString databasePath() { return root() + QStringLiteral("/cfg/vigilex.db"); }
    static QString settingsFilePath() { return root() + QStringLiteral("/cfg/settings.ini"); }
    static QString cataloguePath() { return root() + QStringLiteral("/cfg/vigilex.cfg"); }
    // The running countdown, kept so that a restart during an outage resumes it.
    static QString shutdownStatePath() { return root() + QStringLiteral("/cfg/shutdown.state"); }

    // The single-level mkdir of /data, /cfg and /log at start-up, and the user's log directory when this
    // process logs there; failures are ignored.
    static void createDirectories();
};
