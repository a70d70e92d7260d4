#include "app/crashhandler.h"
#include "app/filelimit.h"
#include "app/localtimezone.h"
#include "app/messagehandler.h"
#include "app/quitsignals.h"
#include "app/secureexec.h"
#include "app/singleinstance.h"
#include "backend/localbackend.h"
#include "nut/nutswitch.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "service/busbackend.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/hosttable.h"
#include "ui/mainwindow.h"
#include "ui/userprompt.h"

#include <QApplication>
#include <QDBusConnection>

#include <unistd.h>

#ifdef VIGILEX_DEMO
#include "policy/systemshutdown.h"

#include <QDateTime>
#include <QFile>

namespace {
// The demo build watches a simulated card and must never power the machine off: a due shutdown is only
// logged and appended to a file beside the program, which the demo script and its test look for.
void recordDemoShutdown()
{
    qInfo("Demo: system shutdown requested (recorded, not performed)");
    QFile marker(AppPaths::root() + QStringLiteral("/demo-shutdown-requests.txt"));
    if (marker.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        marker.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + " shutdown requested\n");
}
} // namespace
#endif

int main(int argc, char *argv[])
{
    installCrashHandler(); // first, so that a crash anywhere later leaves a dump
    raiseOpenFileLimit();
    pinLocalTimeZone();
    dropCodeLoadingEnvironment(argc, argv); // before Qt reads any of it

    QApplication app(argc, argv);
    followLocalTimeZone(&app);
    // Only the tray's "Quit" ends the program: closing the last visible box while the window is hidden must not.
    QApplication::setQuitOnLastWindowClosed(false);
    AppPaths::createDirectories();
    qInstallMessageHandler(messageHandler);

#ifndef VIGILEX_DEMO
    // Where the protection service is installed or runs, the window is its front end: no engine, no trap port,
    // no policy here, and as many windows as there are users who want one. An installed service that is stopped
    // is not stood in for: the window says so and changes nothing until the service is back.
    const QDBusConnection systemBus = QDBusConnection::systemBus();
    if (BusBackend::serviceExpected(systemBus)) {
        qInfo("Front end of the protection service, on the system bus as %s", qPrintable(systemBus.baseService()));
        QuitSignals quitSignals;
        BusBackend backend(systemBus);
        MainWindow window(&backend);
        window.show();
        return app.exec();
    }
#endif

    // Before the engine: a second instance must neither poll nor take port 162.
    SingleInstance instance(AppPaths::cfgDir() + QStringLiteral("/vigilex.lock"), AppPaths::root());
    if (!instance.isPrimary()) {
        if (instance.holderUid() == ::getuid() && instance.activateRunning()) {
            qInfo("Second start: the running instance of this user brings its window forward");
            return 0;
        }
        qInfo("Second start: the protection already runs in the session of user %s", qPrintable(instance.holderName()));
        UserPrompt::information(nullptr, QCoreApplication::translate("SingleInstance", "Information"),
            QCoreApplication::translate("SingleInstance",
                "SNMP Vigilex already protects this machine in the "
                "session of user %1.")
                .arg(instance.holderName()),
            QCoreApplication::translate("SingleInstance", "Sure"));
        return 0;
    }
    QuitSignals quitSignals;
#ifdef VIGILEX_DEMO
    setShutdownBackend(recordDemoShutdown); // before anything that could ask for a shutdown exists
#endif

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    LocalBackend backend;
    backend.setEngine(&engine);
    // The window alone holds the protection, so it serves other machines' upsc and upsmon itself.
    NutSwitch nut(&backend);
    nut.protect(backend.protection()->policy());

    MainWindow window(&backend);
#ifdef VIGILEX_DEMO
    window.displaySNMPEvent(QCoreApplication::translate("MainWindow", "System"),
        QCoreApplication::translate("Demo", "Demo build: the system will not be shut down"));
#endif
    window.show();
    // A missing right to power off shows now, while the user sets up, not during an outage.
    backend.protection()->policy()->checkPowerOffRight();
    QObject::connect(&instance, &SingleInstance::activationRequested, &window, [&window] {
        qInfo("Second start of this user: window brought forward");
        window.showNormal();
        window.raise();
        window.activateWindow();
    });

    return app.exec();
}
