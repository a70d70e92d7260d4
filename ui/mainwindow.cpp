#include "ui/mainwindow.h"

#include "policy/protection.h"
#include "policy/shutdownpolicy.h"
#include "policy/systemmessages.h"
#include "service/protectionclient.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/eventtexts.h"
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

MainWindow::MainWindow(QWidget *parent) : MainWindow(nullptr, parent)
{ }

MainWindow::MainWindow(ProtectionClient *client, QWidget *parent)
    : QMainWindow(parent), ui(new Form), d(new MainWindowPrivate)
{
    d->window = this;
    d->client = client;
    initImages();
    setupUi();
    d->language->initialize(ui->languageGroup);
    // The translator's own change event comes later through the event queue; be right from the start.
    retranslateUi();
    setupTrayIcon();
    setupSession();
    if (client)
        setupFrontEnd();
    else
        setupProtection();

    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::showAboutDialog);
    connect(ui->actionSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolLog, &QAction::triggered, this, &MainWindow::showLogDialog);
    connect(ui->actionQuit, &QAction::triggered, qApp, &QCoreApplication::quit);
    connect(ui->languageGroup, &QActionGroup::triggered, this, &MainWindow::onLanguageChanged);
    connect(ui->eventTable, &QWidget::customContextMenuRequested, this, &MainWindow::onEventTableContextMenu);
    connect(d->clockTimer.get(), &QTimer::timeout, this, &MainWindow::updateClock);
    d->rowTimer->setSingleShot(true);
    connect(d->rowTimer.get(), &QTimer::timeout, this, &MainWindow::flushEventRows);

    d->clockTimer->start(1000);
}

MainWindow::~MainWindow()
{
    delete d;
    delete ui;
}

// Both faces show the same reports; only where they come from differs.
void MainWindow::setupProtection()
{
    d->protection = std::make_unique<Protection>();
    Protection *protection = d->protection.get();
    for (const QString &host : protection->hosts())
        addHostItem(host);
    followReports(protection);
    connect(protection, &Protection::systemMessage, this,
        [this](const SystemMessage &message) { displaySNMPEvent(tr("System"), SystemMessages::text(message)); });
}

template<typename Source> void MainWindow::followReports(Source *source)
{
    connect(source, &Source::eventArrived, this, [this](const QString &host, int event) { announceEvent(host, event); });
    connect(source, &Source::statusChanged, this, [this](const QString &host, int status) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setStatus(status);
    });
    connect(source, &Source::authenticationChanged, this, [this](const QString &host, bool failed) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setAuthenticationFailed(failed);
    });
    connect(source, &Source::dataReady, this, [this](const QString &host, const QByteArray &data) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setData(data);
    });
    connect(source, &Source::storingFailed, this, [this] {
        displaySNMPEvent(tr("System"),
                         tr("Events cannot be stored at the moment; they are kept until storing works again"));
    });
    connect(source, &Source::storingRecovered, this, [this] {
        displaySNMPEvent(tr("System"), tr("Storing events works again; the events kept meanwhile are stored"));
    });
}

void MainWindow::setupFrontEnd()
{
    ProtectionClient *client = d->client;
    d->frontEndTexts = std::make_unique<EventTexts>(AppPaths::cataloguePath());
    client->makeActive();
    connect(client, &ProtectionClient::hostsChanged, this, &MainWindow::setHostItems);
    followReports(client);
    connect(client, &ProtectionClient::systemMessage, this,
        [this](const QString &text) { displaySNMPEvent(tr("System"), SystemMessages::translated(text)); });
    connect(client, &ProtectionClient::countdownChanged, this, &MainWindow::updateCountdown);
    connect(client, &ProtectionClient::serviceLost, this, [this] {
        d->serviceLost = true;
        for (const QString &host : qAsConst(d->hosts)) {
            if (ListWidgetItem *item = findHostItem(host))
                item->reset();
        }
        updateCountdown(-1);
        displaySNMPEvent(tr("System"), tr("The protection service has stopped; the lamps stay grey until it is back"));
    });
    connect(client, &ProtectionClient::serviceFound, this, [this] {
        // Pop-ups follow the service's setting, which this user may not be able to read from the file.
        d->popupWarning = d->client->setting(QStringLiteral("system/pop_warning")).toBool();
        if (!d->serviceLost)
            return;
        d->serviceLost = false;
        displaySNMPEvent(tr("System"), tr("The protection service is back"));
    });
}

