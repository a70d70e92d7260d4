#include "policyrig.h"

#include "engine/enginetest.h"

#include "backend/localbackend.h"
#include "policy/historysampler.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/hosttable.h"
#include "storage/settings.h"
#include "storage/statements.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace PolicyText;

// The protection end to end: a simulated UPS card polled by the real engine, its data reports feeding the
// shutdown policy, a real shutdown application, and a recorder in place of the system shutdown. Runs in a
// network namespace of its own.
class TestProtection : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void lowCapacityRunsTheApplication();
    void countdownRunsOutIntoTheApplication();
    void mainsBackCancelsTheCountdown();
    void oneFailedAmongSeveralRunsOut();
    void cardListedTwiceKeepsItsStateUntilTheLastGoes();
    void eachMinuteEndsInASamplePerOnlineCard();
    void hostChangesDuringACountdown_data();
    void hostChangesDuringACountdown();
    void countdownRunOutWhileAwayIsDecidedByTheFirstReport_data();
    void countdownRunOutWhileAwayIsDecidedByTheFirstReport();

private:
    // Builds a fresh engine watching the card (and the other addresses given, at the same port) and a fresh
    // policy on its reports, with the given conditions and an application that leaves a mark and ends.
    void makePolicy(
        qint64 minuteMs, int battLowTime, int acFailedTime, int capacity, const QStringList &others = QStringList());
    bool applicationRan() const { return QFile::exists(m_app->path(QStringLiteral("my app/ran"))); }

    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<UpsSim> m_card;
    std::unique_ptr<SNMP> m_engine;
    std::unique_ptr<ShutdownPolicy> m_policy;
    QStringList m_messages;
    int m_requests = 0;
    int m_reports = 0;
};

namespace {
constexpr int CardPort = 16500;
const QString CardAddress = QStringLiteral("127.0.0.1");

void setting(const char *key, const QVariant &value)
{
    writeSetting(AppPaths::settingsFilePath(), QLatin1String(key), value);
}
} // namespace

void TestProtection::initTestCase()
{
    guardShutdownBackend();
    m_app = std::make_unique<ScratchApp>(ScratchApp::Empty);
    m_card = std::make_unique<UpsSim>(QStringLiteral("udp:%1:%2").arg(CardAddress).arg(CardPort));
    QVERIFY2(m_card->start(), qPrintable(m_card->log()));
}

void TestProtection::init()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QFile::remove(m_app->path(QStringLiteral("my app/ran")));
    m_messages.clear();
    m_requests = 0;
    m_reports = 0;
}

void TestProtection::cleanup()
{
    m_policy.reset();
    m_engine.reset();
    QCOMPARE(leakedShutdownRequests(), 0);
}

void TestProtection::cleanupTestCase()
{
    m_card.reset();
    m_app.reset();
}

void TestProtection::makePolicy(
    qint64 minuteMs, int battLowTime, int acFailedTime, int capacity, const QStringList &others)
{
    setting("shutdown/batt_low_time", battLowTime);
    setting("shutdown/ac_failed_time", acFailedTime);
    setting("shutdown/ac_failed_capacity", capacity);
    setting("system/shutdown_app_enable", true);
    setting(
        "system/shutdown_app", writeShutdownScript(m_app->path(), QStringLiteral("touch \"$(dirname \"$0\")/ran\"")));
    setting("system/shutdown_exec_time", 5);

    m_policy = std::make_unique<ShutdownPolicy>();
    m_policy->setMinuteMs(minuteMs);
    m_policy->setShutdownHandler([this] { ++m_requests; });
    connect(m_policy.get(), &ShutdownPolicy::message, m_policy.get(),
        [this](const QString &text) { m_messages.append(text); });
    // As the protection does: every data report of every host goes to the policy, the changes and the
    // confirmations of trouble.
    m_engine = std::make_unique<SNMP>();
    const auto report = [this](const QString &host, const QByteArray &data) {
        if (host == CardAddress)
            ++m_reports;
        m_policy->checkShutdownCondition(host, data);
    };
    connect(m_engine.get(), &SNMP::dataReady, m_policy.get(), report);
    connect(m_engine.get(), &SNMP::dataConfirmed, m_policy.get(), report);
    for (const QString &address : QStringList {CardAddress} + others)
        m_engine->addHost(v2cHost(address, CardPort));
    m_engine->startService();
    // Start from a report of the normal card.
    QTRY_VERIFY_WITH_TIMEOUT(m_reports >= 1, 5000);
    QVERIFY(m_messages.isEmpty());
}

