#include "support/facekit.h"

#include "ui/language.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"

#include <QLabel>
#include <QtTest>

// One host row: lamp colour and tooltip from status and data reports.
class TestHostItem : public QObject
{
    Q_OBJECT

private slots:
    void reports_data();
    void reports();
    void renameKeepsState();
    void lampIsRoundAndLeft();
    void tooltipFollowsLanguage();
};

namespace {
QString details(const char *battery, const char *input, const char *output, int capacity)
{
    return QStringLiteral("Battery status: %1\nInput status: %2\nOutput status: %3\nBattery capacity: %4 %")
        .arg(QLatin1String(battery), QLatin1String(input), QLatin1String(output))
        .arg(capacity);
}

// "s1" is a status report, "d3,0,3,45" a data report with those bytes, "a1" a card rejecting the credentials.
void apply(ListWidgetItem &item, const QString &steps)
{
    for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step.startsWith(QLatin1Char('s'))) {
            item.setStatus(step.mid(1).toInt());
            continue;
        }
        if (step.startsWith(QLatin1Char('a'))) {
            item.setAuthenticationFailed(step.mid(1).toInt() != 0);
            continue;
        }
        QByteArray data;
        for (const QString &byte : step.mid(1).split(QLatin1Char(',')))
            data.append(static_cast<char>(byte.toInt()));
        item.setData(data);
    }
}
} // namespace

void TestHostItem::reports_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QColor>("lamp");
    QTest::addColumn<QString>("toolTip");

    const QString offline = QStringLiteral("Offline");
    QTest::newRow("new item") << QString() << QColor(Qt::gray) << offline;
    QTest::newRow("online before any data") << QStringLiteral("s1") << QColor(Qt::green) << details("Unknow", "Normal", "Unknow", 0);
    QTest::newRow("battery low") << QStringLiteral("s1 d3,0,3,45") << QColor(Qt::red) << details("Battery low", "Normal", "On battery", 45);
    QTest::newRow("high line voltage is trouble")
        << QStringLiteral("s1 d2,2,2,100") << QColor(Qt::red) << details("Normal", "High line voltage", "On line", 100);
    QTest::newRow("no transfer is trouble") << QStringLiteral("s1 d2,1,6,80") << QColor(Qt::red) << details("Normal", "No transfer", "On bypass", 80);
    QTest::newRow("normal data") << QStringLiteral("s1 d2,0,2,100") << QColor(Qt::green) << details("Normal", "Normal", "On line", 100);
    QTest::newRow("trouble over") << QStringLiteral("s1 d3,0,3,45 d2,0,2,50") << QColor(Qt::green) << details("Normal", "Normal", "On line", 50);
    // Back online the lamp shows the last report's power, not a plain green.
    QTest::newRow("same trouble twice stays red")
        << QStringLiteral("s1 d3,0,3,45 s1 d2,1,3,40") << QColor(Qt::red) << details("Normal", "No transfer", "On battery", 40);
    QTest::newRow("silent during an outage, back: still red")
        << QStringLiteral("s1 d2,1,3,80 s0 s1") << QColor(Qt::red) << details("Normal", "No transfer", "On battery", 80);
    // A fifth byte marks the values an answer carried (bit i for value i): the others keep their last known value.
    QTest::newRow("missing input keeps the failed mains")
        << QStringLiteral("s1 d2,1,3,80 d2,0,3,70,13") << QColor(Qt::red) << details("Normal", "No transfer", "On battery", 70);
    QTest::newRow("nothing known changes nothing")
        << QStringLiteral("s1 d2,0,2,60 d0,0,0,0,0") << QColor(Qt::green) << details("Normal", "Normal", "On line", 60);
    QTest::newRow("offline keeps the bytes") << QStringLiteral("s1 d2,0,2,77 s0") << QColor(Qt::gray) << offline;
    QTest::newRow("bytes come back with status 1")
        << QStringLiteral("s1 d2,0,2,77 s0 s1") << QColor(Qt::green) << details("Normal", "Normal", "On line", 77);
    QTest::newRow("unknown values, capacity unsigned")
        << QStringLiteral("s1 d9,7,5,255") << QColor(Qt::red) << details("Unknow", "Unknown", "Unknow", 255);
    QTest::newRow("data while offline shows details")
        << QStringLiteral("d2,0,2,60") << QColor(Qt::gray) << details("Normal", "Normal", "On line", 60);
    QTest::newRow("other status value changes nothing")
        << QStringLiteral("s1 d2,0,2,60 s7") << QColor(Qt::green) << details("Normal", "Normal", "On line", 60);
    QTest::newRow("credentials rejected") << QStringLiteral("a1") << QColor(Qt::gray)
                                          << offline + QStringLiteral("\nAuthentication failed");
    QTest::newRow("rejected after being online") << QStringLiteral("s1 d2,0,2,60 s0 a1") << QColor(Qt::gray)
                                                 << offline + QStringLiteral("\nAuthentication failed");
    QTest::newRow("answering again drops the line") << QStringLiteral("a1 a0") << QColor(Qt::gray) << offline;
    QTest::newRow("short array reads as zeros") << QStringLiteral("s1 d3") << QColor(Qt::red) << details("Battery low", "Normal", "Unknow", 0);
}

