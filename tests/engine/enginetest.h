#pragma once

#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

#include <initializer_list>

inline SNMPInfo v2cHost(const QString &ip, int port, const QString &community = QStringLiteral("public"))
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = Snmp::CommunityBased;
    info.community = community;
    return info;
}

inline SNMPInfo v3Host(
    const QString &ip, int port, int authType, int privType, const QString &user, const QString &password)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = Snmp::Usm;
    info.authType = authType;
    info.privType = privType;
    info.userName = user;
    info.password = password;
    return info;
}

// The four values as the decoder sends them, followed by the mask of those the answer carried.
inline QByteArray dataArray(std::initializer_list<int> values, unsigned known = Snmp::AllKnown)
{
    QByteArray data;
    for (int v : values)
        data.append(static_cast<char>(v));
    data.append(static_cast<char>(known));
    return data;
}

// Collects every Qt message of the process (the engine logs from both threads) and passes it on.
class MessageCapture
{
public:
    MessageCapture() { s_previous = qInstallMessageHandler(&MessageCapture::handler); }
    ~MessageCapture() { qInstallMessageHandler(s_previous); }

    static QStringList messages()
    {
        QMutexLocker lock(&mutex());
        return store();
    }
    static void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
    }
    static int count(const QString &text)
    {
        QMutexLocker lock(&mutex());
        return store().count(text);
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        {
            QMutexLocker lock(&mutex());
            store().append(text);
        }
        if (s_previous)
            s_previous(type, context, text);
    }
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static QStringList &store()
    {
        static QStringList s;
        return s;
    }
    static inline QtMessageHandler s_previous = nullptr;
};
