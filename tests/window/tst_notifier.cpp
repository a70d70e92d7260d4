#include "support/facekit.h"
#include "support/fakelogind.h"

#include "storage/settingkeys.h"
#include "ui/desktopnotifier.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusError>
#include <QMap>
#include <QtTest>

using namespace FaceKit;

namespace {
constexpr char serverConnection[] = "notification server";
constexpr char clientConnection[] = "notifier";
const QString cardA = QStringLiteral("127.0.1.2");
const QString cardB = QStringLiteral("127.0.1.3");

// What a notification server keeps of each Notify, and the ids it gives as the real ones do: a known
// replaces_id keeps its id, anything else gets a new one.
struct Recorded
{
    QString app;
    uint replacesId = 0;
    QString icon;
    QString summary;
    QVariantMap hints;
    uint id = 0;
};

// The backend of a front end as far as the service's presence goes; the rest is the LocalBackend's.
class FrontEndBackend : public LocalBackend
{
public:
    bool isReachable() const override { return reachable; }
    void setReachable(bool on)
    {
        reachable = on;
        emit reachableChanged(on);
    }
    bool reachable = true;
};

int warnings = 0;
QtMessageHandler previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("No desktop notifications")))
        ++warnings;
    previousHandler(type, context, text);
}
} // namespace

class RecordingServer : public QObject
{
    Q_OBJECT
public:
    QList<Recorded> notes;
    uint lastId = 0;
};

class NotificationsAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    explicit NotificationsAdaptor(RecordingServer *server) : QDBusAbstractAdaptor(server), m_server(server) { }

public slots:
    uint Notify(const QString &app, uint replacesId, const QString &icon, const QString &summary, const QString &,
        const QStringList &, const QVariantMap &hints, int)
    {
        uint id = replacesId;
        if (id == 0 || id > m_server->lastId)
            id = ++m_server->lastId;
        m_server->notes.append({app, replacesId, icon, summary, hints, id});
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString &vendor, QString &version, QString &protocolVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }
    void CloseNotification(uint) { }

private:
    RecordingServer *m_server;
};

// The notifications the window's notifier sends for what a LocalBackend reports, to a recording server on a
// private session bus.
class TestNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void situations_data();
    void situations();

private:
    bool serve(bool on);

    FakeLogind m_bus;
    RecordingServer m_server;
};

void TestNotifier::initTestCase()
{
    QString why;
    QVERIFY2(m_bus.startBus(&why), qPrintable(why));
    QDBusConnection server = QDBusConnection::connectToBus(m_bus.address(), QLatin1String(serverConnection));
    QVERIFY(QDBusConnection::connectToBus(m_bus.address(), QLatin1String(clientConnection)).isConnected());
    new NotificationsAdaptor(&m_server);
    QVERIFY(server.registerObject(QLatin1String(DesktopNotifier::path), &m_server));
    QVERIFY(serve(true));
}

bool TestNotifier::serve(bool on)
{
    QDBusConnection server {QLatin1String(serverConnection)};
    const QString name = QLatin1String(DesktopNotifier::service);
    return on ? server.registerService(name) : server.unregisterService(name);
}

