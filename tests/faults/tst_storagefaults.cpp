// The program's storage pulled from under it while it watches a simulated card: the database locked by
// another process, the log directory deleted, the database file deleted or made read-only. The protection must
// still act, nothing may crash, and what is stored once the fault is gone must be there.
#include "support/facekit.h"
#include "support/faultkit.h"

#include "app/messagehandler.h"
#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "storage/eventstore.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "support/upssim.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace FaceKit;
using namespace FaultKit;

namespace {
const QString local = QStringLiteral("127.0.0.1");
const QString trapTo = QStringLiteral("udp:127.0.0.1:162");

// The catalogue's text of an event code in the English section.
QString textOf(int code)
{
    const QString text = EventCatalogue::find(AppPaths::cataloguePath())->text(QStringLiteral("Event_English"), code);
    return local + QLatin1Char('|') + text;
}

bool hasEvent(int code)
{
    return Store::events().contains(qMakePair(local, code));
}

// Makes a file or directory immutable (chattr +i), which binds root too, for as long as the object lives.
class Immutable
{
public:
    explicit Immutable(const QString &path) : m_path(path)
    {
        m_done = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), m_path}) == 0;
    }
    ~Immutable() { undo(); }
    void undo()
    {
        if (m_done)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_path});
        m_done = false;
    }
    bool isDone() const { return m_done; }

private:
    QString m_path;
    bool m_done = false;
};

// The countdown messages the policy has shown so far.
int countdownRows(QTableWidget *table)
{
    int n = 0;
    for (const QString &row : rows(table))
        n += row.contains(QLatin1String("System will be shutdown in")) ? 1 : 0;
    return n;
}
} // namespace

class TestStorageFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qInstallMessageHandler(messageHandler); }
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }
    void databaseLockedByAnotherProcess();
    void logDirectoryDeletedWhileRunning();
    void databaseReadOnlyOrDeletedWhileRunning_data();
    void databaseReadOnlyOrDeletedWhileRunning();
};

namespace {
// snmpinform (one retry) while this thread's event loop runs, as the window's would: 0 when acknowledged.
int informServing(int number)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral("python3"),
        {UpsSim::script(), QStringLiteral("trap"), QStringLiteral("inform"), QString::number(number),
            QStringLiteral("--to"), trapTo});
    QElapsedTimer clock;
    clock.start();
    while (tool.state() != QProcess::NotRunning && clock.elapsed() < 10000)
        QTest::qWait(10);
    return tool.state() == QProcess::NotRunning && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
}
} // namespace

