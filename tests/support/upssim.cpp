#include "support/upssim.h"

#include "support/scratchapp.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>

UpsSim::UpsSim(const QString &listen, const QStringList &extra) : m_listen(listen), m_extra(extra)
{ }

UpsSim::~UpsSim()
{
    stop();
}

QString UpsSim::script()
{
    return sourceDir() + QStringLiteral("/tools/upssim/upssim");
}

bool UpsSim::start(int timeoutMs)
{
    if (isRunning())
        return true;
    QFile::remove(m_dir.filePath(QStringLiteral("snmpd.log")));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("snmpd.log")));
    m_process.start(QStringLiteral("python3"),
        QStringList {script(), QStringLiteral("start"), m_dir.path(), QStringLiteral("--listen"), m_listen,
            QStringLiteral("--foreground")}
            + m_extra);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    // snmpd prints its version line once every endpoint is bound.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (log().contains(QLatin1String("NET-SNMP version")))
            return true;
        if (m_process.waitForFinished(20))
            return false;
    }
    return false;
}

void UpsSim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const qint64 pid = m_process.processId();
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGCONT);
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool UpsSim::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool UpsSim::setState(const QString &state, int value)
{
    QStringList args {script(), QStringLiteral("state"), m_dir.path(), state};
    if (value >= 0)
        args << QString::number(value);
    QProcess tool;
    tool.start(QStringLiteral("python3"), args);
    return tool.waitForFinished(15000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

QString UpsSim::log() const
{
    QFile file(m_dir.filePath(QStringLiteral("snmpd.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

int UpsSim::requestCount() const
{
    return log().count(QLatin1String("Connection from"));
}

int UpsSim::sendNotification(const QString &kind, int number, const QString &to, int timeoutMs)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral("python3"),
        QStringList {script(), QStringLiteral("trap"), kind, QString::number(number), QStringLiteral("--to"), to});
    if (!tool.waitForFinished(timeoutMs) || tool.exitStatus() != QProcess::NormalExit)
        return -1;
    return tool.exitCode();
}
