#include "policyrig.h"

#include "policy/shutdownprocess.h"

#include "policy/applicationtrust.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace PolicyText;

// The shutdown application step: what runs, for how long at most, and how many shutdown requests follow.
// The applications are real shell scripts in a directory whose path contains a blank.
class TestShutdownApplication : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { guardShutdownBackend(); }
    void cleanup() { QCOMPARE(leakedShutdownRequests(), 0); }

    void disabledRequestsAtOnce_data();
    void disabledRequestsAtOnce();
    void executionTime_data();
    void executionTime();
    void invalidApplication_data();
    void invalidApplication();
    void normalEnd();
    void crash();
    void failsToStart();
    void hangingApplicationIsKilled_data();
    void hangingApplicationIsKilled();
    void cancelDoesNotStopTheApplication();
    void quittingDoesNotRequestShutdown();
    void childStartsContained();
};

namespace {
constexpr qint64 Minute = 100;

// Trigger the application step through the capacity rule: no countdown involved.
void triggerCapacityRule(PolicyRig &rig)
{
    rig.conditions(0, 0, 20);
    rig.report(2, 0, 2, 100);
    rig.report(2, 1, 3, 10);
}
} // namespace

void TestShutdownApplication::disabledRequestsAtOnce_data()
{
    QTest::addColumn<QVariant>("enable");
    QTest::newRow("key absent") << QVariant();
    QTest::newRow("false") << QVariant(false);
    QTest::newRow("text 0") << QVariant(QStringLiteral("0"));
}

void TestShutdownApplication::disabledRequestsAtOnce()
{
    QFETCH(QVariant, enable);
    PolicyRig rig(Minute);
    const QString app = rig.script(QStringLiteral("touch \"$(dirname \"$0\")/ran\""));
    rig.set(QStringLiteral("system/shutdown_app"), app);
    if (enable.isValid())
        rig.set(QStringLiteral("system/shutdown_app_enable"), enable);

    // The countdown's expiry reaches the application step.
    rig.conditions(0, 1, 0);
    rig.report(2, 0, 2, 100);
    rig.report(2, 1, 3, 80);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QCOMPARE(rig.messages, QStringList {countdown("1.0")});
    QVERIFY(rig.policy.applicationHandled());
    QCOMPARE(rig.policy.shutdownProcess()->state(), QProcess::NotRunning);
    QTest::qWait(int(2 * Minute));
    QVERIFY(!QFile::exists(rig.app.path(QStringLiteral("my app/ran"))));
    QCOMPARE(rig.requests, 1);
}

void TestShutdownApplication::executionTime_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("minutes");

    QTest::newRow("absent") << QVariant() << 15;
    QTest::newRow("0") << QVariant(0) << 15;
    QTest::newRow("91") << QVariant(91) << 15;
    QTest::newRow("-3") << QVariant(-3) << 15;
    QTest::newRow("120 by hand") << QVariant(120) << 15;
    QTest::newRow("no number") << QVariant(QStringLiteral("ten")) << 15;
    QTest::newRow("1") << QVariant(1) << 1;
    QTest::newRow("7") << QVariant(7) << 7;
    QTest::newRow("90") << QVariant(90) << 90;
}

void TestShutdownApplication::executionTime()
{
    QFETCH(QVariant, stored);
    QFETCH(int, minutes);

    PolicyRig rig(Minute);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    rig.set(QStringLiteral("system/shutdown_app"), rig.script(QStringLiteral("exit 0")));
    if (stored.isValid())
        rig.set(QStringLiteral("system/shutdown_exec_time"), stored);

    triggerCapacityRule(rig);
    QTimer *timer = rig.policy.applicationTimer();
    QVERIFY(timer->isActive());
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), int(minutes * Minute));
    QVERIFY(!rig.policy.shutdownTimer()->isActive());
    QVERIFY(!rig.policy.countdownActive());
    QVERIFY(rig.policy.applicationHandled());
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QCOMPARE(rig.messages, QStringList {starting()});
}

