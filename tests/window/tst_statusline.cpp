#include "support/scratchapp.h"
#include "ui/language.h"
#include "ui/statusline.h"

#include <QtTest>

#include <memory>

// The line above the host list, computed from what a backend knows: the same words for both faces.
class TestStatusLine : public QObject
{
    Q_OBJECT

private slots:
    // The plural forms of English come from en.qm, as in the program.
    void initTestCase()
    {
        app = std::make_unique<ScratchApp>();
        Language::instance()->setLanguage(Language::English);
    }
    void cleanupTestCase()
    {
        delete Language::instance();
        app.reset();
    }
    void text_data();
    void text();
    void chinese();

private:
    std::unique_ptr<ScratchApp> app;
};

namespace {
// A card as the backend lists it: "ip=status" with status "?" (no report yet), "off", "on", "mains" (on
// battery), "low" (battery low), "lost" (mains failed, but the card answers no more).
CardState cardOf(const QString &spec)
{
    CardState card;
    card.host = spec.section(QLatin1Char('='), 0, 0);
    const QString state = spec.section(QLatin1Char('='), 1);
    if (state == QLatin1String("?"))
        return card;
    card.status = state == QLatin1String("off") || state == QLatin1String("lost") ? Snmp::Offline : Snmp::Online;
    const char input = state == QLatin1String("mains") || state == QLatin1String("lost") ? 1 : 0;
    const char battery = state == QLatin1String("low") ? Snmp::BatteryLow : Snmp::BatteryNormal;
    const char data[] = {battery, input, 2, 80};
    card.data = QByteArray(data, 4);
    return card;
}
} // namespace

void TestStatusLine::text_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("cards");
    QTest::addColumn<qint64>("countdownMs");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    // The tray: its state and the tooltip's summary under the program's name.
    QTest::addColumn<int>("tray");
    QTest::addColumn<QString>("summary");

    const int shield = int(StatusLine::Tray::Protected);
    const int trouble = int(StatusLine::Tray::Trouble);
    const int counting = int(StatusLine::Tray::Countdown);
    const int unprotected = int(StatusLine::Tray::NotProtected);
    const int ok = int(StatusLine::Level::Protected);
    const int waiting = int(StatusLine::Level::Waiting);
    const int warning = int(StatusLine::Level::Warning);
    const int danger = int(StatusLine::Level::Danger);
    const QString none;
    QTest::newRow("all online") << true << "127.0.1.1=on 127.0.1.2=on 127.0.1.3=on" << qint64(-1) << none << ok
                                << QString::fromUtf8("Protected \u2014 3 cards online") << shield
                                << QStringLiteral("3 cards: 3 online");
    QTest::newRow("one online") << true << "127.0.1.1=on" << qint64(-1) << none << ok
                                << QString::fromUtf8("Protected \u2014 1 card online") << shield
                                << QStringLiteral("1 card: 1 online");
    QTest::newRow("on battery with the countdown")
        << true << "127.0.1.1=on 127.0.1.2=mains" << qint64(29 * 60000 + 54500) << none << danger
        << QString::fromUtf8("On battery: 127.0.1.2 (mains failure) \u2014 shutdown in 29:54") << counting
        << QString::fromUtf8("2 cards: 1 online, 1 on battery \u2014 shutdown in 29:54");
    QTest::newRow("battery low") << true << "127.0.1.2=low" << qint64(59000) << none << danger
                                 << QString::fromUtf8("On battery: 127.0.1.2 (battery low) \u2014 shutdown in 0:59")
                                 << counting << QString::fromUtf8("1 card: 1 battery low \u2014 shutdown in 0:59");
    QTest::newRow("on battery, condition off")
        << true << "127.0.1.2=mains" << qint64(-1) << none << danger
        << QStringLiteral("On battery: 127.0.1.2 (mains failure)") << trouble << QStringLiteral("1 card: 1 on battery");
    // What an offline card said last is no longer true of it.
    QTest::newRow("a lost card's mains failure is not shown")
        << true << "127.0.1.2=lost" << qint64(-1) << none << warning
        << QStringLiteral("Not protected: no card answers (offline: 127.0.1.2)") << unprotected
        << QString::fromUtf8("1 card: 1 offline \u2014 not protected");
    QTest::newRow("countdown without a card in trouble")
        << true << "127.0.1.1=on" << qint64(120000) << none << danger << QStringLiteral("Shutdown in 2:00") << counting
        << QString::fromUtf8("1 card: 1 online \u2014 shutdown in 2:00");
    QTest::newRow("refusal first") << true << "127.0.1.2=mains" << qint64(0)
                                   << "System shutdown refused by logind: %1|Access denied" << danger
                                   << QStringLiteral("Shutdown due but refused: System shutdown refused by logind: "
                                                     "Access denied")
                                   << unprotected
                                   << QString::fromUtf8("1 card: 1 on battery \u2014 shutdown due but refused");
    QTest::newRow("no cards") << true << "" << qint64(-1) << none << warning
                              << QStringLiteral("Not protected: no UPS card is listed; add one under Settings")
                              << unprotected << QStringLiteral("Not protected: no UPS card is listed");
    QTest::newRow("all offline") << true << "127.0.1.1=off 127.0.1.2=off" << qint64(-1) << none << warning
                                 << QStringLiteral("Not protected: no card answers (offline: 127.0.1.1, 127.0.1.2)")
                                 << unprotected << QString::fromUtf8("2 cards: 2 offline \u2014 not protected");
    QTest::newRow("some offline") << true << "127.0.1.1=on 127.0.1.2=off" << qint64(-1) << none << warning
                                  << QStringLiteral("Protected by 1 card; offline: 127.0.1.2") << trouble
                                  << QStringLiteral("2 cards: 1 online, 1 offline");
    QTest::newRow("no report yet") << true << "127.0.1.1=? 127.0.1.2=?" << qint64(-1) << none << waiting
                                   << QStringLiteral("Waiting for the first report of 2 cards") << trouble
                                   << QStringLiteral("2 cards: 2 waiting");
    QTest::newRow("online and waiting") << true << "127.0.1.1=on 127.0.1.2=?" << qint64(-1) << none << ok
                                        << QString::fromUtf8(
                                               "Protected \u2014 1 card online, 1 waiting for a first report")
                                        << shield << QStringLiteral("2 cards: 1 online, 1 waiting");
    QTest::newRow("service not running, whatever was known")
        << false << "127.0.1.1=on 127.0.1.2=mains" << qint64(60000) << "System shutdown refused by logind: %1|x"
        << danger
        << QStringLiteral("Not protected: the protection service is not running. Start it with: sudo systemctl start "
                          "vigilex")
        << unprotected << QStringLiteral("Not protected: the protection service is not running");
    // The tooltip as a user with three cards reads it during an outage.
    QTest::newRow("three cards, one on battery, countdown")
        << true << "127.0.1.1=on 127.0.1.2=mains 127.0.1.3=on" << qint64(29 * 60000 + 54900) << none << danger
        << QString::fromUtf8("On battery: 127.0.1.2 (mains failure) \u2014 shutdown in 29:54") << counting
        << QString::fromUtf8("3 cards: 2 online, 1 on battery \u2014 shutdown in 29:54");
    QTest::newRow("every kind at once")
        << true << "127.0.1.1=low 127.0.1.2=mains 127.0.1.3=off 127.0.1.4=? 127.0.1.5=on" << qint64(-1) << none
        << danger << QStringLiteral("On battery: 127.0.1.1 (battery low), 127.0.1.2 (mains failure)") << trouble
        << QStringLiteral("5 cards: 1 online, 1 on battery, 1 battery low, 1 offline, 1 waiting");
}

