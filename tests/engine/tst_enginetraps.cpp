// The trap listener on port 162 (private to this test's network namespace): real senders, hand-built and
// hostile datagrams, inform acknowledgement, a trap port that is already taken, and the port's sockets passed
// by systemd.
#include "enginetest.h"
#include "snmp/notificationgate.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "snmp/snmptrapd.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Just enough BER to write SNMP messages by hand, including wrong ones.
QByteArray tlv(quint8 tag, const QByteArray &content)
{
    QByteArray out(1, static_cast<char>(tag));
    const int n = content.size();
    if (n < 0x80) {
        out.append(static_cast<char>(n));
    } else if (n < 0x100) {
        out.append(static_cast<char>(0x81)).append(static_cast<char>(n));
    } else {
        out.append(static_cast<char>(0x82)).append(static_cast<char>(n >> 8)).append(static_cast<char>(n & 0xff));
    }
    return out + content;
}

QByteArray integer(qint64 value, quint8 tag = 0x02)
{
    QByteArray bytes;
    for (int i = 7; i >= 0; --i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xff));
    while (bytes.size() > 1
        && ((bytes.at(0) == 0 && !(bytes.at(1) & 0x80)) || (bytes.at(0) == char(0xff) && (bytes.at(1) & 0x80))))
        bytes.remove(0, 1);
    return tlv(tag, bytes);
}

QByteArray objectId(const QList<quint32> &ids)
{
    QByteArray bytes;
    for (int i = 0; i < ids.size(); ++i) {
        quint32 v = ids.at(i);
        if (i == 0) {
            v = 40 * ids.at(0) + (ids.size() > 1 ? ids.at(1) : 0);
            ++i;
        }
        QByteArray chunk(1, static_cast<char>(v & 0x7f));
        for (v >>= 7; v; v >>= 7)
            chunk.prepend(static_cast<char>(0x80 | (v & 0x7f)));
        bytes += chunk;
    }
    return tlv(0x06, bytes);
}

QByteArray varbind(const QList<quint32> &name, const QByteArray &value)
{
    return tlv(0x30, objectId(name) + value);
}

const QList<quint32> sysUpTime {1, 3, 6, 1, 2, 1, 1, 3, 0};
const QList<quint32> snmpTrapOid {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
QList<quint32> longOid()
{
    QList<quint32> ids {1, 3, 6, 1, 4, 1, 935};
    for (int i = 0; i < 100; ++i)
        ids << 7;
    return ids << 21;
}

QList<quint32> upsNotification(quint32 k)
{
    return {1, 3, 6, 1, 4, 1, 935, 0, k};
}

constexpr quint8 trapV1 = 0xa4, inform = 0xa6, trapV2 = 0xa7, getRequest = 0xa0, response = 0xa2;
constexpr qint64 requestId = 4242;

QByteArray message(int version, quint8 pduTag, const QByteArray &pduBody)
{
    return tlv(0x30, integer(version) + tlv(0x04, "public") + tlv(pduTag, pduBody));
}

QByteArray v2(quint8 pduTag, const QByteArray &varbinds)
{
    return message(1, pduTag,
        integer(requestId) + integer(0) + integer(0) + tlv(0x30, varbind(sysUpTime, integer(100, 0x43)) + varbinds));
}

QByteArray v1(qint64 generic, qint64 specific, const QList<quint32> &enterprise = {1, 3, 6, 1, 4, 1, 935})
{
    return message(0, trapV1,
        objectId(enterprise) + tlv(0x40, QByteArray("\x0a\x00\x00\x07", 4)) + integer(generic) + integer(specific)
            + integer(100, 0x43) + tlv(0x30, QByteArray()));
}

QByteArray v2Trap(quint32 k)
{
    return v2(trapV2, varbind(snmpTrapOid, objectId(upsNotification(k))));
}

// Reads the PDU tag and request id of an SNMPv1/v2c message, -1 when it cannot.
bool readHeader(const QByteArray &msg, quint8 *pduTag, qint64 *id, qint64 *errorStatus)
{
    int pos = 0;
    auto header = [&](quint8 *tag) -> int {
        if (pos + 2 > msg.size())
            return -1;
        *tag = static_cast<quint8>(msg.at(pos++));
        int len = static_cast<quint8>(msg.at(pos++));
        if (len & 0x80) {
            const int n = len & 0x7f;
            len = 0;
            for (int i = 0; i < n && pos < msg.size(); ++i)
                len = (len << 8) | static_cast<quint8>(msg.at(pos++));
        }
        return len;
    };
    auto readInt = [&](qint64 *v) {
        quint8 tag;
        const int len = header(&tag);
        if (tag != 0x02 || len < 1 || pos + len > msg.size())
            return false;
        qint64 value = static_cast<signed char>(msg.at(pos));
        for (int i = 1; i < len; ++i)
            value = (value << 8) | static_cast<quint8>(msg.at(pos + i));
        pos += len;
        *v = value;
        return true;
    };
    quint8 tag;
    qint64 version;
    if (header(&tag) < 0 || tag != 0x30 || !readInt(&version))
        return false;
    const int communityLength = header(&tag);
    if (tag != 0x04 || communityLength < 0)
        return false;
    pos += communityLength;
    qint64 errorIndex;
    return header(pduTag) >= 0 && readInt(id) && readInt(errorStatus) && readInt(&errorIndex);
}

int bindUdp(int family, int port)
{
    const int fd = socket(family, SOCK_DGRAM, 0);
    if (family == AF_INET) {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
    } else {
        const int one = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        sockaddr_in6 a {};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(port));
        a.sin6_addr = in6addr_loopback;
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
            return fd;
    }
    close(fd);
    return -1;
}

