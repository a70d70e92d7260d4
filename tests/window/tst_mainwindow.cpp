#include "support/facekit.h"

#include "service/busbackend.h"
#include "snmp/snmp.h"
#include "snmp/snmpmanage.h"
#include "support/netns.h"
#include "ui/aboutdialog.h"
#include "ui/detailspanel.h"
#include "ui/historychart.h"
#include "ui/language.h"
#include "ui/led.h"
#include "ui/listwidgetitem.h"
#include "ui/mainwindow.h"
#include "ui/notificationarea.h"
#include "ui/shieldicon.h"

#include <QAction>
#include <QDBusConnection>
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

#include <tuple>

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
    void detailsOfTheSelectedCard_data();
    void detailsOfTheSelectedCard();
    void chartOfTheSelectedCard();
    void frontEndWithoutItsService();
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
    void quitSaysWhatItEnds_data();
    void quitSaysWhatItEnds();
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

// The tray's state, told by the colour of the badge that covers most of the icon's pixels.
int trayBadge(MainWindow &window)
{
    const QImage image = window.findChild<QSystemTrayIcon *>(QStringLiteral("trayIcon"))->icon().pixmap(32).toImage();
    int best = -1;
    int bestCount = 0;
    for (int state = 0; state < 4; ++state) {
        const QColor badge = ShieldIcon::badgeColour(StatusLine::Tray(state));
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() > 200 && qAbs(pixel.red() - badge.red()) < 12
                    && qAbs(pixel.green() - badge.green()) < 12 && qAbs(pixel.blue() - badge.blue()) < 12)
                    ++count;
            }
        }
        if (count > bestCount) {
            best = state;
            bestCount = count;
        }
    }
    return best;
}

