#include "engine/enginetest.h"
#include "policy/policyrig.h"

#include "service/busbackend.h"
#include "service/protectionservice.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "storage/hosttable.h"
#include "storage/settings.h"
#include "support/fakelogind.h"
#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/serviceprocess.h"
#include "support/upssim.h"

#include <QDBusPendingCall>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>
#include <signal.h>
#include <tuple>

// The front end's backend against the service executable on a private system bus with the recording logind
// and polkit, watching a simulated card. A dbus-monitor on that bus shows what the backend sent.
class TestBusBackend : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void frontEndDecision();
    void absentServiceIsNeverAsked();
    void snapshotAndCountdownOnAppearance();
    void refusalInTheSnapshot();
    void requestsAnswerLater();
    void serviceStopsAndComesBack();

private:
    bool startService();
    bool stopService();
    QString serviceOutput();
    // What the monitor has seen so far, once it has seen a call named marker that the test sends now.
    QString monitored(const QString &marker);
    QDBusConnection connection(const QString &name) const;
    // The calls the monitor saw in what to the service's name or to the connection owning it last.
    int callsToService(const QString &what) const;

    FakeLogind m_bus;
    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<UpsSim> m_card;
    ServiceProcess m_service;
    QProcess m_monitor;
    QString m_monitored;
    QString m_serviceOwner;
};

namespace {
const QString cardA = QStringLiteral("127.0.0.1");
const QString cardB = QStringLiteral("127.0.0.2");
constexpr int portA = 16181;
constexpr int portB = 16182;

int s_warnings = 0;
QtMessageHandler s_previousHandler = nullptr;
void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        ++s_warnings;
    s_previousHandler(type, context, text);
}

void setting(const char *key, const QVariant &value)
{
    writeSetting(AppPaths::settingsFilePath(), QLatin1String(key), value);
}

CardState card(const BusBackend &backend, const QString &host)
{
    for (const CardState &state : backend.cards()) {
        if (state.host == host)
            return state;
    }
    return CardState();
}

QStringList repeated(int count, const QString &text)
{
    QStringList result;
    for (int i = 0; i < count; ++i)
        result.append(text);
    return result;
}

QStringList hosts(const BusBackend &backend)
{
    QStringList result;
    for (const CardState &state : backend.cards())
        result.append(state.host);
    return result;
}

// A request's answer: whether it came, whether it came before the request returned (it must not), and what it
// said.
template<typename... Values> struct Answer
{
    bool came = false;
    bool early = false;
    BackendReply reply;
    std::tuple<std::decay_t<Values>...> values;
};

// Sends a request with a context of its own and waits for the answer.
template<typename... Values, typename Request> Answer<Values...> ask(Request request, int timeoutMs = 10000)
{
    auto answer = std::make_shared<Answer<Values...>>();
    auto returned = std::make_shared<bool>(false);
    QObject context;
    request(&context, [answer, returned](const BackendReply &reply, const Values &...values) {
        answer->came = true;
        answer->early = !*returned;
        answer->reply = reply;
        answer->values = std::make_tuple(values...);
    });
    *returned = true;
    (void)QTest::qWaitFor([&answer] { return answer->came; }, timeoutMs);
    return *answer;
}

// The requests a face can make, each once, each counting its answers, to one backend.
int askEverything(BusBackend &backend, QObject *context, QStringList *errors)
{
    auto answers = std::make_shared<int>(0);
    const auto note = [answers, errors](const BackendReply &reply) {
        ++*answers;
        errors->append(reply.ok ? QStringLiteral("ok") : reply.error);
    };
    backend.readSettings({QStringLiteral("shutdown/ac_failed_time")}, context,
        [note](const BackendReply &reply, const QVariantMap &) { note(reply); });
    backend.writeSettings({{QStringLiteral("shutdown/ac_failed_time"), 3}}, context, note);
    backend.storedCards(context, [note](const BackendReply &reply, const QList<StoredCard> &) { note(reply); });
    backend.addHost(v2cHost(cardB, portB), context, note);
    backend.modifyHost(v2cHost(cardA, portA), cardA, context, note);
    backend.removeHost(cardA, context, note);
    backend.events(0, 1, context, [note](const BackendReply &reply, const QVector<StoredEvent> &) { note(reply); });
    backend.clearEvents(context, note);
    backend.testShutdownApplication(QStringLiteral("/bin/true"), 1, context,
        [note](const BackendReply &reply, int, int, qint64, const QString &) { note(reply); });
    backend.history(
        cardA, 0, 1, context, [note](const BackendReply &reply, const QVector<HistorySample> &) { note(reply); });
    return 10;
}
} // namespace

