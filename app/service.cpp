// The protection without a window: engine, event pipeline, policy and system shutdown, on the system bus for
// the front ends. systemd starts it; SIGTERM ends it in the same order as the window's "Quit".
#include "app/crashhandler.h"
#include "app/filelimit.h"
#include "app/localtimezone.h"
#include "app/messagehandler.h"
#include "app/quitsignals.h"
#include "app/secureexec.h"
#include "backend/localbackend.h"
#include "nut/nutswitch.h"
#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "service/protectionservice.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/eventtexts.h"
#include "storage/hosttable.h"
#include "storage/logthrottle.h"

#include <QCoreApplication>
#include <QDBusConnection>

int main(int argc, char *argv[])
{
    // log/ is the service's own; also its crash dumps go there.
    AppPaths::keepLogInInstallation();
    installCrashHandler();
    raiseOpenFileLimit();
    pinLocalTimeZone();
    dropCodeLoadingEnvironment(argc, argv);

    QCoreApplication app(argc, argv);
    followLocalTimeZone(&app);
    AppPaths::createDirectories();
    copyMessagesToStandardError(true);
    qInstallMessageHandler(messageHandler);
    QuitSignals quitSignals;

    // The bus first: a second service must not take port 162 from the one that owns the name.
    QDBusConnection bus = QDBusConnection::systemBus();
    SNMP engine;
    engine.addHosts(HostTable::all());
    LocalBackend backend;
    backend.setEngine(&engine);
    Protection &protection = *backend.protection();
    ProtectionService service(&backend, bus);
    QString why;
    if (!service.registerOnBus(&why)) {
        if (bus.isConnected()) {
            qCritical("Protection service not started: %s", qPrintable(why));
            return 1;
        }
        // Without a bus no front end can follow, but the cards are still watched.
        qWarning("Protection service without the system bus: %s", qPrintable(why));
    }
    engine.startService();
    qInfo("Protection service started, watching %d card(s)", int(protection.hosts().size()));
    // Other machines' upsc and upsmon, when the settings switch it on.
    NutSwitch nut(&backend);
    nut.protect(backend.protection()->policy());

    // Every event in the journal, but a card's flood as one line a second with its count: the events
    // themselves are all stored.
    LogThrottle eventLog(1000);
    QObject::connect(
        &protection, &Protection::eventArrived, &protection, [&protection, &eventLog](const QString &host, int event) {
            const QString text = protection.texts()->text(host, event, QStringLiteral("Event_English"));
            if (text.isEmpty())
                return;
            const qint64 count = eventLog.hit(host, LogThrottle::steadyMs());
            if (count == 1)
                qInfo("Event from %s: %d %s", qPrintable(host), event, qPrintable(text));
            else if (count > 1)
                qInfo("Event from %s: %d %s (%lld events from it in the last second or more)", qPrintable(host), event,
                    qPrintable(text), count);
        });
    protection.policy()->checkPowerOffRight();

    const int result = app.exec();
    qInfo("Protection service stopping");
    return result;
}
