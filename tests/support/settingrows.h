#pragma once

#include <QVector>

// The range rows of the settings-key table, run against every writer that takes a value from a person: the
// settings dialog and the service's SetSetting.
struct SettingRow
{
    const char *name;
    const char *key;
    const char *value;
    bool accepted;
};

inline const QVector<SettingRow> &settingRows()
{
    static const QVector<SettingRow> rows {
        {"capacity 999", "shutdown/ac_failed_capacity", "999", false},
        {"capacity 101", "shutdown/ac_failed_capacity", "101", false},
        {"capacity 100", "shutdown/ac_failed_capacity", "100", true},
        {"capacity 1", "shutdown/ac_failed_capacity", "1", true},
        {"capacity negative", "shutdown/ac_failed_capacity", "-5", false},
        {"capacity emptied", "shutdown/ac_failed_capacity", "", false},
        {"ac time 9999", "shutdown/ac_failed_time", "9999", true},
        {"ac time 10000", "shutdown/ac_failed_time", "10000", false},
        {"ac time 0 is off", "shutdown/ac_failed_time", "0", true},
        {"ac time negative", "shutdown/ac_failed_time", "-1", false},
        {"battery time emptied", "shutdown/batt_low_time", "", false},
        {"battery time not a number", "shutdown/batt_low_time", "ten", false},
        {"battery time 1", "shutdown/batt_low_time", "1", true},
        {"exec time 90", "system/shutdown_exec_time", "90", true},
        {"exec time 91", "system/shutdown_exec_time", "91", false},
        {"exec time 0", "system/shutdown_exec_time", "0", false},
        {"exec time emptied", "system/shutdown_exec_time", "", false},
        {"language 1", "system/language", "1", true},
        {"language 2", "system/language", "2", false},
        {"pop-up not a boolean", "system/pop_warning", "maybe", false},
        {"follower wait 301", "nut/fsd_wait", "301", false},
        {"follower wait negative", "nut/fsd_wait", "-1", false},
        {"users not a list", "nut/users", "watcher:w4tch", false},
        {"users without a role", "nut/users", R"([{"name":"watcher","password":"w4tch"}])", false},
        {"users with a blank in a name", "nut/users", R"([{"name":"a b","password":"p","role":"primary"}])", false},
        {"users listed twice", "nut/users",
            R"([{"name":"a","password":"p","role":"primary"},{"name":"a","password":"q","role":"secondary"}])", false},
    };
    return rows;
}
