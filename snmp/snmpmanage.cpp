#include "snmp/snmpmanage.h"

#include "snmp/engineclock.h"
#include "snmp/engineloop.h"
#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/statements.h"

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstring>

namespace {

constexpr int pollIntervalMs = 1000;
// A poll burst goes out in slices this large, with the GUI thread's queue served between them: the answers that
// come back while later cards are still being asked reach the window in a millisecond or two, not after the
// whole burst.
constexpr int burstSlice = 32;
constexpr qint64 silenceSeconds = 10;
constexpr int peerNameSize = 32;

struct PollSession
{
    netsnmp_session *handle;
    // The library's record of the session: sending through it spares the search of every open session that
    // snmp_send makes, which made a poll burst cost the square of the number of cards.
    void *record;
    QString peer;
    bool usm;
};

// A v3 request to a card whose engine ID is not known yet makes the library probe for it synchronously, retries
// times timeout, right inside snmp_send: on the GUI thread, with the engine lock held, so everything stops for
// seconds while a card is down. We keep the library from probing and discover the engine ID ourselves, the way
// its probe does it but asynchronously: an unauthenticated GET without variables under the empty user name, whose
// usmStatsUnknownEngineIDs report the receive cycle reads like any answer; the library then stores the engine ID
// in the session. Library lock held.
void sendEngineIdProbe(void *record)
{
    netsnmp_pdu *probe = snmp_pdu_create(SNMP_MSG_GET);
    if (!probe)
        return;
    probe->version = SNMP_VERSION_3;
    probe->securityModel = SNMP_SEC_MODEL_USM;
    probe->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
    probe->securityName = strdup("");
    probe->securityNameLen = 0;
    if (snmp_sess_send(record, probe) == 0)
        snmp_free_pdu(probe);
    else
        EngineLoop::requestSent(record);
}

// One poll request, a copy of the template (the library frees what it sent). Library lock held.
void sendRequest(void *record, const netsnmp_pdu *requestTemplate)
{
    netsnmp_pdu *request = snmp_clone_pdu(const_cast<netsnmp_pdu *>(requestTemplate));
    if (!request)
        return;
    if (snmp_sess_send(record, request) == 0)
        snmp_free_pdu(request);
    else
        EngineLoop::requestSent(record);
}

// Once the engine ID is known, the user's keys are localised to it, as the library does after its own probe.
// Library lock held.
bool readyForRequests(netsnmp_session *handle)
{
    if (handle->securityEngineIDLen == 0)
        return false;
    if (!(handle->flags & SNMP_FLAGS_USER_CREATED) && usm_create_user_from_session(handle) != SNMPERR_SUCCESS) {
        qWarning("Create SNMP v3 user failed!");
        return false;
    }
    return true;
}

// Engine thread, inside the library's read of the session, with the library lock held.
int responseCallback(int operation, netsnmp_session *session, int, netsnmp_pdu *pdu, void *magic)
{
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
        return 0;
    // The answer to an engine-ID probe (the library has taken the ID from it, the user's keys are not made
    // yet): ask the card at once rather than a second later, on the GUI thread where requests are sent.
    if (pdu && pdu->command == SNMP_MSG_REPORT && session->version == SNMP_VERSION_3
        && !(session->flags & SNMP_FLAGS_USER_CREATED) && magic && session->peername) {
        auto *manager = static_cast<SNMPManage *>(magic);
        const QString peer = QString::fromLatin1(session->peername);
        QMetaObject::invokeMethod(
            manager, [manager, peer] { manager->pollDiscovered(peer); }, Qt::QueuedConnection);
    }
    // A v3 agent that rejects our user, digest or protocol sends a Report from its security layer; that is
    // no answer to the poll, and counting it would show a card we cannot read as online.
    if (!pdu || pdu->command != SNMP_MSG_RESPONSE)
        return 1;
    SNMPHandler::instance()->decodeResponse(session, pdu);
    return 1;
}

} // namespace

