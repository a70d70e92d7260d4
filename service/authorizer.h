#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

#include <functional>

class QObject;

// Asks polkit whether the sender of a bus call may make a change: CheckAuthorization of one of our actions for
// the caller's system-bus-name subject, answered without blocking. polkitd answers that only to root or to
// the action's owner, which the policy file names as the service's user. Whoever no rule grants the action
// may be asked for an administrator's password by the caller's agent, so the answer may take as long as a
// person does. GUI thread (the service's main thread) only.
class Authorizer
{
public:
    // The cards, the settings and the stored events.
    static constexpr char configureAction[] = "org.vigilex.protection1.configure";
    // What the service runs as its own user at an outage, or at once in a test: an administrator's choice.
    static constexpr char configureApplicationAction[] = "org.vigilex.protection1.configure-application";

    explicit Authorizer(const QDBusConnection &bus);

    // done runs on this thread while context lives: allowed, or the reason why not.
    void check(const QDBusMessage &request, const QString &action, QObject *context,
        std::function<void(bool allowed, const QString &why)> done);

private:
    QDBusConnection m_bus;
};
