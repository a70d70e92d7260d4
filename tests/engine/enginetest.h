#pragma once

#include "support/cards.h"

#include "snmp/snmpinfo.h"
#include "snmp/snmpmanage.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <initializer_list>

// The four values as the decoder sends them, followed by the mask of those the answer carried.
inline QByteArray dataArray(std::initializer_list<int> values, unsigned known = Snmp::AllKnown)
{
    QByteArray data;
    for (int v : values)
        data.append(static_cast<char>(v));
    data.append(static_cast<char>(known));
    return data;
}

// The engine hands over only what changed: how many answers it took in, and when the count last grew (sampled
// every 10 ms on the thread that made the watch, against the given clock).
class AnswerWatch
{
public:
    AnswerWatch(const SNMPManage *manager, const QElapsedTimer *clock) : m_manager(manager), m_clock(clock)
    {
        m_base = m_seen = manager->answerCount();
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            const quint64 now = m_manager->answerCount();
            if (now != m_seen) {
                m_seen = now;
                m_lastAt = m_clock->elapsed();
            }
        });
        m_timer.start(10);
    }
    quint64 count() const { return m_manager->answerCount() - m_base; }
    qint64 lastAt() const { return m_lastAt; }

private:
    const SNMPManage *m_manager;
    const QElapsedTimer *m_clock;
    QTimer m_timer;
    quint64 m_base = 0;
    quint64 m_seen = 0;
    qint64 m_lastAt = -1;
};

// Counts the queued calls delivered to an object: each one is a wake-up of its thread.
class DeliveryCount : public QObject
{
public:
    explicit DeliveryCount(QObject *watched) { watched->installEventFilter(this); }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            ++m_count;
        return false;
    }

private:
    int m_count = 0;
};

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
