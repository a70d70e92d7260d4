#include "support/facekit.h"

#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "support/upssim.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"

#include <QTableWidget>
#include <QtTest>

using namespace FaceKit;

// The window with the real engine against a simulated card, all inside this test's own network namespace.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void cardAndTrapReachTheWindow();
};

void TestEndToEnd::cardAndTrapReachTheWindow()
{
    ScratchApp app; // the installed catalogue
    Database::instance()->createTables();
    UpsSim card(QStringLiteral("udp:127.0.0.1:16161"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(QStringLiteral("127.0.0.1"), 16161);

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    PromptRecorder prompts;

    ListWidgetItem *item = window->findHostItem(QStringLiteral("127.0.0.1"));
    QVERIFY(item);
    QCOMPARE(item->led()->color(), QColor(Qt::gray));
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(Store::events().contains(qMakePair(QStringLiteral("127.0.0.1"), 1)), 3000);
    const QString backText = EventCatalogue::find(AppPaths::cataloguePath())->text(QStringLiteral("Event_English"), 1);
    QVERIFY(!backText.isEmpty());
    QTableWidget *table = eventTable(*window);
    QVERIFY(rows(table).contains(QStringLiteral("127.0.0.1|") + backText));
    QTRY_VERIFY_WITH_TIMEOUT(item->toolTip().contains(QStringLiteral("On line")), 3000);

    QVERIFY(card.setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::red), 5000);
    QTRY_VERIFY(item->toolTip().contains(QStringLiteral("No transfer")));

    // Notification 7 arrives as event code 8.
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    const QString trapText = EventCatalogue::find(AppPaths::cataloguePath())->text(QStringLiteral("Event_English"), 8);
    QVERIFY(!trapText.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(rows(table).contains(QStringLiteral("127.0.0.1|") + trapText), 5000);
    QTRY_VERIFY(Store::events().contains(qMakePair(QStringLiteral("127.0.0.1"), 8)));
    // Without the key the warnings are on, as the settings dialog shows them: the one pop-up event is announced.
    QCOMPARE(prompts.texts(), QStringList {QStringLiteral("127.0.0.1 ") + trapText});
    QCOMPARE(shutdowns, 0);
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestEndToEnd)

#include "tst_endtoend.moc"
