#include "policyrig.h"

#include "storage/apppaths.h"
#include "storage/settings.h"

#include <QFile>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <climits>

using namespace PolicyText;

// The decisions of the shutdown policy from the data reports alone, with the shutdown application disabled. The
// transitions are played twice: with every report, and with only those the engine hands over (no unchanged
// report of a card in order); the decisions must be the same.
class TestShutdownPolicy : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { guardShutdownBackend(); }
    void cleanup() { QCOMPARE(leakedShutdownRequests(), 0); }

    void transitions_data();
    void transitions();
    void settingsAreReadAtTheMomentOfUse();
    void longCountdown_data();
    void longCountdown();
    void refusedPowerOffStaysDue_data();
    void refusedPowerOffStaysDue();
    void resumeAfterRestart_data();
    void resumeAfterRestart();
};

namespace {
// A minute of 100 ms: every wait in the table keeps two "minutes" away from an expiry, so a busy machine
// does not change the outcome.
constexpr qint64 Minute = 100;

const QString Normal = QStringLiteral("2.0.2.100");

QStringList conditions(int battLow, int acFailed, int capacity)
{
    return {QStringLiteral("shutdown/batt_low_time=%1").arg(battLow),
        QStringLiteral("shutdown/ac_failed_time=%1").arg(acFailed),
        QStringLiteral("shutdown/ac_failed_capacity=%1").arg(capacity)};
}
} // namespace