QString trayTip(MainWindow &window)
{
    return window.findChild<QSystemTrayIcon *>(QStringLiteral("trayIcon"))->toolTip();
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
    QCOMPARE(window->size(), QSize(800, 600));
    QCOMPARE(window->windowTitle(), QStringLiteral("SNMP Vigilex"));
    QStringList menus;
    for (QAction *action : window->menuBar()->actions())
        menus << action->text();
    QCOMPARE(menus, texts({"&Settings", "&Language", "&Help"}));
    QAction *english = child<QAction>(*window, "actionEnglish");
    QAction *chinese = child<QAction>(*window, "actionChinese");
    QVERIFY(english->isCheckable() && chinese->isCheckable());
    QVERIFY(english->actionGroup() && english->actionGroup() == chinese->actionGroup());
    QVERIFY(english->actionGroup()->isExclusive());
    QCOMPARE(english->actionGroup()->actions(), (QList<QAction *> {english, chinese}));
    QCOMPARE(english->text(), QStringLiteral("&English"));
    QCOMPARE(chinese->text(), QStringLiteral("中文(&C)"));
    QCOMPARE(child<QAction>(*window, "actionAbout")->text(), QStringLiteral("&About..."));
    // The window's own menu can quit, for desktops without a notification area.
    QStringList settingsMenu;
    for (QAction *action : child<QMenu>(*window, "menuSettings")->actions())
        settingsMenu << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(settingsMenu, texts({"&Settings...", "|", "&Quit"}));
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
    // The cards with the selected one's details; its chart above the events.
    auto *cards = child<QSplitter>(*window, "cardSplitter");
    auto *events = child<QSplitter>(*window, "eventSplitter");
    QCOMPARE(splitter->widget(0), cards);
    QCOMPARE(splitter->widget(1), events);
    QCOMPARE(cards->orientation(), Qt::Vertical);
    QCOMPARE(cards->widget(0), hostList(*window));
    QCOMPARE(cards->widget(1), window->findChild<DetailsPanel *>());
    QCOMPARE(events->widget(0), window->findChild<HistoryChart *>());
    QCOMPARE(events->widget(1), eventTable(*window));
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
    QCOMPARE(tray->toolTip(), QStringLiteral("SNMP Vigilex\nNot protected: no UPS card is listed"));
    QVERIFY(!tray->icon().availableSizes().isEmpty());
    QCOMPARE(trayBadge(*window), int(StatusLine::Tray::NotProtected));
    // Alone, quitting ends the protection, and the action says so before it is chosen.
    for (const char *name : {"actionQuit", "trayQuit"}) {
        QCOMPARE(child<QAction>(*window, name)->statusTip(),
            QStringLiteral("Quit SNMP Vigilex; this computer is no longer protected"));
        QCOMPARE(child<QAction>(*window, name)->toolTip(), child<QAction>(*window, name)->statusTip());
    }
    QStringList trayTexts;
    for (QAction *action : tray->contextMenu()->actions())
        trayTexts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    QCOMPARE(trayTexts, texts({"Mi&nimize", "&Show", "|", "&Quit"}));
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
    QCOMPARE(trayTip(*window), QStringLiteral("SNMP Vigilex\n1 card: 1 waiting"));
    QCOMPARE(trayBadge(*window), int(StatusLine::Tray::Trouble));
    window->protection()->handleSNMPStatus(QStringLiteral("127.0.1.2"), 1);
    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x00\x02\x50", 4));
    QCOMPARE(window->statusText(), QString::fromUtf8("Protected \u2014 1 card online"));
    QCOMPARE(trayTip(*window), QStringLiteral("SNMP Vigilex\n1 card: 1 online"));
    QCOMPARE(trayBadge(*window), int(StatusLine::Tray::Protected));

    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x01\x03\x50", 4));
    QVERIFY(window->shutdownPolicy()->countdownActive());
    const QRegularExpression onBattery(
        QString::fromUtf8("^On battery: 127\\.0\\.1\\.2 \\(mains failure\\) \u2014 shutdown in (29:5\\d|30:00)$"));
    QVERIFY2(onBattery.match(window->statusText()).hasMatch(), qPrintable(window->statusText()));
    auto *clock = child<QLabel>(*window, "clockLabel");
    QVERIFY2(clock->text().startsWith(QStringLiteral("Shutdown in 29:5")) || clock->text().startsWith(QStringLiteral("Shutdown in 30:00")),
        qPrintable(clock->text()));
    const QRegularExpression countingTip(
        QString::fromUtf8("^SNMP Vigilex\n1 card: 1 on battery \u2014 shutdown in (29:5\\d|30:00)$"));
    QVERIFY2(countingTip.match(trayTip(*window)).hasMatch(), qPrintable(trayTip(*window)));
    QCOMPARE(trayBadge(*window), int(StatusLine::Tray::Countdown));

    window->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x00\x02\x50", 4));
    QVERIFY(!window->shutdownPolicy()->countdownActive());
    QCOMPARE(window->statusText(), QString::fromUtf8("Protected \u2014 1 card online"));
    QVERIFY(!clock->text().startsWith(QStringLiteral("Shutdown")));
    window->protection()->handleSNMPStatus(QStringLiteral("127.0.1.2"), 0);
    QCOMPARE(window->statusText(), QStringLiteral("Not protected: no card answers (offline: 127.0.1.2)"));
    QCOMPARE(trayTip(*window), QString::fromUtf8("SNMP Vigilex\n1 card: 1 offline \u2014 not protected"));
    QCOMPARE(trayBadge(*window), int(StatusLine::Tray::NotProtected));
    QCOMPARE(shutdowns, 0);
}

