#include "support/faultkit.h"

#include "support/scratchapp.h"

#include <QElapsedTimer>
#include <QFile>

namespace FaultKit {

QString faultPeerScript()
{
    return sourceDir() + QStringLiteral("/tests/faults/faultpeer");
}

Peer::~Peer()
{
    stop();
}

bool Peer::start(const QStringList &arguments)
{
    m_output.clear();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("python3"), QStringList {faultPeerScript()} + arguments);
    return m_process.waitForStarted(5000);
}

bool Peer::waitListening(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && isRunning()) {
        m_process.waitForReadyRead(50);
        m_output += m_process.readAllStandardOutput();
        if (m_output.contains("listening"))
            return true;
    }
    return false;
}

int Peer::waitSent(int timeoutMs)
{
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs))
        return -1;
    m_output += m_process.readAllStandardOutput();
    bool ok = false;
    const int sent = m_output.trimmed().toInt(&ok);
    return ok ? sent : -1;
}

void Peer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill(); // our own child, by its own pid
    m_process.waitForFinished(3000);
}

LockHolder::~LockHolder()
{
    if (m_shell.state() != QProcess::NotRunning) {
        m_shell.kill();
        m_shell.waitForFinished(3000);
    }
}

bool LockHolder::ask(const QByteArray &statements, const QByteArray &answer, int timeoutMs)
{
    m_output.clear();
    m_shell.write(statements);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && m_shell.state() == QProcess::Running) {
        m_shell.waitForReadyRead(50);
        m_output += m_shell.readAll();
        if (m_output.contains(answer))
            return true;
    }
    return false;
}

bool LockHolder::hold(const QString &databasePath, int timeoutMs)
{
    m_shell.setProcessChannelMode(QProcess::MergedChannels);
    m_shell.start(QStringLiteral("sqlite3"), QStringList {databasePath});
    if (!m_shell.waitForStarted(timeoutMs))
        return false;
    // The shell answers the select only after the transaction holds the write lock.
    return ask("begin immediate;\nselect 'held';\n", "held", timeoutMs);
}

bool LockHolder::release(int timeoutMs)
{
    if (m_shell.state() != QProcess::Running)
        return false;
    const bool ok = ask("commit;\nselect 'released';\n", "released", timeoutMs);
    m_shell.closeWriteChannel();
    m_shell.waitForFinished(timeoutMs);
    return ok;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

qint64 udpDrops(quint16 port)
{
    qint64 drops = 0;
    const QByteArray local = ':' + QByteArray::number(port, 16).rightJustified(4, '0').toUpper();
    for (const char *table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file {QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 12 && fields.at(1).endsWith(local))
                drops += fields.at(12).toLongLong();
        }
    }
    return drops;
}

QString sqliteQuery(const QString &databasePath, const QString &statement, int timeoutMs)
{
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    // A busy database is waited for a while rather than read as empty.
    shell.start(
        QStringLiteral("sqlite3"), {QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"), databasePath, statement});
    if (!shell.waitForFinished(timeoutMs)) {
        shell.kill();
        shell.waitForFinished(3000);
        return QString();
    }
    return QString::fromUtf8(shell.readAll()).trimmed();
}

EventCount countEvents(const QString &databasePath)
{
    EventCount result;
    const QStringList parts
        = sqliteQuery(databasePath, QStringLiteral("select count(*), ifnull(max(id), 0) from snmp_event;"))
              .split(QLatin1Char('|'));
    if (parts.size() == 2) {
        bool ok1 = false, ok2 = false;
        const qint64 count = parts[0].toLongLong(&ok1);
        const qint64 maxId = parts[1].toLongLong(&ok2);
        if (ok1 && ok2) {
            result.count = count;
            result.maxId = maxId;
        }
    }
    return result;
}

} // namespace FaultKit
