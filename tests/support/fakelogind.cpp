#include "support/fakelogind.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMutexLocker>
#include <QTimer>

namespace {
const QString login1Service = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
} // namespace

// The recording stand-in for logind's manager object. A virtual object, so it needs no meta-object of its
// own. It lives in FakeLogind's thread, where its calls are delivered and its late answers timed.
class FakeLogindManager : public QDBusVirtualObject
{
public:
    FakeLogindManager(FakeLogind *owner, QObject *worker) : m_owner(owner), m_worker(worker) { }

    QString introspect(const QString &) const override
    {
        return QStringLiteral("<interface name=\"org.freedesktop.login1.Manager\">"
                              "<method name=\"CanPowerOff\"><arg type=\"s\" direction=\"out\"/></method>"
                              "<method name=\"PowerOff\"><arg type=\"b\" direction=\"in\"/></method>"
                              "</interface>");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QString member = message.member();
        FakeLogind::Behaviour behaviour;
        {
            QMutexLocker lock(&m_owner->m_mutex);
            behaviour = m_owner->m_behaviour;
            if (member == QLatin1String("CanPowerOff"))
                ++m_owner->m_calls.canPowerOff;
            else if (member == QLatin1String("PowerOff"))
                m_owner->m_calls.powerOff.append(message.arguments().value(0).toBool());
            else if (shutdownMembers().contains(member))
                ++m_owner->m_calls.otherShutdownCalls;
            else
                return false;
        }

        if (member == QLatin1String("CanPowerOff")) {
            answer(connection, message.createReply(behaviour.canPowerOff), behaviour.canPowerOffDelayMs, true);
        } else if (member == QLatin1String("PowerOff") && behaviour.refusePowerOff) {
            answer(connection,
                message.createErrorReply(
                    QDBusError::AccessDenied, QStringLiteral("Interactive authentication required.")),
                behaviour.powerOffDelayMs, false);
        } else {
            answer(connection, message.createReply(),
                member == QLatin1String("PowerOff") ? behaviour.powerOffDelayMs : 0, false);
        }
        return true;
    }

private:
    static QStringList shutdownMembers()
    {
        return {QStringLiteral("PowerOffWithFlags"), QStringLiteral("Reboot"), QStringLiteral("RebootWithFlags"),
            QStringLiteral("Halt"), QStringLiteral("HaltWithFlags"), QStringLiteral("ScheduleShutdown"),
            QStringLiteral("Suspend"), QStringLiteral("Hibernate")};
    }

    void answer(QDBusConnection connection, const QDBusMessage &reply, int delayMs, bool isCanPowerOff)
    {
        FakeLogind *owner = m_owner;
        auto send = [owner, connection, reply, isCanPowerOff]() mutable {
            connection.send(reply);
            if (isCanPowerOff) {
                QMutexLocker lock(&owner->m_mutex);
                ++owner->m_calls.canPowerOffAnswered;
            }
        };
        if (delayMs <= 0) {
            send();
            return;
        }
        QObject *worker = m_worker;
        QMetaObject::invokeMethod(
            worker, [worker, delayMs, send] { QTimer::singleShot(delayMs, worker, send); }, Qt::QueuedConnection);
    }

    FakeLogind *m_owner;
    QObject *m_worker;
};

// The recording stand-in for polkit's authority: CheckAuthorization gives (is_authorized, false, {}). It lives
// in FakeLogind's thread, where its calls are delivered and the held ones answered.
class FakePolkitAuthority : public QDBusVirtualObject
{
public:
    explicit FakePolkitAuthority(FakeLogind *owner) : m_owner(owner) { }

    QString introspect(const QString &) const override { return QString(); }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("CheckAuthorization"))
            return false;
        QMutexLocker lock(&m_owner->m_mutex);
        m_owner->m_calls.authorizations.append(message.arguments().value(1).toString());
        m_owner->m_calls.authorizationFlags.append(message.arguments().value(3).toUInt());
        if (m_owner->m_polkitHeld) {
            m_held.append({message, connection});
            return true;
        }
        answer(message, connection);
        return true;
    }

    // With the owner's mutex held.
    void answer(const QDBusMessage &message, QDBusConnection connection)
    {
        const bool allow
            = m_owner->m_polkitAllows && !m_owner->m_polkitRefused.contains(message.arguments().value(1).toString());
        QDBusArgument result;
        result.beginStructure();
        result << allow << false;
        result.beginMap(QMetaType::QString, QMetaType::QString);
        result.endMap();
        result.endStructure();
        connection.send(message.createReply(QVariant::fromValue(result)));
    }

    // With the owner's mutex held.
    void release()
    {
        for (const auto &held : qAsConst(m_held))
            answer(held.first, held.second);
        m_held.clear();
    }

    int heldCount() const { return m_held.size(); } // with the owner's mutex held

