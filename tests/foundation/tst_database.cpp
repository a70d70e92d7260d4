#include "policy/historysampler.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventlog.h"
#include "storage/eventstore.h"
#include "storage/statements.h"
#include "support/scratchapp.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

class TestDatabase : public QObject
{
    Q_OBJECT

    static QSqlDatabase db() { return Database::instance()->connection(AppPaths::databasePath()); }

    static QStringList schemaObjects()
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("select type || ':' || name from sqlite_master where name not like 'sqlite_%' order by 1"));
        QStringList names;
        while (q.next())
            names << q.value(0).toString();
        return names;
    }

    static int scalar(const QString &sql)
    {
        QSqlQuery q(db());
        if (!q.exec(sql) || !q.next())
            return -1;
        return q.value(0).toInt();
    }

    // Rows as the event store writes them, one transaction; dated in the past, so each keeps its own second.
    static void storeRowsAt(const QVector<qint64> &dates)
    {
        QVector<EventStore::Row> rows;
        for (qint64 date : dates)
            rows.append({QStringLiteral("10.0.0.5"), 8, date});
        QSqlDatabase conn = db();
        QVERIFY(EventStore::writeRows(conn, rows, QDateTime::currentSecsSinceEpoch()));
    }

    static void insertEventAt(qint64 date, const QString &host = QStringLiteral("10.0.0.5"), int event = 8)
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("insert into snmp_event(date, host, event) values(:d, :h, :e)"));
        q.bindValue(QStringLiteral(":d"), date);
        q.bindValue(QStringLiteral(":h"), host);
        q.bindValue(QStringLiteral(":e"), event);
        QVERIFY(q.exec());
    }

