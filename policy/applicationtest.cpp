#include "policy/applicationtest.h"

#include "policy/applicationtrust.h"
#include "policy/shutdownprocess.h"
#include "storage/settingkeys.h"

#include <QDebug>

namespace {
// As long as the outage gives a stopped application to end before its group is killed.
constexpr int killGraceMs = 5000;
} // namespace

ApplicationTest::ApplicationTest(QObject *parent) : QObject(parent), m_process(new ShutdownProcess)
{
    m_limit.setSingleShot(true);
    m_limit.setTimerType(Qt::PreciseTimer);
    connect(&m_limit, &QTimer::timeout, this, [this] {
        qWarning() << "Tested shutdown application still runs after its maximum execution time, stopping it";
        m_process->stopGroup(killGraceMs);
    });
    // Nobody reads its output, as in an outage.
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A crash is followed by finished; only a start that failed ends here.
        if (error == QProcess::FailedToStart)
            finish(-1, QProcess::CrashExit, QStringLiteral("cannot be started: ") + m_process->errorString());
    });
    connect(m_process.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
        [this](int exitCode, QProcess::ExitStatus exitStatus) { finish(exitCode, exitStatus, QString()); });
}

ApplicationTest::~ApplicationTest()
{
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->killGroup();
        m_process->waitForFinished(killGraceMs);
    }
}

void ApplicationTest::setMinuteMs(qint64 ms)
{
    m_minuteMs = ms;
}

bool ApplicationTest::isRunning() const
{
    return m_running;
}

void ApplicationTest::start(const QString &path, int minutes)
{
    QString refusal;
    if (m_running)
        refusal = QStringLiteral("a test of the shutdown application is running already");
    if (refusal.isEmpty())
        refusal = SettingKeys::refusal(QStringLiteral("system/shutdown_exec_time"), minutes);
    if (refusal.isEmpty())
        refusal = shutdownApplicationRefusal(path);
    if (!refusal.isEmpty()) {
        qInfo().noquote() << "Test of shutdown application" << path << "refused:" << refusal;
        // Later, as for a run: the caller connects before or after start() alike.
        QMetaObject::invokeMethod(
            this, [this, refusal] { emit finished(-1, QProcess::NormalExit, 0, refusal); }, Qt::QueuedConnection);
        return;
    }
    qInfo().noquote() << "Testing shutdown application" << path;
    m_running = true;
    m_clock.start();
    m_limit.start(int(qMin<qint64>(qint64(minutes) * m_minuteMs, INT_MAX)));
    // As the outage runs it: the path is the program itself, no arguments.
    m_process->setProgram(path);
    m_process->setArguments(QStringList());
    prepareShutdownApplicationEnvironment(*m_process);
    m_process->start(QIODevice::ReadWrite);
}

void ApplicationTest::finish(int exitCode, int exitStatus, const QString &refusal)
{
    if (!m_running)
        return;
    m_running = false;
    m_limit.stop();
    const qint64 elapsed = m_clock.elapsed();
    qInfo("Tested shutdown application ended: code %d, status %d, %lld ms", exitCode, exitStatus, elapsed);
    emit finished(exitCode, exitStatus, elapsed, refusal);
}
