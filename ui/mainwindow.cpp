#include "ui/mainwindow.h"

#include "backend/protectionbackend.h"
#include "policy/systemmessages.h"
#include "snmp/eventcodes.h"
#include "storage/eventtexts.h"
#include "storage/settingkeys.h"
#include "ui/aboutdialog.h"
#include "ui/desktopnotifier.h"
#include "ui/detailspanel.h"
#include "ui/elidedtexttipdelegate.h"
#include "ui/historychart.h"
#include "ui/language.h"
#include "ui/listwidgetitem.h"
#include "ui/logdialog.h"
#include "ui/mainwindowprivate.h"
#include "ui/notificationarea.h"
#include "ui/settingsdialog.h"
#include "ui/shieldicon.h"
#include "ui/statusline.h"
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
static void initImages()
{
    Q_INIT_RESOURCE(images);
}

namespace {
constexpr int maxEventRows = 5000;
constexpr int timeColumnWidth = 130;
constexpr int hostRowHeight = 40;
constexpr int eventColumn = 2;

QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

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
    QLabel *statusLine = nullptr;
    QSplitter *splitter = nullptr;
    QSplitter *cardSplitter = nullptr;
    QSplitter *eventSplitter = nullptr;
    QListWidget *hostList = nullptr;
    DetailsPanel *details = nullptr;
    HistoryChart *chart = nullptr;
    QTableWidget *eventTable = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *trayMinimize = nullptr;
    QAction *trayShow = nullptr;
    QAction *trayQuit = nullptr;
};

MainWindow::MainWindow(ProtectionBackend *backend, QWidget *parent)
    : QMainWindow(parent), ui(new Form), d(new MainWindowPrivate(backend))
{
    d->window = this;
    initImages();
    setupUi();
    d->language->initialize(ui->languageGroup);
    // The translator's own change event comes later through the event queue; be right from the start.
    retranslateUi();
    setupTrayIcon();
    setupSession();
    followBackend();
    new DesktopNotifier(backend, this);

    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::showAboutDialog);
    connect(ui->actionSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolSettings, &QAction::triggered, this, &MainWindow::showSettingsDialog);
    connect(ui->toolLog, &QAction::triggered, this, &MainWindow::showLogDialog);
    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->languageGroup, &QActionGroup::triggered, this, &MainWindow::onLanguageChanged);
    connect(ui->eventTable, &QWidget::customContextMenuRequested, this, &MainWindow::onEventTableContextMenu);
    connect(d->clockTimer.get(), &QTimer::timeout, this, &MainWindow::updateClock);
    d->rowTimer->setSingleShot(true);
    connect(d->rowTimer.get(), &QTimer::timeout, this, &MainWindow::flushEventRows);
    d->statusTimer->setSingleShot(true);
    connect(d->statusTimer.get(), &QTimer::timeout, this, &MainWindow::updateStatusLine);
    connect(ui->hostList, &QListWidget::itemSelectionChanged, this, &MainWindow::selectionChanged);
    connect(d->historyTimer.get(), &QTimer::timeout, this, &MainWindow::refreshHistory);
    d->chartSoon->setSingleShot(true);
    connect(d->chartSoon.get(), &QTimer::timeout, this, &MainWindow::refreshHistory);

    d->clockTimer->start(1000);
    d->historyTimer->start(MainWindowPrivate::historyMs);
    selectionChanged();
}

MainWindow::~MainWindow()
{
    delete d;
    delete ui;
}

