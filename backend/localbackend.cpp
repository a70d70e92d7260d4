#include "backend/localbackend.h"

#include "policy/applicationtest.h"
#include "policy/applicationtrust.h"
#include "policy/historysampler.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "storage/apppaths.h"
#include "storage/eventlog.h"
#include "storage/eventstore.h"
#include "storage/hosttable.h"
#include "storage/nutusers.h"
#include "storage/settingkeys.h"
#include "storage/settings.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

namespace {
// Every answer comes through the event loop, as a bus backend's does: a dialog behaves the same with both,
// and one closed meanwhile is not called.
template<typename Function> void answer(QObject *context, Function function)
{
    QMetaObject::invokeMethod(context, std::move(function), Qt::QueuedConnection);
}

StoredCard stored(const SNMPInfo &info)
{
    return {info, !info.community.isEmpty(), !info.userName.isEmpty(), !info.password.isEmpty()};
}
} // namespace

struct LocalBackend::Private
{
    std::unique_ptr<Protection> protection;
    SystemMessage refusal;
    HistorySampler sampler;
    QTimer minuteTimer;
    qint64 lastSampledMinute = 0;

    void scheduleMinute()
    {
        // A little past the boundary, so that the wall clock is surely in the new minute.
        minuteTimer.start(HistorySampler::msToNextMinute(HistorySampler::nowMs()) + 50);
    }
};

LocalBackend::LocalBackend(QObject *parent) : ProtectionBackend(parent), d(new Private)
{
    d->protection = std::make_unique<Protection>();
    follow();
    // Precise: a coarse timer may fire early, in the minute it should close.
    d->minuteTimer.setSingleShot(true);
    d->minuteTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->minuteTimer, &QTimer::timeout, this, &LocalBackend::sampleMinute);
    d->scheduleMinute();
}

LocalBackend::~LocalBackend() = default;

void LocalBackend::follow()
{
    Protection *protection = d->protection.get();
    connect(protection, &Protection::eventArrived, this, &ProtectionBackend::eventArrived);
    connect(protection, &Protection::statusChanged, this, &ProtectionBackend::statusChanged);
    connect(protection, &Protection::statusChanged, this,
        [this](const QString &host, int status) { d->sampler.noteStatus(host, status); });
    connect(protection, &Protection::authenticationChanged, this, &ProtectionBackend::authenticationChanged);
    connect(protection, &Protection::dataReady, this, &ProtectionBackend::dataChanged);
    connect(protection, &Protection::detailsChanged, this, &ProtectionBackend::detailsChanged);
    connect(protection, &Protection::hostsChanged, this, [this] { emit hostsChanged(d->protection->hosts()); });
    connect(protection, &Protection::storingFailed, this, [this] { emit storingChanged(true); });
    connect(protection, &Protection::storingRecovered, this, [this] { emit storingChanged(false); });
    // Every start, end or refusal of a shutdown says so in a row: the countdown and the refusal follow it.
    connect(protection, &Protection::systemMessage, this, [this](const SystemMessage &message) {
        emit systemMessage(message);
        emit countdownChanged(countdownMs());
        const SystemMessage refusal = shutdownRefusal();
        if (refusal != d->refusal) {
            d->refusal = refusal;
            emit shutdownRefusalChanged(refusal);
        }
    });
}

void LocalBackend::sampleMinute()
{
    const qint64 minute = HistorySampler::minuteEndedBy(HistorySampler::nowMs());
    // Early after all (the minute is the one just sampled): once more, at the right time. A clock set back
    // samples its minutes again, and each replaces the one stored.
    if (minute != d->lastSampledMinute) {
        d->lastSampledMinute = minute;
        const auto taken = d->sampler.take(minute, cards(), [this](const QString &host) { return details(host); });
        for (const auto &sample : taken)
            EventStore::instance()->storeSample(sample.first, sample.second);
    }
    d->scheduleMinute();
}

Protection *LocalBackend::protection() const
{
    return d->protection.get();
}

void LocalBackend::setEngine(SNMP *engine)
{
    d->protection->setEngine(engine);
}

bool LocalBackend::isReachable() const
{
    return true;
}

QList<CardState> LocalBackend::cards() const
{
    QList<CardState> result;
    for (const QString &host : d->protection->hosts())
        result.append(d->protection->card(host));
    return result;
}

qint64 LocalBackend::countdownMs() const
{
    return d->protection->policy()->remainingMs();
}

SystemMessage LocalBackend::shutdownRefusal() const
{
    return d->protection->policy()->refusal();
}

EventTexts *LocalBackend::texts() const
{
    return d->protection->texts();
}

