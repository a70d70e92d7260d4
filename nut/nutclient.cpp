#include "nut/nutclient.h"

#include "nut/nutline.h"
#include "snmp/engineclock.h"
#include "storage/logthrottle.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>

namespace {
constexpr qint64 silenceSeconds = 10;
constexpr int pollMs = 1000;
// The catalogue's codes of the notifications a card sends for the same changes.
constexpr int eventOnBattery = 0x06;
constexpr int eventBatteryLow = 0x08;
constexpr int eventMainsBack = 0x0A;
// An answer line is far shorter; a peer that sends this much without a line end is no UPS server.
constexpr int maxLineBytes = 4096;

// The variables asked each round, the three the protection reads first. The round ends with the last.
const char *const polledVariables[]
    = {"ups.status", "battery.charge", "battery.runtime", "ups.load", "input.voltage", "output.voltage", "ups.model"};
constexpr int polledCount = int(sizeof(polledVariables) / sizeof(polledVariables[0]));

int numberOf(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) > 1e9)
        return CardDetails::absent;
    return int(std::lround(value));
}
} // namespace

struct NutClient::Follow
{
    SNMPInfo info;
    QString peer;
    QString host;
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    // What each outstanding request line was: a variable name, or a login step ("" for USERNAME/PASSWORD/LOGIN).
    QStringList pending;
    bool loggedIn = false;
    bool removed = false;
    int retryMs = NutClient::firstRetryMs;
    qint64 nextConnectMs = 0;
    int status = Snmp::Offline;
    qint64 lastSeen = 0;
    QByteArray reported;
    bool fsd = false;
    // The power flags last heard, for the events a card's own notifications would be: -1 not heard yet.
    int onBattery = -1;
    int batteryLow = -1;
    CardDetails details;
    // The round in progress: the answered variables.
    QHash<QString, QString> values;
    bool statusAnswered = false;
    QString lastRefusal;
    quint64 answers = 0;
};

NutClient::NutClient(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(pollMs);
    connect(m_timer, &QTimer::timeout, this, &NutClient::pollAll);
}

NutClient::~NutClient()
{
    for (const auto &f : m_follows) {
        f->socket->disconnect(this);
        f->socket->abort();
    }
}

void NutClient::startPolling()
{
    m_timer->start();
}

void NutClient::stopPolling()
{
    m_timer->stop();
}

void NutClient::addHost(const SNMPInfo &info)
{
    auto f = std::make_unique<Follow>();
    f->info = info;
    f->peer = info.peer();
    f->host = info.ip;
    f->lastSeen = EngineClock::nowSeconds();
    f->socket = new QTcpSocket(this);
    Follow *raw = f.get();
    connect(f->socket, &QTcpSocket::connected, this, [this, raw] {
        raw->retryMs = firstRetryMs;
        if (raw->info.userName.isEmpty())
            return;
        // As upsmon does: the login makes the server count this machine among the UPS's followers.
        raw->socket->write("USERNAME " + NutLine::quoted(raw->info.userName) + "\nPASSWORD "
            + NutLine::quoted(raw->info.password) + "\nLOGIN " + NutLine::quoted(raw->info.community) + '\n');
        raw->pending << QString() << QString() << QStringLiteral("LOGIN");
    });
    connect(f->socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(raw); });
    connect(f->socket, &QTcpSocket::disconnected, this, [this, raw] { lost(raw); });
    connect(f->socket, &QAbstractSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError) {
        if (raw->socket->state() == QAbstractSocket::UnconnectedState)
            lost(raw);
    });
    m_follows.push_back(std::move(f));
    if (m_timer->isActive())
        connectNow(raw);
}

void NutClient::removeHost(const QString &peer)
{
    for (auto it = m_follows.begin(); it != m_follows.end(); ++it) {
        if ((*it)->peer != peer)
            continue;
        Follow *f = it->get();
        f->removed = true;
        f->socket->disconnect(this);
        f->socket->abort();
        f->socket->deleteLater();
        // A removal from a slot of our own signal: the record outlives the call that is reading it.
        QTimer::singleShot(0, this, [record = std::shared_ptr<Follow>(it->release())] { Q_UNUSED(record); });
        m_follows.erase(it);
        return;
    }
}

QStringList NutClient::peers() const
{
    QStringList result;
    for (const auto &f : m_follows)
        result << f->peer;
    return result;
}

int NutClient::status(const QString &peer) const
{
    for (const auto &f : m_follows) {
        if (f->peer == peer)
            return f->status;
    }
    return -1;
}

bool NutClient::isLoggedIn(const QString &peer) const
{
    for (const auto &f : m_follows) {
        if (f->peer == peer)
            return f->loggedIn;
    }
    return false;
}

quint64 NutClient::answerCount(const QString &peer) const
{
    for (const auto &f : m_follows) {
        if (f->peer == peer)
            return f->answers;
    }
    return 0;
}

