#pragma once

// Every SQL statement the program issues, in one place. Named placeholders (:1, :2, ...) are bound by name
// with QSqlQuery::bindValue, "?" by position.
namespace Sql {

inline constexpr char createSession[] =
    "create table if not exists snmp_session(id integer primary key autoincrement, date integer not null, ip text not "
    "null, port integer not null, version integer not null, community text, authType integer, privType integer, "
    "userName text, password text);";
inline constexpr char createEvent[] = "create table if not exists snmp_event(id integer primary key autoincrement, "
                                      "date integer not null, host text not null, event integer not null);";
inline constexpr char createEventTrigger[] =
    "create trigger if not exists snmp_event_trigger before insert on snmp_event for each row when ((select count(*) "
    "from snmp_event) > 60000) begin delete from snmp_event where date = (select min(date) from snmp_event); end;";
inline constexpr char createEventIndex[] = "create index snmp_event_index on snmp_event (date)";

inline constexpr char tableExists[] = "select count(*) from sqlite_sequence where name = ?;";

inline constexpr char selectAllSessions[] = "select * from snmp_session;";
inline constexpr char selectSessionIps[] = "select ip from snmp_session;";
inline constexpr char insertEvent[] =
    "insert into snmp_event(date, host, event) values(strftime('%s','now'), :1, :2);";
inline constexpr char selectSessionTable[] = "select ip, port, version from snmp_session;";
inline constexpr char selectSessionDetails[] =
    "select port, version, community, authType, privType, userName, password from snmp_session where ip=:1;";
inline constexpr char deleteSession[] = "delete from snmp_session where ip=:1;";
inline constexpr char countSessionsByIp[] = "select count(*) from snmp_session where ip=:1;";
inline constexpr char selectSessionByIp[] = "select * from snmp_session where ip=:1;";
inline constexpr char updateCommunitySession[] =
    "update snmp_session set ip=:1, port=:2, version=:3, community=:4 where ip=:5;";
inline constexpr char insertCommunitySession[] = "insert into snmp_session(date, ip, port, version, community) "
                                                 "values(strftime('%s','now'), :1, :2, :3, :4);";
inline constexpr char updateUsmSession[] = "update snmp_session set ip=:1, port=:2, version=:3, authType=:4, "
                                           "privType=:5,userName=:6, password=:7 where ip=:8;";
inline constexpr char insertUsmSession[] =
    "insert into snmp_session(date, ip, port, version, authType, privType, userName, password) "
    "values(strftime('%s','now'), :1, :2, :3, :4, :5, :6, :7);";
inline constexpr char selectEventRange[] =
    "select date, host, event from snmp_event where date between :1 and :2 order by date desc;";
inline constexpr char deleteAllEvents[] = "delete from snmp_event;";
inline constexpr char resetEventSequence[] = "update sqlite_sequence SET seq = 0 where name='snmp_event';";

} // namespace Sql
