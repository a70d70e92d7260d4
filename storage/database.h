#pragma once

#include <QObject>
#include <QSqlDatabase>

class QSqlQuery;

// The GUI thread's SQLite connection, named by the full database path; the event store's writer has its own
// (see EventStore). The journal is WAL, so that the log dialog's reads and the writer never block each other.
// GUI thread only, except the static helpers, which work on the connection they are given.
class Database : public QObject
{
    Q_OBJECT
public:
    static Database *instance();

    bool open(const QString &name, const QString &user, const QString &password);
    QSqlDatabase connection(const QString &name) const;
    bool tableExists(const QSqlDatabase &connection, const QString &table) const;
    static int rowCount(QSqlQuery &query);

    // Schema creation at start-up; errors of the statements are ignored.
    void createTables();
    // The same on a connection of another thread, plus the journal settings every connection needs.
    static void createSchema(QSqlDatabase &db);
    // Creates the file private (or group-shared) before SQLite does; its -wal and -shm files take its mode.
    // When the file is missing (deleted while running), the -wal and -shm left by the lost one are removed
    // first, so that the new file does not inherit the old file's log. Serialised between the threads.
    static void prepareFile(const QString &path);

    // A database file deleted while the program runs would keep this connection on the unlinked file; when the
    // file is gone or another one took its place (the event store makes a new one), the connection is opened
    // again on what the path names now. One stat when nothing is wrong.
    void reopenIfDeleted();

private:
    Database() = default;
    quint64 m_openDevice = 0;
    quint64 m_openInode = 0;
};
