// The detail read beside the poll, against simulated cards: what each state of a card reads as, the vendor's
// objects where the standard ones are missing, that a slow detail read holds up no poll round, and that Network
// UPS Tools reads the same card the same way.
#include "enginetest.h"
#include "snmp/detailreader.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

namespace {
constexpr int standardPort = 16310;
constexpr int vendorPort = 16311;
constexpr int vendorNoCapacityPort = 16312;
constexpr int slowPort = 16313;
constexpr int silentPort = 16314;
const QString local = QStringLiteral("127.0.0.1");
const QString nutDriver = QStringLiteral("/lib/nut/snmp-ups");

QString number(int value)
{
    return value == CardDetails::absent ? QStringLiteral("—") : QString::number(value);
}

// Every field by name, so that a failure says which one.
QString describe(const CardDetails &d)
{
    if (!d.isKnown())
        return QStringLiteral("not known");
    return QStringLiteral("model=%1 source=%2 battery=%3 capacity=%4 runtime=%5 load=%6 in=%7 out=%8 hz=%9 temp=%10")
        .arg(d.model.isEmpty() ? QStringLiteral("—") : d.model, number(d.outputSource), number(d.batteryStatus),
            number(d.capacity), number(d.runtimeMinutes), number(d.loadPercent), number(d.inputVoltage),
            number(d.outputVoltage), number(d.inputFrequencyTenths), number(d.batteryTemperature));
}

CardDetails standardCard(int source, int battery, int capacity, int runtime, int inputVoltage, int frequency)
{
    CardDetails d;
    d.answeredAtMs = 1;
    d.model = QStringLiteral("UPS-SIM 3000");
    d.outputSource = source;
    d.batteryStatus = battery;
    d.capacity = capacity;
    d.runtimeMinutes = runtime;
    d.loadPercent = 35;
    d.inputVoltage = inputVoltage;
    d.outputVoltage = 230;
    d.inputFrequencyTenths = frequency;
    d.batteryTemperature = 25;
    return d;
}

CardDetails vendorCard(int capacity)
{
    CardDetails d;
    d.answeredAtMs = 1;
    d.model = QStringLiteral("UPS-SIM 3000");
    d.capacity = capacity;
    d.runtimeMinutes = 120;
    d.loadPercent = 35;
    d.inputVoltage = 230;
    d.outputVoltage = 230;
    return d;
}

// What Network UPS Tools' SNMP driver reads from the card, as "name: value" of one dump.
QHash<QString, QString> nutReading(int port, QString *error)
{
    QTemporaryDir state;
    QProcess driver;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Its state socket and configuration in a directory of the test's; the dump needs no upsd.
    env.insert(QStringLiteral("NUT_STATEPATH"), state.path());
    env.insert(QStringLiteral("NUT_CONFPATH"), state.path());
    driver.setProcessEnvironment(env);
    driver.start(nutDriver,
        {QStringLiteral("-s"), QStringLiteral("sim"), QStringLiteral("-x"),
            QStringLiteral("port=%1:%2").arg(local).arg(port), QStringLiteral("-x"), QStringLiteral("mibs=ietf"),
            QStringLiteral("-x"), QStringLiteral("snmp_version=v2c"), QStringLiteral("-x"),
            QStringLiteral("community=public"), QStringLiteral("-d"), QStringLiteral("1")});
    QHash<QString, QString> values;
    if (!driver.waitForFinished(20000)) {
        driver.kill();
        driver.waitForFinished(3000);
        *error = QStringLiteral("the driver did not finish");
        return values;
    }
    const QList<QByteArray> lines = driver.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const int colon = line.indexOf(": ");
        if (colon > 0)
            values.insert(QString::fromUtf8(line.left(colon)), QString::fromUtf8(line.mid(colon + 2)));
    }
    if (values.isEmpty())
        *error = QString::fromUtf8(driver.readAllStandardError().right(2000));
    return values;
}
} // namespace

class TestEngineDetails : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cardDetails_data();
    void cardDetails();
    void slowDetailReadHoldsUpNoPollRound();
    void nutReadsTheSameCard();

private:
    // Watches one card with a fresh engine until its first details arrive (or waitMs pass): the last details
    // handed over, and how many data changes the poll reported meanwhile.
    CardDetails readOnce(const SNMPInfo &info, int waitMs, int *dataChanges = nullptr);

    std::unique_ptr<UpsSim> m_standard;
    std::unique_ptr<UpsSim> m_vendor;
    std::unique_ptr<UpsSim> m_vendorNoCapacity;
};