QDBusConnection TestBusBackend::connection(const QString &name) const
{
    return QDBusConnection::connectToBus(m_bus.address(), name);
}

int TestBusBackend::callsToService(const QString &what) const
{
    int calls = 0;
    for (const QString &destination : {ProtectionService::serviceName(), m_serviceOwner})
        calls += what.count(QStringLiteral("destination=") + destination + QLatin1Char(' '));
    return calls;
}

void TestBusBackend::initTestCase()
{
    s_previousHandler = qInstallMessageHandler(countWarnings);
    QString why;
    QVERIFY2(m_bus.startBus(&why), qPrintable(why));
    QVERIFY2(m_bus.registerService(FakeLogind::Behaviour(), &why), qPrintable(why));
    QVERIFY2(m_bus.registerPolkit(true, &why), qPrintable(why));

    m_app = std::make_unique<ScratchApp>();
    QVERIFY(QFile::copy(
        buildBinDir() + QStringLiteral("/vigilex-service"), m_app->path(QStringLiteral("vigilex-service"))));
    QFile(m_app->path(QStringLiteral("vigilex-service"))).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    Database::instance()->createTables();
    QVERIFY(HostTable::insert(v2cHost(cardA, portA)));
    setting("shutdown/ac_failed_time", 1);
    setting("shutdown/ac_failed_capacity", 0);
    setting("system/shutdown_app_enable", false);

    m_card = std::make_unique<UpsSim>(QStringLiteral("udp:%1:%2").arg(cardA).arg(portA));
    QVERIFY2(m_card->start(), qPrintable(m_card->log()));

    m_monitor.setProcessChannelMode(QProcess::MergedChannels);
    m_monitor.start(QStringLiteral("dbus-monitor"),
        {QStringLiteral("--address"), m_bus.address(), QStringLiteral("type='method_call'")});
    QVERIFY(m_monitor.waitForStarted(5000));
    QVERIFY2(monitored(QStringLiteral("Ready")).contains(QStringLiteral("member=Ready")), qPrintable(m_monitored));
}

void TestBusBackend::cleanupTestCase()
{
    stopService();
    m_card.reset();
    m_monitor.kill();
    m_monitor.waitForFinished(5000);
}

bool TestBusBackend::startService()
{
    if (!stopService())
        return false;
    if (!m_service.launch(m_app->path(QStringLiteral("vigilex-service")), m_bus.address()))
        return false;
    if (!QTest::qWaitFor(
            [this] { return serviceOutput().contains(QStringLiteral("Protection service started")); }, 10000))
        return false;
    const QDBusMessage owner = connection(QStringLiteral("probe"))
                                   .call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                             QStringLiteral("/org/freedesktop/DBus"),
                                             QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"))
                                       << ProtectionService::serviceName());
    m_serviceOwner = owner.arguments().value(0).toString();
    return !m_serviceOwner.isEmpty();
}

bool TestBusBackend::stopService()
{
    return m_service.end();
}

QString TestBusBackend::serviceOutput()
{
    return m_service.output();
}

QString TestBusBackend::monitored(const QString &marker)
{
    // A call to a name nobody owns, answered by the bus with an error: only the monitor cares.
    QDBusConnection probe = connection(QStringLiteral("probe"));
    const QString seen = QStringLiteral("member=") + marker;
    QElapsedTimer clock;
    clock.start();
    while (!m_monitored.contains(seen) && clock.elapsed() < 10000) {
        probe.asyncCall(QDBusMessage::createMethodCall(
            QStringLiteral("org.vigilex.Marker"), QStringLiteral("/"), QStringLiteral("org.vigilex.Marker"), marker));
        (void)QTest::qWaitFor([this] { return m_monitor.bytesAvailable() > 0; }, 200);
        m_monitored += QString::fromUtf8(m_monitor.readAll());
    }
    return m_monitored;
}

