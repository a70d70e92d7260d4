// 20000 notifications at 5000 per second from a card (an independent sender on the card's address) while pop-ups
// are on and every box is left open a while, as a person reading it would, once alone and once while a stranger
// floods too: every one of the card's notifications is stored, the stranger gets no more than its rate, the
// program's memory stays bounded, the lamp keeps following the card, and a mains failure during the flood starts
// the countdown within 2 s.
#include "support/facekit.h"
#include "support/faultkit.h"

#include "policy/shutdownpolicy.h"
#include "snmp/notificationgate.h"
#include "snmp/snmp.h"
#include "snmp/trapreader.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "support/upssim.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <cstdio>

using namespace FaceKit;
using namespace FaultKit;

namespace {
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 memoryGrowthLimitKiB = 600 * 1024; // the sanitizer's shadow and quarantine
#else
constexpr qint64 memoryGrowthLimitKiB = 150 * 1024;
#endif
// A stranger flooding at full speed on a machine busy with other work can outrun any reader: the kernel then
// drops datagrams at the full queue, a card's among them, and counts them. Only those may be missing, and the
// card may not fare much worse than the flood (twice the kernel's drop rate, and two datagrams); whatever
// reached the program must be stored.
qint64 cardLossAllowed(qint64 cardSent, qint64 strangerSent, qint64 kernelDrops)
{
    const qint64 sent = qMax<qint64>(1, cardSent + strangerSent);
    return qMin(kernelDrops, (2 * cardSent * kernelDrops + sent - 1) / sent + 2);
}
const QString local = QStringLiteral("127.0.0.1");
} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodWithPopupsOn_data();
    void floodWithPopupsOn();
};

void TestFlood::floodWithPopupsOn_data()
{
    QTest::addColumn<int>("cardCount");
    QTest::addColumn<int>("cardRate");
    QTest::addColumn<int>("strangerRate"); // 0 no stranger, -1 as fast as it can
    QTest::newRow("a card floods") << 20000 << 5000 << 0;
    QTest::newRow("a card floods while a stranger floods faster") << 20000 << 5000 << 15000;
    // The stranger's datagrams are dropped before they are parsed, so the socket never overflows.
    QTest::newRow("a card sends steadily while a stranger floods as fast as it can") << 200 << 50 << -1;
}

