// Test-only: the trap listener as the packaged service runs it, started by systemd-socket-activate with the
// trap port's sockets. Prints the sockets it was passed, how many listener sessions it opened, each event it
// receives, and what a program it starts sees; ends when its standard input closes (or after 30 s).
#include "snmp/notificationgate.h"
#include "snmp/snmp.h"
#include "snmp/snmptrapd.h"
#include "support/netns.h"
#include "support/scratchapp.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
void say(const QByteArray &line)
{
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    // Before anything opens a descriptor of its own at 3 or 4.
    for (const char *link : {"/proc/self/fd/3", "/proc/self/fd/4"}) {
        char target[256] = {0};
        const ssize_t n = ::readlink(link, target, sizeof target - 1);
        say(QByteArray("passed ") + (n > 0 ? target : "nothing"));
    }
    isolateSnmpLibraryFiles();
    QCoreApplication app(argc, argv);
    ScratchApp dir(ScratchApp::Empty);
    SNMP engine;
    NotificationGate::instance()->setCards({QStringLiteral("127.0.0.1"), QStringLiteral("::1")});
    QObject::connect(&engine, &SNMP::eventTriggered, &app,
        [](const QString &host, int event) { say("event " + host.toUtf8() + ' ' + QByteArray::number(event)); });
    engine.startService();
    say("sessions " + QByteArray::number(engine.listener()->sessionCount()));

    // A plain child with this process's environment: neither the variables nor the sockets may reach it.
    QProcess child;
    child.start(QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"),
            QStringLiteral("echo \"child LISTEN_FDS=${LISTEN_FDS-unset} LISTEN_PID=${LISTEN_PID-unset}\"; "
                           "for f in /proc/$$/fd/*; do echo \"child $(readlink \"$f\")\"; done")});
    child.waitForFinished(10000);
    say(child.readAllStandardOutput() + "child done");

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    return app.exec();
}
