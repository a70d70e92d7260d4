// The engine object's life: construction without side effects, the start lines, the idle loop, many cards
// on many addresses, host changes made from a slot while a poll signals or while answers wait, and prompt
// destruction.
#include "enginetest.h"
#include "snmp/engineclock.h"
#include "snmp/snmp.h"
#include "snmp/snmplock.h"
#include "snmp/snmpmanage.h"
#include "snmp/snmptrapd.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

class TestEngineLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void constructionAloneStartsNothing();
    void startLinesAreLogged();
    void idleLoopRunsTwentyPassesASecond();
    void manyAddressesAndPromptDestruction();
    void hostRemovedFromSlotDuringPoll();
    void secondEngineSurvivesTheFirst();
    void sessionsChangeWhileAnswersArrive();

private:
    std::unique_ptr<MessageCapture> m_messages;
    std::unique_ptr<ScratchApp> m_app;
};

void TestEngineLifecycle::init()
{
    m_messages.reset(new MessageCapture);
    MessageCapture::clear();
    m_app.reset(new ScratchApp(ScratchApp::Empty));
}

void TestEngineLifecycle::cleanup()
{
    m_app.reset();
    m_messages.reset();
    EngineClock::setSource(nullptr);
}

void TestEngineLifecycle::constructionAloneStartsNothing()
{
    QElapsedTimer clock;
    clock.start();
    {
        SNMP engine;
        QVERIFY(!engine.isRunning());
        QVERIFY(!engine.manager()->isPolling());
        QCOMPARE(engine.listener()->sessionCount(), 0);
        QCOMPARE(engine.manager()->sessionCount(), 0);
        // Relays still work for window tests that drive them by hand.
        QSignalSpy events(&engine, &SNMP::eventTriggered);
        engine.handleEvent(QStringLiteral("10.0.0.1"), 6);
        QCOMPARE(events.count(), 1);
    }
    QVERIFY(clock.elapsed() < 2000);
    QVERIFY(MessageCapture::messages().isEmpty());
}

void TestEngineLifecycle::startLinesAreLogged()
{
    SNMP engine;
    engine.startService();
    QVERIFY(engine.isRunning());
    QCOMPARE(engine.listener()->sessionCount(), 2);
    QCOMPARE(MessageCapture::messages(),
        (QStringList {QStringLiteral("Start SNMP NMS service.\r\n"), QStringLiteral("Start SNMP trapd service.\r\n")}));
}

void TestEngineLifecycle::idleLoopRunsTwentyPassesASecond()
{
    SNMP engine;
    engine.startService();
    engine.manager()->stopPolling();
    QTest::qWait(200);
    const quint64 before = engine.loopPasses();
    QTest::qWait(1000);
    const quint64 passes = engine.loopPasses() - before;
    // 20 passes of a 50 ms sleep; a loaded machine oversleeps, a loop that never sleeps makes thousands.
    QVERIFY2(passes >= 10 && passes <= 22, qPrintable(QString::number(passes)));
}

void TestEngineLifecycle::manyAddressesAndPromptDestruction()
{
    constexpr int cards = 60;
    QStringList endpoints;
    for (int i = 1; i <= cards; ++i)
        endpoints << QStringLiteral("udp:127.0.2.%1:161").arg(i);
    UpsSim sim(endpoints.join(QLatin1Char(',')));
    QVERIFY2(sim.start(), qPrintable(sim.log()));

    std::atomic<qint64> now {1700000000};
    EngineClock::setSource([&now] { return now.load(); });
    auto engine = std::make_unique<SNMP>();
    QSet<QString> online;
    connect(engine.get(), &SNMP::statusChanged, this, [&](const QString &host, int status) {
        if (status == 1)
            online.insert(host);
    });
    engine->startService();
    engine->manager()->stopPolling();
    for (int i = 1; i <= cards; ++i)
        engine->addHost(v2cHost(QStringLiteral("127.0.2.%1").arg(i), 161));
    engine->manager()->pollAll();
    QTRY_COMPARE_WITH_TIMEOUT(online.size(), cards, 5000);

    // Now every card falls silent and requests pile up, with retries pending in the library.
    QVERIFY(sim.setState(QStringLiteral("silent")));
    for (int i = 0; i < 3; ++i) {
        now += 1;
        engine->manager()->pollAll();
        QTest::qWait(100);
    }
    QElapsedTimer clock;
    clock.start();
    engine.reset();
    const qint64 ms = clock.elapsed();
    // One loop pass (50 ms sleep) plus the join and the library's shutdown; waiting out the library's retries
    // would take seconds. The margin is for a loaded machine.
    QVERIFY2(ms < 500, qPrintable(QStringLiteral("destruction took %1 ms").arg(ms)));
}

