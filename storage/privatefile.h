#pragma once

#include <QString>

// The database and the settings file hold community strings and v3 pass phrases in plain text, so other
// accounts must not read them. Owner only, or owner and group when the directory is a shared, set-group-id
// directory (the packaged install, where one group runs the protection).
class PrivateFile
{
public:
    // Creates the file empty with the private mode when it does not exist yet; an existing file is left alone.
    static void ensure(const QString &path);
    static void restrictDirectory(const QString &path);
    // 0600, or 0660 inside a set-group-id directory.
    static unsigned fileMode(const QString &path);
};
