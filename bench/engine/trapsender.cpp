// Sends K SNMPv2c traps at R per second to udp:127.0.0.1:162; trap i carries 1.3.6.1.4.1.935.0.i, so that the
// receiver sees event i + 1. Writes the CLOCK_MONOTONIC send time of each (nanoseconds, one per line) to OUT.
// usage: bench_engine_trapsender K R OUT
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {
long long nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s K RATE OUT\n", argv[0]);
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    const double rate = std::strtod(argv[2], nullptr);
    if (count <= 0 || count > 1000000 || rate <= 0 || rate > 1000000)
        return 2;
    init_snmp("vigilex-bench-sender");
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = SNMP_VERSION_2c;
    char peer[] = "udp:127.0.0.1:162";
    char community[] = "public";
    session.peername = peer;
    session.community = reinterpret_cast<u_char *>(community);
    session.community_len = sizeof community - 1;
    netsnmp_session *ss = snmp_open(&session);
    if (!ss) {
        snmp_perror("snmp_open");
        return 1;
    }
    const oid sysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    const oid trapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
    std::vector<long long> sent(static_cast<size_t>(count));
    const long long start = nowNs() + 20000000LL;
    long failed = 0;
    for (long i = 0; i < count; ++i) {
        const long long due = start + static_cast<long long>(i * 1e9 / rate);
        timespec at {static_cast<time_t>(due / 1000000000LL), static_cast<long>(due % 1000000000LL)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
        long ticks = 100;
        snmp_pdu_add_variable(pdu, sysUpTime, OID_LENGTH(sysUpTime), ASN_TIMETICKS, &ticks, sizeof ticks);
        const oid value[] = {1, 3, 6, 1, 4, 1, 935, 0, static_cast<oid>(i)};
        snmp_pdu_add_variable(pdu, trapOid, OID_LENGTH(trapOid), ASN_OBJECT_ID, value, sizeof value);
        sent[static_cast<size_t>(i)] = nowNs();
        if (!snmp_send(ss, pdu)) {
            snmp_free_pdu(pdu);
            ++failed;
        }
    }
    if (failed)
        std::fprintf(stderr, "trapsender: %ld of %ld sends failed\n", failed, count);
    snmp_close(ss);
    snmp_shutdown("vigilex-bench-sender");
    FILE *out = std::fopen(argv[3], "w");
    if (!out)
        return 1;
    for (long long t : sent)
        std::fprintf(out, "%lld\n", t);
    std::fclose(out);
    return 0;
}