void TestStorageFaults::databaseLockedByAnotherProcess()
{
    ScratchApp app;
    Database::instance()->createTables();
    // Announced, a notification would wait in a box for a person.
    Store::writeSetting(QStringLiteral("system/pop_warning"), false);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    Store::writeSetting(QStringLiteral("shutdown/batt_low_time"), 5);
    UpsSim card(QStringLiteral("udp:127.0.0.1:16201"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(local, 16201);

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    QTableWidget *table = eventTable(*window);
    ListWidgetItem *item = window->findHostItem(local);
    QVERIFY(item);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 6000);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(1), 3000);

    LockHolder lock;
    QVERIFY(lock.hold(AppPaths::databasePath()));
    const int storedBefore = Store::events().size();
    // A few notifications while the lock is held: each is still listed, and kept until it can be stored.
    Peer burst;
    QVERIFY(burst.start({QStringLiteral("flood"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:162"),
        QStringLiteral("--count"), QStringLiteral("20"), QStringLiteral("--numbers"), QStringLiteral("7"),
        QStringLiteral("--pause"), QStringLiteral("0.01")}));
    QCOMPARE(burst.waitSent(10000), 20);
    QTRY_VERIFY_WITH_TIMEOUT(rows(table).count(textOf(8)) >= 1, 5000);

    // The mains fails while the lock is still held: the countdown must start about as fast as without it.
    QElapsedTimer clock;
    QVERIFY(card.setState(QStringLiteral("mains-failure")));
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(window->shutdownPolicy()->countdownActive(), 15000);
    const qint64 reaction = clock.elapsed();
    qInfo("countdown started %lld ms after the mains failure, database locked", reaction);
    QVERIFY2(reaction < 3000, qPrintable(QStringLiteral("countdown after %1 ms").arg(reaction)));
    QCOMPARE(countdownRows(table), 1);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::red), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rows(table).count(textOf(8)), 20, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(EventStore::instance()->isFailing(), 5000);
    QCOMPARE(EventStore::instance()->pendingCount(), 20);
    // A reader that must not wait (the service's Events()) is told at once, and reads what is stored.
    int flushed = -1;
    EventStore::instance()->whenFlushed(window.get(), 5000, [&flushed](bool written) { flushed = written; });
    QCOMPARE(flushed, 0);
    QCOMPARE(sqliteQuery(AppPaths::databasePath(), QStringLiteral("select count(*) from snmp_event where event = 8;")),
        QStringLiteral("0"));
    // An inform is answered only once it is stored: now it is refused and not kept, so its card sends it again.
    QVERIFY(informServing(11) != 0);
    QCOMPARE(EventStore::instance()->pendingCount(), 20);
    // History samples wait beside the events, to a bound of their own, the oldest dropped first; never an
    // event. The window's own sampler may add one at a minute's end meanwhile.
    const QString sampled = QStringLiteral("10.9.9.9");
    const int samples = EventStore::maxPendingSamples + 5;
    const qint64 lastMinute = QDateTime::currentSecsSinceEpoch() / 60 * 60;
    const quint64 droppedBefore = EventStore::instance()->droppedSampleCount();
    for (int i = 0; i < samples; ++i) {
        HistorySample sample;
        sample.at = lastMinute - 60 * qint64(samples - 1 - i);
        sample.capacity = 50;
        EventStore::instance()->storeSample(sampled, sample);
    }
    // A batch that was being written as they came goes back to the queue, and the bound holds again.
    const auto dropped = [droppedBefore] { return EventStore::instance()->droppedSampleCount() - droppedBefore; };
    QTRY_VERIFY2_WITH_TIMEOUT(EventStore::instance()->pendingSampleCount() == EventStore::maxPendingSamples
            && (dropped() == 5 || dropped() == 6),
        qPrintable(
            QStringLiteral("%1 waiting, %2 dropped").arg(EventStore::instance()->pendingSampleCount()).arg(dropped())),
        3000);
    QCOMPARE(EventStore::instance()->pendingCount(), 20);

    QVERIFY(lock.release());
    // Once the other process lets go, the kept events are written, and the next one too.
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 9, trapTo), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(10), 8000);
    QCOMPARE(Store::events().size(), storedBefore + 21);
    const int kept = sqliteQuery(
        AppPaths::databasePath(), QStringLiteral("select count(*) from snmp_history where host = '%1';").arg(sampled))
                         .toInt();
    QVERIFY2(kept >= EventStore::maxPendingSamples - 1 && kept <= EventStore::maxPendingSamples,
        qPrintable(QString::number(kept)));
    const qint64 oldestKept = sqliteQuery(
        AppPaths::databasePath(), QStringLiteral("select min(at) from snmp_history where host = '%1';").arg(sampled))
                                  .toLongLong();
    QVERIFY(oldestKept >= lastMinute - 60 * qint64(samples - 6));
    QCOMPARE(informServing(11), 0);
    QCOMPARE(sqliteQuery(AppPaths::databasePath(), QStringLiteral("select count(*) from snmp_event where event = 12;")),
        QStringLiteral("1"));
    // One row when storing failed, one when it worked again.
    QCOMPARE(rows(table).count(QStringLiteral("System|Events cannot be stored at the moment; they are kept until "
                                              "storing works again")),
        1);
    // The row comes through the window's queued signal and row batch, so it may follow the stored event.
    QTRY_COMPARE_WITH_TIMEOUT(
        rows(table).count(QStringLiteral("System|Storing events works again; the events kept meanwhile are stored")), 1,
        3000);
    QVERIFY(card.setState(QStringLiteral("normal")));
    QTRY_VERIFY_WITH_TIMEOUT(!window->shutdownPolicy()->countdownActive(), 5000);
    QCOMPARE(sqliteQuery(AppPaths::databasePath(), QStringLiteral("pragma integrity_check;")), QStringLiteral("ok"));
    QCOMPARE(shutdowns, 0);
}

