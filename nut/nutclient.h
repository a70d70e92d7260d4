#pragma once

#include "policy/carddetails.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QTimer;

// Follows UPSes on servers of the network UPS protocol (Network UPS Tools' upsd, or another Vigilex) as the SNMP
// manager follows cards: a poll once a second of ups.status, battery.charge and battery.runtime, turned into the
// same data array, status, events and details, under the same silence rule. With a user given it logs in, so
// that the server counts this machine among the UPS's followers. FSD in the status is the server's word that
// every follower goes down now. One non-blocking socket per server; nothing here waits. GUI thread only.
class NutClient : public QObject
{
    Q_OBJECT
public:
    // Reconnection waits double from the first to the last.
    static constexpr int firstRetryMs = 1000;
    static constexpr int lastRetryMs = 30000;

    explicit NutClient(QObject *parent = nullptr);
    ~NutClient() override;

    void startPolling();
    void stopPolling();
    void addHost(const SNMPInfo &info);
    // Known by address, colon, port.
    void removeHost(const QString &peer);

    QStringList peers() const;
    int status(const QString &peer) const; // -1 when the peer is unknown
    bool isLoggedIn(const QString &peer) const;
    // Rounds the server answered with a status so far; for tests.
    quint64 answerCount(const QString &peer) const;

    // The status flags, charge and runtime (seconds) as a data array (see Snmp::knownMask); a value that is
    // missing or not a number leaves its bits clear.
    static QByteArray dataOf(const QStringList &flags, const QString &charge);

signals:
    void eventTriggered(const QString &host, int event);
    void statusChanged(const QString &host, int status);
    void dataReady(const QString &host, const QByteArray &data);
    void dataConfirmed(const QString &host, const QByteArray &data);
    void detailsChanged(const CardDetails &details);
    // The server set FSD on the UPS (ups@address:port); once per time it appears.
    void forcedShutdown(const QString &host, const QString &ups);

public slots:
    // One round at once: the silence rule, reconnection when due, the next requests. Public for tests.
    void pollAll();

private:
    struct Follow;
    void connectNow(Follow *f);
    void readFrom(Follow *f);
    void takeLine(Follow *f, const QByteArray &line);
    void finishRound(Follow *f);
    void lost(Follow *f);

    QTimer *m_timer;
    std::vector<std::unique_ptr<Follow>> m_follows;
};
