#include "snmp/snmptrapd.h"

#include "snmp/engineloop.h"
#include "snmp/notificationgate.h"
#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"
#include "snmp/trapreader.h"
#include "snmp/trapsockets.h"
#include "storage/eventstore.h"

#include <QByteArray>
#include <QDebug>
#include <QList>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <sys/socket.h>

namespace {

constexpr int trapPort = 162;
// A burst of notifications arrives faster than one engine thread reads while the GUI thread holds the library
// lock for a poll burst; the default socket buffer holds only a few hundred of them.
constexpr int trapReceiveBuffer = 4 << 20;

// The answers of informs whose events wait to be stored: an inform is acknowledged only once its event is kept
// (a row committed, or nobody there to keep it), so that a card whose inform was lost sends it again. Library
// lock held for all of it.
struct WaitingAnswer
{
    netsnmp_session *session;
    quint64 sessionSerial;
    netsnmp_pdu *reply;
};
// Far above what the cards send within the store's commit interval; beyond it an inform is not taken at all.
constexpr std::size_t maxWaitingAnswers = 20000;
std::unordered_map<quint64, WaitingAnswer> waitingAnswers;
quint64 lastAnswer = 0;
// The open listener sessions with the serial each got when it opened: a session address may be reused.
std::unordered_map<netsnmp_session *, quint64> openSessions;
quint64 lastSessionSerial = 0;

netsnmp_pdu *answerOf(netsnmp_pdu *inform)
{
    netsnmp_pdu *reply = snmp_clone_pdu(inform);
    if (reply) {
        reply->command = SNMP_MSG_RESPONSE;
        reply->errstat = 0;
        reply->errindex = 0;
    }
    return reply;
}

void send(netsnmp_session *session, netsnmp_pdu *reply)
{
    if (snmp_send(session, reply) == 0)
        snmp_free_pdu(reply);
}

// 0 when it cannot be kept.
quint64 keepAnswer(netsnmp_session *session, netsnmp_pdu *inform)
{
    const auto open = openSessions.find(session);
    if (open == openSessions.end() || waitingAnswers.size() >= maxWaitingAnswers)
        return 0;
    netsnmp_pdu *reply = answerOf(inform);
    if (!reply)
        return 0;
    waitingAnswers.emplace(++lastAnswer, WaitingAnswer {session, open->second, reply});
    return lastAnswer;
}

// Engine thread (or the GUI thread, for an answer it drops), library lock held.
void finishAnswer(quint64 number, bool stored)
{
    const auto it = waitingAnswers.find(number);
    if (it == waitingAnswers.end())
        return;
    const WaitingAnswer answer = it->second;
    waitingAnswers.erase(it);
    const auto open = openSessions.find(answer.session);
    if (stored && open != openSessions.end() && open->second == answer.sessionSerial)
        send(answer.session, answer.reply);
    else
        snmp_free_pdu(answer.reply);
}

// Engine thread, inside the library's read of the session, with the library lock held. The sender was admitted
// by the reader before the library parsed the datagram.
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
    free(address);
    quint64 answer = 0;
    if (pdu->command == SNMP_MSG_INFORM) {
        // An inform that names none of our events has nothing to keep: answered at once.
        if (SNMPHandler::eventOfNotification(pdu, NotificationGate::instance()->isCard(host)) < 0) {
            if (netsnmp_pdu *reply = answerOf(pdu))
                send(session, reply);
            return 1;
        }
        answer = keepAnswer(session, pdu);
        if (!answer)
            return 1;
    }
    // Dropped at the queue's bound: not acknowledged, so the card sends it again.
    if (!SNMPHandler::instance()->decodeNotification(host, pdu, answer) && answer)
        finishAnswer(answer, false);
    return 1;
}

// As root (tests, the benchmark) the buffer may exceed the system's limit; elsewhere this fails quietly and
// what the socket has stands: the library's own setting (serverRecvBuf) on a socket it bound, the socket
// unit's ReceiveBuffer= (which systemd forces) on a passed one. Never made smaller.
void widenReceiveBuffer(int sock)
{
    int current = 0;
    socklen_t length = sizeof current;
    // The kernel reports twice what was asked for.
    if (getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &current, &length) == 0 && current >= 2 * trapReceiveBuffer)
        return;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &trapReceiveBuffer, sizeof trapReceiveBuffer);
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
    else
        openSessions[added] = ++lastSessionSerial;
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
    const int passed = TrapSockets::passedCount();
    int taken = 0;
    for (const QByteArray &piece : pieces) {
        const bool opened = withSnmpLibrary([&] {
            bool fromSystemd = false;
            netsnmp_transport *transport = TrapSockets::open(piece.constData(), &fromSystemd);
            if (!transport) {
                qWarning("Open trapd service failed!\n");
                return false;
            }
            if (fromSystemd) {
                ++taken;
                qInfo() << "Trapd port" << piece.constData() << "on the socket systemd passed";
            }
            if (transport->sock >= 0)
                widenReceiveBuffer(transport->sock);
            if (!TrapReader::attach(transport))
                qWarning() << "Trapd port" << piece.constData() << "is read without shedding floods first";
            netsnmp_session *session = openTrapSession(transport);
            if (!session) {
                TrapReader::detach(transport);
                // snmp_add has already released the transport.
                qWarning() << "Init trapd session port" << piece.constData() << "failed!\n";
                return false;
            }
            d->sessions.prepend(session);
            EngineLoop::sessionsChanged();
            return true;
        });
        if (!opened)
            break;
    }
    // Also after a failure: whatever was passed and not taken must not reach a child either.
    withSnmpLibrary([] { TrapSockets::seal(); });
    if (passed > taken)
        qWarning("systemd passed %d trap socket(s), %d taken: the others are not read", passed, taken);
}

void SNMPTrapd::stopListening()
{
    const QList<netsnmp_session *> sessions = d->sessions;
    d->sessions.clear();
    withSnmpLibrary([&] {
        for (netsnmp_session *session : sessions) {
            openSessions.erase(session);
            for (auto it = waitingAnswers.begin(); it != waitingAnswers.end();) {
                if (it->second.session == session) {
                    snmp_free_pdu(it->second.reply);
                    it = waitingAnswers.erase(it);
                } else {
                    ++it;
                }
            }
            // The session's transport; snmp_close frees it.
            TrapReader::detach(snmp_sess_transport(snmp_sess_pointer(session)));
            snmp_close(session);
        }
        EngineLoop::sessionsChanged();
    });
}

int SNMPTrapd::sessionCount() const
{
    return d->sessions.size();
}

void SNMPTrapd::onGotTrapdData(const QString &host, int trap, quint64 acknowledgement)
{
    if (!acknowledgement) {
        emit eventTriggered(host, trap);
        return;
    }
    // Whoever stores the event takes the answer along; it goes out from the engine thread after the commit.
    EventStore::AcknowledgeNext next([acknowledgement](bool stored) {
        EngineLoop::post([acknowledgement, stored] { finishAnswer(acknowledgement, stored); });
    });
    emit eventTriggered(host, trap);
}
