#pragma once

#include <QObject>
#include <QSqlDatabase>

class QSqlQuery;

// The one SQLite connection of the program, named by the full database path. GUI thread only: the connection
// is never used from another thread.
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

    // A database file deleted while the program runs would take every later insert with it into the unlinked
    // file; when the file is gone, a new one (with the schema) takes its place. One stat when nothing is wrong.
    void reopenIfDeleted();

private:
    Database() = default;
};
