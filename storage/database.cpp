#include "storage/database.h"

#include "storage/apppaths.h"
#include "storage/privatefile.h"
#include "storage/statements.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {
bool statFile(const QString &path, quint64 *device, quint64 *inode)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *device = st.st_dev;
    *inode = st.st_ino;
    return true;
}
} // namespace

Database *Database::instance()
{
    static Database *db = new Database; // lives until process exit, as the connection does
    return db;
}

bool Database::open(const QString &name, const QString &user, const QString &password)
{
    if (QSqlDatabase::contains(name))
        return true;
    prepareFile(name);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!db.isValid())
        return false;
    db.setDatabaseName(name);
    // Every statement runs on the GUI thread, where the protection runs too. The driver's default wait of 5 s
    // for a lock held by another process would stall the policy 5 s per event; a short wait still rides out
    // another program's single insert, and a statement that cannot get the lock fails and is ignored.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    if (!db.open(user, password))
        return false;
    statFile(name, &m_openDevice, &m_openInode);
    return true;
}

void Database::prepareFile(const QString &path)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    if (!QFileInfo::exists(path)) {
        QFile::remove(path + QStringLiteral("-wal"));
        QFile::remove(path + QStringLiteral("-shm"));
    }
    // SQLite gives its -wal and -shm files the database file's mode (and, as root, its owner), and in the
    // set-group-id directory of the shared install they get its group: creating the file right covers all three.
    PrivateFile::ensure(path);
}

QSqlDatabase Database::connection(const QString &name) const
{
    return QSqlDatabase::database(name, true);
}

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
    createSchema(db);
}

void Database::createSchema(QSqlDatabase &db)
{
    // A connection left on a deleted database file would, on closing, delete the -wal of the file that took
    // its place by name; with the log kept, closing never deletes by name.
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        if (sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.constData())) {
            int keep = 1;
            sqlite3_file_control(connection, "main", SQLITE_FCNTL_PERSIST_WAL, &keep);
        }
    }
    QSqlQuery query(db);
    // The kept log stays small between checkpoints and is cut to nothing when a connection closes last.
    query.exec(QLatin1String(Sql::journalSizeLimit));
    // Persistent in the file; fails harmlessly while another connection is in a transaction.
    query.exec(QLatin1String(Sql::journalWal));
    query.exec(QLatin1String(Sql::synchronousFull));
    if (!instance()->tableExists(db, QStringLiteral("snmp_session")))
        query.exec(QLatin1String(Sql::createSession));
    if (!instance()->tableExists(db, QStringLiteral("snmp_event"))) {
        query.exec(QLatin1String(Sql::createEvent));
        query.exec(QLatin1String(Sql::createEventIndex)); // fails once the index exists; that is expected
    }
    query.exec(QLatin1String(Sql::dropEventTrigger));
    // Added to databases of earlier versions as they are opened; nothing of theirs changes.
    query.exec(QLatin1String(Sql::createHistory));
    query.exec(QLatin1String(Sql::createHistoryCardIndex));
    query.exec(QLatin1String(Sql::createHistoryTimeIndex));
}

void Database::reopenIfDeleted()
{
    const QString path = AppPaths::databasePath();
    if (!QSqlDatabase::contains(path))
        return;
    quint64 device = 0, inode = 0;
    if (statFile(path, &device, &inode) && device == m_openDevice && inode == m_openInode)
        return;
    QSqlDatabase::database(path, false).close();
    QSqlDatabase::removeDatabase(path);
    createTables();
}
