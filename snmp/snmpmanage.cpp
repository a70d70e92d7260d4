#include "snmp/snmpmanage.h"

#include "snmp/detailreader.h"
#include "snmp/engineclock.h"
#include "snmp/engineloop.h"
#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"
#include "storage/database.h"
#include "storage/logthrottle.h"

#include <QDateTime>
#include <QHash>
#include <QThread>
#include <QVector>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr qint64 pollIntervalMs = 1000;
// A poll burst goes out in slices this large, with the ready sockets read between them: the answers that come
// back while later cards are still being asked wait for a millisecond, not for the whole burst.
constexpr int burstSlice = 32;
constexpr qint64 silenceSeconds = 10;
constexpr int peerNameSize = 32;
// A round's answers are in when every card asked (and not silent) has answered, or this long after the last
// request went out; what comes later waits for the next round's delivery.
constexpr qint64 settleMs = 250;
// Data changes waiting for a GUI thread that stopped taking them are bounded; one dropped is handed over again
// with the card's next answer.
constexpr int maxPendingReports = 100000;
// An unchanged detail record is handed over again after this long.
constexpr qint64 unchangedDetailsMs = 60000;

// What was last handed over for one address (see Snmp::reportOf), shared by the sessions of that address: two
// ports of one address are one card to the window and the policy.
struct Reported
{
    QByteArray data;
};

struct PollSession
{
    netsnmp_session *handle = nullptr;
    // The library's record of the session: sending through it spares the search of every open session that
    // snmp_send makes, which made a poll burst cost the square of the number of cards.
    void *record = nullptr;
    QString peer;
    QString host; // the address alone, as the signals carry it
    bool usm = false;
    // Also in the library session (its spare pointer): what the callback finds this record by. A serial is
    // never given twice, so nothing meant for a closed session reaches a newer one at the same address.
    quint64 serial = 0;
    // The engine ID is to be forgotten and sought again before the next request.
    bool rediscover = false;
    // The card turned the credentials down and has not answered since.
    bool rejected = false;
    // Steady time of the last answer or engine-ID reset: a request that times out later than its retries allow
    // after that was sent before it and tells nothing new.
    qint64 freshSinceMs = 0;
    // Silent for the whole silence rule and not heard from since: a round does not wait for its answer.
    bool silent = false;
    // The last round it was sent a request in (no engine-ID probe), and the last round it answered in.
    quint64 askedRound = 0;
    quint64 answeredRound = 0;
    int status = Snmp::Offline;
    // The silence rule's clock at the last answer (or the opening).
    qint64 lastSeen = 0;
    std::shared_ptr<Reported> reported;
    // The detail reader's: what the card reported last and the model's octets.
    CardDetails details;
    QByteArray detailModel;
};

// One thing the GUI thread is told, in the order it happened. What one answer or one silence check gave is a
// group, told whole or (its session closed before the delivery) not at all, as a slot that closes the session
// of the first signal would see it if the signals were emitted at once.
struct Change
{
    enum Kind
    {
        Status,
        Event,
        Data,
        Confirmation,
        Authentication
    };
    Kind kind;
    quint64 serial; // the session it came from
    quint64 group;
    QString host;
    int value = 0;
    QByteArray data;
};

// New details of a card, handed over after the changes of the same delivery.
struct DetailChange
{
    quint64 serial;
    CardDetails details;
};

quint64 nextSerial = 0; // GUI thread

quint64 serialOf(const netsnmp_session *session)
{
    return quint64(reinterpret_cast<quintptr>(session->myvoid));
}

// A v3 request to a card whose engine ID is not known yet makes the library probe for it synchronously, retries
// times timeout, right inside snmp_send, with the engine lock held: the rounds, the reads and the GUI thread's
// host changes would stop for seconds while a card is down. We keep the library from probing and discover the engine ID
// ourselves, the way its probe does it but asynchronously: an unauthenticated GET without variables under the empty
// user name, whose usmStatsUnknownEngineIDs report the receive cycle reads like any answer; the library then stores the
// engine ID in the session. Library lock held.
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
bool sendRequest(void *record, const netsnmp_pdu *requestTemplate)
{
    netsnmp_pdu *request = snmp_clone_pdu(const_cast<netsnmp_pdu *>(requestTemplate));
    if (!request)
        return false;
    if (snmp_sess_send(record, request) == 0) {
        snmp_free_pdu(request);
        return false;
    }
    EngineLoop::requestSent(record);
    return true;
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

} // namespace

