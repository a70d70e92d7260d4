#include "ui/mainwindow.h"

#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "storage/statements.h"
#include "ui/aboutdialog.h"
#include "ui/elidedtexttipdelegate.h"
#include "ui/language.h"
#include "ui/listwidgetitem.h"
#include "ui/logdialog.h"
#include "ui/mainwindowprivate.h"
#include "ui/notificationarea.h"
#include "ui/settingsdialog.h"
#include "ui/userprompt.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDebug>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSessionManager>
#include <QSplitter>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

// The images live in the static widget library, whose resource initialiser nothing else would pull in.
static void initImages() { Q_INIT_RESOURCE(images); }

namespace {
constexpr int maxEventRows = 5000;
constexpr int timeColumnWidth = 130;
constexpr int hostRowHeight = 40;
constexpr int eventColumn = 2;

QString timestamp() { return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

// The local time of a row, made once per second: the conversion looks at the zone file each time, which a
// storm of thousands of rows a second would otherwise pay per row.
QString rowTimestamp()
{
    static qint64 second = -1;
    static QString text;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != second) {
        second = now;
        text = timestamp();
    }
    return text;
}

QSqlDatabase database()
{
    const QString path = AppPaths::databasePath();
    Database::instance()->open(path, QString(), QString()); // normally already open: the engine created the schema
    return Database::instance()->connection(path);
}
} // namespace

// The widgets of the window; they all belong to it through Qt parents.
struct MainWindow::Form
{
    QMenu *menuSettings = nullptr;
    QMenu *menuLanguage = nullptr;
    QMenu *menuHelp = nullptr;
    QAction *actionSettings = nullptr;
    QAction *actionQuit = nullptr;
    QAction *actionEnglish = nullptr;
    QAction *actionChinese = nullptr;
    QActionGroup *languageGroup = nullptr;
    QAction *actionAbout = nullptr;
    QToolBar *toolBar = nullptr;
    QAction *toolSettings = nullptr;
    QAction *toolLog = nullptr;
    QLabel *clockLabel = nullptr;
    QSplitter *splitter = nullptr;
    QListWidget *hostList = nullptr;
    QTableWidget *eventTable = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *trayMinimize = nullptr;
    QAction *trayShow = nullptr;
    QAction *trayQuit = nullptr;
};

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Form)
    , d(new MainWindowPrivate)
{
    d->window = this;
    initImages();
    setupUi();
    d->language->initialize(ui->languageGroup);
    // The translator's own change event comes later through the event queue; be right from the start.
    retranslateUi();
    setupTrayIcon();
    setupSession();
    loadHostItems();

    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::showAboutDialog);
    connect(ui->actionSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolLog, &QAction::triggered, this, &MainWindow::showLogDialog);
    connect(ui->actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(ui->languageGroup, &QActionGroup::triggered, this, &MainWindow::onLanguageChanged);
    connect(ui->eventTable, &QWidget::customContextMenuRequested, this, &MainWindow::onEventTableContextMenu);
    connect(d->clockTimer.get(), &QTimer::timeout, this, &MainWindow::updateClock);
    connect(d->policy.get(), &ShutdownPolicy::message, this,
            [this](const QString &text) { displaySNMPEvent(tr("System"), text); });
    d->rowTimer->setSingleShot(true);
    connect(d->rowTimer.get(), &QTimer::timeout, this, &MainWindow::flushEventRows);
    EventStore *store = EventStore::instance();
    connect(store, &EventStore::storingFailed, this, [this] {
        displaySNMPEvent(tr("System"),
                         tr("Events cannot be stored at the moment; they are kept until storing works again"));
    });
    connect(store, &EventStore::storingRecovered, this, [this] {
        displaySNMPEvent(tr("System"), tr("Storing events works again; the events kept meanwhile are stored"));
    });

    d->clockTimer->start(1000);
}

MainWindow::~MainWindow()
{
    // What is still waiting gets a few seconds to reach the disk.
    EventStore::instance()->stop(3000);
    delete d;
    delete ui;
}

