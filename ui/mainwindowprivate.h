#pragma once

#include "policy/shutdownpolicy.h"
#include "storage/eventcatalogue.h"
#include "storage/logthrottle.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <array>

#include <memory>

class Language;
class MainWindow;
class QTimer;
class SNMP;

// The main window's state. Plain record, GUI thread only, like the window.
class MainWindowPrivate
{
public:
    MainWindowPrivate();
    ~MainWindowPrivate();
    MainWindowPrivate(const MainWindowPrivate &) = delete;
    MainWindowPrivate &operator=(const MainWindowPrivate &) = delete;

    // At most this many warning boxes are open at once; each runs a nested loop in which the next event may
    // open another, so a burst of notifications must not nest them without end.
    static constexpr int maxOpenWarnings = 3;

    MainWindow *window = nullptr;
    SNMP *engine = nullptr; // not owned
    QStringList hosts;      // entry i names row i of the host list
    // Every report looks its row up: by address, the first row of that address as in hosts; rebuilt after a
    // change of the list.
    QHash<QString, int> rowOfHost;
    bool rowOfHostValid = false;
    std::unique_ptr<EventCatalogue> catalogue;
    Language *language; // owned: deleted with this record
    std::unique_ptr<QTimer> clockTimer;
    // The protection: countdown, shutdown application and the last data snapshot live in the policy.
    std::unique_ptr<ShutdownPolicy> policy;
    bool popupWarning = false;
    QSet<int> popupEventCodes;
    int openWarnings = 0;
    bool scrollPending = false;
    bool sessionEnding = false; // the desktop session is being ended (log-out)
    // Rows for the event table, added in batches: at most one batch per rowBatchMs, a row after a quiet spell
    // at once. Time, object, event; only the newest 5000 can ever be shown.
    static constexpr int rowBatchMs = 20;
    QVector<std::array<QString, 3>> pendingRows;
    std::unique_ptr<QTimer> rowTimer;
    QElapsedTimer sinceRows;
    static constexpr int fileCheckMs = 200;
    QElapsedTimer sinceFileCheck;
    // Per sender: one "unknown code" line a minute.
    LogThrottle unknownCodeLog;
};
