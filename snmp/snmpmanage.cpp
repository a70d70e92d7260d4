#include "snmp/snmpmanage.h"

#include "snmp/engineclock.h"
#include "snmp/engineloop.h"
#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/logthrottle.h"
#include "storage/statements.h"

#include <QHash>
#include <QList>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
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
    // Also in the library session (its spare pointer): a report queued from the engine thread finds its own
    // session by it, not a newer one that got the same address.
    quint64 serial = 0;
    // The engine ID is to be forgotten and sought again before the next request.
    bool rediscover = false;
    // The card turned the credentials down and has not answered since.
    bool rejected = false;
    // Steady time of the last answer or engine-ID reset: a request that times out later than its retries allow
    // after that was sent before it and tells nothing new.
    qint64 freshSinceMs = 0;
};

quint64 nextSerial = 0; // GUI thread

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

// The library's user list is process-wide and keyed by engine ID and user name: a session that opens later for
// the same pair takes the entry as it finds it, with the keys of whoever made it. Library lock held.
void removeUsmUser(const u_char *engineId, size_t engineIdLength, const char *name)
{
    if (!engineId || engineIdLength == 0 || !name)
        return;
    if (usmUser *user = usm_get_user(engineId, engineIdLength, name)) {
        usm_remove_user(user);
        usm_free_user(user);
    }
}

// Engine thread, with the library lock held: a report of the card's security layer, or a time-out, for the
// session's own thread-safe handling on the GUI thread.
void postReport(SNMPManage *manager, const netsnmp_session *session, int report)
{
    const quint64 serial = quint64(reinterpret_cast<quintptr>(session->myvoid));
    QMetaObject::invokeMethod(
        manager, [manager, serial, report] { manager->handleReport(serial, report); }, Qt::QueuedConnection);
}

// Engine thread, inside the library's read of the session, with the library lock held.
int responseCallback(int operation, netsnmp_session *session, int, netsnmp_pdu *pdu, void *magic)
{
    auto *manager = static_cast<SNMPManage *>(magic);
    const bool v3 = session->version == SNMP_VERSION_3 && manager;
    const bool keyed = v3 && (session->flags & SNMP_FLAGS_USER_CREATED);
    if (operation == NETSNMP_CALLBACK_OP_TIMED_OUT) {
        // The library drops the card's report to a request under an engine ID the card no longer has (it names
        // a user unknown for the new ID) and to one whose boots went back (outside the time window we hold):
        // to us a reborn card is silent. A request unanswered through all its retries is the nearest sign.
        if (keyed)
            postReport(manager, session, SNMPERR_TIMEOUT);
        return 0;
    }
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
        return 0;
    if (pdu && pdu->command == SNMP_MSG_REPORT && v3) {
        if (!keyed && session->peername) {
            // The answer to an engine-ID probe (the library has taken the ID from it, the user's keys are not
            // made yet): ask the card at once rather than a second later, on the GUI thread where requests
            // are sent.
            const QString peer = QString::fromLatin1(session->peername);
            QMetaObject::invokeMethod(
                manager, [manager, peer] { manager->pollDiscovered(peer); }, Qt::QueuedConnection);
        } else {
            // A report to a real request: the card no longer knows our engine ID, time or keys.
            postReport(manager, session, snmpv3_get_report_type(pdu));
        }
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

    // Library lock held.
    bool sharesUser(const PollSession &s) const;
    void forgetUser(const PollSession &s) const;
    void forgetEngine(PollSession &s) const;
};

bool SNMPManage::Private::sharesUser(const PollSession &s) const
{
    const netsnmp_session *h = s.handle;
    for (const PollSession &other : sessions) {
        const netsnmp_session *o = other.handle;
        if (other.serial == s.serial || !other.usm || o->securityEngineIDLen != h->securityEngineIDLen
            || o->securityNameLen != h->securityNameLen
            || std::memcmp(o->securityEngineID, h->securityEngineID, h->securityEngineIDLen) != 0
            || std::memcmp(o->securityName, h->securityName, h->securityNameLen) != 0)
            continue;
        return true;
    }
    return false;
}

// Before its session closes or seeks its card again: the next session for the same card and user name makes the
// entry anew from its own credentials.
void SNMPManage::Private::forgetUser(const PollSession &s) const
{
    if (!s.usm || s.handle->securityEngineIDLen == 0 || sharesUser(s))
        return;
    removeUsmUser(s.handle->securityEngineID, s.handle->securityEngineIDLen, s.handle->securityName);
}

// A card that was reset, replaced or given new firmware has a new engine ID, or the old one with its boots
// counter and clock started again, which the library would hold for a replay and drop. Forget the ID, its
// cached boots and time and the user made for it; the next poll probes for the ID as at the first contact.
void SNMPManage::Private::forgetEngine(PollSession &s) const
{
    s.rediscover = false;
    s.freshSinceMs = LogThrottle::steadyMs();
    netsnmp_session *h = s.handle;
    if (h->securityEngineIDLen > 0) {
        forgetUser(s);
        free_enginetime(h->securityEngineID, h->securityEngineIDLen);
    }
    free(h->securityEngineID);
    h->securityEngineID = nullptr;
    h->securityEngineIDLen = 0;
    // The library fills the context engine ID in from the same discovery; we set none of our own.
    free(h->contextEngineID);
    h->contextEngineID = nullptr;
    h->contextEngineIDLen = 0;
    h->flags &= ~SNMP_FLAGS_USER_CREATED;
}

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

    const quint64 serial = ++nextSerial;
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
            opened->myvoid = reinterpret_cast<void *>(quintptr(serial));
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
    d->sessions.prepend(
        PollSession {handle, record, QString::fromLocal8Bit(peerName), info.version == Snmp::Usm, serial});
    if (d->burstNext >= 0)
        ++d->burstNext; // keeps pointing at the same card
}

