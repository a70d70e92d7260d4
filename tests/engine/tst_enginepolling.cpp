// Polling against a real agent: online detection, the data array, host changes, the silence rule driven with a
// replaceable clock so that it runs in a moment, the retransmission schedule, bursts sent in slices, and what of
// a round reaches the GUI thread: only changes and the confirmations of trouble, in one delivery.
#include "enginetest.h"
#include "snmp/engineclock.h"
#include "snmp/snmp.h"
#include "snmp/snmplock.h"
#include "snmp/snmpmanage.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {
const QString local = QStringLiteral("127.0.0.1");
constexpr int cardPort = 16100;
constexpr int partialPort = 16101;
constexpr int twinPortA = 16102;
constexpr int twinPortB = 16103;
constexpr int deadPort = 16199;
} // namespace

class TestEnginePolling : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cardComesOnlineWithData_data();
    void cardComesOnlineWithData();
    void wrongCommunityNeverComesOnline();
    void missingObjectsLeaveZeroBytes();
    void hostsOfTheTableAreWatched();
    void modifyHostResetsToOffline();
    void twoPortsOnOneAddress();
    void removeHost();
    void silenceRule_data();
    void silenceRule();
    void cardThatNeverAnsweredStaysQuiet();
    void offlineCardComesBack();
    void lateAnswerToRetransmissionCounts();
    void retransmissionsKeepTheirSecond();
    void burstAsksEachCardOnceWhileCardsChange();
    void onlyChangesAndTroubleAreHandedOver_data();
    void onlyChangesAndTroubleAreHandedOver();
    void roundIsHandedOverInOneDelivery();

private:
    void makeEngine(bool start = true);
    // Drives the poll by hand at the fake clock's time and waits until the answers are in.
    void pollAt(qint64 seconds, int expectedData = -1);

    std::unique_ptr<UpsSim> m_card;
    std::unique_ptr<UpsSim> m_partial;
    std::unique_ptr<UpsSim> m_twins;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<SNMP> m_engine;
    std::unique_ptr<QSignalSpy> m_status, m_events, m_data, m_confirmed;
    // Read by the engine thread at every answer.
    std::atomic<qint64> m_now {0};
    bool m_cardTouched = true;
};

void TestEnginePolling::initTestCase()
{
    m_card.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1").arg(cardPort)));
    m_partial.reset(new UpsSim(
        QStringLiteral("udp:127.0.0.1:%1").arg(partialPort), {QStringLiteral("--omit"), QStringLiteral("1,2")}));
    m_twins.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1,udp:127.0.0.1:%2").arg(twinPortA).arg(twinPortB)));
    QVERIFY2(m_card->start(), qPrintable(m_card->log()));
    QVERIFY2(m_partial->start(), qPrintable(m_partial->log()));
    QVERIFY2(m_twins->start(), qPrintable(m_twins->log()));
}

void TestEnginePolling::init()
{
    m_now = 1700000000;
    EngineClock::setSource([this] { return m_now.load(); });
    m_app.reset(new ScratchApp(ScratchApp::Empty));
    if (m_cardTouched)
        QVERIFY(m_card->setState(QStringLiteral("normal")));
    m_cardTouched = false;
}

void TestEnginePolling::cleanup()
{
    m_status.reset();
    m_events.reset();
    m_data.reset();
    m_confirmed.reset();
    m_engine.reset();
    m_app.reset();
    EngineClock::setSource(nullptr);
}

void TestEnginePolling::makeEngine(bool start)
{
    m_engine.reset(new SNMP);
    m_status.reset(new QSignalSpy(m_engine.get(), &SNMP::statusChanged));
    m_events.reset(new QSignalSpy(m_engine.get(), &SNMP::eventTriggered));
    m_data.reset(new QSignalSpy(m_engine.get(), &SNMP::dataReady));
    m_confirmed.reset(new QSignalSpy(m_engine.get(), &SNMP::dataConfirmed));
    if (start) {
        m_engine->startService();
        // The tests drive the poll themselves.
        m_engine->manager()->stopPolling();
    }
}

void TestEnginePolling::pollAt(qint64 seconds, int expectedData)
{
    m_now = seconds;
    const int before = m_data->count();
    m_engine->manager()->pollAll();
    if (expectedData < 0) {
        // Loopback answers come within one engine loop pass (50 ms); allow a few.
        QTest::qWait(150);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_data->count() - before, expectedData, 3000);
}

