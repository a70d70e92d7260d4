// The decoder on PDUs built with the library itself: the data array of a response, the event code of a
// notification, and the host text of the trap transport. No network.
#include "enginetest.h"
#include "snmp/snmphandler.h"
#include "snmp/snmptrapd.h"
#include "support/netns.h"

#include <QSignalSpy>
#include <QtTest>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <functional>

namespace {

using PduBuilder = std::function<void(netsnmp_pdu *)>;

const oid *polled(int index)
{
    return reinterpret_cast<const oid *>(Snmp::polledOid[index]);
}

void addInteger(netsnmp_pdu *pdu, int index, long value, u_char type = ASN_INTEGER)
{
    snmp_pdu_add_variable(pdu, polled(index), Snmp::PolledOidLength, type, &value, sizeof value);
}

void addTrapOid(netsnmp_pdu *pdu, std::vector<oid> value)
{
    snmp_pdu_add_variable(pdu, reinterpret_cast<const oid *>(Snmp::trapOid), Snmp::TrapOidLength, ASN_OBJECT_ID,
        value.data(), value.size() * sizeof(oid));
}

std::vector<oid> notification(oid k)
{
    return {1, 3, 6, 1, 4, 1, 935, 0, k};
}

struct PduOwner
{
    explicit PduOwner(int command) : pdu(snmp_pdu_create(command)) { }
    ~PduOwner() { snmp_free_pdu(pdu); }
    netsnmp_pdu *pdu;
};

} // namespace

Q_DECLARE_METATYPE(PduBuilder)

class TestEngineDecode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void dataOfResponse_data();
    void dataOfResponse();
    void eventOfNotification_data();
    void eventOfNotification();
    void decodeNotificationSignalsOnlyEvents();
    void hostFromAddressText_data();
    void hostFromAddressText();
};

void TestEngineDecode::initTestCase()
{
    isolateSnmpLibraryFiles();
    init_snmp("vigilex-decode-test");
}

void TestEngineDecode::cleanupTestCase()
{
    snmp_shutdown("vigilex-decode-test");
}

void TestEngineDecode::dataOfResponse_data()
{
    QTest::addColumn<PduBuilder>("build");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("four integers in order") << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 0, 2), addInteger(p, 1, 0), addInteger(p, 2, 2), addInteger(p, 3, 100);
    }) << dataArray({2, 0, 2, 100});
    QTest::newRow("reverse order fills the right bytes") << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 3, 55), addInteger(p, 2, 3), addInteger(p, 1, 1), addInteger(p, 0, 3);
    }) << dataArray({3, 1, 3, 55});
    QTest::newRow("only objects 0 and 3")
        << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 0, 2), addInteger(p, 3, 100); })
        << dataArray({2, 0, 0, 100}, 0b1001);
    QTest::newRow("NULL values") << PduBuilder([](netsnmp_pdu *p) {
        for (int i = 0; i < 4; ++i)
            snmp_add_null_var(p, polled(i), Snmp::PolledOidLength);
    }) << dataArray({0, 0, 0, 0}, 0);
    QTest::newRow("exception values") << PduBuilder([](netsnmp_pdu *p) {
        snmp_pdu_add_variable(p, polled(0), Snmp::PolledOidLength, SNMP_NOSUCHOBJECT, nullptr, 0);
        snmp_pdu_add_variable(p, polled(1), Snmp::PolledOidLength, SNMP_NOSUCHINSTANCE, nullptr, 0);
        snmp_pdu_add_variable(p, polled(2), Snmp::PolledOidLength, SNMP_ENDOFMIBVIEW, nullptr, 0);
        addInteger(p, 3, 9);
    }) << dataArray({0, 0, 0, 9}, 0b1000);
    QTest::newRow("no variables") << PduBuilder([](netsnmp_pdu *) {}) << dataArray({0, 0, 0, 0}, 0);
    QTest::newRow("error status: nothing is known") << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 0, 2), addInteger(p, 1, 0), addInteger(p, 2, 2), addInteger(p, 3, 100);
        p->errstat = SNMP_ERR_NOSUCHNAME;
        p->errindex = 2;
    }) << dataArray({0, 0, 0, 0}, 0);
    QTest::newRow("capacity outside 0..100 is unknown")
        << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 0, 2), addInteger(p, 3, 200); })
        << dataArray({2, 0, 0, 0}, 0b0001);
    QTest::newRow("negative capacity is unknown")
        << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 3, -1); }) << dataArray({0, 0, 0, 0}, 0);
    QTest::newRow("an empty later duplicate makes it unknown") << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 1, 1);
        snmp_pdu_add_variable(p, polled(1), Snmp::PolledOidLength, SNMP_NOSUCHINSTANCE, nullptr, 0);
    }) << dataArray({0, 1, 0, 0}, 0);
    QTest::newRow("low byte of larger numbers") << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 0, 0x1234), addInteger(p, 1, -1), addInteger(p, 2, 0x102, ASN_GAUGE),
            addInteger(p, 3, 0x64, ASN_COUNTER);
    }) << dataArray({0x34, 0xff, 0x02, 0x64});
    QTest::newRow("time ticks and unsigned")
        << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 0, 7, ASN_TIMETICKS), addInteger(p, 3, 77, ASN_UINTEGER); })
        << dataArray({7, 0, 0, 77}, 0b1001);
    QTest::newRow("octet string gives its first byte") << PduBuilder([](netsnmp_pdu *p) {
        snmp_pdu_add_variable(p, polled(0), Snmp::PolledOidLength, ASN_OCTET_STR, "\x03rest", 5);
        snmp_pdu_add_variable(p, polled(1), Snmp::PolledOidLength, ASN_OCTET_STR, "", 0);
    }) << dataArray({3, 0, 0, 0}, 0b0001);
    QTest::newRow("later duplicate wins")
        << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 3, 10), addInteger(p, 3, 20); })
        << dataArray({0, 0, 0, 20}, 0b1000);
    QTest::newRow("other names are skipped") << PduBuilder([](netsnmp_pdu *p) {
        const oid sysObjectId[] = {1, 3, 6, 1, 2, 1, 1, 2, 0};
        const oid prefix[] = {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 1, 1}; // object 0 without its ".0"
        long v = 5;
        snmp_pdu_add_variable(p, sysObjectId, OID_LENGTH(sysObjectId), ASN_INTEGER, &v, sizeof v);
        snmp_pdu_add_variable(p, prefix, OID_LENGTH(prefix), ASN_INTEGER, &v, sizeof v);
        addInteger(p, 1, 2);
    }) << dataArray({0, 2, 0, 0}, 0b0010);
}

