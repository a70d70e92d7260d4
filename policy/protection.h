#pragma once

#include "policy/carddetails.h"
#include "policy/cardstate.h"
#include "policy/systemmessages.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class EventTexts;
class ShutdownPolicy;
class SNMP;

// The event pipeline without a face: stores every event the engine reports, keeps each card's last status,
// data and trouble, feeds the shutdown policy and follows host changes to the engine and the policy. The
// window and the headless service both show what it reports; neither does any of this itself. GUI thread
// (the main thread of either program) only.
class Protection : public QObject
{
    Q_OBJECT
public:
    explicit Protection(QObject *parent = nullptr);
    ~Protection() override;

    void setEngine(SNMP *engine);
    SNMP *engine() const;
    ShutdownPolicy *policy() const;
    EventTexts *texts() const;

    // The listed cards in the order of the host table, read once at construction and kept up by the host
    // changes below.
    QStringList hosts() const;
    CardState card(const QString &host) const;
    // What the card last reported beyond the poll; a record that is not known for an unlisted host or one that
    // has not answered a detail read yet. Kept, like the card's state, while its address stays listed.
    CardDetails details(const QString &host) const;

    // A host the caller has already written to the host table; the engine starts polling it.
    void addHost(const SNMPInfo &info);
    void modifyHost(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
    void removeHost(const QString &peer);

public slots:
    void handleSNMPEvent(const QString &host, int event);
    void handleSNMPStatus(const QString &host, int status);
    void handleSNMPData(const QString &host, const QByteArray &data);
    // A card in trouble answered with the data it reported before: the policy's rules that act on every report
    // see it; nothing else changed.
    void handleSNMPConfirmation(const QString &host, const QByteArray &data);
    void handleAuthentication(const QString &host, bool failed);
    void handleDetails(const CardDetails &details);
    // A network UPS server that is followed set FSD: this machine goes down now, whatever the countdown.
    void handleForcedShutdown(const QString &host, const QString &ups);

signals:
    // An event, already handed to the store; at is seconds since 1970.
    void eventArrived(const QString &host, int event, qint64 at);
    // An event once the store has committed it (informs are acknowledged only then, traps are kept in memory
    // while storing fails and come here when written).
    void eventStored(const QString &host, int event, qint64 at);
    void statusChanged(const QString &host, int status);
    void dataReady(const QString &host, const QByteArray &data);
    // The engine's word that a v3 card turns the credentials down (true) or answers again (false).
    void authenticationChanged(const QString &host, bool failed);
    // A listed card's details changed (details(host) has them).
    void detailsChanged(const CardDetails &details);
    // The policy's rows for the "System" object.
    void systemMessage(const SystemMessage &message);
    void storingFailed();
    void storingRecovered();
    void hostsChanged();

private:
    void storeEvent(const QString &host, int event);
    void forgetIfUnlisted(const QString &host);

    struct Private;
    std::unique_ptr<Private> d;
};