void TestEnginePolling::cardComesOnlineWithData_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("normal") << "normal" << -1 << dataArray({2, 0, 2, 100});
    QTest::newRow("mains failure") << "mains-failure" << -1 << dataArray({2, 1, 3, 100});
    QTest::newRow("battery low") << "battery-low" << -1 << dataArray({3, 1, 3, 10});
    QTest::newRow("capacity 100") << "capacity" << 100 << dataArray({2, 0, 2, 100});
    QTest::newRow("capacity 0") << "capacity" << 0 << dataArray({2, 0, 2, 0});
    QTest::newRow("capacity 300 is no percentage") << "capacity" << 300 << dataArray({2, 0, 2, 0}, 0b0111);
}

void TestEnginePolling::cardComesOnlineWithData()
{
    QFETCH(QString, state);
    QFETCH(int, value);
    QFETCH(QByteArray, expected);
    m_cardTouched = true;
    QVERIFY(m_card->setState(state, value));

    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort));
    pollAt(m_now + 1, 1);

    const QList<QVariant> first = m_data->first();
    QCOMPARE(first.at(0).toString(), local);
    QCOMPARE(first.at(1).toByteArray(), expected);
    QCOMPARE(m_status->count(), 1);
    QCOMPARE(m_status->first(), (QList<QVariant> {local, 1}));
    QCOMPARE(m_events->count(), 1);
    QCOMPARE(m_events->first(), (QList<QVariant> {local, 1}));
}

void TestEnginePolling::wrongCommunityNeverComesOnline()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort, QStringLiteral("not-public")));
    for (int i = 0; i < 3; ++i)
        pollAt(m_now + 1);
    QCOMPARE(m_data->count(), 0);
    QCOMPARE(m_status->count(), 0);
    QCOMPARE(m_events->count(), 0);
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(cardPort)), 0);
}

void TestEnginePolling::missingObjectsLeaveZeroBytes()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, partialPort));
    pollAt(m_now + 1, 1);
    QCOMPARE(m_data->first().at(1).toByteArray(), dataArray({2, 0, 0, 100}, 0b1001));
    QCOMPARE(m_status->count(), 1);
}

// The program hands the engine the stored cards; the engine reads no table itself (it would open each twice).
void TestEnginePolling::hostsOfTheTableAreWatched()
{
    // A second engine in the same process: the library starts again after the previous shutdown.
    Database::instance()->createTables();
    QSqlQuery query(Database::instance()->connection(AppPaths::databasePath()));
    const auto insert = [&](int port, int version, const QString &community) {
        query.prepare(QStringLiteral("insert into snmp_session(date, ip, port, version, community) "
                                     "values(strftime('%s','now'), :1, :2, :3, :4);"));
        query.bindValue(QStringLiteral(":1"), local);
        query.bindValue(QStringLiteral(":2"), port);
        query.bindValue(QStringLiteral(":3"), version);
        query.bindValue(QStringLiteral(":4"), community);
        QVERIFY(query.exec());
    };
    insert(cardPort, 0, QStringLiteral("public"));
    insert(partialPort, 7, QStringLiteral("public")); // neither version: ignored
    makeEngine();
    QCOMPARE(m_engine->manager()->sessionCount(), 0);
    m_engine->addHosts(HostTable::all());
    QCOMPARE(m_engine->manager()->sessionCount(), 1);
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(partialPort)), -1);
    pollAt(m_now + 1, 1);
    QCOMPARE(m_data->first().at(1).toByteArray(), dataArray({2, 0, 2, 100}));
}

void TestEnginePolling::modifyHostResetsToOffline()
{
    makeEngine();
    const SNMPInfo info = v2cHost(local, cardPort);
    m_engine->addHost(info);
    pollAt(m_now + 1, 1);
    QCOMPARE(m_events->count(), 1);

    m_engine->modifyHost(info, info);
    QCOMPARE(m_engine->manager()->sessionCount(), 1);
    QCOMPARE(m_engine->manager()->status(info.peer()), 0);
    QCOMPARE(m_status->count(), 1); // the reset itself is silent

    pollAt(m_now + 1, 1);
    QCOMPARE(m_status->count(), 2);
    QCOMPARE(m_status->last(), (QList<QVariant> {local, 1}));
    QCOMPARE(m_events->count(), 2);
    QCOMPARE(m_events->last(), (QList<QVariant> {local, 1}));
}

