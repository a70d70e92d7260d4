#pragma once

#include <QObject>
#include <QString>

#include <sys/types.h>

class QLocalServer;

// One protection per installation: two instances would both poll, both compete for port 162 and both run
// the shutdown application. The first start takes an exclusive flock on a file in the installation's cfg/,
// which the kernel drops with the process however it ends, and writes its user id into it. A later start
// finds the lock taken: the same user's instance is asked, through a local socket in that user's runtime
// directory, to bring its window forward. GUI thread only.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    SingleInstance(const QString &lockPath, const QString &installation, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True also when the lock file cannot be used at all: a protection that does not start is worse than
    // a second one.
    bool isPrimary() const { return m_primary; }
    // The user whose instance holds the lock, when this one is not the primary; -1 when it cannot be told.
    uid_t holderUid() const { return m_holder; }
    QString holderName() const;
    // Asks the running instance of the same user to bring its window forward; false when it did not answer.
    bool activateRunning() const;

signals:
    void activationRequested();

private:
    QString m_socketName;
    QLocalServer *m_server = nullptr;
    int m_fd = -1;
    bool m_primary = true;
    uid_t m_holder = uid_t(-1);
};
