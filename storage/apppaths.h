#pragma once

#include <QString>

// Everything the program keeps lives beside the executable. Tests point the root at a scratch directory;
// the program never does.
// GUI thread for setRoot; the getters may be called from any thread once start-up is over.
class AppPaths
{
public:
    static QString root();
    static void setRoot(const QString &dir);

    static QString dataDir() { return root() + QStringLiteral("/data"); }
    static QString cfgDir() { return root() + QStringLiteral("/cfg"); }
    static QString logDir() { return root() + QStringLiteral("/log"); }
    static QString translateDir() { return root() + QStringLiteral("/translate"); }
    static QString databasePath() { return root() + QStringLiteral("/cfg/vigilex.db"); }
    static QString settingsFilePath() { return root() + QStringLiteral("/cfg/settings.ini"); }
    static QString cataloguePath() { return root() + QStringLiteral("/cfg/vigilex.cfg"); }
    // The running countdown, kept so that a restart during an outage resumes it.
    static QString shutdownStatePath() { return root() + QStringLiteral("/cfg/shutdown.state"); }

    // The single-level mkdir of /data, /cfg and /log at start-up; failures are ignored.
    static void createDirectories();
};