void TestEnginePolling::twoPortsOnOneAddress()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, twinPortA));
    m_engine->addHost(v2cHost(local, twinPortB));
    QCOMPARE(m_engine->manager()->sessionCount(), 2);
    // Both come online; the address's data is handed over once, as the second answer repeats it.
    pollAt(m_now + 1, 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_status->count(), 2, 3000);
    QTest::qWait(200);
    QCOMPARE(m_data->count(), 1);
    for (const QList<QVariant> &signal : qAsConst(*m_status))
        QCOMPARE(signal, (QList<QVariant> {local, 1}));
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(twinPortA)), 1);
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(twinPortB)), 1);

    // Closing one leaves the other polled.
    m_engine->removeHost(QStringLiteral("127.0.0.1:%1").arg(twinPortA));
    QCOMPARE(m_engine->manager()->sessionCount(), 1);
    m_data->clear();
    pollAt(m_now + 1, 1);
    QTest::qWait(200);
    QCOMPARE(m_data->count(), 1);
}

void TestEnginePolling::removeHost()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort));
    pollAt(m_now + 1, 1);

    m_engine->removeHost(QStringLiteral("127.0.0.9:161"));
    m_engine->removeHost(QStringLiteral("127.0.0.1")); // no port: not a peer
    QCOMPARE(m_engine->manager()->sessionCount(), 1);
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(cardPort)), 1);

    m_engine->removeHost(QStringLiteral("127.0.0.1:%1").arg(cardPort));
    QCOMPARE(m_engine->manager()->sessionCount(), 0);
    QCOMPARE(m_engine->manager()->status(QStringLiteral("127.0.0.1:%1").arg(cardPort)), -1);
    const int statusBefore = m_status->count();
    pollAt(m_now + 1);
    pollAt(m_now + 20);
    QCOMPARE(m_status->count(), statusBefore);
    QCOMPARE(m_events->count(), 1);
}

void TestEnginePolling::silenceRule_data()
{
    QTest::addColumn<QList<int>>("checks"); // seconds after the first answer at which the poll runs
    QTest::addColumn<int>("offlineAt"); // index into checks of the one offline report, -1 for none
    QTest::addColumn<QString>("state"); // the card's after its first answer
    const QList<int> everySecond {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    QTest::newRow("once a second: offline at 11") << everySecond << 10 << "silent";
    QTest::newRow("exactly 10 is not yet silence") << QList<int> {10} << -1 << "silent";
    QTest::newRow("a late check reports once") << QList<int> {30, 31, 60, 90} << 0 << "silent";
    QTest::newRow("clock stepped back") << QList<int> {-100, -5} << -1 << "silent";
    // Its answers hand nothing over, yet each one keeps it online.
    QTest::newRow("answering the same each second: never silent") << everySecond << -1 << "normal";
}

void TestEnginePolling::silenceRule()
{
    QFETCH(QList<int>, checks);
    QFETCH(int, offlineAt);
    QFETCH(QString, state);
    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort));
    pollAt(m_now, 1);
    QCOMPARE(m_status->count(), 1);
    const qint64 lastAnswer = m_now;

    m_cardTouched = true;
    QVERIFY(m_card->setState(state));
    for (int i = 0; i < checks.size(); ++i) {
        const quint64 answers = m_engine->manager()->answerCount();
        pollAt(lastAnswer + checks.at(i));
        if (state != QLatin1String("silent"))
            QTRY_VERIFY_WITH_TIMEOUT(m_engine->manager()->answerCount() > answers, 3000);
        const int offline = (offlineAt >= 0 && i >= offlineAt) ? 1 : 0;
        QCOMPARE(m_status->count(), 1 + offline);
        QCOMPARE(m_events->count(), 1 + offline);
    }
    if (offlineAt >= 0) {
        QCOMPARE(m_status->last(), (QList<QVariant> {local, 0}));
        QCOMPARE(m_events->last(), (QList<QVariant> {local, 0}));
    }
    QCOMPARE(m_data->count(), 1);
}

void TestEnginePolling::cardThatNeverAnsweredStaysQuiet()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, deadPort));
    for (int s = 1; s <= 40; ++s) {
        m_now += 1;
        m_engine->manager()->pollAll();
    }
    QTest::qWait(300);
    QCOMPARE(m_status->count(), 0);
    QCOMPARE(m_events->count(), 0);
    QCOMPARE(m_data->count(), 0);
}

void TestEnginePolling::offlineCardComesBack()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort));
    pollAt(m_now, 1);
    m_cardTouched = true;
    QVERIFY(m_card->setState(QStringLiteral("silent")));
    pollAt(m_now + 11);
    QCOMPARE(m_events->count(), 2);

    QVERIFY(m_card->setState(QStringLiteral("normal")));
    m_data->clear();
    pollAt(m_now + 1);
    QTRY_VERIFY_WITH_TIMEOUT(m_data->count() >= 1, 3000);
    QCOMPARE(m_status->count(), 3);
    QCOMPARE(m_status->last(), (QList<QVariant> {local, 1}));
    QCOMPARE(m_events->count(), 3);
    QCOMPARE(m_events->last(), (QList<QVariant> {local, 1}));
    // Queued answers of the silent time may trail in; none of them repeats the event.
    QTest::qWait(300);
    QCOMPARE(m_events->count(), 3);
}

