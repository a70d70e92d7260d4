#include "service/protectionservice.h"

#include "backend/localbackend.h"
#include "policy/protection.h"
#include "protection1adaptor.h"
#include "storage/nutusers.h"
#include "storage/settingkeys.h"

#include <QDBusConnectionInterface>
#include <QSet>

namespace {
const QString invalidArgument = QStringLiteral("org.vigilex.Protection1.Error.InvalidArgument");
const QString notAuthorized = QStringLiteral("org.vigilex.Protection1.Error.NotAuthorized");
const QString failed = QStringLiteral("org.vigilex.Protection1.Error.Failed");

// The file holds text; the bus carries the key's type, unless the text is none of it (a hand edit), which a
// front end then sees as it stands.
QVariant typed(const QString &key, const QVariant &stored)
{
    // Secrets go in, never out.
    if (key == QLatin1String(SettingKeys::nutUsers))
        return NutUsers::withoutPasswords(stored);
    QVariant value;
    return stored.isValid() && SettingKeys::refusal(key, stored, &value).isEmpty() ? value : stored;
}
} // namespace

QString ProtectionService::serviceName()
{
    return QStringLiteral("org.vigilex.Protection1");
}

QString ProtectionService::objectPath()
{
    return QStringLiteral("/org/vigilex/Protection1");
}

QString ProtectionService::invalidArgumentError()
{
    return invalidArgument;
}

QString ProtectionService::notAuthorizedError()
{
    return notAuthorized;
}

QString ProtectionService::failedError()
{
    return failed;
}

