#include "snmp/snmp.h"

// Placeholder until the engine lands: keeps the interface the window and the entry build against.
struct SNMP::Private
{
};

SNMP::SNMP(QObject *parent)
    : QThread(parent)
    , d(new Private)
{
}

SNMP::~SNMP() = default;

void SNMP::startService() { }
void SNMP::addHost(const SNMPInfo &) { }
void SNMP::modifyHost(const SNMPInfo &, const SNMPInfo &) { }
void SNMP::removeHost(const QString &) { }
void SNMP::handleEvent(const QString &host, int event) { emit eventTriggered(host, event); }
void SNMP::handleStatus(const QString &host, int status) { emit statusChanged(host, status); }
void SNMP::onDataReady(const QString &host, const QByteArray &data) { emit dataReady(host, data); }
void SNMP::run() { }
