#pragma once

#include "policy/carddetails.h"
#include "policy/cardstate.h"
#include "policy/systemmessages.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include <functional>

class EventTexts;

// A stored card as a face may see it. A backend that keeps the secrets to itself hands the info with an empty
// community, user name and password and says in the flags which of them are stored.
struct StoredCard
{
    SNMPInfo info;
    bool communitySet = false;
    bool userNameSet = false;
    bool passwordSet = false;
};

struct StoredEvent
{
    qint64 date = 0; // seconds since 1970, UTC
    QString host;
    int event = 0;
};

// How a request ended: ok, or the reason in English (the backend's or the bus's words), and whether it was
// refused by the authorisation (polkit) rather than by the protection.
struct BackendReply
{
    bool ok = true;
    QString error;
    bool unauthorized = false;

    static BackendReply failure(const QString &why, bool unauthorized = false) { return {false, why, unauthorized}; }
};

// Everything the window and its dialogs need from the protection, whether it runs in this process (the window
// alone) or in the service (the window as its front end). The snapshot accessors answer at once from what the
// backend knows; every request answers later through its callback, which runs on the GUI thread only while
// context lives (a closed dialog gets no answer). No face knows which backend it has. GUI thread only.
class ProtectionBackend : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const BackendReply &reply)>;
    using SettingsDone = std::function<void(const BackendReply &reply, const QVariantMap &values)>;
    using CardsDone = std::function<void(const BackendReply &reply, const QList<StoredCard> &cards)>;
    using EventsDone = std::function<void(const BackendReply &reply, const QVector<StoredEvent> &events)>;
    using HistoryDone = std::function<void(const BackendReply &reply, const QVector<HistorySample> &samples)>;
    // How a test run of the shutdown application ended (exitStatus as QProcess::ExitStatus), or, in refusal,
    // why the application would be refused at a power failure.
    using TestDone = std::function<void(
        const BackendReply &reply, int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal)>;

    using QObject::QObject;

    // Whether the protection can be reached: always for the window alone; for a front end, while the service
    // is on the bus. Unreachable, the snapshot is the last one known and every request fails at once.
    virtual bool isReachable() const = 0;
    // Whether the protection ends with this process: the window alone protects the machine itself, while the
    // service's front end leaves the service protecting it when it quits.
    virtual bool endsWithThisProcess() const = 0;
    // The listed cards in the order of the host table, with what is known of them.
    virtual QList<CardState> cards() const = 0;
    // What is left of the running countdown (or the shutdown application's time) in ms, -1 when none runs.
    virtual qint64 countdownMs() const = 0;
    // While a due power-off is refused (and asked for again): why; empty otherwise.
    virtual SystemMessage shutdownRefusal() const = 0;
    // The event texts of the catalogue this face shows.
    virtual EventTexts *texts() const = 0;
    // What the card last reported beyond the poll (see CardDetails); an unknown or unlisted host gives a record
    // that is not known.
    virtual CardDetails details(const QString &host) const = 0;

    // Settings keys of storage/settingkeys.h. Absent keys are absent from values.
    virtual void readSettings(const QStringList &keys, QObject *context, SettingsDone done) = 0;
    // All or nothing: every value is checked first (the key's range, the shutdown application as the user
    // that would run it) and nothing is written when one is refused.
    virtual void writeSettings(const QVariantMap &values, QObject *context, Done done) = 0;

    // The stored cards, in the order of the host table.
    virtual void storedCards(QObject *context, CardsDone done) = 0;
    // A new card; refused with the reason of SNMPInfo::validate(), or when its address is stored already.
    virtual void addHost(const SNMPInfo &info, QObject *context, Done done) = 0;
    // The card stored under oldIp takes info's fields. An empty secret keeps the stored one while the address
    // stays oldIp and the version is the same.
    virtual void modifyHost(const SNMPInfo &info, const QString &oldIp, QObject *context, Done done) = 0;
    virtual void removeHost(const QString &ip, QObject *context, Done done) = 0;

    // The stored events whose time lies in from..to (seconds since 1970), newest first; what the store still
    // holds counts as stored.
    virtual void events(qint64 from, qint64 to, QObject *context, EventsDone done) = 0;
    virtual void clearEvents(QObject *context, Done done) = 0;

    // The card's samples whose minute lies in from..to (seconds since 1970), oldest first.
    virtual void history(const QString &host, qint64 from, qint64 to, QObject *context, HistoryDone done) = 0;

    // Runs the shutdown application as an outage would (as the user and with the environment it would have),
    // without waiting for it.
    virtual void testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done) = 0;

signals:
    void reachableChanged(bool reachable);
    // The listed cards changed; cards() has the new list (rows still listed keep their state).
    void hostsChanged(const QStringList &hosts);
    // An event as the protection takes it in (the service: once it is stored); at is seconds since 1970.
    void eventArrived(const QString &host, int event, qint64 at);
    void statusChanged(const QString &host, int status);
    void authenticationChanged(const QString &host, bool failed);
    void dataChanged(const QString &host, const QByteArray &data);
    // A detail read brought something new (details(host) has it).
    void detailsChanged(const CardDetails &details);
    void systemMessage(const SystemMessage &message);
    void countdownChanged(qint64 remainingMs);
    void shutdownRefusalChanged(const SystemMessage &refusal);
    void storingChanged(bool failing);
    // A settings key was written (through this backend or another face); value invalid when removed.
    void settingChanged(const QString &key, const QVariant &value);
};
