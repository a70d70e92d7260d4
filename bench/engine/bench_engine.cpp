// Engine benchmark, inside a private network namespace: N cards (snmpd on N loopback addresses) polled once a
// second by the engine's own rounds, first with nothing changing, then with every card's data changing each
// second; then a burst of notifications from a Net-SNMP sender. Prints figures; never fails on speed.
// usage: bench_engine [--cards 0,100,1000,3000,5000] [--traps 10000] [--rate 5000]   (0: the engine without cards)
#include "snmp/snmp.h"
#include "snmp/snmplock.h"
#include "snmp/snmpmanage.h"
#include "snmp/snmptrapd.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/if_packet.h>
#include <memory>
#include <mutex>
#include <net/ethernet.h>
#include <net/if.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int addressesPerAgent = 250; // snmpd selects on a plain fd_set

long long monotonicNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

double cpuSeconds()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * values.size()));
    return values[index];
}

// Watches the loopback of the private namespace and notes when each agent's answer (UDP from port 161)
// arrived, so that the delay from an answer to its dataReady can be told apart from the round's burst.
class AnswerTap
{
public:
    AnswerTap()
    {
        m_fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ALL));
        if (m_fd < 0)
            return;
        sockaddr_ll where {};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_ALL);
        where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        timeval timeout {0, 100000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const int buffer = 8 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        if (bind(m_fd, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
            close(m_fd);
            m_fd = -1;
            return;
        }
        m_thread = std::thread([this] { run(); });
    }
    ~AnswerTap()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }
    // Arrival of the latest answer from address, 0 if none.
    long long lastAnswer(quint32 address)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_arrivals.find(address);
        return it == m_arrivals.end() ? 0 : it->second;
    }
    double cpuSeconds()
    {
        clockid_t id;
        timespec t {};
        if (!m_thread.joinable() || pthread_getcpuclockid(m_thread.native_handle(), &id) != 0
            || clock_gettime(id, &t) != 0)
            return 0;
        return t.tv_sec + t.tv_nsec / 1e9;
    }

private:
    void run()
    {
        unsigned char frame[2048];
        while (!m_stop) {
            sockaddr_ll from {};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(m_fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (n < 28 || from.sll_pkttype == PACKET_OUTGOING || (frame[0] >> 4) != 4 || frame[9] != 17)
                continue;
            const int ipHeader = (frame[0] & 0x0f) * 4;
            if (n < ipHeader + 8 || ((frame[ipHeader] << 8) | frame[ipHeader + 1]) != 161)
                continue;
            quint32 source;
            std::memcpy(&source, frame + 12, 4);
            const long long now = monotonicNs();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_arrivals[source] = now;
        }
    }

    int m_fd = -1;
    std::atomic<bool> m_stop {false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::unordered_map<quint32, long long> m_arrivals;
};

// Counts the queued calls that reach an object: each one wakes its thread.
class Deliveries : public QObject
{
public:
    explicit Deliveries(QObject *watched) { watched->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++count;
        return false;
    }
};

// Switches every agent's battery capacity between two values once a second, with one SNMP SET to each agent sent
// from here without waiting for its answer (the sessions are not the engine's: nothing reads their answers). A
// tool process per agent and second took this 2-core machine whole from 3000 cards on.
class CapacitySwitch
{
public:
    explicit CapacitySwitch(const QStringList &agentPeers)
    {
        withSnmpLibrary([&] {
            for (const QString &peer : agentPeers) {
                QByteArray name = peer.toLatin1();
                netsnmp_session session;
                snmp_sess_init(&session);
                session.version = SNMP_VERSION_2c;
                session.peername = name.data();
                static char community[] = "simwrite"; // tools/upssim's write community
                session.community = reinterpret_cast<u_char *>(community);
                session.community_len = sizeof community - 1;
                if (void *handle = snmp_sess_open(&session))
                    m_sessions.push_back(handle);
            }
        });
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { flip(); });
    }
    ~CapacitySwitch()
    {
        m_timer.stop();
        withSnmpLibrary([this] {
            for (void *handle : m_sessions)
                snmp_sess_close(handle);
        });
    }
    void start()
    {
        flip();
        m_timer.start(1000);
    }

private:
    void flip()
    {
        m_value = m_value == 90 ? 91 : 90;
        static const oid capacity[] = {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 2, 2, 1, 0};
        withSnmpLibrary([this] {
            for (void *handle : m_sessions) {
                netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_SET);
                if (!pdu)
                    continue;
                long value = m_value;
                snmp_pdu_add_variable(pdu, capacity, OID_LENGTH(capacity), ASN_INTEGER, &value, sizeof value);
                if (snmp_sess_send(handle, pdu) == 0)
                    snmp_free_pdu(pdu);
            }
        });
    }

    std::vector<void *> m_sessions;
    QTimer m_timer;
    long m_value = 100;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString address(int i)
{
    return QStringLiteral("127.1.%1.%2").arg(i / addressesPerAgent).arg(i % addressesPerAgent + 1);
}

