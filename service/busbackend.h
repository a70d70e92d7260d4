#pragma once

#include "backend/protectionbackend.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <memory>

// The front end's protection: follows the service on the bus. When the service's name gets an owner, one
// snapshot (the cards, the countdown, the refusal, and apart from these the cards' details) is asked for, and
// the service's signals keep it up after that; cards() and the other accessors answer from it at once. Every
// request is an asynchronous call whose answer comes back through the callback; none waits on the bus. While
// the service is not on the bus nothing is sent at all: a request fails at once with notRunning(), the cards
// stay as last known and their details are unknown.
// GUI thread only.
class BusBackend : public ProtectionBackend
{
    Q_OBJECT
public:
    // A read answers quickly or not at all; a change waits for polkit, which may be asking an administrator
    // for a password.
    static constexpr int readTimeoutMs = 5000;
    static constexpr int changeTimeoutMs = 120000;

    explicit BusBackend(const QDBusConnection &bus, QObject *parent = nullptr);
    ~BusBackend() override;

    // The reason a request fails while the service is not on the bus.
    static QString notRunning();
    // Where a package puts the service's bus policy file; its presence says the service is installed.
    static QStringList policyDirectories();
    // Whether the window is to be the service's front end: the service is installed (its bus policy file is
    // in one of policyDirs) or on the bus now. The bus is asked only when no policy file says so, and waits
    // at most timeoutMs.
    static bool serviceExpected(
        const QDBusConnection &bus, const QStringList &policyDirs = policyDirectories(), int timeoutMs = 2000);

    bool isReachable() const override;
    bool endsWithThisProcess() const override { return false; }
    QList<CardState> cards() const override;
    qint64 countdownMs() const override;
    SystemMessage shutdownRefusal() const override;
    EventTexts *texts() const override;
    CardDetails details(const QString &host) const override;

    void readSettings(const QStringList &keys, QObject *context, SettingsDone done) override;
    void writeSettings(const QVariantMap &values, QObject *context, Done done) override;
    void storedCards(QObject *context, CardsDone done) override;
    void addHost(const SNMPInfo &info, QObject *context, Done done) override;
    void modifyHost(const SNMPInfo &info, const QString &oldIp, QObject *context, Done done) override;
    void removeHost(const QString &ip, QObject *context, Done done) override;
    void events(qint64 from, qint64 to, QObject *context, EventsDone done) override;
    void clearEvents(QObject *context, Done done) override;
    void history(const QString &host, qint64 from, qint64 to, QObject *context, HistoryDone done) override;
    void testShutdownApplication(const QString &path, int minutes, QObject *context, TestDone done) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
