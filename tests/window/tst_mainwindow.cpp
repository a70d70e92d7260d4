#include "support/facekit.h"

#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "ui/aboutdialog.h"
#include "ui/language.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"
#include "ui/notificationarea.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTableWidget>
#include <QToolBar>
#include <QToolTip>
#include <QtTest>

using namespace FaceKit;

// The window around the pipeline: host rows in step with the engine, tray, menus, retranslation.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void layout();
    void hostsLoadedInOrder();
    void hostChangesReachRowsAndEngine_data();
    void hostChangesReachRowsAndEngine();
    void settingsDialogSignalsReachTheWindow();
    void statusAndDataReachTheRow();
    void statusLineAndCountdownFollowTheBackend();
    void trayClicks_data();
    void trayClicks();
    void trayMenu();
    void closeHidesOrMinimises_data();
    void closeHidesOrMinimises();
    void clearContent();
    void longEventTextInItsTooltip();
    void retranslation();
    void aboutDialog();
    void clockTicks();
    void trayQuitEndsTheEventLoop(); // last: a quit leaves the application refusing new event loops
};

namespace {
QListWidget *hostList(MainWindow &window) { return window.findChild<QListWidget *>(QStringLiteral("hostList")); }

ListWidgetItem *rowWidget(MainWindow &window, int row)
{
    QListWidget *list = hostList(window);
    return qobject_cast<ListWidgetItem *>(list->itemWidget(list->item(row)));
}

// Entry i of hosts names row i, and every row shows its address.
void verifyInStep(MainWindow &window, const QStringList &expected)
{
    QCOMPARE(window.hosts(), expected);
    QCOMPARE(hostList(window)->count(), expected.size());
    for (int row = 0; row < expected.size(); ++row) {
        ListWidgetItem *item = rowWidget(window, row);
        QVERIFY(item);
        QCOMPARE(item->host(), expected.at(row));
        QCOMPARE(item->findChild<QLabel *>(QStringLiteral("hostLabel"))->text(), expected.at(row));
        QCOMPARE(hostList(window)->item(row)->sizeHint().height(), 40);
    }
}

template <typename T> T *child(QObject &parent, const char *name)
{
    T *found = parent.findChild<T *>(QLatin1String(name));
    if (!found)
        qWarning() << "no child" << name;
    return found;
}

QWidget *openMenuOrDialog()
{
    if (QWidget *popup = QApplication::activePopupWidget())
        return popup;
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && (qobject_cast<QMenu *>(widget) || qobject_cast<QDialog *>(widget)))
            return widget;
    }
    return nullptr;
}

// Runs `inside` as soon as a modal dialog or a pop-up menu is open, then closes it. Gives up after 5 s.
void whenOpen(std::function<void(QWidget *)> inside, bool *seen)
{
    *seen = false;
    auto *poll = new QTimer;
    auto *deadline = new QElapsedTimer;
    deadline->start();
    QObject::connect(poll, &QTimer::destroyed, [deadline] { delete deadline; });
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inside, seen, deadline] {
        if (deadline->elapsed() > 5000) {
            poll->stop();
            poll->deleteLater();
            return;
        }
        QWidget *open = openMenuOrDialog();
        if (!open)
            return;
        poll->stop();
        poll->deleteLater();
        *seen = true;
        inside(open);
        open->close();
    });
    poll->start(10);
}
} // namespace

void TestMainWindow::cleanup() { NotificationArea::setOverride(NotificationArea::Override::None); }

