#include "storage/nutusers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace NutUsers {

namespace {
// upsmon sends the name and the password as one word of a request line: no blank, quote, backslash or control.
bool isWord(const QString &text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}
} // namespace

bool parse(const QVariant &value, QList<NutUser> *users, QString *why)
{
    const auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    users->clear();
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return true;
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return fail(QStringLiteral("nut/users takes a list of users"));
    const QJsonArray array = document.array();
    if (array.size() > maxUsers)
        return fail(QStringLiteral("nut/users holds at most %1 users").arg(maxUsers));
    for (const QJsonValue &entry : array) {
        const QJsonObject object = entry.toObject();
        const QString role = object.value(QStringLiteral("role")).toString();
        if (!entry.isObject() || (role != QLatin1String("primary") && role != QLatin1String("secondary")))
            return fail(QStringLiteral("nut/users: every user is primary or secondary"));
        users->append(NutUser {object.value(QStringLiteral("name")).toString(),
            object.value(QStringLiteral("password")).toString(), role == QLatin1String("primary")});
    }
    return true;
}

QString text(const QList<NutUser> &users)
{
    QJsonArray array;
    for (const NutUser &user : users)
        array.append(QJsonObject {{QStringLiteral("name"), user.name}, {QStringLiteral("password"), user.password},
            {QStringLiteral("role"), user.primary ? QStringLiteral("primary") : QStringLiteral("secondary")}});
    return users.isEmpty() ? QString() : QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString refusal(const QVariant &value)
{
    if (value.isValid() && value.type() != QVariant::String)
        return QStringLiteral("nut/users takes a list of users");
    QList<NutUser> users;
    QString why;
    if (!parse(value, &users, &why))
        return why;
    QSet<QString> names;
    for (const NutUser &user : users) {
        if (user.name.isEmpty() || user.name.size() > maxLength || !isWord(user.name))
            return QStringLiteral("nut/users: a user name is one word of 1 to %1 characters").arg(maxLength);
        if (user.password.size() > maxLength || !isWord(user.password))
            return QStringLiteral("nut/users: the password of %1 is one word of up to %2 characters")
                .arg(user.name)
                .arg(maxLength);
        if (names.contains(user.name))
            return QStringLiteral("nut/users: %1 is listed twice").arg(user.name);
        names.insert(user.name);
    }
    return QString();
}

QVariant withoutPasswords(const QVariant &value)
{
    QList<NutUser> users;
    if (!parse(value, &users))
        return QString();
    for (NutUser &user : users)
        user.password.clear();
    return text(users);
}

QVariant withStoredPasswords(const QVariant &value, const QVariant &stored, QString *missing)
{
    QList<NutUser> users;
    QList<NutUser> before;
    if (!parse(value, &users))
        return value;
    parse(stored, &before);
    for (NutUser &user : users) {
        if (!user.password.isEmpty())
            continue;
        for (const NutUser &old : before) {
            if (old.name == user.name)
                user.password = old.password;
        }
        if (user.password.isEmpty() && missing && missing->isEmpty())
            *missing = user.name;
    }
    return text(users);
}

} // namespace NutUsers