void TestShutdownPolicy::transitions_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("counting");
    QTest::addColumn<int>("timerMinutes"); // -1: stopped

    const QStringList c552 = conditions(5, 5, 20);

    QTest::newRow("mains fails at 80%, returns after 2 minutes: cancelled") << c552
            + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+2"), QStringLiteral("2.0.2.80"),
                QStringLiteral("+5")} << QStringList {countdown("5.0"), canceled()}
                                                                            << 0 << false << -1;
    QTest::newRow("mains fails at 80% and stays failed: shutdown at expiry")
        << c552 + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+7")}
        << QStringList {countdown("5.0")} << 1 << false << -1;
    QTest::newRow("mains failed for 30, battery low for 5: shortened")
        << conditions(5, 30, 0) + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("3.1.3.60")}
        << QStringList {countdown("30.0"), countdown("5.0")} << 0 << true << 5;
    QTest::newRow("mains failed for 30, battery low for 60: unchanged")
        << conditions(60, 30, 0) + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("3.1.3.60")}
        << QStringList {countdown("30.0")} << 0 << true << 30;
    QTest::newRow("equal length never replaces")
        << conditions(5, 5, 0) + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("3.1.3.60")}
        << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("first report both, battery 10 mains 3: the shorter")
        << conditions(10, 3, 0) + QStringList {QStringLiteral("3.1.3.80")} << QStringList {countdown("3.0")} << 0
        << true << 3;
    QTest::newRow("first report both, battery 3 mains 10: the shorter")
        << conditions(3, 10, 0) + QStringList {QStringLiteral("3.1.3.80")} << QStringList {countdown("3.0")} << 0
        << true << 3;
    QTest::newRow("both times 0: no countdown")
        << conditions(0, 0, 0) + QStringList {Normal, QStringLiteral("3.1.3.80"), QStringLiteral("+2")} << QStringList()
        << 0 << false << -1;
    QTest::newRow("mains time 0 leaves the battery time of the same report")
        << conditions(5, 0, 0) + QStringList {Normal, QStringLiteral("3.1.3.80")} << QStringList {countdown("5.0")} << 0
        << true << 5;
    QTest::newRow("negative battery time, valid mains time in the same report")
        << conditions(-5, 4, 0) + QStringList {Normal, QStringLiteral("3.1.3.80")} << QStringList {countdown("4.0")}
        << 0 << true << 4;
    QTest::newRow("negative battery time alone: no countdown")
        << conditions(-5, 4, 0) + QStringList {Normal, QStringLiteral("3.0.3.80")} << QStringList() << 0 << false << -1;
    QTest::newRow("no settings at all: nothing")
        << QStringList {Normal, QStringLiteral("3.1.3.0"), QStringLiteral("+1")} << QStringList() << 0 << false << -1;
    QTest::newRow("time that is no number: off")
        << QStringList {QStringLiteral("shutdown/ac_failed_time=five"), Normal, QStringLiteral("2.1.3.80")}
        << QStringList() << 0 << false << -1;
    QTest::newRow("battery low with mains normal counts as trouble")
        << c552 + QStringList {Normal, QStringLiteral("3.0.2.40")} << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("any input status other than 0 is a mains failure")
        << c552 + QStringList {Normal, QStringLiteral("2.2.3.80")} << QStringList {countdown("5.0")} << 0 << true << 5;

    // The capacity rule, in the same report and without waiting.
    // The step has begun in that report: the countdown the same report offers is no longer shown.
    QTest::newRow("capacity 19 below 20: at once")
        << c552 + QStringList {Normal, QStringLiteral("2.1.3.19")} << QStringList() << 1 << false << -1;
    QTest::newRow("capacity 20 not below 20")
        << c552 + QStringList {Normal, QStringLiteral("2.1.3.20")} << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("capacity rule on a later report with the mains already failed")
        << conditions(0, 0, 20) + QStringList {Normal, QStringLiteral("2.1.3.40"), QStringLiteral("2.1.3.19")}
        << QStringList() << 1 << false << -1;
    QTest::newRow("capacity rule fires on every report, the step runs once") << conditions(0, 0, 20)
            + QStringList {Normal, QStringLiteral("2.1.3.10"), QStringLiteral("2.1.3.9"), QStringLiteral("2.1.3.8")}
                                                                             << QStringList() << 1 << false << -1;
    QTest::newRow("low capacity with mains normal: no rule")
        << conditions(0, 0, 20) + QStringList {Normal, QStringLiteral("3.0.3.5")} << QStringList() << 0 << false << -1;
    QTest::newRow("capacity byte 200 is no percentage: no rule")
        << conditions(0, 0, 20) + QStringList {Normal, QStringLiteral("2.1.3.200")} << QStringList() << 0 << false
        << -1;
    QTest::newRow("capacity 101 is no percentage: no rule")
        << conditions(0, 0, 200) + QStringList {Normal, QStringLiteral("2.1.3.101")} << QStringList() << 0 << false
        << -1;
    // Out of 1..100 by hand: read as the default 20, never as "any capacity shuts down at once".
    QTest::newRow("hand-edited threshold 101 reads as 20")
        << conditions(0, 0, 101) + QStringList {Normal, QStringLiteral("2.1.3.100"), QStringLiteral("2.1.3.19")}
        << QStringList() << 1 << false << -1;
    QTest::newRow("rule off: capacity byte 255 (signed -1) with no threshold stored")
        << QStringList {Normal, QStringLiteral("2.1.3.255")} << QStringList() << 0 << false << -1;
    QTest::newRow("rule off: capacity byte 200 (signed -56) with threshold -5")
        << conditions(0, 0, -5) + QStringList {Normal, QStringLiteral("2.1.3.200")} << QStringList() << 0 << false
        << -1;
    QTest::newRow("capacity threshold 0: rule off")
        << conditions(0, 0, 0) + QStringList {Normal, QStringLiteral("2.1.3.0")} << QStringList() << 0 << false << -1;

    // Each card keeps its own last report.
    QTest::newRow("two cards, one failed one normal, in turn: runs out") << conditions(5, 1, 0)
            + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:") + Normal, QStringLiteral("A:2.1.3.80"),
                QStringLiteral("B:") + Normal, QStringLiteral("+0.5"), QStringLiteral("A:2.1.3.79"),
                QStringLiteral("B:") + Normal, QStringLiteral("+2")} << QStringList {countdown("1.0")}
                                                                         << 1 << false << -1;
    QTest::newRow("both failed, one back: no cancel") << c552
            + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:2.1.3.80"), QStringLiteral("A:") + Normal}
                                                      << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("three cards, the last one back cancels")
        << c552
            + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:3.0.3.40"), QStringLiteral("C:") + Normal,
                QStringLiteral("A:") + Normal, QStringLiteral("C:") + Normal, QStringLiteral("B:") + Normal}
        << QStringList {countdown("5.0"), canceled()} << 0 << false << -1;
    QTest::newRow("a second card failing later offers its shorter time") << conditions(5, 5, 0)
            + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("shutdown/batt_low_time=2"),
                QStringLiteral("B:3.0.3.40")} << QStringList {countdown("5.0"), countdown("2.0")}
                                                                         << 0 << true << 2;
    QTest::newRow("a silent card keeps its trouble while another reports normal")
        << c552
            + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:") + Normal, QStringLiteral("B:") + Normal}
        << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("removing the failed card cancels")
        << c552 + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:") + Normal, QStringLiteral("-A")}
        << QStringList {countdown("5.0"), canceled()} << 0 << false << -1;
    QTest::newRow("removing a normal card changes nothing")
        << c552 + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("B:") + Normal, QStringLiteral("-B")}
        << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("a replaced card reports afresh")
        << c552 + QStringList {QStringLiteral("A:2.1.3.80"), QStringLiteral("-A"), QStringLiteral("A:2.1.3.80")}
        << QStringList {countdown("5.0"), canceled(), countdown("5.0")} << 0 << true << 5;

    // A value the answer did not carry is unknown: it neither starts nor ends anything.
    QTest::newRow("input missing mid-countdown keeps it") << c552
            + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("2.x.3.80"), QStringLiteral("x.x.x.x"),
                QStringLiteral("2.1.3.80")} << QStringList {countdown("5.0")}
                                                          << 0 << true << 5;
    QTest::newRow("missing capacity never fires")
        << conditions(0, 0, 20) + QStringList {Normal, QStringLiteral("2.1.3.x")} << QStringList() << 0 << false << -1;
    QTest::newRow("missing capacity keeps the last known one")
        << conditions(0, 0, 20) + QStringList {QStringLiteral("2.1.3.50"), QStringLiteral("2.1.3.x")} << QStringList()
        << 0 << false << -1;
    QTest::newRow("unknown input from the start is no trouble")
        << c552 + QStringList {QStringLiteral("2.x.3.10"), QStringLiteral("x.x.x.x")} << QStringList() << 0 << false
        << -1;
    QTest::newRow("battery back while the mains stays failed: countdown kept")
        << conditions(5, 10, 0) + QStringList {Normal, QStringLiteral("3.1.3.50"), QStringLiteral("2.1.3.50")}
        << QStringList {countdown("5.0")} << 0 << true << 5;
    QTest::newRow("unchanged reports do not restart the countdown") << c552
            + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+3"), QStringLiteral("2.1.3.79"),
                QStringLiteral("+3")} << QStringList {countdown("5.0")}
                                                                    << 1 << false << -1;
    // Rules that act on every report: the engine confirms each unchanged answer of a card in trouble.
    QTest::newRow("threshold raised during an outage: the next unchanged report runs the step") << conditions(0, 0, 0)
            + QStringList {Normal, QStringLiteral("2.1.3.50"), QStringLiteral("2.1.3.50"),
                QStringLiteral("shutdown/ac_failed_capacity=60"), QStringLiteral("2.1.3.50")} << QStringList()
                                                                                                << 1 << false << -1;
    QTest::newRow("threshold raised while the input status is not reported: the last known failure counts")
        << conditions(0, 0, 0)
            + QStringList {Normal, QStringLiteral("2.1.3.50"), QStringLiteral("2.x.3.50"), QStringLiteral("2.x.3.50"),
                QStringLiteral("shutdown/ac_failed_capacity=60"), QStringLiteral("2.x.3.50")}
        << QStringList() << 1 << false << -1;
    QTest::newRow("threshold raised with the mains normal: nothing") << conditions(0, 0, 0)
            + QStringList {QStringLiteral("2.0.2.50"), QStringLiteral("2.0.2.50"),
                QStringLiteral("shutdown/ac_failed_capacity=60"), QStringLiteral("2.0.2.50")}
                                                                     << QStringList() << 0 << false << -1;
    QTest::newRow("a report shorter than four bytes is ignored")
        << c552 + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("2.0")}
        << QStringList {countdown("5.0")} << 0 << true << 5;

    // Once the step has begun, the shutdown goes ahead.
    QTest::newRow("after expiry the end of trouble shows no cancel")
        << c552 + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+7"), Normal}
        << QStringList {countdown("5.0")} << 1 << false << -1;
    QTest::newRow("after expiry a new failure starts no new countdown") << c552
            + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+6"), Normal, QStringLiteral("+1"),
                QStringLiteral("2.1.3.80"), QStringLiteral("+6")} << QStringList {countdown("5.0")}
                                                                        << 1 << false << -1;
    QTest::newRow("after expiry a shorter offer changes nothing") << conditions(1, 3, 0)
            + QStringList {Normal, QStringLiteral("2.1.3.80"), QStringLiteral("+4"), QStringLiteral("3.1.3.80"),
                QStringLiteral("+3")} << QStringList {countdown("3.0")}
                                                                  << 1 << false << -1;

    // Followers go down first: the forced shutdown is raised on the cards in trouble, and the application waits
    // until they have logged out or nut/fsd_wait seconds (of the short minute) have passed.
    const QStringList failing {QStringLiteral("u1:2.0.2.100"), QStringLiteral("u1:2.1.3.80")};
    QTest::newRow("forced shutdown, no follower logged in: at once")
        << c552 + QStringList {QStringLiteral("nut/fsd_wait=300"), QStringLiteral("@followers 0")} + failing
            + QStringList {QStringLiteral("+6")}
        << QStringList {countdown("5.0")} << 1 << false << -1;
    QTest::newRow("forced shutdown, the followers log out: on the last logout")
        << c552 + QStringList {QStringLiteral("nut/fsd_wait=300"), QStringLiteral("@followers 2")} + failing
            + QStringList {QStringLiteral("+5.5"), QStringLiteral("@requests 0"), QStringLiteral("@followers 1"),
                QStringLiteral("@requests 0"), QStringLiteral("@followers 0"), QStringLiteral("+0.2")}
        << QStringList {countdown("5.0"), forcedRaised("u1", 300, 2), followersLeft()} << 1 << false << -1;
    QTest::newRow("forced shutdown, a follower never leaves: after the bound")
        << c552 + QStringList {QStringLiteral("nut/fsd_wait=120"), QStringLiteral("@followers 1")} + failing
            + QStringList {QStringLiteral("+5.5"), QStringLiteral("@requests 0"), QStringLiteral("+4")}
        << QStringList {countdown("5.0"), forcedRaised("u1", 120, 1), followersStayed(1, 120)} << 1 << false << -1;
    QTest::newRow("forced shutdown, a bound out of range reads as 15 s")
        << c552 + QStringList {QStringLiteral("nut/fsd_wait=301"), QStringLiteral("@followers 1")} + failing
            + QStringList {QStringLiteral("+7")}
        << QStringList {countdown("5.0"), forcedRaised("u1", 15, 1), followersStayed(1, 15)} << 1 << false << -1;
    QTest::newRow("forced shutdown, the capacity rule raises it once")
        << conditions(0, 0, 40)
            + QStringList {QStringLiteral("nut/fsd_wait=300"), QStringLiteral("@followers 1"),
                QStringLiteral("u1:2.1.3.40"), QStringLiteral("u1:2.1.3.39"), QStringLiteral("u1:2.1.3.38"),
                QStringLiteral("@followers 0"), QStringLiteral("+1"), QStringLiteral("u1:2.1.3.37")}
        << QStringList {forcedRaised("u1", 300, 1), followersLeft()} << 1 << false << -1;
    QTest::newRow("forced shutdown, the server is off: at once") << c552
            + QStringList {QStringLiteral("nut/fsd_wait=300"), QStringLiteral("@followers 2"), QStringLiteral("@off")}
            + failing + QStringList {QStringLiteral("+6")} << QStringList {countdown("5.0")}
                                                                 << 1 << false << -1;
    QTest::newRow("a follower's forced shutdown with the mains normal: at once")
        << c552 + QStringList {QStringLiteral("u1:2.0.2.100"), QStringLiteral("@fsd u1")}
        << QStringList {forcedAsked("ups-u1", "mon@127.0.0.2")} << 1 << false << -1;
    QTest::newRow("a follower's forced shutdown during a countdown: the other followers first")
        << c552 + QStringList {QStringLiteral("nut/fsd_wait=300")} + failing
            + QStringList {QStringLiteral("+1"), QStringLiteral("@followers 1"), QStringLiteral("@fsd u1"),
                QStringLiteral("@requests 0"), QStringLiteral("@fsd u1"), QStringLiteral("@followers 0"),
                QStringLiteral("+6")}
        << QStringList {countdown("5.0"), forcedAsked("ups-u1", "mon@127.0.0.2"), forcedRaised("u1", 300, 1),
               followersLeft()}
        << 1 << false << -1;
}