void TestMainWindow::layout()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    QCOMPARE(window->size(), QSize(720, 540));
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    QStringList menus;
    for (QAction *action : window->menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, texts({"Settings", "Language", "Help"}));
    QAction *english = child<QAction>(*window, "actionEnglish");
    QAction *chinese = child<QAction>(*window, "actionChinese");
    QVERIFY(english->isCheckable() && chinese->isCheckable());
    QVERIFY(english->actionGroup() && english->actionGroup() == chinese->actionGroup());
    QVERIFY(english->actionGroup()->isExclusive());
    QCOMPARE(english->actionGroup()->actions(), (QList<QAction *> {english, chinese}));
    QCOMPARE(chinese->text(), QStringLiteral("中文"));
    // The window's own menu can quit, for desktops without a notification area.
    QStringList settingsMenu;
    for (QAction *action : child<QMenu>(*window, "menuSettings")->actions())
        settingsMenu << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(settingsMenu, texts({"Settings", "|", "Quit"}));
    QCOMPARE(child<QAction>(*window, "actionQuit")->shortcut(), QKeySequence(QKeySequence::Quit));
    QCOMPARE(child<QAction>(*window, "actionSettings")->shortcut(), QKeySequence(Qt::CTRL + Qt::Key_Comma));
    QCOMPARE(child<QAction>(*window, "toolLog")->shortcut(), QKeySequence(Qt::CTRL + Qt::Key_L));

    auto *toolBar = child<QToolBar>(*window, "toolBar");
    QVERIFY(!toolBar->isMovable());
    QCOMPARE(toolBar->iconSize(), QSize(48, 48));
    QStringList tips;
    for (QAction *action : toolBar->actions()) {
        QVERIFY(action->text().isEmpty() || action->isSeparator());
        tips << (action->isSeparator() ? QStringLiteral("|") : action->toolTip());
    }
    QCOMPARE(tips, texts({"Settings", "|", "Log", "|"}));
    // The compiled-in images really load, in the tool bar's size among others.
    for (const char *name : {"toolSettings", "toolLog", "actionSettings", "actionAbout"})
        QVERIFY2(child<QAction>(*window, name)->icon().availableSizes().contains(QSize(48, 48)), name);

    auto *splitter = child<QSplitter>(*window, "splitter");
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    QCOMPARE(splitter->widget(0), hostList(*window));
    QCOMPARE(splitter->widget(1), eventTable(*window));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QList<int> sizes = splitter->sizes();
    QVERIFY2(qAbs(sizes.at(0) * 7 - sizes.at(1) * 3) <= 10 * 7, qPrintable(QStringLiteral("%1:%2").arg(sizes.at(0)).arg(sizes.at(1))));

    QTableWidget *table = eventTable(*window);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("Time"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Object"));
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("Event"));
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(table->horizontalHeader()->stretchLastSection());

    auto *tray = child<QSystemTrayIcon>(*window, "trayIcon");
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), QStringLiteral("SNMP Vigilex"));
    QVERIFY(!tray->icon().availableSizes().isEmpty());
    QStringList trayTexts;
    for (QAction *action : tray->contextMenu()->actions())
        trayTexts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(trayTexts, texts({"Minimize", "Show", "|", "Quit"}));
}

