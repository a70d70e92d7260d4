#include "policy/systemshutdown.h"

#include "policy/systemmessages.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QPointer>

namespace {

std::function<void()> &backend()
{
    static std::function<void()> instance;
    return instance;
}

const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

// Nothing here waits on the GUI thread: a hung bus must not stop the lamps, the events or a countdown.
constexpr int canPowerOffTimeoutMs = 2000;

struct Reporter
{
    QPointer<QObject> context;
    bool hasContext = false;
    ShutdownProblemHandler handler;

    void operator()(ShutdownProblem problem, const QString &detail) const
    {
        if (handler && (!hasContext || context))
            handler(problem, detail);
    }
};

Reporter reporter(QObject *context, ShutdownProblemHandler handler)
{
    return Reporter {QPointer<QObject>(context), context != nullptr, std::move(handler)};
}

// CanPowerOff, asynchronously; then(bus) runs only when the answer is "yes". "challenge" would need an
// interactive password, which an unattended shutdown cannot give.
void askPowerOffRight(const Reporter &report, std::function<void(QDBusConnection)> then)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        const QString detail = bus.lastError().message();
        qWarning() << "System shutdown impossible: no system bus:" << detail;
        report(ShutdownProblem::NoSystemBus, detail);
        return;
    }
    QDBusMessage ask
        = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager, QStringLiteral("CanPowerOff"));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, canPowerOffTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [report, then = std::move(then), bus](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            const QDBusPendingReply<QString> answer = *call;
            if (answer.isError()) {
                const QString detail = answer.error().message();
                qWarning() << "System shutdown impossible: logind does not answer:" << detail;
                report(ShutdownProblem::NoAnswer, detail);
                return;
            }
            const QString right = answer.value();
            if (right != QLatin1String("yes")) {
                qWarning() << "System shutdown refused: logind CanPowerOff answers" << right
                           << "(a polkit rule for org.freedesktop.login1.power-off is needed)";
                report(ShutdownProblem::NotPermitted, right);
                return;
            }
            if (then)
                then(bus);
        });
}

// On Linux the power-off goes through systemd-logind: it checks the caller's right (polkit), closes the
// sessions and lets inhibitors be overridden where the caller may do so.
void requestPowerOff(const Reporter &report)
{
    askPowerOffRight(report, [report](QDBusConnection bus) {
        // Non-interactive. For root, logind ignores inhibitors on PowerOff by default; other callers need
        // power-off-ignore-inhibit, which the shipped polkit rule grants.
        QDBusMessage request
            = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager, QStringLiteral("PowerOff"));
        request << false;
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(request));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [report](QDBusPendingCallWatcher *call) {
            call->deleteLater();
            if (!call->isError())
                return;
            qWarning() << "System shutdown refused by logind:" << call->error().name() << call->error().message();
            report(ShutdownProblem::Refused, call->error().message());
        });
    });
}

} // namespace

void setShutdownBackend(std::function<void()> replacement)
{
    backend() = std::move(replacement);
}

void shutdownSystem(QObject *context, ShutdownProblemHandler onProblem)
{
    if (backend()) {
        backend()();
        return;
    }
    requestPowerOff(reporter(context, std::move(onProblem)));
}

void checkPowerOffRight(QObject *context, ShutdownProblemHandler onProblem)
{
    if (backend())
        return;
    askPowerOffRight(reporter(context, std::move(onProblem)), {});
}

SystemMessage shutdownProblemMessage(ShutdownProblem problem, const QString &detail)
{
    switch (problem) {
    case ShutdownProblem::NoSystemBus:
        return {QString::fromLatin1(SystemMessages::noSystemBus), {detail}};
    case ShutdownProblem::NoAnswer:
        return {QString::fromLatin1(SystemMessages::logindSilent), {detail}};
    case ShutdownProblem::NotPermitted:
        return {QString::fromLatin1(SystemMessages::powerOffNotPermitted), {detail}};
    case ShutdownProblem::Refused:
        return {QString::fromLatin1(SystemMessages::powerOffRefused), {detail}};
    }
    return {};
}

QString shutdownProblemText(ShutdownProblem problem, const QString &detail)
{
    // Shown in the window's event table under "System", so translated in its context.
    return SystemMessages::text(shutdownProblemMessage(problem, detail));
}
