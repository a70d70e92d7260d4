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
// The 60001-row cap was a trigger that counted the whole table before every insert; the event store applies
// the same rule once per transaction instead, so databases of earlier versions lose the trigger.
inline constexpr char dropEventTrigger[] = "drop trigger if exists snmp_event_trigger;";
inline constexpr char createEventIndex[] = "create index snmp_event_index on snmp_event (date)";

inline constexpr char tableExists[] = "select count(*) from sqlite_sequence where name = ?;";

inline constexpr char selectAllSessions[] = "select * from snmp_session;";
inline constexpr char selectSessionIps[] = "select ip from snmp_session;";
inline constexpr char insertEvent[] =
    "insert into snmp_event(date, host, event) values(strftime('%s','now'), :1, :2);";
// An event kept in memory through a storage fault keeps the second it arrived in.
inline constexpr char insertEventAt[] = "insert into snmp_event(date, host, event) values(:3, :1, :2);";
inline constexpr char countEvents[] = "select count(*) from snmp_event;";
inline constexpr char deleteOldestSecond[] = "delete from snmp_event where date = (select min(date) from snmp_event);";
inline constexpr char journalWal[] = "pragma journal_mode=wal;";
inline constexpr char synchronousFull[] = "pragma synchronous=full;";
inline constexpr char journalSizeLimit[] = "pragma journal_size_limit=1048576;";
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
// A network UPS server: the UPS name in the community column, its login in userName and password.
inline constexpr char updateNetworkUpsSession[] = "update snmp_session set ip=:1, port=:2, version=:3, community=:4, "
                                                  "userName=:6, password=:7 where ip=:8;";
inline constexpr char insertNetworkUpsSession[] =
    "insert into snmp_session(date, ip, port, version, community, userName, password) "
    "values(strftime('%s','now'), :1, :2, :3, :4, :6, :7);";
inline constexpr char selectEventRange[] =
    "select date, host, event from snmp_event where date between :1 and :2 order by date desc;";
inline constexpr char deleteAllEvents[] = "delete from snmp_event;";
inline constexpr char resetEventSequence[] = "update sqlite_sequence SET seq = 0 where name='snmp_event';";

// A card's minute history: one row per card and minute (seconds since 1970, the start of the minute); NULL
// where the card did not say. The rowid is plain, not autoincrement: the table is pruned all the time.
inline constexpr char createHistory[]
    = "create table if not exists snmp_history(host text not null, at integer not null, capacity integer, "
      "load integer, runtime integer, input_voltage integer);";
// A second sample of the same minute (a clock set back) replaces the first.
inline constexpr char createHistoryCardIndex[]
    = "create unique index if not exists snmp_history_card on snmp_history(host, at);";
// For the pruning by age and by the cap.
inline constexpr char createHistoryTimeIndex[] = "create index if not exists snmp_history_time on snmp_history(at);";
inline constexpr char insertHistory[]
    = "insert or replace into snmp_history(host, at, capacity, load, runtime, input_voltage) "
      "values(:1, :2, :3, :4, :5, :6);";
inline constexpr char deleteHistoryOutside[] = "delete from snmp_history where at < :1 or at > :2;";
inline constexpr char countHistory[] = "select count(*) from snmp_history;";
inline constexpr char deleteOldestHistory[]
    = "delete from snmp_history where rowid in (select rowid from snmp_history order by at limit :1);";
inline constexpr char selectHistoryRange[]
    = "select at, capacity, load, runtime, input_voltage from snmp_history where host = :1 and at between :2 and :3 "
      "order by at;";

} // namespace Sql
