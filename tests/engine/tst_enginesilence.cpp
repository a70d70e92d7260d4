// The silence rule in real time, with the engine's own rounds and the real clock: a card that answers every
// second and then falls silent is reported offline once, 11 to 12 seconds after its last answer. The rounds go
// on while the GUI thread is busy, and what changed meanwhile reaches it in one delivery.
#include "enginetest.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestEngineSilence : public QObject
{
    Q_OBJECT

private slots:
    void silentCardGoesOfflineOnceAfterElevenSeconds();
    void roundsGoOnWhileTheGuiThreadIsBusy();
};

void TestEngineSilence::silentCardGoesOfflineOnceAfterElevenSeconds()
{
    UpsSim card(QStringLiteral("udp:127.0.0.1:16150"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy status(&engine, &SNMP::statusChanged);
    QSignalSpy events(&engine, &SNMP::eventTriggered);
    QElapsedTimer clock;
    clock.start();
    int reports = 0;
    connect(&engine, &SNMP::dataReady, this, [&](const QString &host, const QByteArray &data) {
        QCOMPARE(host, QStringLiteral("127.0.0.1"));
        QCOMPARE(data, dataArray({2, 0, 2, 100}));
        ++reports;
    });
    engine.addHost(v2cHost(QStringLiteral("127.0.0.1"), 16150));
    AnswerWatch answers(engine.manager(), &clock);
    engine.startService();

    // Answers once a second, and only the first one changes anything.
    QTRY_VERIFY_WITH_TIMEOUT(answers.count() >= 3, 5000);
    QVERIFY2(answers.count() <= 4, qPrintable(QString::number(answers.count())));
    QCOMPARE(reports, 1);
    QCOMPARE(status.count(), 1);
    QCOMPARE(events.count(), 1);

    QVERIFY(card.setState(QStringLiteral("silent")));
    const quint64 answersWhenSilenced = answers.count();
    QTRY_VERIFY_WITH_TIMEOUT(status.count() == 2, 15000);
    const qint64 offlineMs = clock.elapsed();
    QVERIFY(answers.count() <= answersWhenSilenced + 1); // one answer may have been on its way
    const double gap = (offlineMs - answers.lastAt()) / 1000.0;
    // The rule counts whole seconds of the monotonic clock: an answer that lands just past a second's turn while
    // the polls tick just before it is followed by the offline report a little over 10 s later.
    QVERIFY2(gap > 10.0 && gap <= 12.5, qPrintable(QStringLiteral("offline %1 s after the last answer").arg(gap)));
    QCOMPARE(status.last(), (QList<QVariant> {QStringLiteral("127.0.0.1"), 0}));
    QCOMPARE(events.count(), 2);
    QCOMPARE(events.last(), (QList<QVariant> {QStringLiteral("127.0.0.1"), 0}));

    // Nothing more while it stays silent.
    QTest::qWait(2500);
    QCOMPARE(status.count(), 2);
    QCOMPARE(events.count(), 2);
}

// The GUI thread serves no event for 4 s while its card fails: the engine thread polls on, and what changed
// meanwhile (the failure, then its confirmations) waits in one delivery, not one per round.
void TestEngineSilence::roundsGoOnWhileTheGuiThreadIsBusy()
{
    UpsSim card(QStringLiteral("udp:127.0.0.1:16151"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy status(&engine, &SNMP::statusChanged);
    engine.addHost(v2cHost(QStringLiteral("127.0.0.1"), 16151));
    DeliveryCount deliveries(engine.manager());
    // Which delivery each report came in.
    QList<int> dataIn, confirmedIn;
    QList<QByteArray> reported;
    connect(&engine, &SNMP::dataReady, this, [&](const QString &, const QByteArray &data) {
        dataIn << deliveries.count();
        reported << data;
    });
    connect(&engine, &SNMP::dataConfirmed, this, [&] { confirmedIn << deliveries.count(); });
    engine.startService();
    QTRY_COMPARE_WITH_TIMEOUT(dataIn.size(), 1, 5000);

    QProcess failure;
    failure.start(QStringLiteral("python3"),
        {UpsSim::script(), QStringLiteral("state"), card.directory(), QStringLiteral("mains-failure")});
    QVERIFY(failure.waitForStarted(5000));
    const int before = deliveries.count();
    const quint64 answered = engine.manager()->answerCount();
    QThread::msleep(4000);
    const quint64 during = engine.manager()->answerCount() - answered;
    QVERIFY2(during >= 3, qPrintable(QString::number(during)));

    QVERIFY(failure.waitForFinished(10000) && failure.exitCode() == 0);
    QTRY_COMPARE_WITH_TIMEOUT(dataIn.size(), 2, 3000);
    QCOMPARE(reported.last(), dataArray({2, 1, 3, 100}));
    QCOMPARE(dataIn.last(), before + 1);
    // The rounds after the failure while the thread slept: confirmed in that same delivery.
    QVERIFY2(confirmedIn.count(before + 1) >= 1, qPrintable(QString::number(confirmedIn.count(before + 1))));
    QCOMPARE(status.count(), 1);
}

VIGILEX_NETNS_TEST_MAIN(TestEngineSilence)
#include "tst_enginesilence.moc"