void TestEngineDetails::initTestCase()
{
    m_standard.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1").arg(standardPort)));
    m_vendor.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1").arg(vendorPort), {QStringLiteral("--no-ietf")}));
    m_vendorNoCapacity.reset(new UpsSim(QStringLiteral("udp:127.0.0.1:%1").arg(vendorNoCapacityPort),
        {QStringLiteral("--no-ietf"), QStringLiteral("--omit"), QStringLiteral("3")}));
    QVERIFY2(m_standard->start(), qPrintable(m_standard->log()));
    QVERIFY2(m_vendor->start(), qPrintable(m_vendor->log()));
    QVERIFY2(m_vendorNoCapacity->start(), qPrintable(m_vendorNoCapacity->log()));
}

void TestEngineDetails::cleanupTestCase()
{
    m_standard.reset();
    m_vendor.reset();
    m_vendorNoCapacity.reset();
}

CardDetails TestEngineDetails::readOnce(const SNMPInfo &info, int waitMs, int *dataChanges)
{
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy details(&engine, &SNMP::detailsChanged);
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.addHost(info);
    engine.startService();
    QElapsedTimer clock;
    clock.start();
    while (details.isEmpty() && clock.elapsed() < waitMs)
        QTest::qWait(20);
    if (dataChanges)
        *dataChanges = data.count();
    return details.isEmpty() ? CardDetails() : details.last().first().value<CardDetails>();
}

void TestEngineDetails::cardDetails_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("access"); // "public", "wrong" (community) or "v3"
    QTest::addColumn<QStringList>("states"); // of the standard card, in turn: "name" or "capacity N"
    QTest::addColumn<CardDetails>("expected"); // answeredAtMs 0: never known

    const QStringList normal {QStringLiteral("normal")};
    QTest::newRow("standard objects, normal")
        << standardPort << "public" << normal << standardCard(3, 2, 100, 120, 230, 500);
    QTest::newRow("mains failure: on battery, no input")
        << standardPort << "public" << QStringList {QStringLiteral("normal"), QStringLiteral("mains-failure")}
        << standardCard(5, 2, 100, 45, 0, 0);
    QTest::newRow("battery low") << standardPort << "public" << QStringList {QStringLiteral("battery-low")}
                                 << standardCard(5, 3, 10, 3, 0, 0);
    QTest::newRow("capacity set") << standardPort << "public"
                                  << QStringList {QStringLiteral("normal"), QStringLiteral("capacity 55")}
                                  << standardCard(3, 2, 55, 120, 230, 500);
    QTest::newRow("v3 card") << standardPort << "v3" << normal << standardCard(3, 2, 100, 120, 230, 500);
    QTest::newRow("vendor objects where the standard ones are missing")
        << vendorPort << "public" << QStringList() << vendorCard(100);
    QTest::newRow("an object the card lacks stays absent")
        << vendorNoCapacityPort << "public" << QStringList() << vendorCard(CardDetails::absent);
    QTest::newRow("wrong community: never known") << standardPort << "wrong" << normal << CardDetails();
}

void TestEngineDetails::cardDetails()
{
    QFETCH(int, port);
    QFETCH(QString, access);
    QFETCH(QStringList, states);
    QFETCH(CardDetails, expected);

    for (const QString &state : states) {
        const bool capacity = state.startsWith(QLatin1String("capacity "));
        QVERIFY(m_standard->setState(
            capacity ? QStringLiteral("capacity") : state, capacity ? state.section(QLatin1Char(' '), 1).toInt() : -1));
    }
    const SNMPInfo info = access == QLatin1String("v3")
        ? v3Host(local, port, 1, 1, QStringLiteral("shaaesuser"), QStringLiteral("aespassword"))
        : v2cHost(local, port, access == QLatin1String("wrong") ? QStringLiteral("private") : QStringLiteral("public"));
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    int dataChanges = 0;
    // A card that never answers is given three poll rounds.
    const CardDetails read = readOnce(info, expected.isKnown() ? 6000 : 3500, &dataChanges);
    QCOMPARE(describe(read), describe(expected));
    if (!expected.isKnown()) {
        QCOMPARE(dataChanges, 0);
        return;
    }
    QCOMPARE(read.host, local);
    QVERIFY(read.answeredAtMs >= before && read.answeredAtMs <= QDateTime::currentMSecsSinceEpoch());
    // The detail answer came back on the poll's session and was taken for no poll answer.
    QCOMPARE(dataChanges, 1);
}

