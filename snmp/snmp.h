#pragma once

#include "policy/carddetails.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <memory>

class NutClient;
class SNMPManage;
class SNMPTrapd;

// The engine the window sees. The object lives in the GUI thread; only run() executes on the engine thread,
// where it drives the poll rounds and the SNMP library's receive cycle. Hosts that are network UPS servers go
// to the protocol's client (on the GUI thread, its sockets never wait) and never get an SNMP session.
class SNMP : public QThread
{
    Q_OBJECT
public:
    explicit SNMP(QObject *parent = nullptr);
    ~SNMP() override;

    // Polling and the trap listener start; the cards are those added before (addHosts) and after.
    void startService();
    // The cards to watch, from the caller's store (the engine reads none itself). Before the protection is set on
    // the engine: opening v3 sessions makes their keys, which takes a while with many cards.
    void addHosts(const QList<SNMPInfo> &infos);
    void addHost(const SNMPInfo &info);
    void modifyHost(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
    void removeHost(const QString &peer);

    // For tests and the benchmark: the parts the engine owns, and the number of loop passes so far.
    SNMPManage *manager() const;
    NutClient *upsClient() const;
    SNMPTrapd *listener() const;
    quint64 loopPasses() const;

signals:
    void eventTriggered(const QString &host, int event);
    void statusChanged(const QString &host, int status);
    // A card's data changed; and, for the policy alone, a card that reports power trouble confirmed it again
    // (see SNMPManage).
    void dataReady(const QString &host, const QByteArray &data);
    void dataConfirmed(const QString &host, const QByteArray &data);
    // A v3 card turned the credentials down (true), or answers again (false).
    void authenticationChanged(const QString &host, bool failed);
    // What a card reports beyond the poll, read on a slower schedule (see SNMPManage).
    void detailsChanged(const CardDetails &details);
    // A network UPS server ordered its followers down at once (FSD).
    void forcedShutdown(const QString &host, const QString &ups);

public slots:
    void handleEvent(const QString &host, int event);
    void handleStatus(const QString &host, int status);
    void onDataReady(const QString &host, const QByteArray &data);

protected:
    void run() override;

private:
    // Tells the notification gate which senders are configured cards.
    void updateCards();

    struct Private;
    std::unique_ptr<Private> d;
};
