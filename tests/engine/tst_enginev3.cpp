// SNMP v3 cards: every authentication and privacy pair, and the security level that follows from the lengths
// of the user name and the privacy pass phrase.
#include "enginetest.h"
#include "snmp/engineclock.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {
constexpr int cardPort = 16200;
const QString local = QStringLiteral("127.0.0.1");
} // namespace

class TestEngineV3 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void usmHosts_data();
    void usmHosts();
    void unknownProtocolNumbersOpenNoWorkingSession();
    void cardUnreachableAtStartIsWatchedOnceItAnswers();
    void cardsAreRekeyedAndFoundAgain();

private:
    std::unique_ptr<UpsSim> m_card;
};

void TestEngineV3::initTestCase()
{
    m_card.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1").arg(cardPort)));
    QVERIFY2(m_card->start(), qPrintable(m_card->log()));
}

void TestEngineV3::cleanupTestCase()
{
    m_card.reset();
    EngineClock::setSource(nullptr);
}

void TestEngineV3::usmHosts_data()
{
    QTest::addColumn<int>("authType");
    QTest::addColumn<int>("privType");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("expected"); // empty: the card never comes online

    const QByteArray full = dataArray({2, 0, 2, 100});
    // The agent refuses a user at a lower level than its access rule with an error response: an answer with no
    // values, which still counts as the card being there.
    const QByteArray refused = dataArray({0, 0, 0, 0}, 0);
    QTest::newRow("authPriv MD5/DES") << 0 << 0 << "md5desuser"
                                      << "despassword" << full;
    QTest::newRow("authPriv MD5/AES") << 0 << 1 << "md5aesuser"
                                      << "aespassword" << full;
    QTest::newRow("authPriv SHA/DES") << 1 << 0 << "shadesuser"
                                      << "despassword" << full;
    QTest::newRow("authPriv SHA/AES") << 1 << 1 << "shaaesuser"
                                      << "aespassword" << full;
    QTest::newRow("authNoPriv: 8-char name, empty password, MD5") << 0 << 0 << "authonly"
                                                                  << "" << full;
    QTest::newRow("authNoPriv: SHA") << 1 << 1 << "shaauth1"
                                     << "" << full;
    QTest::newRow("noAuthNoPriv: 7-char name, any password") << 0 << 0 << "noauth7"
                                                             << "longenoughpass" << full;
    QTest::newRow("noAuthNoPriv: 5-char password") << 1 << 1 << "shortpriv"
                                                   << "12345" << full;
    QTest::newRow("5-char password drops an auth user to noAuth") << 0 << 0 << "authonly"
                                                                  << "12345" << refused;
    QTest::newRow("authPriv user asked without privacy") << 0 << 0 << "md5desuser"
                                                         << "" << refused;
    QTest::newRow("wrong privacy pass phrase") << 0 << 0 << "md5desuser"
                                               << "wrongpassword" << QByteArray();
    QTest::newRow("wrong authentication protocol") << 1 << 0 << "md5desuser"
                                                   << "despassword" << QByteArray();
    QTest::newRow("wrong privacy protocol") << 0 << 1 << "md5desuser"
                                            << "despassword" << QByteArray();
    QTest::newRow("unknown user") << 0 << 0 << "nosuchuser"
                                  << "despassword" << QByteArray();
}

void TestEngineV3::usmHosts()
{
    QFETCH(int, authType);
    QFETCH(int, privType);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, expected);

    std::atomic<qint64> now {1700000000};
    EngineClock::setSource([&now] { return now.load(); });
    // The source reads this function's local: it must not outlive it.
    const auto restoreClock = qScopeGuard([] { EngineClock::setSource({}); });
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy status(&engine, &SNMP::statusChanged);
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.startService();
    engine.manager()->stopPolling();
    engine.addHost(v3Host(local, cardPort, authType, privType, user, password));
    QCOMPARE(engine.manager()->sessionCount(), 1);

    engine.manager()->pollAll();
    if (expected.isEmpty()) {
        QTest::qWait(400);
        now += 1;
        engine.manager()->pollAll();
        QTest::qWait(400);
        QCOMPARE(data.count(), 0);
        QCOMPARE(status.count(), 0);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(data.count() >= 1, 3000);
    QCOMPARE(data.first(), (QList<QVariant> {local, expected}));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first(), (QList<QVariant> {local, 1}));
}

void TestEngineV3::unknownProtocolNumbersOpenNoWorkingSession()
{
    // The dialogs never offer these; the session opens without a protocol and never gets an answer.
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.startService();
    engine.manager()->stopPolling();
    engine.addHost(v3Host(local, cardPort, 5, 0, QStringLiteral("md5desuser"), QStringLiteral("despassword")));
    engine.manager()->pollAll();
    QTest::qWait(500);
    QCOMPARE(data.count(), 0);
}

