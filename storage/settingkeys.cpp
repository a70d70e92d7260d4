#include "storage/settingkeys.h"

#include "storage/nutusers.h"

#include <QDebug>
#include <QHash>
#include <QHostAddress>

#include <mutex>

namespace {
SettingKey key(const char *name, QVariant::Type type, int minimum = 0, int maximum = 0, bool zeroIsOff = false,
    int fallback = 0, bool asStored = false)
{
    return SettingKey {QLatin1String(name), type, minimum, maximum, zeroIsOff, fallback, asStored,
        type == QVariant::Int ? QVariant(fallback) : QVariant()};
}

SettingKey withDefault(SettingKey key, const QVariant &value)
{
    key.byDefault = value;
    return key;
}
} // namespace

const QVector<SettingKey> &SettingKeys::all()
{
    static const QVector<SettingKey> keys {
        key(language, QVariant::Int, 0, 1, false, 0),
        withDefault(key(popWarning, QVariant::Bool), true),
        withDefault(key(desktopNotify, QVariant::Bool), true),
        withDefault(key(applicationEnabled, QVariant::Bool), false),
        withDefault(key(application, QVariant::String), QString()),
        key(applicationTime, QVariant::Int, 1, 90, false, 15),
        key(acFailedTime, QVariant::Int, 1, 9999, true, 5, true),
        key(batteryLowTime, QVariant::Int, 1, 9999, true, 5, true),
        key(acFailedCapacity, QVariant::Int, 1, 100, true, 20),
        withDefault(key(nutEnabled, QVariant::Bool), false),
        withDefault(key(nutAddress, QVariant::String), QStringLiteral("127.0.0.1")),
        key(nutPort, QVariant::Int, 1, 65535, false, 3493),
        key(nutFsdWait, QVariant::Int, 0, 300, false, 15),
        withDefault(key(nutUsers, QVariant::String), QString()),
    };
    return keys;
}

bool SettingKeys::isApplicationKey(const QString &name)
{
    return name == QLatin1String(application) || name == QLatin1String(applicationEnabled);
}

bool SettingKeys::isServerKey(const QString &name)
{
    return name.startsWith(QLatin1String("nut/"));
}

QVariant SettingKeys::defaultValue(const QString &name)
{
    const SettingKey *k = find(name);
    return k ? k->byDefault : QVariant();
}

const SettingKey *SettingKeys::find(const QString &name)
{
    for (const SettingKey &k : all()) {
        if (k.name == name)
            return &k;
    }
    return nullptr;
}

QString SettingKeys::refusal(const QString &name, const QVariant &value, QVariant *stored)
{
    const SettingKey *k = find(name);
    if (!k)
        return QStringLiteral("no such settings key: ") + name;
    QVariant converted = value;
    if (k->type == QVariant::Int) {
        bool ok = false;
        // Text as the file and the bus carry it; an empty field is no number, never 0.
        const int number
            = value.type() == QVariant::String ? value.toString().trimmed().toInt(&ok, 10) : value.toInt(&ok);
        const bool wholeNumber = ok && (value.type() != QVariant::Double || value.toDouble() == number);
        if (!wholeNumber)
            return QStringLiteral("%1 is no whole number").arg(name);
        if ((number < k->minimum || number > k->maximum) && !(k->zeroIsOff && number == 0))
            return QStringLiteral("%1 must lie from %2 to %3%4")
                .arg(name)
                .arg(k->minimum)
                .arg(k->maximum)
                .arg(k->zeroIsOff ? QStringLiteral(", or 0 for off") : QString());
        converted = number;
    } else if (k->type == QVariant::Bool) {
        const QString text = value.toString();
        if (value.type() != QVariant::Bool && text != QLatin1String("true") && text != QLatin1String("false"))
            return QStringLiteral("%1 takes true or false").arg(name);
        converted = value.toBool();
    } else if (name == QLatin1String(nutUsers)) {
        const QString why = NutUsers::refusal(value);
        if (!why.isEmpty())
            return why;
        converted = value.toString().trimmed();
    } else if (name == QLatin1String(nutAddress)) {
        if (value.type() != QVariant::String || QHostAddress(value.toString().trimmed()).isNull())
            return QStringLiteral("%1 takes an IP address").arg(name);
        converted = value.toString().trimmed();
    } else {
        if (value.type() != QVariant::String)
            return QStringLiteral("%1 takes a path").arg(name);
    }
    if (stored)
        *stored = converted;
    return QString();
}

QVariant SettingKeys::usable(const QString &name, const QVariant &stored)
{
    const SettingKey *k = find(name);
    if (!k || !stored.isValid() || k->type != QVariant::Int || k->policyReadsAsStored)
        return stored;
    QVariant value;
    const QString why = refusal(name, stored, &value);
    if (why.isEmpty())
        return value;
    // Read at every report: one warning per stored value, not one per second.
    static std::mutex mutex;
    static QHash<QString, QString> warned;
    {
        std::lock_guard<std::mutex> lock(mutex);
        QString &last = warned[name];
        if (last != stored.toString()) {
            last = stored.toString();
            qWarning().noquote() << "Settings:" << why << "- read as" << k->fallback;
        }
    }
    return k->fallback;
}
