#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class ProtectionBackend;
class QTcpServer;
class QTcpSocket;

// A server of the network UPS protocol (that of Network UPS Tools' upsd, protocol version 1.3), so that upsc
// and upsmon on other machines follow the listed cards. It answers from the backend's snapshot at the moment
// of each request and changes nothing on the cards: they are read-only and there are no instant commands. A forced
// shutdown (FSD) raised here, or asked for by a primary, shows as FSD in the UPS's status until the server closes,
// and those logged in on it are counted down as they leave. Off until listen() is called. GUI thread only (the
// backend's thread).
class NutServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 defaultPort = 3493;
    static constexpr int maxConnections = 64;
    static constexpr int defaultIdleTimeoutMs = 120000;
    // Wrong passwords: a connection is closed at its third, and an address with this many in a minute has its
    // connections closed at once for the rest of that minute, said once.
    static constexpr int wrongPasswordsPerConnection = 3;
    static constexpr int wrongPasswordsPerMinute = 10;

    explicit NutServer(ProtectionBackend *backend, QObject *parent = nullptr);
    ~NutServer() override;

    // Port 0 takes a free one (see port()). False with the reason when the address cannot be had.
    bool listen(
        const QHostAddress &address = QHostAddress::LocalHost, quint16 port = defaultPort, QString *error = nullptr);
    void close();
    bool isListening() const;
    quint16 port() const;
    QHostAddress serverAddress() const;

    // A connection that sends nothing for this long is closed.
    void setIdleTimeoutMs(int ms);
    // Who may LOGIN (and so become a client of a UPS), with the password; whom of them PRIMARY (MASTER)
    // grants the right to ask for a forced shutdown. No user at all: every LOGIN is refused.
    void setUsers(const QHash<QString, QString> &passwords, const QSet<QString> &primaries = {});

    int connectionCount() const;
    // Raises a forced shutdown on the cards (by their hosts): their status shows FSD. Returns how many clients
    // are logged in on them; while any are, followersChanged() tells as they log out.
    int raiseForcedShutdown(const QStringList &hosts);
    // The shutdown is no longer due (refused, and the trouble over): the statuses lose their FSD.
    void clearForcedShutdown();
    // Those logged in on a UPS with a forced shutdown raised.
    int forcedFollowers() const;
    // What VER answers, its line end aside.
    static QByteArray versionText();
    // The UPS names for which a primary asked for a forced shutdown, in order.
    QStringList shutdownRequests() const { return m_shutdownRequests; }

signals:
    // A primary asked for a forced shutdown of the UPS: host is its card, by the user and the address.
    void shutdownRequested(const QString &ups, const QString &host, const QString &by);
    void followersChanged(int loggedIn);

private:
    struct Connection;
    void accept();
    void readFrom(Connection *connection);
    void drop(Connection *connection);
    void closeAfterAnswers(Connection *connection);
    QByteArray answer(Connection *connection, const QStringList &words);
    QByteArray list(const QStringList &words);
    QByteArray get(const QStringList &words);
    // The card listed under the UPS name, or an empty host.
    QString hostOf(const QString &ups) const;
    QStringList clientsOf(const QString &ups) const;

    ProtectionBackend *m_backend;
    QTcpServer *m_server;
    int m_idleTimeoutMs = defaultIdleTimeoutMs;
    QHash<QString, QString> m_passwords;
    QSet<QString> m_primaries;
    QHash<QTcpSocket *, Connection *> m_connections;
    QStringList m_shutdownRequests;
    QSet<QString> m_forced; // UPS names
    struct Guesses
    {
        qint64 sinceMs = 0; // the start of the address's minute
        int count = 0;
    };
    QHash<QString, Guesses> m_guesses; // by address, bounded by pruning
    bool guessing(const QString &address, qint64 nowMs) const;
    void noteWrongPassword(Connection *connection, qint64 nowMs);
};
