// Fuzz target: the sender address of a notification. Either arbitrary address text straight into the
// extraction, or arbitrary socket addresses formatted by the library's own UDP and UDP/IPv6 transports (as
// the trap callback has them formatted) and then extracted: the result must be the bare sender address.
//
// Input byte 0: 0 raw text, 1 IPv4 address pair, 2 IPv6 address pair; byte 1 selects the length handed to
// the formatter (the pair's true size when even); the rest fills the text or the pair.
#include "snmp/snmpinfo.h"
#include "snmp/snmptrapd.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

netsnmp_transport *udp4 = nullptr;
netsnmp_transport *udp6 = nullptr;

[[noreturn]] void fail(const char *what, const char *text, const QString &got)
{
    std::fprintf(stderr, "trap address property broken: %s\n  text: \"%s\"\n  host: \"%s\"\n", what, text ? text : "(none)",
                 got.toLatin1().constData());
    std::abort();
}

// The rule as written: after the first "[" (or from the start), up to the next "]" (or to the end).
std::string reference(const std::string &text)
{
    const size_t open = text.find('[');
    const size_t begin = open == std::string::npos ? 0 : open + 1;
    const size_t close = text.find(']', begin);
    return text.substr(begin, close == std::string::npos ? std::string::npos : close - begin);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir libraryFiles;
    const QByteArray dir = QFile::encodeName(libraryFiles.path());
    setenv("SNMPCONFPATH", dir.constData(), 1);
    setenv("SNMP_PERSISTENT_DIR", dir.constData(), 1);
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    snmp_disable_log();
    init_snmp(Snmp::applicationName);
    udp4 = netsnmp_transport_open_server("fuzz", "udp:127.0.0.1:0");
    udp6 = netsnmp_transport_open_server("fuzz", "udp6:[::1]:0");
    if (!udp4)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0] % 3;
    const uint8_t lengthChoice = data[1];
    data += 2;
    size -= 2;

    if (mode == 0) {
        const std::string text(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
        const QString host = SNMPTrapd::hostFromAddressText(text.c_str());
        const std::string expected = reference(text);
        if (host != QString::fromLatin1(expected.data(), int(expected.size())))
            fail("extraction differs from the rule", text.c_str(), host);
        return 0;
    }

    netsnmp_transport *transport = mode == 1 ? udp4 : udp6;
    if (!transport || !transport->f_fmtaddr)
        return 0;
    netsnmp_indexed_addr_pair pair;
    std::memset(&pair, 0, sizeof pair);
    std::memcpy(&pair, data, std::min(size, sizeof pair));
    if (mode == 1) {
        pair.remote_addr.sin.sin_family = AF_INET;
        pair.local_addr.sin.sin_family = AF_INET;
    } else {
        pair.remote_addr.sin6.sin6_family = AF_INET6;
        pair.local_addr.sin6.sin6_family = AF_INET6;
    }
    const bool trueLength = lengthChoice % 2 == 0;
    const size_t length = trueLength ? sizeof pair : lengthChoice / 2;

    char *text = transport->f_fmtaddr(transport, &pair, int(length));
    if (!text)
        return 0;
    const QString host = SNMPTrapd::hostFromAddressText(text);
    if (trueLength && std::strchr(text, '[')) {
        char expected[INET6_ADDRSTRLEN] = {};
        if (mode == 1)
            inet_ntop(AF_INET, &pair.remote_addr.sin.sin_addr, expected, sizeof expected);
        else
            inet_ntop(AF_INET6, &pair.remote_addr.sin6.sin6_addr, expected, sizeof expected);
        // A scoped IPv6 source keeps its zone ("fe80::1%eth0"); the listener only binds the loopback, where
        // senders carry no scope, so the zone is part of the address text and not an error.
        const bool scoped = mode == 2 && pair.remote_addr.sin6.sin6_scope_id != 0;
        const QString bare = scoped ? host.section(QLatin1Char('%'), 0, 0) : host;
        if (bare != QLatin1String(expected))
            fail("the host is not the bare sender address", text, host);
    }
    free(text);
    return 0;
}