void MainWindow::setupUi()
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(720, 540);

    ui->menuSettings = menuBar()->addMenu(QString());
    ui->menuSettings->setObjectName(QStringLiteral("menuSettings"));
    ui->actionSettings = ui->menuSettings->addAction(QIcon(QStringLiteral(":/image/settings.ico")), QString());
    ui->actionSettings->setObjectName(QStringLiteral("actionSettings"));
    ui->actionSettings->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_Comma));
    ui->menuSettings->addSeparator();
    // A desktop without a notification area has no tray menu, so the window offers "Quit" too.
    ui->actionQuit = ui->menuSettings->addAction(QString());
    ui->actionQuit->setObjectName(QStringLiteral("actionQuit"));
    ui->actionQuit->setShortcut(QKeySequence::Quit);
    ui->actionQuit->setShortcutContext(Qt::ApplicationShortcut);

    ui->menuLanguage = menuBar()->addMenu(QString());
    ui->menuLanguage->setObjectName(QStringLiteral("menuLanguage"));
    ui->languageGroup = new QActionGroup(this);
    ui->languageGroup->setObjectName(QStringLiteral("languageGroup"));
    ui->languageGroup->setExclusive(true);
    ui->actionEnglish = ui->languageGroup->addAction(QString());
    ui->actionEnglish->setObjectName(QStringLiteral("actionEnglish"));
    ui->actionChinese = ui->languageGroup->addAction(QString());
    ui->actionChinese->setObjectName(QStringLiteral("actionChinese"));
    for (QAction *action : {ui->actionEnglish, ui->actionChinese}) {
        action->setCheckable(true);
        ui->menuLanguage->addAction(action);
    }

    ui->menuHelp = menuBar()->addMenu(QString());
    ui->menuHelp->setObjectName(QStringLiteral("menuHelp"));
    ui->actionAbout = ui->menuHelp->addAction(QIcon(QStringLiteral(":/image/about.ico")), QString());
    ui->actionAbout->setObjectName(QStringLiteral("actionAbout"));

    ui->toolBar = addToolBar(QString());
    ui->toolBar->setObjectName(QStringLiteral("toolBar"));
    ui->toolBar->setMovable(false);
    ui->toolBar->setIconSize(QSize(48, 48));
    ui->toolSettings = ui->toolBar->addAction(QIcon(QStringLiteral(":/image/settings.ico")), QString());
    ui->toolSettings->setObjectName(QStringLiteral("toolSettings"));
    ui->toolBar->addSeparator();
    ui->toolLog = ui->toolBar->addAction(QIcon(QStringLiteral(":/image/log.ico")), QString());
    ui->toolLog->setObjectName(QStringLiteral("toolLog"));
    ui->toolLog->setShortcut(QKeySequence(Qt::CTRL + Qt::Key_L));
    ui->toolBar->addSeparator();

    ui->clockLabel = new QLabel(this);
    ui->clockLabel->setObjectName(QStringLiteral("clockLabel"));
    statusBar()->addPermanentWidget(ui->clockLabel);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto *layout = new QVBoxLayout(central);
    ui->splitter = new QSplitter(Qt::Horizontal, central);
    ui->splitter->setObjectName(QStringLiteral("splitter"));
    ui->hostList = new QListWidget(ui->splitter);
    ui->hostList->setObjectName(QStringLiteral("hostList"));
    ui->eventTable = new QTableWidget(ui->splitter);
    ui->eventTable->setObjectName(QStringLiteral("eventTable"));
    ui->splitter->addWidget(ui->hostList);
    ui->splitter->addWidget(ui->eventTable);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 7);
    layout->addWidget(ui->splitter);
    setCentralWidget(central);

    ui->eventTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The event text takes the width left over; what still does not fit is shown whole in its tooltip.
    ui->eventTable->horizontalHeader()->setStretchLastSection(true);
    ui->eventTable->setItemDelegateForColumn(eventColumn, new ElidedTextTipDelegate(ui->eventTable));
    // Sizing to the rows on screen only: measuring all 5000 rows on every new row is what makes a full table slow.
    ui->eventTable->horizontalHeader()->setResizeContentsPrecision(0);
    ui->eventTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->eventTable->setContextMenuPolicy(Qt::CustomContextMenu);

    retranslateUi();
}