void TestMainWindow::detailsOfTheSelectedCard_data()
{
    QTest::addColumn<CardDetails>("record"); // what the backend reports, for the card it names
    QTest::addColumn<bool>("selected"); // 10.0.0.1 selected, or nothing
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QStringList>("values");

    const qint64 answered = QDateTime(QDate(2026, 12, 9), QTime(5, 30, 7)).toMSecsSinceEpoch();
    const QString at = QStringLiteral("2026-12-09 05:30:07");
    const QString dash = QString::fromUtf8("\u2014");
    const QString host = QStringLiteral("10.0.0.1");
    CardDetails full;
    full.host = host;
    full.answeredAtMs = answered;
    full.model = QStringLiteral("Smart-UPS 1500");
    full.outputSource = 5;
    full.batteryStatus = 2;
    full.capacity = 87;
    full.runtimeMinutes = 41;
    full.loadPercent = 23;
    full.inputVoltage = 0;
    full.outputVoltage = 229;
    full.inputFrequencyTenths = 499;
    full.batteryTemperature = 27;
    QTest::newRow("everything reported") << full << true << host
                                         << (QStringList {QStringLiteral("Smart-UPS 1500"), QStringLiteral("battery"),
                                                QStringLiteral("normal"), QStringLiteral("87 %"),
                                                QStringLiteral("41 min"), QStringLiteral("23 %"), QStringLiteral("0 V"),
                                                QStringLiteral("229 V"), QStringLiteral("49.9 Hz"),
                                                QString::fromUtf8("27 \u00b0C"), at});
    CardDetails bare;
    bare.host = host;
    bare.answeredAtMs = answered;
    QStringList dashes;
    for (int i = 0; i < 10; ++i)
        dashes << dash;
    QTest::newRow("nothing but the answer") << bare << true << host << (QStringList(dashes) << at);
    CardDetails odd = bare;
    odd.outputSource = 9;
    odd.batteryStatus = 4;
    odd.capacity = 0;
    odd.inputFrequencyTenths = 600;
    QTest::newRow("codes beyond the MIB's, zeros")
        << odd << true << host
        << (QStringList {dash, QStringLiteral("unknown (9)"), QStringLiteral("depleted"), QStringLiteral("0 %"), dash,
               dash, dash, dash, QStringLiteral("60.0 Hz"), dash, at});
    CardDetails bypass = bare;
    bypass.outputSource = 4;
    bypass.batteryStatus = 3;
    QTest::newRow("bypass, battery low") << bypass << true << host
                                         << (QStringList {dash, QStringLiteral("bypass"), QStringLiteral("low"), dash,
                                                dash, dash, dash, dash, dash, dash, at});
    CardDetails never = full;
    never.answeredAtMs = 0;
    const QStringList allDashes = QStringList(dashes) << dash;
    QTest::newRow("never answered") << never << true << QStringLiteral("10.0.0.1: no details reported yet")
                                    << allDashes;
    CardDetails other = full;
    other.host = QStringLiteral("10.0.0.2");
    QTest::newRow("another card's record")
        << other << true << QStringLiteral("10.0.0.1: no details reported yet") << allDashes;
    QTest::newRow("nothing selected") << full << false << QStringLiteral("Select a card to see what it reports")
                                      << allDashes;
}

// The panel beside the list shows what the selected card reported last, and follows each new report.
void TestMainWindow::detailsOfTheSelectedCard()
{
    QFETCH(CardDetails, record);
    QFETCH(bool, selected);
    QFETCH(QString, heading);
    QFETCH(QStringList, values);

    ScratchApp app;
    prepare(app);
    Store::addSession(QStringLiteral("10.0.0.1"));
    Store::addSession(QStringLiteral("10.0.0.2"));
    auto window = makeWindow();
    auto *panel = window->findChild<DetailsPanel *>();
    QVERIFY(panel);
    // The first card is selected from the start.
    QCOMPARE(window->selectedHost(), QStringLiteral("10.0.0.1"));
    QCOMPARE(panel->heading(), QStringLiteral("10.0.0.1: no details reported yet"));
    if (!selected) {
        hostList(*window)->clearSelection();
        QCOMPARE(window->selectedHost(), QString());
        QCOMPARE(
            window->findChild<HistoryChart *>()->message(), QStringLiteral("Select a card to see its last 24 hours"));
    }
    emit window->backend()->detailsChanged(record);
    QCOMPARE(panel->heading(), heading);
    QCOMPARE(panel->values(), values);

    // Another card selected: the values shown were the first card's, and go.
    hostList(*window)->setCurrentRow(1);
    QCOMPARE(window->selectedHost(), QStringLiteral("10.0.0.2"));
    QCOMPARE(panel->values(), QVector<QString>(11, QString::fromUtf8("\u2014")).toList());
}

