#include "snmp/snmptrapd.h"

#include "snmp/engineloop.h"
#include "snmp/notificationgate.h"
#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"

#include <QByteArray>
#include <QDebug>
#include <QList>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/socket.h>

namespace {

constexpr int trapPort = 162;
// A burst of notifications arrives faster than one engine thread reads while the GUI thread holds the library
// lock for a poll burst; the default socket buffer holds only a few hundred of them.
constexpr int trapReceiveBuffer = 4 << 20;

// Engine thread, inside the library's read of the session, with the library lock held.
int trapCallback(int operation, netsnmp_session *session, int, netsnmp_pdu *pdu, void *magic)
{
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || !pdu)
        return 1;
    if (pdu->command != SNMP_MSG_TRAP && pdu->command != SNMP_MSG_INFORM && pdu->command != SNMP_MSG_TRAP2)
        return 1;
    auto *transport = static_cast<netsnmp_transport *>(magic);
    if (!transport || !transport->f_fmtaddr)
        return 1;
    char *address = transport->f_fmtaddr(transport, pdu->transport_data, pdu->transport_data_length);
    if (!address)
        return 1;
    const QString host = SNMPTrapd::hostFromAddressText(address);
    // Taken into the program's queue, or dropped: only what was taken is acknowledged, so that the card sends a
    // dropped inform again.
    const bool accepted = NotificationGate::instance()->admit(host, LogThrottle::steadyMs())
        && SNMPHandler::instance()->decodeNotification(host, pdu);

    if (accepted && pdu->command == SNMP_MSG_INFORM) {
        netsnmp_pdu *reply = snmp_clone_pdu(pdu);
        if (reply) {
            reply->command = SNMP_MSG_RESPONSE;
            reply->errstat = 0;
            reply->errindex = 0;
            if (snmp_send(session, reply) == 0)
                snmp_free_pdu(reply);
        }
    }
    free(address);
    return 1;
}

netsnmp_session *openTrapSession(netsnmp_transport *transport)
{
    netsnmp_session session;
    snmp_sess_init(&session);
    session.peername = nullptr;
    session.version = SNMP_DEFAULT_VERSION;
    session.community_len = 0;
    session.retries = SNMP_DEFAULT_RETRIES;
    session.timeout = SNMP_DEFAULT_TIMEOUT;
    session.callback = trapCallback;
    session.callback_magic = transport;
    session.authenticator = nullptr;
    session.isAuthoritative = SNMP_SESS_UNKNOWNAUTH;
    netsnmp_session *added = snmp_add(&session, transport, nullptr, nullptr);
    if (!added)
        qWarning("Init trap session error!\n");
    return added;
}

} // namespace

struct SNMPTrapd::Private
{
    int port = trapPort;
    QList<netsnmp_session *> sessions; // newest first
};

SNMPTrapd::SNMPTrapd(QObject *parent) : QObject(parent), d(new Private)
{
    connect(SNMPHandler::instance(), &SNMPHandler::gotTrapdData, this, &SNMPTrapd::onGotTrapdData);
}

SNMPTrapd::~SNMPTrapd() = default;

QString SNMPTrapd::hostFromAddressText(const char *text)
{
    if (!text)
        return QString();
    const char *begin = std::strchr(text, '[');
    begin = begin ? begin + 1 : text;
    const char *end = std::strchr(begin, ']');
    const size_t length = end ? static_cast<size_t>(end - begin) : std::strlen(begin);
    return QString::fromLatin1(begin, static_cast<int>(length));
}

void SNMPTrapd::startListening()
{
    char spec[64];
    std::memset(spec, 0, sizeof spec);
    std::snprintf(spec, sizeof spec, "udp:%d,udp6:[::1]:%d", d->port, d->port);
    qInfo("Start SNMP trapd service.\r\n");

    withSnmpLibrary([] {
        // Unless the library's own configuration (serverRecvBuf) says otherwise.
        if (netsnmp_ds_get_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SERVERRECVBUF) <= 0)
            netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SERVERRECVBUF, trapReceiveBuffer);
    });
    const QList<QByteArray> pieces = QByteArray(spec).split(',');
    for (const QByteArray &piece : pieces) {
        const bool opened = withSnmpLibrary([&] {
            netsnmp_transport *transport = netsnmp_transport_open_server("snmptrapd", piece.constData());
            if (!transport) {
                qWarning("Open trapd service failed!\n");
                return false;
            }
            // As root (tests, the benchmark) the buffer may exceed the system's limit; elsewhere this fails
            // quietly and the library's own setting stands.
            if (transport->sock >= 0)
                setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &trapReceiveBuffer, sizeof trapReceiveBuffer);
            netsnmp_session *session = openTrapSession(transport);
            if (!session) {
                // snmp_add has already released the transport.
                qWarning() << "Init trapd session port" << piece.constData() << "failed!\n";
                return false;
            }
            d->sessions.prepend(session);
            EngineLoop::sessionsChanged();
            return true;
        });
        if (!opened)
            return;
    }
}

void SNMPTrapd::stopListening()
{
    const QList<netsnmp_session *> sessions = d->sessions;
    d->sessions.clear();
    withSnmpLibrary([&] {
        for (netsnmp_session *session : sessions)
            snmp_close(session);
        EngineLoop::sessionsChanged();
    });
}

int SNMPTrapd::sessionCount() const
{
    return d->sessions.size();
}

void SNMPTrapd::onGotTrapdData(const QString &host, int trap)
{
    emit eventTriggered(host, trap);
}
