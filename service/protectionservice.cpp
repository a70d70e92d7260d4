#include "service/protectionservice.h"

#include "policy/applicationtest.h"
#include "policy/applicationtrust.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "protection1adaptor.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "storage/hosttable.h"
#include "storage/settingkeys.h"
#include "storage/settings.h"
#include "storage/statements.h"

#include <QDBusConnectionInterface>
#include <QHostAddress>
#include <QSet>
#include <QSqlQuery>

namespace {
const QString invalidArgument = QStringLiteral("org.vigilex.Protection1.Error.InvalidArgument");
const QString notAuthorized = QStringLiteral("org.vigilex.Protection1.Error.NotAuthorized");
const QString failed = QStringLiteral("org.vigilex.Protection1.Error.Failed");
// How long a reader or the clearing waits for the store to commit what it holds.
constexpr int flushBoundMs = 2000;

// Why a card cannot be stored as given, or nothing. With keptSecrets an empty community or user name stands
// for the stored one, checked once it has been filled in.
QString invalidHost(const SNMPInfo &info, bool keptSecrets = false)
{
    QHostAddress address;
    if (!address.setAddress(info.ip) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return QStringLiteral("not an IPv4 address: ") + info.ip;
    if (info.port < 1 || info.port > 65535)
        return QStringLiteral("port out of 1..65535");
    if (info.version == Snmp::CommunityBased)
        return info.community.isEmpty() && !keptSecrets ? QStringLiteral("empty community") : QString();
    if (info.version != Snmp::Usm)
        return QStringLiteral("unknown SNMP version");
    if (info.userName.size() < 8 && !(keptSecrets && info.userName.isEmpty()))
        return QStringLiteral("user name shorter than 8 characters");
    if (!info.password.isEmpty() && info.password.size() < 8)
        return QStringLiteral("password shorter than 8 characters");
    if (info.authType < Snmp::AuthMd5 || info.authType > Snmp::AuthSha || info.privType < Snmp::PrivDes
        || info.privType > Snmp::PrivAes)
        return QStringLiteral("unknown authentication or privacy type");
    return QString();
}

SNMPInfo hostInfo(const QString &ip, int port, int version, const QString &community, int authType, int privType,
    const QString &userName, const QString &password)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = version;
    if (version == Snmp::CommunityBased) {
        info.community = community;
    } else {
        info.authType = authType;
        info.privType = privType;
        info.userName = userName;
        info.password = password;
    }
    return info;
}

// The keys of what the service would run as its own user at an outage.
bool isApplicationKey(const QString &key)
{
    return key == QLatin1String("system/shutdown_app") || key == QLatin1String("system/shutdown_app_enable");
}
// The file holds text; the bus carries the key's type, unless the text is none of it (a hand edit), which a
// front end then sees as it stands.
QVariant typedSetting(const QString &key)
{
    const QVariant stored = readSetting(AppPaths::settingsFilePath(), key);
    QVariant typed;
    return stored.isValid() && SettingKeys::refusal(key, stored, &typed).isEmpty() ? typed : stored;
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

ProtectionService::ProtectionService(Protection *protection, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_protection(protection), m_bus(bus), m_authorizer(bus)
{
    registerBusTypes();
    new Protection1Adaptor(this); // relays this object's signals by itself

    // Only what a reader of the log would find: the signal follows the commit.
    connect(protection, &Protection::eventStored, this,
        [this](const QString &host, int event, qint64 at) { emit EventArrived(host, event, at); });
    connect(protection, &Protection::statusChanged, this, &ProtectionService::StatusChanged);
    connect(protection, &Protection::authenticationChanged, this, &ProtectionService::AuthenticationChanged);
    // Each card answers every second; only what a front end would show differently goes out.
    connect(protection, &Protection::dataReady, this, [this](const QString &host, const QByteArray &data) {
        QByteArray &sent = m_sentData[host];
        if (sent == data)
            return;
        sent = data;
        emit DataChanged(host, data);
    });
    connect(protection, &Protection::systemMessage, this, [this](const ::SystemMessage &message) {
        qInfo("System: %s", qPrintable(SystemMessages::text(message)));
        emit SystemMessage(message.id, message.args, m_protection->policy()->remainingMs());
        // The refusal changes with a message only: set or replaced with its reason, or over at the re-arming.
        const ::SystemMessage refusal = m_protection->policy()->refusal();
        if (refusal != m_refusal) {
            m_refusal = refusal;
            emit ShutdownRefusalChanged(refusal.id, refusal.args);
        }
    });
    connect(protection, &Protection::storingFailed, this, [this] { emit StoringChanged(true); });
    connect(protection, &Protection::storingRecovered, this, [this] { emit StoringChanged(false); });
    connect(protection, &Protection::hostsChanged, this, [this] {
        const QStringList hosts = m_protection->hosts();
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
    QList<CardState> cards;
    for (const QString &host : m_protection->hosts()) {
        const Protection::Card card = m_protection->card(host);
        cards.append({host, card.status, card.authenticationFailed, card.data});
    }
    return cards;
}

QList<StoredCard> ProtectionService::Hosts()
{
    QList<StoredCard> cards;
    for (const SNMPInfo &stored : HostTable::all()) {
        StoredCard card;
        card.info = stored;
        card.info.community.clear();
        card.info.userName.clear();
        card.info.password.clear();
        card.communitySet = !stored.community.isEmpty();
        card.userNameSet = !stored.userName.isEmpty();
        card.passwordSet = !stored.password.isEmpty();
        cards.append(card);
    }
    return cards;
}

qlonglong ProtectionService::State(QString &refusalId, QStringList &refusalArgs)
{
    const ::SystemMessage refusal = m_protection->policy()->refusal();
    refusalId = refusal.id;
    refusalArgs = refusal.args;
    return m_protection->policy()->remainingMs();
}

qlonglong ProtectionService::Countdown()
{
    return m_protection->policy()->remainingMs();
}

bool ProtectionService::Setting(const QString &key, QDBusVariant &value)
{
    if (!SettingKeys::find(key)) {
        sendErrorReply(invalidArgument, QStringLiteral("no such settings key: ") + key);
        return false;
    }
    const QVariant stored = typedSetting(key);
    // An absent key has no value on the bus; the flag says so and the variant carries an empty string.
    value = QDBusVariant(stored.isValid() ? stored : QVariant(QString()));
    return stored.isValid();
}

void ProtectionService::SetSetting(const QString &key, const QDBusVariant &value)
{
    SetSettings({{key, value.variant()}});
}

QVariantMap ProtectionService::Settings(const QStringList &keys)
{
    QVariantMap values;
    for (const QString &key : keys) {
        if (!SettingKeys::find(key)) {
            sendErrorReply(invalidArgument, QStringLiteral("no such settings key: ") + key);
            return {};
        }
        const QVariant stored = typedSetting(key);
        if (stored.isValid())
            values.insert(key, stored);
    }
    return values;
}

void ProtectionService::SetSettings(const QVariantMap &values)
{
    QVariantMap checked;
    const QString why = checkSettings(values, &checked);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    // What the service would run as its own user is an administrator's choice, and so is a batch that holds it.
    bool application = false;
    for (auto it = checked.cbegin(); it != checked.cend(); ++it)
        application |= isApplicationKey(it.key());
    authorized(application ? Authorizer::configureApplicationAction : Authorizer::configureAction,
        [this, checked] { return storeSettings(checked); });
}

QString ProtectionService::checkSettings(const QVariantMap &values, QVariantMap *checked) const
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QVariant converted;
        const QString why = SettingKeys::refusal(it.key(), it.value(), &converted);
        if (!why.isEmpty())
            return why;
        // Checked as the service's user, the one the outage runs the application as.
        if (it.key() == QLatin1String("system/shutdown_app")) {
            const QString refusal = shutdownApplicationRefusal(converted.toString());
            if (!refusal.isEmpty())
                return QStringLiteral("shutdown application ") + converted.toString() + QStringLiteral(": ") + refusal;
        }
        checked->insert(it.key(), converted);
    }
    return QString();
}

QString ProtectionService::storeSettings(const QVariantMap &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QString refused = storeSetting(AppPaths::settingsFilePath(), it.key(), it.value());
        if (!refused.isEmpty())
            return refused;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        qInfo("Setting %s changed through the bus", qPrintable(it.key()));
        emit SettingChanged(it.key(), true, QDBusVariant(it.value()));
    }
    return QString();
}

int ProtectionService::Host(const QString &ip, int &version, bool &communitySet, int &authType, int &privType,
    bool &userNameSet, bool &passwordSet)
{
    SNMPInfo info;
    if (!HostTable::find(ip, &info)) {
        sendErrorReply(invalidArgument, QStringLiteral("no stored card ") + ip);
        return 0;
    }
    version = info.version;
    communitySet = !info.community.isEmpty();
    authType = info.authType;
    privType = info.privType;
    userNameSet = !info.userName.isEmpty();
    passwordSet = !info.password.isEmpty();
    return info.port;
}

void ProtectionService::AddHost(const QString &ip, int port, int version, const QString &community, int authType,
    int privType, const QString &userName, const QString &password)
{
    const SNMPInfo info = hostInfo(ip, port, version, community, authType, privType, userName, password);
    const QString why = invalidHost(info);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    authorized(Authorizer::configureAction, [this, info]() -> QString {
        // Checked again here: another front end may have added it while polkit was asked.
        if (HostTable::exists(info.ip))
            return QStringLiteral("the card %1 is stored already").arg(info.ip);
        if (!HostTable::insert(info))
            return QStringLiteral("the card cannot be stored");
        qInfo("Card %s added through the bus", qPrintable(info.ip));
        m_protection->addHost(info);
        return QString();
    });
}

void ProtectionService::ModifyHost(const QString &oldIp, const QString &ip, int port, int version,
    const QString &community, int authType, int privType, const QString &userName, const QString &password)
{
    // A front end never learns the secrets, so it sends them empty when untouched. They stay with the card only
    // on its own address: the stored community must not be sent to an address the caller names.
    const bool keptSecrets = ip == oldIp;
    const SNMPInfo entered = hostInfo(ip, port, version, community, authType, privType, userName, password);
    const QString why = invalidHost(entered, keptSecrets);
    if (!why.isEmpty()) {
        sendErrorReply(invalidArgument, why);
        return;
    }
    authorized(Authorizer::configureAction, [this, entered, oldIp, keptSecrets]() -> QString {
        SNMPInfo old;
        if (!HostTable::find(oldIp, &old))
            return QStringLiteral("no stored card ") + oldIp;
        old.ip = oldIp;
        SNMPInfo info = entered;
        if (keptSecrets) {
            // find() gives only the secrets of the stored version: none is carried across a change of version.
            if (info.version == Snmp::CommunityBased && info.community.isEmpty())
                info.community = old.community;
            if (info.version == Snmp::Usm && info.userName.isEmpty())
                info.userName = old.userName;
            if (info.version == Snmp::Usm && info.password.isEmpty())
                info.password = old.password;
            const QString invalid = invalidHost(info);
            if (!invalid.isEmpty())
                return invalid;
        }
        if (info.ip != oldIp && HostTable::exists(info.ip))
            return QStringLiteral("the card %1 is stored already").arg(info.ip);
        if (!HostTable::update(info, oldIp))
            return QStringLiteral("the card cannot be stored");
        qInfo("Card %s modified through the bus", qPrintable(oldIp));
        m_protection->modifyHost(info, old);
        return QString();
    });
}

void ProtectionService::RemoveHost(const QString &ip)
{
    authorized(Authorizer::configureAction, [this, ip]() -> QString {
        SNMPInfo old;
        if (!HostTable::find(ip, &old))
            return QStringLiteral("no stored card ") + ip;
        old.ip = ip;
        if (!HostTable::remove(ip))
            return QStringLiteral("the card cannot be removed");
        qInfo("Card %s removed through the bus", qPrintable(ip));
        m_protection->removeHost(old.peer());
        return QString();
    });
}

QVector<StoredEvent> ProtectionService::Events(qlonglong from, qlonglong to)
{
    // What the writer still holds counts as stored: the reader must see an event that was announced. The answer
    // waits for the commit, up to the bound, while the main thread goes on with the cards and the policy.
    setDelayedReply(true);
    const QDBusMessage request = message();
    QDBusConnection bus = connection();
    EventStore::instance()->whenFlushed(this, flushBoundMs, [request, bus, from, to](bool) mutable {
        QSqlQuery query(Database::instance()->connection(AppPaths::databasePath()));
        query.setForwardOnly(true);
        query.prepare(QLatin1String(Sql::selectEventRange));
        query.bindValue(QStringLiteral(":1"), from);
        query.bindValue(QStringLiteral(":2"), to);
        if (!query.exec()) {
            bus.send(request.createErrorReply(failed, QStringLiteral("the events cannot be read")));
            return;
        }
        QVector<StoredEvent> events;
        while (query.next())
            events.append({query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toInt()});
        bus.send(request.createReply(QVariant::fromValue(events)));
    });
    return {};
}

void ProtectionService::ClearEvents()
{
    authorizedCall(Authorizer::configureAction, [this](const QDBusMessage &request, QDBusConnection bus) {
        // Nothing the writer still holds may outlive the clearing.
        EventStore::instance()->whenFlushed(this, flushBoundMs, [request, bus](bool) mutable {
            QSqlQuery query(Database::instance()->connection(AppPaths::databasePath()));
            if (!query.exec(QLatin1String(Sql::deleteAllEvents))) {
                bus.send(request.createErrorReply(failed, QStringLiteral("the events cannot be cleared")));
                return;
            }
            query.exec(QLatin1String(Sql::resetEventSequence));
            qInfo("Stored events cleared through the bus");
            bus.send(request.createReply());
        });
    });
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
            // One runner per call; it goes when its answer has gone out.
            auto *test = new ApplicationTest(this);
            connect(test, &ApplicationTest::finished, this,
                [test, request, bus](int exitCode, int status, qint64 elapsed, const QString &why) mutable {
                    bus.send(request.createReply({exitCode, status, qlonglong(elapsed), why}));
                    test->deleteLater();
                });
            test->start(path, minutes);
        });
    return 0;
}

void ProtectionService::authorized(const char *action, std::function<QString()> change)
{
    authorizedCall(action, [change](const QDBusMessage &request, QDBusConnection bus) {
        const QString error = change();
        bus.send(error.isEmpty() ? request.createReply() : request.createErrorReply(failed, error));
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