// The chart of the selected card marks its own events of the last 24 hours, power trouble apart; a read that
// fails says so in place of the lines.
void TestMainWindow::chartOfTheSelectedCard()
{
    ScratchApp app;
    prepare(app);
    Store::addSession(QStringLiteral("10.0.0.1"));
    Store::addSession(QStringLiteral("10.0.0.2"));
    auto window = makeWindow();
    auto *chart = window->findChild<HistoryChart *>();
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.1"), 8); // battery low
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.2"), 8);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.1"), 1);
    hostList(*window)->setCurrentRow(1);
    hostList(*window)->setCurrentRow(0);
    QTRY_COMPARE(chart->marks().size(), 2);
    QStringList marks;
    for (const HistoryChart::Mark &mark : chart->marks()) {
        QVERIFY(qAbs(mark.at - QDateTime::currentSecsSinceEpoch()) < 10);
        marks << QStringLiteral("%1 %2").arg(mark.powerTrouble ? QLatin1String("!") : QLatin1String("-"), mark.text);
    }
    marks.sort();
    QCOMPARE(marks, texts({"! T", "- Back"}));
    // A new event of the selected card is marked soon after, without a new selection; another card's is not.
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.2"), 1);
    window->protection()->handleSNMPEvent(QStringLiteral("10.0.0.1"), 1);
    QTRY_COMPARE(chart->marks().size(), 3);
    QTRY_VERIFY(!chart->message().startsWith(QLatin1String("Reading")));
    QCOMPARE(chart->message(), QString());
    QVERIFY(chart->samples().isEmpty());

    // Samples of the last day, this card's only, oldest first; one older than the day is left out.
    const qint64 minute = QDateTime::currentSecsSinceEpoch() / 60 * 60;
    for (const auto &row : {std::make_tuple("10.0.0.1", minute - 120, 90), std::make_tuple("10.0.0.2", minute - 60, 50),
             std::make_tuple("10.0.0.1", minute - 25 * 3600, 10), std::make_tuple("10.0.0.1", minute - 3600, 80)})
        QVERIFY(Store::exec(QStringLiteral("insert into snmp_history(host, at, capacity, load) values('%1', %2, %3, 20)")
                                .arg(QLatin1String(std::get<0>(row)))
                                .arg(std::get<1>(row))
                                .arg(std::get<2>(row))));
    hostList(*window)->setCurrentRow(1);
    hostList(*window)->setCurrentRow(0);
    QTRY_COMPARE(chart->samples().size(), 2);
    QCOMPARE(chart->samples().at(0).at, minute - 3600);
    QCOMPARE(chart->samples().at(0).capacity, 80);
    QCOMPARE(chart->samples().at(1).capacity, 90);
    QCOMPARE(chart->samples().at(1).loadPercent, 20);
    QCOMPARE(chart->marks().size(), 3);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(!chart->grab().isNull()); // paints the lines and the marks
    // The newest marks lie at the right end; the pointer there names one of them.
    QToolTip::hideText();
    const QPoint end(chart->width() - 9, chart->height() / 2);
    QHelpEvent help(QEvent::ToolTip, end, chart->mapToGlobal(end));
    QCoreApplication::sendEvent(chart, &help);
    QVERIFY(QToolTip::isVisible());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d (Back|T)$"))
                 .match(QToolTip::text())
                 .hasMatch(),
        qPrintable(QToolTip::text()));
    QToolTip::hideText();

    // A read that fails says so in place of the lines; the lines of the card shown before are gone.
    QVERIFY(Store::exec(QStringLiteral("drop table snmp_history")));
    hostList(*window)->setCurrentRow(1);
    QTRY_VERIFY(chart->message().startsWith(QLatin1String("The history of 10.0.0.2 could not be read: ")));
    QVERIFY(!chart->grab().isNull()); // and the message
}

