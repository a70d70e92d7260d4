#include "storage/apppaths.h"
#include "storage/database.h"
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
            QStringList({QStringLiteral("index:snmp_event_index"), QStringLiteral("table:snmp_event"),
                QStringLiteral("table:snmp_session")}));
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
        // No event yet: the event schema statements run again; the index one fails and must change nothing.
        Database::instance()->createTables();
        QCOMPARE(schemaObjects().size(), 3);
        QCOMPARE(scalar(QStringLiteral("select count(*) from snmp_session")), 1);
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
