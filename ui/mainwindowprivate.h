#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QStringList>
#include <QVector>

#include <array>
#include <memory>

class Language;
class MainWindow;
class ProtectionBackend;
class QTimer;

// The main window's state. Plain record, GUI thread only, like the window.
class MainWindowPrivate
{
public:
    explicit MainWindowPrivate(ProtectionBackend *backend);
    ~MainWindowPrivate();
    MainWindowPrivate(const MainWindowPrivate &) = delete;
    MainWindowPrivate &operator=(const MainWindowPrivate &) = delete;

    // At most this many warning boxes are open at once; each runs a nested loop in which the next event may
    // open another, so a burst of notifications must not nest them without end.
    static constexpr int maxOpenWarnings = 3;

    MainWindow *window = nullptr;
    ProtectionBackend *backend; // not owned
    // The rows shown, entry i naming row i of the host list; they follow the backend's list.
    QStringList hosts;
    // Every report looks its row up: by address, the first row of that address as in hosts; rebuilt after a
    // change of the list.
    QHash<QString, int> rowOfHost;
    bool rowOfHostValid = false;
    bool reachable = true;
    bool serviceLost = false; // it was reachable and went away

    Language *language; // owned: deleted with this record
    std::unique_ptr<QTimer> clockTimer;
    // Off until the backend has said.
    bool popupWarning = false;
    int openWarnings = 0;
    bool sessionEnding = false; // the desktop session is being ended (log-out)
    // Rows for the event table, added in batches: at most one batch per rowBatchMs, a row after a quiet spell
    // at once. Time, object, event; only the newest 5000 can ever be shown.
    static constexpr int rowBatchMs = 20;
    QVector<std::array<QString, 3>> pendingRows;
    std::unique_ptr<QTimer> rowTimer;
    // The status line follows card reports at most every statusLineMs.
    static constexpr int statusLineMs = 200;
    std::unique_ptr<QTimer> statusTimer;
    QElapsedTimer sinceRows;
    // The backend's countdown: its end on the monotonic clock, invalid while none runs; counted down here
    // between the backend's reports.
    QElapsedTimer countdownClock;
    qint64 countdownMs = -1;

    // The card selected in the list, whose details and last 24 hours are shown; the chart is read again each
    // historyMs and on a change of selection. An answer to an earlier read (another card, an older minute) has
    // an older serial and is dropped.
    QString selectedHost;
    static constexpr int historyMs = 60000;
    std::unique_ptr<QTimer> historyTimer;
    // An event of the selected card marks the chart soon after, once the store has it; a burst reads once.
    static constexpr int chartSoonMs = 1500;
    std::unique_ptr<QTimer> chartSoon;
    quint64 historySerial = 0;
    QString chartHost; // whose lines the chart shows or is reading
    // The tray's state as last shown; its icon is drawn once per state.
    int trayState = -1;
    QHash<int, QIcon> trayIcons;
    bool quitAsking = false; // the question before quitting is open
};