void TestShutdownPolicy::transitions()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, rows);
    QFETCH(int, requests);
    QFETCH(bool, counting);
    QFETCH(int, timerMinutes);

    for (const bool engineReports : {false, true}) {
        PolicyRig rig(Minute);
        rig.engineReports = engineReports;
        const auto tell = qScopeGuard([engineReports] {
            if (QTest::currentTestFailed())
                qWarning(engineReports ? "with the reports the engine hands over" : "with every report");
        });
        rig.run(steps);

        // A request that is due after a wait may come late on a busy machine; one due in a report is immediate.
        if (steps.last().startsWith(QLatin1Char('+')))
            QTRY_COMPARE_WITH_TIMEOUT(rig.requests, requests, 5000);
        QCOMPARE(rig.messages, rows);
        QCOMPARE(rig.requests, requests);
        QCOMPARE(rig.policy.countdownActive(), counting);
        QCOMPARE(rig.policy.shutdownTimer()->isActive(), timerMinutes >= 0);
        if (timerMinutes >= 0) {
            QCOMPARE(rig.policy.shutdownTimer()->interval(), int(timerMinutes * Minute));
            QVERIFY(!rig.policy.shutdownTimer()->isSingleShot());
        }
    }
}

void TestShutdownPolicy::settingsAreReadAtTheMomentOfUse()
{
    PolicyRig rig(Minute);
    rig.conditions(5, 5, 0);
    rig.report(2, 0, 2, 100);
    rig.set(QStringLiteral("shutdown/ac_failed_time"), 7);
    rig.report(2, 1, 3, 80);
    QCOMPARE(rig.messages, QStringList {countdown("7.0")});

    rig.set(QStringLiteral("shutdown/ac_failed_capacity"), 50);
    rig.report(2, 1, 3, 49);
    QCOMPARE(rig.requests, 1);
}