void MainWindow::followBackend()
{
    ProtectionBackend *backend = d->backend;
    d->reachable = backend->isReachable();
    setHostItems();
    if (!d->reachable) {
        for (ListWidgetItem *item : ui->hostList->findChildren<ListWidgetItem *>())
            item->reset();
    }
    updateCountdown(d->reachable ? backend->countdownMs() : -1);
    readPopupSetting();

    connect(backend, &ProtectionBackend::hostsChanged, this, [this] { setHostItems(); });
    connect(backend, &ProtectionBackend::eventArrived, this, [this](const QString &host, int event, qint64) {
        if (host == d->selectedHost && !d->chartSoon->isActive())
            d->chartSoon->start(MainWindowPrivate::chartSoonMs);
        announceEvent(host, event);
    });
    connect(backend, &ProtectionBackend::statusChanged, this, [this](const QString &host, int status) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setStatus(status);
        scheduleStatusLine();
    });
    connect(backend, &ProtectionBackend::authenticationChanged, this, [this](const QString &host, bool failed) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setAuthenticationFailed(failed);
    });
    connect(backend, &ProtectionBackend::dataChanged, this, [this](const QString &host, const QByteArray &data) {
        if (ListWidgetItem *item = findHostItem(host))
            item->setData(data);
        scheduleStatusLine();
    });
    connect(backend, &ProtectionBackend::detailsChanged, this, [this](const CardDetails &details) {
        if (!d->selectedHost.isEmpty() && details.host == d->selectedHost)
            ui->details->show(d->selectedHost, details, d->reachable);
    });
    connect(backend, &ProtectionBackend::systemMessage, this,
        [this](const SystemMessage &message) { displaySNMPEvent(tr("System"), SystemMessages::text(message)); });
    connect(backend, &ProtectionBackend::storingChanged, this, [this](bool failing) {
        displaySNMPEvent(tr("System"),
            failing ? tr("Events cannot be stored at the moment; they are kept until storing works again")
                    : tr("Storing events works again; the events kept meanwhile are stored"));
    });
    connect(backend, &ProtectionBackend::countdownChanged, this, &MainWindow::updateCountdown);
    connect(backend, &ProtectionBackend::shutdownRefusalChanged, this, [this] { updateStatusLine(); });
    connect(backend, &ProtectionBackend::reachableChanged, this, &MainWindow::setReachable);
    connect(backend, &ProtectionBackend::settingChanged, this, [this](const QString &key, const QVariant &value) {
        if (key == QLatin1String(SettingKeys::popWarning))
            d->popupWarning = (value.isValid() ? value : SettingKeys::defaultValue(key)).toBool();
    });
}

void MainWindow::setReachable(bool reachable)
{
    if (reachable == d->reachable)
        return;
    d->reachable = reachable;
    if (reachable) {
        setHostItems();
        applyCardStates();
        updateCountdown(d->backend->countdownMs());
        readPopupSetting();
        // Coming to the service at the start is no return.
        if (d->serviceLost)
            displaySNMPEvent(tr("System"), tr("The protection service is back"));
        d->serviceLost = false;
        // The chart said the service was away; it reads again whether or not the selection changed.
        selectionChanged();
        refreshHistory();
        return;
    }
    d->serviceLost = true;
    // The last reports are no longer true: grey, until the service reports again.
    for (ListWidgetItem *item : ui->hostList->findChildren<ListWidgetItem *>())
        item->reset();
    updateCountdown(-1);
    selectionChanged();
    displaySNMPEvent(tr("System"), tr("The protection service has stopped; the lamps stay grey until it is back"));
}

void MainWindow::readPopupSetting()
{
    if (!d->reachable)
        return;
    d->backend->readSettings(
        {QLatin1String(SettingKeys::popWarning)}, this, [this](const BackendReply &reply, const QVariantMap &values) {
            // Absent, it means what the settings dialog shows for it.
            const QString key = QLatin1String(SettingKeys::popWarning);
            if (reply.ok)
                d->popupWarning = values.value(key, SettingKeys::defaultValue(key)).toBool();
        });
}

void MainWindow::setHostItems()
{
    QStringList hosts;
    const QList<CardState> cards = d->backend->cards();
    for (const CardState &card : cards)
        hosts << card.host;
    if (hosts == d->hosts) {
        updateStatusLine();
        return;
    }
    // Rows still listed keep their lamps; rows after the first difference are made again from the backend's
    // state of their cards.
    int same = 0;
    while (same < hosts.size() && same < d->hosts.size() && hosts.at(same) == d->hosts.at(same))
        ++same;
    // The rows go and come with their selection; the card stays selected where it is still listed.
    const QString selected = d->selectedHost;
    const QSignalBlocker quiet(ui->hostList);
    while (d->hosts.size() > same)
        removeHostItem(d->hosts.size() - 1);
    for (int i = same; i < cards.size(); ++i) {
        addHostItem(cards.at(i).host);
        if (d->reachable) {
            ListWidgetItem *item = qobject_cast<ListWidgetItem *>(ui->hostList->itemWidget(ui->hostList->item(i)));
            const CardState &card = cards.at(i);
            if (card.status >= 0)
                item->setStatus(card.status);
            if (!card.data.isEmpty())
                item->setData(card.data);
            item->setAuthenticationFailed(card.authenticationFailed);
        }
    }
    // The first card is selected when none is, so that one card shows its details without a click.
    const int keep = hosts.indexOf(selected);
    ui->hostList->setCurrentRow(keep >= 0 ? keep : hosts.isEmpty() ? -1 : 0);
    if (ui->hostList->currentRow() < 0)
        ui->hostList->clearSelection();
    selectionChanged();
    updateStatusLine();
}

