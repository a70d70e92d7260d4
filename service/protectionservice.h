#pragma once

#include "service/authorizer.h"
#include "service/dbustypes.h"
#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include <functional>

class LocalBackend;

// The protection on the system bus: the object /org/vigilex/Protection1 under the name
// org.vigilex.Protection1, whose adaptor is generated from the interface's XML. A layer over the service's
// LocalBackend: reads are answered at once; a change is checked by the backend, and what its arguments alone
// refuse goes back before polkit is asked; once polkit allows the caller, the backend makes the change.
// GUI thread (the service's main thread) only.
class ProtectionService : public QObject, protected QDBusContext
{
    Q_OBJECT
public:
    static QString serviceName();
    static QString objectPath();
    // The errors of a call: arguments the protection refuses, a change polkit did not allow the caller, and
    // a change that was allowed but could not be made.
    static QString invalidArgumentError();
    static QString notAuthorizedError();
    static QString failedError();

    ProtectionService(LocalBackend *backend, const QDBusConnection &bus, QObject *parent = nullptr);
    ~ProtectionService() override;

    // Exports the object and takes the name; false with the bus's reason.
    bool registerOnBus(QString *error);

public slots:
    QList<CardState> Cards();
    QList<StoredCard> Hosts();
    qlonglong State(QString &refusalId, QStringList &refusalArgs);
    qlonglong Countdown();
    bool Setting(const QString &key, QDBusVariant &value);
    void SetSetting(const QString &key, const QDBusVariant &value);
    QVariantMap Settings(const QStringList &keys);
    void SetSettings(const QVariantMap &values);
    int Host(const QString &ip, int &version, bool &communitySet, int &authType, int &privType, bool &userNameSet,
        bool &passwordSet);
    void AddHost(const QString &ip, int port, int version, const QString &community, int authType, int privType,
        const QString &userName, const QString &password);
    void ModifyHost(const QString &oldIp, const QString &ip, int port, int version, const QString &community,
        int authType, int privType, const QString &userName, const QString &password);
    void RemoveHost(const QString &ip);
    QVector<StoredEvent> Events(qlonglong from, qlonglong to);
    void ClearEvents();
    QList<CardDetails> Details();
    QVector<HistorySample> History(const QString &host, qlonglong from, qlonglong to);
    int TestShutdownApplication(
        const QString &path, int minutes, int &exitStatus, qlonglong &elapsedMs, QString &refusal);

signals:
    void EventArrived(const QString &host, int event, qlonglong at);
    void StatusChanged(const QString &host, int status);
    void AuthenticationChanged(const QString &host, bool failed);
    void DataChanged(const QString &host, const QByteArray &data);
    // The struct of the same name is ::SystemMessage inside this class.
    void SystemMessage(const QString &id, const QStringList &args, qlonglong countdownMs);
    void ShutdownRefusalChanged(const QString &id, const QStringList &args);
    void SettingChanged(const QString &key, bool present, const QDBusVariant &value);
    void StoringChanged(bool failing);
    void DetailsChanged(const CardDetails &details);
    void HostsChanged(const QStringList &hosts);

private:
    // Runs change once polkit allows the caller of the current call the action, and answers the call either way.
    void authorized(const char *action, std::function<BackendReply()> change);
    // As above, but act answers the call itself, when it likes (a delayed reply).
    void authorizedCall(const char *action, std::function<void(const QDBusMessage &request, QDBusConnection bus)> act);

    LocalBackend *m_backend; // not owned
    QDBusConnection m_bus;
    Authorizer m_authorizer;
    QHash<QString, QByteArray> m_sentData;
};
