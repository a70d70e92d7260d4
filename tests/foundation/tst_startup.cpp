#include "support/scratchapp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

class TestStartup : public QObject
{
    Q_OBJECT

    // The program keeps its files beside itself, so it runs from a copy in an empty directory.
    static bool installCopy(const QString &dir)
    {
        const QString bin = buildBinDir();
        QDir().mkpath(dir + QStringLiteral("/translate"));
        bool ok = QFile::copy(bin + QStringLiteral("/vigilex"), dir + QStringLiteral("/vigilex"));
        for (const char *qm : {"en.qm", "zh.qm"})
            QFile::copy(bin + QStringLiteral("/translate/") + QLatin1String(qm),
                dir + QStringLiteral("/translate/") + QLatin1String(qm));
        return ok;
    }

    static QByteArray todaysLog(const QString &dir)
    {
        QFile f(dir + QStringLiteral("/log/") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
            + QStringLiteral(".log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void firstStartCreatesDirectoriesAndQuitsOnSigterm()
    {
        QTemporaryDir dir;
        QVERIFY(installCopy(dir.path()));
        QProcess program;
        program.setWorkingDirectory(dir.path());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(dir.path() + QStringLiteral("/vigilex"), QStringList());
        QVERIFY(program.waitForStarted());
        auto reaper = qScopeGuard([&program] {
            if (program.state() != QProcess::NotRunning) {
                program.kill();
                program.waitForFinished(5000);
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(todaysLog(dir.path()).contains("Start SNMP trapd service."), 10000);
        for (const char *sub : {"data", "cfg", "log"})
            QVERIFY2(QDir(dir.filePath(QLatin1String(sub))).exists(), sub);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("cfg/vigilex.db"))));
        QVERIFY(todaysLog(dir.path()).contains("Info: Start SNMP NMS service.\r\n"));
        struct stat st
        {
        };
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("cfg"))).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    // The dump goes to crash/ under the program's log directory: log/ beside the program where it may write
    // there (the service, a development tree), else the user's state directory (the installed window). The
    // oldest dumps go first, so that at most ten are kept; other files there are left alone.
    void crashLeavesOneDumpAndDiesBySignal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("earlier"); // dumps already there
        QTest::addColumn<bool>("closed"); // log/ not writable for the program
        QTest::newRow("segv") << "segv" << int(SIGSEGV) << 0 << false;
        QTest::newRow("abort") << "abort" << int(SIGABRT) << 0 << false;
        QTest::newRow("stack overflow") << "overflow" << int(SIGSEGV) << 0 << false;
        QTest::newRow("fpe") << "fpe" << int(SIGFPE) << 0 << false;
        QTest::newRow("ten kept: the three oldest of twelve go") << "segv" << int(SIGSEGV) << 12 << false;
        QTest::newRow("log/ closed: the user's state directory") << "segv" << int(SIGSEGV) << 0 << true;
    }

    void crashLeavesOneDumpAndDiesBySignal()
    {
        QFETCH(QString, how);
        QFETCH(int, signal);
        QFETCH(int, earlier);
        QFETCH(bool, closed);
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("vigilex-crashme"));
        QVERIFY(QFile::copy(QStringLiteral(CRASHME_PATH), program));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log")));
        const QString state = dir.filePath(QStringLiteral("state"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("state")));
        const QString crashDir
            = closed ? state + QStringLiteral("/vigilex/crash") : dir.filePath(QStringLiteral("log/crash"));
        QVERIFY(QDir().mkpath(crashDir));
        QStringList kept;
        for (int i = 0; i < earlier; ++i) {
            const QString name = QStringLiteral("200101010000%1.dmp").arg(i, 2, 10, QLatin1Char('0'));
            QFile old(crashDir + QLatin1Char('/') + name);
            QVERIFY(old.open(QIODevice::WriteOnly));
            if (i >= earlier - 9)
                kept << name;
        }
        const QStringList others {QStringLiteral("notes.dmp"), QStringLiteral("20010101000000.txt")};
        for (const QString &name : others) {
            QFile other(crashDir + QLatin1Char('/') + name);
            QVERIFY(other.open(QIODevice::WriteOnly));
        }

        QProcess crash;
        crash.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state);
        crash.setProcessEnvironment(env);
        QString command = program;
        QStringList arguments {how};
        if (closed) {
            if (::geteuid() == 0) {
                // Root may write anywhere: another user runs it, who reaches the directory and owns the state.
                QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
                for (const QString &own : QStringList {state, state + QStringLiteral("/vigilex"), crashDir})
                    QCOMPARE(::chown(QFile::encodeName(own).constData(), 65534, 65534), 0);
                for (const QString &name : others)
                    QCOMPARE(
                        ::chown(QFile::encodeName(crashDir + QLatin1Char('/') + name).constData(), 65534, 65534), 0);
                arguments = QStringList {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                    QStringLiteral("--clear-groups"), program, how};
                command = QStringLiteral("setpriv");
            } else {
                QVERIFY(QFile::setPermissions(
                    dir.filePath(QStringLiteral("log")), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            }
        }
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        crash.start(command, arguments);
        QVERIFY(crash.waitForFinished(20000));
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QCOMPARE(crash.exitStatus(), QProcess::CrashExit);
        QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*.dmp")}, QDir::Files).isEmpty());
        if (closed)
            QVERIFY(!QDir(dir.filePath(QStringLiteral("log/crash"))).exists());

        QStringList dumps = QDir(crashDir).entryList({QStringLiteral("20*.dmp")}, QDir::Files, QDir::Name);
        QCOMPARE(dumps.size(), qMin(earlier, 9) + 1);
        const QString fresh = dumps.takeLast();
        QCOMPARE(dumps, kept);
        for (const QString &name : others)
            QVERIFY2(QFile::exists(crashDir + QLatin1Char('/') + name), qPrintable(name));
        const QDateTime stamp = QDateTime::fromString(fresh.chopped(4), QStringLiteral("yyyyMMddhhmmss"));
        QVERIFY2(
            stamp.isValid() && stamp >= before.addMSecs(-before.time().msec()) && stamp <= after, qPrintable(fresh));

        QFile dump(crashDir + QLatin1Char('/') + fresh);
        QCOMPARE(dump.permissions()
                & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser),
            QFileDevice::Permissions());
        QVERIFY(dump.open(QIODevice::ReadOnly));
        const QByteArray text = dump.readAll();
        QVERIFY(text.startsWith("signal: " + QByteArray::number(signal) + "\n"));
        QVERIFY(text.contains("\naddress: 0x"));
        QVERIFY(text.contains("\nbacktrace:\n"));
        QVERIFY(text.contains("\nmaps:\n"));
        QVERIFY(text.contains("[stack]"));
        if (how == QLatin1String("segv"))
            QVERIFY(text.contains("\naddress: 0x10\n"));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
