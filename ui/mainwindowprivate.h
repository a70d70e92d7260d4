#pragma once

#include "policy/protection.h"
#include "storage/eventtexts.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <array>

#include <memory>

class Language;
class MainWindow;
class ProtectionClient;
class QTimer;

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
    QStringList hosts; // entry i names row i of the host list
    // Every report looks its row up: by address, the first row of that address as in hosts; rebuilt after a
    // change of the list.
    QHash<QString, int> rowOfHost;
    bool rowOfHostValid = false;
    // Alone, the window owns the protection; as the service's front end it has none and follows the client.
    std::unique_ptr<Protection> protection;
    ProtectionClient *client = nullptr; // not owned
    bool serviceLost = false;
    std::unique_ptr<EventTexts> frontEndTexts; // the front end's own catalogue, without a protection
    Language *language; // owned: deleted with this record
    std::unique_ptr<QTimer> clockTimer;
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
    // The service's countdown: its end on the monotonic clock, invalid while none runs.
    QElapsedTimer countdownClock;
    qint64 countdownMs = -1;
};