ProtectionService::ProtectionService(LocalBackend *backend, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_backend(backend), m_bus(bus), m_authorizer(bus)
{
    registerBusTypes();
    new Protection1Adaptor(this); // relays this object's signals by itself

    // Only what a reader of the log would find: the signal follows the commit.
    connect(backend->protection(), &Protection::eventStored, this,
        [this](const QString &host, int event, qint64 at) { emit EventArrived(host, event, at); });
    connect(backend, &ProtectionBackend::statusChanged, this, &ProtectionService::StatusChanged);
    connect(backend, &ProtectionBackend::authenticationChanged, this, &ProtectionService::AuthenticationChanged);
    // Each card answers every second; only what a front end would show differently goes out.
    connect(backend, &ProtectionBackend::dataChanged, this, [this](const QString &host, const QByteArray &data) {
        QByteArray &sent = m_sentData[host];
        if (sent == data)
            return;
        sent = data;
        emit DataChanged(host, data);
    });
    connect(backend, &ProtectionBackend::systemMessage, this, [this](const ::SystemMessage &message) {
        qInfo("System: %s", qPrintable(SystemMessages::text(message)));
        emit SystemMessage(message.id, message.args, m_backend->countdownMs());
    });
    connect(backend, &ProtectionBackend::shutdownRefusalChanged, this,
        [this](const ::SystemMessage &refusal) { emit ShutdownRefusalChanged(refusal.id, refusal.args); });
    connect(backend, &ProtectionBackend::settingChanged, this, [this](const QString &key, const QVariant &value) {
        qInfo("Setting %s changed through the bus", qPrintable(key));
        // An absent key has no value on the bus: the flag says so and the variant carries an empty string.
        emit SettingChanged(key, value.isValid(), QDBusVariant(value.isValid() ? typed(key, value) : QString()));
    });
    connect(backend, &ProtectionBackend::storingChanged, this, &ProtectionService::StoringChanged);
    connect(backend, &ProtectionBackend::detailsChanged, this, &ProtectionService::DetailsChanged);
    connect(backend, &ProtectionBackend::hostsChanged, this, [this](const QStringList &hosts) {
        const QSet<QString> listed(hosts.cbegin(), hosts.cend());
        for (auto it = m_sentData.begin(); it != m_sentData.end();)
            it = listed.contains(it.key()) ? std::next(it) : m_sentData.erase(it);
        emit HostsChanged(hosts);
    });
}

ProtectionService::~ProtectionService()
{
    m_bus.unregisterService(serviceName());
    m_bus.unregisterObject(objectPath());
}

bool ProtectionService::registerOnBus(QString *error)
{
    if (!m_bus.isConnected()) {
        *error = QStringLiteral("no system bus: ") + m_bus.lastError().message();
        return false;
    }
    if (!m_bus.registerObject(objectPath(), this)) {
        *error = QStringLiteral("cannot export ") + objectPath() + QStringLiteral(": ") + m_bus.lastError().message();
        return false;
    }
    // Only one service protects the machine: a second one must not take the name over.
    const auto reply = m_bus.interface()->registerService(
        serviceName(), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = QStringLiteral("cannot own ") + serviceName() + QStringLiteral(": ")
            + (reply.isValid() ? QStringLiteral("the name is taken") : reply.error().message());
        m_bus.unregisterObject(objectPath());
        return false;
    }
    return true;
}

QList<CardState> ProtectionService::Cards()
{
    return m_backend->cards();
}

QList<StoredCard> ProtectionService::Hosts()
{
    // The marshalling leaves the secrets out anyway; they do not even reach it.
    QList<StoredCard> cards = m_backend->storedCardsNow();
    for (StoredCard &card : cards) {
        card.info.community.clear();
        card.info.userName.clear();
        card.info.password.clear();
    }
    return cards;
}

qlonglong ProtectionService::State(QString &refusalId, QStringList &refusalArgs)
{
    const ::SystemMessage refusal = m_backend->shutdownRefusal();
    refusalId = refusal.id;
    refusalArgs = refusal.args;
    return m_backend->countdownMs();
}

qlonglong ProtectionService::Countdown()
{
    return m_backend->countdownMs();
}

bool ProtectionService::Setting(const QString &key, QDBusVariant &value)
{
    if (!SettingKeys::find(key)) {
        sendErrorReply(invalidArgument, QStringLiteral("no such settings key: ") + key);
        return false;
    }
    const QVariantMap values = Settings({key});
    const auto found = values.constFind(key);
    value = QDBusVariant(found != values.constEnd() ? found.value() : QVariant(QString()));
    return found != values.constEnd();
}

void ProtectionService::SetSetting(const QString &key, const QDBusVariant &value)
{
    SetSettings({{key, value.variant()}});
}

QVariantMap ProtectionService::Settings(const QStringList &keys)
{
    for (const QString &key : keys) {
        if (!SettingKeys::find(key)) {
            sendErrorReply(invalidArgument, QStringLiteral("no such settings key: ") + key);
            return {};
        }
    }
    QVariantMap values = m_backend->readSettingsNow(keys);
    for (auto it = values.begin(); it != values.end(); ++it)
        it.value() = typed(it.key(), it.value());
    return values;
}

void ProtectionService::SetSettings(const QVariantMap &values)
{
    // Checked as the service's user, the one the outage runs the application as.
    const QString why = LocalBackend::settingsRefusal(values);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    // What the service would run as its own user is an administrator's choice, and so is a batch that holds it;
    // so is opening the server's port or granting its access.
    bool application = false;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        application |= SettingKeys::isApplicationKey(it.key()) || SettingKeys::isServerKey(it.key());
    authorized(application ? Authorizer::configureApplicationAction : Authorizer::configureAction,
        [this, values] { return m_backend->writeSettingsNow(values); });
}

int ProtectionService::Host(const QString &ip, int &version, bool &communitySet, int &authType, int &privType,
    bool &userNameSet, bool &passwordSet)
{
    StoredCard card;
    if (!m_backend->storedCardNow(ip, &card)) {
        sendErrorReply(invalidArgument, QStringLiteral("no stored card ") + ip);
        return 0;
    }
    version = card.info.version;
    communitySet = card.communitySet;
    authType = card.info.authType;
    privType = card.info.privType;
    userNameSet = card.userNameSet;
    passwordSet = card.passwordSet;
    return card.info.port;
}

void ProtectionService::AddHost(const QString &ip, int port, int version, const QString &community, int authType,
    int privType, const QString &userName, const QString &password)
{
    const SNMPInfo info {ip, port, version, community, authType, privType, userName, password};
    const QString why = LocalBackend::hostRefusal(info);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    // The rest (an address stored meanwhile by another front end) is the backend's to say.
    authorized(Authorizer::configureAction, [this, info] { return m_backend->addHostNow(info); });
}

void ProtectionService::ModifyHost(const QString &oldIp, const QString &ip, int port, int version,
    const QString &community, int authType, int privType, const QString &userName, const QString &password)
{
    // A front end never learns the secrets, so it sends them empty when untouched; the backend keeps them on
    // the card's own address only.
    const SNMPInfo info {ip, port, version, community, authType, privType, userName, password};
    const QString why = LocalBackend::hostRefusal(info, oldIp);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    authorized(Authorizer::configureAction, [this, info, oldIp] { return m_backend->modifyHostNow(info, oldIp); });
}

void ProtectionService::RemoveHost(const QString &ip)
{
    authorized(Authorizer::configureAction, [this, ip] { return m_backend->removeHostNow(ip); });
}

QVector<StoredEvent> ProtectionService::Events(qlonglong from, qlonglong to)
{
    // The answer waits for the store's commit, up to its bound, while the main thread goes on with the cards
    // and the policy.
    setDelayedReply(true);
    const QDBusMessage request = message();
    QDBusConnection bus = connection();
    m_backend->events(
        from, to, this, [request, bus](const BackendReply &reply, const QVector<StoredEvent> &events) mutable {
            bus.send(reply.ok ? request.createReply(QVariant::fromValue(events))
                              : request.createErrorReply(failed, reply.error));
        });
    return {};
}

void ProtectionService::ClearEvents()
{
    authorizedCall(Authorizer::configureAction, [this](const QDBusMessage &request, QDBusConnection bus) {
        m_backend->clearEvents(this, [request, bus](const BackendReply &reply) mutable {
            bus.send(reply.ok ? request.createReply() : request.createErrorReply(failed, reply.error));
        });
    });
}

QList<CardDetails> ProtectionService::Details()
{
    QList<CardDetails> all;
    for (const CardState &card : m_backend->cards())
        all.append(m_backend->details(card.host));
    return all;
}

QVector<HistorySample> ProtectionService::History(const QString &host, qlonglong from, qlonglong to)
{
    // As Events: the answer waits for the store's commit, the main thread does not.
    setDelayedReply(true);
    const QDBusMessage request = message();
    QDBusConnection bus = connection();
    m_backend->history(
        host, from, to, this, [request, bus](const BackendReply &reply, const QVector<HistorySample> &samples) mutable {
            bus.send(reply.ok ? request.createReply(QVariant::fromValue(samples))
                              : request.createErrorReply(failed, reply.error));
        });
    return {};
}

int ProtectionService::TestShutdownApplication(
    const QString &path, int minutes, int &exitStatus, qlonglong &elapsedMs, QString &refusal)
{
    // Answered by the delayed reply alone.
    exitStatus = 0;
    elapsedMs = 0;
    refusal.clear();
    // A program of the caller's choice, run as the service's user: the application's action, not the group's.
    authorizedCall(Authorizer::configureApplicationAction,
        [this, path, minutes](const QDBusMessage &request, QDBusConnection bus) {
            qInfo("Test of the shutdown application asked by %s", qPrintable(request.service()));
            m_backend->testShutdownApplication(path, minutes, this,
                [request, bus](
                    const BackendReply &, int exitCode, int status, qint64 elapsed, const QString &why) mutable {
                    bus.send(request.createReply({exitCode, status, qlonglong(elapsed), why}));
                });
        });
    return 0;
}

void ProtectionService::authorized(const char *action, std::function<BackendReply()> change)
{
    authorizedCall(action, [change](const QDBusMessage &request, QDBusConnection bus) {
        const BackendReply reply = change();
        if (!reply.ok)
            qInfo("Change by %s not made: %s", qPrintable(request.service()), qPrintable(reply.error));
        bus.send(reply.ok ? request.createReply() : request.createErrorReply(failed, reply.error));
    });
}

void ProtectionService::authorizedCall(
    const char *action, std::function<void(const QDBusMessage &request, QDBusConnection bus)> act)
{
    setDelayedReply(true);
    const QDBusMessage request = message();
    QDBusConnection bus = connection();
    m_authorizer.check(request, QString::fromLatin1(action), this,
        [bus, request, act, action](bool allowed, const QString &why) mutable {
            if (!allowed) {
                qInfo("Change by %s refused (%s): %s", qPrintable(request.service()), action, qPrintable(why));
                bus.send(request.createErrorReply(notAuthorized, why));
                return;
            }
            act(request, bus);
        });
}