void TestMainWindow::hostsLoadedInOrder()
{
    ScratchApp app;
    prepare(app);
    for (const char *ip : {"10.0.0.3", "10.0.0.1", "10.0.0.2"})
        Store::addSession(QLatin1String(ip));
    auto window = makeWindow();
    verifyInStep(*window, texts({"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(rowWidget(*window, row)->led()->color(), QColor(Qt::gray));
        QCOMPARE(rowWidget(*window, row)->toolTip(), QStringLiteral("Offline"));
    }
    QCOMPARE(window->findHostItem(QStringLiteral("10.0.0.1")), rowWidget(*window, 1));
    QCOMPARE(window->findHostItem(QStringLiteral("10.0.0.9")), nullptr);
    QCOMPARE(window->findHostItem(QStringLiteral("10.0.0.1:161")), nullptr);
}

void TestMainWindow::hostChangesReachRowsAndEngine_data()
{
    // Steps: "+ip:port" add, "-ip:port" remove (a peer), "ip:port>ip:port" modify old to new.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("enginePeers");  // the engine knows these
    QTest::addColumn<QStringList>("engineGone");   // and no longer these

    QTest::newRow("add appends") << QStringLiteral("+10.0.0.1:161 +10.0.0.2:1161") << texts({"10.0.0.1", "10.0.0.2"})
                                 << texts({"10.0.0.1:161", "10.0.0.2:1161"}) << QStringList();
    QTest::newRow("remove the middle row")
        << QStringLiteral("+10.0.0.1:161 +10.0.0.2:161 +10.0.0.3:161 -10.0.0.2:161") << texts({"10.0.0.1", "10.0.0.3"})
        << texts({"10.0.0.1:161", "10.0.0.3:161"}) << texts({"10.0.0.2:161"});
    QTest::newRow("modify keeps the place")
        << QStringLiteral("+10.0.0.1:161 +10.0.0.2:161 +10.0.0.3:161 10.0.0.2:161>10.0.0.9:1161")
        << texts({"10.0.0.1", "10.0.0.9", "10.0.0.3"}) << texts({"10.0.0.1:161", "10.0.0.9:1161", "10.0.0.3:161"})
        << texts({"10.0.0.2:161"});
    QTest::newRow("modify of an unknown address does nothing")
        << QStringLiteral("+10.0.0.1:161 10.0.0.7:161>10.0.0.8:161") << texts({"10.0.0.1"})
        << texts({"10.0.0.1:161"}) << texts({"10.0.0.8:161"});
    QTest::newRow("remove of an unknown address changes nothing")
        << QStringLiteral("+10.0.0.1:161 -10.0.0.7:161 -10.0.0.1:161") << QStringList() << QStringList()
        << texts({"10.0.0.1:161"});
    // An address is a stored card's identity: the second card on it is refused, and the list stays in step.
    QTest::newRow("same address twice is refused")
        << QStringLiteral("+10.0.0.1:161 +10.0.0.2:161 +10.0.0.1:1161 -10.0.0.1:161") << texts({"10.0.0.2"})
        << texts({"10.0.0.2:161"}) << texts({"10.0.0.1:161", "10.0.0.1:1161"});
}

void TestMainWindow::hostChangesReachRowsAndEngine()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, enginePeers);
    QFETCH(QStringList, engineGone);

    ScratchApp app;
    prepare(app);
    SNMP engine; // never started: sessions are opened but nothing is sent
    auto window = makeWindow();
    window->setEngine(&engine);
    auto cardOf = [](const QString &peer) {
        return card(peer.section(QLatin1Char(':'), 0, 0), peer.section(QLatin1Char(':'), 1).toInt());
    };
    // Through the backend, as the settings dialog changes them; the window follows the backend's list.
    ProtectionBackend &backend = *window->backend();
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        if (step.startsWith(QLatin1Char('+')))
            addHost(backend, cardOf(step.mid(1)));
        else if (step.startsWith(QLatin1Char('-')))
            removeHost(backend, Snmp::hostOfPeer(step.mid(1)));
        else
            modifyHost(backend, cardOf(step.section(QLatin1Char('>'), 1)), Snmp::hostOfPeer(step.section(QLatin1Char('>'), 0, 0)));
    }
    verifyInStep(*window, rows);
    for (const QString &peer : enginePeers)
        QVERIFY2(engine.manager()->status(peer) >= 0, qPrintable(peer));
    for (const QString &peer : engineGone)
        QVERIFY2(engine.manager()->status(peer) < 0, qPrintable(peer));
    QCOMPARE(engine.manager()->sessionCount(), enginePeers.size());
    for (int row = 0; row < rows.size(); ++row)
        QCOMPARE(rowWidget(*window, row)->led()->color(), QColor(Qt::gray));
}

