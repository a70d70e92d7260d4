#include "app/localtimezone.h"
#include "app/messagehandler.h"
#include "storage/apppaths.h"
#include "support/scratchapp.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>
#include <thread>

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
