#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Helpers of the fault-injection tests: the independent misbehaving peer (faultpeer), a second process that
// holds the database locked, and the memory figure of a process.
namespace FaultKit {

// tests/faults/faultpeer in the source tree.
QString faultPeerScript();

// One faultpeer run ("flood ..." or "card ..."), killed when the object goes.
class Peer
{
public:
    Peer() = default;
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool start(const QStringList &arguments);
    // For "card": waits for its "listening" line.
    bool waitListening(int timeoutMs = 5000);
    // For "flood": waits for the end and returns the number it reports sent (-1 on failure).
    int waitSent(int timeoutMs);
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// A sqlite3 shell holding a write transaction ("begin immediate;") on a database until release().
class LockHolder
{
public:
    ~LockHolder();
    bool hold(const QString &databasePath, int timeoutMs = 5000);
    bool release(int timeoutMs = 5000);

private:
    bool ask(const QByteArray &statements, const QByteArray &answer, int timeoutMs);
    QProcess m_shell;
    QByteArray m_output;
};

// Resident set size of a process in KiB (0 when unknown); pid 0 means this process.
qint64 residentKiB(qint64 pid = 0);

// Datagrams the kernel dropped at full receive queues of the UDP sockets bound to port, in this network
// namespace (the drops column of /proc/net/udp and udp6).
qint64 udpDrops(quint16 port);

// Rows of "select count(*), max(id) from snmp_event" read by an independent sqlite3 process.
struct EventCount
{
    qint64 count = -1;
    qint64 maxId = -1;
};
EventCount countEvents(const QString &databasePath);
// Runs one statement in an independent sqlite3 process and returns its output, trimmed.
QString sqliteQuery(const QString &databasePath, const QString &statement, int timeoutMs = 10000);

} // namespace FaultKit