void MainWindow::retranslateUi()
{
    setWindowTitle(tr("SNMP Vigilex"));
    ui->menuSettings->setTitle(tr("Settings"));
    ui->actionSettings->setText(tr("Settings"));
    ui->actionQuit->setText(tr("Quit"));
    ui->menuLanguage->setTitle(tr("Language"));
    ui->actionEnglish->setText(tr("English"));
    ui->actionChinese->setText(tr("中文"));
    ui->menuHelp->setTitle(tr("Help"));
    ui->actionAbout->setText(tr("About"));
    ui->toolSettings->setToolTip(tr("Settings"));
    ui->toolLog->setToolTip(tr("Log"));
    ui->eventTable->setColumnCount(3);
    ui->eventTable->setHorizontalHeaderLabels({QCoreApplication::translate("MainWidget", "Time"),
                                               QCoreApplication::translate("MainWidget", "Object"),
                                               QCoreApplication::translate("MainWidget", "Event")});
    ui->eventTable->setColumnWidth(0, timeColumnWidth);
    if (ui->trayIcon) {
        ui->trayIcon->setToolTip(tr("SNMP Vigilex"));
        ui->trayMinimize->setText(tr("Minimize"));
        ui->trayShow->setText(tr("Show"));
        ui->trayQuit->setText(tr("Quit"));
    }
}

void MainWindow::setupTrayIcon()
{
    ui->trayIcon = new QSystemTrayIcon(this);
    ui->trayIcon->setObjectName(QStringLiteral("trayIcon"));
    ui->trayIcon->setIcon(QIcon(QStringLiteral(":/image/shield.ico")));
    ui->trayMenu = new QMenu(this);
    ui->trayMenu->setObjectName(QStringLiteral("trayMenu"));
    ui->trayMinimize = ui->trayMenu->addAction(QString());
    ui->trayMinimize->setObjectName(QStringLiteral("trayMinimize"));
    ui->trayShow = ui->trayMenu->addAction(QString());
    ui->trayShow->setObjectName(QStringLiteral("trayShow"));
    ui->trayMenu->addSeparator();
    ui->trayQuit = ui->trayMenu->addAction(QString());
    ui->trayQuit->setObjectName(QStringLiteral("trayQuit"));
    connect(ui->trayMinimize, &QAction::triggered, this, &QWidget::hide);
    connect(ui->trayShow, &QAction::triggered, this, &QWidget::showNormal);
    connect(ui->trayQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    ui->trayIcon->setContextMenu(ui->trayMenu);
    connect(ui->trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayIconActivated);
    retranslateUi();
    ui->trayIcon->show();
}

void MainWindow::setupSession()
{
    // At log-out the session manager asks every window to close and gives up the log-out if one refuses; from
    // then on a close is granted, and its "die" that follows ends the event loop like the tray's "Quit".
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { d->sessionEnding = true; });
    // The desktop's autostart entry starts the program at log-in; a session restart as well would run it twice.
    connect(qApp, &QGuiApplication::saveStateRequest, this,
        [](QSessionManager &manager) { manager.setRestartHint(QSessionManager::RestartNever); });
}

void MainWindow::setEngine(SNMP *engine)
{
    if (d->engine)
        disconnect(d->engine, nullptr, this, nullptr);
    d->engine = engine;
    if (!engine)
        return;
    connect(engine, &SNMP::eventTriggered, this, &MainWindow::handleSNMPEvent);
    connect(engine, &SNMP::statusChanged, this, &MainWindow::handleSNMPStatus);
    connect(engine, &SNMP::dataReady, this, &MainWindow::handleSNMPData);
}

QStringList MainWindow::hosts() const { return d->hosts; }

ShutdownPolicy *MainWindow::shutdownPolicy() const { return d->policy.get(); }

void MainWindow::loadHostItems()
{
    QSqlQuery query(database());
    if (!query.exec(QLatin1String(Sql::selectSessionIps)))
        return;
    while (query.next())
        addHostItem(query.value(0).toString());
}

void MainWindow::addHostItem(const QString &ip)
{
    d->hosts.append(ip);
    d->rowOfHostValid = false;
    auto *row = new QListWidgetItem;
    row->setSizeHint(QSize(0, hostRowHeight));
    ui->hostList->insertItem(ui->hostList->count(), row);
    ui->hostList->setItemWidget(row, new ListWidgetItem(ip, ui->hostList));
}