void TestShutdownPolicy::longCountdown_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("intervals"); // how many timer expiries make up the countdown

    QTest::newRow("35791 minutes fit one interval") << 35791 << 1;
    QTest::newRow("35792 minutes need two") << 35792 << 2;
    QTest::newRow("50000 minutes need two") << 50000 << 2;
    QTest::newRow("200000 minutes need six") << 200000 << 6;
}

// Real minutes: a hand-edited countdown beyond 32-bit milliseconds must neither fire at once nor early.
void TestShutdownPolicy::longCountdown()
{
    QFETCH(int, minutes);
    QFETCH(int, intervals);

    PolicyRig rig(60000);
    rig.conditions(0, minutes, 0);
    rig.report(2, 0, 2, 100);
    rig.report(2, 1, 3, 80);

    const qint64 total = qint64(minutes) * 60000;
    QTimer *timer = rig.policy.shutdownTimer();
    QVERIFY(rig.policy.countdownActive());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), int(qMin<qint64>(total, INT_MAX)));
    QVERIFY(rig.policy.remainingMs() > total - 1000);
    QVERIFY(rig.policy.remainingMs() <= total);
    QCOMPARE(rig.messages,
        QStringList {QStringLiteral("System will be shutdown in %1 minute(s)")
                         .arg(QString::number(minutes) + QStringLiteral(".0"))});

    // Nothing fires by itself soon after the start.
    QTest::qWait(50);
    QCOMPARE(rig.requests, 0);

    // Play the expiries of the timer: only the last one is the end of the countdown.
    for (int i = 1; i < intervals; ++i) {
        rig.policy.onOffAPPTimeout();
        QCOMPARE(rig.requests, 0);
        QVERIFY(rig.policy.countdownActive());
        QVERIFY(timer->isActive());
        QVERIFY(timer->interval() > 0);
    }
    QVERIFY(rig.policy.remainingMs() <= INT_MAX);
    rig.policy.onOffAPPTimeout();
    QCOMPARE(rig.requests, 1);
    QVERIFY(!rig.policy.countdownActive());

    // A shorter offer still shortens a long countdown that has several intervals to go.
    PolicyRig second(60000);
    second.conditions(100, minutes, 0);
    second.report(2, 1, 3, 80);
    second.report(3, 1, 3, 80);
    QCOMPARE(second.policy.shutdownTimer()->interval(), 100 * 60000);
    QVERIFY(second.policy.remainingMs() <= 100 * 60000);
}

