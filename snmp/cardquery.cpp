#include "snmp/cardquery.h"

#include "snmp/snmphandler.h"
#include "snmp/snmplock.h"
#include "snmp/snmpmanage.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QThread>

#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>
#include <cstring>

namespace {

// UPS-MIB's upsIdentModel (RFC 1628), then the vendor's own model object.
constexpr oid identModel[] = {1, 3, 6, 1, 2, 1, 33, 1, 1, 2, 0};
constexpr oid vendorModel[] = {1, 3, 6, 1, 4, 1, 935, 1, 1, 1, 1, 1, 1, 0};
constexpr size_t identModelLength = sizeof identModel / sizeof identModel[0];
constexpr size_t vendorModelLength = sizeof vendorModel / sizeof vendorModel[0];
// A wait in select() is this short at most, so that the library's own time-outs are run close to when they fall.
constexpr long sliceUs = 50 * 1000;

QAtomicInt runningThreads;

// The outstanding request's end, as the library's callback saw it (inside snmp_sess_read or snmp_sess_timeout,
// so under the lock).
struct Exchange
{
    bool done = false;
    bool failed = false; // timed out, or could not be sent
    int report = 0; // the library's code for a v3 report
    netsnmp_pdu *response = nullptr;
};

int onQueryResponse(int operation, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic)
{
    auto *x = static_cast<Exchange *>(magic);
    switch (operation) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        x->done = true;
        if (pdu && pdu->command == SNMP_MSG_REPORT)
            x->report = snmpv3_get_report_type(pdu);
        else if (pdu && pdu->command == SNMP_MSG_RESPONSE && !x->response)
            x->response = snmp_clone_pdu(pdu);
        else
            x->failed = true;
        break;
    case NETSNMP_CALLBACK_OP_RESEND:
    case NETSNMP_CALLBACK_OP_CONNECT:
        break;
    default:
        x->done = true;
        x->failed = true;
        break;
    }
    return 1;
}

// The library keeps v3 users in one process-wide list keyed by engine ID and name, and every session of that pair
// takes its keys from there: the engine's session of the same card and user would encode and check with the
// query's keys, or the query with the engine's. For each library call of the query its own user stands in the
// list instead, and whatever was there before is back before the lock is let go. Library lock held.
class UserSwap
{
public:
    UserSwap(netsnmp_session *session, usmUser *&own)
        : m_session(session),
          m_own(own),
          m_active(session->version == SNMP_VERSION_3 && session->securityEngineIDLen > 0 && session->securityName)
    {
        if (!m_active)
            return;
        m_theirs = usm_get_user(m_session->securityEngineID, m_session->securityEngineIDLen, m_session->securityName);
        if (m_theirs)
            usm_remove_user(m_theirs);
        if (m_own)
            usm_add_user(m_own);
    }
    ~UserSwap()
    {
        if (!m_active)
            return;
        usmUser *present
            = usm_get_user(m_session->securityEngineID, m_session->securityEngineIDLen, m_session->securityName);
        if (present) {
            usm_remove_user(present);
            m_own = present;
        }
        if (m_theirs)
            usm_add_user(m_theirs);
    }
    UserSwap(const UserSwap &) = delete;
    UserSwap &operator=(const UserSwap &) = delete;

private:
    netsnmp_session *m_session;
    usmUser *&m_own;
    usmUser *m_theirs = nullptr;
    // Only an engine ID known from the start: one learnt during the call has no user of the query's in the list.
    const bool m_active;
};

bool sameName(const netsnmp_variable_list *var, const oid *name, size_t length)
{
    return snmp_oid_compare(var->name, var->name_length, name, length) == 0;
}

QString textOf(const netsnmp_variable_list *var)
{
    if (var->type != ASN_OCTET_STR || !var->val.string || var->val_len == 0)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char *>(var->val.string), int(var->val_len)).trimmed();
}

// Library lock held.
bool sendGet(void *sessp)
{
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
    if (!pdu)
        return false;
    snmp_add_null_var(pdu, identModel, identModelLength);
    snmp_add_null_var(pdu, vendorModel, vendorModelLength);
    for (const auto &name : Snmp::polledOid)
        snmp_add_null_var(pdu, reinterpret_cast<const oid *>(name), Snmp::PolledOidLength);
    if (snmp_sess_send(sessp, pdu) == 0) {
        snmp_free_pdu(pdu);
        return false;
    }
    return true;
}

