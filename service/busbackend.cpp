#include "service/busbackend.h"

#include "protectionproxy.h"
#include "service/dbustypes.h"
#include "service/protectionservice.h"
#include "storage/apppaths.h"
#include "storage/eventtexts.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QPointer>

#include <climits>
#include <utility>

namespace {
using Answer = std::function<void(const BackendReply &reply, const QDBusPendingCall &call)>;

QDBusMessage busDaemonCall(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), method);
    call << ProtectionService::serviceName();
    return call;
}

// A call the service never took (it was gone, or went while it was asked) reads as what it is, not as the
// bus's words about unique names and .service files.
BackendReply replyOf(const QDBusPendingCall &call, bool ownerStayed)
{
    if (!call.isError())
        return BackendReply();
    const QDBusError error = call.error();
    if (error.type() == QDBusError::ServiceUnknown
        || error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
        || (!ownerStayed && error.type() == QDBusError::NoReply))
        return BackendReply::failure(BusBackend::notRunning());
    return BackendReply::failure(error.message(), error.name() == ProtectionService::notAuthorizedError());
}
} // namespace

struct BusBackend::Private
{
    Private(BusBackend *backend, const QDBusConnection &connection)
        : q(backend), bus(connection), texts(std::make_unique<EventTexts>(AppPaths::cataloguePath()))
    { }

    // The name has another owner now, or none (empty).
    void follow(const QString &newOwner);
    void lose();
    void find(const QString &newOwner);
    void takeSnapshotPart();
    void takeCards(const QList<CardState> &list);
    void askDetails();
    CardState *card(const QString &host);
    void setCountdown(qint64 remainingMs);
    void request(QObject *context, int timeoutMs, const std::function<QDBusPendingCall(ProtectionProxy &)> &send,
        const Answer &answer);

    BusBackend *q;
    QDBusConnection bus;
    std::unique_ptr<EventTexts> texts;
    QDBusServiceWatcher *watcher = nullptr;
    // Speaks to the owner's unique name, so that nothing reaches a later owner (or asks the bus to start one)
    // in its name; none while the service is absent.
    std::unique_ptr<ProtectionProxy> proxy;
    QString owner;
    bool reachable = false;
    int snapshotParts = 0; // of the current owner's snapshot still to come
    QList<CardState> cards;
    QHash<QString, int> rows;
    // Of listed cards only; a card without a record here is not known.
    QHash<QString, CardDetails> details;
    qint64 countdownMs = -1; // as the service last said it
    QElapsedTimer countdownClock; // since then
    SystemMessage refusal;
};

void BusBackend::Private::follow(const QString &newOwner)
{
    if (newOwner == owner)
        return;
    if (!owner.isEmpty())
        lose();
    if (!newOwner.isEmpty())
        find(newOwner);
}

void BusBackend::Private::lose()
{
    owner.clear();
    proxy.reset();
    snapshotParts = 0;
    const bool wasReachable = reachable;
    reachable = false;
    // Nobody counts down or refuses while nobody protects; the cards stay as last known.
    const bool countdownRan = countdownMs >= 0;
    countdownMs = -1;
    const bool refused = !refusal.isEmpty();
    refusal = SystemMessage();
    if (wasReachable)
        emit q->reachableChanged(false);
    if (countdownRan)
        emit q->countdownChanged(-1);
    if (refused)
        emit q->shutdownRefusalChanged(refusal);
    // What nobody reads any more is not known; the cards themselves stay as last known.
    const QHash<QString, CardDetails> known = std::exchange(details, {});
    for (auto it = known.cbegin(); it != known.cend(); ++it) {
        CardDetails none;
        none.host = it.key();
        emit q->detailsChanged(none);
    }
}