// The trap sender sends from 127.0.0.1: configured as a card (with nothing answering there), its notifications are
// a card's, which the program takes at any rate.
const SNMPInfo senderCard {QStringLiteral("127.0.0.1"), 1, 0, QStringLiteral("public"), 0, 0, QString(), QString()};

// Sends count traps at rate per second in the background; eventTriggered times are matched to the send times it
// writes when it ends.
class TrapRun
{
public:
    TrapRun(SNMP &engine, int count, double rate) : m_received(std::size_t(count), 0)
    {
        QObject::connect(&engine, &SNMP::eventTriggered, &engine, [this](const QString &, int event) {
            if (event >= 1 && std::size_t(event) <= m_received.size() && !m_received[std::size_t(event - 1)])
                m_received[std::size_t(event - 1)] = monotonicNs();
            else if (event > 1)
                ++m_stray;
        });
        m_out = m_dir.filePath(QStringLiteral("sent.txt"));
        m_sender.setProcessChannelMode(QProcess::ForwardedChannels);
        m_sender.start(QStringLiteral(TRAPSENDER_PATH), {QString::number(count), QString::number(rate), m_out});
    }
    // Waits for the sender (bounded), then gives the send-to-eventTriggered delays in ms.
    std::vector<double> finish(int *decoded, int *stray)
    {
        QElapsedTimer wall;
        wall.start();
        while (m_sender.state() != QProcess::NotRunning && wall.elapsed() < 120000)
            runFor(100);
        runFor(1000);
        std::vector<long long> sent;
        QFile file(m_out);
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd())
                sent.push_back(file.readLine().trimmed().toLongLong());
        }
        std::vector<double> latencyMs;
        *decoded = 0;
        for (std::size_t i = 0; i < sent.size() && i < m_received.size(); ++i) {
            if (m_received[i]) {
                latencyMs.push_back((m_received[i] - sent[i]) / 1e6);
                ++*decoded;
            }
        }
        *stray = m_stray;
        return latencyMs;
    }
    const std::vector<long long> &received() const { return m_received; }

private:
    std::vector<long long> m_received;
    int m_stray = 0;
    QTemporaryDir m_dir;
    QString m_out;
    QProcess m_sender;
};

// The engine alone, without a card: what the program costs while it only waits.
void benchIdle()
{
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    engine.startService();
    runFor(2000);
    const double start = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(10000);
    std::printf("cards     0: CPU %.3f %% of one core over 10 s (engine waiting, trap port open)\n",
        100.0 * (cpuSeconds() - start) / (wall.elapsed() / 1000.0));
    std::fflush(stdout);
}

