#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QProcess;

// Whether an address answers a ping, through the system's ping program found on PATH. The probe runs the program
// without ever waiting on the GUI thread: its output and its end arrive as signals. GUI thread only.
class Reachability : public QObject
{
    Q_OBJECT
public:
    static constexpr int WaitMs = 30000;

    static QString program();
    // iputils' ping runs until stopped when given only an address, so a count and a per-reply wait go first.
    static QStringList arguments(const QString &address);
    // A reply line carries "ttl=" (iputils, lower case) or "TTL=" (other pings); any case counts.
    static bool showsReply(const QByteArray &output);

    explicit Reachability(QObject *parent = nullptr);
    ~Reachability() override;

    // Starts ping on the address. finished() follows once: true at the first reply, false when the program ends,
    // cannot be started, or stays silent for WaitMs.
    void start(const QString &address);

signals:
    void finished(bool reply);

private:
    void onOutput();
    void finish(bool reply);
    void release();

    QProcess *m_process = nullptr;
    QTimer m_silence;
    QByteArray m_tail;
    bool m_done = false;
};