void TestEngineDecode::dataOfResponse()
{
    QFETCH(PduBuilder, build);
    QFETCH(QByteArray, expected);
    PduOwner response(SNMP_MSG_RESPONSE);
    build(response.pdu);
    QCOMPARE(SNMPHandler::dataOfResponse(response.pdu), expected);
}

void TestEngineDecode::eventOfNotification_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<PduBuilder>("build");
    QTest::addColumn<int>("event");
    const auto v1From = [](std::vector<oid> enterprise, long generic, long n) {
        return PduBuilder([=](netsnmp_pdu *p) {
            p->enterprise = snmp_duplicate_objid(enterprise.data(), enterprise.size());
            p->enterprise_length = enterprise.size();
            p->trap_type = generic, p->specific_type = n;
        });
    };
    const auto specific = [v1From](long n) { return v1From({1, 3, 6, 1, 4, 1, 935}, 6, n); };
    QTest::newRow("v1 specific 5") << int(SNMP_MSG_TRAP) << specific(5) << 6;
    QTest::newRow("v1 specific from under the enterprise")
        << int(SNMP_MSG_TRAP) << v1From({1, 3, 6, 1, 4, 1, 935, 10}, 6, 5) << 6;
    QTest::newRow("v1 specific from another enterprise")
        << int(SNMP_MSG_TRAP) << v1From({1, 3, 6, 1, 4, 1, 9}, 6, 5) << -1;
    QTest::newRow("v1 specific from a shorter enterprise")
        << int(SNMP_MSG_TRAP) << v1From({1, 3, 6, 1, 4, 1}, 6, 5) << -1;
    QTest::newRow("v1 specific without enterprise")
        << int(SNMP_MSG_TRAP) << PduBuilder([](netsnmp_pdu *p) { p->trap_type = 6, p->specific_type = 5; }) << -1;
    // Only a configured card's generic traps keep their number (the listener tests cover that sender).
    QTest::newRow("v1 coldStart of another device gives no event")
        << int(SNMP_MSG_TRAP) << v1From({1, 3, 6, 1, 4, 1, 8072}, 0, 0) << -1;
    QTest::newRow("v1 coldStart under the cards' enterprise keeps its number")
        << int(SNMP_MSG_TRAP) << v1From({1, 3, 6, 1, 4, 1, 935}, 0, 0) << 1;
    QTest::newRow("v2 authenticationFailure") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        addTrapOid(p, {1, 3, 6, 1, 6, 3, 1, 1, 5, 5});
    }) << -1;
    QTest::newRow("inform coldStart") << int(SNMP_MSG_INFORM) << PduBuilder([](netsnmp_pdu *p) {
        addTrapOid(p, {1, 3, 6, 1, 6, 3, 1, 1, 5, 1});
    }) << -1;
    QTest::newRow("v2 from a neighbouring enterprise 9350") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        addTrapOid(p, {1, 3, 6, 1, 4, 1, 9350, 0, 5});
    }) << -1;
    QTest::newRow("v1 specific 0") << int(SNMP_MSG_TRAP) << specific(0) << 1;
    QTest::newRow("v1 generic 1 specific 0 without enterprise")
        << int(SNMP_MSG_TRAP) << PduBuilder([](netsnmp_pdu *p) { p->trap_type = 1, p->specific_type = 0; }) << -1;
    QTest::newRow("v1 negative specific") << int(SNMP_MSG_TRAP) << specific(-1) << -1;
    QTest::newRow("v1 specific beyond 32 bits reads as int32") << int(SNMP_MSG_TRAP) << specific(0x100000004L) << 5;
    QTest::newRow("v1 specific 2^31-1") << int(SNMP_MSG_TRAP) << specific(0x7fffffffL) << -1;
    QTest::newRow("v2 .0.5") << int(SNMP_MSG_TRAP2)
                             << PduBuilder([](netsnmp_pdu *p) { addTrapOid(p, notification(5)); }) << 6;
    QTest::newRow("inform .0.7") << int(SNMP_MSG_INFORM)
                                 << PduBuilder([](netsnmp_pdu *p) { addTrapOid(p, notification(7)); }) << 8;
    QTest::newRow("trap OID after other variables") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        addInteger(p, 0, 3);
        addTrapOid(p, notification(2));
    }) << 3;
    QTest::newRow("no trap OID") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) { addInteger(p, 0, 3); })
                                 << -1;
    QTest::newRow("trap OID is an integer") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        long five = 5;
        snmp_pdu_add_variable(
            p, reinterpret_cast<const oid *>(Snmp::trapOid), Snmp::TrapOidLength, ASN_INTEGER, &five, sizeof five);
    }) << -1;
    QTest::newRow("trap OID without sub-identifiers") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        snmp_pdu_add_variable(
            p, reinterpret_cast<const oid *>(Snmp::trapOid), Snmp::TrapOidLength, ASN_OBJECT_ID, nullptr, 0);
    }) << -1;
    QTest::newRow("trap OID 0.0") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        addTrapOid(p, {0, 0});
    }) << -1;
    // On 64-bit Linux a sub-identifier is 8 bytes: the last one of 9 is at index 8, not at 9 * 8 / 4 - 1.
    QTest::newRow("last sub-identifier by sizeof(oid)") << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) {
        addTrapOid(p, {1, 3, 6, 1, 4, 1, 935, 41, 11});
    }) << 12;
    QTest::newRow("last sub-identifier 2^32-1")
        << int(SNMP_MSG_TRAP2) << PduBuilder([](netsnmp_pdu *p) { addTrapOid(p, notification(0xffffffffUL)); }) << -1;
    QTest::newRow("get request") << int(SNMP_MSG_GET)
                                 << PduBuilder([](netsnmp_pdu *p) { addTrapOid(p, notification(5)); }) << -1;
    QTest::newRow("response") << int(SNMP_MSG_RESPONSE)
                              << PduBuilder([](netsnmp_pdu *p) { addTrapOid(p, notification(5)); }) << -1;
}