void TestShutdownPolicy::refusedPowerOffStaysDue_data()
{
    QTest::addColumn<bool>("application");
    QTest::newRow("no application") << false;
    QTest::newRow("with an application, run again in the next outage") << true;
}

// logind says no: the reason stands as one row, the request is made again every minute while the card is on
// battery (never a second one in flight), and the mains coming back arms the protection for the next outage.
void TestShutdownPolicy::refusedPowerOffStaysDue()
{
    QFETCH(bool, application);
    PolicyRig rig(Minute);
    const QString refusal = QStringLiteral("System shutdown refused by logind: Access denied");
    rig.refusal = refusal;
    rig.conditions(0, 0, 20);
    rig.set(QStringLiteral("system/shutdown_app_enable"), application);
    rig.set(QStringLiteral("system/shutdown_app"), rig.script(QStringLiteral("exit 0")));
    const QStringList started = application ? QStringList {starting()} : QStringList();

    rig.report(2, 0, 2, 100);
    rig.report(2, 1, 3, 10);
    QTRY_VERIFY_WITH_TIMEOUT(rig.policy.shutdownDue(), 5000);
    QCOMPARE(rig.requests, 1);
    QCOMPARE(rig.policy.retryTimer()->interval(), int(Minute));
    rig.report(2, 1, 3, 9);
    QTRY_VERIFY_WITH_TIMEOUT(rig.requests >= 3, 5000);
    QCOMPARE(rig.messages, started + QStringList {refusal});
    QVERIFY(rig.policy.requestInFlight() || rig.policy.shutdownDue());

    rig.report(2, 0, 2, 40);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.policy.shutdownCommitted(), 5000);
    const int requests = rig.requests;
    QCOMPARE(rig.messages, (started + QStringList {refusal, noLongerDue()}));
    QVERIFY(!rig.policy.retryTimer()->isActive());
    QTest::qWait(int(3 * Minute));
    QCOMPARE(rig.requests, requests);

    // The next outage runs the whole sequence again.
    rig.refusal.clear();
    rig.report(2, 1, 3, 10);
    QTRY_COMPARE_WITH_TIMEOUT(rig.requests, requests + 1, 5000);
    QCOMPARE(rig.messages.count(starting()), application ? 2 : 0);
}