void BusBackend::Private::find(const QString &newOwner)
{
    owner = newOwner;
    proxy = std::make_unique<ProtectionProxy>(owner, ProtectionService::objectPath(), bus);
    ProtectionProxy *p = proxy.get();
    connect(p, &ProtectionProxy::EventArrived, q, &BusBackend::eventArrived);
    connect(p, &ProtectionProxy::StatusChanged, q, [this](const QString &host, int status) {
        if (CardState *state = card(host))
            state->status = status;
        emit q->statusChanged(host, status);
    });
    connect(p, &ProtectionProxy::AuthenticationChanged, q, [this](const QString &host, bool failed) {
        if (CardState *state = card(host))
            state->authenticationFailed = failed;
        emit q->authenticationChanged(host, failed);
    });
    connect(p, &ProtectionProxy::DataChanged, q, [this](const QString &host, const QByteArray &data) {
        if (CardState *state = card(host))
            state->data = data;
        emit q->dataChanged(host, data);
    });
    connect(p, &ProtectionProxy::HostsChanged, q, [this](const QStringList &hosts) {
        QList<CardState> next;
        next.reserve(hosts.size());
        for (const QString &host : hosts) {
            const CardState *known = card(host);
            CardState state;
            state.host = host;
            next.append(known ? *known : state);
        }
        takeCards(next);
        for (auto it = details.begin(); it != details.end();)
            it = rows.contains(it.key()) ? std::next(it) : details.erase(it);
        emit q->hostsChanged(hosts);
    });
    connect(p, &ProtectionProxy::SystemMessage, q,
        [this](const QString &id, const QStringList &args, qlonglong remainingMs) {
            setCountdown(remainingMs);
            emit q->systemMessage({id, args});
            emit q->countdownChanged(remainingMs);
        });
    connect(p, &ProtectionProxy::ShutdownRefusalChanged, q, [this](const QString &id, const QStringList &args) {
        refusal = {id, args};
        emit q->shutdownRefusalChanged(refusal);
    });
    connect(
        p, &ProtectionProxy::SettingChanged, q, [this](const QString &key, bool present, const QDBusVariant &value) {
            emit q->settingChanged(key, present ? value.variant() : QVariant());
        });
    connect(p, &ProtectionProxy::StoringChanged, q, &BusBackend::storingChanged);
    connect(p, &ProtectionProxy::DetailsChanged, q, [this](const CardDetails &record) {
        if (!rows.contains(record.host))
            return;
        details.insert(record.host, record);
        emit q->detailsChanged(record);
    });

    // One snapshot; the signals above keep it up after that. The service answers in the order it was asked
    // and sends its signals in between, so each part is taken as it comes and signals after it apply on top.
    const QString asked = owner;
    snapshotParts = 2;
    p->setTimeout(readTimeoutMs);
    auto *cardsCall = new QDBusPendingCallWatcher(p->Cards(), q);
    connect(cardsCall, &QDBusPendingCallWatcher::finished, q, [this, cardsCall, asked] {
        cardsCall->deleteLater();
        if (asked != owner)
            return;
        const QDBusPendingReply<QList<CardState>> reply = *cardsCall;
        if (reply.isError()) {
            qWarning("The protection service does not list its cards: %s", qPrintable(reply.error().message()));
            return;
        }
        takeCards(reply.value());
        takeSnapshotPart();
    });
    auto *stateCall = new QDBusPendingCallWatcher(p->State(), q);
    connect(stateCall, &QDBusPendingCallWatcher::finished, q, [this, stateCall, asked] {
        stateCall->deleteLater();
        if (asked != owner)
            return;
        const QDBusPendingReply<qlonglong, QString, QStringList> reply = *stateCall;
        if (reply.isError()) {
            qWarning("The protection service does not tell its state: %s", qPrintable(reply.error().message()));
            return;
        }
        setCountdown(reply.argumentAt<0>());
        refusal = {reply.argumentAt<1>(), reply.argumentAt<2>()};
        takeSnapshotPart();
    });
    askDetails();
}

void BusBackend::Private::askDetails()
{
    // Not a part of the snapshot: a service that cannot tell them is still the protection, and the details
    // follow when they come. Asked after the cards, so their answer finds the list it belongs to.
    const QString asked = owner;
    auto *call = new QDBusPendingCallWatcher(proxy->Details(), q);
    connect(call, &QDBusPendingCallWatcher::finished, q, [this, call, asked] {
        call->deleteLater();
        if (asked != owner)
            return;
        const QDBusPendingReply<QList<CardDetails>> reply = *call;
        if (reply.isError()) {
            qWarning(
                "The protection service does not tell its cards' details: %s", qPrintable(reply.error().message()));
            return;
        }
        details.clear();
        for (const CardDetails &record : reply.value()) {
            if (rows.contains(record.host) && record.isKnown())
                details.insert(record.host, record);
        }
        // A copy: a receiver may reach back into the backend.
        const QHash<QString, CardDetails> known = details;
        for (const CardDetails &record : known)
            emit q->detailsChanged(record);
    });
}

