#pragma once

#include "policy/shutdownpolicy.h"
#include "support/scratchapp.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

// One shutdown policy in a scratch application directory, with a shortened minute, its rows collected and
// its shutdown requests counted instead of made.
class PolicyRig
{
public:
    explicit PolicyRig(qint64 minuteMs);

    void set(const QString &key, const QVariant &value);
    void remove(const QString &key);
    // The three shutdown conditions: battery-low minutes, mains-failed minutes, capacity percent.
    void conditions(int battLowTime, int acFailedTime, int acFailedCapacity);
    void report(int battery, int input, int output, int capacity);

    // A step of a scripted run: "a.b.c.d" is a report ("card:a.b.c.d" from that card, "x" an unknown value), "+m"
    // waits m minutes, "key=value" saves a setting, "-card" removes the card. The followers of a forced shutdown:
    // "@followers n" is how many the next one finds logged in, or says how many are left while it waits; "@off"
    // takes the server away; "@fsd card" is a follower's forced shutdown for the card; "@requests n" checks the
    // power-off requests so far.
    void run(const QStringList &steps);
    // When set, run() passes a report on only as the engine hands answers over (Snmp::reportOf): a change, or an
    // unchanged report that shows trouble or leaves a power byte unknown.
    bool engineReports = false;

    // Writes an executable shell script into a directory whose name contains a blank; returns its path.
    QString script(const QString &body);

    qint64 minuteMs;
    ScratchApp app;
    ShutdownPolicy policy;
    QStringList messages;
    int requests = 0;
    int followers = 0;
    // The cards each forced shutdown was raised on.
    QStringList raised;
    // When set, every request is refused as logind would, a moment later.
    QString refusal;
    // Milliseconds since the rig was built, at each request and each "Start to executing" row.
    QList<qint64> requestTimes;
    qint64 applicationStartTime = -1;
    QElapsedTimer clock;

private:
    QHash<QString, QByteArray> m_handedOver; // by card, for engineReports
};

namespace PolicyText {
QString countdown(const char *minutes);
QString canceled();
QString starting();
QString invalid();
QString exited();
QString noLongerDue();
QString forcedRaised(const char *on, int seconds, int followers);
QString followersLeft();
QString followersStayed(int followers, int seconds);
QString forcedAsked(const char *ups, const char *by);
} // namespace PolicyText

// Writes an executable shell script "my app/run me.sh" below dir (a path with blanks); returns its path.
QString writeShutdownScript(const QString &dir, const QString &body);

// Fails the test when something reaches the process-wide shutdown: every request must come through a rig.
void guardShutdownBackend();
int leakedShutdownRequests();
