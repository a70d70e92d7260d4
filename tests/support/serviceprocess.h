#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <csignal>

#include <sys/types.h>

// vigilex-service as a child of the test, on the bus at busAddress, with everything it says kept in output().
class ServiceProcess : public QProcess
{
public:
    bool launch(const QString &program, const QString &busAddress)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
        setProcessEnvironment(env);
        setProcessChannelMode(QProcess::MergedChannels);
        m_output.clear();
        start(program, QStringList());
        return waitForStarted(5000);
    }

    // Ends it as systemctl stop would; true when it ended in order.
    bool end()
    {
        if (state() == QProcess::NotRunning)
            return true;
        ::kill(pid_t(processId()), SIGTERM);
        const bool ended = waitForFinished(10000);
        output();
        return ended && exitStatus() == QProcess::NormalExit && exitCode() == 0;
    }

    QString output()
    {
        m_output += QString::fromUtf8(readAll());
        return m_output;
    }

private:
    QString m_output;
};