// In front of a service that is not on the bus: no details, no chart, and quitting asks nothing.
void TestMainWindow::frontEndWithoutItsService()
{
    ScratchApp app;
    prepare(app);
    BusBackend backend(QDBusConnection(QStringLiteral("never connected")));
    MainWindow window(&backend);
    QTRY_VERIFY(!backend.isReachable());
    QTRY_COMPARE(window.findChild<DetailsPanel *>()->heading(),
        QStringLiteral("No details: the protection service is not running"));
    QCOMPARE(window.findChild<HistoryChart *>()->message(),
        QStringLiteral("No history: the protection service is not running"));
    QCOMPARE(trayBadge(window), int(StatusLine::Tray::NotProtected));
    QCOMPARE(trayTip(window), QStringLiteral("SNMP Vigilex\nNot protected: the protection service is not running"));
    for (const char *name : {"actionQuit", "trayQuit"})
        QCOMPARE(child<QAction>(window, name)->statusTip(),
            QStringLiteral("Close this window; the protection service goes on protecting this computer"));
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
    QCOMPARE(menuTexts, texts({"&Clear content"}));
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
    QCOMPARE(menus, (QStringList {QStringLiteral("设置(&S)"), QStringLiteral("语言(&L)"), QStringLiteral("帮助(&H)")}));
    QCOMPARE(child<QAction>(*window, "actionSettings")->text(), QStringLiteral("设置(&S)..."));
    QCOMPARE(child<QAction>(*window, "actionAbout")->text(), QStringLiteral("关于(&A)..."));
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
        (QStringList {title + QStringLiteral("\n未受保护：未列出 UPS 卡"), QStringLiteral("最小化(&N)"),
            QStringLiteral("显示(&S)"), QString(), QStringLiteral("退出(&Q)")}));
    QCOMPARE(child<QAction>(*window, "actionQuit")->text(), QStringLiteral("退出(&Q)"));
    QCOMPARE(window->findChild<DetailsPanel *>()->heading(),
        QCoreApplication::translate("DetailsPanel", "Select a card to see what it reports"));
    QVERIFY(window->findChild<DetailsPanel *>()->heading() != QLatin1String("Select a card to see what it reports"));
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
    QCOMPARE(tray->toolTip(), QStringLiteral("SNMP Vigilex\nNot protected: no UPS card is listed"));
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

void TestMainWindow::quitSaysWhatItEnds_data()
{
    QTest::addColumn<QString>("face"); // "alone", "countdown" (alone, a shutdown counting down), "front end"
    QTest::addColumn<QString>("action"); // the menu's (Ctrl+Q) or the tray's
    QTest::addColumn<int>("answer"); // to the question, if one is asked: 0 quit, 1 cancel
    QTest::addColumn<QString>("question"); // a pattern; empty: nothing is asked
    QTest::addColumn<bool>("quits");

    const QString plain = QStringLiteral("^Quitting stops protecting this computer\\. Quit\\?$");
    const QString due
        = QStringLiteral("^A shutdown of this computer is due at \\d\\d:\\d\\d:\\d\\d \\(in (29:5\\d|30:00)\\); "
                         "quitting cancels it\\.\\nQuitting stops protecting this computer\\. Quit\\?$");
    QTest::newRow("alone: quit") << "alone"
                                 << "actionQuit" << 0 << plain << true;
    QTest::newRow("alone: cancel keeps it") << "alone"
                                            << "actionQuit" << 1 << plain << false;
    QTest::newRow("alone, from the tray: cancel") << "alone"
                                                  << "trayQuit" << 1 << plain << false;
    QTest::newRow("countdown: says when the shutdown is due") << "countdown"
                                                              << "trayQuit" << 1 << due << false;
    QTest::newRow("countdown: quit") << "countdown"
                                     << "actionQuit" << 0 << due << true;
    QTest::newRow("front end: no question") << "front end"
                                            << "actionQuit" << 0 << QString() << true;
    QTest::newRow("front end, from the tray") << "front end"
                                              << "trayQuit" << 0 << QString() << true;
}