// As UpsSim::sendNotification, but the test's event loop runs meanwhile: an inform is acknowledged only after
// the listener has handed its event on in this thread.
int sendServing(const QString &kind, int number, const QString &to)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral("python3"),
        QStringList {
            UpsSim::script(), QStringLiteral("trap"), kind, QString::number(number), QStringLiteral("--to"), to});
    QElapsedTimer clock;
    clock.start();
    while (tool.state() != QProcess::NotRunning && clock.elapsed() < 10000)
        QTest::qWait(10);
    if (tool.state() != QProcess::NotRunning || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return tool.exitCode();
}

} // namespace

class TestEngineTraps : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void notificationsFromRealSenders_data();
    void notificationsFromRealSenders();
    void handBuiltDatagrams_data();
    void handBuiltDatagrams();
    void informIsAcknowledgedAfterDecoding();
    void senderAddressIsTheHost();
    void getToTrapPortIsIgnored();
    void randomGarbageNeverCrashes();
    void trapPortTaken_data();
    void trapPortTaken();
    void passedSocketsAreTakenAndNotInherited();

private:
    void startEngine();
    // Sends a marker trap and waits for it, so that everything sent before has been handled.
    void flush();

    std::unique_ptr<MessageCapture> m_messages;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<SNMP> m_engine;
    std::unique_ptr<QSignalSpy> m_events;
    QUdpSocket m_sender;
};

void TestEngineTraps::init()
{
    m_messages.reset(new MessageCapture);
    MessageCapture::clear();
    m_app.reset(new ScratchApp(ScratchApp::Empty));
}

void TestEngineTraps::cleanup()
{
    m_events.reset();
    m_engine.reset();
    m_app.reset();
    m_messages.reset();
}

void TestEngineTraps::startEngine()
{
    m_engine.reset(new SNMP);
    // The test's senders stand in for configured cards, whose notifications are never held to a rate.
    NotificationGate::instance()->reset();
    NotificationGate::instance()->setCards({QStringLiteral("127.0.0.1"), QStringLiteral("::1")});
    m_events.reset(new QSignalSpy(m_engine.get(), &SNMP::eventTriggered));
    m_engine->startService();
}

void TestEngineTraps::flush()
{
    const int before = m_events->count();
    m_sender.writeDatagram(v2Trap(99), QHostAddress::LocalHost, 162);
    QTRY_VERIFY_WITH_TIMEOUT(m_events->count() > before && m_events->last().at(1).toInt() == 100, 3000);
    m_events->removeLast();
}