void TestFlood::floodWithPopupsOn()
{
    QFETCH(int, cardCount);
    QFETCH(int, cardRate);
    QFETCH(int, strangerRate);
    const bool stranger = strangerRate != 0;
    ScratchApp app;
    Database::instance()->createTables();
    Store::writeSetting(QStringLiteral("system/pop_warning"), true);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    Store::writeSetting(QStringLiteral("shutdown/batt_low_time"), 5);
    UpsSim card(QStringLiteral("udp:127.0.0.1:16221"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(local, 16221);

    // A real warning box runs a nested event loop until it is answered; each one here is answered after 1.5 s.
    PromptRecorder prompts([](const UserPrompt::Request &) {
        QEventLoop loop;
        QTimer::singleShot(1500, &loop, &QEventLoop::quit);
        loop.exec();
    });

    SNMP engine;
    engine.addHosts(HostTable::all());
    engine.startService();
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    window->setEngine(&engine);
    window->show();
    ListWidgetItem *item = window->findHostItem(local);
    QVERIFY(item);
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 6000);

    QElapsedTimer clock;
    clock.start();
    qint64 reports = 0, reportsDuringFlood = 0, floodStart = -1, floodEnd = -1, failedAt = -1, countdownAt = -1,
           redAt = -1, lastReport = -1, longestGap = 0;
    int events = 0;
    const qint64 baseline = residentKiB();
    const qint64 dropsBefore = udpDrops(162);
    qint64 peak = baseline;
    connect(&engine, &SNMP::eventTriggered, this, [&] {
        ++events;
        if ((events & 255) == 0)
            peak = qMax(peak, residentKiB());
    });
    // What the protection is told of the card: its changes, and while it is on battery each answer again.
    const auto noteReport = [&] {
        const qint64 now = clock.elapsed();
        ++reports;
        if (floodStart >= 0 && floodEnd < 0)
            ++reportsDuringFlood;
        if (lastReport >= 0 && floodStart >= 0)
            longestGap = qMax(longestGap, now - lastReport);
        lastReport = now;
        if (failedAt >= 0 && redAt < 0 && item->led()->color() == QColor(Qt::red))
            redAt = now;
        peak = qMax(peak, residentKiB());
    };
    connect(&engine, &SNMP::dataReady, this, noteReport);
    connect(&engine, &SNMP::dataConfirmed, this, noteReport);
    connect(window->shutdownPolicy(), &ShutdownPolicy::message, this, [&](const QString &text) {
        if (countdownAt < 0 && text.contains(QLatin1String("System will be shutdown in")))
            countdownAt = clock.elapsed();
    });

    // Everything below is driven by timers and signals: the boxes' nested loops may hold the test's own flow.
    Peer flood;
    Peer strangerFlood;
    QProcess state;
    bool stateSwitched = false;
    QTimer::singleShot(0, this, [&] {
        floodStart = clock.elapsed();
        flood.start({QStringLiteral("flood"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:162"),
            QStringLiteral("--count"), QString::number(cardCount), QStringLiteral("--numbers"),
            QStringLiteral("7,5,12,2,20"), QStringLiteral("--seconds"), QStringLiteral("20"), QStringLiteral("--rate"),
            QString::number(cardRate)});
        QStringList strangerArguments {QStringLiteral("flood"), QStringLiteral("--to"), QStringLiteral("127.0.0.1:162"),
            QStringLiteral("--bind"), QStringLiteral("127.0.0.2"), QStringLiteral("--numbers"), QStringLiteral("30"),
            QStringLiteral("--seconds"), QStringLiteral("4")};
        if (strangerRate > 0)
            strangerArguments << QStringLiteral("--count") << QStringLiteral("50000") << QStringLiteral("--rate")
                              << QString::number(strangerRate);
        else
            strangerArguments << QStringLiteral("--count") << QStringLiteral("10000000");
        if (stranger)
            strangerFlood.start(strangerArguments);
    });
    QTimer::singleShot(300, this, [&] {
        connect(&state, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, [&](int code) {
            stateSwitched = code == 0;
            failedAt = clock.elapsed(); // the card's next answer shows the failure
        });
        state.start(QStringLiteral("python3"),
            {UpsSim::script(), QStringLiteral("state"), card.directory(), QStringLiteral("mains-failure")});
    });
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        peak = qMax(peak, residentKiB());
        if (floodStart >= 0 && floodEnd < 0 && !flood.isRunning())
            floodEnd = clock.elapsed();
    });
    sampler.start(100);

    QTRY_VERIFY_WITH_TIMEOUT(floodEnd >= 0 && failedAt >= 0 && countdownAt >= 0 && redAt >= 0, 45000);
    // Let the backlog drain and the boxes close, then look at the whole run.
    QTRY_VERIFY_WITH_TIMEOUT(prompts.open == 0 && clock.elapsed() > floodEnd + 3000, 30000);
    const int sent = flood.waitSent(1000);
    const int strangerSent = stranger ? strangerFlood.waitSent(5000) : 0;
    const QString db = AppPaths::databasePath();
    const QString cardStored
        = QStringLiteral("select count(*) from snmp_event where host = '127.0.0.1' and event in (8, 6, 13, 3, 21);");
    const qint64 kernelDrops = udpDrops(162) - dropsBefore;
    const int cardMinimum = sent - int(cardLossAllowed(sent, strangerSent, kernelDrops));
    QTRY_VERIFY2_WITH_TIMEOUT(sqliteQuery(db, cardStored).toInt() >= cardMinimum,
        qPrintable(QStringLiteral("%1 of %2 stored, %3 dropped by the kernel")
                .arg(sqliteQuery(db, cardStored)).arg(sent).arg(kernelDrops)),
        20000);
    QTest::qWait(200);
    QVERIFY2(sqliteQuery(db, cardStored).toInt() <= sent, qPrintable(sqliteQuery(db, cardStored)));
    const int strangerStored
        = sqliteQuery(db, QStringLiteral("select count(*) from snmp_event where host = '127.0.0.2';")).toInt();
    std::printf("flood: the card's %s of %d stored; the stranger sent %d, %d stored, %llu shed unparsed, %lld dropped "
                "by the kernel\n",
        qPrintable(sqliteQuery(db, cardStored)), sent, strangerSent, strangerStored, TrapReader::shedCount(),
        static_cast<long long>(kernelDrops));
    QVERIFY(strangerStored <= NotificationGate::foreignBurst + NotificationGate::foreignPerSecond * 6);
    const qint64 reaction = countdownAt - failedAt;
    std::printf("flood: sent %d, events received %d, warnings %d (at most %d open), data reports %lld (%lld while "
                "flooding, longest gap %lld ms), flood %lld ms, countdown %lld ms after the mains failure, lamp red "
                "after %lld ms, memory %lld KiB -> peak %lld KiB\n",
        sent, events, int(prompts.requests.size()), prompts.maxOpen, reports, reportsDuringFlood, longestGap,
        floodEnd - floodStart, reaction, redAt - failedAt, baseline, peak);
    std::fflush(stdout);
    QVERIFY(stateSwitched);
    QVERIFY(sent > 0);
    QVERIFY(events > 0);
    QVERIFY2(reaction <= 2000, qPrintable(QStringLiteral("countdown %1 ms after the mains failure").arg(reaction)));
    QVERIFY2(redAt - failedAt <= 2500, qPrintable(QStringLiteral("lamp red after %1 ms").arg(redAt - failedAt)));
    QVERIFY2(longestGap <= 2500, qPrintable(QStringLiteral("no data report for %1 ms").arg(longestGap)));
    QVERIFY2(peak - baseline < memoryGrowthLimitKiB,
        qPrintable(QStringLiteral("memory grew by %1 KiB").arg(peak - baseline)));
    QVERIFY(prompts.maxOpen <= 3);
    QCOMPARE(shutdowns, 0);
    // Still answering after the flood: one more notification is stored.
    const int before = Store::events().size();
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 9, QStringLiteral("udp:127.0.0.1:162")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(Store::events().size() > before, 5000);
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestFlood)

#include "tst_flood.moc"