struct SNMPManage::Private
{
    QList<PollSession> sessions; // newest first
    int burstNext = -1; // the next session of the running burst, -1 when none runs
    netsnmp_pdu *requestTemplate = nullptr;
    std::unique_ptr<QTimer> pollTimer;
    QHash<QString, int> statusMap;
    QHash<QString, qint64> lastSeenMap;
};

SNMPManage::SNMPManage(QObject *parent) : QObject(parent), d(new Private)
{
    d->pollTimer.reset(new QTimer);
    buildRequest();
    Database::instance()->createTables();
    connect(SNMPHandler::instance(), &SNMPHandler::gotSessionData, this, &SNMPManage::onGotSessionData);
    connect(d->pollTimer.get(), &QTimer::timeout, this, &SNMPManage::pollAll);
}

SNMPManage::~SNMPManage()
{
    if (d->requestTemplate)
        withSnmpLibrary([this] { snmp_free_pdu(d->requestTemplate); });
}

void SNMPManage::buildRequest()
{
    withSnmpLibrary([this] {
        netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
        if (!pdu) {
            qWarning("Create PDU failed!");
            return;
        }
        for (const auto &name : Snmp::polledOid)
            snmp_add_null_var(pdu, reinterpret_cast<const oid *>(name), Snmp::PolledOidLength);
        d->requestTemplate = pdu;
    });
}

void SNMPManage::startPolling()
{
    qInfo("Start SNMP NMS service.\r\n");
    d->pollTimer->start(pollIntervalMs);
}

void SNMPManage::stopPolling()
{
    d->pollTimer->stop();
}

bool SNMPManage::isPolling() const
{
    return d->pollTimer->isActive();
}

void SNMPManage::loadHosts()
{
    QSqlQuery query(Database::instance()->connection(AppPaths::databasePath()));
    if (!query.exec(QLatin1String(Sql::selectAllSessions)))
        return;
    while (query.next()) {
        SNMPInfo info;
        info.ip = query.value(2).toString();
        info.port = query.value(3).toInt();
        info.version = query.value(4).toInt();
        if (info.version == Snmp::CommunityBased) {
            info.community = query.value(5).toString();
        } else if (info.version == Snmp::Usm) {
            info.authType = query.value(6).toInt();
            info.privType = query.value(7).toInt();
            info.userName = query.value(8).toString();
            info.password = query.value(9).toString();
        }
        addSession(info);
    }
}

void SNMPManage::configureUsm(snmp_session *session, const SNMPInfo &info)
{
    const QByteArray user = info.userName.toLocal8Bit();
    const QByteArray privPass = info.password.toLocal8Bit();
    session->version = SNMP_VERSION_3;
    session->securityModel = SNMP_SEC_MODEL_USM;
    // The library keeps its own copy when the session opens; until then the bytes must live, so strdup.
    session->securityName = strdup(user.constData());
    session->securityNameLen = static_cast<size_t>(user.size());

    const Snmp::SecurityLevel level = Snmp::securityLevel(info.userName, info.password);
    if (level == Snmp::SecurityLevel::NoAuthNoPriv) {
        session->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
        return;
    }
    session->securityLevel
        = level == Snmp::SecurityLevel::AuthPriv ? SNMP_SEC_LEVEL_AUTHPRIV : SNMP_SEC_LEVEL_AUTHNOPRIV;

    size_t length = 0;
    if (info.authType == Snmp::AuthMd5)
        session->securityAuthProto = sc_get_auth_oid(NETSNMP_USMAUTH_HMACMD5, &length);
    else if (info.authType == Snmp::AuthSha)
        session->securityAuthProto = sc_get_auth_oid(NETSNMP_USMAUTH_HMACSHA1, &length);
    session->securityAuthProtoLen = length;
    session->securityAuthKeyLen = USM_AUTH_KU_LEN;
    if (!session->securityAuthProto
        || generate_Ku(session->securityAuthProto, static_cast<u_int>(session->securityAuthProtoLen),
               reinterpret_cast<const u_char *>(user.constData()), static_cast<size_t>(user.size()),
               session->securityAuthKey, &session->securityAuthKeyLen)
            != SNMPERR_SUCCESS) {
        qWarning("Error generating a key (Ku) from the supplied authentication pass phrase!");
        return;
    }
    if (level != Snmp::SecurityLevel::AuthPriv)
        return;

    length = 0;
    if (info.privType == Snmp::PrivDes)
        session->securityPrivProto = sc_get_priv_oid(USM_CREATE_USER_PRIV_DES, &length);
    else if (info.privType == Snmp::PrivAes)
        session->securityPrivProto = sc_get_priv_oid(USM_CREATE_USER_PRIV_AES, &length);
    session->securityPrivProtoLen = length;
    session->securityPrivKeyLen = USM_PRIV_KU_LEN;
    if (generate_Ku(session->securityAuthProto, static_cast<u_int>(session->securityAuthProtoLen),
            reinterpret_cast<const u_char *>(privPass.constData()), static_cast<size_t>(privPass.size()),
            session->securityPrivKey, &session->securityPrivKeyLen)
        != SNMPERR_SUCCESS) {
        qWarning("Error generating a key (Ku) from the supplied privacy pass phrase!");
    }
}