// Seconds 0..5 warm-up, 5..15 the CPU with nothing changing (no packet tap: it would add its own cost to every
// datagram), 15..20 every card's data changing each second with the tap on: the CPU without the tap's thread,
// the latencies of the changed answers, and 100 notifications from a configured card.
void benchPolling(int cards)
{
    std::vector<std::unique_ptr<UpsSim>> agents;
    QStringList agentPeers; // each agent's first address
    for (int first = 0; first < cards; first += addressesPerAgent) {
        agentPeers << QStringLiteral("udp:%1:161").arg(address(first));
        QStringList endpoints;
        for (int i = first; i < std::min(cards, first + addressesPerAgent); ++i)
            endpoints << QStringLiteral("udp:%1:161").arg(address(i));
        agents.emplace_back(new UpsSim(endpoints.join(QLatin1Char(',')), {QStringLiteral("--quiet")}));
        if (!agents.back()->start(20000)) {
            std::printf("cannot start the agents: %s\n", qPrintable(agents.back()->log()));
            return;
        }
    }

    std::unique_ptr<AnswerTap> tap;
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    QSet<QString> online;
    std::vector<double> answerMs;
    int unmatched = 0;
    int falseOffline = 0;
    QObject::connect(&engine, &SNMP::statusChanged, &engine, [&](const QString &host, int status) {
        if (status == 1)
            online.insert(host);
        else
            ++falseOffline;
    });
    QObject::connect(&engine, &SNMP::dataReady, &engine, [&](const QString &host, const QByteArray &) {
        if (!tap)
            return;
        const long long now = monotonicNs();
        quint32 address;
        if (inet_pton(AF_INET, host.toLatin1().constData(), &address) == 1) {
            // An answer older than half the poll period is the previous one: the tap has not seen this one yet.
            const long long arrived = tap->lastAnswer(address);
            if (arrived && now - arrived < 500000000LL)
                answerMs.push_back((now - arrived) / 1e6);
            else
                ++unmatched;
        }
    });
    QList<SNMPInfo> watched;
    for (int i = 0; i < cards; ++i)
        watched.append(SNMPInfo {address(i), 161, 0, QStringLiteral("public"), 0, 0, QString(), QString()});
    watched.append(senderCard);
    engine.addHosts(watched);
    Deliveries deliveries(engine.manager());
    engine.startService();

    runFor(5000);
    const double cpuStart = cpuSeconds();
    const quint64 answersStart = engine.manager()->answerCount();
    const int deliveriesStart = deliveries.count;
    QElapsedTimer wall;
    wall.start();
    runFor(10000);
    const double seconds = wall.elapsed() / 1000.0;
    const double cpu = 100.0 * (cpuSeconds() - cpuStart) / seconds;
    const double answersPerSecond = (engine.manager()->answerCount() - answersStart) / seconds;
    const double deliveriesPerSecond = (deliveries.count - deliveriesStart) / seconds;

    tap.reset(new AnswerTap);
    CapacitySwitch changes(agentPeers);
    changes.start();
    const double changingStart = cpuSeconds() - tap->cpuSeconds();
    const int changingDeliveries = deliveries.count;
    wall.restart();
    TrapRun traps(engine, 100, 20);
    runFor(5000);
    const double changingSeconds = wall.elapsed() / 1000.0;
    const double changingCpu = 100.0 * (cpuSeconds() - tap->cpuSeconds() - changingStart) / changingSeconds;
    const double changingDeliveriesPerSecond = (deliveries.count - changingDeliveries) / changingSeconds;
    const double onlineAt20 = 100.0 * online.size() / cards;
    int decoded = 0, stray = 0;
    const std::vector<double> trapMs = traps.finish(&decoded, &stray);

    std::printf("cards %5d: online after 20 s %6.2f %%, false offline %d, CPU %.2f %% of one core (s 5..15), "
                "%.2f %% per 1000 cards; %.0f answers and %.1f deliveries to the GUI thread per second; every card "
                "changing each second: CPU %.2f %%, %.1f deliveries per second, answer-to-dataReady p50 %.1f ms p99 "
                "%.1f ms (%zu changed answers, %d not seen by the tap)%s; trap-to-eventTriggered p50 %.1f ms p99 "
                "%.1f ms (%d of 100)\n",
        cards, onlineAt20, falseOffline, cpu, cpu * 1000.0 / cards, answersPerSecond, deliveriesPerSecond, changingCpu,
        changingDeliveriesPerSecond, percentile(answerMs, 50), percentile(answerMs, 99), answerMs.size(), unmatched,
        tap->isValid() ? "" : " (no tap)", percentile(trapMs, 50), percentile(trapMs, 99), decoded);
    std::fflush(stdout);
}