// The engine's way of learning a v3 card's engine ID without the library's blocking probe (see SNMPManage).
// Library lock held.
bool sendEngineIdProbe(void *sessp)
{
    netsnmp_pdu *probe = snmp_pdu_create(SNMP_MSG_GET);
    if (!probe)
        return false;
    probe->version = SNMP_VERSION_3;
    probe->securityModel = SNMP_SEC_MODEL_USM;
    probe->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
    probe->securityName = strdup("");
    probe->securityNameLen = 0;
    if (snmp_sess_send(sessp, probe) == 0) {
        snmp_free_pdu(probe);
        return false;
    }
    return true;
}

CardAnswer::Outcome outcomeOfReport(int report)
{
    switch (report) {
    case SNMPERR_AUTHENTICATION_FAILURE:
        return CardAnswer::AuthenticationFailure;
    case SNMPERR_DECRYPTION_ERR:
        return CardAnswer::DecryptionFailure;
    case SNMPERR_UNKNOWN_USER_NAME:
        return CardAnswer::UnknownUser;
    case SNMPERR_UNSUPPORTED_SEC_LEVEL:
        return CardAnswer::UnsupportedSecurityLevel;
    default:
        return CardAnswer::Unusable;
    }
}

void takeResponse(const netsnmp_pdu *pdu, CardAnswer *answer)
{
    answer->data = SNMPHandler::dataOfResponse(pdu);
    QString vendor;
    for (const netsnmp_variable_list *var = pdu->variables; var; var = var->next_variable) {
        if (sameName(var, identModel, identModelLength))
            answer->model = textOf(var);
        else if (sameName(var, vendorModel, vendorModelLength))
            vendor = textOf(var);
    }
    if (answer->model.isEmpty())
        answer->model = vendor;
    for (int i = 0; i < Snmp::PolledObjectCount; ++i) {
        if (!Snmp::isKnown(answer->data, i))
            answer->missing.append(i);
    }
    answer->outcome = answer->missing.isEmpty() ? CardAnswer::Answered : CardAnswer::NoSuchObject;
}

class QueryThread : public QThread
{
public:
    QueryThread(const SNMPInfo &card, QObject *context, std::function<void(const CardAnswer &)> done)
        : QThread(QCoreApplication::instance()), m_card(card), m_context(context), m_done(std::move(done))
    {
        runningThreads.ref();
        connect(this, &QThread::finished, this, &QObject::deleteLater);
    }
    // An application that ends during a query waits for it: its end is bounded by the time-out.
    ~QueryThread() override { wait(); }

protected:
    void run() override
    {
        const CardAnswer answer = CardQuery::ask(m_card);
        // Run on this object's thread, where the context lives: the guard is read where it is written.
        QMetaObject::invokeMethod(
            this,
            [this, answer] {
                if (m_context)
                    m_done(answer);
            },
            Qt::QueuedConnection);
        runningThreads.deref();
    }

private:
    const SNMPInfo m_card;
    QPointer<QObject> m_context;
    const std::function<void(const CardAnswer &)> m_done;
};

} // namespace