private:
    FakeLogind *m_owner;
    QList<QPair<QDBusMessage, QDBusConnection>> m_held;
};

FakeLogind::FakeLogind() : m_connectionName(QStringLiteral("fakelogind-%1").arg(quintptr(this)))
{
    m_worker.moveToThread(&m_thread);
    m_thread.start();
}

FakeLogind::~FakeLogind()
{
    unregisterService();
    if (m_polkit) {
        QDBusConnection bus(m_connectionName);
        bus.unregisterService(QStringLiteral("org.freedesktop.PolicyKit1"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"));
        m_polkit->deleteLater();
    }
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_thread.quit();
    m_thread.wait();
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

QString FakeLogind::sentinelService()
{
    return QStringLiteral("org.vigilex.TestBus");
}

bool FakeLogind::startAsSystemBus(QString *error)
{
    if (!startBus(error))
        return false;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        *error = bus.lastError().message();
        return false;
    }
    if (!bus.interface()->isServiceRegistered(sentinelService()).value()) {
        *error = QStringLiteral("the system bus is not the private one");
        return false;
    }
    return true;
}

bool FakeLogind::startBus(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QString socket = m_dir.filePath(QStringLiteral("bus"));
    file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <listen>unix:path=");
    file.write(socket.toUtf8());
    file.write("</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <allow own=\"*\"/>\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow receive_sender=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n");
    file.close();

    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--print-address"),
        QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(QIODevice::ReadOnly);
    if (!m_daemon.waitForStarted(5000)) {
        *error = QStringLiteral("dbus-daemon does not start: ") + m_daemon.errorString();
        return false;
    }
    while (!m_daemon.canReadLine()) {
        if (!m_daemon.waitForReadyRead(5000)) {
            *error = QStringLiteral("dbus-daemon prints no address");
            return false;
        }
    }
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    if (!m_address.startsWith(QLatin1String("unix:path=") + socket)) {
        *error = QStringLiteral("unexpected bus address ") + m_address;
        return false;
    }

    QDBusConnection bus = QDBusConnection::connectToBus(m_address, m_connectionName);
    if (!bus.isConnected()) {
        *error = QStringLiteral("cannot connect to the private bus: ") + bus.lastError().message();
        return false;
    }
    if (!bus.registerService(sentinelService())) {
        *error = QStringLiteral("cannot own the sentinel name: ") + bus.lastError().message();
        return false;
    }
    return true;
}

bool FakeLogind::registerService(const Behaviour &behaviour, QString *error)
{
    unregisterService();
    {
        QMutexLocker lock(&m_mutex);
        m_behaviour = behaviour;
    }
    m_manager = new FakeLogindManager(this, &m_worker);
    m_manager->moveToThread(&m_thread);
    QDBusConnection bus(m_connectionName);
    if (!bus.registerVirtualObject(login1Path, m_manager)) {
        *error = QStringLiteral("cannot register the manager object");
        return false;
    }
    if (!bus.registerService(login1Service)) {
        *error = QStringLiteral("cannot own org.freedesktop.login1: ") + bus.lastError().message();
        return false;
    }
    return true;
}

void FakeLogind::unregisterService()
{
    if (!m_manager)
        return;
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(login1Service);
    bus.unregisterObject(login1Path);
    // Deleted in its own thread, after any call it is still answering.
    m_manager->deleteLater();
    m_manager = nullptr;
}

bool FakeLogind::registerPolkit(bool allow, QString *error)
{
    setPolkitAnswer(allow);
    if (m_polkit)
        return true;
    m_polkit = new FakePolkitAuthority(this);
    m_polkit->moveToThread(&m_thread);
    QDBusConnection bus(m_connectionName);
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), m_polkit)) {
        *error = QStringLiteral("cannot register the authority object");
        return false;
    }
    if (!bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1"))) {
        *error = QStringLiteral("cannot own org.freedesktop.PolicyKit1: ") + bus.lastError().message();
        return false;
    }
    return true;
}

void FakeLogind::setPolkitAnswer(bool allow)
{
    QMutexLocker lock(&m_mutex);
    m_polkitAllows = allow;
}

void FakeLogind::setPolkitRefusedActions(const QStringList &actions)
{
    QMutexLocker lock(&m_mutex);
    m_polkitRefused = actions;
}

void FakeLogind::holdPolkit(bool hold)
{
    QMutexLocker lock(&m_mutex);
    m_polkitHeld = hold;
    if (!hold && m_polkit)
        m_polkit->release();
}

int FakeLogind::heldAuthorizations() const
{
    QMutexLocker lock(&m_mutex);
    return m_polkit ? m_polkit->heldCount() : 0;
}

FakeLogind::Calls FakeLogind::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void FakeLogind::resetCalls()
{
    QMutexLocker lock(&m_mutex);
    m_calls = Calls();
}