void benchNotifications(int count, double rate)
{
    ScratchApp app(ScratchApp::Empty);
    SNMP engine;
    engine.addHost(senderCard);
    engine.startService();
    if (engine.listener()->sessionCount() == 0) {
        std::printf("notifications: trap port did not open\n");
        return;
    }
    TrapRun run(engine, count, rate);
    int decoded = 0, stray = 0;
    const std::vector<double> latencyMs = run.finish(&decoded, &stray);
    // UDP counters of this namespace: what the kernel dropped for want of socket buffer.
    QFile counters(QStringLiteral("/proc/self/net/snmp"));
    QString udpErrors;
    if (counters.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = counters.readAll().split('\n');
        for (int i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i].startsWith("Udp:") && lines[i + 1].startsWith("Udp:")) {
                const QList<QByteArray> names = lines[i].simplified().split(' ');
                const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
                for (int k = 1; k < names.size() && k < values.size(); ++k) {
                    if (names[k] == "InErrors" || names[k] == "RcvbufErrors")
                        udpErrors += QStringLiteral(" %1 %2").arg(
                            QString::fromLatin1(names[k]), QString::fromLatin1(values[k]));
                }
                break;
            }
        }
    }
    if (qEnvironmentVariableIsSet("BENCH_SHOW_MISSING")) {
        QStringList missing;
        for (std::size_t i = 0; i < run.received().size() && missing.size() < 30; ++i) {
            if (!run.received()[i])
                missing << QString::number(i);
        }
        std::printf("missing: %s\n", qPrintable(missing.join(QLatin1Char(' '))));
    }
    std::printf("notifications: %d sent at %.0f/s from a configured card, %d decoded (%.2f %%), %d stray, "
                "send-to-eventTriggered p50 %.1f ms p99 %.1f ms max %.1f ms; UDP%s\n",
        count, rate, decoded, 100.0 * decoded / count, stray, percentile(latencyMs, 50), percentile(latencyMs, 99),
        percentile(latencyMs, 100), qPrintable(udpErrors));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QString why;
    if (!enterPrivateNetworkNamespace(&why)) {
        std::fprintf(stderr, "bench_engine: cannot make a private network namespace: %s\n", qPrintable(why));
        return 1;
    }
    isolateSnmpLibraryFiles();
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (qEnvironmentVariableIsEmpty("VIGILEX_SOURCE_DIR"))
        qputenv("VIGILEX_SOURCE_DIR", VIGILEX_SOURCE_DIR_DEFAULT);
    QCoreApplication app(argc, argv);
    // The engine logs its start lines for every run; keep the figures readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    QList<int> cards {0, 100, 1000, 3000, 5000};
    int traps = 10000;
    double rate = 5000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--cards")) {
            cards.clear();
            for (const QString &n : args[i + 1].split(QLatin1Char(',')))
                cards << std::clamp(n.toInt(), 0, 5000);
        } else if (args[i] == QLatin1String("--traps")) {
            traps = std::clamp(args[i + 1].toInt(), 1, 1000000);
        } else if (args[i] == QLatin1String("--rate")) {
            rate = std::clamp(args[i + 1].toDouble(), 1.0, 100000.0);
        }
    }
    for (int n : cards) {
        if (n == 0)
            benchIdle();
        else
            benchPolling(n);
    }
    benchNotifications(traps, rate);
    return 0;
}