void TestMainWindow::settingsDialogSignalsReachTheWindow()
{
    ScratchApp app;
    prepare(app);
    SNMP engine;
    auto window = makeWindow();
    window->setEngine(&engine);
    bool seen = false;
    // A card added and renamed in the dialog reaches the window through the backend, while the dialog is open.
    QStringList whileOpen;
    whenOpen(
        [&window, &whileOpen](QWidget *dialog) {
            QVERIFY(dialog->inherits("SettingsDialog"));
            QVERIFY(!dialog->parentWidget());
            QVERIFY(addHost(*window->backend(), card(QStringLiteral("10.0.0.4"))).ok);
            QVERIFY(modifyHost(*window->backend(), card(QStringLiteral("10.0.0.5")), QStringLiteral("10.0.0.4")).ok);
            whileOpen = window->hosts();
        },
        &seen);
    window->showSettingsDialog();
    QVERIFY(seen);
    QCOMPARE(whileOpen, texts({"10.0.0.5"}));
    verifyInStep(*window, texts({"10.0.0.5"}));
    QCOMPARE(engine.manager()->status(QStringLiteral("10.0.0.5:161")), 0);

    whenOpen([&window](QWidget *) { QVERIFY(removeHost(*window->backend(), QStringLiteral("10.0.0.5")).ok); }, &seen);
    window->showSettingsDialog();
    QVERIFY(seen);
    verifyInStep(*window, QStringList());
    QCOMPARE(engine.manager()->sessionCount(), 0);
}

void TestMainWindow::statusAndDataReachTheRow()
{
    ScratchApp app;
    prepare(app);
    Store::addSession(QStringLiteral("10.0.0.1"));
    SNMP engine;
    auto window = makeWindow();
    window->setEngine(&engine);
    ListWidgetItem *item = window->findHostItem(QStringLiteral("10.0.0.1"));
    engine.handleStatus(QStringLiteral("10.0.0.1"), 1);
    QCOMPARE(item->led()->color(), QColor(Qt::green));
    engine.onDataReady(QStringLiteral("10.0.0.1"), QByteArray("\x03\x00\x03\x2d", 4));
    QCOMPARE(item->led()->color(), QColor(Qt::red));
    // Reports for other hosts leave the row alone.
    engine.handleStatus(QStringLiteral("10.0.0.2"), 0);
    engine.onDataReady(QStringLiteral("10.0.0.2"), QByteArray("\x02\x00\x02\x2d", 4));
    QCOMPARE(item->led()->color(), QColor(Qt::red));
    // A second setEngine call must not deliver every report twice.
    window->setEngine(&engine);
    engine.handleEvent(QStringLiteral("10.0.0.1"), 1);
    QCOMPARE(eventTable(*window)->rowCount(), 1);
    QCOMPARE(Store::events().size(), 1);
}

// The window alone shows what the service's front end shows: the line above the list and the countdown.
void TestMainWindow::statusLineAndCountdownFollowTheBackend()
{
    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 30);
    int shutdowns = 0;
    auto window = makeWindow(&shutdowns);
    auto *line = child<QLabel>(*window, "statusLine");
    QVERIFY(line && line->isVisibleTo(window.get()));
    QCOMPARE(window->statusText(), QStringLiteral("Not protected: no UPS card is listed; add one under Settings"));
    QVERIFY(addHost(*window->backend(), card(QStringLiteral("127.0.1.2"))).ok);
    QCOMPARE(window->statusText(), QStringLiteral("Waiting for the first report of 1 card"));
    window->protection()->handleSNMPStatus(QStringLiteral("127.0.1.2"), 1);
    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x00\x02\x50", 4));
    QCOMPARE(window->statusText(), QString::fromUtf8("Protected \u2014 1 card online"));

    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x01\x03\x50", 4));
    QVERIFY(window->shutdownPolicy()->countdownActive());
    const QRegularExpression onBattery(
        QString::fromUtf8("^On battery: 127\\.0\\.1\\.2 \\(mains failure\\) \u2014 shutdown in (29:5\\d|30:00)$"));
    QVERIFY2(onBattery.match(window->statusText()).hasMatch(), qPrintable(window->statusText()));
    auto *clock = child<QLabel>(*window, "clockLabel");
    QVERIFY2(clock->text().startsWith(QStringLiteral("Shutdown in 29:5")) || clock->text().startsWith(QStringLiteral("Shutdown in 30:00")),
        qPrintable(clock->text()));

    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x00\x02\x50", 4));
    QVERIFY(!window->shutdownPolicy()->countdownActive());
    QCOMPARE(window->statusText(), QString::fromUtf8("Protected \u2014 1 card online"));
    QVERIFY(!clock->text().startsWith(QStringLiteral("Shutdown")));
    window->protection()->handleSNMPStatus(QStringLiteral("127.0.1.2"), 0);
    QCOMPARE(window->statusText(), QStringLiteral("Not protected: no card answers (offline: 127.0.1.2)"));
    QCOMPARE(shutdowns, 0);
}

