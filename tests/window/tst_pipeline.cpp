#include "support/facekit.h"

#include "policy/shutdownpolicy.h"
#include "ui/language.h"
#include "ui/mainwindow.h"

#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>

using namespace FaceKit;

// Events from the engine: stored, listed with their catalogue text, announced for the pop-up codes.
class TestPipeline : public QObject
{
    Q_OBJECT

private slots:
    void singleEvent_data();
    void singleEvent();
    void rowLimit();
    void newestRowIsScrolledIntoView();
    void languageSwitchAffectsLaterRowsOnly();
    void burstOfPopupsIsBounded();
    void popupStateFollowsTheBackend();
    void policyMessagesAreListedNotStored();
};

void TestPipeline::singleEvent_data()
{
    QTest::addColumn<QVariant>("popSetting"); // invalid: key absent
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("expectedRows");
    QTest::addColumn<QStringList>("expectedBoxes");
    QTest::addColumn<bool>("infoLine");

    const QStringList none;
    QTest::newRow("pop-up code, warnings on") << QVariant(true) << 8 << texts({"10.0.0.5|T"})
                                              << texts({"10.0.0.5 T"}) << false;
    QTest::newRow("pop-up code, warnings off") << QVariant(false) << 8 << texts({"10.0.0.5|T"}) << none << false;
    // Absent, the key means what the settings dialog shows for it.
    QTest::newRow("pop-up code, key absent means on") << QVariant() << 8 << texts({"10.0.0.5|T"})
                                                      << texts({"10.0.0.5 T"}) << false;
    QTest::newRow("host back is never announced") << QVariant(true) << 1 << texts({"10.0.0.5|Back"}) << none
                                                  << false;
    QTest::newRow("host lost is never announced") << QVariant(true) << 0 << texts({"10.0.0.5|Lost"}) << none
                                                  << false;
    QTest::newRow("pop-up code without text") << QVariant(true) << 2 << none << none << true;
    QTest::newRow("unknown code") << QVariant(true) << 99 << none << none << true;
}

void TestPipeline::singleEvent()
{
    QFETCH(QVariant, popSetting);
    QFETCH(int, code);
    QFETCH(QStringList, expectedRows);
    QFETCH(QStringList, expectedBoxes);
    QFETCH(bool, infoLine);

    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("system/pop_warning"), popSetting);
    auto window = makeWindow();
    PromptRecorder prompts;

    if (infoLine)
        QTest::ignoreMessage(QtInfoMsg, qPrintable(QStringLiteral("Event triggered, code: %1").arg(code)));
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), code);

    const QList<QPair<QString, int>> stored {{QStringLiteral("10.0.0.5"), code}};
    QCOMPARE(Store::events(), stored);
    QTableWidget *table = eventTable(*window);
    QCOMPARE(rows(table), expectedRows);
    QStringList boxes;
    for (const UserPrompt::Request &request : prompts.requests) {
        QCOMPARE(request.kind, UserPrompt::Kind::Warning);
        QCOMPARE(request.parent, window.get());
        QCOMPARE(request.title, QStringLiteral("Warning"));
        QCOMPARE(request.buttons, QStringList {QStringLiteral("Sure")});
        boxes << request.text;
    }
    QCOMPARE(boxes, expectedBoxes);
    if (!expectedRows.isEmpty()) {
        const QDateTime shown = QDateTime::fromString(cell(table, 0, 0), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(shown.isValid());
        QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) < 5);
        QCOMPARE(table->item(0, 2)->textAlignment(), int(Qt::AlignCenter));
        QVERIFY(!(table->item(0, 2)->flags() & Qt::ItemIsEditable));
    }
}

void TestPipeline::rowLimit()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    QTableWidget *table = eventTable(*window);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5000; ++i)
        window->displaySNMPEvent(QStringLiteral("h"), QString::number(i));
    QCOMPARE(eventTable(*window)->rowCount(), 5000);
    QCOMPARE(cell(table, 0, 2), QStringLiteral("0"));
    window->displaySNMPEvent(QStringLiteral("h"), QStringLiteral("5000"));
    QCOMPARE(eventTable(*window)->rowCount(), 5000);
    QCOMPARE(cell(table, 0, 2), QStringLiteral("1"));
    QCOMPARE(cell(table, 4999, 2), QStringLiteral("5000"));
    window->displaySNMPEvent(QStringLiteral("h"), QStringLiteral("5001"));
    QCOMPARE(cell(table, 0, 2), QStringLiteral("2"));
    QCOMPARE(cell(table, 4999, 2), QStringLiteral("5001"));
    qInfo() << "5002 rows in" << clock.elapsed() << "ms";
}