void BusBackend::Private::takeSnapshotPart()
{
    if (--snapshotParts > 0)
        return;
    reachable = true;
    emit q->reachableChanged(true);
    QStringList hosts;
    hosts.reserve(cards.size());
    for (const CardState &state : qAsConst(cards))
        hosts.append(state.host);
    emit q->hostsChanged(hosts);
    // A copy: a receiver may reach back into the backend.
    const QList<CardState> known = cards;
    for (const CardState &state : known) {
        if (state.status >= 0)
            emit q->statusChanged(state.host, state.status);
        if (state.authenticationFailed)
            emit q->authenticationChanged(state.host, true);
        if (!state.data.isEmpty())
            emit q->dataChanged(state.host, state.data);
    }
    emit q->countdownChanged(countdownMs);
    if (!refusal.isEmpty())
        emit q->shutdownRefusalChanged(refusal);
}

void BusBackend::Private::takeCards(const QList<CardState> &list)
{
    cards = list;
    rows.clear();
    rows.reserve(cards.size());
    for (int i = 0; i < cards.size(); ++i)
        rows.insert(cards.at(i).host, i);
}

CardState *BusBackend::Private::card(const QString &host)
{
    const auto it = rows.constFind(host);
    return it == rows.constEnd() ? nullptr : &cards[it.value()];
}

void BusBackend::Private::setCountdown(qint64 remainingMs)
{
    countdownMs = remainingMs < 0 ? -1 : remainingMs;
    countdownClock.start();
}

void BusBackend::Private::request(QObject *context, int timeoutMs,
    const std::function<QDBusPendingCall(ProtectionProxy &)> &send, const Answer &answer)
{
    if (!context)
        context = q;
    if (!proxy) {
        // Nothing goes on the bus: a call would only wake the bus's service activation and its warnings.
        QMetaObject::invokeMethod(
            context,
            [answer] {
                answer(BackendReply::failure(notRunning()),
                    QDBusPendingCall::fromError(QDBusError(QDBusError::ServiceUnknown, notRunning())));
            },
            Qt::QueuedConnection);
        return;
    }
    proxy->setTimeout(timeoutMs);
    auto *watcher = new QDBusPendingCallWatcher(send(*proxy), context);
    const QPointer<BusBackend> backend(q);
    const QString asked = owner;
    connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, answer, backend, asked] {
        watcher->deleteLater();
        answer(replyOf(*watcher, backend && backend->d->owner == asked), *watcher);
    });
}

BusBackend::BusBackend(const QDBusConnection &bus, QObject *parent)
    : ProtectionBackend(parent), d(std::make_unique<Private>(this, bus))
{
    registerBusTypes();
    // Watching first: the daemon then reports every change after the answer to the question below.
    d->watcher = new QDBusServiceWatcher(
        ProtectionService::serviceName(), bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(d->watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString &, const QString &, const QString &newOwner) { d->follow(newOwner); });
    auto *initial = new QDBusPendingCallWatcher(bus.asyncCall(busDaemonCall(QStringLiteral("GetNameOwner"))), this);
    connect(initial, &QDBusPendingCallWatcher::finished, this, [this, initial] {
        initial->deleteLater();
        const QDBusPendingReply<QString> reply = *initial;
        d->follow(reply.isError() ? QString() : reply.value());
    });
}

BusBackend::~BusBackend() = default;

QString BusBackend::notRunning()
{
    return QStringLiteral("The protection service is not running");
}

QStringList BusBackend::policyDirectories()
{
    return {QStringLiteral("/usr/share/dbus-1/system.d"), QStringLiteral("/etc/dbus-1/system.d")};
}

bool BusBackend::serviceExpected(const QDBusConnection &bus, const QStringList &policyDirs, int timeoutMs)
{
    const QString policyFile = ProtectionService::serviceName() + QStringLiteral(".conf");
    for (const QString &dir : policyDirs) {
        if (QFile::exists(dir + QLatin1Char('/') + policyFile))
            return true;
    }
    if (!bus.isConnected())
        return false;
    const QDBusMessage reply = bus.call(busDaemonCall(QStringLiteral("NameHasOwner")), QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

bool BusBackend::isReachable() const
{
    return d->reachable;
}

QList<CardState> BusBackend::cards() const
{
    return d->cards;
}

qint64 BusBackend::countdownMs() const
{
    if (d->countdownMs < 0)
        return -1;
    return qMax<qint64>(0, d->countdownMs - d->countdownClock.elapsed());
}

SystemMessage BusBackend::shutdownRefusal() const
{
    return d->refusal;
}

EventTexts *BusBackend::texts() const
{
    return d->texts.get();
}

void BusBackend::readSettings(const QStringList &keys, QObject *context, SettingsDone done)
{
    d->request(
        context, readTimeoutMs, [keys](ProtectionProxy &proxy) { return proxy.Settings(keys); },
        [done](const BackendReply &reply, const QDBusPendingCall &call) {
            done(reply, reply.ok ? QDBusPendingReply<QVariantMap>(call).value() : QVariantMap());
        });
}

void BusBackend::writeSettings(const QVariantMap &values, QObject *context, Done done)
{
    // The bus carries no "nothing": such a value is refused here, before anything is written.
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!it.value().isValid()) {
            const QString why = QStringLiteral("no value for ") + it.key();
            QMetaObject::invokeMethod(
                context ? context : this, [done, why] { done(BackendReply::failure(why)); }, Qt::QueuedConnection);
            return;
        }
    }
    d->request(
        context, changeTimeoutMs, [values](ProtectionProxy &proxy) { return proxy.SetSettings(values); },
        [done](const BackendReply &reply, const QDBusPendingCall &) { done(reply); });
}