void TestShutdownApplication::invalidApplication_data()
{
    QTest::addColumn<QVariant>("path");
    // For a real script: what another member could have done to it ("" for nothing).
    QTest::addColumn<QString>("change");
    QTest::newRow("no path stored") << QVariant() << QString();
    QTest::newRow("empty path") << QVariant(QString()) << QString();
    QTest::newRow("no such file") << QVariant(QStringLiteral("/nonexistent/my app/run me.sh")) << QString();
    QTest::newRow("relative path") << QVariant(QStringLiteral("my app/run me.sh")) << QString();
    QTest::newRow("group may write the file") << QVariant() << QStringLiteral("g+w");
    QTest::newRow("others may write the file") << QVariant() << QStringLiteral("o+w");
    QTest::newRow("another user's file") << QVariant() << QStringLiteral("chown");
    QTest::newRow("directory others may write") << QVariant() << QStringLiteral("dir o+w");
    QTest::newRow("link from a directory others may write") << QVariant() << QStringLiteral("link");
}

// The application is enabled but cannot be run (or not trusted): the machine must still go down, at once.
void TestShutdownApplication::invalidApplication()
{
    QFETCH(QVariant, path);
    QFETCH(QString, change);
    PolicyRig rig(Minute);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    if (change == QLatin1String("chown") && ::getuid() != 0)
        QSKIP("needs root to hand the file to another user");
    if (!change.isEmpty()) {
        const QString app = rig.script(QStringLiteral("touch \"$(dirname \"$0\")/ran\""));
        const QByteArray file = QFile::encodeName(app);
        const QByteArray dir = QFile::encodeName(rig.app.path(QStringLiteral("my app")));
        QString stored = app;
        if (change == QLatin1String("g+w"))
            QCOMPARE(::chmod(file.constData(), 0770), 0);
        else if (change == QLatin1String("o+w"))
            QCOMPARE(::chmod(file.constData(), 0702), 0);
        else if (change == QLatin1String("chown"))
            QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
        else if (change == QLatin1String("dir o+w"))
            QCOMPARE(::chmod(dir.constData(), 0777), 0);
        if (change == QLatin1String("link")) {
            const QString open = rig.app.path(QStringLiteral("open"));
            QVERIFY(QDir().mkpath(open));
            QCOMPARE(::chmod(QFile::encodeName(open).constData(), 0777), 0);
            stored = open + QStringLiteral("/run me");
            QVERIFY(QFile::link(app, stored));
        }
        rig.set(QStringLiteral("system/shutdown_app"), stored);
    } else if (path.isValid()) {
        rig.set(QStringLiteral("system/shutdown_app"), path);
    }

    triggerCapacityRule(rig);
    QCOMPARE(rig.messages, QStringList {invalid()});
    QCOMPARE(rig.requests, 1);
    QVERIFY(rig.policy.applicationHandled());
    QCOMPARE(rig.policy.shutdownProcess()->state(), QProcess::NotRunning);

    // Once handled, later qualifying reports change nothing.
    rig.report(2, 1, 3, 5);
    QCOMPARE(rig.requests, 1);
    QTest::qWait(int(Minute));
    QVERIFY(!QFile::exists(rig.app.path(QStringLiteral("my app/ran"))));
}