void TestEngineTraps::notificationsFromRealSenders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("event");
    QTest::newRow("v1 specific 5") << "v1" << 5 << "udp:127.0.0.1:162"
                                   << "127.0.0.1" << 6;
    QTest::newRow("v1 specific 0") << "v1" << 0 << "udp:127.0.0.1:162"
                                   << "127.0.0.1" << 1;
    QTest::newRow("v2c .0.5") << "v2c" << 5 << "udp:127.0.0.1:162"
                              << "127.0.0.1" << 6;
    QTest::newRow("inform .0.7, acknowledged") << "inform" << 7 << "udp:127.0.0.1:162"
                                               << "127.0.0.1" << 8;
    QTest::newRow("v2c over IPv6 loopback") << "v2c" << 3 << "udp6:[::1]:162"
                                            << "::1" << 4;
    QTest::newRow("inform over IPv6 loopback") << "inform" << 12 << "udp6:[::1]:162"
                                               << "::1" << 13;
}

void TestEngineTraps::notificationsFromRealSenders()
{
    QFETCH(QString, kind);
    QFETCH(int, number);
    QFETCH(QString, to);
    QFETCH(QString, host);
    QFETCH(int, event);
    startEngine();
    QCOMPARE(m_engine->listener()->sessionCount(), 2);
    // snmpinform waits for the acknowledgement (one retry, 1 s each) and fails without it.
    QCOMPARE(sendServing(kind, number, to), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_events->count(), 1, 3000);
    QCOMPARE(m_events->first(), (QList<QVariant> {host, event}));
    flush();
    QCOMPARE(m_events->count(), 1);
}

void TestEngineTraps::handBuiltDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QList<int>>("events");
    QTest::addColumn<bool>("fromCard"); // the sender is a configured card
    const QByteArray valid = v2Trap(5);
    QTest::newRow("v2 trap .0.5") << valid << QList<int> {6} << true;
    QTest::newRow("inform .0.7") << v2(inform, varbind(snmpTrapOid, objectId(upsNotification(7)))) << QList<int> {8}
                                 << true;
    QTest::newRow("v1 generic 6 specific 3") << v1(6, 3) << QList<int> {4} << true;
    QTest::newRow("v1 generic 1 specific 0") << v1(1, 0) << QList<int> {1} << true;
    const QList<quint32> netSnmpAgent {1, 3, 6, 1, 4, 1, 8072, 3, 2, 10};
    QTest::newRow("v1 coldStart of another device") << v1(0, 0, netSnmpAgent) << QList<int> {} << false;
    QTest::newRow("v1 linkDown of another device") << v1(2, 0, {1, 3, 6, 1, 4, 1, 9}) << QList<int> {} << false;
    QTest::newRow("v1 authenticationFailure of another device") << v1(4, 0, netSnmpAgent) << QList<int> {} << false;
    QTest::newRow("v1 enterprise-specific of another enterprise") << v1(6, 3, netSnmpAgent) << QList<int> {} << false;
    QTest::newRow("v1 coldStart under the cards' enterprise, any sender") << v1(0, 0) << QList<int> {1} << false;
    QTest::newRow("v1 coldStart of a card naming its agent's enterprise")
        << v1(0, 0, netSnmpAgent) << QList<int> {1} << true;
    QTest::newRow("v1 linkDown of a card naming its agent's enterprise")
        << v1(2, 4, netSnmpAgent) << QList<int> {5} << true;
    QTest::newRow("v1 enterprise-specific of another enterprise, from a card")
        << v1(6, 3, netSnmpAgent) << QList<int> {} << true;
    QTest::newRow("v1 negative specific") << v1(6, -1) << QList<int> {} << true;
    QTest::newRow("v1 specific 2^31-1 has no next code") << v1(6, 2147483647) << QList<int> {} << true;
    QTest::newRow("trap OID as integer") << v2(trapV2, varbind(snmpTrapOid, integer(5))) << QList<int> {} << true;
    QTest::newRow("trap OID as octet string")
        << v2(trapV2, varbind(snmpTrapOid, tlv(0x04, "\x05\x05"))) << QList<int> {} << true;
    QTest::newRow("trap OID empty") << v2(trapV2, varbind(snmpTrapOid, tlv(0x06, QByteArray()))) << QList<int> {}
                                    << true;
    QTest::newRow("trap OID 0.0") << v2(trapV2, varbind(snmpTrapOid, tlv(0x06, QByteArray(1, 0)))) << QList<int> {}
                                  << true;
    QTest::newRow("trap OID NULL") << v2(trapV2, varbind(snmpTrapOid, tlv(0x05, QByteArray()))) << QList<int> {}
                                   << true;
    QTest::newRow("no trap OID variable") << v2(trapV2, QByteArray()) << QList<int> {} << true;
    QTest::newRow("first trap OID counts") << v2(
        trapV2, varbind(snmpTrapOid, objectId(upsNotification(3))) + varbind(snmpTrapOid, objectId(upsNotification(9))))
                                           << QList<int> {4} << true;
    QTest::newRow("last sub-identifier 0")
        << v2(trapV2, varbind(snmpTrapOid, objectId(upsNotification(0)))) << QList<int> {1} << true;
    QTest::newRow("last sub-identifier 2^32-1 reads negative")
        << v2(trapV2, varbind(snmpTrapOid, objectId(upsNotification(4294967295u)))) << QList<int> {} << true;
    QTest::newRow("last sub-identifier 2^31-1 has no next code")
        << v2(trapV2, varbind(snmpTrapOid, objectId(upsNotification(2147483647u)))) << QList<int> {} << true;
    QTest::newRow("long trap OID") << v2(trapV2, varbind(snmpTrapOid, objectId(longOid()))) << QList<int> {22} << true;
    QTest::newRow("authenticationFailure of a polled agent")
        << v2(trapV2, varbind(snmpTrapOid, objectId({1, 3, 6, 1, 6, 3, 1, 1, 5, 5}))) << QList<int> {} << true;
    QTest::newRow("get request") << v2(getRequest, varbind(snmpTrapOid, tlv(0x05, QByteArray()))) << QList<int> {}
                                 << true;
    QTest::newRow("response") << v2(response, varbind(snmpTrapOid, objectId(upsNotification(2)))) << QList<int> {}
                              << true;
    QTest::newRow("truncated") << valid.left(valid.size() - 6) << QList<int> {} << true;
    QTest::newRow("only the header") << valid.left(2) << QList<int> {} << true;
    QTest::newRow("length beyond the datagram")
        << QByteArray("\x30\x84\x7f\xff\xff\xff\x02\x01\x01", 9) << QList<int> {} << true;
    QTest::newRow("empty datagram") << QByteArray() << QList<int> {} << true;
    QTest::newRow("unknown version") << message(7, trapV2, valid.mid(valid.indexOf(char(trapV2)) + 2)) << QList<int> {}
                                     << true;
}

