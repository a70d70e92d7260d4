#include "service/protectionclient.h"

#include "protectionproxy.h"
#include "service/protectionservice.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QPointer>

namespace {
QPointer<ProtectionClient> s_active;

// A change waits for polkit, which may ask an administrator for a password first.
constexpr int changeTimeoutMs = 120000;

// The dialogs want the answer before they go on, but the window must not stand still meanwhile (polkit may be
// asking for a password): the lamps, the rows and the clock go on, only the user's input waits.
template<typename Reply> bool succeeded(Reply &reply, QString *error, bool *unauthorized = nullptr)
{
    if (!reply.isFinished()) {
        QEventLoop loop;
        QDBusPendingCallWatcher watcher(reply);
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    reply.waitForFinished();
    if (unauthorized)
        *unauthorized = reply.isError() && reply.error().name() == ProtectionService::notAuthorizedError();
    if (reply.isError()) {
        if (error)
            *error = reply.error().message();
        return false;
    }
    return true;
}
} // namespace

ProtectionClient::ProtectionClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent),
      m_bus(bus),
      m_proxy(new ProtectionProxy(ProtectionService::serviceName(), ProtectionService::objectPath(), bus)),
      m_watcher(new QDBusServiceWatcher(ProtectionService::serviceName(), bus,
          QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this))
{
    registerBusTypes();
    m_proxy->setTimeout(callTimeoutMs);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { setAvailable(true); });
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { setAvailable(false); });
    connect(m_proxy.get(), &ProtectionProxy::EventArrived, this, &ProtectionClient::eventArrived);
    connect(m_proxy.get(), &ProtectionProxy::StatusChanged, this, &ProtectionClient::statusChanged);
    connect(m_proxy.get(), &ProtectionProxy::AuthenticationChanged, this, &ProtectionClient::authenticationChanged);
    connect(m_proxy.get(), &ProtectionProxy::DataChanged, this, &ProtectionClient::dataReady);
    connect(m_proxy.get(), &ProtectionProxy::HostsChanged, this, &ProtectionClient::hostsChanged);
    connect(m_proxy.get(), &ProtectionProxy::SystemMessage, this,
        [this](const QString &id, const QStringList &args, qlonglong countdownMs) {
            emit systemMessage(SystemMessages::text({id, args}));
            emit countdownChanged(countdownMs);
        });
    connect(m_proxy.get(), &ProtectionProxy::StoringChanged, this,
        [this](bool failing) { failing ? emit storingFailed() : emit storingRecovered(); });
    // Asked once without waiting; the watcher reports every change after that.
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.interface()->asyncCall(QStringLiteral("NameHasOwner"), ProtectionService::serviceName()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        QDBusPendingReply<bool> reply = *watcher;
        if (!reply.isError() && reply.value() && !m_available)
            setAvailable(true);
    });
}

ProtectionClient::~ProtectionClient() = default;

bool ProtectionClient::serviceRunning(const QDBusConnection &bus, int timeoutMs)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("NameHasOwner"));
    call << ProtectionService::serviceName();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

ProtectionClient *ProtectionClient::active()
{
    return s_active.data();
}

void ProtectionClient::makeActive()
{
    s_active = this;
}

bool ProtectionClient::isAvailable() const
{
    return m_available;
}

void ProtectionClient::setAvailable(bool available)
{
    if (available == m_available)
        return;
    m_available = available;
    if (!available) {
        emit serviceLost();
        return;
    }
    emit serviceFound();
    fetchSnapshot();
}

void ProtectionClient::fetchSnapshot()
{
    auto *cards = new QDBusPendingCallWatcher(m_proxy->Cards(), this);
    connect(cards, &QDBusPendingCallWatcher::finished, this, [this, cards] {
        cards->deleteLater();
        QDBusPendingReply<QList<CardState>> reply = *cards;
        if (reply.isError())
            return;
        const QList<CardState> states = reply.value();
        QStringList hosts;
        for (const CardState &card : states)
            hosts.append(card.host);
        emit hostsChanged(hosts);
        for (const CardState &card : states) {
            if (card.status >= 0)
                emit statusChanged(card.host, card.status);
            if (!card.data.isEmpty())
                emit dataReady(card.host, card.data);
        }
    });
    auto *countdown = new QDBusPendingCallWatcher(m_proxy->Countdown(), this);
    connect(countdown, &QDBusPendingCallWatcher::finished, this, [this, countdown] {
        countdown->deleteLater();
        QDBusPendingReply<qlonglong> reply = *countdown;
        if (!reply.isError())
            emit countdownChanged(reply.value());
    });
}

QVariant ProtectionClient::setting(const QString &key, QString *error)
{
    QDBusPendingReply<bool, QDBusVariant> reply = m_proxy->Setting(key);
    if (!succeeded(reply, error) || !reply.argumentAt<0>())
        return QVariant();
    return reply.argumentAt<1>().variant();
}

