// Cards that misbehave: answers full of garbage values (strings, negative numbers, huge counters, missing
// objects, exception values) and a card that answers only after 4 s, so the library's retransmissions are
// answered late. No crash, no trouble that the card's bytes do not show, and the silence rule as it stands: a
// late answer is an answer; no answer at all, however long, is no event.
#include "../engine/enginetest.h"
#include "support/facekit.h"
#include "support/faultkit.h"

#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "storage/database.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QtTest>

using namespace FaceKit;
using namespace FaultKit;

namespace {
const QString local = QStringLiteral("127.0.0.1");
constexpr int cardPort = 16241;

struct Watched
{
    QList<int> statuses;
    QList<int> events;
    QList<QByteArray> data;
    QElapsedTimer clock;
    qint64 firstData = -1, lastData = -1, offlineAt = -1;
};

void watch(SNMP &engine, Watched &w, QObject *context)
{
    w.clock.start();
    QObject::connect(&engine, &SNMP::statusChanged, context, [&w](const QString &, int s) {
        w.statuses << s;
        if (s == 0)
            w.offlineAt = w.clock.elapsed();
    });
    QObject::connect(&engine, &SNMP::eventTriggered, context, [&w](const QString &, int e) { w.events << e; });
    QObject::connect(&engine, &SNMP::dataReady, context, [&w](const QString &, const QByteArray &d) {
        w.data << d;
        w.lastData = w.clock.elapsed();
        if (w.firstData < 0)
            w.firstData = w.lastData;
    });
}

QStringList cardArguments(const QString &values, double delay, int seconds)
{
    return {QStringLiteral("card"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(cardPort),
        QStringLiteral("--values"), values, QStringLiteral("--delay"), QString::number(delay),
        QStringLiteral("--seconds"), QString::number(seconds)};
}
} // namespace

class TestMisbehavingCard : public QObject
{
    Q_OBJECT

private slots:
    void garbageValues_data();
    void garbageValues();
    void lateAndMissingAnswers();
};

void TestMisbehavingCard::garbageValues_data()
{
    // Objects: 0 battery status, 1 input status, 2 output status, 3 battery capacity. Trouble is battery byte 3
    // or input byte other than 0; the byte is the low 8 bits of a number, the first byte of a string.
    QTest::addColumn<QString>("values");
    QTest::addColumn<bool>("trouble");
    QTest::newRow("every object missing") << R"({"0":["omit"],"1":["omit"],"2":["omit"],"3":["omit"]})" << false;
    QTest::newRow("exception values and nulls")
        << R"({"0":["nosuch"],"1":["null"],"2":["nosuch"],"3":["null"]})" << false;
    QTest::newRow("strings") << R"({"0":["str","garbage"],"1":["str",""],"2":["hex","ffff"],"3":["str","100%"]})"
                             << false;
    QTest::newRow("negative numbers") << R"({"0":["int",-1],"1":["int",-256],"2":["int",-2147483648],"3":["int",-5]})"
                                      << false;
    QTest::newRow("huge counters")
        << R"({"0":["c64",18446744073709551615],"1":["c32",4294967040],"2":["gauge",4294967295],"3":["c64",9223372036854775808]})"
        << false;
    QTest::newRow("other types")
        << R"({"0":["oid","1.3.6.1"],"1":["ip","0.0.0.0"],"2":["ticks",1],"3":["ip","1.2.3.4"]})" << false;
    // The same decoding still sees real trouble in odd clothes.
    QTest::newRow("input status -1 is a mains failure") << R"({"0":["int",2],"1":["int",-1],"3":["int",90]})" << true;
    QTest::newRow("counter 259 is battery low") << R"({"0":["c32",259],"1":["int",0],"3":["int",10]})" << true;
    QTest::newRow("string '\\x03' is battery low") << R"({"0":["hex","03"],"1":["omit"]})" << true;
}

void TestMisbehavingCard::garbageValues()
{
    QFETCH(QString, values);
    QFETCH(bool, trouble);
    ScratchApp app;
    Database::instance()->createTables();
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    Store::writeSetting(QStringLiteral("shutdown/batt_low_time"), 5);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_capacity"), 20);
    Peer card;
    QVERIFY(card.start(cardArguments(values, 0, 30)));
    QVERIFY(card.waitListening());
    Store::addSession(local, cardPort);

    SNMP engine;
    engine.addHosts(HostTable::all());
    Watched w;
    watch(engine, w, this);
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    ListWidgetItem *item = window->findHostItem(local);
    QVERIFY(item);
    // Two answers: the first one reported, the second one changing nothing.
    QTRY_VERIFY_WITH_TIMEOUT(engine.manager()->answerCount() >= 2, 6000);
    QCOMPARE(w.data.size(), 1);
    QCOMPARE(w.statuses, QList<int> {1});
    QCOMPARE(item->led()->color(), trouble ? QColor(Qt::red) : QColor(Qt::green));
    QCOMPARE(window->shutdownPolicy()->countdownActive(), trouble);
    QCOMPARE(window->shutdownPolicy()->applicationHandled(), false);
    QCOMPARE(shutdowns, 0);
    QVERIFY(Store::events().contains(qMakePair(local, 1)));
    QVERIFY(card.isRunning());
}

void TestMisbehavingCard::lateAndMissingAnswers()
{
    // Two cards watched together: one answers every request 4 s late (inside the library's retransmission
    // window), the other holds its answers beyond the run, so its requests pile up in the library unanswered.
    ScratchApp app;
    Database::instance()->createTables();
    const QString mute = QStringLiteral("127.0.0.2");
    Peer card;
    QVERIFY(card.start(
        cardArguments(QStringLiteral(R"({"0":["int",2],"1":["int",0],"2":["int",2],"3":["int",100]})"), 4.0, 40)));
    QVERIFY(card.waitListening());
    Peer silent;
    QVERIFY(
        silent.start({QStringLiteral("card"), QStringLiteral("--listen"), mute + QStringLiteral(":%1").arg(cardPort),
            QStringLiteral("--values"), QStringLiteral(R"({"0":["int",3],"1":["int",1]})"), QStringLiteral("--delay"),
            QStringLiteral("60"), QStringLiteral("--seconds"), QStringLiteral("40")}));
    QVERIFY(silent.waitListening());
    Store::addSession(local, cardPort);
    Store::addSession(mute, cardPort);
    SNMP engine;
    engine.addHosts(HostTable::all());
    Watched w;
    watch(engine, w, this);
    AnswerWatch answers(engine.manager(), &w.clock);
    QList<QString> reporting;
    connect(&engine, &SNMP::dataReady, this, [&reporting](const QString &host) { reporting << host; });
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    ListWidgetItem *item = window->findHostItem(local);
    ListWidgetItem *muteItem = window->findHostItem(mute);
    QVERIFY(item && muteItem);

    // The first answer comes 4 s after the first request, through the library's retransmission window.
    QTRY_VERIFY_WITH_TIMEOUT(w.firstData >= 0, 8000);
    QVERIFY2(w.firstData >= 3500, qPrintable(QString::number(w.firstData)));
    QCOMPARE(item->led()->color(), QColor(Qt::green));
    // Every second's request is answered 4 s late: never silent for 10 s, so never offline.
    QTest::qWait(11000);
    QCOMPARE(w.statuses, QList<int> {1});
    QCOMPARE(w.events, QList<int> {1});
    QVERIFY2(answers.count() >= 8, qPrintable(QString::number(answers.count())));
    QVERIFY(!window->shutdownPolicy()->countdownActive());
    // The mute card, 15 s on: never heard, so no status, no event, no data, no lamp.
    QVERIFY(!reporting.contains(mute));
    QCOMPARE(muteItem->led()->color(), QColor(Qt::gray));

    // Silent from now on: offline 11 to 12 s after the last answer, once.
    card.stop();
    QTRY_VERIFY_WITH_TIMEOUT(w.offlineAt >= 0, 16000);
    const qint64 silence = w.offlineAt - answers.lastAt();
    QVERIFY2(silence >= 9500 && silence <= 13500, qPrintable(QString::number(silence)));
    QCOMPARE(w.statuses, (QList<int> {1, 0}));
    QCOMPARE(w.events, (QList<int> {1, 0}));
    QCOMPARE(item->led()->color(), QColor(Qt::gray));
    QCOMPARE(Store::events(), (QList<QPair<QString, int>> {{local, 1}, {local, 0}}));
    QCOMPARE(shutdowns, 0);
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestMisbehavingCard)

#include "tst_misbehavingcard.moc"