void TestPipeline::newestRowIsScrolledIntoView()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    window->show();
    QTableWidget *table = eventTable(*window);
    for (int i = 0; i < 200; ++i)
        window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 1);
    QTRY_VERIFY(table->verticalScrollBar()->maximum() > 0);
    QTRY_COMPARE(table->verticalScrollBar()->value(), table->verticalScrollBar()->maximum());
}

void TestPipeline::languageSwitchAffectsLaterRowsOnly()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    Language::instance()->setLanguage(Language::Chinese);
    QCoreApplication::processEvents();
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    Language::instance()->setLanguage(Language::English);
    QCoreApplication::processEvents();
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.6"), 1);
    QCOMPARE(rows(eventTable(*window)),
             texts({"10.0.0.5|T", "10.0.0.5|电池低", "10.0.0.6|Back"}));
}

void TestPipeline::burstOfPopupsIsBounded()
{
    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("system/pop_warning"), true);
    auto window = makeWindow();
    // A box runs a nested loop; the rest of a burst arrives while the first boxes are still open.
    int remaining = 19;
    PromptRecorder prompts([&](const UserPrompt::Request &) {
        while (remaining > 0) {
            --remaining;
            window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.7"), 8);
        }
    });
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.7"), 8);
    QCOMPARE(prompts.maxOpen, 3);
    QCOMPARE(prompts.requests.size(), 3);
    QCOMPARE(Store::events().size(), 20);
    QCOMPARE(eventTable(*window)->rowCount(), 20);

    // Once the boxes are closed, the next event is announced again.
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.7"), 8);
    QCOMPARE(prompts.requests.size(), 4);
    QCOMPARE(prompts.maxOpen, 3);
}

void TestPipeline::popupStateFollowsTheBackend()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    PromptRecorder prompts;
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    QCOMPARE(prompts.requests.size(), 0);

    // Written while the settings dialog is open, as its Sure does; the window follows the backend's word.
    bool done = false;
    QTimer::singleShot(0, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        QVERIFY(writeSettings(*window->backend(), {{QStringLiteral("system/pop_warning"), true}}).ok);
        modal->close();
        done = true;
    });
    window->showSettingsDialog();
    QVERIFY(done);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    QCOMPARE(prompts.requests.size(), 1);
    QCOMPARE(prompts.requests.constFirst().text, QStringLiteral("10.0.0.5 T"));

    QVERIFY(writeSettings(*window->backend(), {{QStringLiteral("system/pop_warning"), false}}).ok);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 8);
    QCOMPARE(prompts.requests.size(), 1);
}

void TestPipeline::policyMessagesAreListedNotStored()
{
    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 5);
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    QVERIFY(addHost(*window->backend(), card(QStringLiteral("10.0.0.5"))).ok);

    // A host without a row still feeds the protection.
    window->protection()->handleSNMPData(QStringLiteral("10.9.9.9"), QByteArray("\x02\x01\x03\x50", 4));
    QVERIFY(window->shutdownPolicy()->countdownActive());
    QTableWidget *table = eventTable(*window);
    QCOMPARE(eventTable(*window)->rowCount(), 1);
    QCOMPARE(cell(table, 0, 1), QStringLiteral("System"));
    QVERIFY(cell(table, 0, 2).contains(QStringLiteral("5.0")));
    QVERIFY(Store::events().isEmpty());
    QCOMPARE(shutdowns, 0);

    // Another card reporting normal does not end that card's trouble; its own normal report does.
    window->protection()->handleSNMPData(QStringLiteral("10.0.0.5"), QByteArray("\x02\x00\x02\x50", 4));
    QVERIFY(window->shutdownPolicy()->countdownActive());
    window->protection()->handleSNMPData(QStringLiteral("10.9.9.9"), QByteArray("\x02\x00\x02\x50", 4));
    QVERIFY(!window->shutdownPolicy()->countdownActive());
    QCOMPARE(eventTable(*window)->rowCount(), 2);
    QCOMPARE(cell(table, 1, 1), QStringLiteral("System"));
}

QTEST_MAIN(TestPipeline)
#include "tst_pipeline.moc"