void TestStorageFaults::logDirectoryDeletedWhileRunning()
{
    ScratchApp app;
    Database::instance()->createTables();
    // Announced, a notification would wait in a box for a person.
    Store::writeSetting(QStringLiteral("system/pop_warning"), false);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    UpsSim card(QStringLiteral("udp:127.0.0.1:16202"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(local, 16202);
    AppPaths::createDirectories();

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    ListWidgetItem *item = window->findHostItem(local);
    QVERIFY(item);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 6000);
    const QString dayFile = AppPaths::logDir() + QLatin1Char('/')
        + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
    QVERIFY(QFile::exists(dayFile)); // the engine's start was logged

    QVERIFY(QDir(AppPaths::logDir()).removeRecursively());
    QVERIFY(!QDir(AppPaths::logDir()).exists());
    qWarning("after the log directory went");
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, trapTo), 0);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(8), 5000);
    QVERIFY(card.setState(QStringLiteral("mains-failure")));
    QTRY_VERIFY_WITH_TIMEOUT(window->shutdownPolicy()->countdownActive(), 4000);
    // The diagnostic lines after the loss are gone; the protection is not.
    QVERIFY(!QDir(AppPaths::logDir()).exists());
    QCOMPARE(shutdowns, 0);
}

void TestStorageFaults::databaseReadOnlyOrDeletedWhileRunning_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("database file read-only") << QStringLiteral("readonly-file");
    QTest::newRow("cfg directory read-only") << QStringLiteral("readonly-dir");
    QTest::newRow("database file deleted") << QStringLiteral("deleted");
}

void TestStorageFaults::databaseReadOnlyOrDeletedWhileRunning()
{
    QFETCH(QString, fault);
    ScratchApp app;
    Database::instance()->createTables();
    // Announced, a notification would wait in a box for a person.
    Store::writeSetting(QStringLiteral("system/pop_warning"), false);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    UpsSim card(QStringLiteral("udp:127.0.0.1:16203"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(local, 16203);

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    QTableWidget *table = eventTable(*window);
    ListWidgetItem *item = window->findHostItem(local);
    QVERIFY(item);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 6000);
    QTRY_VERIFY_WITH_TIMEOUT(hasEvent(1), 3000);

    const QString db = AppPaths::databasePath();
    const QString cfg = QFileInfo(db).absolutePath();
    const QFile::Permissions before = QFile::permissions(db);
    const QFile::Permissions cfgBefore = QFile::permissions(cfg);
    std::unique_ptr<Immutable> frozen;
    if (fault == QLatin1String("readonly-file")) {
        QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::ReadGroup));
        frozen = std::make_unique<Immutable>(db); // root ignores the mode bits
    } else if (fault == QLatin1String("readonly-dir")) {
        QVERIFY(QFile::setPermissions(cfg, QFile::ReadOwner | QFile::ExeOwner));
        frozen = std::make_unique<Immutable>(cfg);
    } else {
        QVERIFY(QFile::remove(db));
    }
    const int storedBefore = Store::events().size();
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 7, trapTo), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rows(table).contains(textOf(8)), 5000);
    QVERIFY(card.setState(QStringLiteral("mains-failure")));
    QTRY_VERIFY_WITH_TIMEOUT(window->shutdownPolicy()->countdownActive(), 4000);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::red), 4000);
    if (fault == QLatin1String("deleted")) {
        // A new database file took the deleted one's place: what was stored after the loss is kept.
        QVERIFY(QFile::exists(db));
        QCOMPARE(
            sqliteQuery(db, QStringLiteral("select count(*) from snmp_event where event = 8;")), QStringLiteral("1"));
        QCOMPARE(sqliteQuery(db, QStringLiteral("pragma integrity_check;")), QStringLiteral("ok"));
    }

    if (frozen)
        frozen->undo();
    QFile::setPermissions(cfg, cfgBefore);
    if (fault != QLatin1String("deleted")) {
        QFile::setPermissions(db, before);
        // The event of the fault is stored (into the write-ahead log, or kept until writable again), and so is a
        // new one, next to the old ones.
        QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 9, trapTo), 0);
        QTRY_VERIFY_WITH_TIMEOUT(hasEvent(10), 6000);
        QVERIFY(hasEvent(1));
        QVERIFY(hasEvent(8));
        QCOMPARE(Store::events().size(), storedBefore + 2);
        QCOMPARE(sqliteQuery(db, QStringLiteral("pragma integrity_check;")), QStringLiteral("ok"));
    }
    QCOMPARE(shutdowns, 0);
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestStorageFaults)

#include "tst_storagefaults.moc"