void TestProtection::lowCapacityRunsTheApplication()
{
    makePolicy(60000, 0, 0, 20);
    QVERIFY(m_card->setState(QStringLiteral("capacity"), 15));
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));

    QTest::ignoreMessage(QtDebugMsg, "System shutdown code: 0 , status: QProcess::NormalExit");
    QTRY_COMPARE_WITH_TIMEOUT(m_requests, 1, 10000);
    QVERIFY(applicationRan());
    QCOMPARE(m_messages, QStringList {starting()});
    // The card keeps reporting the low capacity; the step does not run again.
    const int reports = m_reports;
    QTRY_VERIFY_WITH_TIMEOUT(m_reports >= reports + 2, 5000);
    QCOMPARE(m_requests, 1);
    QCOMPARE(m_messages, QStringList {starting()});
}

void TestProtection::countdownRunsOutIntoTheApplication()
{
    makePolicy(1500, 0, 1, 20);
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(m_messages, QStringList {countdown("1.0")}, 5000);
    QVERIFY(!applicationRan());

    QTRY_COMPARE_WITH_TIMEOUT(m_requests, 1, 10000);
    QVERIFY(applicationRan());
    QCOMPARE(m_messages, (QStringList {countdown("1.0"), starting()}));
}

void TestProtection::mainsBackCancelsTheCountdown()
{
    makePolicy(1500, 0, 3, 20);
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(m_messages, QStringList {countdown("3.0")}, 5000);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_COMPARE_WITH_TIMEOUT(m_messages, (QStringList {countdown("3.0"), canceled()}), 5000);
    QVERIFY(!m_policy->shutdownTimer()->isActive());

    // Past the moment the countdown would have run out: nothing.
    QTest::qWait(3000);
    QCOMPARE(m_requests, 0);
    QVERIFY(!applicationRan());
    QCOMPARE(m_messages, (QStringList {countdown("3.0"), canceled()}));
}

// Three UPSes: the first on mains failure, the second normal, the third answering without its input status and
// battery capacity. Only the failed one counts: the countdown runs out on time, and the third card neither
// cancels it nor meets the capacity rule with a capacity it never sent.
void TestProtection::oneFailedAmongSeveralRunsOut()
{
    const QString normalAddress = QStringLiteral("127.0.0.2");
    const QString partialAddress = QStringLiteral("127.0.0.3");
    UpsSim normal(QStringLiteral("udp:%1:%2").arg(normalAddress).arg(CardPort));
    UpsSim partial(QStringLiteral("udp:%1:%2").arg(partialAddress).arg(CardPort),
        {QStringLiteral("--omit"), QStringLiteral("1,3")});
    QVERIFY2(normal.start(), qPrintable(normal.log()));
    QVERIFY2(partial.start(), qPrintable(partial.log()));

    makePolicy(1500, 0, 1, 20, {normalAddress, partialAddress});
    QElapsedTimer clock;
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_messages, QStringList {countdown("1.0")}, 5000);
    const qint64 announced = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(m_requests, 1, 10000);
    QVERIFY2(clock.elapsed() - announced >= 1400, qPrintable(QString::number(clock.elapsed() - announced)));
    QVERIFY(applicationRan());
    QCOMPARE(m_messages, (QStringList {countdown("1.0"), starting()}));
}

