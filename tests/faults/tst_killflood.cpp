// The program (the demo build, which records a due shutdown instead of asking for one) killed with SIGKILL in the
// middle of a notification flood from a card. A batch has been committed when an independent reader sees its
// rows; every row a reader saw before the kill must be there afterwards, the database must pass its integrity
// check, and the program must start again on it and go on storing. And the same kill during a storm of informs
// from several snmpinform senders: every inform a sender saw acknowledged is in the database.
#include "support/faultkit.h"

#include "storage/statements.h"

#include "support/netns.h"
#include "support/scratchapp.h"
#include "support/upssim.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
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

// The program in a scratch installation that lists one card at 127.0.0.1.
bool installWithListedCard(ScratchApp &app)
{
    if (!copyProgram(app) || !QDir().mkpath(app.path(QStringLiteral("cfg"))))
        return false;
    sqliteQuery(app.path(QStringLiteral("cfg/vigilex.db")),
        QLatin1String(Sql::createSession)
            + QStringLiteral(" insert into snmp_session(date, ip, port, version, community) "
                             "values(0, '127.0.0.1', 16999, 0, 'public');"));
    return true;
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

// A card's snmpinform senders in a loop, each inform naming a notification number of its own (first + i), which
// the sender writes to its file once the inform was acknowledged. Bounded by count and time.
class InformSenders
{
public:
    explicit InformSenders(const QString &dir) : m_dir(dir) { }
    ~InformSenders() { stop(); }
    void start(int senders, int count)
    {
        for (int k = 0; k < senders; ++k) {
            auto *p = new QProcess;
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const QString script
                = QStringLiteral("end=$((SECONDS + 30)); for i in $(seq %1 %2); do [ $SECONDS -lt $end ] || break; "
                                 "snmpinform -v2c -c public -r 5 -t 1 udp:127.0.0.1:162 '' 1.3.6.1.4.1.935.0.$i "
                                 ">/dev/null 2>&1 && echo $i >> %3; done")
                      .arg(first(k))
                      .arg(first(k) + count - 1)
                      .arg(file(k));
            p->start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
            m_processes.append(p);
        }
    }
    // The loops end at once; an inform in flight then is not counted as acknowledged.
    void stop()
    {
        for (QProcess *p : qAsConst(m_processes)) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
        m_processes.clear();
    }
    QSet<qint64> acknowledged(int senders) const
    {
        QSet<qint64> numbers;
        for (int k = 0; k < senders; ++k) {
            QFile f(file(k));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : f.readAll().split('\n')) {
                if (!line.trimmed().isEmpty())
                    numbers.insert(line.trimmed().toLongLong());
            }
        }
        return numbers;
    }

private:
    static qint64 first(int k) { return (k + 1) * 100000; }
    QString file(int k) const { return m_dir + QStringLiteral("/acknowledged-%1.txt").arg(k); }
    QString m_dir;
    QList<QProcess *> m_processes;
};
} // namespace

class TestKillFlood : public QObject
{
    Q_OBJECT

private slots:
    void killedMidFlood_data();
    void killedMidFlood();
    void killedMidInformStorm();
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
    // The flood comes from the address of a configured card, whose notifications are never held back.
    QVERIFY(installWithListedCard(app));
    const QString db = app.path(QStringLiteral("cfg/vigilex.db"));

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

void TestKillFlood::killedMidInformStorm()
{
    constexpr int kills = 8, senders = 4;
    qint64 acknowledgedInAll = 0, storedInAll = 0;
    for (int trial = 0; trial < kills; ++trial) {
        ScratchApp app;
        QVERIFY(installWithListedCard(app));
        const QString db = app.path(QStringLiteral("cfg/vigilex.db"));
        Program program(app.path());
        QVERIFY(program.start());
        QVERIFY2(waitUntilStoring(db, 15000), "the program never stored a notification");

        InformSenders storm(app.path());
        storm.start(senders, 2000);
        // A moment anywhere in the storm, once informs flow.
        QTest::qWait(800 + QRandomGenerator::global()->bounded(2000));
        QVERIFY(program.isRunning());
        program.kill();
        storm.stop();

        const QSet<qint64> acknowledged = storm.acknowledged(senders);
        QSet<qint64> stored;
        const QString rows = sqliteQuery(db, QStringLiteral("select event - 1 from snmp_event where event > 100000;"));
        for (const QString &line : rows.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            stored.insert(line.trimmed().toLongLong());
        QSet<qint64> lost = acknowledged;
        lost.subtract(stored);
        std::printf("kill %d: %d informs acknowledged, %d stored, %d acknowledged but not stored\n", trial + 1,
            int(acknowledged.size()), int(stored.size()), int(lost.size()));
        std::fflush(stdout);
        QVERIFY2(acknowledged.size() > 0, "no inform was acknowledged before the kill");
        QVERIFY2(lost.isEmpty(), qPrintable(QStringLiteral("%1 acknowledged informs not stored").arg(lost.size())));
        acknowledgedInAll += acknowledged.size();
        storedInAll += stored.size();
    }
    std::printf("inform storm over %d kills: %lld acknowledged, all of them stored (%lld stored in all)\n", kills,
        acknowledgedInAll, storedInAll);
    std::fflush(stdout);
}

VIGILEX_NETNS_TEST_MAIN(TestKillFlood)

#include "tst_killflood.moc"