bool ProtectionClient::setSetting(const QString &key, const QVariant &value, QString *error, bool *unauthorized)
{
    m_proxy->setTimeout(changeTimeoutMs);
    QDBusPendingReply<> reply = m_proxy->SetSetting(key, QDBusVariant(value));
    m_proxy->setTimeout(callTimeoutMs);
    return succeeded(reply, error, unauthorized);
}

QList<SNMPInfo> ProtectionClient::hosts(QString *error)
{
    QList<SNMPInfo> result;
    QDBusPendingReply<QList<StoredCard>> reply = m_proxy->Hosts();
    if (!succeeded(reply, error))
        return result;
    for (const StoredCard &card : reply.value())
        result.append(card.info);
    return result;
}

bool ProtectionClient::host(const QString &ip, SNMPInfo *info, QString *error, Secrets *secrets)
{
    QDBusPendingReply<int, int, bool, int, int, bool, bool> reply = m_proxy->Host(ip);
    if (!succeeded(reply, error))
        return false;
    *info = SNMPInfo();
    info->ip = ip;
    info->port = reply.argumentAt<0>();
    info->version = reply.argumentAt<1>();
    info->authType = reply.argumentAt<3>();
    info->privType = reply.argumentAt<4>();
    if (secrets)
        *secrets = {reply.argumentAt<2>(), reply.argumentAt<5>(), reply.argumentAt<6>()};
    return true;
}

bool ProtectionClient::addHost(const SNMPInfo &info, QString *error, bool *unauthorized)
{
    m_proxy->setTimeout(changeTimeoutMs);
    QDBusPendingReply<> reply = m_proxy->AddHost(
        info.ip, info.port, info.version, info.community, info.authType, info.privType, info.userName, info.password);
    m_proxy->setTimeout(callTimeoutMs);
    return succeeded(reply, error, unauthorized);
}

bool ProtectionClient::modifyHost(const SNMPInfo &info, const QString &oldIp, QString *error, bool *unauthorized)
{
    m_proxy->setTimeout(changeTimeoutMs);
    QDBusPendingReply<> reply = m_proxy->ModifyHost(oldIp, info.ip, info.port, info.version, info.community,
        info.authType, info.privType, info.userName, info.password);
    m_proxy->setTimeout(callTimeoutMs);
    return succeeded(reply, error, unauthorized);
}

bool ProtectionClient::removeHost(const QString &ip, QString *error, bool *unauthorized)
{
    m_proxy->setTimeout(changeTimeoutMs);
    QDBusPendingReply<> reply = m_proxy->RemoveHost(ip);
    m_proxy->setTimeout(callTimeoutMs);
    return succeeded(reply, error, unauthorized);
}

bool ProtectionClient::events(qint64 from, qint64 to, QList<Event> *events, QString *error)
{
    QDBusPendingReply<QVector<StoredEvent>> reply = m_proxy->Events(from, to);
    if (!succeeded(reply, error))
        return false;
    for (const StoredEvent &event : reply.value())
        events->append({event.date, event.host, event.event});
    return true;
}

bool ProtectionClient::clearEvents(QString *error, bool *unauthorized)
{
    m_proxy->setTimeout(changeTimeoutMs);
    QDBusPendingReply<> reply = m_proxy->ClearEvents();
    m_proxy->setTimeout(callTimeoutMs);
    return succeeded(reply, error, unauthorized);
}

QList<Protection::Card> ProtectionClient::cards(QString *error)
{
    QList<Protection::Card> result;
    QDBusPendingReply<QList<CardState>> reply = m_proxy->Cards();
    if (!succeeded(reply, error))
        return result;
    for (const CardState &card : reply.value())
        result.append({card.host, card.status, card.data});
    return result;
}

void ProtectionClient::testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done)
{
    // Polkit may ask for a password first, then the application has its whole time and the grace after it.
    m_proxy->setTimeout(int(qMin<qint64>(changeTimeoutMs + qint64(minutes) * 60000 + 30000, INT_MAX)));
    auto *watcher = new QDBusPendingCallWatcher(m_proxy->TestShutdownApplication(path, minutes), context);
    m_proxy->setTimeout(callTimeoutMs);
    connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, done] {
        watcher->deleteLater();
        QDBusPendingReply<int, int, qlonglong, QString> reply = *watcher;
        if (reply.isError()) {
            done(-1, 0, 0, QString(), reply.error().message(),
                reply.error().name() == ProtectionService::notAuthorizedError());
            return;
        }
        done(reply.argumentAt<0>(), reply.argumentAt<1>(), reply.argumentAt<2>(), reply.argumentAt<3>(), QString(),
            false);
    });
}
