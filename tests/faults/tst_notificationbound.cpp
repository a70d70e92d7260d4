// Notifications decoded on the engine thread wait in the GUI thread's queue; the queue is bounded so that a
// flood cannot hold the poll answers (and the protection) behind it, and it opens again once drained.
#include "snmp/snmphandler.h"

#include <QThread>
#include <QtTest>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace {
snmp_pdu *trap(unsigned long number)
{
    snmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
    const oid trapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
    const oid value[] = {1, 3, 6, 1, 4, 1, 935, 0, number};
    snmp_pdu_add_variable(pdu, trapOid, OID_LENGTH(trapOid), ASN_OBJECT_ID, value, sizeof value);
    return pdu;
}

// Decodes count notifications on a thread of its own, as the engine thread does.
void decodeElsewhere(int count)
{
    QThread *thread = QThread::create([count] {
        snmp_pdu *pdu = trap(7);
        for (int i = 0; i < count; ++i)
            SNMPHandler::instance()->decodeNotification(QStringLiteral("10.0.0.1"), pdu);
        snmp_free_pdu(pdu);
    });
    thread->start();
    thread->wait();
    delete thread;
}
} // namespace

class TestNotificationBound : public QObject
{
    Q_OBJECT
private slots:
    void floodIsBoundedAndDrains()
    {
        SNMPHandler *handler = SNMPHandler::instance(); // created here, in the GUI thread
        QList<int> events;
        connect(handler, &SNMPHandler::gotTrapdData, this, [&events](const QString &, int event) { events << event; });

        decodeElsewhere(5000);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const int accepted = events.size();
        // Nothing taken yet, so the pace is the cautious initial one: a few dozen wait, the rest is dropped.
        QVERIFY2(accepted >= 32 && accepted <= 100, qPrintable(QString::number(accepted)));
        QCOMPARE(events.value(0), 8);

        // Drained: a second burst is taken again, up to the same bound.
        events.clear();
        decodeElsewhere(3);
        QTRY_COMPARE(events.size(), 3);

        // Decoded in the GUI thread itself, nothing queues: none is ever dropped.
        events.clear();
        snmp_pdu *pdu = trap(1);
        for (int i = 0; i < 1000; ++i)
            handler->decodeNotification(QStringLiteral("10.0.0.2"), pdu);
        snmp_free_pdu(pdu);
        QCOMPARE(events.size(), 1000);
    }
};

QTEST_GUILESS_MAIN(TestNotificationBound)
#include "tst_notificationbound.moc"
