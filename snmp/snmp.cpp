#include "snmp/snmp.h"

#include "nut/nutclient.h"

#include "snmp/engineloop.h"
#include "snmp/notificationgate.h"
#include "snmp/snmplock.h"
#include "snmp/snmpmanage.h"
#include "snmp/snmptrapd.h"

#include "storage/logthrottle.h"

#include <QAtomicInteger>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <csignal>
#include <cstdlib>

namespace {

constexpr unsigned long idleSleepMs = 50;
constexpr qint64 summaryPeriodMs = 1000;
constexpr size_t altStackSize = 64 * 1024;

// The crash handler runs on an alternate stack, which is per thread: give the engine thread its own so that
// a stack overflow here is caught too.
class AltStack
{
public:
    AltStack() : m_memory(std::malloc(altStackSize))
    {
        if (!m_memory)
            return;
        stack_t stack {};
        stack.ss_sp = m_memory;
        stack.ss_size = altStackSize;
        stack.ss_flags = 0;
        if (sigaltstack(&stack, nullptr) != 0) {
            std::free(m_memory);
            m_memory = nullptr;
        }
    }
    ~AltStack()
    {
        if (!m_memory)
            return;
        stack_t stack {};
        stack.ss_flags = SS_DISABLE;
        sigaltstack(&stack, nullptr);
        std::free(m_memory);
    }
    AltStack(const AltStack &) = delete;
    AltStack &operator=(const AltStack &) = delete;

private:
    void *m_memory;
};

} // namespace

struct SNMP::Private
{
    SNMPManage *manage = nullptr;
    SNMPTrapd *trapd = nullptr;
    NutClient *nut = nullptr;
    QAtomicInteger<int> running {0};
    QAtomicInteger<quint64> passes {0};
};

SNMP::SNMP(QObject *parent) : QThread(parent), d(new Private)
{
    d->manage = new SNMPManage;
    d->trapd = new SNMPTrapd;
    d->nut = new NutClient;
    // Sockets need no library start-up on this platform.
    startSnmpLibrary();
    updateCards();
    connect(d->manage, &SNMPManage::eventTriggered, this, &SNMP::handleEvent);
    connect(d->manage, &SNMPManage::statusChanged, this, &SNMP::handleStatus);
    connect(d->manage, &SNMPManage::dataReady, this, &SNMP::onDataReady);
    connect(d->manage, &SNMPManage::dataConfirmed, this, &SNMP::dataConfirmed);
    connect(d->manage, &SNMPManage::authenticationChanged, this, &SNMP::authenticationChanged);
    connect(d->manage, &SNMPManage::detailsChanged, this, &SNMP::detailsChanged);
    connect(d->trapd, &SNMPTrapd::eventTriggered, this, &SNMP::handleEvent);
    connect(d->nut, &NutClient::eventTriggered, this, &SNMP::handleEvent);
    connect(d->nut, &NutClient::statusChanged, this, &SNMP::handleStatus);
    connect(d->nut, &NutClient::dataReady, this, &SNMP::onDataReady);
    connect(d->nut, &NutClient::dataConfirmed, this, &SNMP::dataConfirmed);
    connect(d->nut, &NutClient::detailsChanged, this, &SNMP::detailsChanged);
    connect(d->nut, &NutClient::forcedShutdown, this, &SNMP::forcedShutdown);
}

SNMP::~SNMP()
{
    d->running.storeRelease(0);
    delete d->nut;
    d->manage->stopPolling();
    d->trapd->stopListening();
    wait();
    // Several engines may exist at once (tests do that), and card queries use the library too.
    if (stopSnmpLibrary(&EngineLoop::sessionsChanged)) {
        d->manage->forgetSessions();
    } else {
        d->manage->closeSessions();
    }
    delete d->trapd;
    delete d->manage;
}

void SNMP::startService()
{
    d->nut->startPolling();
    d->manage->startPolling();
    d->trapd->startListening();
    d->running.storeRelease(1);
    start(QThread::InheritPriority);
}

void SNMP::addHosts(const QList<SNMPInfo> &infos)
{
    for (const SNMPInfo &info : infos) {
        if (info.version == Snmp::NetworkUps)
            d->nut->addHost(info);
        else
            d->manage->addSession(info);
    }
    updateCards();
}

void SNMP::addHost(const SNMPInfo &info)
{
    addHosts({info});
}

void SNMP::modifyHost(const SNMPInfo &infoNew, const SNMPInfo &infoOld)
{
    d->manage->removeSession(infoOld.peer());
    d->nut->removeHost(infoOld.peer());
    addHosts({infoNew});
}

void SNMP::removeHost(const QString &peer)
{
    d->manage->removeSession(peer);
    d->nut->removeHost(peer);
    updateCards();
}

void SNMP::updateCards()
{
    QStringList addresses;
    for (const QString &peer : d->manage->peers())
        addresses << Snmp::hostOfPeer(peer);
    NotificationGate::instance()->setCards(addresses);
}

SNMPManage *SNMP::manager() const
{
    return d->manage;
}
NutClient *SNMP::upsClient() const
{
    return d->nut;
}
SNMPTrapd *SNMP::listener() const
{
    return d->trapd;
}
quint64 SNMP::loopPasses() const
{
    return d->passes.loadAcquire();
}

void SNMP::handleEvent(const QString &host, int event)
{
    emit eventTriggered(host, event);
}
void SNMP::handleStatus(const QString &host, int status)
{
    emit statusChanged(host, status);
}
void SNMP::onDataReady(const QString &host, const QByteArray &data)
{
    emit dataReady(host, data);
}

void SNMP::run()
{
    AltStack altStack;
    EngineLoop loop;
    qint64 lastSummary = LogThrottle::steadyMs();
    while (d->running.loadAcquire()) {
        d->passes.fetchAndAddRelaxed(1);
        const qint64 now = LogThrottle::steadyMs();
        if (now - lastSummary >= summaryPeriodMs) {
            lastSummary = now;
            NotificationGate::instance()->logOverdue(now);
        }
        const qint64 wait = d->manage->runDue();
        if (!loop.runOnce(wait))
            msleep(idleSleepMs);
    }
}
