// Which notifications enter the program: every one of a configured card, others at a bounded rate per sender;
// and the queue towards the GUI thread, which keeps every admitted one up to a bound far above any burst.
#include "snmp/notificationgate.h"
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

// Decodes count notifications on a thread of its own, as the engine thread does; returns how many were taken.
int decodeElsewhere(int count)
{
    int taken = 0;
    QThread *thread = QThread::create([count, &taken] {
        snmp_pdu *pdu = trap(7);
        for (int i = 0; i < count; ++i)
            taken += SNMPHandler::instance()->decodeNotification(QStringLiteral("10.0.0.1"), pdu) ? 1 : 0;
        snmp_free_pdu(pdu);
    });
    thread->start();
    thread->wait();
    delete thread;
    return taken;
}
} // namespace

class TestNotificationBound : public QObject
{
    Q_OBJECT
private slots:
    void gate_data()
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<int>("count"); // sent at once
        QTest::addColumn<int>("laterMs"); // then one more after this long
        QTest::addColumn<int>("admitted"); // of the count
        QTest::addColumn<bool>("laterAdmitted");
        QTest::newRow("a card is never held back") << QStringLiteral("10.0.0.5") << 20000 << 0 << 20000 << true;
        QTest::newRow("another sender gets its burst") << QStringLiteral("10.9.9.9") << 50 << 0 << 50 << false;
        QTest::newRow("and no more") << QStringLiteral("10.9.9.9") << 5000 << 0 << 50 << false;
        QTest::newRow("then its rate") << QStringLiteral("10.9.9.9") << 5000 << 100 << 50 << true;
    }

    void gate()
    {
        QFETCH(QString, sender);
        QFETCH(int, count);
        QFETCH(int, laterMs);
        QFETCH(int, admitted);
        QFETCH(bool, laterAdmitted);
        NotificationGate *gate = NotificationGate::instance();
        gate->reset();
        gate->setCards({QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.6")});
        const qint64 t0 = 1000000;
        int n = 0;
        for (int i = 0; i < count; ++i)
            n += gate->admit(sender, t0) ? 1 : 0;
        QCOMPARE(n, admitted);
        QCOMPARE(gate->admit(sender, t0 + laterMs), laterAdmitted);
        QCOMPARE(gate->droppedCount(), quint64(count - admitted + (laterAdmitted ? 0 : 1)));
        // A flood of one sender takes nothing from another one's share.
        QVERIFY(gate->admit(QStringLiteral("10.8.8.8"), t0));
    }

    void queueKeepsEveryAdmittedNotification()
    {
        SNMPHandler *handler = SNMPHandler::instance(); // created here, in the GUI thread
        QList<int> events;
        connect(handler, &SNMPHandler::gotTrapdData, this, [&events](const QString &, int event) { events << event; });

        QCOMPARE(decodeElsewhere(5000), 5000);
        QTRY_COMPARE(events.size(), 5000);
        QCOMPARE(events.value(0), 8);

        // Only a GUI thread that takes nothing for a long time meets the bound; beyond it the newest are
        // refused (so an inform is not acknowledged) and counted.
        events.clear();
        const quint64 droppedBefore = SNMPHandler::droppedNotificationCount();
        QCOMPARE(decodeElsewhere(100005), 100000);
        QCOMPARE(SNMPHandler::droppedNotificationCount() - droppedBefore, quint64(5));
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 100000, 20000);
        QCOMPARE(decodeElsewhere(3), 3);
        QTRY_COMPARE(events.size(), 100003);

        // Decoded in the GUI thread itself, nothing queues.
        events.clear();
        snmp_pdu *pdu = trap(1);
        for (int i = 0; i < 1000; ++i)
            QVERIFY(handler->decodeNotification(QStringLiteral("10.0.0.2"), pdu));
        snmp_free_pdu(pdu);
        QCOMPARE(events.size(), 1000);
    }
};

QTEST_GUILESS_MAIN(TestNotificationBound)
#include "tst_notificationbound.moc"