void TestMainWindow::trayClicks_data()
{
    QTest::addColumn<QString>("start"); // "hidden", "minimised", "normal", "maxmin"
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("state");

    const int minimised = Qt::WindowMinimized;
    QTest::newRow("hidden: the first click shows it")
        << QStringLiteral("hidden") << int(QSystemTrayIcon::Trigger) << true << int(Qt::WindowNoState);
    QTest::newRow("hidden: double click too")
        << QStringLiteral("hidden") << int(QSystemTrayIcon::DoubleClick) << true << int(Qt::WindowNoState);
    QTest::newRow("hidden maximised: shown maximised")
        << QStringLiteral("hiddenmax") << int(QSystemTrayIcon::Trigger) << true << int(Qt::WindowMaximized);
    QTest::newRow("minimised: click restores") << QStringLiteral("minimised") << int(QSystemTrayIcon::Trigger) << true << int(Qt::WindowNoState);
    QTest::newRow("normal: click minimises and hides") << QStringLiteral("normal") << int(QSystemTrayIcon::Trigger) << false << minimised;
    QTest::newRow("context click does nothing") << QStringLiteral("normal") << int(QSystemTrayIcon::Context) << true << int(Qt::WindowNoState);
    QTest::newRow("middle click does nothing") << QStringLiteral("hidden") << int(QSystemTrayIcon::MiddleClick) << false << int(Qt::WindowNoState);
    QTest::newRow("minimised from maximised: click restores maximised")
        << QStringLiteral("maxmin") << int(QSystemTrayIcon::Trigger) << true << int(Qt::WindowMaximized);
}

void TestMainWindow::trayClicks()
{
    QFETCH(QString, start);
    QFETCH(int, reason);
    QFETCH(bool, visible);
    QFETCH(int, state);

    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    NotificationArea::setOverride(NotificationArea::Override::Present);
    window->show();
    if (start.startsWith(QLatin1String("hidden"))) {
        if (start == QLatin1String("hiddenmax"))
            window->showMaximized();
        window->close();
        QVERIFY(!window->isVisible());
    } else if (start == QLatin1String("minimised")) {
        window->showMinimized();
    } else if (start == QLatin1String("maxmin")) {
        window->showMaximized();
        window->showMinimized();
    }
    window->onTrayIconActivated(static_cast<QSystemTrayIcon::ActivationReason>(reason));
    QCOMPARE(window->isVisible(), visible);
    QCOMPARE(int(window->windowState()), state);
}

void TestMainWindow::trayMenu()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    NotificationArea::setOverride(NotificationArea::Override::Present);
    window->show();
    child<QAction>(*window, "trayMinimize")->trigger();
    QVERIFY(!window->isVisible());
    child<QAction>(*window, "trayShow")->trigger();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowState(), Qt::WindowNoState);

    // One click brings a window hidden by closing back, the next puts it away again.
    window->close();
    window->onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowState(), Qt::WindowNoState);
    window->onTrayIconActivated(QSystemTrayIcon::Trigger);
    QVERIFY(!window->isVisible());
}