void TestEnginePolling::lateAnswerToRetransmissionCounts()
{
    makeEngine();
    m_engine->addHost(v2cHost(local, cardPort));
    m_cardTouched = true;
    QVERIFY(m_card->setState(QStringLiteral("silent")));
    pollAt(m_now + 1);
    // The library retransmits after its 1 s timeout; both copies wait in the stopped agent's socket.
    QTest::qWait(1300);
    QCOMPARE(m_data->count(), 0);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_VERIFY_WITH_TIMEOUT(m_data->count() >= 1, 3000);
    QCOMPARE(m_status->count(), 1);
    QCOMPARE(m_status->first(), (QList<QVariant> {local, 1}));
    // The second answer to the same request finds it gone and counts for nothing.
    QTest::qWait(300);
    QCOMPARE(m_data->count(), 1);
    QCOMPARE(m_events->count(), 1);
}

namespace {
// A card that never answers and notes when each request reached it.
std::unique_ptr<QUdpSocket> silentCard(const QString &address, std::vector<qint64> *arrivals = nullptr,
                                       const QElapsedTimer *clock = nullptr)
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(QHostAddress(address), 161))
        return nullptr;
    if (arrivals) {
        QUdpSocket *raw = socket.get();
        QObject::connect(raw, &QUdpSocket::readyRead, raw, [raw, arrivals, clock] {
            while (raw->hasPendingDatagrams()) {
                raw->receiveDatagram();
                arrivals->push_back(clock->elapsed());
            }
        });
    }
    return socket;
}

int pending(QUdpSocket *socket)
{
    int n = 0;
    while (socket->hasPendingDatagrams()) {
        socket->receiveDatagram();
        ++n;
    }
    return n;
}
} // namespace

// The library resends an unanswered request after its 1 s timeout; the engine runs that schedule within its 50 ms,
// not whenever its sweep over every session comes round.
void TestEnginePolling::retransmissionsKeepTheirSecond()
{
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> arrivals;
    const auto card = silentCard(QStringLiteral("127.0.9.1"), &arrivals, &clock);
    QVERIFY(card);
    makeEngine();
    m_engine->addHost(v2cHost(QStringLiteral("127.0.9.1"), 161));
    pollAt(m_now + 1);
    // A change of the sessions meanwhile (here a card added) makes the engine sweep every session at once; a
    // resend that waited for the next such sweep would come 300 ms late.
    QTest::qWait(300);
    m_engine->addHost(v2cHost(QStringLiteral("127.0.9.2"), 161));
    QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 4, 6000);
    for (std::size_t i = 1; i < 4; ++i) {
        const qint64 gap = arrivals[i] - arrivals[i - 1];
        QVERIFY2(gap >= 950 && gap <= 1180, qPrintable(QStringLiteral("resend %1 after %2 ms").arg(i).arg(gap)));
    }
}

// A burst goes out in slices with the window's events served between them; cards removed or added meanwhile
// neither shift another card out of the burst nor get it twice.
void TestEnginePolling::burstAsksEachCardOnceWhileCardsChange()
{
    constexpr int cards = 100;
    std::vector<std::unique_ptr<QUdpSocket>> recorders;
    for (int i = 1; i <= cards + 10; ++i) {
        recorders.push_back(silentCard(QStringLiteral("127.0.10.%1").arg(i)));
        QVERIFY(recorders.back());
    }
    makeEngine();
    for (int i = 1; i <= cards; ++i)
        m_engine->addHost(v2cHost(QStringLiteral("127.0.10.%1").arg(i), 161));
    {
        // The engine thread sends the later slices; holding the library's lock keeps it from sending the second
        // before the changes are made.
        SnmpLock betweenSlices;
        m_engine->manager()->pollAll(); // the first slice, the newest cards first: 100 down to 69
        for (int i = 1; i <= 20; ++i) // not asked yet
            m_engine->removeHost(QStringLiteral("127.0.10.%1:161").arg(i));
        for (int i = 90; i <= 95; ++i) // asked already
            m_engine->removeHost(QStringLiteral("127.0.10.%1:161").arg(i));
        for (int i = cards + 1; i <= cards + 10; ++i)
            m_engine->addHost(v2cHost(QStringLiteral("127.0.10.%1").arg(i), 161));
    }
    QTest::qWait(400);
    QStringList wrong;
    for (int i = 1; i <= cards + 10; ++i) {
        const int expected = i <= 20 || i > cards ? 0 : 1;
        const int got = pending(recorders[std::size_t(i - 1)].get());
        if (got != expected)
            wrong << QStringLiteral("127.0.10.%1 asked %2 times").arg(i).arg(got);
    }
    QCOMPARE(wrong, QStringList());
}