ListWidgetItem *MainWindow::findHostItem(const QString &host) const
{
    if (!d->rowOfHostValid) {
        d->rowOfHost.clear();
        for (int i = d->hosts.size() - 1; i >= 0; --i)
            d->rowOfHost.insert(d->hosts.at(i), i);
        d->rowOfHostValid = true;
    }
    const int index = d->rowOfHost.value(host, -1);
    if (index < 0 || index >= ui->hostList->count())
        return nullptr;
    return qobject_cast<ListWidgetItem *>(ui->hostList->itemWidget(ui->hostList->item(index)));
}

void MainWindow::addSNMPHostEvent(const SNMPInfo &info)
{
    addHostItem(info.ip);
    if (d->engine)
        d->engine->addHost(info);
}

void MainWindow::removeSNMPHostEvent(const QString &peer)
{
    if (d->engine)
        d->engine->removeHost(peer);
    removeHostItem(peer);
    d->policy->forgetCard(Snmp::hostOfPeer(peer));
}

void MainWindow::removeHostItem(const QString &peer)
{
    const int index = d->hosts.indexOf(Snmp::hostOfPeer(peer));
    if (index < 0 || index >= ui->hostList->count())
        return;
    // Only the entry of this row goes: dropping every equal entry would put the list out of step with the rows.
    d->hosts.removeAt(index);
    d->rowOfHostValid = false;
    QListWidgetItem *row = ui->hostList->item(index);
    QWidget *widget = ui->hostList->itemWidget(row);
    ui->hostList->removeItemWidget(row);
    delete widget;
    delete ui->hostList->takeItem(index);
}

void MainWindow::modifySNMPHostEvent(const SNMPInfo &infoNew, const SNMPInfo &infoOld)
{
    const int index = d->hosts.indexOf(infoOld.ip);
    if (index < 0 || index >= ui->hostList->count())
        return;
    d->hosts[index] = infoNew.ip;
    d->rowOfHostValid = false;
    if (auto *item = qobject_cast<ListWidgetItem *>(ui->hostList->itemWidget(ui->hostList->item(index)))) {
        item->setHost(infoNew.ip);
        item->reset(); // grey, without the old card's trouble, until the engine reports on the new address
    }
    if (d->engine)
        d->engine->modifyHost(infoNew, infoOld);
    d->policy->forgetCard(infoOld.ip);
}

void MainWindow::storeSNMPEvent(const QString &host, int event)
{
    // The writer replaces a deleted file itself; this connection follows it, checked a few times a second.
    if (!d->sinceFileCheck.isValid() || d->sinceFileCheck.elapsed() >= MainWindowPrivate::fileCheckMs) {
        d->sinceFileCheck.start();
        Database::instance()->reopenIfDeleted();
    }
    // Queued for the event store's writer: the pop-ups and the protection never wait for the disk.
    EventStore::instance()->store(host, event);
}

void MainWindow::displaySNMPEvent(const QString &host, const QString &event)
{
    d->pendingRows.append({rowTimestamp(), host, event});
    if (d->pendingRows.size() > maxEventRows)
        d->pendingRows.remove(0, d->pendingRows.size() - maxEventRows);
    if (d->rowTimer->isActive())
        return;
    const qint64 since = d->sinceRows.isValid() ? d->sinceRows.elapsed() : MainWindowPrivate::rowBatchMs;
    if (since < MainWindowPrivate::rowBatchMs) {
        d->rowTimer->start(int(MainWindowPrivate::rowBatchMs - since));
        return;
    }
    flushEventRows();
}

void MainWindow::flushEventRows()
{
    d->rowTimer->stop();
    d->sinceRows.start();
    if (d->pendingRows.isEmpty())
        return;
    // Each row added or removed on its own makes the view lay itself out again; a batch does it once.
    QTableWidget *table = ui->eventTable;
    const int batch = d->pendingRows.size();
    int row = table->rowCount();
    const int excess = row + batch - maxEventRows;
    if (excess > 0) {
        const int remove = qMin(excess, row);
        table->model()->removeRows(0, remove);
        row -= remove;
    }
    table->setRowCount(row + batch);
    for (const auto &texts : qAsConst(d->pendingRows)) {
        for (int column = 0; column < 3; ++column) {
            auto *item = new QTableWidgetItem(texts[std::size_t(column)]);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            item->setTextAlignment(Qt::AlignCenter);
            table->setItem(row, column, item);
        }
        ++row;
    }
    d->pendingRows.clear();
    table->scrollToBottom();
}

