#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>

class NutServer;
class ProtectionBackend;
class ShutdownPolicy;

// Runs the network UPS protocol server as the settings say (storage/settingkeys.h: nut/enabled, nut/address,
// nut/port, nut/users): read through the backend at the start, followed after. Only the process that holds the
// protection serves it: the window alone, or the service, never a front end. GUI thread only.
class NutSwitch : public QObject
{
    Q_OBJECT
public:
    explicit NutSwitch(ProtectionBackend *backend, QObject *parent = nullptr);
    ~NutSwitch() override;

    NutServer *server() const { return m_server; }
    // The policy's forced shutdown goes to the followers of this server first, and a primary's FSD starts the
    // policy's shutdown at once. The policy must outlive this object's use of it (both live as long as the program).
    void protect(ShutdownPolicy *policy);

private:
    void take(const QString &key, const QVariant &value);
    void scheduleApply();
    void apply();

    ProtectionBackend *m_backend;
    NutServer *m_server;
    bool m_enabled = false;
    QString m_address;
    int m_port = 0;
    QVariant m_users;
    QSet<QString> m_changed; // since the start's read was asked for
    bool m_applyPending = false;
    QString m_refused; // the configuration last refused, so that it is said once
};
