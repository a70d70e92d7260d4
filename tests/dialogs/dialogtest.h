#pragma once

#include "snmp/snmpinfo.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "support/scratchapp.h"
#include "ui/userprompt.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>

// Answers every message box and file dialog instead of a person and keeps what each one said.
class PromptRecorder
{
public:
    PromptRecorder()
    {
        UserPrompt::setHook([this](const UserPrompt::Request &request) {
            requests << request;
            return answers.isEmpty() ? UserPrompt::Answer {} : answers.takeFirst();
        });
    }
    ~PromptRecorder() { UserPrompt::setHook(nullptr); }

    QStringList texts() const
    {
        QStringList out;
        for (const UserPrompt::Request &r : requests)
            out << r.text;
        return out;
    }
    void clear() { requests.clear(); }

    QList<UserPrompt::Request> requests;
    QList<UserPrompt::Answer> answers; // taken in order; button 0 and no path once empty
};

// Acts on the next modal window of type T that appears (a dialog run with exec()); polls for at most 5 s so a
// test never hangs on a window that did not come.
template<typename T> void whenModal(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, act] {
        T *modal = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!modal && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            act(modal);
    });
    timer->start();
}

// The program's store inside a scratch application directory, with direct access for setting up and
// reading back rows without going through the code under test.
class HostStore
{
public:
    HostStore() : app(ScratchApp::Installed) { Database::instance()->createTables(); }

    QSqlDatabase db() const { return Database::instance()->connection(AppPaths::databasePath()); }

    bool exec(const QString &sql) const { return QSqlQuery(db()).exec(sql); }

    void reset()
    {
        setReadOnly(false);
        exec(QStringLiteral("drop table if exists snmp_session"));
        Database::instance()->createTables();
        QFile::remove(AppPaths::settingsFilePath());
    }

    void setReadOnly(bool on) const
    {
        exec(on ? QStringLiteral("pragma query_only = 1") : QStringLiteral("pragma query_only = 0"));
    }

    void insert(const SNMPInfo &info) const
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("insert into snmp_session(date, ip, port, version, community, authType, privType, "
                                 "userName, password) values(0, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(info.ip);
        q.addBindValue(info.port);
        q.addBindValue(info.version);
        q.addBindValue(info.version == 1 ? QVariant() : QVariant(info.community));
        q.addBindValue(info.version == 0 ? QVariant() : QVariant(info.authType));
        q.addBindValue(info.version == 0 ? QVariant() : QVariant(info.privType));
        q.addBindValue(info.version == 0 ? QVariant() : QVariant(info.userName));
        q.addBindValue(info.version == 0 ? QVariant() : QVariant(info.password));
        q.exec();
    }

    // Rows as maps of column name to value, in id order.
    QList<QVariantMap> rows() const
    {
        QList<QVariantMap> out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("select * from snmp_session order by id"));
        while (q.next()) {
            QVariantMap row;
            for (int i = 0; i < q.record().count(); ++i)
                row.insert(q.record().fieldName(i), q.value(i));
            out << row;
        }
        return out;
    }

    ScratchApp app;
};

// The window offers the close button alone: none of minimise, maximise or context help.
inline bool closeButtonOnly(const QWidget &w)
{
    const Qt::WindowFlags flags = w.windowFlags();
    return (flags & Qt::WindowCloseButtonHint)
        && !(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint));
}

inline SNMPInfo communityHost(const QString &ip, int port, const QString &community = QStringLiteral("public"))
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = 0;
    info.community = community;
    return info;
}

inline SNMPInfo usmHost(
    const QString &ip, int port, const QString &user, const QString &password, int auth = 1, int priv = 1)
{
    SNMPInfo info;
    info.ip = ip;
    info.port = port;
    info.version = 1;
    info.userName = user;
    info.password = password;
    info.authType = auth;
    info.privType = priv;
    return info;
}

inline bool sameInfo(const SNMPInfo &a, const SNMPInfo &b)
{
    return a.ip == b.ip && a.port == b.port && a.version == b.version && a.community == b.community
        && a.authType == b.authType && a.privType == b.privType && a.userName == b.userName && a.password == b.password;
}
