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
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("cfg"))).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);

        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }

    void crashLeavesOneDumpAndDiesBySignal_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("signal");
        QTest::newRow("segv") << "segv" << int(SIGSEGV);
        QTest::newRow("abort") << "abort" << int(SIGABRT);
        QTest::newRow("stack overflow") << "overflow" << int(SIGSEGV);
        QTest::newRow("fpe") << "fpe" << int(SIGFPE);
    }

    void crashLeavesOneDumpAndDiesBySignal()
    {
        QFETCH(QString, how);
        QFETCH(int, signal);
        QTemporaryDir cwd;
        QProcess crash;
        crash.setWorkingDirectory(cwd.path());
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        crash.start(QStringLiteral(CRASHME_PATH), QStringList {how});
        QVERIFY(crash.waitForFinished(20000));
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QCOMPARE(crash.exitStatus(), QProcess::CrashExit);

        const QStringList dumps = QDir(cwd.path()).entryList({QStringLiteral("*.dmp")}, QDir::Files);
        QCOMPARE(dumps.size(), 1);
        const QDateTime stamp
            = QDateTime::fromString(dumps.constFirst().chopped(4), QStringLiteral("yyyyMMddhhmmss"));
        QVERIFY2(stamp.isValid() && stamp >= before.addMSecs(-before.time().msec()) && stamp <= after,
                 qPrintable(dumps.constFirst()));

        QFile dump(cwd.filePath(dumps.constFirst()));
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
