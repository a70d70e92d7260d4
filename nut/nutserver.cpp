#include "nut/nutserver.h"

#include "backend/protectionbackend.h"
#include "nut/nutline.h"
#include "nut/nutups.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// A client that asks and never reads would make the answers pile up here.
constexpr qint64 maxUnsent = 1 << 20;
constexpr qint64 guessMinuteMs = 60000;
// Addresses remembered for their wrong passwords; beyond it the finished minutes are forgotten.
constexpr int maxGuessingAddresses = 1024;
// What a read-only string variable may hold, as GET TYPE says it.
constexpr int stringLength = 64;

QByteArray err(const char *word)
{
    return QByteArray("ERR ") + word + '\n';
}

QByteArray utf8(const QString &text)
{
    return text.toUtf8();
}
} // namespace

struct NutServer::Connection
{
    QTcpSocket *socket = nullptr;
    QTimer *idle = nullptr; // the socket's child, so that it goes with it, never inside its own signal
    QByteArray pending;
    QString address;
    QString userName;
    QString password;
    bool userNameSet = false;
    bool passwordSet = false;
    int wrongPasswords = 0;
    QString loggedInto; // the UPS name after LOGIN
    QSet<QString> primaryOf; // the UPS names PRIMARY was granted for
    bool closing = false;
};

NutServer::NutServer(ProtectionBackend *backend, QObject *parent)
    : QObject(parent), m_backend(backend), m_server(new QTcpServer(this))
{
    // The bound is ours, not the kernel's backlog: see accept().
    m_server->setMaxPendingConnections(maxConnections);
    connect(m_server, &QTcpServer::newConnection, this, &NutServer::accept);
}

NutServer::~NutServer()
{
    close();
}

