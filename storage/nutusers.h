#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// The users of the network UPS protocol server (settings key nut/users): who may log in to follow a UPS, with
// the password, and whether they may also ask for a forced shutdown (primary) or only follow (secondary). Stored
// as one JSON array of {"name", "password", "role"} in the private settings file. Any thread.
struct NutUser
{
    QString name;
    QString password; // empty from a face that was not given it: the stored one stays
    bool primary = false;

    bool operator==(const NutUser &other) const
    {
        return name == other.name && password == other.password && primary == other.primary;
    }
};

namespace NutUsers {

inline constexpr int maxUsers = 64;
// upsd's bound on a user name or password word.
inline constexpr int maxLength = 64;

// The users the value holds; false (and the list as far as it went) when it is no such array.
bool parse(const QVariant &value, QList<NutUser> *users, QString *why = nullptr);
QString text(const QList<NutUser> &users);
// Why the value cannot be stored, in English, or empty. An empty password passes: see withStoredPasswords().
QString refusal(const QVariant &value);
// What a face that must not see them gets: every password empty.
QVariant withoutPasswords(const QVariant &value);
// An empty password takes the stored one of the same name. A user left without one after that is in *missing.
QVariant withStoredPasswords(const QVariant &value, const QVariant &stored, QString *missing = nullptr);

} // namespace NutUsers
