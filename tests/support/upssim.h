#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// One simulated UPS card (or many, when it listens on many endpoints): a real snmpd driven by
// tools/upssim/upssim, in a state directory of its own. The process belongs to the test and dies with it.
class UpsSim
{
public:
    // listen: snmpd endpoints, e.g. "udp:127.0.0.1:16100" or "udp:127.0.1.1:161,udp:127.0.1.2:161".
    // extra: further options of "upssim start", e.g. {"--omit", "1,2"}.
    explicit UpsSim(const QString &listen, const QStringList &extra = QStringList());
    ~UpsSim();
    UpsSim(const UpsSim &) = delete;
    UpsSim &operator=(const UpsSim &) = delete;

    bool start(int timeoutMs = 5000);
    void stop();
    bool isRunning() const;

    // "normal", "mains-failure", "battery-low", "silent", or "capacity" with a value.
    bool setState(const QString &state, int value = -1);

    QString log() const;
    // Requests the agent logged so far (snmpd logs one line per received request).
    int requestCount() const;
    QString directory() const { return m_dir.path(); }

    static QString script();
    // Runs "upssim trap KIND NUMBER --to TO" and returns its exit code (-1 when it could not run).
    static int sendNotification(const QString &kind, int number, const QString &to, int timeoutMs = 10000);

private:
    QTemporaryDir m_dir;
    QString m_listen;
    QStringList m_extra;
    QProcess m_process;
};
