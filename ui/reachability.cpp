#include "ui/reachability.h"

#include <QDebug>
#include <QCoreApplication>
#include <QProcess>

QString Reachability::program()
{
    return QStringLiteral("ping");
}

QStringList Reachability::arguments(const QString &address)
{
    return {QStringLiteral("-c"), QStringLiteral("3"), QStringLiteral("-W"), QStringLiteral("2"), address};
}

bool Reachability::showsReply(const QByteArray &output)
{
    return output.toLower().contains("ttl=");
}

Reachability::Reachability(QObject *parent) : QObject(parent)
{
    m_silence.setSingleShot(true);
    m_silence.setInterval(WaitMs);
    connect(&m_silence, &QTimer::timeout, this, [this] { finish(false); });
}

Reachability::~Reachability()
{
    release();
}

void Reachability::start(const QString &address)
{
    release();
    m_done = false;
    m_tail.clear();
    m_process = new QProcess;
    connect(m_process, &QProcess::readyReadStandardOutput, this, &Reachability::onOutput);
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, [this] {
        onOutput();
        finish(false);
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qWarning().noquote() << "Host query: the program" << program()
                             << "could not be started:" << m_process->errorString();
        finish(false);
    });
    m_silence.start();
    m_process->start(program(), arguments(address), QIODevice::ReadWrite);
}

void Reachability::onOutput()
{
    if (m_done || !m_process)
        return;
    // Only the tail of earlier output is kept, so a reply split across two reads is still seen.
    const QByteArray window = m_tail + m_process->readAllStandardOutput();
    if (showsReply(window)) {
        finish(true);
        return;
    }
    m_tail = window.right(3);
    m_silence.start();
}

void Reachability::finish(bool reply)
{
    if (m_done)
        return;
    m_done = true;
    release();
    emit finished(reply);
}

// A ping still running is killed and its process object deleted once the program has gone; destroying a running
// QProcess would wait for it on this thread.
void Reachability::release()
{
    m_silence.stop();
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process, &QObject::deleteLater);
    // Should the program end before the killed ping is reaped, the application takes the object with it.
    process->setParent(QCoreApplication::instance());
    process->kill();
}
