#include "ui/desktopnotifier.h"

#include "backend/protectionbackend.h"
#include "policy/systemmessages.h"
#include "snmp/snmpinfo.h"
#include "storage/settingkeys.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

namespace {
constexpr char appName[] = "SNMP Vigilex";
// The icon and desktop entry the package installs under this name.
constexpr char iconName[] = "vigilex";
constexpr uchar urgencyNormal = 1;
constexpr uchar urgencyCritical = 2;

// Without an address or the per-user socket, libdbus would try to autolaunch a bus: a process started and
// waited for on the GUI thread, for nothing.
QDBusConnection sessionBus()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && (runtime.isEmpty() || !QFileInfo::exists(QFile::decodeName(runtime) + QLatin1String("/bus"))))
        return QDBusConnection(QStringLiteral("no session bus"));
    return QDBusConnection::sessionBus();
}

QString cardKey(const QString &host)
{
    return QLatin1String("card:") + host;
}
} // namespace

DesktopNotifier::DesktopNotifier(ProtectionBackend *backend, QObject *parent) : QObject(parent), m_backend(backend)
{
    readSetting();
}

DesktopNotifier::DesktopNotifier(ProtectionBackend *backend, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_backend(backend), m_bus(std::make_unique<QDBusConnection>(bus))
{
    readSetting();
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setServiceGraceMs(int ms)
{
    m_serviceGraceMs = ms;
    if (m_serviceGrace.isActive())
        m_serviceGrace.start(ms);
}

int DesktopNotifier::callsInFlight() const
{
    int calls = 0;
    for (const Channel &channel : m_channels)
        calls += channel.inFlight ? 1 : 0;
    return calls;
}

void DesktopNotifier::readSetting()
{
    // Unreachable, a front end's read fails at once: the default holds until the service answers.
    m_backend->readSettings({QLatin1String(SettingKeys::desktopNotify)}, this,
        [this](const BackendReply &reply, const QVariantMap &values) {
            const QString key = QLatin1String(SettingKeys::desktopNotify);
            bool enabled = m_enabled;
            if (reply.ok)
                enabled = values.value(key, SettingKeys::defaultValue(key)).toBool();
            if (m_started)
                m_enabled = enabled;
            else
                start(enabled);
        });
}

// Follows the backend only from here, so that what holds at the start is judged once, with the setting known.
void DesktopNotifier::start(bool enabled)
{
    m_started = true;
    m_enabled = enabled;
    ProtectionBackend *backend = m_backend;
    connect(backend, &ProtectionBackend::hostsChanged, this, [this] { takeCards(); });
    connect(backend, &ProtectionBackend::statusChanged, this, &DesktopNotifier::takeStatus);
    connect(backend, &ProtectionBackend::dataChanged, this, &DesktopNotifier::takeData);
    connect(backend, &ProtectionBackend::countdownChanged, this, &DesktopNotifier::takeCountdown);
    connect(backend, &ProtectionBackend::shutdownRefusalChanged, this, &DesktopNotifier::takeRefusal);
    connect(backend, &ProtectionBackend::systemMessage, this, &DesktopNotifier::takeMessage);
    connect(backend, &ProtectionBackend::reachableChanged, this, &DesktopNotifier::takeReachable);
    connect(backend, &ProtectionBackend::settingChanged, this, [this](const QString &key, const QVariant &value) {
        if (key == QLatin1String(SettingKeys::desktopNotify))
            m_enabled = (value.isValid() ? value : SettingKeys::defaultValue(key)).toBool();
    });

    if (!backend->isReachable()) {
        // A front end reaches the service a moment after its start; only a service that stays away is news.
        m_serviceGrace.setSingleShot(true);
        connect(&m_serviceGrace, &QTimer::timeout, this, [this] {
            if (m_backend->isReachable() || m_serviceSeen)
                return;
            m_serviceLost = true;
            notify(QStringLiteral("service"),
                {tr("Protection service not running"),
                    tr("This machine is not protected until the protection service runs."), true});
        });
        m_serviceGrace.start(m_serviceGraceMs);
        return;
    }
    m_serviceSeen = true;
    takeCards();
    takeCountdown(backend->countdownMs());
    takeRefusal(backend->shutdownRefusal());
}

void DesktopNotifier::takeCards()
{
    const QList<CardState> cards = m_backend->cards();
    QHash<QString, Card> listed;
    for (const CardState &card : cards)
        listed.insert(card.host, m_cards.value(card.host));
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it) {
        if (!listed.contains(it.key()))
            m_channels.remove(cardKey(it.key()));
    }
    m_cards = listed;
    for (const CardState &card : cards) {
        if (card.status >= 0)
            takeStatus(card.host, card.status);
        if (!card.data.isEmpty())
            takeData(card.host, card.data);
    }
}

void DesktopNotifier::takeStatus(const QString &host, int status)
{
    auto it = m_cards.find(host);
    if (it == m_cards.end() || it->status == status)
        return;
    it->status = status;
    // Offline from the start is trouble too; coming online is told by the power state its first report brings.
    if (status != Snmp::Offline)
        return;
    it->power = Power::Unknown;
    it->offlineTold = true;
    notify(cardKey(host),
        {tr("UPS card offline: %1").arg(host),
            tr("The card at %1 does not answer; what its UPS does is unknown.").arg(host), true});
}

void DesktopNotifier::takeData(const QString &host, const QByteArray &data)
{
    auto it = m_cards.find(host);
    if (it == m_cards.end() || data.size() < Snmp::PolledObjectCount)
        return;
    Card &card = *it;
    // As the lamp: a value the answer lacks keeps the last known one.
    if (Snmp::isKnown(data, Snmp::BatteryStatus))
        card.battery = data.at(Snmp::BatteryStatus);
    if (Snmp::isKnown(data, Snmp::InputStatus))
        card.input = data.at(Snmp::InputStatus);
    card.known |= Snmp::knownMask(data) & ((1u << Snmp::BatteryStatus) | (1u << Snmp::InputStatus));
    // The report of a card that is not online (a snapshot's last one) says nothing about its power now.
    if (card.status != Snmp::Online || card.known == 0)
        return;

    Power power = Power::Normal;
    if ((card.known >> Snmp::BatteryStatus & 1u) && card.battery == Snmp::BatteryLow)
        power = Power::BatteryLow;
    else if ((card.known >> Snmp::InputStatus & 1u) && card.input != Snmp::InputNormal)
        power = Power::MainsFailure;
    const Power before = card.power;
    if (power == before)
        return;
    card.power = power;
    const bool back = card.offlineTold;
    card.offlineTold = false;
    switch (power) {
    case Power::BatteryLow:
        notify(cardKey(host),
            {tr("Battery low: %1").arg(host),
                tr("The UPS at %1 reports a low battery; its power may end soon.").arg(host), true});
        break;
    case Power::MainsFailure:
        // Still on battery, only no longer low: nothing new to tell.
        if (before != Power::BatteryLow)
            notify(cardKey(host),
                {tr("Mains failure: %1").arg(host), tr("The UPS at %1 runs on battery.").arg(host), true});
        break;
    case Power::Normal:
        if (back)
            notify(cardKey(host),
                {tr("UPS card answers again: %1").arg(host),
                    tr("The card at %1 answers again; its UPS runs on mains power.").arg(host), false});
        else if (before != Power::Unknown)
            notify(cardKey(host),
                {tr("Mains back: %1").arg(host), tr("The UPS at %1 runs on mains power again.").arg(host), false});
        break;
    case Power::Unknown:
        break;
    }
}

void DesktopNotifier::takeCountdown(qint64 remainingMs)
{
    const bool running = remainingMs >= 0;
    if (running == m_countdown)
        return;
    m_countdown = running;
    if (!running)
        return; // a cancellation says so in its own message; a countdown that ran out goes on as the shutdown
    const int minutes = int((remainingMs + 59999) / 60000);
    notify(QStringLiteral("shutdown"),
        {tr("Shutdown in %n minute(s)", nullptr, minutes),
            tr("This machine shuts down in %n minute(s) unless the power comes back.", nullptr, minutes), true});
}

void DesktopNotifier::takeRefusal(const SystemMessage &refusal)
{
    const QString text = refusal.isEmpty() ? QString() : SystemMessages::text(refusal);
    if (text == m_refusal)
        return;
    m_refusal = text;
    if (!text.isEmpty())
        notify(QStringLiteral("shutdown"), {tr("Shutdown due but refused"), text, true});
}

void DesktopNotifier::takeMessage(const SystemMessage &message)
{
    if (message.id == QLatin1String(SystemMessages::countdownCanceled))
        notify(QStringLiteral("shutdown"),
            {tr("Shutdown canceled"), tr("The system shutdown is canceled; this machine stays on."), false});
}

void DesktopNotifier::takeReachable(bool reachable)
{
    if (!reachable) {
        if (!m_serviceLost)
            notify(QStringLiteral("service"),
                {tr("Protection service stopped"),
                    tr("This machine is not protected until the protection service runs again."), true});
        m_serviceLost = true;
        return;
    }
    m_serviceSeen = true;
    m_serviceGrace.stop();
    if (m_serviceLost)
        notify(
            QStringLiteral("service"), {tr("Protection service back"), tr("This machine is protected again."), false});
    m_serviceLost = false;
    readSetting();
    takeCards();
    takeCountdown(m_backend->countdownMs());
    takeRefusal(m_backend->shutdownRefusal());
}

void DesktopNotifier::notify(const QString &key, const Note &note)
{
    if (!m_enabled)
        return;
    Channel &channel = m_channels[key];
    channel.next = note;
    channel.queued = true;
    // The id of the one in flight is not known yet: the newest waits for it, so that it replaces it.
    if (!channel.inFlight)
        send(key);
}

void DesktopNotifier::send(const QString &key)
{
    Channel &channel = m_channels[key];
    channel.queued = false;
    if (!m_bus)
        m_bus = std::make_unique<QDBusConnection>(sessionBus());
    if (!m_bus->isConnected()) {
        if (!m_silentLogged) {
            const QString why = m_bus->lastError().message();
            qWarning("No desktop notifications: no session bus%s",
                qPrintable(why.isEmpty() ? why : QLatin1String(" (") + why + QLatin1Char(')')));
        }
        m_silentLogged = true;
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(service), QLatin1String(path), QLatin1String(service), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(channel.next.urgent ? urgencyCritical : urgencyNormal));
    hints.insert(QStringLiteral("desktop-entry"), QLatin1String(iconName));
    call << QLatin1String(appName) << channel.id << QLatin1String(iconName) << channel.next.summary << channel.next.body
         << QStringList() << hints << -1;
    channel.inFlight = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, key](QDBusPendingCallWatcher *w) { answered(key, w); });
}

void DesktopNotifier::answered(const QString &key, QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    auto it = m_channels.find(key);
    if (it == m_channels.end())
        return; // the card was removed meanwhile
    it->inFlight = false;
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        // Without a server every notification fails alike: one line until one gets through again.
        if (!m_silentLogged)
            qWarning("No desktop notifications: %s", qPrintable(reply.error().message()));
        m_silentLogged = true;
    } else {
        m_silentLogged = false;
        it->id = reply.value();
    }
    if (it->queued)
        send(key);
}
