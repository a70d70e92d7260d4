#include "storage/hosttable.h"

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

// port, version, community, authType, privType, userName, password from column first on.
SNMPInfo details(const QSqlQuery &query, int first)
{
    SNMPInfo info;
    info.port = query.value(first).toInt();
    info.version = query.value(first + 1).toInt();
    if (info.version == Snmp::CommunityBased) {
        info.community = query.value(first + 2).toString();
    } else if (info.version == Snmp::Usm) {
        info.authType = query.value(first + 3).toInt();
        info.privType = query.value(first + 4).toInt();
        info.userName = query.value(first + 5).toString();
        info.password = query.value(first + 6).toString();
    } else if (info.version == Snmp::NetworkUps) {
        info.community = query.value(first + 2).toString();
        info.userName = query.value(first + 5).toString();
        info.password = query.value(first + 6).toString();
    }
    return info;
}
} // namespace

QList<SNMPInfo> HostTable::all()
{
    QList<SNMPInfo> hosts;
    QSqlQuery query(database());
    if (!query.exec(QLatin1String(Sql::selectAllSessions)))
        return hosts;
    // id, date, ip, port, version, community, authType, privType, userName, password
    while (query.next()) {
        SNMPInfo info = details(query, 3);
        info.ip = query.value(2).toString();
        hosts.append(info);
    }
    return hosts;
}

bool HostTable::find(const QString &ip, SNMPInfo *info)
{
    QSqlQuery query(database());
    query.prepare(QLatin1String(Sql::selectSessionDetails));
    query.bindValue(QStringLiteral(":1"), ip);
    if (!query.exec() || !query.next())
        return false;
    *info = details(query, 0);
    info->ip = ip;
    return true;
}

bool HostTable::exists(const QString &ip)
{
    QSqlQuery query(database());
    query.prepare(QLatin1String(Sql::countSessionsByIp));
    query.bindValue(QStringLiteral(":1"), ip);
    return query.exec() && query.next() && query.value(0).toInt() > 0;
}

bool HostTable::insert(const SNMPInfo &info)
{
    return update(info, QString());
}

bool HostTable::update(const SNMPInfo &info, const QString &oldIp)
{
    const bool modify = !oldIp.isNull();
    QSqlQuery query(database());
    if (info.version == Snmp::CommunityBased) {
        query.prepare(QLatin1String(modify ? Sql::updateCommunitySession : Sql::insertCommunitySession));
        query.bindValue(QStringLiteral(":4"), info.community);
        if (modify)
            query.bindValue(QStringLiteral(":5"), oldIp);
    } else if (info.version == Snmp::NetworkUps) {
        query.prepare(QLatin1String(modify ? Sql::updateNetworkUpsSession : Sql::insertNetworkUpsSession));
        query.bindValue(QStringLiteral(":4"), info.community);
        query.bindValue(QStringLiteral(":6"), info.userName);
        query.bindValue(QStringLiteral(":7"), info.password);
        if (modify)
            query.bindValue(QStringLiteral(":8"), oldIp);
    } else {
        query.prepare(QLatin1String(modify ? Sql::updateUsmSession : Sql::insertUsmSession));
        query.bindValue(QStringLiteral(":4"), info.authType);
        query.bindValue(QStringLiteral(":5"), info.privType);
        query.bindValue(QStringLiteral(":6"), info.userName);
        query.bindValue(QStringLiteral(":7"), info.password);
        if (modify)
            query.bindValue(QStringLiteral(":8"), oldIp);
    }
    query.bindValue(QStringLiteral(":1"), info.ip);
    query.bindValue(QStringLiteral(":2"), info.port);
    query.bindValue(QStringLiteral(":3"), info.version);
    return query.exec() && (!modify || query.numRowsAffected() > 0);
}

bool HostTable::remove(const QString &ip)
{
    QSqlQuery query(database());
    query.prepare(QLatin1String(Sql::deleteSession));
    query.bindValue(QStringLiteral(":1"), ip);
    return query.exec() && query.numRowsAffected() > 0;
}