void MainWindow::applyCardStates()
{
    const QList<CardState> cards = d->backend->cards();
    for (int i = 0; i < cards.size() && i < ui->hostList->count(); ++i) {
        auto *item = qobject_cast<ListWidgetItem *>(ui->hostList->itemWidget(ui->hostList->item(i)));
        const CardState &card = cards.at(i);
        if (!item)
            continue;
        item->reset();
        if (card.status >= 0)
            item->setStatus(card.status);
        if (!card.data.isEmpty())
            item->setData(card.data);
        item->setAuthenticationFailed(card.authenticationFailed);
    }
    updateStatusLine();
}

void MainWindow::updateCountdown(qint64 remainingMs)
{
    const bool shown = d->countdownClock.isValid();
    d->countdownMs = remainingMs;
    if (remainingMs >= 0)
        d->countdownClock.start();
    else
        d->countdownClock.invalidate();
    if (shown || remainingMs >= 0)
        updateClock();
    updateStatusLine();
}

void MainWindow::scheduleStatusLine()
{
    // A burst of reports (a thousand cards back at once) computes the line once.
    if (!d->statusTimer->isActive())
        d->statusTimer->start(MainWindowPrivate::statusLineMs);
}

void MainWindow::updateStatusLine()
{
    d->statusTimer->stop();
    StatusLine::Input input = StatusLine::of(*d->backend);
    input.reachable = d->reachable;
    if (d->countdownClock.isValid())
        input.countdownMs = qMax<qint64>(0, d->countdownMs - d->countdownClock.elapsed());
    const StatusLine::Line line = StatusLine::compute(input);
    static const char *const colours[] = {"#dff0d8", "#eeeeee", "#fcf8e3", "#f2dede"};
    ui->statusLine->setText(line.text);
    ui->statusLine->setStyleSheet(QStringLiteral("QLabel { background: %1; padding: 6px; border-radius: 3px; }")
                                      .arg(QLatin1String(colours[int(line.level)])));
    updateTray(input);
}

void MainWindow::updateTray(const StatusLine::Input &input)
{
    if (!ui->trayIcon)
        return;
    const int state = int(StatusLine::trayState(input));
    if (state != d->trayState) {
        d->trayState = state;
        if (!d->trayIcons.contains(state))
            d->trayIcons.insert(state, ShieldIcon::forState(StatusLine::Tray(state)));
        ui->trayIcon->setIcon(d->trayIcons.value(state));
    }
    const QString tip = tr("SNMP Vigilex") + QLatin1Char('\n') + StatusLine::summary(input);
    if (ui->trayIcon->toolTip() != tip)
        ui->trayIcon->setToolTip(tip);
}

QString MainWindow::selectedHost() const
{
    return d->selectedHost;
}

void MainWindow::selectionChanged()
{
    const int row = ui->hostList->currentRow();
    const QString host
        = row >= 0 && row < d->hosts.size() && ui->hostList->item(row)->isSelected() ? d->hosts.at(row) : QString();
    const bool changed = host != d->selectedHost;
    d->selectedHost = host;
    showDetails();
    if (changed || !d->reachable || d->historySerial == 0)
        refreshHistory();
}

void MainWindow::showDetails()
{
    const CardDetails details
        = d->selectedHost.isEmpty() || !d->reachable ? CardDetails() : d->backend->details(d->selectedHost);
    ui->details->show(d->selectedHost, details, d->reachable);
}