QString LocalBackend::settingsRefusal(const QVariantMap &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QVariant converted;
        const QString why = SettingKeys::refusal(it.key(), it.value(), &converted);
        if (!why.isEmpty())
            return why;
        if (it.key() == QLatin1String(SettingKeys::application) && !converted.toString().isEmpty()) {
            // Checked as the user that would run it at a power failure: this process's.
            const QString refusal = shutdownApplicationRefusal(converted.toString());
            if (!refusal.isEmpty())
                return QStringLiteral("shutdown application %1: %2").arg(converted.toString(), refusal);
        }
    }
    return QString();
}

QVariantMap LocalBackend::readSettingsNow(const QStringList &keys) const
{
    QVariantMap values;
    for (const QString &key : keys) {
        if (!SettingKeys::find(key))
            continue;
        const QVariant value = readSetting(AppPaths::settingsFilePath(), key);
        if (value.isValid())
            values.insert(key, value);
    }
    return values;
}

BackendReply LocalBackend::writeSettingsNow(const QVariantMap &given)
{
    QVariantMap values = given;
    const auto users = values.find(QLatin1String(SettingKeys::nutUsers));
    QString missing;
    if (users != values.end() && SettingKeys::refusal(users.key(), users.value()).isEmpty()) {
        // A face that was not given the passwords sends them empty: the stored ones stay.
        users.value() = NutUsers::withStoredPasswords(
            users.value(), readSetting(AppPaths::settingsFilePath(), users.key()), &missing);
    }
    QString why = settingsRefusal(values);
    if (why.isEmpty() && !missing.isEmpty())
        why = QStringLiteral("nut/users: %1 has no password").arg(missing);
    if (why.isEmpty())
        why = storeSettings(AppPaths::settingsFilePath(), values);
    if (!why.isEmpty())
        return BackendReply::failure(why);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        emit settingChanged(it.key(), readSetting(AppPaths::settingsFilePath(), it.key()));
    return {};
}

QList<StoredCard> LocalBackend::storedCardsNow() const
{
    QList<StoredCard> result;
    for (const SNMPInfo &info : HostTable::all())
        result.append(stored(info));
    return result;
}

bool LocalBackend::storedCardNow(const QString &ip, StoredCard *card) const
{
    SNMPInfo info;
    if (!HostTable::find(ip, &info))
        return false;
    *card = stored(info);
    return true;
}

QString LocalBackend::hostRefusal(const SNMPInfo &info, const QString &oldIp)
{
    return info.validate(!oldIp.isNull() && info.ip == oldIp);
}

BackendReply LocalBackend::addHostNow(const SNMPInfo &info)
{
    const QString why = hostRefusal(info);
    if (!why.isEmpty())
        return BackendReply::failure(why);
    if (HostTable::exists(info.ip))
        return BackendReply::failure(QStringLiteral("the card %1 is stored already").arg(info.ip));
    if (!HostTable::insert(info))
        return BackendReply::failure(QStringLiteral("the card %1 cannot be stored").arg(info.ip));
    qInfo("Card %s added", qPrintable(info.ip));
    d->protection->addHost(info);
    return {};
}

BackendReply LocalBackend::modifyHostNow(const SNMPInfo &entered, const QString &oldIp)
{
    SNMPInfo old;
    if (!HostTable::find(oldIp, &old))
        return BackendReply::failure(QStringLiteral("no stored card %1").arg(oldIp));
    old.ip = oldIp;
    SNMPInfo info = entered;
    // A secret left empty stays the card's own: never sent to an address the caller names, never carried
    // across a change of version (find() gives only the secrets of the stored version).
    const bool sameCard = info.ip == oldIp && info.version == old.version;
    const bool keptCommunity = info.community.isEmpty() && !old.community.isEmpty();
    const bool keptLogin
        = (info.userName.isEmpty() && !old.userName.isEmpty()) || (info.password.isEmpty() && !old.password.isEmpty());
    const bool kept = info.version == Snmp::CommunityBased ? keptCommunity
        : info.version == Snmp::NetworkUps                 ? keptCommunity || keptLogin
                                                           : keptLogin;
    if (kept && info.ip != oldIp)
        return BackendReply::failure(
            QStringLiteral("a stored community, user name or password is kept only while the address stays %1")
                .arg(oldIp));
    if (sameCard) {
        // A UPS server's name travels like a community: left out of what the service hands back.
        if (info.version != Snmp::Usm && info.community.isEmpty())
            info.community = old.community;
        if (info.version != Snmp::CommunityBased && info.userName.isEmpty())
            info.userName = old.userName;
        if (info.version != Snmp::CommunityBased && info.password.isEmpty())
            info.password = old.password;
    }
    const QString why = info.validate();
    if (!why.isEmpty())
        return BackendReply::failure(why);
    if (info.ip != oldIp && HostTable::exists(info.ip))
        return BackendReply::failure(QStringLiteral("the card %1 is stored already").arg(info.ip));
    if (!HostTable::update(info, oldIp))
        return BackendReply::failure(QStringLiteral("the card %1 cannot be stored").arg(oldIp));
    qInfo("Card %s modified", qPrintable(oldIp));
    d->protection->modifyHost(info, old);
    return {};
}

