#include "policy/protection.h"

#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "storage/eventtexts.h"
#include "storage/hosttable.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QVariant>

namespace {
// How often the GUI thread's connection checks whether the database file was replaced.
constexpr int fileCheckMs = 200;

} // namespace

struct Protection::Private
{
    SNMP *engine = nullptr; // not owned
    std::unique_ptr<ShutdownPolicy> policy;
    std::unique_ptr<EventTexts> texts;
    QStringList hosts;
    // How many entries of hosts name an address: every report asks, and a search of the list would make a
    // second of reports cost the square of the number of cards.
    QHash<QString, int> listed;
    QHash<QString, CardState> cards;
    QHash<QString, CardDetails> details;

    void list(const QString &host)
    {
        hosts.append(host);
        ++listed[host];
    }
    void unlist(const QString &host)
    {
        if (!hosts.removeOne(host))
            return;
        if (--listed[host] <= 0)
            listed.remove(host);
    }
    QElapsedTimer sinceFileCheck;
    bool resumed = false;
};

Protection::Protection(QObject *parent) : QObject(parent), d(new Private)
{
    qRegisterMetaType<CardDetails>();
    d->policy = std::make_unique<ShutdownPolicy>();
    d->policy->setStatePath(AppPaths::shutdownStatePath());
    d->texts = std::make_unique<EventTexts>(AppPaths::cataloguePath());
    for (const SNMPInfo &info : HostTable::all())
        d->list(info.ip);
    connect(d->policy.get(), &ShutdownPolicy::systemMessage, this, &Protection::systemMessage);
    EventStore *store = EventStore::instance();
    connect(store, &EventStore::storingFailed, this, &Protection::storingFailed);
    connect(store, &EventStore::storingRecovered, this, &Protection::storingRecovered);
    connect(store, &EventStore::rowsStored, this, [this](const QVector<EventStore::Row> &rows) {
        for (const EventStore::Row &row : rows)
            emit eventStored(row.host, row.event, row.at);
    });
}

Protection::~Protection()
{
    // What is still waiting gets a few seconds to reach the disk.
    EventStore::instance()->stop(3000);
}

void Protection::setEngine(SNMP *engine)
{
    if (d->engine)
        disconnect(d->engine, nullptr, this, nullptr);
    d->engine = engine;
    if (!engine)
        return;
    connect(engine, &SNMP::eventTriggered, this, &Protection::handleSNMPEvent);
    connect(engine, &SNMP::statusChanged, this, &Protection::handleSNMPStatus);
    connect(engine, &SNMP::dataReady, this, &Protection::handleSNMPData);
    connect(engine, &SNMP::dataConfirmed, this, &Protection::handleSNMPConfirmation);
    connect(engine, &SNMP::authenticationChanged, this, &Protection::handleAuthentication);
    connect(engine, &SNMP::detailsChanged, this, &Protection::handleDetails);
    connect(engine, &SNMP::forcedShutdown, this, &Protection::handleForcedShutdown);
    // Once the engine watches the cards: a countdown of an outage that the last run did not see to its end.
    if (!d->resumed) {
        d->resumed = true;
        d->policy->resume(d->hosts);
    }
}

void Protection::handleForcedShutdown(const QString &host, const QString &ups)
{
    if (!d->hosts.contains(host))
        return;
    qWarning("Forced shutdown ordered by the UPS server %s for %s", qPrintable(host), qPrintable(ups));
    d->policy->shutdownNow(host, {QLatin1String(SystemMessages::forcedShutdownAsked), {ups, host}});
}

SNMP *Protection::engine() const
{
    return d->engine;
}

ShutdownPolicy *Protection::policy() const
{
    return d->policy.get();
}

EventTexts *Protection::texts() const
{
    return d->texts.get();
}

QStringList Protection::hosts() const
{
    return d->hosts;
}

CardState Protection::card(const QString &host) const
{
    CardState card = d->cards.value(host);
    card.host = host;
    return card;
}

CardDetails Protection::details(const QString &host) const
{
    const auto found = d->details.constFind(host);
    if (found != d->details.constEnd())
        return *found;
    CardDetails none;
    none.host = host;
    return none;
}

void Protection::addHost(const SNMPInfo &info)
{
    d->list(info.ip);
    if (d->engine)
        d->engine->addHost(info);
    emit hostsChanged();
}

void Protection::modifyHost(const SNMPInfo &infoNew, const SNMPInfo &infoOld)
{
    const int index = d->hosts.indexOf(infoOld.ip);
    if (index >= 0) {
        d->hosts[index] = infoNew.ip;
        if (--d->listed[infoOld.ip] <= 0)
            d->listed.remove(infoOld.ip);
        ++d->listed[infoNew.ip];
    }
    if (d->engine)
        d->engine->modifyHost(infoNew, infoOld);
    // A card's state belongs to its address: an edit of the port or the credentials is the same UPS, still on
    // battery, and its countdown goes on. Only an address that leaves the list takes its state along.
    forgetIfUnlisted(infoOld.ip);
    emit hostsChanged();
}

void Protection::forgetIfUnlisted(const QString &host)
{
    if (d->listed.contains(host))
        return;
    d->cards.remove(host);
    d->details.remove(host);
    d->policy->forgetCard(host);
}

void Protection::removeHost(const QString &peer)
{
    const QString host = Snmp::hostOfPeer(peer);
    if (d->engine)
        d->engine->removeHost(peer);
    // Only the first entry goes: the window's rows follow this list one to one.
    d->unlist(host);
    forgetIfUnlisted(host);
    emit hostsChanged();
}

void Protection::storeEvent(const QString &host, int event)
{
    // The writer replaces a deleted file itself; this connection follows it, checked a few times a second.
    if (!d->sinceFileCheck.isValid() || d->sinceFileCheck.elapsed() >= fileCheckMs) {
        d->sinceFileCheck.start();
        Database::instance()->reopenIfDeleted();
    }
    // Queued for the event store's writer: the pop-ups and the protection never wait for the disk.
    EventStore::instance()->store(host, event);
}

void Protection::handleSNMPEvent(const QString &host, int event)
{
    storeEvent(host, event);
    emit eventArrived(host, event, QDateTime::currentSecsSinceEpoch());
}

void Protection::handleSNMPStatus(const QString &host, int status)
{
    if (d->listed.contains(host))
        d->cards[host].status = status;
    emit statusChanged(host, status);
}

void Protection::handleSNMPData(const QString &host, const QByteArray &data)
{
    // Every host's data counts for the protection, listed or not.
    d->policy->checkShutdownCondition(host, data);
    if (d->listed.contains(host))
        d->cards[host].data = data;
    emit dataReady(host, data);
}

void Protection::handleSNMPConfirmation(const QString &host, const QByteArray &data)
{
    d->policy->checkShutdownCondition(host, data);
}

void Protection::handleAuthentication(const QString &host, bool failed)
{
    if (d->listed.contains(host))
        d->cards[host].authenticationFailed = failed;
    emit authenticationChanged(host, failed);
}

void Protection::handleDetails(const CardDetails &details)
{
    // A card removed while its read was on the way has no details to keep.
    if (!d->listed.contains(details.host))
        return;
    CardDetails &kept = d->details[details.host];
    if (kept == details)
        return;
    kept = details;
    emit detailsChanged(details);
}
