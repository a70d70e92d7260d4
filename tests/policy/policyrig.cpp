#include "policyrig.h"

#include "policy/systemshutdown.h"
#include "snmp/snmpinfo.h"
#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {
int leaked = 0;
}

PolicyRig::PolicyRig(qint64 minute) : minuteMs(minute), app(ScratchApp::Empty)
{
    clock.start();
    policy.setMinuteMs(minuteMs);
    policy.setStatePath(AppPaths::shutdownStatePath());
    policy.setShutdownHandler([this] {
        ++requests;
        requestTimes.append(clock.elapsed());
        if (!refusal.isEmpty())
            QTimer::singleShot(0, &policy, [this] { policy.handlePowerOffRefused(refusal); });
    });
    policy.setForcedShutdownHook([this](const QStringList &hosts) {
        raised << hosts.join(QLatin1Char(','));
        return ShutdownPolicy::ForcedShutdown {hosts.join(QLatin1Char(',')), followers};
    });
    QObject::connect(&policy, &ShutdownPolicy::message, &policy, [this](const QString &text) {
        messages.append(text);
        if (text == PolicyText::starting())
            applicationStartTime = clock.elapsed();
    });
}

void PolicyRig::set(const QString &key, const QVariant &value)
{
    writeSetting(AppPaths::settingsFilePath(), key, value);
}

void PolicyRig::remove(const QString &key)
{
    QSettings settings(AppPaths::settingsFilePath(), QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
}

void PolicyRig::conditions(int battLowTime, int acFailedTime, int acFailedCapacity)
{
    set(QStringLiteral("shutdown/batt_low_time"), battLowTime);
    set(QStringLiteral("shutdown/ac_failed_time"), acFailedTime);
    set(QStringLiteral("shutdown/ac_failed_capacity"), acFailedCapacity);
}

void PolicyRig::report(int battery, int input, int output, int capacity)
{
    QByteArray data;
    for (int value : {battery, input, output, capacity})
        data.append(char(value));
    policy.checkShutdownCondition(data);
}

void PolicyRig::run(const QStringList &steps)
{
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1Char('@'))) {
            const QString what = step.section(QLatin1Char(' '), 0, 0);
            const QString arg = step.section(QLatin1Char(' '), 1);
            if (what == QLatin1String("@followers")) {
                followers = arg.toInt();
                policy.followersLoggedIn(followers);
            } else if (what == QLatin1String("@off")) {
                policy.setForcedShutdownHook(nullptr);
            } else if (what == QLatin1String("@fsd")) {
                policy.shutdownNow(arg,
                    SystemMessage {QLatin1String(SystemMessages::forcedShutdownAsked),
                        {QStringLiteral("ups-") + arg, QStringLiteral("mon@127.0.0.2")}});
            } else if (what == QLatin1String("@requests")) {
                QCOMPARE(requests, arg.toInt());
            } else {
                QFAIL(qPrintable(QStringLiteral("no such step: ") + step));
            }
        } else if (step.startsWith(QLatin1Char('+'))) {
            QTest::qWait(int(step.mid(1).toDouble() * double(minuteMs)));
        } else if (step.startsWith(QLatin1Char('-'))) {
            m_handedOver.remove(step.mid(1));
            policy.forgetCard(step.mid(1));
        } else if (step.contains(QLatin1Char('='))) {
            set(step.section(QLatin1Char('='), 0, 0), step.section(QLatin1Char('='), 1));
        } else {
            // "card:b.i.o.c" reports for that card; "x" is a value the answer did not carry.
            const QString host = step.contains(QLatin1Char(':')) ? step.section(QLatin1Char(':'), 0, 0) : QString();
            QByteArray data;
            int known = 0;
            const QStringList bytes = step.section(QLatin1Char(':'), -1).split(QLatin1Char('.'));
            for (int i = 0; i < bytes.size(); ++i) {
                data.append(char(bytes.at(i).toInt()));
                if (bytes.at(i) != QLatin1String("x"))
                    known |= 1 << i;
            }
            if (data.size() >= 4)
                data.append(char(known));
            if (engineReports) {
                QByteArray &last = m_handedOver[host];
                const Snmp::Report kind = Snmp::reportOf(last, data);
                if (kind == Snmp::Report::Nothing)
                    continue;
                if (kind == Snmp::Report::Change)
                    last = data;
            }
            policy.checkShutdownCondition(host, data);
        }
    }
}

QString PolicyRig::script(const QString &body)
{
    return writeShutdownScript(app.path(), body);
}

QString writeShutdownScript(const QString &dir, const QString &body)
{
    QDir(dir).mkpath(QStringLiteral("my app"));
    const QString path = dir + QStringLiteral("/my app/run me.sh");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.write("\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

namespace PolicyText {
QString countdown(const char *minutes)
{
    return QStringLiteral("System will be shutdown in %1 minute(s)").arg(QLatin1String(minutes));
}
QString canceled()
{
    return QStringLiteral("System shutdown is canceled");
}
QString starting()
{
    return QStringLiteral("Start to executing shutdown application.");
}
QString invalid()
{
    return QStringLiteral("Shutdown application is invalid!");
}
QString exited()
{
    return QStringLiteral("Shutdown application exit!");
}
QString noLongerDue()
{
    return QStringLiteral(
        "The power trouble is over: the refused system shutdown is no longer due, the protection is armed again");
}
QString forcedRaised(const char *on, int seconds, int followers)
{
    return QStringLiteral("Forced shutdown raised on %1; waiting up to %2 s for %3 follower(s)")
        .arg(QLatin1String(on))
        .arg(seconds)
        .arg(followers);
}
QString followersLeft()
{
    return QStringLiteral("All followers have logged out");
}
QString followersStayed(int followers, int seconds)
{
    return QStringLiteral("%1 follower(s) still logged in after %2 s: going on").arg(followers).arg(seconds);
}
QString forcedAsked(const char *ups, const char *by)
{
    return QStringLiteral("Forced shutdown asked for %1 by %2: shutting down now")
        .arg(QLatin1String(ups), QLatin1String(by));
}
} // namespace PolicyText

void guardShutdownBackend()
{
    setShutdownBackend([] { ++leaked; });
}

int leakedShutdownRequests()
{
    return leaked;
}
