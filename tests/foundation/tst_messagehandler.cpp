#include "app/localtimezone.h"
#include "app/messagehandler.h"
#include "storage/apppaths.h"
#include "support/scratchapp.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <sys/stat.h>
#include <thread>
#include <unistd.h>

class TestMessageHandler : public QObject
{
    Q_OBJECT

    QString logFile() const
    {
        return AppPaths::logDir() + QLatin1Char('/') + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))
            + QStringLiteral(".log");
    }

    QByteArray readLog() const
    {
        QFile f(logFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init() { qInstallMessageHandler(messageHandler); }
    void cleanup() { qInstallMessageHandler(nullptr); }

    // A long-running process follows a new zone without a zone-file read per conversion: replace the test's own
    // zone file as the machine's tools replace /etc/localtime, by a rename.
    void localTimeFollowsTheZoneFile()
    {
        QTemporaryDir dir;
        const QString zone = dir.filePath(QStringLiteral("localtime"));
        QVERIFY(QFile::copy(QStringLiteral("/usr/share/zoneinfo/Asia/Tokyo"), zone));
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", ':' + QFile::encodeName(zone));
        tzset();
        QObject owner;
        followLocalTimeZone(&owner);
        const QDateTime winter(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC);
        QCOMPARE(winter.toLocalTime().offsetFromUtc(), 9 * 3600);
        const QString next = dir.filePath(QStringLiteral("next"));
        QVERIFY(QFile::copy(QStringLiteral("/usr/share/zoneinfo/America/New_York"), next));
        QCOMPARE(::rename(QFile::encodeName(next).constData(), QFile::encodeName(zone).constData()), 0);
        QTRY_COMPARE(winter.toLocalTime().offsetFromUtc(), -5 * 3600);
        qputenv("TZ", saved);
        tzset();
    }

    void levelWords_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("word");
        QTest::newRow("debug") << int(QtDebugMsg) << "Debug:";
        QTest::newRow("info") << int(QtInfoMsg) << "Info:";
        QTest::newRow("warning") << int(QtWarningMsg) << "Warning:";
        QTest::newRow("critical") << int(QtCriticalMsg) << "Critical:";
    }

    void levelWords()
    {
        QFETCH(int, type);
        QFETCH(QString, word);
        ScratchApp app;
        messageHandler(QtMsgType(type), QMessageLogContext(), QStringLiteral("hello world"));
        const QString line = QString::fromUtf8(readLog());
        const QRegularExpression shape(QStringLiteral("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] ")
            + QRegularExpression::escape(word) + QStringLiteral(" hello world\n$"));
        QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
    }

    void unknownTypeLeavesTwoBlanks()
    {
        ScratchApp app;
        messageHandler(QtMsgType(42), QMessageLogContext(), QStringLiteral("odd"));
        QVERIFY(readLog().endsWith("]  odd\n"));
    }

    void crLfIsKeptAndLinesAppend()
    {
        ScratchApp app;
        qInfo("Start SNMP NMS service.\r\n");
        qWarning("Create SNMP session failed!");
        // The message's own CR LF stays, and the handler adds its LF: CR LF LF.
        const QByteArray log = readLog();
        QVERIFY2(log.contains("Info: Start SNMP NMS service.\r\n\n["), log.constData());
        QVERIFY(log.endsWith("Warning: Create SNMP session failed!\n"));
        QCOMPARE(log.count('\n'), 3);
    }

    void threadsNeverInterleave()
    {
        ScratchApp app;
        const int perThread = 400;
        auto writer = [](char tag) {
            const QString text = QString(200, QLatin1Char(tag));
            for (int i = 0; i < perThread; ++i)
                qWarning().noquote() << text;
        };
        std::thread a(writer, 'a');
        std::thread b(writer, 'b');
        a.join();
        b.join();
        const QList<QByteArray> lines = readLog().split('\n');
        QCOMPARE(lines.size(), 2 * perThread + 1);
        for (int i = 0; i < 2 * perThread; ++i) {
            const QByteArray body = lines.at(i).mid(lines.at(i).indexOf("Warning: ") + 9);
            QVERIFY2(body == QByteArray(200, 'a') || body == QByteArray(200, 'b'), body.constData());
        }
    }

    // Any member may leave a link or a FIFO named like the day's log in the shared log/: the messages are
    // lost (one line on the standard error says why), the file it leads to stays as it was, nothing blocks.
    void plantedLogFileIsNotWrittenThrough_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("link") << false;
        QTest::newRow("fifo") << true;
    }

    void plantedLogFileIsNotWrittenThrough()
    {
        QFETCH(bool, fifo);
        ScratchApp app;
        QDir().mkpath(AppPaths::logDir());
        const QString victim = app.path(QStringLiteral("victim"));
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly));
        v.write("precious\n");
        v.close();
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(logFile()).constData(), 0660), 0);
        else
            QVERIFY(QFile::link(victim, logFile()));
        qWarning("through");
        QVERIFY(v.open(QIODevice::ReadOnly));
        QCOMPARE(v.readAll(), QByteArray("precious\n"));
    }

    // In the installed package log/ is the service's own: a window that may not write there logs in the
    // user's state directory. A development tree's log/ is writable and stays the place, and the service
    // keeps log/ whatever its user may do there.
    void logLocation_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("service");
        QTest::addColumn<QString>("xdgState"); // "absolute", "unset" or a relative path
        QTest::addColumn<QString>("where"); // "log", "state" ($XDG_STATE_HOME/vigilex), "home" (~/.local/state)
        QTest::newRow("log/ writable") << true << false << "absolute"
                                       << "log";
        QTest::newRow("log/ closed, XDG_STATE_HOME set") << false << false << "absolute"
                                                         << "state";
        QTest::newRow("log/ closed, XDG_STATE_HOME unset") << false << false << "unset"
                                                           << "home";
        QTest::newRow("log/ closed, XDG_STATE_HOME relative") << false << false << "state"
                                                              << "home";
        QTest::newRow("log/ closed, the service") << false << true << "absolute"
                                                  << "log";
    }

    void logLocation()
    {
        QFETCH(bool, writable);
        QFETCH(bool, service);
        QFETCH(QString, xdgState);
        QFETCH(QString, where);
        ScratchApp app;
        QTemporaryDir user;
        const QString home = user.filePath(QStringLiteral("home"));
        const QString state = user.filePath(QStringLiteral("state"));
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(state));
        // As root the test closes log/ by turning into another user, who must reach the user's directories.
        const bool root = ::geteuid() == 0;
        const uid_t other = 65534;
        if (root) {
            for (const QString &dir : {user.path(), app.path()})
                QCOMPARE(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
            for (const QString &dir : {home, state})
                QCOMPARE(::chown(QFile::encodeName(dir).constData(), other, other), 0);
        }
        const QByteArray savedHome = qgetenv("HOME");
        const QByteArray savedState = qgetenv("XDG_STATE_HOME");
        bool restored = false;
        auto restore = [&] {
            if (restored)
                return;
            restored = true;
            if (root && ::seteuid(0) != 0)
                qFatal("cannot become root again");
            ::chmod(QFile::encodeName(app.path(QStringLiteral("log"))).constData(), 0755);
            qputenv("HOME", savedHome);
            if (savedState.isNull())
                qunsetenv("XDG_STATE_HOME");
            else
                qputenv("XDG_STATE_HOME", savedState);
            AppPaths::keepLogInInstallation(false);
        };
        auto guard = qScopeGuard(restore);
        qputenv("HOME", QFile::encodeName(home));
        if (xdgState == QLatin1String("unset"))
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv(
                "XDG_STATE_HOME", xdgState == QLatin1String("absolute") ? QFile::encodeName(state) : xdgState.toUtf8());
        AppPaths::keepLogInInstallation(service);
        if (!writable) {
            if (root)
                QCOMPARE(::seteuid(other), 0);
            else
                QCOMPARE(::chmod(QFile::encodeName(app.path(QStringLiteral("log"))).constData(), 0555), 0);
        }
        AppPaths::createDirectories();
        messageHandler(QtWarningMsg, QMessageLogContext(), QStringLiteral("where am I"));
        const QString dir = AppPaths::logDir();
        const QString crash = AppPaths::crashDir();
        restore();

        const QString expected = where == QLatin1String("log") ? app.path(QStringLiteral("log"))
            : where == QLatin1String("state")                  ? state + QStringLiteral("/vigilex")
                                                               : home + QStringLiteral("/.local/state/vigilex");
        QCOMPARE(dir, expected);
        QCOMPARE(crash, expected + QStringLiteral("/crash"));
        const QString day = QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log");
        QFile log(expected + QLatin1Char('/') + day);
        // The service that may not write in log/ loses the line, as with a deleted log/; it never moves.
        if (!service || writable) {
            QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
            QVERIFY(log.readAll().endsWith("Warning: where am I\n"));
        }
        if (where != QLatin1String("log")) {
            QVERIFY(!QFile::exists(app.path(QStringLiteral("log/")) + day));
            // Made for the user alone.
            QCOMPARE(QFileInfo(expected).permissions() & 0x0077, QFileDevice::Permissions());
        } else {
            QVERIFY(!QDir(state + QStringLiteral("/vigilex")).exists());
            QVERIFY(!QDir(home + QStringLiteral("/.local")).exists());
        }
    }

    void deletedLogDirectoryLosesMessagesSilently()
    {
        ScratchApp app;
        qWarning("before");
        QVERIFY(QDir(AppPaths::logDir()).removeRecursively());
        qWarning("after"); // must not crash, must not recreate the directory
        QVERIFY(!QDir(AppPaths::logDir()).exists());
        QDir().mkdir(AppPaths::logDir());
        qWarning("again");
        QVERIFY(readLog().endsWith("Warning: again\n"));
    }
};

QTEST_GUILESS_MAIN(TestMessageHandler)
#include "tst_messagehandler.moc"
