#pragma once

#include <QMutex>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

class FakeLogindManager;
class FakePolkitAuthority;

// A private D-Bus daemon started for a test, on which the test can put its own org.freedesktop.login1 that
// records the power-off calls instead of making them. Calls are answered off the test's thread, so a
// blocking call from the test's thread reaches it.
// Make the daemon the process's system bus by setting DBUS_SYSTEM_BUS_ADDRESS to address() before anything
// in the process touches QDBusConnection::systemBus().
class FakeLogind
{
public:
    FakeLogind();
    ~FakeLogind();

    // Starts the daemon; false with a reason when it cannot.
    bool startBus(QString *error);
    QString address() const { return m_address; }
    // startBus(), then the daemon as this process's system bus, checked to be reached (the sentinel is seen);
    // call it before anything touches QDBusConnection::systemBus().
    bool startAsSystemBus(QString *error);
    // A name owned on the private bus from the start: proof that a connection reached this daemon.
    static QString sentinelService();

    struct Behaviour
    {
        QString canPowerOff = QStringLiteral("yes");
        int canPowerOffDelayMs = 0; // how long CanPowerOff takes to answer
        int powerOffDelayMs = 0; // how long PowerOff takes to answer
        bool refusePowerOff = false; // answer PowerOff with an access-denied error
    };
    bool registerService(const Behaviour &behaviour, QString *error);
    void unregisterService();

    // A polkit authority on the same bus that answers every CheckAuthorization with allow (or refuse), and
    // records the action asked for. It is for speed only: the real polkitd also answers only a caller that is
    // root or the action's owner (org.freedesktop.policykit.owner) when the subject is another process, and
    // its auth_admin_keep needs an authentication agent in the subject's session, without which it refuses
    // with a challenge. Neither is modelled here.
    bool registerPolkit(bool allow, QString *error);
    void setPolkitAnswer(bool allow);
    // These actions are refused whatever the answer: a caller the group's rule lets change the protection,
    // but not the shutdown application.
    void setPolkitRefusedActions(const QStringList &actions);
    // While held, CheckAuthorization stays unanswered, as while a person types a password; releasing answers
    // what waits with the answer set then.
    void holdPolkit(bool hold);
    int heldAuthorizations() const;

    struct Calls
    {
        QStringList authorizations; // the action of each CheckAuthorization
        QList<uint> authorizationFlags; // its flags (1 allows user interaction)
        int canPowerOff = 0; // started
        int canPowerOffAnswered = 0;
        QList<bool> powerOff; // the interactive argument of each PowerOff
        int otherShutdownCalls = 0; // PowerOffWithFlags, Reboot and friends
    };
    Calls calls() const;
    void resetCalls();

private:
    friend class FakeLogindManager;
    friend class FakePolkitAuthority;
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_connectionName;
    QThread m_thread;
    QObject m_worker; // lives in m_thread; times the late answers
    FakeLogindManager *m_manager = nullptr;
    FakePolkitAuthority *m_polkit = nullptr;
    bool m_polkitAllows = true;
    QStringList m_polkitRefused;
    bool m_polkitHeld = false;
    mutable QMutex m_mutex;
    Calls m_calls;
    Behaviour m_behaviour;
};
