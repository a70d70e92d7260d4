#include "app/crashhandler.h"
#include "app/filelimit.h"
#include "app/messagehandler.h"
#include "app/quitsignals.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "ui/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    installCrashHandler(); // first, so that a crash anywhere later leaves a dump
    raiseOpenFileLimit();

    QApplication app(argc, argv);
    // Only the tray's "Quit" ends the program: closing the last visible box while the window is hidden must not.
    QApplication::setQuitOnLastWindowClosed(false);
    AppPaths::createDirectories();
    qInstallMessageHandler(messageHandler);
    QuitSignals quitSignals;

    SNMP engine;
    engine.startService();

    MainWindow window;
    window.setEngine(&engine);
    window.show();

    return app.exec();
}