void SNMPManage::addSession(const SNMPInfo &info)
{
    if (info.version != Snmp::CommunityBased && info.version != Snmp::Usm)
        return;

    const QString peer = info.peer();
    char peerName[peerNameSize];
    std::memset(peerName, 0, sizeof peerName);
    std::strncpy(peerName, peer.toLocal8Bit().constData(), sizeof peerName - 1);
    const QByteArray community = info.community.toLocal8Bit();

    d->statusMap[peer] = Snmp::Offline;
    d->lastSeenMap[peer] = EngineClock::nowSeconds();

    void *record = nullptr;
    netsnmp_session *handle = withSnmpLibrary([&]() -> netsnmp_session * {
        netsnmp_session session;
        snmp_sess_init(&session);
        if (info.version == Snmp::CommunityBased) {
            session.version = SNMP_VERSION_2c;
            session.community = reinterpret_cast<u_char *>(const_cast<char *>(community.constData()));
            session.community_len = static_cast<size_t>(community.size());
        } else {
            configureUsm(&session, info);
        }
        session.peername = peerName;
        session.callback = responseCallback;
        session.callback_magic = this;
        netsnmp_session *opened = snmp_open(&session);
        free(session.securityName);
        // snmp_open clears the flag that snmp_sess_init sets; the first request would then probe, blocking.
        if (opened && info.version == Snmp::Usm)
            opened->flags |= SNMP_FLAGS_DONT_PROBE;
        if (opened) {
            // The newest session heads the library's list: found at once.
            record = snmp_sess_pointer(opened);
            EngineLoop::sessionsChanged();
        }
        return opened;
    });
    if (!handle || !record) {
        if (handle)
            withSnmpLibrary([handle] {
                snmp_close(handle);
                EngineLoop::sessionsChanged();
            });
        qWarning("Create SNMP session failed!");
        return;
    }
    d->sessions.prepend(PollSession {handle, record, QString::fromLocal8Bit(peerName), info.version == Snmp::Usm});
    if (d->burstNext >= 0)
        ++d->burstNext; // keeps pointing at the same card
}

void SNMPManage::removeSession(const QString &peer)
{
    for (auto it = d->sessions.begin(); it != d->sessions.end(); ++it) {
        if (it->peer != peer)
            continue;
        netsnmp_session *handle = it->handle;
        if (d->burstNext > int(it - d->sessions.begin()))
            --d->burstNext;
        d->sessions.erase(it);
        d->statusMap.remove(peer);
        d->lastSeenMap.remove(peer);
        withSnmpLibrary([handle] {
            snmp_close(handle);
            EngineLoop::sessionsChanged();
        });
        return;
    }
}

void SNMPManage::forgetSessions()
{
    d->sessions.clear();
    d->burstNext = -1;
}

void SNMPManage::closeSessions()
{
    const QList<PollSession> sessions = d->sessions;
    d->sessions.clear();
    d->burstNext = -1;
    withSnmpLibrary([&] {
        for (const PollSession &s : sessions)
            snmp_close(s.handle);
        EngineLoop::sessionsChanged();
    });
}

