#include "support/facekit.h"

#include "policy/systemmessages.h"
#include "storage/apppaths.h"
#include "storage/settings.h"
#include "ui/language.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QFile>
#include <QTableWidget>
#include <QtTest>

using namespace FaceKit;

// The saved language at start-up, switching, and a missing translation file.
class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
    void missingTranslationSwitchesSectionOnly();
    void switchingBackAndForth();
    void sectionWithoutLanguageObject();
    void serviceMessagesInTheWindowsLanguage_data();
    void serviceMessagesInTheWindowsLanguage();
};

namespace {
QVariant savedLanguage() { return readSetting(AppPaths::settingsFilePath(), QStringLiteral("system/language")); }
QAction *action(MainWindow &window, const char *name) { return window.findChild<QAction *>(QLatin1String(name)); }
} // namespace

void TestLanguage::startUp_data()
{
    QTest::addColumn<QVariant>("saved"); // invalid: no key
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("eventText");

    QTest::newRow("first start") << QVariant() << 0 << QStringLiteral("SNMP Vigilex") << QStringLiteral("T");
    QTest::newRow("saved English") << QVariant(0) << 0 << QStringLiteral("SNMP Vigilex") << QStringLiteral("T");
    QTest::newRow("saved Chinese") << QVariant(1) << 1 << QStringLiteral("SNMP Vigilex 断电保护") << QStringLiteral("电池低");
    QTest::newRow("hand-edited 7") << QVariant(7) << 0 << QStringLiteral("SNMP Vigilex") << QStringLiteral("T");
    QTest::newRow("hand-edited -1") << QVariant(-1) << 0 << QStringLiteral("SNMP Vigilex") << QStringLiteral("T");
    QTest::newRow("not a number") << QVariant(QStringLiteral("zh")) << 0 << QStringLiteral("SNMP Vigilex") << QStringLiteral("T");
}

void TestLanguage::startUp()
{
    QFETCH(QVariant, saved);
    QFETCH(int, index);
    QFETCH(QString, title);
    QFETCH(QString, eventText);

    ScratchApp app;
    prepare(app);
    if (saved.isValid())
        Store::writeSetting(QStringLiteral("system/language"), saved);
    auto window = makeWindow();
    QCOMPARE(savedLanguage().toInt(), index);
    QVERIFY(savedLanguage().isValid());
    QCOMPARE(action(*window, "actionEnglish")->isChecked(), index == 0);
    QCOMPARE(action(*window, "actionChinese")->isChecked(), index == 1);
    QCOMPARE(Language::eventSection(), index == 1 ? QStringLiteral("Event_Chinese") : QStringLiteral("Event_English"));
    QCOMPARE(window->windowTitle(), title);
    QCoreApplication::processEvents(); // the translator's own change event changes nothing more
    QCOMPARE(window->windowTitle(), title);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    QCOMPARE(cell(eventTable(*window), 0, 2), eventText);
}

void TestLanguage::missingTranslationSwitchesSectionOnly()
{
    ScratchApp app;
    prepare(app);
    QVERIFY(QFile::remove(app.path(QStringLiteral("translate/zh.qm"))));
    auto window = makeWindow();
    action(*window, "actionChinese")->trigger();
    QCoreApplication::processEvents();
    QVERIFY(action(*window, "actionChinese")->isChecked());
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    QCOMPARE(action(*window, "actionSettings")->text(), QStringLiteral("&Settings..."));
    QCOMPARE(Language::eventSection(), QStringLiteral("Event_Chinese"));
    QCOMPARE(savedLanguage().toInt(), 1);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    QCOMPARE(cell(eventTable(*window), 0, 2), QStringLiteral("电池低"));
}

void TestLanguage::switchingBackAndForth()
{
    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("system/language"), 1);
    auto window = makeWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex 断电保护"));
    // From Chinese to a language whose file is gone: the old Chinese texts must not linger.
    QVERIFY(QFile::remove(app.path(QStringLiteral("translate/en.qm"))));
    action(*window, "actionEnglish")->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    QCOMPARE(savedLanguage().toInt(), 0);
    for (int round = 0; round < 3; ++round) {
        action(*window, "actionChinese")->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex 断电保护"));
        // Choosing the checked entry again reloads and rewrites, harmlessly.
        action(*window, "actionChinese")->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex 断电保护"));
        action(*window, "actionEnglish")->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    }
    window.reset();
    // The language object went with the window; its translator is out of the application.
    QCOMPARE(Language::eventSection(), QStringLiteral("Event_English"));
    QCOMPARE(QCoreApplication::translate("MainWindow", "SNMP Vigilex"), QStringLiteral("SNMP Vigilex"));
}

void TestLanguage::sectionWithoutLanguageObject()
{
    QCOMPARE(Language::eventSection(), QStringLiteral("Event_English"));
}

// The service has no translator and sends its "System" messages in English; a Chinese front end shows them in
// Chinese, with what the service filled in.
void TestLanguage::serviceMessagesInTheWindowsLanguage_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("countdown") << QStringLiteral("System will be shutdown in 1.0 minute(s)")
                               << QStringLiteral("系统将在 1.0 分钟后关机");
    QTest::newRow("cancelled") << QStringLiteral("System shutdown is canceled") << QStringLiteral("系统关机已取消");
    QTest::newRow("refused, with the reason") << QStringLiteral("System shutdown refused by logind: Access denied")
                                              << QStringLiteral("logind 拒绝关闭系统：Access denied");
    QTest::newRow("only the start of one") << QStringLiteral("System will be shutdown")
                                           << QStringLiteral("System will be shutdown");
    QTest::newRow("no message of the protection") << QStringLiteral("Hello") << QStringLiteral("Hello");
}

void TestLanguage::serviceMessagesInTheWindowsLanguage()
{
    QFETCH(QString, sent);
    QFETCH(QString, shown);
    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("system/language"), 1);
    auto window = makeWindow();
    QCOMPARE(SystemMessages::translated(sent), shown);
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