void BusBackend::storedCards(QObject *context, CardsDone done)
{
    d->request(
        context, readTimeoutMs, [](ProtectionProxy &proxy) { return proxy.Hosts(); },
        [done](const BackendReply &reply, const QDBusPendingCall &call) {
            done(reply, reply.ok ? QDBusPendingReply<QList<StoredCard>>(call).value() : QList<StoredCard>());
        });
}

void BusBackend::addHost(const SNMPInfo &info, QObject *context, Done done)
{
    d->request(
        context, changeTimeoutMs,
        [info](ProtectionProxy &proxy) {
            return proxy.AddHost(info.ip, info.port, info.version, info.community, info.authType, info.privType,
                info.userName, info.password);
        },
        [done](const BackendReply &reply, const QDBusPendingCall &) { done(reply); });
}

void BusBackend::modifyHost(const SNMPInfo &info, const QString &oldIp, QObject *context, Done done)
{
    d->request(
        context, changeTimeoutMs,
        [info, oldIp](ProtectionProxy &proxy) {
            return proxy.ModifyHost(oldIp, info.ip, info.port, info.version, info.community, info.authType,
                info.privType, info.userName, info.password);
        },
        [done](const BackendReply &reply, const QDBusPendingCall &) { done(reply); });
}

void BusBackend::removeHost(const QString &ip, QObject *context, Done done)
{
    d->request(
        context, changeTimeoutMs, [ip](ProtectionProxy &proxy) { return proxy.RemoveHost(ip); },
        [done](const BackendReply &reply, const QDBusPendingCall &) { done(reply); });
}

void BusBackend::events(qint64 from, qint64 to, QObject *context, EventsDone done)
{
    d->request(
        context, readTimeoutMs, [from, to](ProtectionProxy &proxy) { return proxy.Events(from, to); },
        [done](const BackendReply &reply, const QDBusPendingCall &call) {
            done(reply, reply.ok ? QDBusPendingReply<QVector<StoredEvent>>(call).value() : QVector<StoredEvent>());
        });
}

void BusBackend::clearEvents(QObject *context, Done done)
{
    d->request(
        context, changeTimeoutMs, [](ProtectionProxy &proxy) { return proxy.ClearEvents(); },
        [done](const BackendReply &reply, const QDBusPendingCall &) { done(reply); });
}

void BusBackend::testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done)
{
    // Polkit may ask for a password first, then the application has its whole time and the grace after it.
    const int timeoutMs = int(qBound<qint64>(0, changeTimeoutMs + qint64(minutes) * 60000 + 30000, INT_MAX));
    d->request(
        context, timeoutMs,
        [path, minutes](ProtectionProxy &proxy) { return proxy.TestShutdownApplication(path, minutes); },
        [done](const BackendReply &reply, const QDBusPendingCall &call) {
            if (!reply.ok) {
                done(reply, -1, 0, 0, QString());
                return;
            }
            const QDBusPendingReply<int, int, qlonglong, QString> result = call;
            done(reply, result.argumentAt<0>(), result.argumentAt<1>(), result.argumentAt<2>(), result.argumentAt<3>());
        });
}

CardDetails BusBackend::details(const QString &host) const
{
    const auto it = d->details.constFind(host);
    if (it != d->details.constEnd())
        return it.value();
    CardDetails none;
    none.host = host;
    return none;
}

void BusBackend::history(const QString &host, qint64 from, qint64 to, QObject *context, HistoryDone done)
{
    d->request(
        context, readTimeoutMs, [host, from, to](ProtectionProxy &proxy) { return proxy.History(host, from, to); },
        [done](const BackendReply &reply, const QDBusPendingCall &call) {
            done(reply, reply.ok ? QDBusPendingReply<QVector<HistorySample>>(call).value() : QVector<HistorySample>());
        });
}
