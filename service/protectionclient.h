#pragma once

#include "policy/protection.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

class ProtectionProxy;
class QDBusServiceWatcher;

// A front end's view of the protection service: the service's reports as signals of the same shape as the
// protection's own, a snapshot of the cards whenever the service (re)appears, and the changes the dialogs
// make. The reports never wait on the bus; the dialog calls do, for at most callTimeoutMs, since a modal
// dialog has nothing to show before the answer. GUI thread only.
class ProtectionClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int callTimeoutMs = 5000;

    explicit ProtectionClient(const QDBusConnection &bus, QObject *parent = nullptr);
    ~ProtectionClient() override;

    // Whether the service's name is on the bus now; asks the bus and waits at most timeoutMs.
    static bool serviceRunning(const QDBusConnection &bus, int timeoutMs = 2000);
    // The client the dialogs go through, while a window follows the service; none when the window works alone.
    static ProtectionClient *active();
    void makeActive();

    bool isAvailable() const;

    // The dialogs' calls. A failure gives false and the service's or the bus's words in *error; *unauthorized
    // tells a change that polkit did not allow from one the service or the bus turned down.
    QVariant setting(const QString &key, QString *error = nullptr);
    bool setSetting(const QString &key, const QVariant &value, QString *error = nullptr, bool *unauthorized = nullptr);
    // Which secrets a stored card has: the service says so, but never gives them out, so the cards' infos
    // come with an empty community, user name and password.
    struct Secrets
    {
        bool community = false;
        bool userName = false;
        bool password = false;
    };
    QList<SNMPInfo> hosts(QString *error = nullptr);
    bool host(const QString &ip, SNMPInfo *info, QString *error = nullptr, Secrets *secrets = nullptr);
    bool addHost(const SNMPInfo &info, QString *error = nullptr, bool *unauthorized = nullptr);
    // An empty secret keeps the stored one while the address stays oldIp.
    bool modifyHost(const SNMPInfo &info, const QString &oldIp, QString *error = nullptr, bool *unauthorized = nullptr);
    bool removeHost(const QString &ip, QString *error = nullptr, bool *unauthorized = nullptr);
    struct Event
    {
        qint64 date = 0;
        QString host;
        int event = 0;
    };
    bool events(qint64 from, qint64 to, QList<Event> *events, QString *error = nullptr);
    bool clearEvents(QString *error = nullptr, bool *unauthorized = nullptr);
    // The listed cards with their last status and data, as the service knows them now.
    QList<Protection::Card> cards(QString *error = nullptr);
    // Runs the shutdown application in the service as an outage would, without waiting: done runs while
    // context lives, with how it ended, or with the service's or the bus's words in error.
    using TestDone = std::function<void(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal,
        const QString &error, bool unauthorized)>;
    void testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done);

signals:
    void serviceLost();
    // The service is there (again): a snapshot of its cards and countdown follows.
    void serviceFound();
    void hostsChanged(const QStringList &hosts);
    void eventArrived(const QString &host, int event, qint64 at);
    void statusChanged(const QString &host, int status);
    void authenticationChanged(const QString &host, bool failed);
    void dataReady(const QString &host, const QByteArray &data);
    void systemMessage(const QString &text);
    // What is left of the service's countdown in milliseconds, -1 for none.
    void countdownChanged(qint64 remainingMs);
    void storingFailed();
    void storingRecovered();

private:
    void fetchSnapshot();
    void setAvailable(bool available);

    QDBusConnection m_bus;
    std::unique_ptr<ProtectionProxy> m_proxy;
    QDBusServiceWatcher *m_watcher;
    bool m_available = false;
};