void TestEngineTraps::handBuiltDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QList<int>, events);
    QFETCH(bool, fromCard);
    startEngine();
    if (!fromCard)
        NotificationGate::instance()->setCards({});
    QCOMPARE(m_sender.writeDatagram(datagram, QHostAddress::LocalHost, 162), qint64(datagram.size()));
    flush();
    QList<int> got;
    for (const QList<QVariant> &e : qAsConst(*m_events)) {
        QCOMPARE(e.at(0).toString(), QStringLiteral("127.0.0.1"));
        got << e.at(1).toInt();
    }
    QCOMPARE(got, events);
}

void TestEngineTraps::informIsAcknowledgedAfterDecoding()
{
    startEngine();
    QUdpSocket agent;
    QVERIFY(agent.bind(QHostAddress(QHostAddress::LocalHost), 0));
    agent.writeDatagram(v2(inform, varbind(snmpTrapOid, objectId(upsNotification(7)))), QHostAddress::LocalHost, 162);
    QTRY_VERIFY_WITH_TIMEOUT(agent.hasPendingDatagrams(), 3000);
    const QByteArray reply = agent.receiveDatagram().data();
    quint8 tag = 0;
    qint64 id = -1, errorStatus = -1;
    QVERIFY(readHeader(reply, &tag, &id, &errorStatus));
    QCOMPARE(tag, response);
    QCOMPARE(id, requestId);
    QCOMPARE(errorStatus, qint64(0));
    QVERIFY(reply.contains(objectId(upsNotification(7)))); // the variables come back
    QTRY_COMPARE_WITH_TIMEOUT(m_events->count(), 1, 2000);
    QCOMPARE(m_events->first(), (QList<QVariant> {QStringLiteral("127.0.0.1"), 8}));

    // A trap is not answered.
    agent.writeDatagram(v2Trap(7), QHostAddress::LocalHost, 162);
    QTRY_COMPARE_WITH_TIMEOUT(m_events->count(), 2, 2000);
    QTest::qWait(150);
    QVERIFY(!agent.hasPendingDatagrams());

    // A sender that is not a card and floods beyond its rate: its inform is dropped and not acknowledged, so
    // snmpinform (one retry) fails, as a card would see it and send again. The same inform from a card is taken.
    NotificationGate::instance()->setCards({});
    QAtomicInt flooding(1);
    QThread *flood = QThread::create([&flooding] {
        QUdpSocket socket;
        // Back to back, so that a token the sender's bucket regains goes to the flood, not to the inform; at
        // most a million datagrams or 10 s.
        QElapsedTimer clock;
        clock.start();
        const QByteArray trap = v2Trap(7);
        for (int i = 0; i < 1000000 && flooding.loadRelaxed() && clock.elapsed() < 10000; ++i)
            socket.writeDatagram(trap, QHostAddress::LocalHost, 162);
    });
    flood->start();
    QTRY_VERIFY_WITH_TIMEOUT(NotificationGate::instance()->droppedCount() >= 10, 3000);
    const int foreign = sendServing(QStringLiteral("inform"), 7, QStringLiteral("udp:127.0.0.1:162"));
    flooding.storeRelaxed(0);
    flood->wait();
    delete flood;
    QVERIFY(foreign != 0);
    NotificationGate::instance()->setCards({QStringLiteral("127.0.0.1")});
    QCOMPARE(sendServing(QStringLiteral("inform"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
}

void TestEngineTraps::senderAddressIsTheHost()
{
    startEngine();
    for (const char *address : {"127.0.0.7", "127.11.12.13"}) {
        QUdpSocket agent;
        QVERIFY(agent.bind(QHostAddress(QLatin1String(address)), 0));
        agent.writeDatagram(v1(6, 2), QHostAddress::LocalHost, 162);
        QTRY_COMPARE_WITH_TIMEOUT(m_events->count(), 1, 3000);
        QCOMPARE(m_events->takeFirst(), (QList<QVariant> {QLatin1String(address), 3}));
    }
    QUdpSocket agent6;
    QVERIFY(agent6.bind(QHostAddress(QHostAddress::LocalHostIPv6), 0));
    agent6.writeDatagram(v2Trap(1), QHostAddress::LocalHostIPv6, 162);
    QTRY_COMPARE_WITH_TIMEOUT(m_events->count(), 1, 3000);
    QCOMPARE(m_events->takeFirst(), (QList<QVariant> {QStringLiteral("::1"), 2}));
}

void TestEngineTraps::getToTrapPortIsIgnored()
{
    startEngine();
    QProcess get;
    get.start(QStringLiteral("snmpget"),
        {QStringLiteral("-v2c"), QStringLiteral("-c"), QStringLiteral("public"), QStringLiteral("-r0"),
            QStringLiteral("-t1"), QStringLiteral("udp:127.0.0.1:162"), QStringLiteral("1.3.6.1.2.1.1.2.0")});
    QVERIFY(get.waitForFinished(5000));
    QVERIFY(get.exitCode() != 0); // nobody answers a GET on the trap port
    flush();
    QCOMPARE(m_events->count(), 0);
}

void TestEngineTraps::randomGarbageNeverCrashes()
{
    startEngine();
    QRandomGenerator random(162);
    const QByteArray valid = v2Trap(5);
    // Bounded: 400 datagrams, mutated copies of a valid trap and plain noise.
    for (int i = 0; i < 400; ++i) {
        QByteArray datagram;
        if (i % 2) {
            datagram = valid;
            for (int flips = 1 + random.bounded(4); flips > 0; --flips)
                datagram[random.bounded(datagram.size())] = static_cast<char>(random.bounded(256));
        } else {
            datagram.resize(random.bounded(1, 300));
            for (char &c : datagram)
                c = static_cast<char>(random.bounded(256));
        }
        m_sender.writeDatagram(datagram, QHostAddress::LocalHost, 162);
        if (i % 50 == 0)
            QTest::qWait(20);
    }
    flush();
    QVERIFY(m_engine->isRunning());
}

void TestEngineTraps::trapPortTaken_data()
{
    QTest::addColumn<bool>("takeIpv4");
    QTest::addColumn<int>("sessions");
    QTest::newRow("IPv4 port taken: nothing opens") << true << 0;
    QTest::newRow("IPv6 loopback port taken: IPv4 stays open") << false << 1;
}

void TestEngineTraps::trapPortTaken()
{
    QFETCH(bool, takeIpv4);
    QFETCH(int, sessions);
    const int fd = bindUdp(takeIpv4 ? AF_INET : AF_INET6, 162);
    QVERIFY(fd >= 0);
    UpsSim card(QStringLiteral("udp:127.0.0.1:16300"));
    QVERIFY2(card.start(), qPrintable(card.log()));

    m_engine.reset(new SNMP);
    QSignalSpy data(m_engine.get(), &SNMP::dataReady);
    m_engine->addHost(v2cHost(QStringLiteral("127.0.0.1"), 16300));
    m_engine->startService();
    close(fd);

    QCOMPARE(MessageCapture::count(QStringLiteral("Open trapd service failed!\n")), 1);
    QCOMPARE(m_engine->listener()->sessionCount(), sessions);
    const QStringList messages = MessageCapture::messages();
    QVERIFY(messages.indexOf(QStringLiteral("Start SNMP trapd service.\r\n"))
        < messages.indexOf(QStringLiteral("Open trapd service failed!\n")));
    // Polling goes on.
    QTRY_VERIFY_WITH_TIMEOUT(data.count() >= 1, 4000);
    QCOMPARE(data.first().at(1).toByteArray(), dataArray({2, 0, 2, 100}));
}

// As the packaged unit starts the service: systemd binds the port, and the listener reads the sockets it is
// passed, also what was queued on them before the program ran (the first trap is what starts it). Nothing the
// listener's process starts inherits the sockets or the variables that name them.
void TestEngineTraps::passedSocketsAreTakenAndNotInherited()
{
    const QString activate = QStandardPaths::findExecutable(QStringLiteral("systemd-socket-activate"));
    if (activate.isEmpty())
        QSKIP("systemd-socket-activate is not installed");
    QProcess holder;
    holder.start(activate,
        {QStringLiteral("--datagram"), QStringLiteral("-l"), QStringLiteral("127.0.0.1:162"), QStringLiteral("-l"),
            QStringLiteral("[::1]:162"), QStringLiteral(TRAPHOLDER_PATH)});
    QVERIFY(holder.waitForStarted());
    auto reaper = qScopeGuard([&holder] {
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished(5000);
        }
    });
    QByteArray err;
    QByteArray out;
    auto waitFor = [&holder](QByteArray *text, QProcess::ProcessChannel channel, const QList<QByteArray> &wanted) {
        QElapsedTimer clock;
        clock.start();
        auto complete = [&] {
            for (const QByteArray &w : wanted) {
                if (!text->contains(w))
                    return false;
            }
            return true;
        };
        holder.setReadChannel(channel);
        *text += holder.readAll();
        while (!complete() && clock.elapsed() < 10000 && holder.state() == QProcess::Running) {
            holder.waitForReadyRead(100);
            *text += holder.readAll();
        }
        return complete();
    };
    // Bound before it reports them; a datagram sent earlier would find no socket and start nothing.
    QVERIFY2(
        waitFor(&err, QProcess::StandardError, {"Listening on 127.0.0.1:162 as 3.", "Listening on [::1]:162 as 4."}),
        err.constData());
    QCOMPARE(m_sender.writeDatagram(v2Trap(5), QHostAddress::LocalHost, 162), qint64(v2Trap(5).size()));
    QUdpSocket sender6;
    QCOMPARE(sender6.writeDatagram(v2Trap(3), QHostAddress::LocalHostIPv6, 162), qint64(v2Trap(3).size()));
    QVERIFY2(waitFor(&out, QProcess::StandardOutput, {"event 127.0.0.1 6\n", "event ::1 4\n", "child done\n"}),
        out.constData());

    const QList<QByteArray> lines = out.split('\n');
    QVERIFY(lines.contains("sessions 2"));
    QByteArrayList passed;
    for (const QByteArray &line : lines) {
        if (line.startsWith("passed "))
            passed << line.mid(7);
    }
    QCOMPARE(passed.size(), 2);
    for (const QByteArray &socket : qAsConst(passed)) {
        QVERIFY2(socket.startsWith("socket:["), out.constData());
        QVERIFY2(!lines.contains("child " + socket), out.constData());
    }
    QVERIFY2(lines.contains("child LISTEN_FDS=unset LISTEN_PID=unset"), out.constData());
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(holder.exitCode(), 0);
}

VIGILEX_NETNS_TEST_MAIN(TestEngineTraps)
#include "tst_enginetraps.moc"
