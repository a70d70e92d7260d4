#include "policy/systemshutdown.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QString>

namespace {

std::function<void()> &backend()
{
    static std::function<void()> instance;
    return instance;
}

const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");

// The right to shut down is asked with a blocking call, so a hung bus must not hold the GUI for long.
constexpr int canPowerOffTimeoutMs = 2000;

// On Linux the power-off goes through systemd-logind: it checks the caller's right (polkit), closes the
// sessions and lets inhibitors be overridden where the caller may do so. CanPowerOff answering "yes" is the
// held privilege; "challenge" would need an interactive password, which an unattended shutdown cannot give.
void requestPowerOff()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qWarning() << "System shutdown impossible: no system bus:" << bus.lastError().message();
        return;
    }

    QDBusMessage ask
        = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager, QStringLiteral("CanPowerOff"));
    const QDBusMessage answer = bus.call(ask, QDBus::Block, canPowerOffTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage) {
        qWarning() << "System shutdown impossible: logind does not answer:" << answer.errorMessage();
        return;
    }
    const QString right = answer.arguments().value(0).toString();
    if (right != QLatin1String("yes")) {
        qWarning() << "System shutdown refused: logind CanPowerOff answers" << right
                   << "(a polkit rule for org.freedesktop.login1.power-off is needed)";
        return;
    }

    // Non-interactive. For root, logind ignores inhibitors on PowerOff by default; other callers need
    // power-off-ignore-inhibit, which the shipped polkit rule grants. The reply is awaited on the event loop
    // only to log a refusal; this function returns at once.
    QDBusMessage request
        = QDBusMessage::createMethodCall(login1Service, login1Path, login1Manager, QStringLiteral("PowerOff"));
    request << false;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(request));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *call) {
        if (call->isError())
            qWarning() << "System shutdown refused by logind:" << call->error().name() << call->error().message();
        call->deleteLater();
    });
}

} // namespace

void setShutdownBackend(std::function<void()> replacement)
{
    backend() = std::move(replacement);
}

void shutdownSystem()
{
    if (backend()) {
        backend()();
        return;
    }
    requestPowerOff();
}
