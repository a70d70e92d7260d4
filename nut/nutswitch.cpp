#include "nut/nutswitch.h"

#include "backend/protectionbackend.h"
#include "nut/nutserver.h"
#include "nut/nutups.h"
#include "policy/shutdownpolicy.h"
#include "policy/systemmessages.h"
#include "storage/nutusers.h"
#include "storage/settingkeys.h"

#include <QTimer>

namespace {
const QStringList &keys()
{
    static const QStringList list {QLatin1String(SettingKeys::nutEnabled), QLatin1String(SettingKeys::nutAddress),
        QLatin1String(SettingKeys::nutPort), QLatin1String(SettingKeys::nutUsers)};
    return list;
}
} // namespace

NutSwitch::NutSwitch(ProtectionBackend *backend, QObject *parent)
    : QObject(parent), m_backend(backend), m_server(new NutServer(backend, this))
{
    for (const QString &key : keys())
        take(key, QVariant());
    connect(backend, &ProtectionBackend::settingChanged, this, [this](const QString &key, const QVariant &value) {
        if (!keys().contains(key))
            return;
        m_changed.insert(key);
        take(key, value);
        scheduleApply();
    });
    backend->readSettings(keys(), this, [this](const BackendReply &reply, const QVariantMap &values) {
        if (!reply.ok) {
            qWarning(
                "Network UPS protocol server stays off: its settings cannot be read (%s)", qPrintable(reply.error));
            return;
        }
        // A key written meanwhile has its newer value already.
        for (const QString &key : keys()) {
            if (!m_changed.contains(key))
                take(key, values.value(key));
        }
        scheduleApply();
    });
}

NutSwitch::~NutSwitch() = default;

// Absent, or not usable, a key means its default: off, loopback, the protocol's port.
void NutSwitch::take(const QString &key, const QVariant &value)
{
    QVariant usable;
    if (!value.isValid() || !SettingKeys::refusal(key, value, &usable).isEmpty())
        usable = SettingKeys::defaultValue(key);
    if (key == QLatin1String(SettingKeys::nutEnabled))
        m_enabled = usable.toBool();
    else if (key == QLatin1String(SettingKeys::nutAddress))
        m_address = usable.toString();
    else if (key == QLatin1String(SettingKeys::nutUsers))
        m_users = usable;
    else
        m_port = usable.toInt();
}

void NutSwitch::protect(ShutdownPolicy *policy)
{
    policy->setForcedShutdownHook([this](const QStringList &hosts) {
        QStringList names;
        for (const QString &host : hosts)
            names << NutUps::nameOf(host);
        if (!m_server->isListening())
            return ShutdownPolicy::ForcedShutdown {names.join(QStringLiteral(", ")), 0};
        return ShutdownPolicy::ForcedShutdown {names.join(QStringLiteral(", ")), m_server->raiseForcedShutdown(hosts)};
    });
    connect(m_server, &NutServer::followersChanged, policy, &ShutdownPolicy::followersLoggedIn);
    connect(policy, &ShutdownPolicy::systemMessage, m_server, [this](const SystemMessage &message) {
        if (message.id == QLatin1String(SystemMessages::shutdownNoLongerDue))
            m_server->clearForcedShutdown();
    });
    connect(m_server, &NutServer::shutdownRequested, policy,
        [policy](const QString &ups, const QString &host, const QString &by) {
            qInfo("Network UPS protocol: %s asked for a forced shutdown of %s", qPrintable(by), qPrintable(ups));
            policy->shutdownNow(host, SystemMessage {QLatin1String(SystemMessages::forcedShutdownAsked), {ups, by}});
        });
}

// One write changes its keys one signal after the other: the server moves once, to where they all say.
void NutSwitch::scheduleApply()
{
    if (m_applyPending)
        return;
    m_applyPending = true;
    QTimer::singleShot(0, this, [this] {
        m_applyPending = false;
        apply();
    });
}

void NutSwitch::apply()
{
    QList<NutUser> users;
    NutUsers::parse(m_users, &users);
    QHash<QString, QString> passwords;
    QSet<QString> primaries;
    for (const NutUser &user : users) {
        if (user.password.isEmpty())
            continue;
        passwords.insert(user.name, user.password);
        if (user.primary)
            primaries.insert(user.name);
    }
    m_server->setUsers(passwords, primaries);
    const QHostAddress address(m_address);
    if (!m_enabled) {
        if (m_server->isListening())
            qInfo("Network UPS protocol server off");
        m_server->close();
        m_refused.clear();
        return;
    }
    if (m_server->isListening() && m_server->port() == m_port && m_server->serverAddress() == address)
        return;
    QString why;
    if (m_server->listen(address, quint16(m_port), &why)) {
        qInfo("Network UPS protocol server on %s port %d", qPrintable(m_address), m_port);
        m_refused.clear();
        return;
    }
    const QString configuration = m_address + QLatin1Char(' ') + QString::number(m_port) + why;
    if (configuration != m_refused)
        qWarning("Network UPS protocol server cannot listen on %s port %d: %s", qPrintable(m_address), m_port,
            qPrintable(why));
    m_refused = configuration;
}
