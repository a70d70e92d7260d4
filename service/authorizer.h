#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include <functional>

class QObject;

// Asks polkit whether the sender of a bus call may make a change: CheckAuthorization for the caller's
// system-bus-name subject, answered without blocking. An administrator who is not granted the action by a
// rule may be asked for a password by the caller's agent, so the answer may take as long as a person does.
// GUI thread (the service's main thread) only.
class Authorizer
{
public:
    static constexpr char configureAction[] = "org.vigilex.protection1.configure";

    explicit Authorizer(const QDBusConnection &bus);

    // done runs on this thread while context lives: allowed, or the reason why not.
    void check(
        const QDBusMessage &request, QObject *context, std::function<void(bool allowed, const QString &why)> done);

private:
    QDBusConnection m_bus;
};