void TestNotifier::situations_data()
{
    QTest::addColumn<QVariantMap>("settings");
    QTest::addColumn<QStringList>("before"); // what the backend knows when the notifier starts
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("server");
    // Each notification chain: the summaries that replaced one another, in order, joined by '|'.
    QTest::addColumn<QStringList>("chains");

    const QStringList none;
    const QVariantMap noSettings;
    QTest::newRow("on battery once, however often reported, then mains back")
        << noSettings << texts({"A online", "A normal"}) << texts({"A mains", "A mains", "A mains", "A normal"}) << true
        << texts({"Mains failure: 127.0.1.2|Mains back: 127.0.1.2"});
    QTest::newRow("a card in order at the start: nothing")
        << noSettings << texts({"A online", "A normal"}) << none << true << none;
    QTest::newRow("a machine that starts on battery hears of it once")
        << noSettings << texts({"A online", "A mains"}) << texts({"A mains"}) << true
        << texts({"Mains failure: 127.0.1.2"});
    QTest::newRow("an offline card at the start is trouble")
        << noSettings << texts({"A offline"}) << none << true << texts({"UPS card offline: 127.0.1.2"});
    QTest::newRow("the stale report of an offline card says nothing")
        << noSettings << texts({"A online", "A normal", "A offline", "A mains"}) << none << true
        << texts({"UPS card offline: 127.0.1.2"});
    QTest::newRow("battery low after the mains failure; low no more is still on battery")
        << noSettings << texts({"A online", "A normal"}) << texts({"A mains", "A low", "A low", "A mains", "A normal"})
        << true << texts({"Mains failure: 127.0.1.2|Battery low: 127.0.1.2|Mains back: 127.0.1.2"});
    QTest::newRow("offline and back: the state it comes back with is news")
        << noSettings << texts({"A online", "A normal"})
        << texts({"A mains", "A offline", "A online", "A mains", "A offline", "A online", "A normal"}) << true
        << texts({"Mains failure: 127.0.1.2|UPS card offline: 127.0.1.2|Mains failure: 127.0.1.2"
                  "|UPS card offline: 127.0.1.2|UPS card answers again: 127.0.1.2"});
    QTest::newRow("a burst: only the newest waits for the id of the one in flight")
        << noSettings << texts({"A online", "A normal"}) << texts({"A mains;A low;A mains;A normal", "A low"}) << true
        << texts({"Mains failure: 127.0.1.2|Mains back: 127.0.1.2|Battery low: 127.0.1.2"});
    QTest::newRow("each card its own notification")
        << noSettings << texts({"A online", "B online"}) << texts({"A mains", "B low", "A normal"}) << true
        << texts({"Mains failure: 127.0.1.2|Mains back: 127.0.1.2", "Battery low: 127.0.1.3"});
    QTest::newRow("a countdown started and canceled")
        << QVariantMap {{QLatin1String(SettingKeys::acFailedTime), 30}} << texts({"A online", "A normal"})
        << texts({"A mains", "A normal"}) << true
        << texts({"Mains failure: 127.0.1.2|Mains back: 127.0.1.2", "Shutdown in 30 minute(s)|Shutdown canceled"});
    QTest::newRow("a countdown running at the start")
        << QVariantMap {{QLatin1String(SettingKeys::acFailedTime), 30}} << texts({"A online", "A mains"}) << none
        << true << texts({"Mains failure: 127.0.1.2", "Shutdown in 30 minute(s)"});
    QTest::newRow("a due shutdown refused")
        << QVariantMap {{QLatin1String(SettingKeys::acFailedCapacity), 100}} << texts({"A online", "A normal"})
        << texts({"A mains99"}) << true << texts({"Mains failure: 127.0.1.2", "Shutdown due but refused"});
    QTest::newRow("switched off by the setting, and on again")
        << noSettings << texts({"A online", "A normal"})
        << texts({"notify off", "A mains", "A offline", "notify on", "A online", "A normal", "A low"}) << true
        << texts({"UPS card answers again: 127.0.1.2|Battery low: 127.0.1.2"});
    QTest::newRow("off from the start") << QVariantMap {{QLatin1String(SettingKeys::desktopNotify), false}}
                                        << texts({"A online", "A mains"}) << texts({"A normal", "A low"}) << true
                                        << none;
    QTest::newRow("a front end: the service gone and back")
        << noSettings << texts({"A online", "A normal"})
        << texts({"service off", "service off", "service on", "service on"}) << true
        << texts({"Protection service stopped|Protection service back"});
    QTest::newRow("a front end that finds the service soon after its start: nothing")
        << noSettings << texts({"service off"}) << texts({"service on"}) << true << none;
    QTest::newRow("a front end whose service stays away") << noSettings << texts({"service off"}) << texts({"grace 50"})
                                                          << true << texts({"Protection service not running"});
    QTest::newRow("power trouble while the service was away is told when it is back")
        << noSettings << texts({"A online", "A normal"}) << texts({"service off", "A mains", "service on"}) << true
        << texts({"Mains failure: 127.0.1.2", "Protection service stopped|Protection service back"});
    QTest::newRow("no server: nothing, said once")
        << noSettings << texts({"A online", "B online"}) << texts({"A mains", "B mains", "A normal"}) << false << none;
}