void TestMainWindow::closeHidesOrMinimises_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("with a notification area") << true;
    QTest::newRow("without one") << false;
}

void TestMainWindow::closeHidesOrMinimises()
{
    QFETCH(bool, tray);
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    NotificationArea::setOverride(tray ? NotificationArea::Override::Present : NotificationArea::Override::Absent);
    window->show();
    QVERIFY(!window->close()); // the close is refused either way
    QCOMPARE(window->isVisible(), !tray);
    QCOMPARE(bool(window->windowState() & Qt::WindowMinimized), !tray);
    QVERIFY(child<QSystemTrayIcon>(*window, "trayIcon")->isVisible());
    // Still monitoring.
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 1);
    QCOMPARE(Store::events().size(), 1);
}

void TestMainWindow::clearContent()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    for (int i = 0; i < 3; ++i)
        window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.5"), 1);
    QTableWidget *table = eventTable(*window);
    QCOMPARE(table->rowCount(), 3);
    bool seen = false;
    QStringList menuTexts;
    whenOpen(
        [&menuTexts](QWidget *popup) {
            auto *menu = qobject_cast<QMenu *>(popup);
            QVERIFY(menu);
            for (QAction *action : menu->actions())
                menuTexts << action->text();
            menu->actions().constFirst()->trigger();
        },
        &seen);
    window->onEventTableContextMenu(QPoint());
    QVERIFY(seen);
    QCOMPARE(menuTexts, texts({"Clear content"}));
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(Store::events().size(), 3);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.6"), 8);
    QCOMPARE(rows(table), texts({"10.0.0.6|T"}));
}

