#include "storage/eventlog.h"

#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/statements.h"

#include <QSqlQuery>
#include <QVariant>

namespace {
QSqlDatabase database()
{
    const QString path = AppPaths::databasePath();
    Database::instance()->open(path, QString(), QString());
    return Database::instance()->connection(path);
}
} // namespace

bool EventLog::range(qint64 from, qint64 to, QVector<EventStore::Row> *rows)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QLatin1String(Sql::selectEventRange));
    query.bindValue(QStringLiteral(":1"), from);
    query.bindValue(QStringLiteral(":2"), to);
    if (!query.exec())
        return false;
    while (query.next())
        rows->append({query.value(1).toString(), query.value(2).toInt(), query.value(0).toLongLong()});
    return true;
}

bool EventLog::history(const QString &host, qint64 from, qint64 to, QVector<HistorySample> *samples)
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QLatin1String(Sql::selectHistoryRange));
    query.bindValue(QStringLiteral(":1"), host);
    query.bindValue(QStringLiteral(":2"), from);
    query.bindValue(QStringLiteral(":3"), to);
    if (!query.exec())
        return false;
    const auto value = [&query](int column) {
        const QVariant v = query.value(column);
        return v.isNull() ? HistorySample::absent : v.toInt();
    };
    while (query.next())
        samples->append({query.value(0).toLongLong(), value(1), value(2), value(3), value(4)});
    return true;
}

bool EventLog::clear()
{
    QSqlQuery query(database());
    if (!query.exec(QLatin1String(Sql::deleteAllEvents)))
        return false;
    // The numbering only looks nicer from 1 again; the events are gone either way.
    query.exec(QLatin1String(Sql::resetEventSequence));
    return true;
}