void MainWindow::refreshHistory()
{
    const quint64 serial = ++d->historySerial;
    const QString host = d->selectedHost;
    if (host.isEmpty() || !d->reachable)
        d->chartHost.clear();
    if (!d->reachable) {
        ui->chart->setMessage(tr("No history: the protection service is not running"));
        return;
    }
    if (host.isEmpty()) {
        ui->chart->setMessage(tr("Select a card to see its last 24 hours"));
        return;
    }
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 from = now - 24 * 3600;
    // Until the answer comes the chart goes on showing the card it showed; another card's lines go at once.
    if (d->chartHost != host) {
        d->chartHost = host;
        ui->chart->setMarks({});
        ui->chart->setMessage(tr("Reading the last 24 hours of %1 ...").arg(host));
    }
    d->backend->history(host, from, now, this,
        [this, serial, host, from, now](const BackendReply &reply, const QVector<HistorySample> &samples) {
            if (serial != d->historySerial)
                return;
            if (!reply.ok) {
                ui->chart->setMessage(tr("The history of %1 could not be read: %2").arg(host, reply.error));
                return;
            }
            ui->chart->setData(from, now, samples);
        });
    d->backend->events(
        from, now, this, [this, serial, host](const BackendReply &reply, const QVector<StoredEvent> &events) {
            if (serial != d->historySerial || !reply.ok)
                return;
            QVector<HistoryChart::Mark> marks;
            for (const StoredEvent &event : events) {
                if (event.host != host)
                    continue;
                const QString text = d->backend->texts()->text(host, event.event, Language::eventSection());
                marks.append({event.date, Snmp::isPowerTroubleEvent(event.event),
                    text.isEmpty() ? tr("Event %1").arg(event.event) : text});
            }
            ui->chart->setMarks(marks);
        });
}

QString MainWindow::statusText()
{
    if (d->statusTimer->isActive())
        updateStatusLine();
    return ui->statusLine->text();
}

void MainWindow::setupUi()
{
    setObjectName(QStringLiteral("MainWindow"));
    resize(800, 600);

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
    ui->statusLine = new QLabel(central);
    ui->statusLine->setObjectName(QStringLiteral("statusLine"));
    ui->statusLine->setWordWrap(true);
    ui->statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // One line (two when long) above the list; the list and the table take the height.
    ui->statusLine->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    QFont strong = ui->statusLine->font();
    strong.setBold(true);
    ui->statusLine->setFont(strong);
    layout->addWidget(ui->statusLine);
    // The cards and what the selected one reports on the left; its last 24 hours above the events on the right.
    ui->splitter = new QSplitter(Qt::Horizontal, central);
    ui->splitter->setObjectName(QStringLiteral("splitter"));
    ui->cardSplitter = new QSplitter(Qt::Vertical, ui->splitter);
    ui->cardSplitter->setObjectName(QStringLiteral("cardSplitter"));
    ui->hostList = new QListWidget(ui->cardSplitter);
    ui->hostList->setObjectName(QStringLiteral("hostList"));
    ui->hostList->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->details = new DetailsPanel(ui->cardSplitter);
    ui->cardSplitter->addWidget(ui->hostList);
    ui->cardSplitter->addWidget(ui->details);
    ui->cardSplitter->setStretchFactor(0, 1);
    ui->cardSplitter->setStretchFactor(1, 0);
    ui->eventSplitter = new QSplitter(Qt::Vertical, ui->splitter);
    ui->eventSplitter->setObjectName(QStringLiteral("eventSplitter"));
    ui->chart = new HistoryChart(ui->eventSplitter);
    ui->eventTable = new QTableWidget(ui->eventSplitter);
    ui->eventTable->setObjectName(QStringLiteral("eventTable"));
    ui->eventSplitter->addWidget(ui->chart);
    ui->eventSplitter->addWidget(ui->eventTable);
    ui->eventSplitter->setStretchFactor(0, 1);
    ui->eventSplitter->setStretchFactor(1, 1);
    ui->splitter->addWidget(ui->cardSplitter);
    ui->splitter->addWidget(ui->eventSplitter);
    ui->splitter->setStretchFactor(0, 3);
    ui->splitter->setStretchFactor(1, 7);
    ui->splitter->setSizes({300, 700});
    layout->addWidget(ui->splitter, 1);
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
    ui->menuSettings->setTitle(tr("&Settings"));
    ui->actionSettings->setText(tr("&Settings..."));
    ui->actionQuit->setText(tr("&Quit"));
    ui->menuLanguage->setTitle(tr("&Language"));
    ui->actionEnglish->setText(tr("&English"));
    ui->actionChinese->setText(tr("中文(&C)"));
    ui->menuHelp->setTitle(tr("&Help"));
    ui->actionAbout->setText(tr("&About..."));
    ui->toolSettings->setToolTip(tr("Settings"));
    ui->toolLog->setToolTip(tr("Log"));
    ui->eventTable->setColumnCount(3);
    ui->eventTable->setHorizontalHeaderLabels({QCoreApplication::translate("MainWidget", "Time"),
        QCoreApplication::translate("MainWidget", "Object"), QCoreApplication::translate("MainWidget", "Event")});
    ui->eventTable->setColumnWidth(0, timeColumnWidth);
    if (ui->trayIcon) {
        ui->trayMinimize->setText(tr("Mi&nimize"));
        ui->trayShow->setText(tr("&Show"));
        ui->trayQuit->setText(tr("&Quit"));
    }
    updateQuitTips();
    updateStatusLine();
    if (ui->details) {
        // The chart's texts and the events' names are in the new language at its next paint and read.
        showDetails();
        refreshHistory();
    }
    if (d->countdownClock.isValid())
        updateClock();
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
    connect(ui->trayQuit, &QAction::triggered, this, &MainWindow::quit);
    ui->trayIcon->setContextMenu(ui->trayMenu);
    connect(ui->trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayIconActivated);
    retranslateUi();
    ui->trayIcon->show();
}

