#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

struct snmp_pdu;

// Turns library PDUs into the program's values. One process-wide instance, created on first use in the GUI
// thread and never destroyed. The decode methods run on the engine thread inside the library callbacks (the
// engine-wide lock is then held); the notifications reach the GUI thread queued one by one.
class SNMPHandler : public QObject
{
    Q_OBJECT
public:
    static SNMPHandler *instance();

    // A trap, inform or v2 trap from host: emits gotTrapdData(host, n + 1, acknowledgement) when the PDU names
    // notification n. False when the event was dropped because the GUI thread's queue is at its bound (then an
    // inform must not be acknowledged); true otherwise, also for a PDU that names no notification.
    bool decodeNotification(const QString &host, snmp_pdu *pdu, quint64 acknowledgement = 0);
    static quint64 droppedNotificationCount();

    // The pure halves of the two decoders: the poll manager hands the data arrays on itself, tests and fuzzing
    // call both. eventOfNotification returns -1 for none;
    // fromCard says whether the sender is a configured card (which alone may send generic v1 traps).
    static QByteArray dataOfResponse(const snmp_pdu *pdu);
    static int eventOfNotification(const snmp_pdu *pdu, bool fromCard = false);

signals:
    // acknowledgement: the listener's number of the inform's answer waiting for the event to be kept, or 0.
    void gotTrapdData(const QString &host, int trap, quint64 acknowledgement);

private:
    SNMPHandler() = default;
};