void TestHostItem::reports()
{
    QFETCH(QString, steps);
    QFETCH(QColor, lamp);
    QFETCH(QString, toolTip);

    ListWidgetItem item(QStringLiteral("10.0.0.5"));
    apply(item, steps);
    QCOMPARE(item.led()->color(), lamp);
    QCOMPARE(item.toolTip(), toolTip);
}

void TestHostItem::renameKeepsState()
{
    ListWidgetItem item(QStringLiteral("10.0.0.5"));
    apply(item, QStringLiteral("s1 d3,0,3,45"));
    item.setHost(QStringLiteral("10.0.0.9"));
    QCOMPARE(item.host(), QStringLiteral("10.0.0.9"));
    QCOMPARE(item.findChild<QLabel *>(QStringLiteral("hostLabel"))->text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(item.led()->color(), QColor(Qt::red));

    // A modified host is another card: grey and without the old one's trouble, also once it answers.
    item.reset();
    QCOMPARE(item.led()->color(), QColor(Qt::gray));
    item.setStatus(1);
    QCOMPARE(item.led()->color(), QColor(Qt::green));
    QCOMPARE(item.toolTip(), details("Unknow", "Normal", "Unknow", 0));
}

void TestHostItem::lampIsRoundAndLeft()
{
    Led led;
    led.resize(200, 40);
    led.setColor(Qt::red);
    QImage image(led.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    led.render(&image);
    // Bounding square at (10, 10) with side 20, from the height alone.
    const QColor background(image.pixel(0, 0));
    QVERIFY(background != QColor(Qt::red));
    QCOMPARE(QColor(image.pixel(20, 20)), QColor(Qt::red));
    QCOMPARE(QColor(image.pixel(5, 20)), background);
    QCOMPARE(QColor(image.pixel(35, 20)), background);
    QCOMPARE(QColor(image.pixel(20, 35)), background);
    QCOMPARE(QColor(image.pixel(11, 11)), background); // corner of the square lies outside the circle
}

void TestHostItem::tooltipFollowsLanguage()
{
    ScratchApp app;
    Language *language = Language::instance();
    ListWidgetItem online(QStringLiteral("10.0.0.5"));
    ListWidgetItem offline(QStringLiteral("10.0.0.6"));
    apply(online, QStringLiteral("s1 d3,0,3,45"));
    language->setLanguage(Language::Chinese);
    QCoreApplication::processEvents();
    const QString chineseBattery = QCoreApplication::translate("ListWidgetItem", "Battery low");
    QVERIFY2(chineseBattery != QLatin1String("Battery low"), "zh.qm carries the item's texts");
    QVERIFY(online.toolTip().contains(chineseBattery));
    QVERIFY(online.toolTip().contains(QStringLiteral("45")));
    QCOMPARE(offline.toolTip(), QCoreApplication::translate("ListWidgetItem", "Offline"));

    language->setLanguage(Language::English);
    QCoreApplication::processEvents();
    QCOMPARE(online.toolTip(), details("Battery low", "Normal", "On battery", 45));
    QCOMPARE(offline.toolTip(), QStringLiteral("Offline"));
    delete language;
}

QTEST_MAIN(TestHostItem)
#include "tst_hostitem.moc"