// Two cards at one address (two ports) are one listed host: its status, data and details stay while either is
// listed, and a report of a host no longer listed is not kept. No engine: only the bookkeeping of the host changes.
void TestProtection::cardListedTwiceKeepsItsStateUntilTheLastGoes()
{
    Protection protection;
    const QString host = QStringLiteral("10.9.0.1");
    const QByteArray normal("\x02\x00\x02\x64\x0f", 5);
    protection.addHost(v2cHost(host, 161));
    protection.addHost(v2cHost(host, 162));
    protection.handleSNMPStatus(host, Snmp::Online);
    protection.handleSNMPData(host, normal);
    CardDetails details;
    details.host = host;
    details.answeredAtMs = 1000;
    details.loadPercent = 35;
    QSignalSpy detailsSpy(&protection, &Protection::detailsChanged);
    protection.handleDetails(details);
    protection.handleDetails(details);
    QCOMPARE(detailsSpy.count(), 1);
    protection.removeHost(host + QStringLiteral(":161"));
    QCOMPARE(protection.hosts(), QStringList {host});
    QCOMPARE(protection.card(host).status, int(Snmp::Online));
    QCOMPARE(protection.card(host).data, normal);
    QCOMPARE(protection.details(host), details);
    protection.removeHost(host + QStringLiteral(":162"));
    QVERIFY(protection.hosts().isEmpty());
    QCOMPARE(protection.card(host).status, -1);
    QVERIFY(!protection.details(host).isKnown());
    QCOMPARE(protection.details(host).host, host);
    protection.handleSNMPData(host, normal);
    protection.handleDetails(details);
    QVERIFY(protection.card(host).data.isEmpty());
    QVERIFY(!protection.details(host).isKnown());
    QCOMPARE(detailsSpy.count(), 1);

    const QString moved = QStringLiteral("10.9.0.2");
    protection.addHost(v2cHost(host, 161));
    protection.modifyHost(v2cHost(moved, 161), v2cHost(host, 161));
    protection.handleSNMPData(host, normal);
    protection.handleSNMPData(moved, normal);
    QCOMPARE(protection.hosts(), QStringList {moved});
    QVERIFY(protection.card(host).data.isEmpty());
    QCOMPARE(protection.card(moved).data, normal);
}

// At a minute's end the backend stores one sample per card that was online in it, the poll's capacity and the
// details' other values, readable once stored; a card offline all minute has none, and a removed card keeps
// its minutes. The minute timer's clock is brought to a second before a minute's end.
void TestProtection::eachMinuteEndsInASamplePerOnlineCard()
{
    Database::instance()->createTables();
    const qint64 real = QDateTime::currentMSecsSinceEpoch();
    const qint64 boundary = (real / 60000 + 2) * 60000;
    const qint64 offset = boundary - 1000 - real;
    HistorySampler::setClockSource([offset] { return QDateTime::currentMSecsSinceEpoch() + offset; });
    const auto restore = qScopeGuard([] { HistorySampler::setClockSource({}); });
    LocalBackend local;
    const QString online = QStringLiteral("10.9.0.7");
    const QString offline = QStringLiteral("10.9.0.8");
    for (const QString &host : {online, offline})
        QVERIFY(local.addHostNow(v2cHost(host, 161)).ok);
    local.protection()->handleSNMPStatus(online, Snmp::Online);
    local.protection()->handleSNMPData(online, QByteArray::fromHex("0200024b0f")); // 75 %
    local.protection()->handleSNMPStatus(offline, Snmp::Offline);
    CardDetails details;
    details.host = online;
    details.answeredAtMs = HistorySampler::nowMs();
    details.capacity = 74;
    details.loadPercent = 35;
    details.runtimeMinutes = 120;
    local.protection()->handleDetails(details);

    const auto minutes = [&local, boundary](const QString &host) {
        QVector<HistorySample> samples;
        bool came = false;
        QObject context;
        local.history(
            host, 0, boundary / 1000, &context, [&](const BackendReply &reply, const QVector<HistorySample> &read) {
                came = reply.ok;
                samples = read;
            });
        (void)QTest::qWaitFor([&came] { return came; }, 3000);
        return samples;
    };
    HistorySample expected;
    expected.at = boundary / 1000 - 60;
    expected.capacity = 75;
    expected.loadPercent = 35;
    expected.runtimeMinutes = 120;
    QTRY_COMPARE_WITH_TIMEOUT(minutes(online), QVector<HistorySample> {expected}, 5000);
    QVERIFY(minutes(offline).isEmpty());
    QVERIFY(local.removeHostNow(online).ok);
    QCOMPARE(minutes(online), QVector<HistorySample> {expected});
}

