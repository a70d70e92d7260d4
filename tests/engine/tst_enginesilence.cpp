// The silence rule in real time, with the real poll timer and the real clock: a card that answers every
// second and then falls silent is reported offline once, 11 to 12 seconds after its last answer.
#include "enginetest.h"
#include "snmp/snmp.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

class TestEngineSilence : public QObject
{
    Q_OBJECT

private slots:
    void silentCardGoesOfflineOnceAfterElevenSeconds();
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
    qint64 lastAnswerMs = -1;
    int answers = 0;
    connect(&engine, &SNMP::dataReady, this, [&](const QString &host, const QByteArray &data) {
        QCOMPARE(host, QStringLiteral("127.0.0.1"));
        QCOMPARE(data, dataArray({2, 0, 2, 100}));
        lastAnswerMs = clock.elapsed();
        ++answers;
    });
    engine.addHost(v2cHost(QStringLiteral("127.0.0.1"), 16150));
    engine.startService();

    // Answers once a second, and only the first one changes anything.
    QTRY_VERIFY_WITH_TIMEOUT(answers >= 3, 5000);
    QVERIFY2(answers <= 4, qPrintable(QString::number(answers)));
    QCOMPARE(status.count(), 1);
    QCOMPARE(events.count(), 1);

    QVERIFY(card.setState(QStringLiteral("silent")));
    const int answersWhenSilenced = answers;
    QTRY_VERIFY_WITH_TIMEOUT(status.count() == 2, 15000);
    const qint64 offlineMs = clock.elapsed();
    QVERIFY(answers <= answersWhenSilenced + 1); // one answer may have been on its way
    const double gap = (offlineMs - lastAnswerMs) / 1000.0;
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

VIGILEX_NETNS_TEST_MAIN(TestEngineSilence)
#include "tst_enginesilence.moc"