void TestMainWindow::quitSaysWhatItEnds()
{
    QFETCH(QString, face);
    QFETCH(QString, action);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(bool, quits);

    ScratchApp app;
    prepare(app);
    Store::writeSetting(QStringLiteral("shutdown/ac_failed_time"), 30);
    int shutdowns = 0;
    std::unique_ptr<Window> alone;
    std::unique_ptr<BusBackend> bus;
    std::unique_ptr<MainWindow> frontEnd;
    MainWindow *window;
    if (face == QLatin1String("front end")) {
        bus = std::make_unique<BusBackend>(QDBusConnection(QStringLiteral("never connected")));
        frontEnd = std::make_unique<MainWindow>(bus.get());
        window = frontEnd.get();
    } else {
        alone = makeWindow(&shutdowns);
        window = alone.get();
        if (face == QLatin1String("countdown")) {
            QVERIFY(addHost(*alone->backend(), card(QStringLiteral("127.0.1.2"))).ok);
            alone->protection()->handleSNMPStatus(QStringLiteral("127.0.1.2"), 1);
            alone->protection()->handleSNMPData(QStringLiteral("127.0.1.2"), QByteArray("\x02\x01\x03\x50", 4));
            QVERIFY(alone->shutdownPolicy()->countdownActive());
        }
    }
    PromptRecorder prompts;
    prompts.answers << UserPrompt::Answer {answer, {}, {}};
    QTimer::singleShot(0, window, [window, action] { child<QAction>(*window, qPrintable(action))->trigger(); });
    // The program's own loop; it runs again after a quit, unlike a nested one.
    // A timer that dies with the row: a late exit() would end the next test's loops.
    QTimer fallback;
    fallback.setSingleShot(true);
    connect(&fallback, &QTimer::timeout, qApp, [] { QCoreApplication::exit(7); });
    fallback.start(300);
    QCOMPARE(QCoreApplication::exec(), quits ? 0 : 7);
    if (question.isEmpty()) {
        QCOMPARE(prompts.requests.size(), 0);
    } else {
        QCOMPARE(prompts.requests.size(), 1);
        const UserPrompt::Request &asked = prompts.requests.constFirst();
        QCOMPARE(int(asked.kind), int(UserPrompt::Kind::Warning));
        QCOMPARE(asked.title, QStringLiteral("Quit SNMP Vigilex"));
        QCOMPARE(asked.buttons, texts({"&Quit", "&Cancel"}));
        QVERIFY2(QRegularExpression(question).match(asked.text).hasMatch(), qPrintable(asked.text));
    }
    if (alone && !quits && face == QLatin1String("countdown"))
        QVERIFY(alone->shutdownPolicy()->countdownActive());
    QCOMPARE(shutdowns, 0);
}

void TestMainWindow::trayQuitEndsTheEventLoop()
{
    ScratchApp app;
    prepare(app);
    auto window = makeWindow();
    PromptRecorder prompts; // "Quit" to the question of the window alone
    QEventLoop loop; // stands for the program's own loop, which quit() ends
    QTimer::singleShot(0, window.get(), [&window] { child<QAction>(*window, "trayQuit")->trigger(); });
    QTimer::singleShot(5000, &loop, [&loop] { loop.exit(7); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(loop.exec(), 0);
    QVERIFY(clock.elapsed() < 4000);
    QCOMPARE(prompts.requests.size(), 1);
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
