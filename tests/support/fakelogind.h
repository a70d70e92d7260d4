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

    // A polkit authority on the same bus that answers every CheckAuthorization with allow, and records the
    // action asked for.
    bool registerPolkit(bool allow, QString *error);
    void setPolkitAnswer(bool allow);

    struct Calls
    {
        QStringList authorizations; // the action of each CheckAuthorization
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
    mutable QMutex m_mutex;
    Calls m_calls;
    Behaviour m_behaviour;
};