void TestEngineDecode::eventOfNotification()
{
    QFETCH(int, command);
    QFETCH(PduBuilder, build);
    QFETCH(int, event);
    PduOwner notification(command);
    build(notification.pdu);
    QCOMPARE(SNMPHandler::eventOfNotification(notification.pdu), event);
    QCOMPARE(SNMPHandler::eventOfNotification(nullptr), -1);
}

void TestEngineDecode::decodeNotificationSignalsOnlyEvents()
{
    QSignalSpy spy(SNMPHandler::instance(), &SNMPHandler::gotTrapdData);
    PduOwner good(SNMP_MSG_TRAP2);
    addTrapOid(good.pdu, notification(5));
    PduOwner none(SNMP_MSG_TRAP2);
    SNMPHandler::instance()->decodeNotification(QStringLiteral("10.0.0.7"), none.pdu);
    SNMPHandler::instance()->decodeNotification(QStringLiteral("10.0.0.7"), good.pdu);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first(), (QList<QVariant> {QStringLiteral("10.0.0.7"), 6, quint64(0)}));
}

void TestEngineDecode::hostFromAddressText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4 with local end") << QByteArray("UDP: [10.0.0.7]:1024->[0.0.0.0]:162") << "10.0.0.7";
    QTest::newRow("IPv4") << QByteArray("UDP: [192.168.1.20]:49152") << "192.168.1.20";
    QTest::newRow("IPv6 loopback") << QByteArray("UDP/IPv6: [::1]:53000") << "::1";
    QTest::newRow("IPv6 with local end") << QByteArray("UDP/IPv6: [fe80::1]:1->[::1]:162") << "fe80::1";
    QTest::newRow("no closing bracket") << QByteArray("UDP: [10.0.0.7") << "10.0.0.7";
    QTest::newRow("no brackets") << QByteArray("unix socket") << "unix socket";
    QTest::newRow("closing bracket before the opening one") << QByteArray("x]y[10.1.1.1]") << "10.1.1.1";
    QTest::newRow("empty") << QByteArray("") << "";
}

void TestEngineDecode::hostFromAddressText()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, host);
    QCOMPARE(SNMPTrapd::hostFromAddressText(text.constData()), host);
    QCOMPARE(SNMPTrapd::hostFromAddressText(nullptr), QString());
}

QTEST_GUILESS_MAIN(TestEngineDecode)
#include "tst_enginedecode.moc"