void MainWindow::handleSNMPEvent(const QString &host, int event)
{
    storeSNMPEvent(host, event);
    const QString text = d->catalogue->text(Language::eventSection(), event);
    if (text.isEmpty()) {
        // A sender can send unknown codes without end: one line a minute per sender, with the count.
        const qint64 count = d->unknownCodeLog.hit(host, LogThrottle::steadyMs());
        if (count == 1)
            qInfo() << "Event triggered, code:" << event;
        else if (count > 1)
            qInfo() << "Event triggered, code:" << event << "(" << count << "events without text from" << host
                    << "in the last minute or more)";
        return;
    }
    displaySNMPEvent(host, text);
    if (!d->popupWarning || !d->popupEventCodes.contains(event))
        return;
    // Beyond the bound the event is stored and listed, only not announced.
    if (d->openWarnings >= MainWindowPrivate::maxOpenWarnings)
        return;
    ++d->openWarnings;
    UserPrompt::warning(this, tr("Warning"), host + QLatin1Char(' ') + text, tr("Sure"));
    --d->openWarnings;
}

void MainWindow::handleSNMPStatus(const QString &host, int status)
{
    if (ListWidgetItem *item = findHostItem(host))
        item->setStatus(status);
}

void MainWindow::handleSNMPData(const QString &host, const QByteArray &data)
{
    // Every host's data counts for the protection, listed or not.
    d->policy->checkShutdownCondition(host, data);
    if (ListWidgetItem *item = findHostItem(host))
        item->setData(data);
}

void MainWindow::onOffAPPTimeout() { d->policy->onOffAPPTimeout(); }

void MainWindow::onOffAPPError(QProcess::ProcessError error) { d->policy->onOffAPPError(error); }

void MainWindow::onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    d->policy->onOffAPPFinished(exitCode, exitStatus);
}

void MainWindow::showAboutDialog()
{
    AboutDialog dialog;
    dialog.exec();
}

void MainWindow::showSettingsDialog()
{
    SettingsDialog dialog;
    connect(&dialog, &SettingsDialog::hostAdded, this, &MainWindow::addSNMPHostEvent);
    connect(&dialog, &SettingsDialog::hostRemoved, this, &MainWindow::removeSNMPHostEvent);
    connect(&dialog, &SettingsDialog::hostModified, this, &MainWindow::modifySNMPHostEvent);
    connect(&dialog, &SettingsDialog::popupStateChanged, this, [this](bool popup) { d->popupWarning = popup; });
    dialog.exec();
}

void MainWindow::showLogDialog()
{
    LogDialog dialog;
    dialog.exec();
}

void MainWindow::onLanguageChanged(QAction *action)
{
    const int index = ui->languageGroup->actions().indexOf(action);
    if (index >= 0)
        d->language->setLanguage(index);
}

void MainWindow::onEventTableContextMenu(const QPoint &)
{
    QMenu menu;
    menu.setObjectName(QStringLiteral("eventTableMenu"));
    QAction *clear = menu.addAction(tr("Clear content"));
    clear->setObjectName(QStringLiteral("clearContent"));
    connect(clear, &QAction::triggered, this, [this] {
        d->pendingRows.clear();
        ui->eventTable->clearContents();
        ui->eventTable->setRowCount(0);
    });
    menu.exec(QCursor::pos());
}

void MainWindow::onTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    // A window minimised from the maximised state carries both flags; it is minimised all the same, and
    // testing for "exactly minimised" would hide it again on every click.
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized) {
        if (state & Qt::WindowMaximized)
            showMaximized();
        else
            showNormal();
        activateWindow();
    } else if (!isVisible()) {
        // Closed to the tray: a click brings it back at once rather than minimising a window nobody sees.
        show();
        raise();
        activateWindow();
    } else {
        showMinimized();
        hide();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (d->sessionEnding || qApp->isSavingSession()) {
        event->accept();
        return;
    }
    event->ignore();
    // Without a notification area a hidden window could not be brought back.
    if (NotificationArea::available())
        hide();
    else
        showMinimized();
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QMainWindow::changeEvent(event);
}

void MainWindow::updateClock() { ui->clockLabel->setText(timestamp()); }