CardAnswer CardQuery::ask(const SNMPInfo &card, int timeoutMs, int retries)
{
    CardAnswer answer;
    answer.data = QByteArray(Snmp::DataArraySize, '\0');
    if (card.version != Snmp::CommunityBased && card.version != Snmp::Usm) {
        answer.outcome = CardAnswer::Unusable;
        answer.detail = QStringLiteral("unknown SNMP version %1").arg(card.version);
        return answer;
    }
    QHostAddress address;
    if (!address.setAddress(card.ip) || card.port < 1 || card.port > 65535) {
        answer.outcome = CardAnswer::Unusable;
        answer.detail = QStringLiteral("no address and port to send to");
        return answer;
    }
    const QByteArray host = address.toString().toLatin1();
    const QByteArray peer = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QByteArray("udp6:[" + host + "]:" + QByteArray::number(card.port))
        : QByteArray("udp:" + host + ':' + QByteArray::number(card.port));
    const QByteArray community = card.community.toLocal8Bit();
    const bool usm = card.version == Snmp::Usm;

    startSnmpLibrary();
    Exchange x;
    void *sessp = nullptr;
    netsnmp_session *handle = nullptr;
    usmUser *own = nullptr;
    bool discovering = false;
    bool resent = false;
    {
        SnmpLock lock;
        netsnmp_session session;
        snmp_sess_init(&session);
        if (usm) {
            SNMPManage::configureUsm(&session, card);
        } else {
            session.version = SNMP_VERSION_2c;
            session.community = reinterpret_cast<u_char *>(const_cast<char *>(community.constData()));
            session.community_len = static_cast<size_t>(community.size());
        }
        session.peername = const_cast<char *>(peer.constData());
        session.timeout = long(timeoutMs) * 1000;
        session.retries = retries;
        session.callback = &onQueryResponse;
        session.callback_magic = &x;
        sessp = snmp_sess_open(&session);
        std::free(session.securityName);
        if (sessp) {
            handle = snmp_sess_session(sessp);
            // As for the engine's sessions: the library's own probe would block inside the send.
            if (usm)
                handle->flags |= SNMP_FLAGS_DONT_PROBE;
            if (usm && handle->securityEngineIDLen == 0) {
                discovering = true;
                x.failed = !sendEngineIdProbe(sessp);
            } else {
                UserSwap swap(handle, own);
                x.failed = !sendGet(sessp);
            }
            x.done = x.failed;
        } else {
            answer.detail = QString::fromLocal8Bit(snmp_api_errstring(session.s_snmp_errno));
        }
    }

    netsnmp_large_fd_set fds;
    netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
    // The library ends each exchange through its time-out and retries; this bounds the whole in any case.
    const qint64 limitMs = 2 * qint64(timeoutMs) * (qMax(0, retries) + 1) + 1000;
    QElapsedTimer clock;
    clock.start();
    while (sessp && clock.elapsed() < limitMs) {
        if (x.done) {
            SnmpLock lock;
            // However the library ended the probe's exchange, an engine ID it learnt is what the probe was for.
            if (discovering && handle->securityEngineIDLen > 0) {
                // The report to the probe brought the engine ID: the keys are localised to it, then the request.
                discovering = false;
                if (x.response)
                    snmp_free_pdu(x.response);
                x = Exchange();
                UserSwap swap(handle, own);
                x.failed = (!(handle->flags & SNMP_FLAGS_USER_CREATED)
                               && usm_create_user_from_session(handle) != SNMPERR_SUCCESS)
                    || !sendGet(sessp);
                x.done = x.failed;
                if (!x.failed)
                    continue;
            } else if (!discovering && x.report == SNMPERR_NOT_IN_TIME_WINDOW && !resent) {
                // The report that told the card's boots and time is authentic: once more, now in its window.
                resent = true;
                x = Exchange();
                UserSwap swap(handle, own);
                x.failed = !sendGet(sessp);
                x.done = x.failed;
                if (!x.failed)
                    continue;
            }
            break;
        }
        // A process with many cards has sockets past FD_SETSIZE: the library's large sets take any number.
        int numfds = 0;
        int block = 1;
        timeval tv {0, sliceUs};
        NETSNMP_LARGE_FD_ZERO(&fds);
        {
            SnmpLock lock;
            snmp_sess_select_info2(sessp, &numfds, &fds, &tv, &block);
        }
        if (block || tv.tv_sec != 0 || tv.tv_usec > sliceUs || tv.tv_usec < 0)
            tv = timeval {0, sliceUs};
        const int ready = netsnmp_large_fd_set_select(numfds, &fds, nullptr, nullptr, &tv);
        SnmpLock lock;
        UserSwap swap(handle, own);
        if (ready > 0)
            snmp_sess_read2(sessp, &fds);
        else if (ready == 0)
            snmp_sess_timeout(sessp);
    }
    netsnmp_large_fd_set_cleanup(&fds);

    if (x.response)
        takeResponse(x.response, &answer);
    else if (!sessp)
        answer.outcome = CardAnswer::Unusable;
    else if (x.report != 0)
        answer.outcome = outcomeOfReport(x.report);
    else
        answer.outcome = CardAnswer::NoAnswer;
    if (answer.outcome == CardAnswer::Unusable && answer.detail.isEmpty() && x.report != 0)
        answer.detail = QString::fromLocal8Bit(snmp_api_errstring(x.report));
    {
        SnmpLock lock;
        if (x.response)
            snmp_free_pdu(x.response);
        if (sessp)
            snmp_sess_close(sessp);
        if (own)
            usm_free_user(own);
    }
    stopSnmpLibrary();
    return answer;
}

void CardQuery::start(const SNMPInfo &card, QObject *context, std::function<void(const CardAnswer &)> done)
{
    (new QueryThread(card, context, std::move(done)))->start();
}

int CardQuery::running()
{
    return runningThreads.loadAcquire();
}