// A normal end: one request with the exit code in the log, no row of its own. The script also proves it got
// no arguments, that nobody must read its output and that its input is at its end.
void TestShutdownApplication::normalEnd()
{
    PolicyRig rig(Minute);
    const QString app = rig.script(QStringLiteral("dir=$(dirname \"$0\")\n"
                                                  "echo \"$#\" > \"$dir/arguments\"\n"
                                                  "env > \"$dir/environment\"\n"
                                                  "head -c 1000000 /dev/zero\n"
                                                  "head -c 1000000 /dev/zero >&2\n"
                                                  "read line\n"
                                                  "exit 3"));
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    rig.set(QStringLiteral("system/shutdown_app"), app);
    rig.set(QStringLiteral("system/shutdown_exec_time"), 90);

    QTest::ignoreMessage(QtDebugMsg, "System shutdown code: 3 , status: QProcess::NormalExit");
    triggerCapacityRule(rig);
    QCOMPARE(rig.messages, QStringList {starting()});
    QCOMPARE(rig.requests, 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QCOMPARE(rig.messages, QStringList {starting()});

    QFile arguments(rig.app.path(QStringLiteral("my app/arguments")));
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    QCOMPARE(arguments.readAll().trimmed(), QByteArray("0"));
    // A clean environment: the fixed PATH and the user's identity, nothing else the program was started with.
    QFile environment(rig.app.path(QStringLiteral("my app/environment")));
    QVERIFY(environment.open(QIODevice::ReadOnly));
    const QByteArray env = '\n' + environment.readAll();
    QVERIFY2(env.contains("\nPATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"), env.constData());
    QVERIFY2(!env.contains("QT_QPA_PLATFORM=") && !env.contains("VIGILEX_"), env.constData());
    QCOMPARE(rig.policy.shutdownProcess()->exitCode(), 3);
    QVERIFY(rig.policy.applicationHandled());
    // The step ran once: further qualifying reports start nothing.
    rig.report(2, 1, 3, 4);
    QCOMPARE(rig.messages, QStringList {starting()});
    QCOMPARE(rig.requests, 1);
}

// A crash reports an error and then the end: one request, and the application is not started again in the
// same outage, however many reports still meet the capacity rule.
void TestShutdownApplication::crash()
{
    PolicyRig rig(Minute);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    rig.set(QStringLiteral("system/shutdown_app"), rig.script(QStringLiteral("kill -SEGV $$")));

    QTest::ignoreMessage(QtDebugMsg, "System shutdown code: 0 , status: QProcess::NormalExit");
    QTest::ignoreMessage(
        QtDebugMsg, QRegularExpression(QStringLiteral("^System shutdown code: .* QProcess::CrashExit$")));
    triggerCapacityRule(rig);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.policy.shutdownProcess()->state(), QProcess::NotRunning, 5000);
    QCOMPARE(rig.messages, (QStringList {starting(), exited()}));
    QVERIFY(rig.policy.applicationHandled());
    QVERIFY(!rig.policy.applicationTimer()->isActive());
    for (int capacity = 9; capacity > 0; --capacity)
        rig.report(2, 1, 3, capacity);
    QTest::qWait(int(2 * Minute));
    QCOMPARE(rig.requests, 1);
    QCOMPARE(rig.messages.count(starting()), 1);
}

// An enabled file that cannot be executed: one request, no end to report, and no second start in the outage.
void TestShutdownApplication::failsToStart()
{
    PolicyRig rig(Minute);
    const QString app = rig.script(QStringLiteral("exit 0"));
    QFile::setPermissions(app, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    rig.set(QStringLiteral("system/shutdown_app"), app);

    triggerCapacityRule(rig);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QCOMPARE(rig.messages, (QStringList {starting(), exited()}));
    QVERIFY(rig.policy.applicationHandled());
    QVERIFY(!rig.policy.shutdownTimer()->isActive());

    rig.report(2, 1, 3, 9);
    QTest::qWait(int(2 * Minute));
    QCOMPARE(rig.requests, 1);
    QCOMPARE(rig.messages, (QStringList {starting(), exited()}));
}

void TestShutdownApplication::hangingApplicationIsKilled_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("limit");

    // The countdown's expiry starts the application; that same expiry must not kill it.
    QTest::newRow("started by the countdown's expiry") << QStringLiteral("countdown") << 3;
    QTest::newRow("started by the capacity rule") << QStringLiteral("capacity") << 2;
    QTest::newRow("started by the capacity rule during a countdown") << QStringLiteral("during") << 2;
    // Countdown offers after the start (battery turning low, input code changing) leave its time alone.
    QTest::newRow("shorter offers after the start") << QStringLiteral("offers") << 4;
}

