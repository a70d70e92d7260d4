#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class ProtectionBackend;
class QDBusPendingCallWatcher;
struct SystemMessage;

// Tells the desktop (org.freedesktop.Notifications on the session bus) what the backend reports that a person
// should hear of while the window is hidden: a card's power trouble and its end, a card going offline, the
// countdown, a refused shutdown, the service going away and coming back. Only changes are told; at the start
// only what is trouble already. Each card, the shutdown and the service have one notification each that a new
// one replaces. Every bus call is asynchronous; without a notification server nothing is shown and that is
// logged once. The pop-up boxes of the window are not its business. GUI thread only.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    // The session bus, connected to at the first notification.
    explicit DesktopNotifier(ProtectionBackend *backend, QObject *parent = nullptr);
    DesktopNotifier(ProtectionBackend *backend, const QDBusConnection &bus, QObject *parent = nullptr);
    ~DesktopNotifier() override;

    static constexpr char service[] = "org.freedesktop.Notifications";
    static constexpr char path[] = "/org/freedesktop/Notifications";
    // How long a front end waits for the service at its start before it says the service is not there.
    static constexpr int defaultServiceGraceMs = 5000;
    void setServiceGraceMs(int ms);

    // Whether the setting lets it notify (read at the start, followed after).
    bool isEnabled() const { return m_enabled; }
    // Whether it follows the backend yet: from the answer to its first settings read on.
    bool isFollowing() const { return m_started; }
    // Notify calls not answered yet.
    int callsInFlight() const;

private:
    enum class Power
    {
        Unknown,
        Normal,
        MainsFailure,
        BatteryLow
    };
    struct Card
    {
        int status = -1;
        char battery = 0;
        char input = 0;
        unsigned known = 0; // which of battery and input were ever reported
        Power power = Power::Unknown;
        bool offlineTold = false; // then its next power state is news, whatever it is
    };
    struct Note
    {
        QString summary;
        QString body;
        bool urgent = false;
    };
    struct Channel
    {
        uint id = 0; // the server's, from its last answer; 0 before
        bool inFlight = false;
        bool queued = false;
        Note next; // the latest that waits for the answer to the one in flight
    };

    void start(bool enabled);
    void readSetting();
    void takeCards();
    void takeStatus(const QString &host, int status);
    void takeData(const QString &host, const QByteArray &data);
    void takeCountdown(qint64 remainingMs);
    void takeRefusal(const SystemMessage &refusal);
    void takeMessage(const SystemMessage &message);
    void takeReachable(bool reachable);
    void notify(const QString &key, const Note &note);
    void send(const QString &key);
    void answered(const QString &key, QDBusPendingCallWatcher *watcher);

    ProtectionBackend *m_backend;
    std::unique_ptr<QDBusConnection> m_bus; // none until the first notification when it is the session bus
    bool m_started = false;
    bool m_enabled = true;
    bool m_countdown = false;
    QString m_refusal;
    bool m_serviceLost = false;
    bool m_serviceSeen = false;
    bool m_silentLogged = false;
    QTimer m_serviceGrace;
    int m_serviceGraceMs = defaultServiceGraceMs;
    QHash<QString, Card> m_cards;
    QHash<QString, Channel> m_channels; // by "card:" + host, "shutdown", "service"
};
