// The program's own files replaced by garbage bytes: the settings file, the event catalogue and a translation
// file that is no translation. The window must come up, follow the card, store its notifications, and the
// protection must do what the readable part of the settings says and nothing else.
#include "support/facekit.h"
#include "support/faultkit.h"

#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "storage/hosttable.h"
#include "support/netns.h"
#include "support/upssim.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

using namespace FaceKit;

namespace {
const QString local = QStringLiteral("127.0.0.1");

// 32 KiB of bytes rich in what the readers look for: brackets, '=', '$', '#', quotes, NUL, CR, LF, high bytes.
QByteArray garbage(quint32 seed)
{
    QRandomGenerator random(seed);
    static const char special[] = "[]=$#\"\\\r\n\0;%,0x";
    QByteArray bytes;
    bytes.reserve(32768);
    while (bytes.size() < 32768) {
        if (random.bounded(4) == 0)
            bytes.append(special[random.bounded(int(sizeof special))]);
        else
            bytes.append(char(random.bounded(256)));
    }
    return bytes;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}
} // namespace

class TestGarbageFiles : public QObject
{
    Q_OBJECT

private slots:
    void programStillProtects_data();
    void programStillProtects();
};

void TestGarbageFiles::programStillProtects_data()
{
    QTest::addColumn<QString>("settings"); // "valid", "garbage", "garbage after keys"
    QTest::addColumn<bool>("catalogueGarbage");
    QTest::addColumn<QString>("translation"); // "", "en", "zh": which translation file is garbage (and chosen)
    QTest::addColumn<bool>("countdown");

    QTest::newRow("settings garbage") << "garbage" << false << "" << false;
    QTest::newRow("settings garbage after valid keys") << "garbage after keys" << false << "" << true;
    QTest::newRow("catalogue garbage") << "valid" << true << "" << true;
    QTest::newRow("English translation not a translation") << "valid" << false << "en" << true;
    QTest::newRow("Chinese translation not a translation") << "valid" << false << "zh" << true;
    QTest::newRow("all three garbage") << "garbage after keys" << true << "zh" << true;
}

void TestGarbageFiles::programStillProtects()
{
    QFETCH(QString, settings);
    QFETCH(bool, catalogueGarbage);
    QFETCH(QString, translation);
    QFETCH(bool, countdown);

    ScratchApp app;
    Database::instance()->createTables();
    const QString ini = AppPaths::settingsFilePath();
    if (settings == QLatin1String("valid")) {
        Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
        Store::writeSetting(QStringLiteral("system/pop_warning"), true);
    } else {
        QByteArray bytes = garbage(3);
        if (settings == QLatin1String("garbage after keys"))
            // A damaged tail: what the reader took in before it is kept. (Garbage in front could hide the keys
            // legitimately, by an open quote or a line continuation.)
            bytes = "[shutdown]\nac_failed_time=5\n[system]\npop_warning=true\n\n" + garbage(7);
        writeFile(ini, bytes);
    }
    if (catalogueGarbage)
        writeFile(AppPaths::cataloguePath(), garbage(11));
    if (!translation.isEmpty()) {
        writeFile(AppPaths::translateDir() + QLatin1Char('/') + translation + QStringLiteral(".qm"), garbage(13));
        // Chosen as the saved language. A settings file of pure garbage would keep its own bytes; append.
        QFile file(ini);
        QVERIFY(file.open(QIODevice::Append));
        file.write(QByteArray("\n[system]\nlanguage=") + (translation == QLatin1String("zh") ? "1" : "0") + "\n");
    }

    UpsSim card(QStringLiteral("udp:127.0.0.1:16231"));
    QVERIFY2(card.start(), qPrintable(card.log()));
    Store::addSession(local, 16231);
    FaceKit::PromptRecorder prompts;
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

    // A notification is stored whatever text the catalogue has for it.
    QCOMPARE(UpsSim::sendNotification(QStringLiteral("v2c"), 2, QStringLiteral("udp:127.0.0.1:162")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(Store::events().contains(qMakePair(local, 3)), 5000);

    QVERIFY(card.setState(QStringLiteral("mains-failure")));
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::red), 5000);
    if (countdown) {
        QTRY_VERIFY_WITH_TIMEOUT(window->shutdownPolicy()->countdownActive(), 3000);
        QCOMPARE(window->shutdownPolicy()->shutdownTimer()->interval(), 5 * 60000);
    } else {
        QTest::qWait(1500); // two more reports
        QVERIFY(!window->shutdownPolicy()->countdownActive());
    }
    QCOMPARE(shutdowns, 0);
    QVERIFY(card.setState(QStringLiteral("normal")));
    QTRY_COMPARE_WITH_TIMEOUT(item->led()->color(), QColor(Qt::green), 5000);
    QVERIFY(!window->shutdownPolicy()->countdownActive());
}

VIGILEX_NETNS_WIDGET_TEST_MAIN(TestGarbageFiles)

#include "tst_garbagefiles.moc"