QByteArray NutClient::dataOf(const QStringList &flags, const QString &charge)
{
    QByteArray data(Snmp::DataArraySize, '\0');
    unsigned known = 0;
    const bool onBattery = flags.contains(QLatin1String("OB"));
    const bool onLine = flags.contains(QLatin1String("OL"));
    // A status without OL or OB (a driver starting, a bare "LB") says nothing about the mains.
    if (onBattery || onLine) {
        data[Snmp::InputStatus] = char(onBattery ? Snmp::InputNoTransfer : Snmp::InputNormal);
        data[Snmp::OutputStatus] = char(onBattery         ? Snmp::OutputOnBattery
                : flags.contains(QLatin1String("BYPASS")) ? Snmp::OutputOnBypass
                                                          : Snmp::OutputOnLine);
        known |= 1u << Snmp::InputStatus | 1u << Snmp::OutputStatus;
    }
    if (!flags.isEmpty()) {
        data[Snmp::BatteryStatus] = char(flags.contains(QLatin1String("LB")) ? Snmp::BatteryLow : Snmp::BatteryNormal);
        known |= 1u << Snmp::BatteryStatus;
    }
    const int capacity = numberOf(charge);
    if (!charge.isEmpty() && capacity >= 0 && capacity <= Snmp::MaxCapacity) {
        data[Snmp::BatteryCapacity] = char(capacity);
        known |= 1u << Snmp::BatteryCapacity;
    }
    data[Snmp::KnownMaskIndex] = char(known);
    return data;
}

void NutClient::pollAll()
{
    const qint64 now = EngineClock::nowSeconds();
    const qint64 nowMs = LogThrottle::steadyMs();
    for (const auto &f : m_follows) {
        const qint64 elapsed = now - f->lastSeen;
        if (elapsed > silenceSeconds) {
            f->lastSeen = now;
            // A connection that answers nothing for the whole rule is started afresh.
            if (f->socket->state() != QAbstractSocket::UnconnectedState)
                f->socket->abort();
            if (f->status != Snmp::Offline) {
                f->status = Snmp::Offline;
                emit statusChanged(f->host, Snmp::Offline);
                emit eventTriggered(f->host, Snmp::EventHostLost);
                if (f->removed)
                    return;
            }
        }
        if (f->socket->state() == QAbstractSocket::UnconnectedState) {
            if (nowMs >= f->nextConnectMs)
                connectNow(f.get());
            continue;
        }
        if (f->socket->state() != QAbstractSocket::ConnectedState || !f->pending.isEmpty())
            continue;
        QByteArray request;
        const QByteArray ups = NutLine::quoted(f->info.community);
        for (const char *variable : polledVariables) {
            request += "GET VAR " + ups + ' ' + variable + '\n';
            f->pending << QLatin1String(variable);
        }
        f->values.clear();
        f->statusAnswered = false;
        f->socket->write(request);
    }
}

void NutClient::connectNow(Follow *f)
{
    f->buffer.clear();
    f->pending.clear();
    f->loggedIn = false;
    f->nextConnectMs = LogThrottle::steadyMs() + f->retryMs;
    f->retryMs = qMin(f->retryMs * 2, lastRetryMs);
    f->socket->connectToHost(f->info.ip, quint16(f->info.port));
}

void NutClient::lost(Follow *f)
{
    f->pending.clear();
    f->buffer.clear();
    f->loggedIn = false;
}

