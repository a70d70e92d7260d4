#include "support/facekit.h"

#include "support/netns.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QtTest>

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace FaceKit;

// A log-out as a desktop's session manager asks for it: an X server (Xvfb) and a session manager speaking
// the X session management protocol run beside the test, the window runs on Qt's X11 platform, and the session
// manager asks it to save itself for a shutdown with interaction allowed, as KDE, Xfce and MATE do at log-out.
namespace {
pid_t xserver = -1;
pid_t manager = -1;
int goPipe[2] = {-1, -1}; // test -> manager: start the log-out
int reportPipe[2] = {-1, -1}; // manager -> test: network address, then what the client did

// The session manager, in a child process of its own: it knows nothing of Qt.
namespace Manager {
SmsConn client = nullptr;
int interacted = 0, cancelled = 0, done = 0, success = 0, restartHint = -1;

Status newClient(SmsConn, SmPointer, unsigned long *mask, SmsCallbacks *cb, char **)
{
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask
        | SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask
        | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask
        | SmsGetPropertiesProcMask;
    *cb = {};
    cb->register_client.callback = [](SmsConn c, SmPointer, char *previousId) {
        std::free(previousId);
        char *id = SmsGenerateClientID(c);
        const Status status = SmsRegisterClientReply(c, id);
        std::free(id);
        client = c;
        return status;
    };
    cb->interact_request.callback = [](SmsConn c, SmPointer, int) {
        interacted = 1;
        SmsInteract(c);
    };
    cb->interact_done.callback = [](SmsConn, SmPointer, Bool cancel) { cancelled = cancel ? 1 : 0; };
    cb->save_yourself_request.callback = [](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {};
    cb->save_yourself_phase2_request.callback = [](SmsConn c, SmPointer) { SmsSaveYourselfPhase2(c); };
    cb->save_yourself_done.callback = [](SmsConn c, SmPointer, Bool ok) {
        done = 1;
        success = ok ? 1 : 0;
        char line[128];
        const int n = std::snprintf(line, sizeof line, "interacted=%d cancelled=%d done=%d success=%d restart=%d\n",
            interacted, cancelled, done, success, restartHint);
        (void)!::write(reportPipe[1], line, n);
        if (!cancelled)
            SmsDie(c);
    };
    cb->close_connection.callback = [](SmsConn c, SmPointer, int count, char **reasons) {
        SmFreeReasons(count, reasons);
        SmsCleanUp(c);
        client = nullptr;
    };
    cb->set_properties.callback = [](SmsConn, SmPointer, int count, SmProp **props) {
        for (int i = 0; i < count; ++i) {
            if (!std::strcmp(props[i]->name, SmRestartStyleHint) && props[i]->num_vals > 0)
                restartHint = static_cast<unsigned char *>(props[i]->vals[0].value)[0];
            SmFreeProperty(props[i]);
        }
        std::free(props);
    };
    cb->delete_properties.callback = [](SmsConn, SmPointer, int count, char **names) {
        for (int i = 0; i < count; ++i)
            std::free(names[i]);
        std::free(names);
    };
    cb->get_properties.callback = [](SmsConn c, SmPointer) { SmsReturnProperties(c, 0, nullptr); };
    return 1;
}
Bool anyLocalClient(char *)
{
    return True;
} // only a local socket is announced

[[noreturn]] void run()
{
    IceSetIOErrorHandler([](IceConn) {}); // the client going away ends the loop below, not the process
    char error[256] = {};
    int count = 0;
    IceListenObj *listeners = nullptr;
    if (!SmsInitialize("vigilex-test", "1", newClient, nullptr, anyLocalClient, sizeof error, error)
        || !IceListenForConnections(&count, &listeners, sizeof error, error))
        _exit(2);
    IceListenObj local[8];
    int locals = 0;
    for (int i = 0; i < count; ++i) {
        IceSetHostBasedAuthProc(listeners[i], anyLocalClient);
        char *address = IceGetListenConnectionString(listeners[i]);
        if ((!std::strncmp(address, "local/", 6) || !std::strncmp(address, "unix/", 5)) && locals < 8)
            local[locals++] = listeners[i];
        std::free(address);
    }
    char *ids = IceComposeNetworkIdList(locals, local);
    (void)!::write(reportPipe[1], ids, std::strlen(ids));
    (void)!::write(reportPipe[1], "\n", 1);
    std::free(ids);

    IceConn connection = nullptr;
    const time_t deadline = std::time(nullptr) + 30;
    while (std::time(nullptr) < deadline) {
        pollfd fds[10];
        int n = 0;
        for (int i = 0; i < locals; ++i)
            fds[n++] = {IceGetListenConnectionNumber(local[i]), POLLIN, 0};
        fds[n++] = {goPipe[0], POLLIN, 0};
        if (connection)
            fds[n++] = {IceConnectionNumber(connection), POLLIN, 0};
        if (::poll(fds, n, 100) <= 0)
            continue;
        for (int i = 0; i < locals; ++i) {
            if (!(fds[i].revents & POLLIN) || connection)
                continue;
            IceAcceptStatus status;
            connection = IceAcceptConnection(local[i], &status);
            while (connection && IceConnectionStatus(connection) == IceConnectPending)
                IceProcessMessages(connection, nullptr, nullptr);
        }
        if (fds[locals].revents & POLLIN) {
            char byte;
            (void)!::read(goPipe[0], &byte, 1);
            interacted = cancelled = done = success = 0;
            restartHint = -1;
            // 'a': the user may still be asked (a log-out with confirmation); 'n': no questions (a fast one).
            if (client)
                SmsSaveYourself(
                    client, SmSaveBoth, True, byte == 'a' ? SmInteractStyleAny : SmInteractStyleNone, False);
        }
        if (connection && n > locals + 1 && (fds[locals + 1].revents & (POLLIN | POLLHUP))
            && IceProcessMessages(connection, nullptr, nullptr) == IceProcessMessagesIOError)
            _exit(0);
    }
    _exit(1);
}
} // namespace Manager

// Xvfb on a display number of its choosing; returns the display name or empty. Xvfb writes the number and its
// line feed in two writes and dies when the second one fails, so the read end stays open until the line feed.
QByteArray startXServer()
{
    int displayPipe[2];
    if (::pipe2(displayPipe, O_CLOEXEC) != 0)
        return QByteArray();
    xserver = ::fork();
    if (xserver == 0) {
        const int fd = ::dup(displayPipe[1]); // the only end Xvfb inherits
        const QByteArray fdText = QByteArray::number(fd);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fdText.constData(), "-nolisten", "tcp", "-screen", "0", "800x600x24",
            static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(displayPipe[1]);
    QByteArray number;
    const qint64 deadline = QDateTime::currentMSecsSinceEpoch() + 20000;
    while (xserver > 0 && !number.endsWith('\n')) {
        const qint64 left = deadline - QDateTime::currentMSecsSinceEpoch();
        pollfd wait {displayPipe[0], POLLIN, 0};
        char chunk[16];
        ssize_t got = 0;
        if (left <= 0 || ::poll(&wait, 1, int(left)) <= 0 || (got = ::read(displayPipe[0], chunk, sizeof chunk)) <= 0)
            break;
        number.append(chunk, int(got));
    }
    ::close(displayPipe[0]);
    if (!number.endsWith('\n'))
        return QByteArray();
    return ':' + number.trimmed();
}

QByteArray readReportLine(int timeoutMs)
{
    QByteArray line;
    char c;
    pollfd wait {reportPipe[0], POLLIN, 0};
    while (::poll(&wait, 1, timeoutMs) > 0 && ::read(reportPipe[0], &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}
} // namespace

class TestLogout : public QObject
{
    Q_OBJECT

private slots:
    void logoutClosesTheWindowAndQuits_data()
    {
        QTest::addColumn<char>("style");
        QTest::addColumn<QByteArray>("report");
        // The window granted the close, the log-out went on, and the session will not start a second copy at
        // log-in beside the desktop's autostart entry.
        QTest::newRow("interaction allowed")
            << 'a' << QByteArray("interacted=1 cancelled=0 done=1 success=1 restart=3");
        // Closed only by the quit that follows the manager's "die".
        QTest::newRow("no interaction") << 'n' << QByteArray("interacted=0 cancelled=0 done=1 success=1 restart=3");
    }
    void logoutClosesTheWindowAndQuits()
    {
        QFETCH(char, style);
        QFETCH(QByteArray, report);
        ScratchApp app;
        prepare(app);
        auto window = makeWindow();
        PromptRecorder prompts; // the window alone asks before a quit of its own, never at a log-out
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        QVERIFY(::write(goPipe[1], &style, 1) == 1);
        // Stands for the program's own loop; unlike a nested loop it can run again after a quit.
        QTimer::singleShot(15000, qApp, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0); // the session manager's "die" ended it, as the tray's "Quit" does
        QVERIFY(!window->isVisible());
        QCOMPARE(readReportLine(5000), report);
        QCOMPARE(prompts.texts(), QStringList());
    }
};

int main(int argc, char *argv[])
{
    QString why;
    if (!enterPrivateNetworkNamespace(&why)) { // the session manager's listener stays private to the test
        std::fprintf(stderr, "FAIL! cannot make a private network namespace: %s\n", qPrintable(why));
        return 1;
    }
    isolateSnmpLibraryFiles();
    const QByteArray display = startXServer();
    if (display.isEmpty()) {
        if (xserver > 0)
            ::kill(xserver, SIGKILL);
        std::fprintf(stderr, "FAIL! Xvfb did not start\n");
        return 1;
    }
    qputenv("ICEAUTHORITY", QByteArray("/nonexistent/iceauthority"));
    if (::pipe(goPipe) != 0 || ::pipe(reportPipe) != 0)
        return 1;
    manager = ::fork();
    if (manager == 0)
        Manager::run();
    const QByteArray address = readReportLine(10000);
    qputenv("SESSION_MANAGER", address);
    qputenv("DISPLAY", display);
    qputenv("QT_QPA_PLATFORM", QByteArray("xcb"));

    int result;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false); // as the program does
        TestLogout test;
        QTEST_SET_MAIN_SOURCE_PATH
        result = QTest::qExec(&test, argc, argv);
    }
    for (pid_t child : {manager, xserver}) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
    }
    return result;
}

#include "tst_logout.moc"