void TestNotifier::situations()
{
    QFETCH(QVariantMap, settings);
    QFETCH(QStringList, before);
    QFETCH(QStringList, steps);
    QFETCH(bool, server);
    QFETCH(QStringList, chains);

    ScratchApp app;
    prepare(app);
    for (auto it = settings.cbegin(); it != settings.cend(); ++it)
        Store::writeSetting(it.key(), it.value());
    m_server.notes.clear();
    QVERIFY(serve(server));
    auto served = qScopeGuard([this] { serve(true); });
    warnings = 0;
    previousHandler = qInstallMessageHandler(countWarnings);
    auto restored = qScopeGuard([] { qInstallMessageHandler(previousHandler); });

    FrontEndBackend backend;
    ShutdownPolicy *policy = backend.protection()->policy();
    // The power-off is refused, as logind refuses a user without the right.
    policy->setShutdownHandler([policy] {
        QTimer::singleShot(0, policy, [policy] {
            policy->handlePowerOffRefused(
                SystemMessage {QStringLiteral("System shutdown refused by logind: %1"), {QStringLiteral("no")}});
        });
    });
    QVERIFY(addHost(backend, card(cardA)).ok);
    QVERIFY(addHost(backend, card(cardB)).ok);

    // The pieces of one step joined by ';' come at once; each step is answered before the next comes, as reports a
    // second apart are.
    DesktopNotifier *notifier = nullptr;
    const auto run = [&](const QStringList &list) {
        for (const QString &step : list) {
            const QString host = step.startsWith(QLatin1Char('A')) ? cardA : cardB;
            const QString what = step.section(QLatin1Char(' '), 1);
            Protection *protection = backend.protection();
            if (step == QLatin1String("service off") || step == QLatin1String("service on"))
                backend.setReachable(what == QLatin1String("on"));
            else if (step.startsWith(QLatin1String("grace ")))
                notifier->setServiceGraceMs(what.toInt());
            else if (step == QLatin1String("notify off") || step == QLatin1String("notify on"))
                QVERIFY(
                    writeSettings(backend, {{QLatin1String(SettingKeys::desktopNotify), what == QLatin1String("on")}})
                        .ok);
            else if (what == QLatin1String("online") || what == QLatin1String("offline"))
                protection->handleSNMPStatus(host, what == QLatin1String("online") ? 1 : 0);
            else if (what == QLatin1String("normal"))
                protection->handleSNMPData(host, QByteArray("\x02\x00\x02\x50", 4));
            else if (what == QLatin1String("mains"))
                protection->handleSNMPData(host, QByteArray("\x02\x01\x03\x50", 4));
            else if (what == QLatin1String("mains99"))
                protection->handleSNMPData(host, QByteArray("\x02\x01\x03\x63", 4));
            else if (what == QLatin1String("low"))
                protection->handleSNMPData(host, QByteArray("\x03\x01\x03\x10", 4));
            else
                QFAIL(qPrintable(QStringLiteral("no such step: ") + step));
        }
    };
    const auto runSteps = [&](const QStringList &list) {
        for (const QString &step : list) {
            run(step.split(QLatin1Char(';')));
            QTRY_COMPARE(notifier->callsInFlight(), 0);
        }
    };
    run(before);
    if (QTest::currentTestFailed())
        return;
    DesktopNotifier desktop(&backend, QDBusConnection(QLatin1String(clientConnection)));
    notifier = &desktop;
    QTRY_VERIFY(desktop.isFollowing());
    runSteps(steps);
    if (QTest::currentTestFailed())
        return;

    int expected = 0;
    for (const QString &chain : chains)
        expected += chain.count(QLatin1Char('|')) + 1;
    QTRY_COMPARE(m_server.notes.size(), expected);
    if (!server)
        QTRY_COMPARE(warnings, 1);
    // Anything more, a repetition or a late one, would come now.
    QTest::qWait(300);

    QMap<uint, QStringList> byId;
    for (const Recorded &note : qAsConst(m_server.notes)) {
        QCOMPARE(note.app, QStringLiteral("SNMP Vigilex"));
        QCOMPARE(note.icon, QStringLiteral("vigilex"));
        QCOMPARE(note.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("vigilex"));
        QVERIFY(note.hints.contains(QStringLiteral("urgency")));
        // The first of a chain replaces nothing, each later one the one before it.
        QCOMPARE(note.replacesId, byId.contains(note.id) ? note.id : 0u);
        byId[note.id].append(note.summary);
    }
    QStringList got;
    for (const QStringList &chain : qAsConst(byId))
        got.append(chain.join(QLatin1Char('|')));
    got.sort();
    chains.sort();
    QCOMPARE(got, chains);
    QCOMPARE(warnings, server ? 0 : 1);
}

QTEST_MAIN(TestNotifier)
#include "tst_notifier.moc"