void TestShutdownApplication::hangingApplicationIsKilled()
{
    QFETCH(QString, start);
    QFETCH(int, limit);

    PolicyRig rig(Minute);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    // A child of the application goes with it: the whole process group is stopped.
    rig.set(QStringLiteral("system/shutdown_app"),
        rig.script(QStringLiteral("sleep 30 &\necho $! > \"$(dirname \"$0\")/child\"\nwait")));
    rig.set(QStringLiteral("system/shutdown_exec_time"), limit);

    if (start == QLatin1String("countdown")) {
        rig.conditions(0, 1, 0);
        rig.report(2, 0, 2, 100);
        rig.report(2, 1, 3, 80);
    } else if (start == QLatin1String("capacity")) {
        triggerCapacityRule(rig);
    } else {
        rig.conditions(0, 50, 20);
        rig.report(2, 0, 2, 100);
        rig.report(2, 1, 3, 80);
        rig.report(2, 1, 3, 10);
        QVERIFY(!rig.policy.countdownActive());
    }
    QTRY_VERIFY_WITH_TIMEOUT(rig.policy.shutdownProcess()->state() == QProcess::Running, 5000);
    if (start == QLatin1String("offers")) {
        const QStringList before = rig.messages;
        rig.conditions(1, 1, 20);
        rig.report(3, 1, 3, 10);
        rig.report(3, 2, 3, 9);
        rig.report(2, 0, 2, 9);
        QTest::qWait(int(2 * Minute));
        QCOMPARE(rig.policy.shutdownProcess()->state(), QProcess::Running);
        QCOMPARE(rig.messages, before);
    }

    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.policy.shutdownProcess()->state(), QProcess::NotRunning, 5000);
    QVERIFY(rig.messages.endsWith(exited()));
    QCOMPARE(rig.messages.count(starting()), 1);
    QCOMPARE(rig.policy.shutdownProcess()->exitStatus(), QProcess::CrashExit);
    // Killed when its time was up, not before.
    QVERIFY(rig.applicationStartTime >= 0);
    const qint64 ran = rig.requestTimes.first() - rig.applicationStartTime;
    QVERIFY2(ran >= limit * Minute - 20, qPrintable(QString::number(ran)));
    QFile child(rig.app.path(QStringLiteral("my app/child")));
    QVERIFY(child.open(QIODevice::ReadOnly));
    const QByteArray childPid = child.readAll().trimmed();
    QVERIFY(!childPid.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(childPid)), 2000);
}

// The capacity rule during a countdown, then the mains returns: once the application runs the shutdown goes
// ahead, so nothing is cancelled and its end still requests the shutdown.
void TestShutdownApplication::cancelDoesNotStopTheApplication()
{
    PolicyRig rig(Minute);
    rig.set(QStringLiteral("system/shutdown_app_enable"), true);
    rig.set(QStringLiteral("system/shutdown_app"), rig.script(QStringLiteral("sleep 0.3")));
    rig.conditions(0, 5, 20);
    rig.report(2, 0, 2, 100);
    rig.report(2, 1, 3, 50);
    rig.report(2, 1, 3, 10);
    rig.report(2, 0, 2, 10);
    QCOMPARE(rig.messages, (QStringList {countdown("5.0"), starting()}));
    QVERIFY(!rig.policy.shutdownTimer()->isActive());
    QVERIFY(rig.policy.shutdownCommitted());
    QCOMPARE(rig.requests, 0);
    QVERIFY(rig.policy.shutdownProcess()->state() != QProcess::NotRunning);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
    QCOMPARE(rig.messages, (QStringList {countdown("5.0"), starting()}));
}