void TestProtection::hostChangesDuringACountdown_data()
{
    QTest::addColumn<QStringList>("changes"); // "+a:port" add, "-a:port" remove, "a:port>b:port" modify
    QTest::addColumn<bool>("counting");

    QTest::newRow("unchanged edit keeps the countdown")
        << QStringList {QStringLiteral("10.9.1.1:161>10.9.1.1:161")} << true;
    QTest::newRow("new port or credentials keep it")
        << QStringList {QStringLiteral("10.9.1.1:161>10.9.1.1:1161")} << true;
    QTest::newRow("removing one of two entries keeps it")
        << QStringList {QStringLiteral("+10.9.1.1:162"), QStringLiteral("-10.9.1.1:161")} << true;
    QTest::newRow("a new address is another card: cancelled")
        << QStringList {QStringLiteral("10.9.1.1:161>10.9.1.2:161")} << false;
    QTest::newRow("removing the last entry: cancelled") << QStringList {QStringLiteral("-10.9.1.1:161")} << false;
}

// A card on battery is edited (or one of its two entries removed) 20 s into a countdown: the UPS is still on
// battery, so the countdown runs on to its old deadline.
void TestProtection::hostChangesDuringACountdown()
{
    QFETCH(QStringList, changes);
    QFETCH(bool, counting);

    const auto entry = [](const QString &text) {
        return v2cHost(text.section(QLatin1Char(':'), 0, 0), text.section(QLatin1Char(':'), 1).toInt());
    };
    setting("shutdown/ac_failed_time", 1);
    setting("shutdown/batt_low_time", 1);
    setting("shutdown/ac_failed_capacity", 0);
    Protection protection;
    protection.policy()->setShutdownHandler([this] { ++m_requests; });
    QStringList rows;
    connect(&protection, &Protection::systemMessage, &protection, [&rows](const SystemMessage &message) { rows.append(SystemMessages::text(message)); });
    const QString host = QStringLiteral("10.9.1.1");
    protection.addHost(v2cHost(host, 161));
    protection.handleSNMPData(host, QByteArray("\x02\x00\x02\x50\x0f", 5));
    protection.handleSNMPData(host, QByteArray("\x02\x01\x03\x50\x0f", 5));
    CardDetails details;
    details.host = host;
    details.answeredAtMs = 1000;
    details.outputSource = 5;
    protection.handleDetails(details);
    QTest::qWait(200);
    const qint64 before = protection.policy()->remainingMs();

    for (const QString &change : changes) {
        if (change.startsWith(QLatin1Char('+')))
            protection.addHost(entry(change.mid(1)));
        else if (change.startsWith(QLatin1Char('-')))
            protection.removeHost(change.mid(1));
        else
            protection.modifyHost(
                entry(change.section(QLatin1Char('>'), 1)), entry(change.section(QLatin1Char('>'), 0, 0)));
    }
    // The new session's first answers show the same outage.
    if (protection.hosts().contains(host))
        protection.handleSNMPData(host, QByteArray("\x02\x01\x03\x50\x0f", 5));
    QCOMPARE(protection.policy()->countdownActive(), counting);
    // The details belong to the address as the countdown does.
    QCOMPARE(protection.details(host).isKnown(), counting);
    QCOMPARE(rows, counting ? QStringList {countdown("1.0")} : (QStringList {countdown("1.0"), canceled()}));
    if (counting)
        QVERIFY(protection.policy()->remainingMs() <= before);
    for (const QString &address : protection.hosts())
        protection.removeHost(address + QStringLiteral(":161"));
    QFile::remove(AppPaths::shutdownStatePath());
    QCOMPARE(m_requests, 0);
}