void TestStatusLine::text()
{
    QFETCH(bool, reachable);
    QFETCH(QString, cards);
    QFETCH(qint64, countdownMs);
    QFETCH(QString, refusal);
    QFETCH(int, level);
    QFETCH(QString, text);
    QFETCH(int, tray);
    QFETCH(QString, summary);

    StatusLine::Input input;
    input.reachable = reachable;
    for (const QString &spec : cards.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        input.cards << cardOf(spec);
    input.countdownMs = countdownMs;
    if (!refusal.isEmpty())
        input.refusal = {refusal.section(QLatin1Char('|'), 0, 0), {refusal.section(QLatin1Char('|'), 1)}};
    const StatusLine::Line line = StatusLine::compute(input);
    QCOMPARE(line.text, text);
    QCOMPARE(int(line.level), level);
    QCOMPARE(StatusLine::summary(input), summary);
    QCOMPARE(int(StatusLine::trayState(input)), tray);
}

void TestStatusLine::chinese()
{
    Language *language = Language::instance();
    language->setLanguage(Language::Chinese);
    StatusLine::Input input;
    input.cards << cardOf(QStringLiteral("127.0.1.2=mains"));
    input.countdownMs = 90000;
    const QString onBattery = StatusLine::compute(input).text;
    QVERIFY2(onBattery.startsWith(QString::fromUtf8("电池供电")), qPrintable(onBattery));
    QVERIFY2(onBattery.contains(QStringLiteral("127.0.1.2")) && onBattery.contains(QStringLiteral("1:30")),
        qPrintable(onBattery));
    input.reachable = false;
    const QString absent = StatusLine::compute(input).text;
    QVERIFY2(absent.contains(QStringLiteral("sudo systemctl start vigilex")) && !absent.contains(QStringLiteral("Not")),
        qPrintable(absent));
    input.reachable = true;
    input.cards = {cardOf(QStringLiteral("127.0.1.1=on")), cardOf(QStringLiteral("127.0.1.3=on"))};
    input.countdownMs = -1;
    QCOMPARE(StatusLine::compute(input).text, QString::fromUtf8("受保护 \u2014 2 块卡在线"));
    input.cards << cardOf(QStringLiteral("127.0.1.2=mains"));
    input.countdownMs = 90000;
    QCOMPARE(StatusLine::summary(input), QString::fromUtf8("3 块卡：2 块在线，1 块电池供电 \u2014 1:30 后关机"));
    language->setLanguage(Language::English);
}

QTEST_MAIN(TestStatusLine)
#include "tst_statusline.moc"
