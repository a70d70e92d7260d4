#include "storage/database.h"

#include "storage/apppaths.h"
#include "storage/privatefile.h"
#include "storage/statements.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

Database *Database::instance()
{
    static Database *db = new Database; // lives until process exit, as the connection does
    return db;
}

bool Database::open(const QString &name, const QString &user, const QString &password)
{
    if (QSqlDatabase::contains(name))
        return true;
    // SQLite gives its journal the database file's mode, so creating the file private covers both.
    PrivateFile::ensure(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!db.isValid())
        return false;
    db.setDatabaseName(name);
    // Every statement runs on the GUI thread, where the protection runs too. The driver's default wait of 5 s
    // for a lock held by another process would stall the policy 5 s per event; a short wait still rides out
    // another program's single insert, and a statement that cannot get the lock fails and is ignored.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    return db.open(user, password);
}

QSqlDatabase Database::connection(const QString &name) const { return QSqlDatabase::database(name, true); }

bool Database::tableExists(const QSqlDatabase &connection, const QString &table) const
{
    QSqlQuery query(connection);
    query.prepare(QLatin1String(Sql::tableExists));
    query.addBindValue(table);
    if (!query.exec() || !query.next())
        return false;
    return query.value(0).toBool();
}

int Database::rowCount(QSqlQuery &query)
{
    if (!query.last())
        return 0;
    const int count = query.at() + 1;
    query.seek(QSql::BeforeFirstRow);
    return count;
}

void Database::createTables()
{
    const QString path = AppPaths::databasePath();
    if (!open(path, QString(), QString()))
        return;
    QSqlDatabase db = connection(path);
    if (!tableExists(db, QStringLiteral("snmp_session")))
        QSqlQuery(db).exec(QLatin1String(Sql::createSession));
    if (!tableExists(db, QStringLiteral("snmp_event"))) {
        QSqlQuery query(db);
        query.exec(QLatin1String(Sql::createEvent));
        query.exec(QLatin1String(Sql::createEventTrigger));
        query.exec(QLatin1String(Sql::createEventIndex)); // fails once the index exists; that is expected
    }
}

void Database::reopenIfDeleted()
{
    const QString path = AppPaths::databasePath();
    if (!QSqlDatabase::contains(path) || QFileInfo::exists(path))
        return;
    QSqlDatabase::database(path, false).close();
    QSqlDatabase::removeDatabase(path);
    createTables();
}
