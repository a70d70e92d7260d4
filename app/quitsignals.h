#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT (a desktop logout, kill, Ctrl+C) end the event loop as the tray's "Quit" does, so the
// ordered shutdown runs. The handler only writes to a pipe; the quit happens on the GUI thread.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    QSocketNotifier *m_notifier = nullptr;
};