private slots:
    void freshStartCreatesSchemaWithoutSequenceRows()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        QVERIFY(QFileInfo::exists(AppPaths::databasePath()));
        QCOMPARE(schemaObjects(),
            QStringList({QStringLiteral("index:snmp_event_index"), QStringLiteral("index:snmp_history_card"),
                QStringLiteral("index:snmp_history_time"), QStringLiteral("table:snmp_event"),
                QStringLiteral("table:snmp_history"), QStringLiteral("table:snmp_session")}));
        QCOMPARE(scalar(QStringLiteral("select count(*) from sqlite_sequence")), 0);
        QVERIFY(!Database::instance()->tableExists(db(), QStringLiteral("snmp_event")));
    }

    void secondStartKeepsSchemaAndData()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        QSqlQuery q(db());
        q.prepare(QLatin1String(Sql::insertCommunitySession));
        q.bindValue(QStringLiteral(":1"), QStringLiteral("10.0.0.5"));
        q.bindValue(QStringLiteral(":2"), 161);
        q.bindValue(QStringLiteral(":3"), 0);
        q.bindValue(QStringLiteral(":4"), QStringLiteral("public"));
        QVERIFY(q.exec());
        // A database of an earlier version counted the table in a trigger before every insert; it goes.
        QVERIFY(q.exec(QStringLiteral("create trigger snmp_event_trigger before insert on snmp_event for each row "
                                      "when ((select count(*) from snmp_event) > 60000) begin delete from "
                                      "snmp_event where date = (select min(date) from snmp_event); end;")));
        // ... and had no history.
        QVERIFY(q.exec(QStringLiteral("drop table snmp_history")));
        insertEventAt(1000);
        // The event schema statements run again; the index one fails and must change nothing.
        Database::instance()->createTables();
        QCOMPARE(schemaObjects().size(), 6);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_session")), 1);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event")), 1);
        // The new table takes samples at once; what a card did not say comes back unknown.
        HistorySample sample;
        sample.at = QDateTime::currentSecsSinceEpoch() / 60 * 60;
        sample.loadPercent = 41;
        QSqlDatabase conn = db();
        QVERIFY(EventStore::writeRows(conn, {}, sample.at, nullptr, {{QStringLiteral("10.0.0.5"), sample}}));
        QVector<HistorySample> read;
        QVERIFY(EventLog::history(QStringLiteral("10.0.0.5"), sample.at - 60, sample.at, &read));
        QCOMPARE(read, QVector<HistorySample> {sample});
        QVERIFY(Database::instance()->tableExists(db(), QStringLiteral("snmp_session")));
    }

    void filesArePrivate_data()
    {
        QTest::addColumn<uint>("dirMode");
        QTest::addColumn<uint>("fileMode");
        QTest::newRow("personal install") << 0700u << 0600u;
        QTest::newRow("group-shared install (set-group-id cfg/)") << 02770u << 0660u;
        QTest::newRow("the group only reads (set-group-id, not group-writable)") << 02750u << 0640u;
    }

    void filesArePrivate()
    {
        QFETCH(uint, dirMode);
        QFETCH(uint, fileMode);
        ScratchApp app(ScratchApp::Empty);
        const QByteArray cfg = QFile::encodeName(app.path(QStringLiteral("cfg")));
        QCOMPARE(::chmod(cfg.constData(), dirMode), 0);
        Database::instance()->createTables();
        QSqlDatabase conn = db();
        QVERIFY(EventStore::writeRows(conn, {{QStringLiteral("10.0.0.5"), 8, 0}}, 0));
        struct stat dir
        {
        };
        QCOMPARE(::stat(cfg.constData(), &dir), 0);
        // The write-ahead log and its index are made by SQLite itself: every member must be able to use them.
        for (const char *suffix : {"", "-wal", "-shm"}) {
            struct stat st
            {
            };
            const QByteArray name = QFile::encodeName(AppPaths::databasePath()) + suffix;
            QCOMPARE(::stat(name.constData(), &st), 0);
            QCOMPARE(st.st_mode & 0777, fileMode);
            QCOMPARE(st.st_gid, dir.st_gid);
        }
        QSqlQuery q(conn);
        QVERIFY(q.exec(QStringLiteral("pragma journal_mode")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
    }

    void insertStatementStoresTheCurrentTime()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QSqlQuery q(db());
        q.prepare(QLatin1String(Sql::insertEvent));
        q.bindValue(QStringLiteral(":1"), QStringLiteral("10.0.0.7"));
        q.bindValue(QStringLiteral(":2"), 8);
        QVERIFY(q.exec());
        QVERIFY(q.exec(QStringLiteral("select date, host, event, id from snmp_event")));
        QVERIFY(q.next());
        QVERIFY(q.value(0).toLongLong() >= before && q.value(0).toLongLong() <= before + 2);
        QCOMPARE(q.value(1).toString(), QStringLiteral("10.0.0.7"));
        QCOMPARE(q.value(2).toInt(), 8);
        QCOMPARE(q.value(3).toInt(), 1);
    }

    void capKeeps60001RowsAndDropsTheOldest()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        QVector<qint64> dates;
        for (int i = 1; i <= 60002; ++i)
            dates << 1000000 + i;
        storeRowsAt(dates); // the cap holds within one transaction too
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event")), 60001);
        QCOMPARE(scalar(QStringLiteral("select min(date) from snmp_event")), 1000002);
    }

    void capDropsEveryRowOfTheOldestSecond()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        QVector<qint64> dates {500, 500, 500}; // three rows share the oldest second
        for (int i = 1; i <= 59998; ++i)
            dates << 1000 + i;
        storeRowsAt(dates);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event")), 60001);
        storeRowsAt({200000});
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event where date = 500")), 0);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event")), 59999);
    }

    // Samples written in one batch at "now" (ages in seconds before it, capacity = index in the batch): what
    // the table keeps, oldest first, by capacity.
    void historyIsBounded_data()
    {
        QTest::addColumn<QVector<qint64>>("ages");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QVector<int>>("kept");
        const qint64 day = 86400;
        const int noCap = EventStore::maxHistoryRows;
        QTest::newRow("30 days kept, a minute older pruned")
            << QVector<qint64> {30 * day + 60, 30 * day, 60} << noCap << QVector<int> {1, 2};
        QTest::newRow("beyond the cap the oldest minutes go")
            << QVector<qint64> {300, 60, 240, 180, 120} << 3 << QVector<int> {3, 4, 1};
        QTest::newRow("a clock set a year ahead: its minutes go once it is right")
            << QVector<qint64> {-365 * day, 120, -60} << 2 << QVector<int> {1, 2};
        QTest::newRow("the same minute again replaces the first")
            << QVector<qint64> {120, 60, 60} << noCap << QVector<int> {0, 2};
    }

    void historyIsBounded()
    {
        QFETCH(QVector<qint64>, ages);
        QFETCH(int, cap);
        QFETCH(QVector<int>, kept);
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        const qint64 now = 2000000000;
        QVector<EventStore::Sample> samples;
        for (int i = 0; i < ages.size(); ++i) {
            HistorySample sample;
            sample.at = now - ages.at(i);
            sample.capacity = i;
            samples.append({QStringLiteral("10.0.0.5"), sample});
        }
        QSqlDatabase conn = db();
        QString error;
        QVERIFY2(EventStore::writeRows(conn, {{QStringLiteral("10.0.0.5"), 8, now}}, now, &error, samples, cap),
            qPrintable(error));
        QVector<HistorySample> read;
        QVERIFY(EventLog::history(QStringLiteral("10.0.0.5"), 0, now * 2, &read));
        QVector<int> capacities;
        for (const HistorySample &sample : qAsConst(read))
            capacities.append(sample.capacity);
        QCOMPARE(capacities, kept);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_event")), 1); // the event of the same transaction
        read.clear();
        QVERIFY(EventLog::history(QStringLiteral("10.0.0.6"), 0, now * 2, &read));
        QVERIFY(read.isEmpty()); // another card has none
    }

    // One sample per card that was online in the minute: the poll's capacity (else the details'), the rest from
    // details read in the minute or shortly before it.
    void minuteSamples_data()
    {
        QTest::addColumn<QVector<int>>("statuses"); // reported during the minute
        QTest::addColumn<int>("statusAtEnd");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("detailsAge"); // seconds before the minute; -1 never read
        QTest::addColumn<bool>("sampled");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("load");
        QTest::addColumn<bool>("sampledNext");
        const int none = HistorySample::absent;
        const QByteArray polled = QByteArray::fromHex("020002370f"); // capacity 55, all known
        const QByteArray noCapacity = QByteArray::fromHex("0200020007");
        QTest::newRow("online all minute") << QVector<int> {} << 1 << polled << 10 << true << 55 << 40 << true;
        QTest::newRow("poll without capacity: the details'")
            << QVector<int> {} << 1 << noCapacity << 10 << true << 77 << 40 << true;
        QTest::newRow("details gone stale") << QVector<int> {} << 1 << polled << 100 << true << 55 << none << true;
        QTest::newRow("no details ever") << QVector<int> {} << 1 << polled << -1 << true << 55 << none << true;
        QTest::newRow("lost during the minute") << QVector<int> {0} << 0 << polled << 10 << true << 55 << 40 << false;
        QTest::newRow("back and lost again") << QVector<int> {1, 0} << 0 << polled << 10 << true << 55 << 40 << false;
        QTest::newRow("offline all minute") << QVector<int> {} << 0 << polled << 10 << false << 0 << 0 << false;
        QTest::newRow("never reported") << QVector<int> {} << -1 << QByteArray() << -1 << false << 0 << 0 << false;
    }

    void minuteSamples()
    {
        QFETCH(QVector<int>, statuses);
        QFETCH(int, statusAtEnd);
        QFETCH(QByteArray, data);
        QFETCH(int, detailsAge);
        QFETCH(bool, sampled);
        QFETCH(int, capacity);
        QFETCH(int, load);
        QFETCH(bool, sampledNext);
        const QString host = QStringLiteral("10.0.0.5");
        const qint64 minute = 2000000040;
        HistorySampler sampler;
        // Online when the minute began, as every row but the last two.
        if (statusAtEnd == 1 || !statuses.isEmpty())
            sampler.noteStatus(host, 1);
        for (int status : statuses)
            sampler.noteStatus(host, status);
        CardDetails details;
        details.host = host;
        if (detailsAge >= 0) {
            details.answeredAtMs = (minute - detailsAge) * 1000;
            details.capacity = 77;
            details.loadPercent = 40;
        }
        const QList<CardState> cards {{host, statusAtEnd, false, data}, {QStringLiteral("10.0.0.6"), -1, false, {}}};
        const auto detailsOf = [&](const QString &of) { return of == host ? details : CardDetails(); };
        const HistorySampler::Taken taken = sampler.take(minute, cards, detailsOf);
        QCOMPARE(taken.size(), sampled ? 1 : 0);
        if (sampled) {
            QCOMPARE(taken.first().first, host);
            QCOMPARE(taken.first().second.at, minute);
            QCOMPARE(taken.first().second.capacity, capacity);
            QCOMPARE(taken.first().second.loadPercent, load);
            QCOMPARE(taken.first().second.runtimeMinutes, HistorySample::absent);
        }
        QCOMPARE(sampler.take(minute + 60, cards, detailsOf).size(), sampledNext ? 1 : 0);
        // The timer's arithmetic: the minute that just ended, and the way to the next boundary.
        QCOMPARE(HistorySampler::minuteEndedBy((minute + 60) * 1000 + 50), minute);
        QCOMPARE(HistorySampler::msToNextMinute(minute * 1000 + 59990), 10);
    }

    void clearingResetsTheSequence()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        for (int i = 0; i < 5; ++i)
            insertEventAt(1000 + i);
        QSqlQuery q(db());
        QVERIFY(q.exec(QLatin1String(Sql::deleteAllEvents)));
        QVERIFY(q.exec(QLatin1String(Sql::resetEventSequence)));
        insertEventAt(2000);
        QCOMPARE(scalar(QStringLiteral("select id from snmp_event")), 1);
    }

    void rowCountLeavesTheQueryBeforeTheFirstRow()
    {
        ScratchApp app(ScratchApp::Empty);
        Database::instance()->createTables();
        for (int i = 0; i < 3; ++i)
            insertEventAt(1000 + i);
        QSqlQuery q(db());
        QVERIFY(q.exec(QStringLiteral("select date from snmp_event order by date")));
        QCOMPARE(Database::rowCount(q), 3);
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1000);
        QSqlQuery empty(db());
        QVERIFY(empty.exec(QStringLiteral("select date from snmp_event where date < 0")));
        QCOMPARE(Database::rowCount(empty), 0);
    }

    void unopenableDatabaseCreatesNothing()
    {
        ScratchApp app(ScratchApp::Empty);
        QDir(app.path(QStringLiteral("cfg"))).removeRecursively(); // no directory to create the file in
        Database::instance()->createTables();
        QVERIFY(!QFileInfo::exists(AppPaths::databasePath()));
        QSqlQuery q(db());
        QVERIFY(!q.exec(QLatin1String(Sql::selectAllSessions)));
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