void MainWindow::updateQuitTips()
{
    const QString tip = d->backend->endsWithThisProcess()
        ? tr("Quit SNMP Vigilex; this computer is no longer protected")
        : tr("Close this window; the protection service goes on protecting this computer");
    for (QAction *action : {ui->actionQuit, ui->trayQuit}) {
        if (!action)
            continue;
        action->setToolTip(tip);
        action->setStatusTip(tip);
    }
}

void MainWindow::quit()
{
    if (d->quitAsking)
        return;
    // At log-out the session manager ends the program; nobody is there to answer.
    if (d->backend->endsWithThisProcess() && !d->sessionEnding && !qApp->isSavingSession()) {
        QString text = tr("Quitting stops protecting this computer. Quit?");
        if (d->countdownClock.isValid()) {
            const qint64 left = qMax<qint64>(0, d->countdownMs - d->countdownClock.elapsed());
            const QString due = QDateTime::currentDateTime().addMSecs(left).toString(QStringLiteral("HH:mm:ss"));
            text = tr("A shutdown of this computer is due at %1 (in %2); quitting cancels it.")
                       .arg(due, StatusLine::clock(left))
                + QLatin1Char('\n') + text;
        }
        d->quitAsking = true;
        const int answer = UserPrompt::warning(this, tr("Quit SNMP Vigilex"), text, tr("&Quit"), tr("&Cancel"));
        d->quitAsking = false;
        if (answer != 0)
            return;
    }
    QCoreApplication::quit();
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

QStringList MainWindow::hosts() const
{
    return d->hosts;
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

void MainWindow::removeHostItem(int index)
{
    if (index < 0 || index >= ui->hostList->count())
        return;
    d->hosts.removeAt(index);
    d->rowOfHostValid = false;
    QListWidgetItem *row = ui->hostList->item(index);
    QWidget *widget = ui->hostList->itemWidget(row);
    ui->hostList->removeItemWidget(row);
    delete widget;
    delete ui->hostList->takeItem(index);
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

void MainWindow::announceEvent(const QString &host, int event)
{
    const QString text = d->backend->texts()->text(host, event, Language::eventSection());
    if (text.isEmpty())
        return;
    displaySNMPEvent(host, text);
    if (!d->popupWarning || !Snmp::isWarningEvent(event))
        return;
    // Beyond the bound the event is stored and listed, only not announced.
    if (d->openWarnings >= MainWindowPrivate::maxOpenWarnings)
        return;
    ++d->openWarnings;
    UserPrompt::warning(this, tr("Warning"), host + QLatin1Char(' ') + text, tr("Sure"));
    --d->openWarnings;
}

void MainWindow::showAboutDialog()
{
    AboutDialog dialog;
    dialog.exec();
}

void MainWindow::showSettingsDialog()
{
    SettingsDialog dialog(d->backend);
    dialog.exec();
}

void MainWindow::showLogDialog()
{
    LogDialog dialog(d->backend);
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
    QAction *clear = menu.addAction(tr("&Clear content"));
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
    if (d->countdownClock.isValid()) {
        const qint64 left = qMax<qint64>(0, d->countdownMs - d->countdownClock.elapsed());
        text = tr("Shutdown in %1").arg(StatusLine::clock(left)) + QStringLiteral("   ") + text;
        // The status line counts down with it.
        updateStatusLine();
    }
    ui->clockLabel->setText(text);
}