void NutClient::readFrom(Follow *f)
{
    f->buffer += f->socket->readAll();
    for (;;) {
        const int end = f->buffer.indexOf('\n');
        if (end < 0)
            break;
        const QByteArray line = f->buffer.left(end);
        f->buffer.remove(0, end + 1);
        takeLine(f, line);
        if (f->removed || f->socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
    if (f->buffer.size() > maxLineBytes)
        f->socket->abort();
}

void NutClient::takeLine(Follow *f, const QByteArray &line)
{
    // Answers come in the order of the requests; anything beyond them is no answer of ours.
    if (f->pending.isEmpty())
        return;
    const QString expected = f->pending.takeFirst();
    const NutLine::Parsed parsed = NutLine::parse(line);
    const QStringList &words = parsed.words;
    const bool isError = parsed.ok() && words.value(0) == QLatin1String("ERR");
    if (expected.isEmpty() || expected == QLatin1String("LOGIN")) {
        if (isError && f->lastRefusal != words.value(1)) {
            f->lastRefusal = words.value(1);
            qWarning("UPS server %s refuses the login of %s: %s", qPrintable(f->peer), qPrintable(f->info.userName),
                qPrintable(words.value(1)));
        }
        if (expected == QLatin1String("LOGIN"))
            f->loggedIn = parsed.ok() && words.value(0) == QLatin1String("OK");
        return;
    }
    // VAR <ups> <variable> "<value>"
    if (parsed.ok() && words.size() == 4 && words.at(0) == QLatin1String("VAR") && words.at(2) == expected) {
        f->values.insert(expected, words.at(3));
        if (expected == QLatin1String("ups.status"))
            f->statusAnswered = true;
    } else if (isError && expected == QLatin1String("ups.status") && f->lastRefusal != words.value(1)) {
        // DATA-STALE, UNKNOWN-UPS, ACCESS-DENIED: no answer for the silence rule, said once per reason.
        f->lastRefusal = words.value(1);
        qWarning("UPS server %s gives no status of %s: %s", qPrintable(f->peer), qPrintable(f->info.community),
            qPrintable(words.value(1)));
    }
    if (expected == QLatin1String(polledVariables[polledCount - 1]))
        finishRound(f);
}

void NutClient::finishRound(Follow *f)
{
    if (!f->statusAnswered)
        return;
    f->lastRefusal.clear();
    f->lastSeen = EngineClock::nowSeconds();
    ++f->answers;
    const QString host = f->host;
    const QStringList flags = f->values.value(QStringLiteral("ups.status")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QByteArray data = dataOf(flags, f->values.value(QStringLiteral("battery.charge")));

    CardDetails details;
    details.host = host;
    details.model = f->values.value(QStringLiteral("ups.model"));
    if (Snmp::isKnown(data, Snmp::BatteryCapacity))
        details.capacity = uchar(data.at(Snmp::BatteryCapacity));
    const int runtime = numberOf(f->values.value(QStringLiteral("battery.runtime")));
    if (runtime != CardDetails::absent && runtime >= 0)
        details.runtimeMinutes = runtime / 60;
    details.loadPercent = numberOf(f->values.value(QStringLiteral("ups.load")));
    details.inputVoltage = numberOf(f->values.value(QStringLiteral("input.voltage")));
    details.outputVoltage = numberOf(f->values.value(QStringLiteral("output.voltage")));
    if (Snmp::isKnown(data, Snmp::OutputStatus)) {
        const int output = data.at(Snmp::OutputStatus);
        details.outputSource = output == Snmp::OutputOnBattery ? 5 : output == Snmp::OutputOnBypass ? 4 : 3;
    }
    if (Snmp::isKnown(data, Snmp::BatteryStatus))
        details.batteryStatus = data.at(Snmp::BatteryStatus) == Snmp::BatteryLow ? 3 : 2;

    if (f->status != Snmp::Online) {
        f->status = Snmp::Online;
        f->reported.clear();
        emit statusChanged(host, Snmp::Online);
        if (f->removed)
            return;
        emit eventTriggered(host, Snmp::EventHostBack);
        if (f->removed)
            return;
    }
    switch (Snmp::reportOf(f->reported, data)) {
    case Snmp::Report::Change:
        f->reported = data;
        emit dataReady(host, data);
        break;
    case Snmp::Report::Confirmation:
        emit dataConfirmed(host, data);
        break;
    case Snmp::Report::Nothing:
        break;
    }
    if (f->removed)
        return;
    // A server sends no notifications: its status changes are this UPS's events (on battery, battery low, mains
    // back), as a card would have sent them. What held before the first answer is told too, but not "mains back".
    const int onBattery
        = Snmp::isKnown(data, Snmp::InputStatus) ? int(data.at(Snmp::InputStatus) != Snmp::InputNormal) : -1;
    const int batteryLow
        = int(Snmp::isKnown(data, Snmp::BatteryStatus) && data.at(Snmp::BatteryStatus) == Snmp::BatteryLow);
    QVector<int> events;
    if (onBattery == 1 && f->onBattery != 1)
        events << eventOnBattery;
    if (onBattery == 0 && f->onBattery == 1)
        events << eventMainsBack;
    if (batteryLow == 1 && f->batteryLow != 1)
        events << eventBatteryLow;
    if (onBattery >= 0)
        f->onBattery = onBattery;
    f->batteryLow = batteryLow;
    for (int event : qAsConst(events)) {
        emit eventTriggered(host, event);
        if (f->removed)
            return;
    }
    CardDetails previous = f->details;
    previous.answeredAtMs = 0;
    if (previous != details) {
        details.answeredAtMs = QDateTime::currentMSecsSinceEpoch();
        f->details = details;
        emit detailsChanged(details);
        if (f->removed)
            return;
    }
    const bool fsd = flags.contains(QLatin1String("FSD"));
    if (fsd && !f->fsd) {
        f->fsd = true;
        qWarning(
            "UPS server %s sets a forced shutdown (FSD) of %s", qPrintable(f->peer), qPrintable(f->info.community));
        emit forcedShutdown(host, f->info.community + QLatin1Char('@') + f->peer);
        return;
    }
    f->fsd = fsd;
}