BackendReply LocalBackend::removeHostNow(const QString &ip)
{
    SNMPInfo old;
    if (!HostTable::find(ip, &old))
        return BackendReply::failure(QStringLiteral("no stored card %1").arg(ip));
    old.ip = ip;
    if (!HostTable::remove(ip))
        return BackendReply::failure(QStringLiteral("the card %1 cannot be removed").arg(ip));
    qInfo("Card %s removed", qPrintable(ip));
    d->protection->removeHost(old.peer());
    return {};
}

BackendReply LocalBackend::eventsNow(qint64 from, qint64 to, QVector<StoredEvent> *events) const
{
    QVector<EventStore::Row> rows;
    if (!EventLog::range(from, to, &rows))
        return BackendReply::failure(QStringLiteral("the events cannot be read"));
    events->reserve(rows.size());
    for (const EventStore::Row &row : qAsConst(rows))
        events->append({row.at, row.host, row.event});
    return {};
}

BackendReply LocalBackend::clearEventsNow()
{
    if (!EventLog::clear())
        return BackendReply::failure(QStringLiteral("the events cannot be cleared"));
    qInfo("Stored events cleared");
    return {};
}

BackendReply LocalBackend::historyNow(
    const QString &host, qint64 from, qint64 to, QVector<HistorySample> *samples) const
{
    if (!EventLog::history(host, from, to, samples))
        return BackendReply::failure(QStringLiteral("the history cannot be read"));
    return {};
}

void LocalBackend::readSettings(const QStringList &keys, QObject *context, SettingsDone done)
{
    const QVariantMap values = readSettingsNow(keys);
    answer(context, [done, values] { done({}, values); });
}

void LocalBackend::writeSettings(const QVariantMap &values, QObject *context, Done done)
{
    const BackendReply reply = writeSettingsNow(values);
    answer(context, [done, reply] { done(reply); });
}

void LocalBackend::storedCards(QObject *context, CardsDone done)
{
    const QList<StoredCard> cards = storedCardsNow();
    answer(context, [done, cards] { done({}, cards); });
}

void LocalBackend::addHost(const SNMPInfo &info, QObject *context, Done done)
{
    const BackendReply reply = addHostNow(info);
    answer(context, [done, reply] { done(reply); });
}

void LocalBackend::modifyHost(const SNMPInfo &info, const QString &oldIp, QObject *context, Done done)
{
    const BackendReply reply = modifyHostNow(info, oldIp);
    answer(context, [done, reply] { done(reply); });
}

void LocalBackend::removeHost(const QString &ip, QObject *context, Done done)
{
    const BackendReply reply = removeHostNow(ip);
    answer(context, [done, reply] { done(reply); });
}

void LocalBackend::events(qint64 from, qint64 to, QObject *context, EventsDone done)
{
    // What the writer still holds counts as stored: the reader must see an event that was announced.
    QPointer<LocalBackend> self(this);
    EventStore::instance()->whenFlushed(context, flushBoundMs, [self, from, to, done](bool) {
        QVector<StoredEvent> events;
        const BackendReply reply = self ? self->eventsNow(from, to, &events)
                                        : BackendReply::failure(QStringLiteral("the protection has ended"));
        done(reply, events);
    });
}

void LocalBackend::clearEvents(QObject *context, Done done)
{
    // Nothing the writer still holds may outlive the clearing.
    QPointer<LocalBackend> self(this);
    EventStore::instance()->whenFlushed(context, flushBoundMs, [self, done](bool) {
        done(self ? self->clearEventsNow() : BackendReply::failure(QStringLiteral("the protection has ended")));
    });
}

void LocalBackend::testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done)
{
    // One runner per request; it lives with the backend, so the run is timed to its end even when the asker
    // has gone.
    auto *test = new ApplicationTest(this);
    QPointer<QObject> asker(context);
    connect(test, &ApplicationTest::finished, this,
        [test, asker, done](int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal) {
            test->deleteLater();
            if (asker)
                done({}, exitCode, exitStatus, elapsedMs, refusal);
        });
    test->start(path, minutes);
}

CardDetails LocalBackend::details(const QString &host) const
{
    return d->protection->details(host);
}

void LocalBackend::history(const QString &host, qint64 from, qint64 to, QObject *context, HistoryDone done)
{
    // The minute just sampled may still be with the writer.
    QPointer<LocalBackend> self(this);
    EventStore::instance()->whenFlushed(context, flushBoundMs, [self, host, from, to, done](bool) {
        QVector<HistorySample> samples;
        const BackendReply reply = self ? self->historyNow(host, from, to, &samples)
                                        : BackendReply::failure(QStringLiteral("the protection has ended"));
        done(reply, samples);
    });
}