struct SNMPManage::Private
{
    std::vector<std::unique_ptr<PollSession>> sessions; // newest first
    // Written only on the GUI thread, under the lock: that thread alone may also read it without.
    QHash<quint64, PollSession *> bySerial;
    int burstNext = -1; // the next session of the running burst, -1 when none runs
    netsnmp_pdu *requestTemplate = nullptr;
    // Looked up when a session opens, never per answer.
    QHash<QString, std::weak_ptr<Reported>> reportedByHost;
    // v3 sessions whose engine ID just became known, to be asked at once.
    QVector<quint64> discovered;

    std::atomic<bool> polling {false};
    qint64 nextRoundMs = 0;
    quint64 round = 0;
    int expected = 0; // requests of this round whose answers it waits for
    int answered = 0;
    qint64 burstEndMs = -1; // when the round's last slice went out; -1 while the burst runs
    bool handedOver = false; // the round's delivery has been made
    qint64 lastDeliveryMs = 0;
    bool deliveryQueued = false; // posted and not yet taken by the GUI thread
    QVector<Change> pending;
    DetailReader detailReader;
    QVector<DetailChange> pendingDetails;
    quint64 group = 0; // of the changes pended now
    quint64 droppedReports = 0;
    LogThrottle dropLog;
    // When runDue has something to do next (steady ms); read without the lock, lowered by whoever adds work.
    std::atomic<qint64> dueMs {0};
    std::atomic<quint64> answers {0};

    // Library lock held.
    bool sharesUser(const PollSession &s) const;
    void forgetUser(const PollSession &s) const;
    void forgetEngine(PollSession &s) const;
    void pend(Change::Kind kind, const PollSession &s, int value = 0, const QByteArray &data = QByteArray());
    bool hasPending() const { return !pending.isEmpty() || !pendingDetails.isEmpty(); }
    bool roundCollected(qint64 nowMs) const
    {
        return burstNext < 0 && (answered >= expected || nowMs >= burstEndMs + settleMs);
    }
    // The session was waited for in this round and will not answer in it.
    void noLongerExpected(const PollSession &s)
    {
        if (s.askedRound == round && s.answeredRound != round && !s.silent)
            --expected;
    }
};

