#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

struct snmp_session;
struct snmp_pdu;

// Turns library PDUs into the program's values. One process-wide instance, created on first use in the GUI
// thread and never destroyed. The decode methods run on the engine thread inside the library callbacks (the
// engine-wide lock is then held); the signals are emitted in the GUI thread: the notifications queued one by one,
// the poll answers in batches (only the batch waiting for the GUI thread is state).
class SNMPHandler : public QObject
{
    Q_OBJECT
public:
    static SNMPHandler *instance();

    // A poll response: emits gotSessionData(session peer, data array), whatever the PDU holds.
    void decodeResponse(snmp_session *session, snmp_pdu *pdu);
    // A trap, inform or v2 trap from host: emits gotTrapdData(host, n + 1, acknowledgement) when the PDU names
    // notification n. False when the event was dropped because the GUI thread's queue is at its bound (then an
    // inform must not be acknowledged); true otherwise, also for a PDU that names no notification.
    bool decodeNotification(const QString &host, snmp_pdu *pdu, quint64 acknowledgement = 0);
    static quint64 droppedNotificationCount();

    // The pure halves of the two decoders, for tests and fuzzing. eventOfNotification returns -1 for none;
    // fromCard says whether the sender is a configured card (which alone may send generic v1 traps).
    static QByteArray dataOfResponse(const snmp_pdu *pdu);
    static int eventOfNotification(const snmp_pdu *pdu, bool fromCard = false);

signals:
    void gotSessionData(const QString &host, const QByteArray &data);
    // acknowledgement: the listener's number of the inform's answer waiting for the event to be kept, or 0.
    void gotTrapdData(const QString &host, int trap, quint64 acknowledgement);

private:
    SNMPHandler() = default;
    // GUI thread: emits gotSessionData for every answer waiting.
    void deliverAnswers();
};
