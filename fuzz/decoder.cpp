// Fuzz target: a datagram as it arrives on a trap or polling socket. The SNMP library parses it the way its
// receive cycle does (a listening session that accepts every version), and what parses is handed to the
// decoders exactly as the library callbacks hand it: responses to dataOfResponse (as the poll manager takes them)
// and to the detail reader, notifications to decodeNotification; an inform is also turned into its acknowledgement and encoded, as the listener does.
#include "snmp/detailreader.h"
#include "snmp/snmphandler.h"
#include "snmp/snmpinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

netsnmp_session *listening = nullptr; // accepts every version, like a trap session
void *listeningHandle = nullptr;
netsnmp_transport *listeningTransport = nullptr;

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "decoder property broken: %s\n", what);
    std::abort();
}

int signalsSeen = 0;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_decoder";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);

    // Keep the library away from the machine's SNMP configuration and persistent files.
    static QTemporaryDir libraryFiles;
    const QByteArray dir = QFile::encodeName(libraryFiles.path());
    setenv("SNMPCONFPATH", dir.constData(), 1);
    setenv("SNMP_PERSISTENT_DIR", dir.constData(), 1);
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    snmp_disable_log();
    init_snmp(Snmp::applicationName);

    listeningTransport = netsnmp_transport_open_server("fuzz", "udp:127.0.0.1:0");
    if (!listeningTransport)
        fail("cannot open a loopback transport");
    netsnmp_session description;
    snmp_sess_init(&description);
    description.peername = nullptr;
    description.version = SNMP_DEFAULT_VERSION;
    description.community_len = 0;
    description.callback = nullptr;
    description.authenticator = nullptr;
    description.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
    listening = snmp_add(&description, listeningTransport, nullptr, nullptr);
    if (!listening)
        fail("cannot add the listening session");
    listeningHandle = snmp_sess_pointer(listening);

    SNMPHandler *handler = SNMPHandler::instance();
    QObject::connect(handler, &SNMPHandler::gotTrapdData, handler, [](const QString &host, int trap) {
        if (trap < 1)
            fail("a notification event code below 1");
        if (host != QLatin1String("10.0.0.7"))
            fail("a notification reported for another host");
        ++signalsSeen;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The receive cycle's fresh PDU: zeroed (snmp_free_pdu releases it with free), tagged with the domain.
    auto *pdu = static_cast<netsnmp_pdu *>(calloc(1, sizeof(netsnmp_pdu)));
    if (!pdu)
        return 0;
    pdu->tDomain = listeningTransport->domain;
    pdu->tDomainLen = listeningTransport->domain_length;
    // The library parses in place and may write into the buffer; give it a copy it owns.
    std::vector<u_char> packet(data, data + size);
    const int parsed = snmp_parse(static_cast<session_list *>(listeningHandle), listening, pdu, packet.data(), size);
    if (parsed != SNMPERR_SUCCESS) {
        snmp_free_pdu(pdu);
        return 0;
    }

    const QByteArray array = SNMPHandler::dataOfResponse(pdu);
    if (array.size() != Snmp::DataArraySize)
        fail("dataOfResponse did not give four values and their mask");
    if ((static_cast<unsigned char>(array.at(Snmp::KnownMaskIndex)) & ~Snmp::AllKnown) != 0)
        fail("a known-value mask with bits beyond the four values");
    if (Snmp::isKnown(array, Snmp::BatteryCapacity)
        && static_cast<unsigned char>(array.at(Snmp::BatteryCapacity)) > Snmp::MaxCapacity)
        fail("a known capacity that is no percentage");
    CardDetails details;
    QByteArray model;
    DetailReader::decode(pdu, &details, &model);
    if (details.capacity != CardDetails::absent && (details.capacity < 0 || details.capacity > 100))
        fail("a card's details with a capacity that is no percentage");
    if (details.model.isEmpty() != model.isEmpty() || model.size() > 255)
        fail("a card's model not kept as read, or longer than its bound");
    // The second read of the same answer takes the model over from the first.
    CardDetails again = details;
    DetailReader::decode(pdu, &again, &model);
    if (!DetailReader::sameReport(details, again))
        fail("the same answer read twice gave two cards' details");
    const int event = SNMPHandler::eventOfNotification(pdu);
    if (event == 0 || event < -1)
        fail("an event code that no notification can give");
    if (pdu->command == SNMP_MSG_TRAP) {
        const auto n = static_cast<qint32>(static_cast<quint32>(pdu->specific_type));
        const bool ours = pdu->trap_type != Snmp::V1EnterpriseSpecific
            || (pdu->enterprise && pdu->enterprise_length >= size_t(Snmp::UpsEnterpriseLength)
                && snmp_oidtree_compare(pdu->enterprise, pdu->enterprise_length,
                       reinterpret_cast<const oid *>(Snmp::upsEnterprise), Snmp::UpsEnterpriseLength)
                    == 0);
        const bool names = ours && n >= 0 && n < INT_MAX;
        if (names ? event != n + 1 : event != -1)
            fail("a v1 trap whose specific number is not the event code minus one");
    } else if (pdu->command != SNMP_MSG_INFORM && pdu->command != SNMP_MSG_TRAP2 && event != -1) {
        fail("an event from a PDU that is no notification");
    }

    signalsSeen = 0;
    switch (pdu->command) {
    case SNMP_MSG_TRAP:
    case SNMP_MSG_INFORM:
    case SNMP_MSG_TRAP2:
        SNMPHandler::instance()->decodeNotification(QStringLiteral("10.0.0.7"), pdu);
        if (signalsSeen != (event > 0 ? 1 : 0))
            fail("signals of a notification do not match its event code");
        break;
    default:
        break;
    }

    if (pdu->command == SNMP_MSG_INFORM) {
        netsnmp_pdu *reply = snmp_clone_pdu(pdu);
        if (reply) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            // As the library's own send path does: a heap buffer that the encoder may grow.
            size_t outLength = 2048;
            auto *out = static_cast<u_char *>(malloc(outLength));
            size_t offset = 0;
            if (snmp_build(&out, &outLength, &offset, listening, reply) == 0 && (out == nullptr || offset == 0))
                fail("an acknowledgement that was built into nothing");
            free(out);
            snmp_free_pdu(reply);
        }
    }
    snmp_free_pdu(pdu);
    return 0;
}