bool SNMPManage::Private::sharesUser(const PollSession &s) const
{
    const netsnmp_session *h = s.handle;
    for (const auto &other : sessions) {
        const netsnmp_session *o = other->handle;
        if (other->serial == s.serial || !other->usm || o->securityEngineIDLen != h->securityEngineIDLen
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

void SNMPManage::Private::pend(Change::Kind kind, const PollSession &s, int value, const QByteArray &data)
{
    if ((kind == Change::Data || kind == Change::Confirmation) && pending.size() >= maxPendingReports) {
        // Not handed over, so not to be taken as known there: the next answer is a change again.
        s.reported->data.clear();
        ++droppedReports;
        if (const qint64 lines = dropLog.hit(QStringLiteral("reports"), LogThrottle::steadyMs()))
            qWarning("Poll reports waiting for the GUI thread at their bound (%d): %lld dropped since the last "
                     "line, %llu in all; each card's next answer is handed over again",
                maxPendingReports, static_cast<long long>(lines), static_cast<unsigned long long>(droppedReports));
        return;
    }
    pending.append(Change {kind, s.serial, group, s.host, value, data});
    // runDue decides when it goes over.
    if (!deliveryQueued)
        dueMs.store(0);
}

SNMPManage::SNMPManage(QObject *parent) : QObject(parent), d(new Private)
{
    qRegisterMetaType<CardDetails>();
    buildRequest();
    Database::instance()->createTables();
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
    SnmpLock lock;
    d->nextRoundMs = LogThrottle::steadyMs() + pollIntervalMs;
    d->polling.store(true);
    d->dueMs.store(0);
}

void SNMPManage::stopPolling()
{
    d->polling.store(false);
}

bool SNMPManage::isPolling() const
{
    return d->polling.load();
}

quint64 SNMPManage::answerCount() const
{
    return d->answers.load(std::memory_order_relaxed);
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

    SnmpLock lock;
    const quint64 serial = ++nextSerial;
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
    session.callback = &SNMPManage::onResponse;
    session.callback_magic = this;
    netsnmp_session *handle = snmp_open(&session);
    free(session.securityName);
    void *record = nullptr;
    if (handle) {
        // snmp_open clears the flag that snmp_sess_init sets; the first request would then probe, blocking.
        if (info.version == Snmp::Usm)
            handle->flags |= SNMP_FLAGS_DONT_PROBE;
        handle->myvoid = reinterpret_cast<void *>(quintptr(serial));
        // The newest session heads the library's list: found at once.
        record = snmp_sess_pointer(handle);
        EngineLoop::sessionsChanged();
    }
    if (!handle || !record) {
        if (handle) {
            snmp_close(handle);
            EngineLoop::sessionsChanged();
        }
        qWarning("Create SNMP session failed!");
        return;
    }
    auto added = std::make_unique<PollSession>();
    added->handle = handle;
    added->record = record;
    added->peer = QString::fromLocal8Bit(peerName);
    added->host = Snmp::hostOfPeer(peer);
    added->usm = info.version == Snmp::Usm;
    added->serial = serial;
    added->lastSeen = EngineClock::nowSeconds();
    added->details.host = added->host;
    d->detailReader.add(serial, LogThrottle::steadyMs());
    std::weak_ptr<Reported> &shared = d->reportedByHost[added->host];
    added->reported = shared.lock();
    if (!added->reported) {
        added->reported = std::make_shared<Reported>();
        shared = added->reported;
    }
    // A new session of the address reports afresh, whatever an earlier one reported last.
    added->reported->data.clear();
    d->bySerial.insert(serial, added.get());
    d->sessions.insert(d->sessions.begin(), std::move(added));
    if (d->burstNext >= 0)
        ++d->burstNext; // keeps pointing at the same card
}

void SNMPManage::removeSession(const QString &peer)
{
    SnmpLock lock;
    for (auto it = d->sessions.begin(); it != d->sessions.end(); ++it) {
        if ((*it)->peer != peer)
            continue;
        d->forgetUser(**it);
        const int index = int(it - d->sessions.begin());
        std::unique_ptr<PollSession> removed = std::move(*it);
        d->sessions.erase(it);
        if (d->burstNext > index)
            --d->burstNext;
        removed->reported->data.clear();
        if (removed->reported.use_count() == 1)
            d->reportedByHost.remove(removed->host);
        d->noLongerExpected(*removed);
        d->bySerial.remove(removed->serial);
        snmp_close(removed->handle);
        EngineLoop::sessionsChanged();
        return;
    }
}

void SNMPManage::forgetSessions()
{
    SnmpLock lock;
    d->sessions.clear();
    d->bySerial.clear();
    d->reportedByHost.clear();
    d->detailReader.clear();
    d->burstNext = -1;
}

void SNMPManage::closeSessions()
{
    SnmpLock lock;
    d->burstNext = -1;
    d->bySerial.clear();
    d->reportedByHost.clear();
    d->detailReader.clear();
    while (!d->sessions.empty()) {
        d->forgetUser(*d->sessions.front());
        const std::unique_ptr<PollSession> s = std::move(d->sessions.front());
        d->sessions.erase(d->sessions.begin());
        snmp_close(s->handle);
    }
    EngineLoop::sessionsChanged();
}

QStringList SNMPManage::peers() const
{
    SnmpLock lock;
    QStringList result;
    for (const auto &s : d->sessions)
        result << s->peer;
    return result;
}

int SNMPManage::sessionCount() const
{
    SnmpLock lock;
    return int(d->sessions.size());
}

int SNMPManage::status(const QString &peer) const
{
    SnmpLock lock;
    for (const auto &s : d->sessions) {
        if (s->peer == peer)
            return s->status;
    }
    return -1;
}

void SNMPManage::pollAll()
{
    SnmpLock lock;
    const qint64 now = EngineClock::nowSeconds();
    ++d->round;
    d->expected = d->answered = 0;
    d->handedOver = false;
    d->burstEndMs = -1;
    // A burst still running a second later (an engine thread held up) starts again from the first card.
    d->burstNext = 0;
    sendBurstSlice();
    for (const auto &s : d->sessions) {
        const qint64 elapsed = now - s->lastSeen;
        if (elapsed < 0 || elapsed <= silenceSeconds)
            continue;
        s->lastSeen = now;
        // Silent for the whole rule: not waited for until it answers, and perhaps no longer the engine we knew
        // (sought again with the next poll).
        d->noLongerExpected(*s);
        s->silent = true;
        if (s->usm)
            s->rediscover = true;
        if (s->status == Snmp::Offline)
            continue;
        s->status = Snmp::Offline;
        ++d->group;
        // Back online, it reports afresh.
        s->reported->data.clear();
        d->pend(Change::Status, *s, Snmp::Offline);
        d->pend(Change::Event, *s, Snmp::EventHostLost);
    }
    d->dueMs.store(0);
    if (QThread::currentThread() != thread())
        EngineLoop::wake();
}

// Library lock held.
void SNMPManage::sendBurstSlice()
{
    if (!d->requestTemplate || d->burstNext < 0) {
        if (d->burstNext >= 0)
            d->burstEndMs = LogThrottle::steadyMs();
        d->burstNext = -1;
        return;
    }
    const int end = qMin(int(d->sessions.size()), d->burstNext + burstSlice);
    for (; d->burstNext < end; ++d->burstNext) {
        PollSession &s = *d->sessions[std::size_t(d->burstNext)];
        if (s.rediscover)
            d->forgetEngine(s);
        // Until a v3 card has told its engine ID, each second asks it for that instead.
        if (s.usm && !readyForRequests(s.handle)) {
            sendEngineIdProbe(s.record);
            continue;
        }
        if (sendRequest(s.record, d->requestTemplate) && !s.silent) {
            s.askedRound = d->round;
            ++d->expected;
        }
    }
    if (d->burstNext >= int(d->sessions.size())) {
        d->burstNext = -1;
        d->burstEndMs = LogThrottle::steadyMs();
    }
}

// Library lock held.
void SNMPManage::sendDiscovered()
{
    if (d->discovered.isEmpty())
        return;
    const QVector<quint64> serials = std::exchange(d->discovered, {});
    if (!d->requestTemplate)
        return;
    for (quint64 serial : serials) {
        PollSession *s = d->bySerial.value(serial);
        // Once per discovery: later reports of the same probe round find the keys made already.
        if (!s || !s->usm || (s->handle->flags & SNMP_FLAGS_USER_CREATED) || !readyForRequests(s->handle))
            continue;
        sendRequest(s->record, d->requestTemplate);
    }
}

qint64 SNMPManage::runDue()
{
    const qint64 now = LogThrottle::steadyMs();
    const qint64 due = d->dueMs.load();
    if (now < due)
        return due - now;
    SnmpLock lock;
    if (d->polling.load() && now >= d->nextRoundMs) {
        // Rounds keep their second; an engine thread held up for longer starts the count again.
        d->nextRoundMs = now - d->nextRoundMs < pollIntervalMs ? d->nextRoundMs + pollIntervalMs : now + pollIntervalMs;
        pollAll();
    } else if (d->burstNext >= 0) {
        sendBurstSlice();
    }
    sendDiscovered();
    // After the round: a detail read goes out beside the poll, never before it.
    if (d->polling.load())
        sendDetails(now);
    handOverIfDue(now);
    const qint64 next = nextDueMs(now);
    d->dueMs.store(next);
    return qMax<qint64>(0, next - now);
}

// Library lock held. At most one delivery a round: when the round's answers are in (a change that comes later
// waits for the next round's), or, without rounds, a poll interval after the last one.
void SNMPManage::handOverIfDue(qint64 nowMs)
{
    if (!d->hasPending() || d->deliveryQueued)
        return;
    const bool due
        = d->handedOver ? !d->polling.load() && nowMs - d->lastDeliveryMs >= pollIntervalMs : d->roundCollected(nowMs);
    if (!due)
        return;
    d->handedOver = true;
    d->lastDeliveryMs = nowMs;
    d->deliveryQueued = true;
    QMetaObject::invokeMethod(this, &SNMPManage::deliverChanges, Qt::QueuedConnection);
}

// Library lock held.
qint64 SNMPManage::nextDueMs(qint64 nowMs) const
{
    if (d->burstNext >= 0 || !d->discovered.isEmpty())
        return nowMs;
    qint64 next = d->polling.load() ? qMin(d->nextRoundMs, d->detailReader.nextDueMs(nowMs)) : nowMs + 3600 * 1000;
    if (d->hasPending() && !d->deliveryQueued) {
        if (!d->handedOver)
            next = qMin(next, d->roundCollected(nowMs) ? nowMs : d->burstEndMs + settleMs);
        else if (!d->polling.load())
            next = qMin(next, d->lastDeliveryMs + pollIntervalMs);
    }
    return next;
}

void SNMPManage::deliverChanges()
{
    QVector<Change> batch;
    QVector<DetailChange> details;
    {
        SnmpLock lock;
        batch.swap(d->pending);
        details.swap(d->pendingDetails);
        d->deliveryQueued = false;
        // Whatever came while this waited went along; what comes now is for the next round.
        d->dueMs.store(0);
    }
    // The slots may add and remove hosts meanwhile: what a closed session reported is no report of any card.
    quint64 group = 0;
    bool open = false;
    for (const Change &change : qAsConst(batch)) {
        if (change.group != group) {
            group = change.group;
            open = d->bySerial.contains(change.serial);
        }
        if (!open)
            continue;
        switch (change.kind) {
        case Change::Status:
            emit statusChanged(change.host, change.value);
            break;
        case Change::Event:
            emit eventTriggered(change.host, change.value);
            break;
        case Change::Data:
            emit dataReady(change.host, change.data);
            break;
        case Change::Confirmation:
            emit dataConfirmed(change.host, change.data);
            break;
        case Change::Authentication:
            emit authenticationChanged(change.host, change.value != 0);
            break;
        }
    }
    for (const DetailChange &change : qAsConst(details)) {
        if (d->bySerial.contains(change.serial))
            emit detailsChanged(change.details);
    }
}

int SNMPManage::onResponse(int operation, netsnmp_session *session, int, netsnmp_pdu *pdu, void *magic)
{
    auto *manager = static_cast<SNMPManage *>(magic);
    if (!manager || !session)
        return 1;
    const bool v3 = session->version == SNMP_VERSION_3;
    const bool keyed = v3 && (session->flags & SNMP_FLAGS_USER_CREATED);
    // A detail read shares the session and this callback with the poll, and tells the poll nothing: its silence
    // is the poll's to find.
    const bool detail = DetailReader::isDetailPdu(pdu);
    if (operation == NETSNMP_CALLBACK_OP_TIMED_OUT) {
        if (detail)
            return 0;
        // The library drops the card's report to a request under an engine ID the card no longer has (it names
        // a user unknown for the new ID) and to one whose boots went back (outside the time window we hold):
        // to us a reborn card is silent. A request unanswered through all its retries is the nearest sign.
        if (keyed)
            manager->takeReport(session, SNMPERR_TIMEOUT);
        return 0;
    }
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
        return 0;
    if (pdu && pdu->command == SNMP_MSG_REPORT && v3) {
        // The answer to an engine-ID probe (the library has taken the ID from it, the user's keys are not made
        // yet); else a report to a real request: the card no longer knows our engine ID, time or keys.
        if (!keyed && session->peername)
            manager->takeDiscovery(session);
        else
            manager->takeReport(session, snmpv3_get_report_type(pdu));
    }
    // A v3 agent that rejects our user, digest or protocol sends a Report from its security layer; that is
    // no answer to the poll, and counting it would show a card we cannot read as online.
    if (!pdu || pdu->command != SNMP_MSG_RESPONSE)
        return 1;
    if (detail) {
        manager->takeDetails(session, pdu);
        return 1;
    }
    manager->takeAnswer(session, SNMPHandler::dataOfResponse(pdu));
    return 1;
}

void SNMPManage::takeAnswer(const netsnmp_session *session, const QByteArray &data)
{
    d->answers.fetch_add(1, std::memory_order_relaxed);
    PollSession *s = d->bySerial.value(serialOf(session));
    if (!s)
        return;
    ++d->group;
    s->freshSinceMs = LogThrottle::steadyMs();
    s->silent = false;
    if (s->rejected) {
        s->rejected = false;
        d->pend(Change::Authentication, *s, 0);
    }
    if (s->status != Snmp::Online) {
        s->status = Snmp::Online;
        d->pend(Change::Status, *s, Snmp::Online);
        d->pend(Change::Event, *s, Snmp::EventHostBack);
    }
    s->lastSeen = EngineClock::nowSeconds();
    switch (Snmp::reportOf(s->reported->data, data)) {
    case Snmp::Report::Change:
        s->reported->data = data;
        d->pend(Change::Data, *s, 0, data);
        break;
    case Snmp::Report::Confirmation:
        d->pend(Change::Confirmation, *s, 0, data);
        break;
    case Snmp::Report::Nothing:
        break;
    }
    if (s->askedRound == d->round && s->answeredRound != d->round) {
        s->answeredRound = d->round;
        if (++d->answered >= d->expected && d->burstNext < 0)
            d->dueMs.store(0);
    }
}

// Library lock held.
void SNMPManage::sendDetails(qint64 nowMs)
{
    const netsnmp_pdu *request = d->detailReader.request();
    if (!request)
        return;
    d->detailReader.sendDue(nowMs, int(d->sessions.size()), [this, request](quint64 serial) {
        const PollSession *s = d->bySerial.value(serial);
        if (!s)
            return DetailReader::Asked::Gone;
        // A card is read once the poll hears it, with the keys the poll made: a silent card costs no detail
        // reads, and one sought again gets its probe from the poll alone.
        if (s->status != Snmp::Online || s->silent || s->rediscover
            || (s->usm && !(s->handle->flags & SNMP_FLAGS_USER_CREATED)))
            return DetailReader::Asked::Later;
        return sendRequest(s->record, request) ? DetailReader::Asked::Sent : DetailReader::Asked::Later;
    });
}

void SNMPManage::takeDetails(const netsnmp_session *session, const netsnmp_pdu *pdu)
{
    PollSession *s = d->bySerial.value(serialOf(session));
    // An error answer says nothing of the card: what it reported before stays.
    if (!s || pdu->errstat != SNMP_ERR_NOERROR)
        return;
    CardDetails read = s->details;
    DetailReader::decode(pdu, &read, &s->detailModel);
    // What did not change stays here, so that the GUI thread and the bus are not woken for it; but once a minute
    // even an unchanged record goes over, so that the time of the last answer a face shows, and the history's
    // freshness, are never more than a minute old.
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (s->details.isKnown() && DetailReader::sameReport(read, s->details)
        && nowMs - s->details.answeredAtMs < unchangedDetailsMs)
        return;
    read.answeredAtMs = nowMs;
    s->details = read;
    if (d->pendingDetails.size() >= maxPendingReports) {
        // Not handed over: the next answer is a change again.
        s->details.answeredAtMs = 0;
        return;
    }
    d->pendingDetails.append({s->serial, read});
}

void SNMPManage::takeDiscovery(const netsnmp_session *session)
{

    d->discovered.append(serialOf(session));
    d->dueMs.store(0);
}

void SNMPManage::takeReport(const netsnmp_session *session, int report)
{
    PollSession *s = d->bySerial.value(serialOf(session));
    if (!s || !s->usm)
        return;
    switch (report) {
    case SNMPERR_TIMEOUT: {
        const qint64 triesMs = qint64(qMax(0L, s->handle->timeout)) / 1000 * (qMax(0, s->handle->retries) + 1);
        if (LogThrottle::steadyMs() - s->freshSinceMs > triesMs)
            s->rediscover = true;
        return;
    }
    case SNMPERR_UNKNOWN_ENG_ID:
    case SNMPERR_NOT_IN_TIME_WINDOW:
        s->rediscover = true;
        return;
    case SNMPERR_AUTHENTICATION_FAILURE:
    case SNMPERR_DECRYPTION_ERR:
        // The same keys may work with the card found anew (one that was replaced); if not, this comes again.
        s->rediscover = true;
        break;
    case SNMPERR_UNKNOWN_USER_NAME:
    case SNMPERR_UNSUPPORTED_SEC_LEVEL:
        break;
    default:
        return;
    }
    if (s->rejected)
        return;
    s->rejected = true;
    ++d->group;
    // Once until the card answers: the reports come with every poll.
    qWarning("SNMP v3 card %s rejects the credentials (%s): check the user name, the protocols and the pass phrase",
        qPrintable(s->peer), snmp_api_errstring(report));
    d->pend(Change::Authentication, *s, 1);
}