// The window is the service's front end where the service is installed (its bus policy file is there) or
// on the bus; otherwise it protects alone.
void TestBusBackend::frontEndDecision()
{
    QTemporaryDir usr, etc;
    const QStringList dirs {usr.path(), etc.path()};
    QDBusConnection bus = connection(QStringLiteral("decision"));
    QVERIFY(!BusBackend::serviceExpected(bus, dirs));
    QVERIFY(!BusBackend::serviceExpected(QDBusConnection(QStringLiteral("never connected")), dirs));
    QFile policy(etc.filePath(QStringLiteral("org.vigilex.Protection1.conf")));
    QVERIFY(policy.open(QIODevice::WriteOnly));
    policy.close();
    QVERIFY(BusBackend::serviceExpected(QDBusConnection(QStringLiteral("never connected")), dirs));
    QVERIFY(policy.remove());
    QVERIFY(!BusBackend::serviceExpected(bus, dirs));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QVERIFY(BusBackend::serviceExpected(bus, dirs));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// Without the service nothing goes on the bus and nothing warns: every request fails at once with the
// reason, and a request whose context has gone gets no answer. When the service appears, one snapshot is
// asked for and the signals do the rest.
void TestBusBackend::absentServiceIsNeverAsked()
{
    monitored(QStringLiteral("BeforeAbsent"));
    const int monitoredBefore = m_monitored.size();
    s_warnings = 0;
    BusBackend backend(connection(QStringLiteral("absent")));
    QSignalSpy reachable(&backend, &BusBackend::reachableChanged);
    QTest::qWait(200); // the bus's answer about the name's owner
    QVERIFY(!backend.isReachable());
    QVERIFY(backend.cards().isEmpty());
    QCOMPARE(backend.countdownMs(), qint64(-1));

    QStringList errors;
    QObject context;
    const int asked = askEverything(backend, &context, &errors);
    {
        QObject gone;
        QStringList never;
        askEverything(backend, &gone, &never);
    }
    QVERIFY(errors.isEmpty()); // later, not from inside the request
    QCoreApplication::processEvents();
    QCOMPARE(errors, repeated(asked, BusBackend::notRunning()));
    QTest::qWait(100);
    QCOMPARE(errors.size(), asked);
    QCOMPARE(s_warnings, 0);
    QCOMPARE(callsToService(monitored(QStringLiteral("AfterAbsent")).mid(monitoredBefore)), 0);
    QCOMPARE(reachable.size(), 0);

    // The service appears: the backend follows it and keeps up with the card.
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QTRY_COMPARE_WITH_TIMEOUT(reachable.size(), 1, 5000);
    QCOMPARE(reachable.first().first().toBool(), true);
    QVERIFY(backend.isReachable());
    QCOMPARE(hosts(backend), QStringList {cardA});
    QTRY_COMPARE_WITH_TIMEOUT(card(backend, cardA).status, 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(Snmp::isKnown(card(backend, cardA).data, Snmp::BatteryCapacity), 5000);
    const QString seen = monitored(QStringLiteral("Appeared")).mid(monitoredBefore);
    QCOMPARE(seen.count(QStringLiteral("member=Cards")), 1);
    QCOMPARE(seen.count(QStringLiteral("member=State")), 1);
    QCOMPARE(s_warnings, 0);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// A backend that comes to a running service finds in its snapshot what is known of the cards and the running
// countdown, which it counts down by itself between the service's reports.
void TestBusBackend::snapshotAndCountdownOnAppearance()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    BusBackend first(connection(QStringLiteral("first")));
    QSignalSpy messages(&first, &BusBackend::systemMessage);
    QSignalSpy countdowns(&first, &BusBackend::countdownChanged);
    QTRY_VERIFY_WITH_TIMEOUT(Snmp::isKnown(card(first, cardA).data, Snmp::BatteryCapacity), 5000);
    QCOMPARE(card(first, cardA).status, 1);

    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 5000);
    const auto started = qvariant_cast<SystemMessage>(messages.last().first());
    QCOMPARE(started.id, QLatin1String("System will be shutdown in %1 minute(s)"));
    QVERIFY(!countdowns.isEmpty());
    const qint64 reported = countdowns.last().first().toLongLong();
    QVERIFY2(reported > 50000 && reported <= 60000, qPrintable(QString::number(reported)));
    const int countdownReports = countdowns.size();

    // What a backend that comes now has at once, when it says it is reachable.
    CardState atAppearance;
    qint64 countdownAtAppearance = -2;
    BusBackend second(connection(QStringLiteral("second")));
    connect(&second, &BusBackend::reachableChanged, this, [&](bool reachable) {
        if (reachable) {
            atAppearance = card(second, cardA);
            countdownAtAppearance = second.countdownMs();
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(second.isReachable(), 5000);
    QCOMPARE(atAppearance.host, cardA);
    QCOMPARE(atAppearance.status, 1);
    QVERIFY(Snmp::isKnown(atAppearance.data, Snmp::BatteryCapacity));
    QVERIFY2(
        qAbs(countdownAtAppearance - first.countdownMs()) < 1000, qPrintable(QString::number(countdownAtAppearance)));

    QElapsedTimer clock;
    clock.start();
    const qint64 before = second.countdownMs();
    QTest::qWait(600);
    const qint64 after = second.countdownMs();
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(before - after >= 550 && before - after <= elapsed + 50,
        qPrintable(QStringLiteral("%1 -> %2 in %3 ms").arg(before).arg(after).arg(elapsed)));
    QCOMPARE(countdowns.size(), countdownReports); // counted here, not reported

    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_COMPARE_WITH_TIMEOUT(first.countdownMs(), qint64(-1), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(second.countdownMs(), qint64(-1), 5000);
    QCOMPARE(qvariant_cast<SystemMessage>(messages.last().first()).id, QLatin1String("System shutdown is canceled"));
    QCOMPARE(m_bus.calls().powerOff.size(), 0);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// A due power-off that logind refuses stands as the refusal, in the signal and in a later backend's snapshot,
// until the power trouble is over.
void TestBusBackend::refusalInTheSnapshot()
{
    QString why;
    FakeLogind::Behaviour refusing;
    refusing.refusePowerOff = true;
    QVERIFY2(m_bus.registerService(refusing, &why), qPrintable(why));
    m_bus.resetCalls();
    setting("shutdown/ac_failed_capacity", 100); // a capacity below full on a mains failure: the step at once
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    BusBackend first(connection(QStringLiteral("refused")));
    QSignalSpy refusals(&first, &BusBackend::shutdownRefusalChanged);
    QTRY_COMPARE_WITH_TIMEOUT(card(first, cardA).status, 1, 5000);
    QVERIFY(first.shutdownRefusal().isEmpty());

    QVERIFY(m_card->setState(QStringLiteral("capacity"), 99));
    QVERIFY(m_card->setState(QStringLiteral("mains-failure")));
    QTRY_VERIFY_WITH_TIMEOUT(!first.shutdownRefusal().isEmpty(), 10000);
    const SystemMessage refusal = first.shutdownRefusal();
    QCOMPARE(refusal.id, QLatin1String("System shutdown refused by logind: %1"));
    QCOMPARE(qvariant_cast<SystemMessage>(refusals.first().first()), refusal);
    QVERIFY(m_bus.calls().powerOff.size() >= 1);

    SystemMessage atAppearance;
    BusBackend second(connection(QStringLiteral("refused later")));
    connect(&second, &BusBackend::reachableChanged, this, [&](bool reachable) {
        if (reachable)
            atAppearance = second.shutdownRefusal();
    });
    QTRY_VERIFY_WITH_TIMEOUT(second.isReachable(), 5000);
    QCOMPARE(atAppearance, refusal);

    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QTRY_VERIFY_WITH_TIMEOUT(first.shutdownRefusal().isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(second.shutdownRefusal().isEmpty(), 5000);
    QVERIFY(qvariant_cast<SystemMessage>(refusals.last().first()).isEmpty());

    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    setting("shutdown/ac_failed_capacity", 0);
    QFile::remove(AppPaths::shutdownStatePath());
    QVERIFY2(m_bus.registerService(FakeLogind::Behaviour(), &why), qPrintable(why));
}

// Every request is answered through its callback after it has returned, with the service's words or polkit's
// refusal; the host list follows the changes.
void TestBusBackend::requestsAnswerLater()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    BusBackend backend(connection(QStringLiteral("requests")));
    QSignalSpy settings(&backend, &BusBackend::settingChanged);
    QSignalSpy events(&backend, &BusBackend::eventArrived);
    QTRY_COMPARE_WITH_TIMEOUT(card(backend, cardA).status, 1, 5000);
    m_bus.resetCalls();
    s_warnings = 0;

    const QString acTime = QStringLiteral("shutdown/ac_failed_time");
    const QString battTime = QStringLiteral("shutdown/batt_low_time");
    auto read = ask<QVariantMap>([&](QObject *c, auto done) { backend.readSettings({acTime}, c, done); });
    QVERIFY(read.came && !read.early);
    QVERIFY2(read.reply.ok, qPrintable(read.reply.error));
    QCOMPARE(std::get<0>(read.values).value(acTime).toInt(), 1);

    auto written = ask<>([&](QObject *c, auto done) { backend.writeSettings({{battTime, 7}}, c, done); });
    QVERIFY(written.came && !written.early);
    QVERIFY2(written.reply.ok, qPrintable(written.reply.error));
    QTRY_VERIFY(!settings.isEmpty());
    QCOMPARE(settings.last().at(0).toString(), battTime);
    QCOMPARE(settings.last().at(1).toInt(), 7);
    // All or nothing.
    written = ask<>([&](QObject *c, auto done) {
        backend.writeSettings({{battTime, 8}, {QStringLiteral("shutdown/ac_failed_capacity"), 999}}, c, done);
    });
    QVERIFY(written.came && !written.reply.ok && !written.reply.unauthorized);
    QCOMPARE(readSetting(AppPaths::settingsFilePath(), battTime).toInt(), 7);

    auto stored = ask<QList<StoredCard>>([&](QObject *c, auto done) { backend.storedCards(c, done); });
    QVERIFY(stored.came && !stored.early && stored.reply.ok);
    QCOMPARE(std::get<0>(stored.values).size(), 1);
    const StoredCard a = std::get<0>(stored.values).first();
    QCOMPARE(a.info.ip, cardA);
    QCOMPARE(a.info.port, portA);
    QVERIFY(a.communitySet && a.info.community.isEmpty());

    QSignalSpy listed(&backend, &BusBackend::hostsChanged);
    auto changed = ask<>([&](QObject *c, auto done) { backend.addHost(v2cHost(cardB, portB), c, done); });
    QVERIFY(changed.came && !changed.early);
    QVERIFY2(changed.reply.ok, qPrintable(changed.reply.error));
    QTRY_COMPARE(hosts(backend), (QStringList {cardA, cardB}));
    QCOMPARE(listed.last().first().toStringList(), (QStringList {cardA, cardB}));
    QCOMPARE(card(backend, cardA).status, 1); // kept through the list change
    QCOMPARE(card(backend, cardB).status, -1);
    changed = ask<>([&](QObject *c, auto done) { backend.addHost(v2cHost(QStringLiteral("127.0.0.3"), 0), c, done); });
    QVERIFY(changed.came && !changed.reply.ok && !changed.reply.unauthorized && !changed.reply.error.isEmpty());
    m_bus.setPolkitAnswer(false);
    changed = ask<>([&](QObject *c, auto done) { backend.removeHost(cardB, c, done); });
    m_bus.setPolkitAnswer(true);
    QVERIFY(changed.came && !changed.reply.ok);
    QVERIFY2(changed.reply.unauthorized, qPrintable(changed.reply.error));
    QCOMPARE(hosts(backend), (QStringList {cardA, cardB}));
    changed = ask<>([&](QObject *c, auto done) { backend.removeHost(cardB, c, done); });
    QVERIFY2(changed.reply.ok, qPrintable(changed.reply.error));
    changed
        = ask<>([&](QObject *c, auto done) { backend.modifyHost(v2cHost(cardA, portA, QString()), cardA, c, done); });
    QVERIFY2(changed.reply.ok, qPrintable(changed.reply.error));
    QTRY_COMPARE(hosts(backend), QStringList {cardA});

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, QStringLiteral("udp:127.0.0.1:162")), 0);
    const auto trapSignalled = [&events] {
        return std::any_of(events.cbegin(), events.cend(),
            [](const QList<QVariant> &e) { return e.at(0).toString() == cardA && e.at(1).toInt() == 8; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(trapSignalled(), 5000);
    const auto listedEvents = [&] {
        return ask<QVector<StoredEvent>>([&](QObject *c, auto done) { backend.events(now - 60, now + 60, c, done); });
    };
    auto range = listedEvents();
    QVERIFY(range.came && !range.early && range.reply.ok);
    QVERIFY(std::any_of(std::get<0>(range.values).cbegin(), std::get<0>(range.values).cend(),
        [](const StoredEvent &e) { return e.host == cardA && e.event == 8; }));
    changed = ask<>([&](QObject *c, auto done) { backend.clearEvents(c, done); });
    QVERIFY2(changed.came && !changed.early && changed.reply.ok, qPrintable(changed.reply.error));
    range = listedEvents();
    QVERIFY(range.reply.ok && std::get<0>(range.values).isEmpty());

    // A card's minutes as the service's store holds them, oldest first, what the card did not say unknown;
    // also of a card no longer listed. Written here beside the service's writer, which may hold the lock.
    HistorySample older, newer;
    older.at = now / 60 * 60 - 120;
    older.capacity = 90;
    older.inputVoltage = 229;
    newer.at = older.at + 60;
    newer.loadPercent = 35;
    newer.runtimeMinutes = 12;
    QSqlDatabase db = Database::instance()->connection(AppPaths::databasePath());
    QTRY_VERIFY_WITH_TIMEOUT(EventStore::writeRows(db, {}, now, nullptr, {{cardB, newer}, {cardB, older}}), 5000);
    auto minutes = ask<QVector<HistorySample>>(
        [&](QObject *c, auto done) { backend.history(cardB, now - 600, now + 60, c, done); });
    QVERIFY(minutes.came && !minutes.early);
    QVERIFY2(minutes.reply.ok, qPrintable(minutes.reply.error));
    QCOMPARE(std::get<0>(minutes.values), (QVector<HistorySample> {older, newer}));
    QCOMPARE(backend.details(cardB), [] {
        CardDetails unlisted;
        unlisted.host = cardB;
        return unlisted;
    }());

    const QString script = writeShutdownScript(m_app->path(), QStringLiteral("exit 3"));
    auto test = ask<int, int, qint64, QString>(
        [&](QObject *c, auto done) { backend.testShutdownApplication(script, 1, c, done); });
    QVERIFY(test.came && !test.early);
    QVERIFY2(test.reply.ok, qPrintable(test.reply.error));
    QCOMPARE(std::get<0>(test.values), 3);
    QVERIFY(std::get<3>(test.values).isEmpty());

    // A context that has gone gets no answer, though the answer comes.
    bool answered = false;
    auto *gone = new QObject;
    backend.readSettings({acTime}, gone, [&answered](const BackendReply &, const QVariantMap &) { answered = true; });
    delete gone;
    read = ask<QVariantMap>([&](QObject *c, auto done) { backend.readSettings({acTime}, c, done); });
    QVERIFY(read.came && read.reply.ok);
    QVERIFY(!answered);

    QCOMPARE(m_bus.calls().powerOff.size(), 0);
    QCOMPARE(s_warnings, 0);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

// The service goes away: a request it holds ends, the backend says once that it is unreachable, keeps the
// cards as last known and sends nothing; back again, a new snapshot, and the cards follow.
void TestBusBackend::serviceStopsAndComesBack()
{
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    BusBackend backend(connection(QStringLiteral("follower")));
    QSignalSpy reachable(&backend, &BusBackend::reachableChanged);
    QSignalSpy detailed(&backend, &BusBackend::detailsChanged);
    QTRY_COMPARE_WITH_TIMEOUT(card(backend, cardA).status, 1, 5000);
    QCOMPARE(reachable.size(), 1);
    // The details come by the signal (or the snapshot, when the service read them first) and stay.
    QTRY_VERIFY_WITH_TIMEOUT(backend.details(cardA).isKnown(), 15000);
    QCOMPARE(backend.details(cardA).loadPercent, 35);
    QCOMPARE(backend.details(cardA).inputVoltage, 230);
    QCOMPARE(qvariant_cast<CardDetails>(detailed.last().first()), backend.details(cardA));
    s_warnings = 0;

    // Polkit holds the change, as while a person types a password, when the service stops.
    m_bus.holdPolkit(true);
    auto held = std::make_shared<std::optional<BackendReply>>();
    QObject context;
    backend.addHost(v2cHost(cardB, portB), &context, [held](const BackendReply &reply) { *held = reply; });
    QTRY_COMPARE_WITH_TIMEOUT(m_bus.heldAuthorizations(), 1, 5000);
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
    QTRY_COMPARE_WITH_TIMEOUT(reachable.size(), 2, 5000);
    QCOMPARE(reachable.last().first().toBool(), false);
    QVERIFY(!backend.isReachable());
    // Nobody reads the cards' details now: unknown, and said so.
    QVERIFY(!backend.details(cardA).isKnown());
    QCOMPARE(backend.details(cardA).host, cardA);
    QCOMPARE(qvariant_cast<CardDetails>(detailed.last().first()), backend.details(cardA));
    QTRY_VERIFY_WITH_TIMEOUT(held->has_value(), 5000);
    QVERIFY(!(*held)->ok && !(*held)->unauthorized);
    m_bus.holdPolkit(false);
    QCOMPARE(hosts(backend), QStringList {cardA});
    QCOMPARE(card(backend, cardA).status, 1);

    monitored(QStringLiteral("Stopped"));
    const int monitoredBefore = m_monitored.size();
    QStringList errors;
    const int asked = askEverything(backend, &context, &errors);
    QCoreApplication::processEvents();
    QCOMPARE(errors, repeated(asked, BusBackend::notRunning()));
    QCOMPARE(callsToService(monitored(QStringLiteral("AskedStopped")).mid(monitoredBefore)), 0);

    QVERIFY(m_card->setState(QStringLiteral("capacity"), 66));
    QVERIFY2(startService(), qPrintable(serviceOutput()));
    QTRY_COMPARE_WITH_TIMEOUT(reachable.size(), 3, 5000);
    QCOMPARE(reachable.last().first().toBool(), true);
    QTRY_COMPARE_WITH_TIMEOUT(
        int(static_cast<unsigned char>(card(backend, cardA).data.at(Snmp::BatteryCapacity))), 66, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(backend.details(cardA).capacity, 66, 15000);
    const QString seen = monitored(QStringLiteral("Back")).mid(monitoredBefore);
    QCOMPARE(seen.count(QStringLiteral("member=Cards")), 1);
    QCOMPARE(seen.count(QStringLiteral("member=State")), 1);
    QCOMPARE(reachable.size(), 3);
    QCOMPARE(s_warnings, 0);
    QVERIFY(m_card->setState(QStringLiteral("normal")));
    QVERIFY2(stopService(), qPrintable(serviceOutput()));
}

VIGILEX_NETNS_TEST_MAIN(TestBusBackend)

#include "tst_busbackend.moc"