namespace {
// A v2c trap from community "public" naming notification 1.3.6.1.4.1.935.0.5 (event 6).
QByteArray upsTrap()
{
    return QByteArray::fromHex("304002010104067075626c6963a7330201010201000201003028300d0608"
                               "2b060102010103004301003017060a2b06010603010104010006092b0601040187270005");
}
} // namespace

void TestEngineV3::cardUnreachableAtStartIsWatchedOnceItAnswers()
{
    // A v3 card that is down when its session opens (the switch still booting after an outage) must neither
    // stall the program while its engine ID is sought nor drop out of the watch for the rest of the run; nor
    // may twenty v3 cards at addresses where nothing answers hold up the window, the traps or the other cards.
    constexpr int latePort = cardPort + 1;
    ScratchApp app(ScratchApp::Empty);
    // A stopped agent keeps its socket, so requests to it vanish without an ICMP answer, as on a dead link.
    UpsSim late(QStringLiteral("udp:127.0.0.1:%1").arg(latePort));
    QVERIFY2(late.start(), qPrintable(late.log()));
    QVERIFY(late.setState(QStringLiteral("silent")));
    SNMP engine;
    QSignalSpy status(&engine, &SNMP::statusChanged);
    engine.startService();
    QElapsedTimer opening;
    opening.start();
    engine.addHost(v3Host(local, latePort, 1, 1, QStringLiteral("shaaesuser"), QStringLiteral("aespassword")));
    for (int i = 0; i < 20; ++i)
        engine.addHost(v3Host(QStringLiteral("127.0.0.%1").arg(10 + i), cardPort, 1, 1, QStringLiteral("shaaesuser"),
            QStringLiteral("aespassword")));
    QVERIFY2(opening.elapsed() < 1000, qPrintable(QString::number(opening.elapsed())));
    QCOMPARE(engine.manager()->sessionCount(), 21);

    // The GUI thread keeps its pace and a trap is taken in at once, while the dead cards are asked each second. A
    // blocking engine-ID discovery would stall it for a second or more; a loaded machine may add a few hundred ms.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &ticker, [&] {
        longestGap = qMax(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(100);
    QList<qint64> trapDelays;
    qint64 sentAt = 0;
    connect(&engine, &SNMP::eventTriggered, &ticker, [&](const QString &, int event) {
        if (event == 6)
            trapDelays << clock.elapsed() - sentAt;
    });
    QUdpSocket sender;
    for (int i = 0; i < 6; ++i) {
        QTest::qWait(500);
        sentAt = clock.elapsed();
        QCOMPARE(sender.writeDatagram(upsTrap(), QHostAddress::LocalHost, 162), qint64(upsTrap().size()));
        QTRY_COMPARE_WITH_TIMEOUT(trapDelays.size(), i + 1, 2000);
    }
    QVERIFY2(longestGap < 600, qPrintable(QString::number(longestGap)));
    for (qint64 delay : qAsConst(trapDelays))
        QVERIFY2(delay < 200, qPrintable(QString::number(delay)));
    QCOMPARE(status.count(), 0);

    QVERIFY(late.setState(QStringLiteral("normal")));
    const qint64 started = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(status.count() >= 1, 12000);
    QVERIFY2(clock.elapsed() - started < 3000, qPrintable(QString::number(clock.elapsed() - started)));
    QCOMPARE(status.first(), (QList<QVariant> {local, 1}));
    QVERIFY2(longestGap < 600, qPrintable(QString::number(longestGap)));
}

void TestEngineV3::cardsAreRekeyedAndFoundAgain()
{
    // The library keeps v3 users and engine times process-wide, by engine ID: corrected credentials must replace
    // the old keys, and a card that comes back as another engine (reset, replaced) or with its boots counter
    // started again must be found anew while the program runs.
    ScratchApp app(ScratchApp::Empty);
    MessageCapture messages;
    const auto rejections = [] {
        int n = 0;
        for (const QString &m : MessageCapture::messages())
            n += m.contains(QLatin1String("rejects the credentials"));
        return n;
    };
    UpsSim reborn(QStringLiteral("udp:127.0.0.2:%1").arg(cardPort));
    UpsSim rebooted(QStringLiteral("udp:127.0.0.3:%1").arg(cardPort),
        {QStringLiteral("--engine-id"), QStringLiteral("rebootedcard")});
    QVERIFY2(reborn.start(), qPrintable(reborn.log()));
    // Two starts of the same engine: boots 2, which the reset card undercuts later.
    QVERIFY2(rebooted.start(), qPrintable(rebooted.log()));
    rebooted.stop();
    QVERIFY2(rebooted.start(), qPrintable(rebooted.log()));

    SNMP engine;
    QSignalSpy status(&engine, &SNMP::statusChanged);
    QSignalSpy auth(&engine, &SNMP::authenticationChanged);
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.startService();

    // MD5 stored for a SHA user: rejected, with one line however many polls it takes, then corrected.
    const SNMPInfo md5 = v3Host(local, cardPort, 0, 1, QStringLiteral("shaaesuser"), QStringLiteral("aespassword"));
    engine.addHost(md5);
    QTRY_COMPARE_WITH_TIMEOUT(auth.count(), 1, 5000);
    QCOMPARE(auth.first(), (QList<QVariant> {local, true}));
    QTest::qWait(2500);
    QCOMPARE(rejections(), 1);
    QCOMPARE(auth.count(), 1);
    QCOMPARE(status.count(), 0);
    const SNMPInfo sha = v3Host(local, cardPort, 1, 1, QStringLiteral("shaaesuser"), QStringLiteral("aespassword"));
    engine.modifyHost(sha, md5);
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 5000);
    QCOMPARE(status.first(), (QList<QVariant> {local, 1}));
    MessageCapture::clear();

    // Then a wrong privacy pass phrase: the working keys are not kept, and the card (which drops what it cannot
    // decrypt without a report) stays offline. Changed just after an answer, so that no answer of the old
    // session is still on its way.
    const quint64 answered = engine.manager()->answerCount();
    QTRY_VERIFY_WITH_TIMEOUT(engine.manager()->answerCount() > answered, 3000);
    const SNMPInfo wrongPriv
        = v3Host(local, cardPort, 1, 1, QStringLiteral("shaaesuser"), QStringLiteral("wrongpassword"));
    engine.modifyHost(wrongPriv, sha);
    data.clear();
    QTest::qWait(3000);
    QCOMPARE(data.count(), 0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(engine.manager()->status(wrongPriv.peer()), int(Snmp::Offline));
    engine.removeHost(wrongPriv.peer());

    // Restarted agents, back within a second, as after a firmware update: one with a new engine ID, one with its
    // old ID but the boots counter and clock reset. Each at an address of its own, which the signals carry.
    const QString rebornIp = QStringLiteral("127.0.0.2");
    const QString rebootedIp = QStringLiteral("127.0.0.3");
    const SNMPInfo rebornCard
        = v3Host(rebornIp, cardPort, 1, 1, QStringLiteral("shaaesuser"), QStringLiteral("aespassword"));
    const SNMPInfo rebootedCard
        = v3Host(rebootedIp, cardPort, 0, 0, QStringLiteral("md5desuser"), QStringLiteral("despassword"));
    QElapsedTimer clock;
    clock.start();
    QHash<QString, qint64> answeredAt;
    connect(&engine, &SNMP::dataReady, &engine,
        [&](const QString &host, const QByteArray &) { answeredAt[host] = clock.elapsed(); });
    engine.addHost(rebornCard);
    engine.addHost(rebootedCard);
    QTRY_VERIFY_WITH_TIMEOUT(answeredAt.contains(rebornIp) && answeredAt.contains(rebootedIp), 5000);

    reborn.stop();
    rebooted.stop();
    QVERIFY(QDir(rebooted.directory() + QStringLiteral("/persist")).removeRecursively());
    QTest::qWait(500);
    const qint64 rebornStart = clock.elapsed();
    QVERIFY2(reborn.start(), qPrintable(reborn.log()));
    const qint64 rebootedStart = clock.elapsed();
    QVERIFY2(rebooted.start(), qPrintable(rebooted.log()));
    // Only a change is reported: back with another capacity, each card's first answer is one.
    QVERIFY(reborn.setState(QStringLiteral("capacity"), 90));
    QVERIFY(rebooted.setState(QStringLiteral("capacity"), 90));
    QTRY_VERIFY_WITH_TIMEOUT(
        answeredAt.value(rebornIp) > rebornStart && answeredAt.value(rebootedIp) > rebootedStart, 25000);
    const qint64 rebornDelay = answeredAt.value(rebornIp) - rebornStart;
    const qint64 rebootedDelay = answeredAt.value(rebootedIp) - rebootedStart;
    qInfo("Answering again after the agent's start: new engine ID %lld ms, boots reset %lld ms", rebornDelay,
        rebootedDelay);
    QVERIFY2(rebornDelay < 20000, qPrintable(QString::number(rebornDelay)));
    QVERIFY2(rebootedDelay < 20000, qPrintable(QString::number(rebootedDelay)));
    QTRY_COMPARE_WITH_TIMEOUT(engine.manager()->status(rebornCard.peer()), int(Snmp::Online), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(engine.manager()->status(rebootedCard.peer()), int(Snmp::Online), 2000);
    QCOMPARE(rejections(), 0);
}

VIGILEX_NETNS_TEST_MAIN(TestEngineV3)
#include "tst_enginev3.moc"
