#pragma once

#include "policy/carddetails.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

struct snmp_session;
struct snmp_pdu;

// One library session per monitored card, the once-a-second poll round and the online/offline rule. The rounds
// run on the engine thread (runDue), which also takes every answer in; the GUI thread is handed only what
// changed, a round's changes in one queued delivery, and the signals are emitted there. Sessions are opened and
// closed on the GUI thread (the object's own). The state is guarded by the library lock. Beside the poll, each
// card's details are read on a slower schedule (see DetailReader) through the same session, in requests of their
// own, and handed over with a round's changes.
class SNMPManage : public QObject
{
    Q_OBJECT
public:
    explicit SNMPManage(QObject *parent = nullptr);
    ~SNMPManage() override;

    // Rounds once a second from a second after the call, on the engine thread.
    void startPolling();
    void stopPolling();
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
    // Answers taken in so far, changed or not; any thread. No signal tells of an answer that changed nothing.
    quint64 answerCount() const;

    // Engine thread, once per pass of its loop: starts the round when it is due, sends the next slice of a
    // running burst and the requests to v3 cards just discovered, and hands the round's changes over once its
    // answers are in. Returns how long the loop may wait before the next call, in ms.
    qint64 runDue();

    // A v3 session's security settings from the card's, keys included; library lock held. The card query
    // sets up its one-off session the same way.
    static void configureUsm(snmp_session *session, const SNMPInfo &info);

signals:
    void eventTriggered(const QString &host, int event);
    void statusChanged(const QString &host, int state);
    // The card's data differs from what it reported before (or it is the first report since it came online).
    void dataReady(const QString &host, const QByteArray &data);
    // The card answered with the data it reported before, and that data shows power trouble or leaves a power
    // byte unknown: for the policy's rules that act on every report, once per answer (see Snmp::reportOf).
    void dataConfirmed(const QString &host, const QByteArray &data);
    // A v3 card turned our credentials down (true), or answers again after it had (false).
    void authenticationChanged(const QString &host, bool failed);
    // A detail read brought something new (or the card's first details); answeredAtMs is when that answer came.
    // Answers that repeat what was handed over stay on the engine thread.
    void detailsChanged(const CardDetails &details);

public slots:
    // One round at once on the calling thread: the first slice of the burst and the silence rule; the engine
    // thread sends the rest and hands the changes over. Public so that tests can drive the silence rule with a
    // fake clock.
    void pollAll();

private:
    void buildRequest();
    void sendBurstSlice();
    void sendDiscovered();
    void handOverIfDue(qint64 nowMs);
    qint64 nextDueMs(qint64 nowMs) const;
    // GUI thread: emits the changes handed over.
    void deliverChanges();
    // The library's callback for every session, on the engine thread inside its read (or on whichever thread
    // closes a session), with the library lock held; and what it hands on.
    static int onResponse(int operation, snmp_session *session, int requestId, snmp_pdu *pdu, void *magic);
    void takeAnswer(const snmp_session *session, const QByteArray &data);
    // A report of the card's security layer, or a time-out (report: the library's error code for its kind,
    // see snmpv3_get_report_type).
    void takeReport(const snmp_session *session, int report);
    // The answer to an engine-ID probe: the card is asked at once rather than a second later.
    void takeDiscovery(const snmp_session *session);
    // The detail reads that are due, and an answer to one.
    void sendDetails(qint64 nowMs);
    void takeDetails(const snmp_session *session, const snmp_pdu *pdu);

    struct Private;
    std::unique_ptr<Private> d;
};