void TestMainWindow::longEventTextInItsTooltip()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTableWidget *table = eventTable(*window);
    const QString longText = QStringLiteral("System will be shutdown in 1.0 minute(s) unless the mains comes back");
    window->displaySNMPEvent(QStringLiteral("System"), QStringLiteral("Card answers again"));
    window->displaySNMPEvent(QStringLiteral("System"), longText);
    QTRY_COMPARE(table->rowCount(), 2); // rows close together come in one batch
    QCoreApplication::processEvents();
    // The event column takes the rest of the table's width.
    const int used = table->columnWidth(0) + table->columnWidth(1) + table->columnWidth(2);
    QCOMPARE(used, table->viewport()->width());
    auto tipOf = [table](int row) {
        QToolTip::hideText();
        const QPoint at = table->visualItemRect(table->item(row, 2)).center();
        QHelpEvent help(QEvent::ToolTip, at, table->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(table->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tipOf(0), QString());
    QCOMPARE(tipOf(1), longText);
    QToolTip::hideText();
}

void TestMainWindow::retranslation()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    auto *tray = child<QSystemTrayIcon>(*window, "trayIcon");

    child<QAction>(*window, "actionChinese")->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(Language::eventSection(), QStringLiteral("Event_Chinese"));
    const QString title = QCoreApplication::translate("MainWindow", "SNMP Vigilex");
    QVERIFY2(title != QLatin1String("SNMP Vigilex"), "zh.qm carries the window's texts");
    QCOMPARE(window->windowTitle(), title);
    QStringList menus;
    for (QAction *action : window->menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, (QStringList {QStringLiteral("设置"), QStringLiteral("语言"), QStringLiteral("帮助")}));
    QCOMPARE(child<QAction>(*window, "actionSettings")->text(), QStringLiteral("设置"));
    QCOMPARE(child<QAction>(*window, "actionAbout")->text(), QStringLiteral("关于"));
    QCOMPARE(child<QAction>(*window, "toolSettings")->toolTip(), QStringLiteral("设置"));
    QCOMPARE(child<QAction>(*window, "toolLog")->toolTip(), QStringLiteral("日志"));
    QTableWidget *table = eventTable(*window);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("时间"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("对象"));
    QCOMPARE(table->horizontalHeaderItem(2)->text(), QStringLiteral("事件"));

    // The tray follows the switch too.
    QStringList trayAfter {tray->toolTip()};
    for (QAction *action : tray->contextMenu()->actions())
        trayAfter << action->text();
    QCOMPARE(trayAfter,
        (QStringList {title, QStringLiteral("最小化"), QStringLiteral("显示"), QString(), QStringLiteral("退出")}));
    QCOMPARE(child<QAction>(*window, "actionQuit")->text(), QStringLiteral("退出"));
    // Qt's own texts (standard buttons, file dialogs, text field menus) are in Chinese as well.
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("查找范围："));
    QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo"), QStringLiteral("撤消(&U)"));
    QCOMPARE(QLocale().name(), QStringLiteral("zh_CN")); // the calendar pop-ups' day names

    child<QAction>(*window, "actionEnglish")->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("Time"));
    QCOMPARE(Language::eventSection(), QStringLiteral("Event_English"));
    QCOMPARE(tray->toolTip(), QStringLiteral("SNMP Vigilex"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

void TestMainWindow::aboutDialog()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    bool seen = false;
    QString title;
    QString text;
    QSize size;
    whenOpen(
        [&](QWidget *dialog) {
            title = dialog->windowTitle();
            size = dialog->size();
            QVERIFY(!dialog->parentWidget());
            QVERIFY(!dialog->testAttribute(Qt::WA_QuitOnClose));
            text = dialog->findChild<QLabel *>(QStringLiteral("aboutLabel"))->text();
        },
        &seen);
    window->showAboutDialog();
    QVERIFY(seen);
    QCOMPARE(title, QStringLiteral("About"));
    QCOMPARE(size, QSize(400, 200));
    // Build date and time in the compiler's own format: "Jun  5 2023 15:23:01".
    const QRegularExpression expected(QStringLiteral(
        "^<html><span style=\"font-weight:bold; font-size:16px\">SNMP Vigilex v1\\.0\\.5</span><br><br>"
        "Built on [A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9]"
        "<br><br>The program is used for power off protection by SNMP\\.</html>$"));
    QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));

    Language::instance()->setLanguage(Language::Chinese);
    QCoreApplication::processEvents();
    AboutDialog chinese;
    QCOMPARE(chinese.windowTitle(), QStringLiteral("关于"));
    const QString chineseText = chinese.findChild<QLabel *>(QStringLiteral("aboutLabel"))->text();
    QVERIFY(chineseText.contains(QStringLiteral("SNMP Vigilex v1.0.5")));
    QVERIFY(chineseText.contains(QCoreApplication::translate("AboutDialog", "Built on") + QLatin1Char(' ')));
    QVERIFY(!chineseText.contains(QStringLiteral("Built on")));
    Language::instance()->setLanguage(Language::English);
    QCoreApplication::processEvents();
    QVERIFY(chinese.windowTitle() == QStringLiteral("About"));
}

void TestMainWindow::clockTicks()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    auto *clock = child<QLabel>(*window, "clockLabel");
    QVERIFY(clock->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!clock->text().isEmpty(), 3000);
    const QDateTime shown = QDateTime::fromString(clock->text(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(shown.isValid());
    QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) < 3);
}

void TestMainWindow::trayQuitEndsTheEventLoop()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    QEventLoop loop; // stands for the program's own loop, which quit() ends
    QTimer::singleShot(0, window.get(), [&window] { child<QAction>(*window, "trayQuit")->trigger(); });
    QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(loop.exec(), 0);
    QVERIFY(clock.elapsed() < 4000);
}

int main(int argc, char *argv[])
{
    isolateSnmpLibraryFiles(); // the engine reads no configuration of this machine
    QApplication app(argc, argv);
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