void TestShutdownPolicy::resumeAfterRestart_data()
{
    QTest::addColumn<int>("minutes"); // the countdown before the restart
    QTest::addColumn<double>("away"); // minutes between the failure and the restart
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("report"); // the first report after the restart, empty for none
    QTest::addColumn<bool>("resumed");
    QTest::addColumn<int>("requests"); // right after the report (or the grace)
    QTest::addColumn<bool>("cancels");

    QTest::newRow("restart within the countdown arms for what is left")
        << 20 << 4.0 << QStringLiteral("A") << QStringLiteral("2.1.3.80") << true << 0 << false;
    QTest::newRow("trouble over after the restart cancels")
        << 20 << 4.0 << QStringLiteral("A") << QStringLiteral("2.0.2.80") << true << 0 << true;
    QTest::newRow("run out meanwhile, a report confirms it: at once")
        << 1 << 3.0 << QStringLiteral("A") << QStringLiteral("2.1.3.80") << true << 1 << false;
    QTest::newRow("run out meanwhile, the card stays silent: after the grace")
        << 1 << 3.0 << QStringLiteral("A") << QString() << true << 1 << false;
    QTest::newRow("run out meanwhile, the mains is back: cancelled")
        << 1 << 3.0 << QStringLiteral("A") << QStringLiteral("2.0.2.80") << true << 0 << true;
    QTest::newRow("the card was removed meanwhile: nothing")
        << 1 << 3.0 << QStringLiteral("B") << QStringLiteral("2.0.2.80") << false << 0 << false;
}

