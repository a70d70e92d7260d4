#pragma once

#include <QString>

// The database and the settings file hold community strings and v3 pass phrases in plain text, so other
// accounts must not read them. Owner only, or owner and group when the directory is a shared, set-group-id
// directory (the packaged install, where one group runs the protection).
//
// In such a directory every member may also leave a link or a file of their own where the program expects
// its files, to have another member's program write through it. So the files there are never opened through
// a link, and a file that is not a plain regular file of one name, owned by this user, root or a member of
// the directory's group, is refused with a log line.
class PrivateFile
{
public:
    // Creates the file empty with the private mode when it does not exist yet; an existing file is left alone.
    // False, after a warning, when the path is there but refused (a link, no regular file, a stranger's file).
    static bool ensure(const QString &path);
    // True when the path is absent or may be used; false, after a warning, when it is refused.
    static bool check(const QString &path);
    // The same test without the warning, for reads that happen all the time.
    static bool usable(const QString &path);
    // Opens (creating it with the private mode when missing) without following a link; -1 when refused or
    // when the open fails, with the reason in *refusal when one was refused. Logs nothing, so that the log
    // handler itself can use it. The descriptor is close-on-exec.
    static int openShared(const QString &path, int flags, QString *refusal = nullptr);
    static void restrictDirectory(const QString &path);
    // 0600, or 0660 inside a set-group-id directory.
    static unsigned fileMode(const QString &path);

    // SQLite resolves a link given as the database's name, and opens its side files by name: every database
    // file the process opens goes through the same checks (a guard around SQLite's default file layer).
    // Idempotent; ensure() installs it, as the database opens through it.
    static void guardDatabaseFiles();
};