void TestEnginePolling::onlyChangesAndTroubleAreHandedOver_data()
{
    QTest::addColumn<bool>("partial"); // the card that leaves its input and output status out
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("confirmed"); // every unchanged answer is handed over for the policy
    QTest::newRow("normal: the first report only") << false << "normal" << false;
    QTest::newRow("mains failure: confirmed each answer") << false << "mains-failure" << true;
    QTest::newRow("battery low: confirmed each answer") << false << "battery-low" << true;
    QTest::newRow("input status unknown: confirmed each answer") << true << "normal" << true;
}

void TestEnginePolling::onlyChangesAndTroubleAreHandedOver()
{
    QFETCH(bool, partial);
    QFETCH(QString, state);
    QFETCH(bool, confirmed);
    UpsSim *card = partial ? m_partial.get() : m_card.get();
    m_cardTouched = true;
    const auto restore = qScopeGuard([this] { QVERIFY(m_partial->setState(QStringLiteral("normal"))); });
    QVERIFY(card->setState(state));
    makeEngine();
    m_engine->addHost(v2cHost(local, partial ? partialPort : cardPort));
    pollAt(m_now + 1, 1);
    const QByteArray first = m_data->first().at(1).toByteArray();

    QElapsedTimer clock;
    clock.start();
    AnswerWatch answers(m_engine->manager(), &clock);
    for (int round = 1; round <= 3; ++round) {
        pollAt(m_now + 1);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), quint64(round), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(m_confirmed->count(), confirmed ? round : 0, 3000);
    }
    QCOMPARE(m_data->count(), 1);
    QCOMPARE(m_status->count(), 1);
    for (const QList<QVariant> &confirmation : qAsConst(*m_confirmed))
        QCOMPARE(confirmation, (QList<QVariant> {local, first}));

    // A change is handed over as data, never as a confirmation.
    const int confirmations = m_confirmed->count();
    QVERIFY(card->setState(QStringLiteral("capacity"), 42));
    pollAt(m_now + 1, 1);
    QCOMPARE(m_confirmed->count(), confirmations);
    QVERIFY(m_data->last().at(1).toByteArray() != first);
}

// 40 cards: a round's changes reach the GUI thread in one queued call, a round without a change wakes it not at
// all, and the confirmations of 40 cards in trouble come in one call again.
void TestEnginePolling::roundIsHandedOverInOneDelivery()
{
    constexpr int cards = 40;
    QStringList endpoints;
    for (int i = 1; i <= cards; ++i)
        endpoints << QStringLiteral("udp:127.0.12.%1:161").arg(i);
    UpsSim sim(endpoints.join(QLatin1Char(',')));
    QVERIFY2(sim.start(), qPrintable(sim.log()));
    makeEngine();
    for (int i = 1; i <= cards; ++i)
        m_engine->addHost(v2cHost(QStringLiteral("127.0.12.%1").arg(i), 161));
    DeliveryCount deliveries(m_engine->manager());
    QElapsedTimer clock;
    clock.start();
    AnswerWatch answers(m_engine->manager(), &clock);

    pollAt(m_now + 1, cards);
    QCOMPARE(m_status->count(), cards);
    QCOMPARE(m_events->count(), cards);
    QCOMPARE(deliveries.count(), 1);

    pollAt(m_now + 1);
    QTRY_COMPARE_WITH_TIMEOUT(answers.count(), quint64(2 * cards), 3000);
    QTest::qWait(300);
    QCOMPARE(deliveries.count(), 1);
    QCOMPARE(m_data->count(), cards);

    QVERIFY(sim.setState(QStringLiteral("mains-failure")));
    pollAt(m_now + 1, cards);
    QCOMPARE(deliveries.count(), 2);
    QCOMPARE(m_confirmed->count(), 0);
    pollAt(m_now + 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_confirmed->count(), cards, 3000);
    QCOMPARE(deliveries.count(), 3);
    QCOMPARE(m_data->count(), 2 * cards);
    QCOMPARE(m_status->count(), cards);
}

VIGILEX_NETNS_TEST_MAIN(TestEnginePolling)
#include "tst_enginepolling.moc"
