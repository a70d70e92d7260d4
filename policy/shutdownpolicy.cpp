#include "policy/shutdownpolicy.h"

#include <QTimer>

// Placeholder until the policy lands.
struct ShutdownPolicy::Private
{
    QTimer timer;
    QProcess process;
};

ShutdownPolicy::ShutdownPolicy(QObject *parent)
    : QObject(parent)
    , d(new Private)
{
}
ShutdownPolicy::~ShutdownPolicy() = default;
void ShutdownPolicy::checkShutdownCondition(const QByteArray &) { }
void ShutdownPolicy::setMinuteMs(qint64) { }
void ShutdownPolicy::setShutdownHandler(std::function<void()>) { }
bool ShutdownPolicy::countdownActive() const { return false; }
bool ShutdownPolicy::applicationHandled() const { return false; }
QTimer *ShutdownPolicy::shutdownTimer() const { return &d->timer; }
QProcess *ShutdownPolicy::shutdownProcess() const { return &d->process; }
void ShutdownPolicy::onOffAPPTimeout() { }
void ShutdownPolicy::onOffAPPError(QProcess::ProcessError) { }
void ShutdownPolicy::onOffAPPFinished(int, QProcess::ExitStatus) { }