QStringList SNMPManage::peers() const
{
    QStringList result;
    for (const PollSession &s : d->sessions)
        result << s.peer;
    return result;
}

int SNMPManage::sessionCount() const
{
    return d->sessions.size();
}

int SNMPManage::status(const QString &peer) const
{
    return d->statusMap.value(peer, -1);
}

void SNMPManage::pollAll()
{
    const qint64 now = EngineClock::nowSeconds();
    // A burst still running a second later (a GUI thread held up) starts again from the first card.
    const bool continuing = d->burstNext >= 0;
    d->burstNext = 0;
    if (!continuing)
        sendBurstSlice();
    // The offline signals reach the window directly, and its slots may add or remove hosts meanwhile: walk a
    // copy. A removed peer has no map entries left, so its check does nothing.
    const QList<PollSession> sessions = d->sessions;
    for (const PollSession &s : sessions)
        checkTimeout(now, s.peer);
}

void SNMPManage::sendBurstSlice()
{
    if (!d->requestTemplate || d->burstNext < 0) {
        d->burstNext = -1;
        return;
    }
    // One lock per slice: taking it per request would only make the engine thread contend for it each time.
    withSnmpLibrary([this] {
        const int end = qMin(int(d->sessions.size()), d->burstNext + burstSlice);
        for (; d->burstNext < end; ++d->burstNext) {
            const PollSession &s = d->sessions.at(d->burstNext);
            // Until a v3 card has told its engine ID, each second asks it for that instead.
            if (s.usm && !readyForRequests(s.handle)) {
                sendEngineIdProbe(s.record);
                continue;
            }
            sendRequest(s.record, d->requestTemplate);
        }
    });
    if (d->burstNext >= d->sessions.size()) {
        d->burstNext = -1;
        return;
    }
    // Queued behind the answers already waiting, so that they are taken first.
    QMetaObject::invokeMethod(
        this, [this] { sendBurstSlice(); }, Qt::QueuedConnection);
}

void SNMPManage::pollDiscovered(const QString &peer)
{
    if (!d->requestTemplate)
        return;
    withSnmpLibrary([&] {
        for (const PollSession &s : qAsConst(d->sessions)) {
            // Once per discovery: later reports of the same probe round find the keys made already.
            if (s.peer != peer || !s.usm || (s.handle->flags & SNMP_FLAGS_USER_CREATED) || !readyForRequests(s.handle))
                continue;
            sendRequest(s.record, d->requestTemplate);
        }
    });
}

void SNMPManage::checkTimeout(qint64 now, const QString &peer)
{
    const auto seen = d->lastSeenMap.find(peer);
    if (seen == d->lastSeenMap.end())
        return;
    const qint64 elapsed = now - seen.value();
    if (elapsed < 0 || elapsed <= silenceSeconds)
        return;
    seen.value() = now;
    const auto state = d->statusMap.find(peer);
    if (state == d->statusMap.end() || state.value() == Snmp::Offline)
        return;
    state.value() = Snmp::Offline;
    const QString host = Snmp::hostOfPeer(peer);
    emit statusChanged(host, Snmp::Offline);
    emit eventTriggered(host, Snmp::EventHostLost);
}

void SNMPManage::onGotSessionData(const QString &peer, const QByteArray &data)
{
    // An answer read just before its card was removed or replaced still arrives here: it is no report of any
    // configured card, and the policy must not take it up again.
    const auto state = d->statusMap.find(peer);
    if (state == d->statusMap.end())
        return;
    const QString host = Snmp::hostOfPeer(peer);
    if (state.value() != Snmp::Online) {
        const int old = state.value();
        state.value() = Snmp::Online;
        emit statusChanged(host, Snmp::Online);
        if (old == Snmp::Offline)
            emit eventTriggered(host, Snmp::EventHostBack);
    }
    const auto seen = d->lastSeenMap.find(peer);
    if (seen != d->lastSeenMap.end())
        seen.value() = EngineClock::nowSeconds();
    emit dataReady(host, data);
}