void TestProtection::countdownRunOutWhileAwayIsDecidedByTheFirstReport_data()
{
    QTest::addColumn<QString>("state"); // the card's after the restart
    QTest::addColumn<bool>("shutdown");
    QTest::newRow("still on battery: the first report confirms it") << "mains-failure" << true;
    QTest::newRow("the mains is back: the first report cancels it") << "normal" << false;
}

// The countdown ran out while the program was away; restarted, the real engine's first report of the card decides,
// long before the grace for a silent card would (10 s). The engine hands over the first answer of a new session
// whatever it repeats.
void TestProtection::countdownRunOutWhileAwayIsDecidedByTheFirstReport()
{
    QFETCH(QString, state);
    QFETCH(bool, shutdown);
    setting("shutdown/ac_failed_time", 1);
    setting("shutdown/batt_low_time", 1);
    setting("shutdown/ac_failed_capacity", 0);
    setting("system/shutdown_app_enable", false);
    const auto removeState = qScopeGuard([] { QFile::remove(AppPaths::shutdownStatePath()); });
    {
        // The run before the restart, killed during its countdown of one short minute.
        ShutdownPolicy before;
        before.setMinuteMs(50);
        before.setStatePath(AppPaths::shutdownStatePath());
        before.setShutdownHandler([] { QFAIL("the run before the restart must not shut down"); });
        before.checkShutdownCondition(CardAddress, QByteArray("\x02\x00\x02\x64\x0f", 5));
        before.checkShutdownCondition(CardAddress, QByteArray("\x02\x01\x03\x64\x0f", 5));
        QVERIFY(QFile::exists(AppPaths::shutdownStatePath()));
        before.disconnect();
        before.shutdownTimer()->stop();
    }
    QTest::qWait(200);
    QVERIFY(m_card->setState(state));

    Database::instance()->createTables();
    QSqlQuery query(Database::instance()->connection(AppPaths::databasePath()));
    query.prepare(QLatin1String(Sql::insertCommunitySession));
    query.bindValue(QStringLiteral(":1"), CardAddress);
    query.bindValue(QStringLiteral(":2"), CardPort);
    query.bindValue(QStringLiteral(":3"), 0);
    query.bindValue(QStringLiteral(":4"), QStringLiteral("public"));
    QVERIFY(query.exec());
    const auto removeCard = qScopeGuard([] {
        QSqlQuery(Database::instance()->connection(AppPaths::databasePath()))
            .exec(QStringLiteral("delete from snmp_session;"));
    });

    SNMP engine;
    engine.addHosts(HostTable::all());
    Protection protection;
    QElapsedTimer clock;
    qint64 requestedAt = -1;
    protection.policy()->setShutdownHandler([&] {
        ++m_requests;
        requestedAt = clock.elapsed();
    });
    QStringList rows;
    connect(&protection, &Protection::systemMessage, &protection,
        [&rows](const SystemMessage &message) { rows.append(SystemMessages::text(message)); });
    if (shutdown)
        QTest::ignoreMessage(QtDebugMsg, "System shutdown code: 0 , status: QProcess::NormalExit");
    clock.start();
    protection.setEngine(&engine);
    QVERIFY(protection.policy()->countdownActive());
    engine.startService();
    if (shutdown) {
        QTRY_COMPARE_WITH_TIMEOUT(m_requests, 1, 8000);
        QVERIFY2(requestedAt < 8000, qPrintable(QString::number(requestedAt)));
        QCOMPARE(rows, QStringList {countdown("0.0")});
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(rows, (QStringList {countdown("0.0"), canceled()}), 8000);
        QVERIFY(!protection.policy()->shutdownTimer()->isActive());
        QCOMPARE(m_requests, 0);
    }
    QVERIFY(!protection.policy()->countdownActive());
}

VIGILEX_NETNS_TEST_MAIN(TestProtection)
#include "tst_protection.moc"