void SNMPManage::removeSession(const QString &peer)
{
    for (auto it = d->sessions.begin(); it != d->sessions.end(); ++it) {
        if (it->peer != peer)
            continue;
        const PollSession removed = *it;
        if (d->burstNext > int(it - d->sessions.begin()))
            --d->burstNext;
        d->statusMap.remove(peer);
        d->lastSeenMap.remove(peer);
        withSnmpLibrary([&] {
            d->forgetUser(removed);
            d->sessions.erase(it);
            snmp_close(removed.handle);
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
    d->burstNext = -1;
    withSnmpLibrary([&] {
        while (!d->sessions.isEmpty()) {
            const PollSession s = d->sessions.takeFirst();
            d->forgetUser(s);
            snmp_close(s.handle);
        }
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
    for (const PollSession &s : sessions) {
        if (!checkTimeout(now, s.peer) || !s.usm)
            continue;
        // Silent for the whole rule: perhaps no longer the engine we knew. Sought again with the next poll.
        for (PollSession &current : d->sessions) {
            if (current.serial == s.serial)
                current.rediscover = true;
        }
    }
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
            PollSession &s = d->sessions[d->burstNext];
            if (s.rediscover) {
                d->forgetEngine(s);
            }
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

bool SNMPManage::checkTimeout(qint64 now, const QString &peer)
{
    const auto seen = d->lastSeenMap.find(peer);
    if (seen == d->lastSeenMap.end())
        return false;
    const qint64 elapsed = now - seen.value();
    if (elapsed < 0 || elapsed <= silenceSeconds)
        return false;
    seen.value() = now;
    const auto state = d->statusMap.find(peer);
    if (state == d->statusMap.end() || state.value() == Snmp::Offline)
        return true;
    state.value() = Snmp::Offline;
    const QString host = Snmp::hostOfPeer(peer);
    emit statusChanged(host, Snmp::Offline);
    emit eventTriggered(host, Snmp::EventHostLost);
    return true;
}

void SNMPManage::handleReport(quint64 serial, int report)
{
    auto it = std::find_if(
        d->sessions.begin(), d->sessions.end(), [serial](const PollSession &s) { return s.serial == serial; });
    if (it == d->sessions.end() || !it->usm)
        return;
    switch (report) {
    case SNMPERR_TIMEOUT: {
        const qint64 triesMs = qint64(qMax(0L, it->handle->timeout)) / 1000 * (qMax(0, it->handle->retries) + 1);
        if (LogThrottle::steadyMs() - it->freshSinceMs > triesMs)
            it->rediscover = true;
        return;
    }
    case SNMPERR_UNKNOWN_ENG_ID:
    case SNMPERR_NOT_IN_TIME_WINDOW:
        it->rediscover = true;
        return;
    case SNMPERR_AUTHENTICATION_FAILURE:
    case SNMPERR_DECRYPTION_ERR:
        // The same keys may work with the card found anew (one that was replaced); if not, this comes again.
        it->rediscover = true;
        break;
    case SNMPERR_UNKNOWN_USER_NAME:
    case SNMPERR_UNSUPPORTED_SEC_LEVEL:
        break;
    default:
        return;
    }
    if (it->rejected)
        return;
    it->rejected = true;
    const QString host = Snmp::hostOfPeer(it->peer);
    // Once until the card answers: the reports come with every poll.
    const QByteArray why = withSnmpLibrary([report] { return QByteArray(snmp_api_errstring(report)); });
    qWarning("SNMP v3 card %s rejects the credentials (%s): check the user name, the protocols and the pass phrase",
        qPrintable(it->peer), why.constData());
    emit authenticationChanged(host, true);
}

void SNMPManage::onGotSessionData(const QString &peer, const QByteArray &data)
{
    // An answer read just before its card was removed or replaced still arrives here: it is no report of any
    // configured card, and the policy must not take it up again.
    const auto state = d->statusMap.find(peer);
    if (state == d->statusMap.end())
        return;
    const QString host = Snmp::hostOfPeer(peer);
    for (PollSession &s : d->sessions) {
        if (s.peer != peer)
            continue;
        s.freshSinceMs = LogThrottle::steadyMs();
        if (s.rejected) {
            s.rejected = false;
            emit authenticationChanged(host, false);
        }
    }
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
