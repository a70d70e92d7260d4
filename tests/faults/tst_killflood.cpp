// The program (the demo build, which records a due shutdown instead of asking for one) killed with SIGKILL in the
// middle of a notification flood from a card. A batch has been committed when an independent reader sees its
// rows; every row a reader saw before the kill must be there afterwards, the database must pass its integrity
// check, and the program must start again on it and go on storing.
#include "faultkit.h"

#include "storage/statements.h"

#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <cstdio>

using namespace FaultKit;

namespace {
// The program in a pid namespace of its own: killing the unshare process kills the program with SIGKILL too.
class Program
{
public:
    explicit Program(const QString &dir) : m_dir(dir) { }
    ~Program() { kill(); }
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setWorkingDirectory(m_dir);
        m_process.start(QStringLiteral("unshare"),
            {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--kill-child"),
                QStringLiteral("--mount-proc"), m_dir + QStringLiteral("/vigilex-demo")});
        return m_process.waitForStarted(5000);
    }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill(); // SIGKILL to our own child; --kill-child passes it on to the program
        m_process.waitForFinished(5000);
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

private:
    QString m_dir;
    QProcess m_process;
};

bool copyProgram(const ScratchApp &app)
{
    const QString target = app.path(QStringLiteral("vigilex-demo"));
    return QFile::copy(buildBinDir() + QStringLiteral("/vigilex-demo"), target)
        && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Sends single notifications until one is stored (the program is up and listening), at most timeoutMs.
bool waitUntilStoring(const QString &db, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    const qint64 before = qMax<qint64>(0, countEvents(db).count);
    while (clock.elapsed() < timeoutMs) {
        UpsSim::sendNotification(QStringLiteral("v2c"), 4, QStringLiteral("udp:127.0.0.1:162"), 5000);
        QTest::qWait(300);
        if (countEvents(db).count > before)
            return true;
    }
    return false;
}
} // namespace

class TestKillFlood : public QObject
{
    Q_OBJECT

private slots:
    void killedMidFlood_data();
    void killedMidFlood();
};

void TestKillFlood::killedMidFlood_data()
{
    QTest::addColumn<int>("killAfter"); // rows seen by the reader during the flood before the kill
    QTest::newRow("early in the flood") << 30;
    QTest::newRow("deep in the flood") << 400;
}

void TestKillFlood::killedMidFlood()
{
    QFETCH(int, killAfter);
    ScratchApp app;
    QVERIFY(copyProgram(app));
    const QString db = app.path(QStringLiteral("cfg/vigilex.db"));
    // The flood comes from the address of a configured card, whose notifications are never held back.
    QVERIFY(QDir().mkpath(app.path(QStringLiteral("cfg"))));
    sqliteQuery(db, QLatin1String(Sql::createSession)
                        + QStringLiteral(" insert into snmp_session(date, ip, port, version, community) "
                                         "values(0, '127.0.0.1', 16999, 0, 'public');"));

    Program program(app.path());
    QVERIFY(program.start());
    QVERIFY2(waitUntilStoring(db, 15000), "the program never stored a notification");
    const qint64 atStart = countEvents(db).count;

    Peer flood;
    QVERIFY(flood.start({QStringLiteral("flood"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:162"),
        QStringLiteral("--count"), QStringLiteral("20000"), QStringLiteral("--numbers"), QStringLiteral("7,5,12"),
        QStringLiteral("--seconds"), QStringLiteral("20"), QStringLiteral("--pause"), QStringLiteral("0.0002")}));
    // Watch the rows grow from outside; the last reading before the kill is the set of returned inserts.
    EventCount seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000) {
        const EventCount now = countEvents(db);
        if (now.count >= 0)
            seen = now;
        if (seen.count >= atStart + killAfter)
            break;
    }
    QVERIFY2(seen.count >= atStart + killAfter,
        qPrintable(QStringLiteral("only %1 rows stored during the flood").arg(seen.count - atStart)));
    QVERIFY(program.isRunning());
    program.kill();
    QVERIFY(!program.isRunning());
    flood.stop();

    QCOMPARE(sqliteQuery(db, QStringLiteral("pragma integrity_check;")), QStringLiteral("ok"));
    // Ids are handed out in order and nothing is deleted below the cap: the rows seen are ids 1..maxId.
    QCOMPARE(seen.maxId, seen.count);
    const QString kept
        = sqliteQuery(db, QStringLiteral("select count(*) from snmp_event where id <= %1;").arg(seen.maxId));
    QCOMPARE(kept, QString::number(seen.count));
    const EventCount after = countEvents(db);
    QVERIFY(after.count >= seen.count);
    std::printf("killed after %lld rows seen (%lld during the flood); %lld rows after the kill\n", seen.count,
        seen.count - atStart, after.count);
    std::fflush(stdout);

    // The program starts again on the same database and goes on storing after the rows it had.
    Program again(app.path());
    QVERIFY(again.start());
    QVERIFY2(waitUntilStoring(db, 15000), "the restarted program never stored a notification");
    again.kill();
    QCOMPARE(sqliteQuery(db, QStringLiteral("pragma integrity_check;")), QStringLiteral("ok"));
    QVERIFY(countEvents(db).count > after.count);
    QVERIFY(!QFile::exists(app.path(QStringLiteral("demo-shutdown-requests.txt"))));
}

VIGILEX_NETNS_TEST_MAIN(TestKillFlood)

#include "tst_killflood.moc"