// Ending the program while the application runs kills it, but that is no reason for a shutdown request.
void TestShutdownApplication::quittingDoesNotRequestShutdown()
{
    int requests = 0;
    {
        PolicyRig rig(Minute);
        rig.set(QStringLiteral("system/shutdown_app_enable"), true);
        rig.set(QStringLiteral("system/shutdown_app"), rig.script(QStringLiteral("exec sleep 30")));
        rig.policy.setShutdownHandler([&requests] { ++requests; });
        triggerCapacityRule(rig);
        QTRY_VERIFY_WITH_TIMEOUT(rig.policy.shutdownProcess()->state() == QProcess::Running, 5000);
        const QByteArray warning = QByteArray("QProcess: Destroyed while process (\"")
            + rig.policy.shutdownProcess()->program().toUtf8() + QByteArray("\") is still running.");
        QTest::ignoreMessage(QtWarningMsg, warning.constData());
    }
    QCOMPARE(requests, 0);
}

// The child side of the start: the open-file limit the program started with, no descriptor of the program's
// left open (a socket of a card session, here a plain descriptor without close-on-exec), the root directory
// rather than the program's, and none of the program's capabilities (the test gives itself an inheritable and
// an ambient one first when it may, as a unit's AmbientCapabilities= would).
void TestShutdownApplication::childStartsContained()
{
    struct rlimit saved
    {
    };
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max < 2048)
        QSKIP("the hard open-file limit leaves no room to raise");
    struct rlimit start = saved;
    start.rlim_cur = 1024;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &start), 0);
    rememberStartOpenFileLimit();
    struct rlimit raised = saved;
    raised.rlim_cur = saved.rlim_max;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    const int leaked = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaked > 2);
    // Capabilities belong to the thread, and the child is forked from this one.
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] {};
    QCOMPARE(::syscall(SYS_capget, &header, sets), 0L);
    const __user_cap_data_struct held[_LINUX_CAPABILITY_U32S_3] = {sets[0], sets[1]};
    bool given = false;
    if (sets[0].permitted & (1U << CAP_NET_BIND_SERVICE)) {
        sets[0].inheritable |= 1U << CAP_NET_BIND_SERVICE;
        given = ::syscall(SYS_capset, &header, sets) == 0
            && ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0) == 0;
    }
    auto restore = qScopeGuard([&header, &held] {
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        __user_cap_data_struct back[_LINUX_CAPABILITY_U32S_3] = {held[0], held[1]};
        ::syscall(SYS_capset, &header, back);
    });

    // The policy's own process class, so the test also pins that its start does this.
    ShutdownProcess child;
    child.setProgram(QStringLiteral("/bin/sh"));
    child.setArguments({QStringLiteral("-c"),
        QStringLiteral("ulimit -n; pwd; grep -E '^Cap(Inh|Amb):' /proc/self/status; ls /proc/self/fd")});
    child.start();
    QVERIFY(child.waitForFinished(5000));
    ::close(leaked);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    if (given) {
        // The test's own shell sees what the test gave it, so a child without the reset would too.
        QProcess plain;
        plain.start(
            QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("grep '^CapAmb:' /proc/self/status")});
        QVERIFY(plain.waitForFinished(5000));
        QCOMPARE(plain.readAllStandardOutput().simplified(), QByteArray("CapAmb: 0000000000000400"));
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    QCOMPARE(lines.value(0), QByteArray("1024"));
    QCOMPARE(lines.value(1), QByteArray("/"));
    QCOMPARE(lines.value(2).simplified(), QByteArray("CapInh: 0000000000000000"));
    QCOMPARE(lines.value(3).simplified(), QByteArray("CapAmb: 0000000000000000"));
    // 0, 1, 2 and the descriptor ls opens for the listing itself.
    QVERIFY2(!lines.mid(4).contains(QByteArray::number(leaked)), lines.join(' ').constData());
}

QTEST_GUILESS_MAIN(TestShutdownApplication)
#include "tst_shutdownapplication.moc"