bool NutServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    close();
    if (m_server->listen(address, port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

void NutServer::close()
{
    m_server->close();
    const QList<Connection *> all = m_connections.values();
    for (Connection *connection : all)
        drop(connection);
    m_forced.clear();
}

int NutServer::raiseForcedShutdown(const QStringList &hosts)
{
    for (const QString &host : hosts)
        m_forced.insert(NutUps::nameOf(host));
    return forcedFollowers();
}

void NutServer::clearForcedShutdown()
{
    m_forced.clear();
}

int NutServer::forcedFollowers() const
{
    int count = 0;
    for (const Connection *connection : m_connections) {
        if (!connection->loggedInto.isEmpty() && m_forced.contains(connection->loggedInto))
            ++count;
    }
    return count;
}

bool NutServer::isListening() const
{
    return m_server->isListening();
}

quint16 NutServer::port() const
{
    return m_server->serverPort();
}

QHostAddress NutServer::serverAddress() const
{
    return m_server->serverAddress();
}

void NutServer::setIdleTimeoutMs(int ms)
{
    m_idleTimeoutMs = qMax(1, ms);
}

void NutServer::setUsers(const QHash<QString, QString> &passwords, const QSet<QString> &primaries)
{
    m_passwords = passwords;
    m_primaries = primaries;
}

QByteArray NutServer::versionText()
{
    return QByteArrayLiteral("SNMP Vigilex " VIGILEX_VERSION " (network UPS protocol 1.3)");
}

int NutServer::connectionCount() const
{
    return m_connections.size();
}

void NutServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const QString address = socket->peerAddress().toString();
        // An address that guesses passwords is not heard until its minute is over.
        if (guessing(address, QDateTime::currentMSecsSinceEpoch())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *connection = new Connection;
        connection->socket = socket;
        connection->address = address;
        m_connections.insert(socket, connection);
        connection->idle = new QTimer(socket);
        connection->idle->setSingleShot(true);
        connect(connection->idle, &QTimer::timeout, this, [this, connection] { drop(connection); });
        connection->idle->start(m_idleTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readFrom(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] { drop(connection); });
    }
}

void NutServer::drop(Connection *connection)
{
    if (!m_connections.remove(connection->socket))
        return;
    const bool follower = !connection->loggedInto.isEmpty() && m_forced.contains(connection->loggedInto);
    connection->idle->stop();
    connection->idle->disconnect(this);
    connection->socket->disconnect(this);
    if (connection->socket->state() != QAbstractSocket::UnconnectedState)
        connection->socket->abort();
    connection->socket->deleteLater();
    delete connection;
    if (follower)
        emit followersChanged(forcedFollowers());
}

// The answers given so far still go out; nothing more is read. One that does not take them is dropped when it
// has been idle for long enough.
void NutServer::closeAfterAnswers(Connection *connection)
{
    connection->closing = true;
    connection->pending.clear();
    connection->socket->disconnectFromHost();
}

void NutServer::readFrom(Connection *connection)
{
    if (connection->closing)
        return;
    QTcpSocket *socket = connection->socket;
    connection->idle->start(m_idleTimeoutMs);
    connection->pending += socket->readAll();
    for (;;) {
        const int end = connection->pending.indexOf('\n');
        // A line longer than the protocol allows ends the connection: upsd does the same.
        if ((end < 0 && connection->pending.size() >= NutLine::maxLength) || end + 1 > NutLine::maxLength) {
            qInfo("Network UPS protocol: a line over %d bytes from %s; connection closed", NutLine::maxLength,
                qPrintable(connection->address));
            closeAfterAnswers(connection);
            return;
        }
        if (end < 0)
            return;
        const QByteArray line = connection->pending.left(end);
        connection->pending.remove(0, end + 1);
        const NutLine::Parsed parsed = NutLine::parse(line);
        const QByteArray reply = parsed.ok() ? answer(connection, parsed.words) : err("INVALID-ARGUMENT");
        socket->write(reply);
        if (socket->bytesToWrite() > maxUnsent) {
            drop(connection);
            return;
        }
        if (connection->closing) {
            // Goodbye said: the rest of what it sent is not read.
            closeAfterAnswers(connection);
            return;
        }
    }
}

bool NutServer::guessing(const QString &address, qint64 nowMs) const
{
    const auto guesses = m_guesses.constFind(address);
    return guesses != m_guesses.constEnd() && guesses->count >= wrongPasswordsPerMinute
        && nowMs - guesses->sinceMs < guessMinuteMs;
}

void NutServer::noteWrongPassword(Connection *connection, qint64 nowMs)
{
    if (++connection->wrongPasswords >= wrongPasswordsPerConnection)
        connection->closing = true;
    if (m_guesses.size() >= maxGuessingAddresses) {
        for (auto it = m_guesses.begin(); it != m_guesses.end();)
            it = nowMs - it->sinceMs >= guessMinuteMs ? m_guesses.erase(it) : std::next(it);
        if (m_guesses.size() >= maxGuessingAddresses)
            m_guesses.clear(); // more guessers in one minute than remembered: the bound wins
    }
    Guesses &guesses = m_guesses[connection->address];
    if (nowMs - guesses.sinceMs >= guessMinuteMs)
        guesses = Guesses {nowMs, 0};
    if (++guesses.count == 1 || guesses.count == wrongPasswordsPerMinute)
        qWarning("Network UPS protocol: wrong password for user \"%s\" from %s%s", qPrintable(connection->userName),
            qPrintable(connection->address),
            guesses.count == wrongPasswordsPerMinute ? "; its connections are refused for a minute" : "");
}

QString NutServer::hostOf(const QString &ups) const
{
    const QList<CardState> cards = m_backend->cards();
    for (const CardState &card : cards) {
        if (NutUps::nameOf(card.host) == ups)
            return card.host;
    }
    return QString();
}

QStringList NutServer::clientsOf(const QString &ups) const
{
    QStringList clients;
    for (const Connection *connection : m_connections) {
        if (connection->loggedInto == ups)
            clients << connection->address;
    }
    clients.sort();
    return clients;
}

QByteArray NutServer::answer(Connection *connection, const QStringList &words)
{
    if (words.isEmpty())
        return QByteArray();
    const QString command = words.first().toUpper();
    const int args = words.size() - 1;

    if (command == QLatin1String("VER"))
        return versionText() + '\n';
    if (command == QLatin1String("NETVER"))
        return "1.3\n";
    if (command == QLatin1String("HELP"))
        return "Commands: HELP VER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD STARTTLS\n";
    if (command == QLatin1String("LIST"))
        return list(words);
    if (command == QLatin1String("GET"))
        return get(words);
    if (command == QLatin1String("STARTTLS"))
        return err("FEATURE-NOT-CONFIGURED");
    if (command == QLatin1String("SET") || command == QLatin1String("INSTCMD"))
        return err("ACCESS-DENIED"); // nothing here is writable, nor a command
    if (command == QLatin1String("LOGOUT")) {
        connection->closing = true;
        return "OK Goodbye\n";
    }
    if (command == QLatin1String("USERNAME") || command == QLatin1String("PASSWORD")) {
        if (args != 1)
            return err("INVALID-ARGUMENT");
        const bool user = command == QLatin1String("USERNAME");
        bool &set = user ? connection->userNameSet : connection->passwordSet;
        if (set)
            return err(user ? "ALREADY-SET-USERNAME" : "ALREADY-SET-PASSWORD");
        set = true;
        (user ? connection->userName : connection->password) = words.at(1);
        return "OK\n";
    }

    const bool login = command == QLatin1String("LOGIN");
    const bool primary = command == QLatin1String("PRIMARY") || command == QLatin1String("MASTER");
    const bool fsd = command == QLatin1String("FSD");
    if (!login && !primary && !fsd)
        return err("UNKNOWN-COMMAND");
    if (args != 1)
        return err("INVALID-ARGUMENT");
    const QString ups = words.at(1);
    if (login && !connection->loggedInto.isEmpty())
        return err("ALREADY-LOGGED-IN");
    if (!connection->userNameSet)
        return err("USERNAME-REQUIRED");
    if (!connection->passwordSet)
        return err("PASSWORD-REQUIRED");
    if (hostOf(ups).isEmpty())
        return err("UNKNOWN-UPS");
    const auto known = m_passwords.constFind(connection->userName);
    if (known == m_passwords.constEnd() || *known != connection->password) {
        noteWrongPassword(connection, QDateTime::currentMSecsSinceEpoch());
        return err("ACCESS-DENIED");
    }
    if (login) {
        connection->loggedInto = ups;
        return "OK\n";
    }
    if (primary) {
        if (!m_primaries.contains(connection->userName))
            return err("ACCESS-DENIED");
        connection->primaryOf.insert(ups);
        return command == QLatin1String("MASTER") ? "OK MASTER-GRANTED\n" : "OK PRIMARY-GRANTED\n";
    }
    if (!connection->primaryOf.contains(ups))
        return err("ACCESS-DENIED");
    m_shutdownRequests << ups;
    m_forced.insert(ups);
    emit shutdownRequested(ups, hostOf(ups), connection->userName + QLatin1Char('@') + connection->address);
    return "OK FSD-SET\n";
}

QByteArray NutServer::list(const QStringList &words)
{
    if (words.size() < 2)
        return err("INVALID-ARGUMENT");
    const QString what = words.at(1).toUpper();
    const QByteArray kind = what.toUtf8();
    if (what == QLatin1String("UPS")) {
        if (words.size() != 2)
            return err("INVALID-ARGUMENT");
        QByteArray out = "BEGIN LIST UPS\n";
        const QList<CardState> cards = m_backend->cards();
        // One address may be listed on two ports; it is one UPS, named once (hostOf() finds the first).
        QSet<QString> named;
        for (const CardState &card : cards) {
            const QString name = NutUps::nameOf(card.host);
            if (named.contains(name))
                continue;
            named.insert(name);
            out += "UPS " + utf8(name) + ' '
                + NutLine::quoted(NutUps::description(m_backend->details(card.host))) + '\n';
        }
        return out + "END LIST UPS\n";
    }

    const bool perUps = what == QLatin1String("VAR") || what == QLatin1String("CMD") || what == QLatin1String("RW")
        || what == QLatin1String("CLIENT");
    const bool perVariable = what == QLatin1String("ENUM") || what == QLatin1String("RANGE");
    if (!perUps && !perVariable)
        return err("INVALID-ARGUMENT");
    if (words.size() != (perUps ? 3 : 4))
        return err("INVALID-ARGUMENT");
    const QString ups = words.at(2);
    const QString host = hostOf(ups);
    if (host.isEmpty())
        return err("UNKNOWN-UPS");
    QByteArray head = kind + ' ' + utf8(ups);
    QByteArray body;
    if (what == QLatin1String("VAR")) {
        const QList<CardState> cards = m_backend->cards();
        for (const CardState &card : cards) {
            if (card.host != host)
                continue;
            if (NutUps::isStale(card))
                return err("DATA-STALE");
            for (const NutUps::Variable &v : NutUps::variables(card, m_backend->details(host), m_forced.contains(ups)))
                body += "VAR " + utf8(ups) + ' ' + utf8(v.first) + ' ' + NutLine::quoted(v.second) + '\n';
            break; // an address listed on two ports has one state
        }
    } else if (what == QLatin1String("CLIENT")) {
        for (const QString &client : clientsOf(ups))
            body += "CLIENT " + utf8(ups) + ' ' + utf8(client) + '\n';
    } else if (perVariable) {
        // No variable here has a set of values or a range to choose from.
        if (NutUps::describe(words.at(3)).isEmpty())
            return err("VAR-NOT-SUPPORTED");
        head += ' ' + utf8(words.at(3));
    }
    return "BEGIN LIST " + head + '\n' + body + "END LIST " + head + '\n';
}

QByteArray NutServer::get(const QStringList &words)
{
    if (words.size() < 3)
        return err("INVALID-ARGUMENT");
    const QString what = words.at(1).toUpper();
    const QString ups = words.at(2);
    const bool perUps = what == QLatin1String("UPSDESC") || what == QLatin1String("NUMLOGINS");
    const bool perVariable = what == QLatin1String("VAR") || what == QLatin1String("DESC")
        || what == QLatin1String("TYPE") || what == QLatin1String("CMDDESC");
    if (!perUps && !perVariable)
        return err("INVALID-ARGUMENT");
    if (words.size() != (perUps ? 3 : 4))
        return err("INVALID-ARGUMENT");
    const QString host = hostOf(ups);
    if (host.isEmpty())
        return err("UNKNOWN-UPS");
    const QByteArray name = utf8(ups);
    if (what == QLatin1String("UPSDESC"))
        return "UPSDESC " + name + ' ' + NutLine::quoted(NutUps::description(m_backend->details(host))) + '\n';
    if (what == QLatin1String("NUMLOGINS"))
        return "NUMLOGINS " + name + ' ' + QByteArray::number(clientsOf(ups).size()) + '\n';

    const QString variable = words.at(3);
    if (what == QLatin1String("CMDDESC"))
        return err("CMD-NOT-SUPPORTED");
    if (what == QLatin1String("DESC")) {
        const QString text = NutUps::describe(variable);
        return "DESC " + name + ' ' + utf8(variable) + ' '
            + NutLine::quoted(text.isEmpty() ? QStringLiteral("Description unavailable") : text) + '\n';
    }
    if (what == QLatin1String("TYPE")) {
        if (NutUps::describe(variable).isEmpty())
            return err("VAR-NOT-SUPPORTED");
        return "TYPE " + name + ' ' + utf8(variable) + ' '
            + (NutUps::isNumber(variable) ? QByteArray("NUMBER") : "STRING:" + QByteArray::number(stringLength)) + '\n';
    }
    const QList<CardState> cards = m_backend->cards();
    for (const CardState &card : cards) {
        if (card.host != host)
            continue;
        if (NutUps::isStale(card))
            return err("DATA-STALE");
        for (const NutUps::Variable &v : NutUps::variables(card, m_backend->details(host), m_forced.contains(ups))) {
            if (v.first == variable)
                return "VAR " + name + ' ' + utf8(variable) + ' ' + NutLine::quoted(v.second) + '\n';
        }
    }
    return err("VAR-NOT-SUPPORTED");
}