// The program dies during a countdown (Restart=on-failure brings it back): the deadline is kept on disk.
void TestShutdownPolicy::resumeAfterRestart()
{
    QFETCH(int, minutes);
    QFETCH(double, away);
    QFETCH(QString, listed);
    QFETCH(QString, report);
    QFETCH(bool, resumed);
    QFETCH(int, requests);
    QFETCH(bool, cancels);

    PolicyRig rig(Minute);
    rig.conditions(0, minutes, 0);
    {
        // The run before the restart, gone without cleaning up as a killed process would be.
        ShutdownPolicy before;
        before.setMinuteMs(Minute);
        before.setStatePath(rig.policy.statePath());
        before.setShutdownHandler([] { QFAIL("the run before the restart must not shut down"); });
        before.checkShutdownCondition(QStringLiteral("A"), QByteArray("\x02\x00\x02\x50\x0f", 5));
        before.checkShutdownCondition(QStringLiteral("A"), QByteArray("\x02\x01\x03\x50\x0f", 5));
        QVERIFY(QFile::exists(AppPaths::shutdownStatePath()));
        before.disconnect();
        before.shutdownTimer()->stop();
    }
    QTest::qWait(int(away * Minute));

    QCOMPARE(rig.policy.resume({listed}), resumed);
    QCOMPARE(rig.policy.countdownActive(), resumed);
    if (resumed && minutes * Minute > away * Minute) {
        const qint64 left = rig.policy.remainingMs();
        QVERIFY2(left <= (minutes - away) * Minute && left > (minutes - away - 1) * Minute,
            qPrintable(QString::number(left)));
    }
    if (!report.isEmpty())
        rig.run({listed + QLatin1Char(':') + report});
    else
        QTRY_COMPARE_WITH_TIMEOUT(rig.requests, requests, 5000);
    QCOMPARE(rig.requests, requests);
    QCOMPARE(rig.messages.contains(canceled()), cancels);
    QCOMPARE(QFile::exists(AppPaths::shutdownStatePath()), resumed && !cancels);
    if (resumed && !cancels && requests == 0) {
        // Still due: it runs out at the old deadline, not a full countdown after the restart.
        QTRY_COMPARE_WITH_TIMEOUT(rig.requests, 1, 5000);
        QVERIFY2(rig.requestTimes.first() < (minutes + away - 1) * Minute,
            qPrintable(QString::number(rig.requestTimes.first())));
    }
}

QTEST_GUILESS_MAIN(TestShutdownPolicy)
#include "tst_shutdownpolicy.moc"