void MainWindow::setHostItems(const QStringList &hosts)
{
    if (hosts == d->hosts)
        return;
    // The service's list is the truth. Rows it still has keep their lamps (the service reports changes only);
    // new ones come grey until their first report.
    for (int i = d->hosts.size() - 1; i >= 0; --i) {
        if (!hosts.contains(d->hosts.at(i)))
            removeHostItem(d->hosts.at(i));
    }
    if (hosts.mid(0, d->hosts.size()) != d->hosts) {
        while (!d->hosts.isEmpty())
            removeHostItem(d->hosts.constLast());
    }
    for (int i = d->hosts.size(); i < hosts.size(); ++i)
        addHostItem(hosts.at(i));
}

void MainWindow::updateCountdown(qint64 remainingMs)
{
    d->countdownMs = remainingMs;
    if (remainingMs >= 0)
        d->countdownClock.start();
    else
        d->countdownClock.invalidate();
    updateClock();
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
    if (d->protection)
        d->protection->setEngine(engine);
}

QStringList MainWindow::hosts() const { return d->hosts; }

ShutdownPolicy *MainWindow::shutdownPolicy() const
{
    return d->protection ? d->protection->policy() : nullptr;
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
    // A front end's list follows the service's own report of the change.
    if (!d->protection)
        return;
    addHostItem(info.ip);
    d->protection->addHost(info);
}

void MainWindow::removeSNMPHostEvent(const QString &peer)
{
    if (!d->protection)
        return;
    d->protection->removeHost(peer);
    removeHostItem(peer);
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
    if (!d->protection)
        return;
    const int index = d->hosts.indexOf(infoOld.ip);
    if (index < 0 || index >= ui->hostList->count())
        return;
    d->hosts[index] = infoNew.ip;
    d->rowOfHostValid = false;
    if (auto *item = qobject_cast<ListWidgetItem *>(ui->hostList->itemWidget(ui->hostList->item(index)))) {
        item->setHost(infoNew.ip);
        item->reset(); // grey, without the old card's trouble, until the engine reports on the new address
    }
    d->protection->modifyHost(infoNew, infoOld);
}

void MainWindow::storeSNMPEvent(const QString &host, int event)
{
    if (d->protection)
        d->protection->handleSNMPEvent(host, event);
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
    // The protection stores it and reports it back through announceEvent.
    if (d->protection)
        d->protection->handleSNMPEvent(host, event);
}

void MainWindow::announceEvent(const QString &host, int event)
{
    EventTexts *texts = d->protection ? d->protection->texts() : d->frontEndTexts.get();
    const QString text = texts->text(host, event, Language::eventSection());
    if (text.isEmpty())
        return;
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
    if (d->protection)
        d->protection->handleSNMPStatus(host, status);
}

void MainWindow::handleSNMPData(const QString &host, const QByteArray &data)
{
    if (d->protection)
        d->protection->handleSNMPData(host, data);
}

void MainWindow::onOffAPPTimeout()
{
    if (d->protection)
        d->protection->policy()->onOffAPPTimeout();
}

void MainWindow::onOffAPPError(QProcess::ProcessError error)
{
    if (d->protection)
        d->protection->policy()->onOffAPPError(error);
}

void MainWindow::onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (d->protection)
        d->protection->policy()->onOffAPPFinished(exitCode, exitStatus);
}

void MainWindow::showAboutDialog()
{
    AboutDialog dialog;
    dialog.exec();
}

void MainWindow::showSettingsDialog()
{
    SettingsDialog dialog;
    // The cards as this face knows them: its own protection's, or the service's.
    dialog.setCardSource([this] {
        if (d->client)
            return d->client->cards();
        QList<Protection::Card> cards;
        if (d->protection) {
            for (const QString &host : d->protection->hosts())
                cards.append(d->protection->card(host));
        }
        return cards;
    });
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

void MainWindow::updateClock()
{
    QString text = timestamp();
    // The service's countdown, counted down here between its reports.
    if (d->countdownClock.isValid()) {
        const qint64 left = qMax<qint64>(0, d->countdownMs - d->countdownClock.elapsed()) / 1000;
        text = tr("Shutdown in %1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0')) + QStringLiteral("   ")
            + text;
    }
    ui->clockLabel->setText(text);
}
