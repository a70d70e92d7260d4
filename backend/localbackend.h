#pragma once

#include "backend/protectionbackend.h"

#include <memory>

class Protection;
class SNMP;

// The protection in this process: the window alone has one, and the service's bus adaptor is a layer over one.
// It owns the Protection and goes through the host table, the settings store and the event log; each change is
// checked here, once, for both. The "...Now" operations do a change at once and say how it went: the service
// calls them once polkit allowed the caller, the interface's requests call them and answer through the event
// loop, as every backend does. GUI thread only.
class LocalBackend : public ProtectionBackend
{
    Q_OBJECT
public:
    explicit LocalBackend(QObject *parent = nullptr);
    ~LocalBackend() override;

    Protection *protection() const;
    void setEngine(SNMP *engine);

    bool isReachable() const override;
    bool endsWithThisProcess() const override { return true; }
    QList<CardState> cards() const override;
    qint64 countdownMs() const override;
    SystemMessage shutdownRefusal() const override;
    EventTexts *texts() const override;
    CardDetails details(const QString &host) const override;

    void readSettings(const QStringList &keys, QObject *context, SettingsDone done) override;
    void writeSettings(const QVariantMap &values, QObject *context, Done done) override;
    void storedCards(QObject *context, CardsDone done) override;
    void addHost(const SNMPInfo &info, QObject *context, Done done) override;
    void modifyHost(const SNMPInfo &info, const QString &oldIp, QObject *context, Done done) override;
    void removeHost(const QString &ip, QObject *context, Done done) override;
    void events(qint64 from, qint64 to, QObject *context, EventsDone done) override;
    void clearEvents(QObject *context, Done done) override;
    void history(const QString &host, qint64 from, qint64 to, QObject *context, HistoryDone done) override;
    void testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done) override;

    // Why values cannot be written (a key's range, the shutdown application as this process's user would run
    // it), or empty. writeSettingsNow() checks the same before it writes.
    static QString settingsRefusal(const QVariantMap &values);
    QVariantMap readSettingsNow(const QStringList &keys) const;
    BackendReply writeSettingsNow(const QVariantMap &values);
    // The stored cards with their secrets; only this process may see them.
    QList<StoredCard> storedCardsNow() const;
    bool storedCardNow(const QString &ip, StoredCard *card) const;
    // Why a card cannot be added or changed as given, before anything is looked up (for a caller that wants to
    // refuse bad arguments before it asks polkit), or empty.
    static QString hostRefusal(const SNMPInfo &info, const QString &oldIp = QString());
    BackendReply addHostNow(const SNMPInfo &info);
    BackendReply modifyHostNow(const SNMPInfo &info, const QString &oldIp);
    BackendReply removeHostNow(const QString &ip);
    // Only once the event store has written what it holds: see events().
    BackendReply eventsNow(qint64 from, qint64 to, QVector<StoredEvent> *events) const;
    BackendReply clearEventsNow();
    // Only once the event store has written what it holds, as eventsNow().
    BackendReply historyNow(const QString &host, qint64 from, qint64 to, QVector<HistorySample> *samples) const;
    // How long a reader or the clearing waits for the store to commit what it holds.
    static constexpr int flushBoundMs = 2000;

private:
    void follow();
    void sampleMinute();

    struct Private;
    std::unique_ptr<Private> d;
};
