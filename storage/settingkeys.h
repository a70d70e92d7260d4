#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// Every key of the settings file with its type and the range a writer may store: the store, the dialog and
// the service check against this one table. Any thread.
struct SettingKey
{
    QString name;
    QVariant::Type type;
    int minimum = 0;
    int maximum = 0;
    // 0 is stored as "condition off" besides the range.
    bool zeroIsOff = false;
    // What a stored value outside the range reads as: the dialog's default, never the value itself.
    int fallback = 0;
    // A countdown key keeps a hand-edited value: 0 or less (or no number) already reads as off, and a longer
    // countdown never shuts down sooner than asked, while a default would.
    bool policyReadsAsStored = false;
};

namespace SettingKeys {
const QVector<SettingKey> &all();
const SettingKey *find(const QString &name);
// Why value cannot be stored under name, in English, or empty; *stored gets it in the key's type.
QString refusal(const QString &name, const QVariant &value, QVariant *stored = nullptr);
// What the protection may act on: absent stays absent, a value outside the range reads as the fallback.
QVariant usable(const QString &name, const QVariant &stored);
} // namespace SettingKeys
