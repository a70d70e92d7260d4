#include "storage/eventcatalogue.h"
#include "support/scratchapp.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCatalogue : public QObject
{
    Q_OBJECT

    static QMap<int, QString> section(const QByteArray &content, const QString &name = QStringLiteral("S"))
    {
        return EventCatalogue::parse(content).value(name);
    }

private slots:
    void entryLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("yields");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("hex") << QByteArray("$Alpha = 0x1F") << true << 31 << "Alpha";
        QTest::newRow("comment") << QByteArray("$Beta=7   # remark") << true << 7 << "Beta";
        QTest::newRow("inner blanks") << QByteArray("$  Gamma ray  =  12") << true << 12 << "Gamma ray";
        QTest::newRow("upper-case prefix") << QByteArray("$Delta = 0X1F") << true << 0 << "Delta";
        QTest::newRow("trailing text") << QByteArray("$Epsilon = 12 ab") << true << 0 << "Epsilon";
        QTest::newRow("no value") << QByteArray("$Zeta =") << false << 0 << "";
        QTest::newRow("no text") << QByteArray("$=5") << false << 0 << "";
        QTest::newRow("hash hides the equals") << QByteArray("$Eta#x = 5") << false << 0 << "";
        QTest::newRow("no equals") << QByteArray("$Theta 5") << false << 0 << "";
        QTest::newRow("out of range") << QByteArray("$Iota = 99999999999") << true << 0 << "Iota";
        QTest::newRow("crlf and tabs") << QByteArray("$Kappa\t=\t0x10\t\r") << true << 16 << "Kappa";
        QTest::newRow("second equals is text") << QByteArray("$a=b = 3") << true << 0 << "a";
        QTest::newRow("utf-8 text") << QByteArray("$\xe7\x94\xb5\xe6\xb1\xa0 = 8") << true << 8 << "电池";
        QTest::newRow("indented") << QByteArray("  $Lambda = 5") << false << 0 << "";
    }

    void entryLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, yields);
        QFETCH(int, code);
        QFETCH(QString, text);
        const QMap<int, QString> s = section("[S]\n" + line + "\n");
        QCOMPARE(s.size(), yields ? 1 : 0);
        if (yields)
            QCOMPARE(s.value(code), text);
    }

    void sectionRules_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("entries before any header are ignored")
            << QByteArray("$Early = 1\n[S]\n$Late = 2\n") << "S" << 1 << "";
        QTest::newRow("words after the bracket are ignored")
            << QByteArray("[S] trailing words\n$A = 1\n") << "S" << 1 << "A";
        QTest::newRow("blanks inside the brackets belong to the name")
            << QByteArray("[ Event_English ]\n$A = 1\n") << "Event_English" << 1 << "";
        QTest::newRow("blank name inside brackets")
            << QByteArray("[ Event_English ]\n$A = 1\n") << " Event_English " << 1 << "A";
        QTest::newRow("second entry with a code wins") << QByteArray("[S]\n$First = 5\n$Second = 5\n") << "S" << 5
                                                       << "Second";
        QTest::newRow("repeated section replaces the block")
            << QByteArray("[S]\n$Old = 1\n$Keep = 2\n[T]\n$X = 1\n[S]\n$New = 3\n") << "S" << 2 << "";
        QTest::newRow("byte-order mark hides the first header")
            << QByteArray("\xef\xbb\xbf[S]\n$A = 1\n[T]\n$B = 2\n") << "S" << 1 << "";
        QTest::newRow("later header after a mark still works")
            << QByteArray("\xef\xbb\xbf[S]\n$A = 1\n[T]\n$B = 2\n") << "T" << 2 << "B";
        QTest::newRow("bracket without close is not a header")
            << QByteArray("[S]\n$A = 1\n[broken\n$B = 2\n") << "S" << 2 << "B";
        QTest::newRow("empty section name") << QByteArray("[]\n$A = 4\n") << "" << 4 << "A";
        QTest::newRow("hex and decimal are the same code")
            << QByteArray("[S]\n$Hex = 0x10\n$Dec = 16\n") << "S" << 16 << "Dec";
        QTest::newRow("names are case-sensitive") << QByteArray("[s]\n$A = 1\n") << "S" << 1 << "";
    }

    void sectionRules()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(int, code);
        QFETCH(QString, expected);
        QCOMPARE(EventCatalogue::parse(content).value(section).value(code), expected);
    }

    void fileAndRegistry()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("vigilex.cfg"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Event_English]\r\n$Battery low = 0x08\r\n");
        f.close();
        {
            EventCatalogue catalogue(path);
            QCOMPARE(EventCatalogue::find(path), &catalogue);
            QCOMPARE(catalogue.text(QStringLiteral("Event_English"), 8), QStringLiteral("Battery low"));
            QCOMPARE(catalogue.text(QStringLiteral("Event_English"), 99), QString());
            QCOMPARE(catalogue.text(QStringLiteral("Event_Chinese"), 8), QString());
            QCOMPARE(EventCatalogue::find(path + QLatin1Char('/')), nullptr);
        }
        QCOMPARE(EventCatalogue::find(path), nullptr);
    }

    void missingFileIsEmpty()
    {
        EventCatalogue catalogue(QStringLiteral("/nonexistent/vigilex.cfg"));
        QCOMPARE(catalogue.text(QStringLiteral("Event_English"), 0), QString());
    }

    void garbageIsHarmless()
    {
        QByteArray junk;
        for (int i = 0; i < 20000; ++i)
            junk.append(char((i * 7919 + 13) & 0xff));
        EventCatalogue::parse(junk);
        EventCatalogue::parse(QByteArray("[\n$\n$=\n[]]\n$#=\n$ = 0x\n$a=0x\n"));
    }

    // The installed file must give every code a user can meet a text in both languages.
    void installedCatalogueCoversEveryCode_data()
    {
        QTest::addColumn<int>("code");
        QList<int> codes {0, 1};
        const QList<int> notifications {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17,
                                        18, 19, 20, 21, 22, 24, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36,
                                        37, 38, 39, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60,
                                        61, 62, 63, 64, 65, 67, 68, 69, 70, 71};
        for (int k : notifications)
            codes << k + 1;
        for (int code : codes)
            QTest::newRow(qPrintable(QString::number(code))) << code;
    }

    void installedCatalogueCoversEveryCode()
    {
        QFETCH(int, code);
        EventCatalogue catalogue(sourceDir() + QStringLiteral("/cfg/vigilex.cfg"));
        const QString en = catalogue.text(QStringLiteral("Event_English"), code);
        const QString zh = catalogue.text(QStringLiteral("Event_Chinese"), code);
        QVERIFY2(!en.isEmpty(), "English text missing");
        QVERIFY2(!zh.isEmpty(), "Chinese text missing");
        QVERIFY2(en != zh, "Chinese text is not translated");
        QVERIFY(zh.toUcs4().constFirst() > 0x7f || zh.startsWith(QLatin1String("UPS")));
    }

    void installedCatalogueHasNoUndefinedCodes()
    {
        EventCatalogue catalogue(sourceDir() + QStringLiteral("/cfg/vigilex.cfg"));
        for (int undefined : {23 + 1, 25 + 1, 40 + 1, 46 + 1})
            QCOMPARE(catalogue.text(QStringLiteral("Event_English"), undefined), QString());
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