// A card whose standard objects come from an agent that never answers: the detail read waits for them, the
// poll of the same card goes on every second.
void TestEngineDetails::slowDetailReadHoldsUpNoPollRound()
{
    QUdpSocket silent;
    QVERIFY(silent.bind(QHostAddress(local), silentPort));
    UpsSim card(QStringLiteral("udp:127.0.0.1:%1").arg(slowPort),
        {QStringLiteral("--ietf-from"), QStringLiteral("udp:127.0.0.1:%1").arg(silentPort)});
    QVERIFY2(card.start(), qPrintable(card.log()));

    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy details(&engine, &SNMP::detailsChanged);
    QSignalSpy data(&engine, &SNMP::dataReady);
    engine.addHost(v2cHost(local, slowPort));
    engine.startService();
    QElapsedTimer clock;
    clock.start();
    quint64 answers = engine.manager()->answerCount();
    qint64 firstAt = -1;
    qint64 lastAt = -1;
    qint64 widestGap = 0;
    int proxied = 0;
    while (clock.elapsed() < 11500) {
        QTest::qWait(10);
        while (silent.hasPendingDatagrams()) {
            silent.receiveDatagram();
            ++proxied;
        }
        const quint64 now = engine.manager()->answerCount();
        if (now == answers)
            continue;
        answers = now;
        if (lastAt >= 0)
            widestGap = qMax(widestGap, clock.elapsed() - lastAt);
        else
            firstAt = clock.elapsed();
        lastAt = clock.elapsed();
    }
    QVERIFY2(firstAt >= 0 && firstAt < 2000, qPrintable(QString::number(firstAt)));
    QVERIFY2(widestGap < 1500, qPrintable(QString::number(widestGap)));
    // One detail read a period, retried by the library while it goes unanswered; the agent asks the silent one
    // for each.
    QVERIFY(proxied >= 1);
    QVERIFY2(proxied <= 12, qPrintable(QString::number(proxied)));
    // The agent's genErr for the stuck objects tells nothing of the card: no details, and no poll data from it.
    QCOMPARE(details.count(), 0);
    QCOMPARE(data.count(), 1);
}

// One engine follows the card through its states, each change handed over once, and Network UPS Tools' SNMP
// driver on the standard MIB of the same card reports what the engine read (it counts the runtime in seconds).
void TestEngineDetails::nutReadsTheSameCard()
{
    if (!QFile::exists(nutDriver))
        QSKIP("Network UPS Tools' snmp-ups driver is not installed");
    QVERIFY(m_standard->setState(QStringLiteral("normal")));
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSignalSpy details(&engine, &SNMP::detailsChanged);
    engine.addHost(v2cHost(local, standardPort));
    engine.startService();
    const QList<QPair<QString, int>> states {
        {QStringLiteral("normal"), 120}, {QStringLiteral("mains-failure"), 45}, {QStringLiteral("battery-low"), 3}};
    for (const auto &state : states) {
        QVERIFY(m_standard->setState(state.first));
        const int handed = details.count();
        // The next read of the period sees the new state.
        QTRY_VERIFY_WITH_TIMEOUT(
            details.count() > handed && details.last().first().value<CardDetails>().runtimeMinutes == state.second,
            int(DetailReader::periodMs) + 3000);
        QCOMPARE(details.count(), handed + 1);
        const CardDetails read = details.last().first().value<CardDetails>();
        QString error;
        const QHash<QString, QString> nut = nutReading(standardPort, &error);
        QVERIFY2(!nut.isEmpty(), qPrintable(error));
        QCOMPARE(nut.value(QStringLiteral("battery.runtime")), QString::number(read.runtimeMinutes * 60));
        QCOMPARE(nut.value(QStringLiteral("battery.charge")), QString::number(read.capacity));
        QCOMPARE(nut.value(QStringLiteral("ups.load")), QString::number(read.loadPercent));
        QCOMPARE(nut.value(QStringLiteral("input.voltage")), QString::number(read.inputVoltage));
        QCOMPARE(nut.value(QStringLiteral("output.voltage")), QString::number(read.outputVoltage));
        QCOMPARE(nut.value(QStringLiteral("ups.model")), read.model);
    }
    // Unchanged details are not handed over again within the minute.
    QCOMPARE(details.count(), 3);
}

VIGILEX_NETNS_TEST_MAIN(TestEngineDetails)
#include "tst_enginedetails.moc"
