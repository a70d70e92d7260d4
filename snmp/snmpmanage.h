#pragma once

#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

struct snmp_session;

// One library session per monitored card, the once-a-second GET to each, and the online/offline rule.
// Lives in the GUI thread, and so does all of its state; only the library's response callback runs on the
// engine thread, and it just hands the PDU to the decoder.
class SNMPManage : public QObject
{
    Q_OBJECT
public:
    explicit SNMPManage(QObject *parent = nullptr);
    ~SNMPManage() override;

    void startPolling();
    void stopPolling();
    void loadHosts();
    void addSession(const SNMPInfo &info);
    void removeSession(const QString &peer);

    // The library's shutdown has closed the sessions: drop the handles without touching them.
    void forgetSessions();
    // Close every session with the library (when another engine keeps the library alive).
    void closeSessions();

    // For tests and the benchmark.
    int sessionCount() const;
    // The peers (address:port) of every open session; the trap listener tells cards from other senders by them.
    QStringList peers() const;
    int status(const QString &peer) const; // -1 when the peer is unknown
    bool isPolling() const;

signals:
    void eventTriggered(const QString &host, int event);
    void statusChanged(const QString &host, int state);
    void dataReady(const QString &host, const QByteArray &data);
    // A v3 card turned our credentials down (true), or answers again after it had (false).
    void authenticationChanged(const QString &host, bool failed);

public slots:
    void onGotSessionData(const QString &host, const QByteArray &data);
    // The poll timer's slot; public so that tests can drive the silence rule with a fake clock.
    void pollAll();
    // One request outside the schedule to a v3 card whose engine ID has just become known.
    void pollDiscovered(const QString &peer);
    // A v3 card answered a request of the session numbered serial with a report of the security layer
    // (report: the library's error code for its kind, see snmpv3_get_report_type).
    void handleReport(quint64 serial, int report);

private:
    void buildRequest();
    void sendBurstSlice();
    bool checkTimeout(qint64 now, const QString &peer);
    static void configureUsm(snmp_session *session, const SNMPInfo &info);

    struct Private;
    std::unique_ptr<Private> d;
};