void TestEngineLifecycle::hostRemovedFromSlotDuringPoll()
{
    UpsSim sim(QStringLiteral("udp:127.0.3.1:161,udp:127.0.3.2:161,udp:127.0.3.3:161"));
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    std::atomic<qint64> now {1700000000};
    EngineClock::setSource([&now] { return now.load(); });
    SNMP engine;
    engine.startService();
    engine.manager()->stopPolling();
    for (int i = 1; i <= 3; ++i)
        engine.addHost(v2cHost(QStringLiteral("127.0.3.%1").arg(i), 161));
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.manager()->pollAll();
    QTRY_COMPARE_WITH_TIMEOUT(data.count(), 3, 3000);

    // The window reacts to the first offline report by removing every host, as a settings change would.
    int offline = 0;
    connect(&engine, &SNMP::statusChanged, this, [&](const QString &, int status) {
        if (status != 0)
            return;
        ++offline;
        for (int i = 1; i <= 3; ++i)
            engine.removeHost(QStringLiteral("127.0.3.%1:161").arg(i));
    });
    QVERIFY(sim.setState(QStringLiteral("silent")));
    now += 11;
    engine.manager()->pollAll();
    // The three offline reports come in one delivery; the first one's slot removes the other two cards.
    QTRY_COMPARE_WITH_TIMEOUT(offline, 1, 3000);
    QCOMPARE(engine.manager()->sessionCount(), 0);
    QTest::qWait(300);
    QCOMPARE(offline, 1);
}

void TestEngineLifecycle::secondEngineSurvivesTheFirst()
{
    UpsSim sim(QStringLiteral("udp:127.0.4.1:161"));
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    auto first = std::make_unique<SNMP>();
    SNMP second;
    QSignalSpy data(&second, &SNMP::dataReady);
    second.startService();
    second.manager()->stopPolling();
    second.addHost(v2cHost(QStringLiteral("127.0.4.1"), 161));
    first.reset(); // must not shut the library down under the second
    second.manager()->pollAll();
    QTRY_VERIFY_WITH_TIMEOUT(data.count() >= 1, 3000);
}

// Cards removed while their answers wait in ready sockets or already read, new sessions that get the closed
// sockets' numbers: nothing is read from a closed session, no removed card reports, every new socket is watched.
void TestEngineLifecycle::sessionsChangeWhileAnswersArrive()
{
    constexpr int cards = 24;
    QStringList endpoints;
    for (int i = 1; i <= cards; ++i)
        endpoints << QStringLiteral("udp:127.0.6.%1:161").arg(i);
    UpsSim sim(endpoints.join(QLatin1Char(',')));
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    const auto host = [](int i) { return QStringLiteral("127.0.6.%1").arg(i); };
    SNMP engine;
    engine.startService();
    engine.manager()->stopPolling();
    QSet<QString> configured;
    for (int i = 1; i <= cards; ++i) {
        engine.addHost(v2cHost(host(i), 161));
        configured << host(i);
    }
    QSet<QString> reported;
    QStringList strays;
    connect(&engine, &SNMP::dataReady, this, [&](const QString &from, const QByteArray &) {
        if (!configured.contains(from))
            strays << from;
        reported << from;
    });
    engine.manager()->pollAll();
    QTRY_COMPARE_WITH_TIMEOUT(reported.size(), cards, 5000);

    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 6 && clock.elapsed() < 10000; ++round) {
        {
            // Even rounds: the engine thread waits for the lock with the answers ready in their sockets. Odd
            // rounds: it has read them, and they wait for this thread.
            std::unique_ptr<SnmpLock> hold(round % 2 ? nullptr : new SnmpLock);
            engine.manager()->pollAll();
            QThread::msleep(150);
            for (int i = 1 + round % 2; i <= cards; i += 2) {
                engine.removeHost(host(i) + QStringLiteral(":161"));
                configured.remove(host(i));
            }
            // Opened at once, these take the numbers of the sockets just closed.
            for (int i = 1 + round % 2; i <= cards; i += 4) {
                engine.addHost(v2cHost(host(i), 161));
                configured << host(i);
            }
        }
        QTest::qWait(200);
        for (int i = 1; i <= cards; ++i) {
            if (!configured.contains(host(i))) {
                engine.addHost(v2cHost(host(i), 161));
                configured << host(i);
            }
        }
        // Only changes are reported: a new state makes every card report, the kept ones as well.
        QVERIFY(sim.setState(round % 2 ? QStringLiteral("normal") : QStringLiteral("mains-failure")));
        reported.clear();
        engine.manager()->pollAll();
        QTRY_COMPARE_WITH_TIMEOUT(reported.size(), cards, 3000);
    }
    QCOMPARE(engine.manager()->sessionCount(), cards);
    QCOMPARE(strays, QStringList());
}

VIGILEX_NETNS_TEST_MAIN(TestEngineLifecycle)
#include "tst_enginelifecycle.moc"
