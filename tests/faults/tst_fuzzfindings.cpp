// Inputs the fuzzers found wrong, pinned as readable cases.
#include "policy/shutdownpolicy.h"
#include "storage/apppaths.h"
#include "storage/eventcatalogue.h"
#include "storage/settings.h"
#include "support/scratchapp.h"

#include <QtTest>

class TestFuzzFindings : public QObject
{
    Q_OBJECT
private slots:
    void catalogueCode_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        // The value must be a number as a whole: no white space of any kind around it, no second prefix.
        QTest::newRow("blank after the prefix") << QByteArray("[S]\n$A = 0x 1F\n") << 0 << "A";
        QTest::newRow("prefix twice") << QByteArray("[S]\n$B = 0x0x1F\n") << 0 << "B";
        QTest::newRow("vertical tab before") << QByteArray("[S]\n$C = \v5\n") << 0 << "C";
        QTest::newRow("form feed after") << QByteArray("[S]\n$D = 7\f\n") << 0 << "D";
        QTest::newRow("no-break space after") << QByteArray("[S]\n$E = 9\xc2\xa0\n") << 0 << "E";
        QTest::newRow("signed hex") << QByteArray("[S]\n$F = 0x-10\n") << -16 << "F";
        QTest::newRow("plus sign") << QByteArray("[S]\n$G = +12\n") << 12 << "G";
        // A NUL byte is a character of the line, not its end.
        QTest::newRow("nul after the value") << QByteArray("[S]\n$H = 0x7fffffff\0\0\n", 22) << 0 << "H";
        // A byte-order mark inside a line is text like any other character.
        QTest::newRow("mark as the text") << QByteArray("[S]\n$\xef\xbb\xbf=5\n") << 5 << QString(QChar(0xfeff));
    }

    void catalogueCode()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, code);
        QFETCH(QString, text);
        const auto sections = EventCatalogue::parse(file);
        QCOMPARE(sections.value(QStringLiteral("S")).size(), 1);
        QCOMPARE(sections.value(QStringLiteral("S")).value(code), text);
    }

    void catalogueNulInHeader()
    {
        // The header's name must come from the same decoded line the bracket was found in.
        const auto sections = EventCatalogue::parse(QByteArray("[Event\0English]x\n$D = 4\n", 24));
        QCOMPARE(sections.keys(), QStringList {QString::fromUtf8("Event\0English", 13)});
        QCOMPARE(sections.first().value(4), QStringLiteral("D"));
    }

    void capacityRuleOff_data()
    {
        QTest::addColumn<QVariant>("threshold");
        QTest::addColumn<int>("capacityByte");
        QTest::addColumn<int>("requests");
        // A disabled rule stays off whatever the card reports as capacity, even bytes that read as negative.
        QTest::newRow("absent, capacity 255") << QVariant() << 255 << 0;
        QTest::newRow("absent, capacity 200") << QVariant() << 200 << 0;
        QTest::newRow("0, capacity 128") << QVariant(0) << 128 << 0;
        QTest::newRow("garbage text, capacity 200") << QVariant(QStringLiteral("twenty")) << 200 << 0;
        QTest::newRow("-5, capacity 200") << QVariant(-5) << 200 << 0;
        // A byte no percentage can have is no capacity, also for an enabled rule.
        QTest::newRow("20, capacity 200") << QVariant(20) << 200 << 0;
        QTest::newRow("20, capacity 19") << QVariant(20) << 19 << 1;
    }

    void capacityRuleOff()
    {
        QFETCH(QVariant, threshold);
        QFETCH(int, capacityByte);
        QFETCH(int, requests);
        ScratchApp app(ScratchApp::Empty);
        if (threshold.isValid())
            writeSetting(AppPaths::settingsFilePath(), QStringLiteral("shutdown/ac_failed_capacity"), threshold);
        ShutdownPolicy policy;
        int made = 0;
        policy.setShutdownHandler([&made] { ++made; });
        QByteArray report("\x02\x01\x03", 3);
        report.append(char(capacityByte));
        for (int i = 0; i < 3; ++i)
            policy.checkShutdownCondition(report);
        QCOMPARE(made, requests);
        QCOMPARE(policy.applicationHandled(), requests > 0);
    }

    void firstReportCounts_data()
    {
        QTest::addColumn<QByteArray>("report");
        QTest::addColumn<bool>("countdown");
        // Bytes equal to the initial snapshot (0xFF) are still the first report's news.
        QTest::newRow("input status 255 from the start") << QByteArray("\x02\xff\x03\x50", 4) << true;
        QTest::newRow("input 255, battery 255") << QByteArray("\xff\xff\xff\xff", 4) << true;
        QTest::newRow("battery 255, input normal") << QByteArray("\xff\x00\x02\x64", 4) << false;
        QTest::newRow("battery low, input 255") << QByteArray("\x03\xff\x03\x0a", 4) << true;
    }

    void firstReportCounts()
    {
        QFETCH(QByteArray, report);
        QFETCH(bool, countdown);
        ScratchApp app(ScratchApp::Empty);
        writeSetting(AppPaths::settingsFilePath(), QStringLiteral("shutdown/ac_failed_time"), 5);
        writeSetting(AppPaths::settingsFilePath(), QStringLiteral("shutdown/batt_low_time"), 3);
        ShutdownPolicy policy;
        int made = 0;
        policy.setShutdownHandler([&made] { ++made; });
        for (int i = 0; i < 3; ++i)
            policy.checkShutdownCondition(report);
        QCOMPARE(policy.countdownActive(), countdown);
        QCOMPARE(made, 0);
    }
};

QTEST_GUILESS_MAIN(TestFuzzFindings)
#include "tst_fuzzfindings.moc"
