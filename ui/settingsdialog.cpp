#include "ui/settingsdialog.h"

#include "policy/applicationtest.h"
#include "policy/applicationtrust.h"
#include "service/protectionclient.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/settingkeys.h"
#include "storage/settings.h"
#include "storage/statements.h"
#include "ui/addhostdialog.h"
#include "ui/userprompt.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QString keyPopWarning = QStringLiteral("system/pop_warning");
const QString keyAppEnable = QStringLiteral("system/shutdown_app_enable");
const QString keyApp = QStringLiteral("system/shutdown_app");
const QString keyExecTime = QStringLiteral("system/shutdown_exec_time");
const QString keyAcFailedTime = QStringLiteral("shutdown/ac_failed_time");
const QString keyBattLowTime = QStringLiteral("shutdown/batt_low_time");
const QString keyAcFailedCapacity = QStringLiteral("shutdown/ac_failed_capacity");

// A front end reads the service's settings; the window alone its own file.
QVariant read(const QString &key)
{
    if (ProtectionClient *client = ProtectionClient::active())
        return client->setting(key);
    return readSetting(AppPaths::settingsFilePath(), key);
}

// The window alone fills its own file's absent keys on opening. In front of the service that would ask polkit
// before anybody changed anything: the dialog shows the defaults, and "Sure" writes them.
void seed(const QString &key, const QVariant &value)
{
    if (ProtectionClient::active())
        return;
    const QString why = storeSetting(AppPaths::settingsFilePath(), key, value);
    if (!why.isEmpty())
        qWarning().noquote() << "Settings:" << why;
}

bool isApplicationKey(const QString &key)
{
    return key == keyApp || key == keyAppEnable;
}

QSqlDatabase hostDatabase()
{
    return Database::instance()->connection(AppPaths::databasePath());
}

QLineEdit *numberEdit(QWidget *parent, const char *name, int top)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setValidator(new QIntValidator(1, top, edit));
    return edit;
}
} // namespace

SettingsDialog::SettingsDialog(QWidget *parent) : QDialog(parent), applicationTest(new ApplicationTest(this))
{
    buildWidgets();
    retranslate();
    loadGeneral();
    loadShutdownCondition();

    connect(hostTable, &QTableWidget::cellClicked, this, &SettingsDialog::hostClicked);
    // The row chosen by the arrow keys counts as much as the one clicked.
    connect(hostTable, &QTableWidget::itemSelectionChanged, this, [this] {
        const QList<QTableWidgetSelectionRange> ranges = hostTable->selectedRanges();
        selectedRow = ranges.isEmpty() ? -1 : ranges.constFirst().topRow();
    });
    connect(appCheck, &QCheckBox::clicked, this, &SettingsDialog::onRadioBtnOffAPP);
    connect(browseButton, &QPushButton::clicked, this, &SettingsDialog::onBrowseOffAPP);
    connect(testButton, &QPushButton::clicked, this, &SettingsDialog::testApplication);
    connect(applicationTest, &ApplicationTest::finished, this, &SettingsDialog::showTestResult);
    connect(addButton, &QPushButton::clicked, this, &SettingsDialog::addSNMPHost);
    connect(modifyButton, &QPushButton::clicked, this, &SettingsDialog::modifySNMPHost);
    connect(removeButton, &QPushButton::clicked, this, &SettingsDialog::removeSNMPHost);
    connect(sureButton, &QPushButton::clicked, this, &SettingsDialog::saveSettings);
    connect(cancelButton, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::buildWidgets()
{
    resize(405, 540);
    setWindowFlags(Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);

    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));

    // General page.
    generalPage = new QWidget(tabs);
    hostGroup = new QGroupBox(generalPage);
    hostTable = new QTableWidget(0, 3, hostGroup);
    hostTable->setObjectName(QStringLiteral("hostTable"));
    hostTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    hostTable->horizontalHeader()->setStretchLastSection(true);
    hostTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    hostTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    hostTable->setSelectionMode(QAbstractItemView::SingleSelection);
    addButton = new QPushButton(hostGroup);
    addButton->setObjectName(QStringLiteral("addButton"));
    modifyButton = new QPushButton(hostGroup);
    modifyButton->setObjectName(QStringLiteral("modifyButton"));
    removeButton = new QPushButton(hostGroup);
    removeButton->setObjectName(QStringLiteral("removeButton"));
    auto *hostButtons = new QHBoxLayout;
    hostButtons->addStretch();
    hostButtons->addWidget(addButton);
    hostButtons->addWidget(modifyButton);
    hostButtons->addWidget(removeButton);
    auto *hostLayout = new QVBoxLayout(hostGroup);
    hostLayout->addWidget(hostTable);
    hostLayout->addLayout(hostButtons);

    warningGroup = new QGroupBox(generalPage);
    popupCheck = new QCheckBox(warningGroup);
    popupCheck->setObjectName(QStringLiteral("popupCheck"));
    auto *warningLayout = new QVBoxLayout(warningGroup);
    warningLayout->addWidget(popupCheck);

    auto *appGroup = new QGroupBox(generalPage);
    appCheck = new QCheckBox(appGroup);
    appCheck->setObjectName(QStringLiteral("appCheck"));
    appPathEdit = new QLineEdit(appGroup);
    appPathEdit->setObjectName(QStringLiteral("appPathEdit"));
    browseButton = new QPushButton(appGroup);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    testButton = new QPushButton(appGroup);
    testButton->setObjectName(QStringLiteral("testButton"));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(appPathEdit);
    pathRow->addWidget(browseButton);
    pathRow->addWidget(testButton);
    execTimeLabel = new QLabel(appGroup);
    execTimeEdit = numberEdit(appGroup, "execTimeEdit", 90);
    execTimeUnit = new QLabel(appGroup);
    auto *timeRow = new QHBoxLayout;
    timeRow->addStretch();
    timeRow->addWidget(execTimeLabel);
    timeRow->addWidget(execTimeEdit);
    timeRow->addWidget(execTimeUnit);
    auto *appLayout = new QVBoxLayout(appGroup);
    appLayout->addWidget(appCheck);
    appLayout->addLayout(pathRow);
    appLayout->addLayout(timeRow);

    auto *generalLayout = new QVBoxLayout(generalPage);
    generalLayout->addWidget(hostGroup);
    generalLayout->addWidget(warningGroup);
    generalLayout->addWidget(appGroup);
    tabs->addTab(generalPage, QString());

    // Shutdown Condition page.
    conditionPage = new QWidget(tabs);
    acFailedTimeLabel = new QLabel(conditionPage);
    acFailedTimeEdit = numberEdit(conditionPage, "acFailedTimeEdit", 9999);
    acFailedTimeUnit = new QLabel(conditionPage);
    battLowTimeLabel = new QLabel(conditionPage);
    battLowTimeEdit = numberEdit(conditionPage, "battLowTimeEdit", 9999);
    battLowTimeUnit = new QLabel(conditionPage);
    acFailedCapacityLabel = new QLabel(conditionPage);
    acFailedCapacityEdit = numberEdit(conditionPage, "acFailedCapacityEdit", 100);
    acFailedCapacityUnit = new QLabel(conditionPage);
    acFailedTimeEdit->setPlaceholderText(QStringLiteral("1~9999"));
    battLowTimeEdit->setPlaceholderText(QStringLiteral("1~9999"));
    acFailedCapacityEdit->setPlaceholderText(QStringLiteral("1~100"));
    auto *grid = new QGridLayout;
    grid->addWidget(acFailedTimeLabel, 0, 0);
    grid->addWidget(acFailedTimeEdit, 0, 1);
    grid->addWidget(acFailedTimeUnit, 0, 2);
    grid->addWidget(battLowTimeLabel, 1, 0);
    grid->addWidget(battLowTimeEdit, 1, 1);
    grid->addWidget(battLowTimeUnit, 1, 2);
    grid->addWidget(acFailedCapacityLabel, 2, 0);
    grid->addWidget(acFailedCapacityEdit, 2, 1);
    grid->addWidget(acFailedCapacityUnit, 2, 2);
    auto *conditionLayout = new QVBoxLayout(conditionPage);
    conditionLayout->addLayout(grid);
    conditionLayout->addStretch();
    tabs->addTab(conditionPage, QString());

    sureButton = new QPushButton(this);
    sureButton->setObjectName(QStringLiteral("sureButton"));
    sureButton->setDefault(true);
    cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(statusLabel);
    buttonRow->addStretch();
    buttonRow->addWidget(sureButton);
    buttonRow->addWidget(cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addStretch();
    layout->addLayout(buttonRow);
}

void SettingsDialog::retranslate()
{
    setWindowTitle(tr("Settings"));
    tabs->setTabText(tabs->indexOf(generalPage), tr("General"));
    tabs->setTabText(tabs->indexOf(conditionPage), tr("Shutdown Condition"));
    hostTable->setHorizontalHeaderLabels({tr("Host address"), tr("SNMP port"), tr("SNMP version")});
    hostGroup->setTitle(tr("Host connection"));
    addButton->setText(tr("Add"));
    modifyButton->setText(tr("Modify"));
    removeButton->setText(tr("Remove"));
    warningGroup->setTitle(tr("Warning messages"));
    popupCheck->setText(tr("Popup warning message"));
    appCheck->setText(tr("Run application before shutdown computer"));
    browseButton->setText(tr("Browse..."));
    testButton->setText(tr("Test"));
    execTimeLabel->setText(tr("Maximum execution time:"));
    execTimeUnit->setText(tr("minute(s)"));
    acFailedTimeLabel->setText(tr("AC failed shutdown time:"));
    acFailedTimeUnit->setText(tr("minute(s)"));
    battLowTimeLabel->setText(tr("Battery low shutdown time:"));
    battLowTimeUnit->setText(tr("minute(s)"));
    acFailedCapacityLabel->setText(tr("AC failed shutdown capacity:"));
    acFailedCapacityUnit->setText(tr("%"));
    sureButton->setText(tr("Sure"));
    cancelButton->setText(tr("Cancel"));
}

void SettingsDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QDialog::changeEvent(event);
}

void SettingsDialog::loadGeneral()
{
    const QVariant popup = read(keyPopWarning);
    if (popup.isValid()) {
        loadedPopup = popup.toBool();
        popupCheck->setChecked(loadedPopup);
    } else {
        seed(keyPopWarning, true);
        popupCheck->setChecked(true);
        popupSeeded = true;
    }

    const QVariant enable = read(keyAppEnable);
    // Absent reads as off, to the protection too.
    loadedAppEnable = enable.toBool();
    if (!enable.isValid())
        seed(keyAppEnable, false);
    appCheck->setChecked(loadedAppEnable);
    setApplicationFieldsEnabled(loadedAppEnable);

    const QVariant app = read(keyApp);
    if (app.isValid())
        appPathEdit->setText(app.toString());
    loadedAppPath = app.isValid() ? app.toString() : QString();

    const QVariant execTime = read(keyExecTime);
    if (execTime.isValid()) {
        execTimeEdit->setText(execTime.toString());
    } else {
        execTimeEdit->setText(QStringLiteral("15"));
        seed(keyExecTime, 15);
    }

    loadHostTable();
}

void SettingsDialog::loadHostTable()
{
    if (ProtectionClient *client = ProtectionClient::active()) {
        for (const SNMPInfo &info : client->hosts()) {
            const int row = hostTable->rowCount();
            hostTable->setRowCount(row + 1);
            fillRow(row, info.ip, info.port, info.version);
        }
        return;
    }
    QSqlQuery query(hostDatabase());
    if (!query.exec(QLatin1String(Sql::selectSessionTable)))
        return;
    while (query.next()) {
        const int row = hostTable->rowCount();
        hostTable->setRowCount(row + 1);
        fillRow(row, query.value(0).toString(), query.value(1).toInt(), query.value(2).toInt());
    }
}

void SettingsDialog::loadShutdownCondition()
{
    const struct
    {
        const QString &key;
        QLineEdit *edit;
        int fallback;
    } fields[] = {{keyAcFailedTime, acFailedTimeEdit, 5}, {keyBattLowTime, battLowTimeEdit, 5},
        {keyAcFailedCapacity, acFailedCapacityEdit, 20}};
    for (const auto &field : fields) {
        const QVariant value = read(field.key);
        if (value.isValid()) {
            field.edit->setText(value.toString());
        } else {
            seed(field.key, field.fallback);
            field.edit->setText(QString::number(field.fallback));
        }
    }
}

void SettingsDialog::fillRow(int row, const QString &ip, int port, int version)
{
    QString versionText;
    if (version == Snmp::CommunityBased)
        versionText = QStringLiteral("SNMP v1/v2");
    else if (version == Snmp::Usm)
        versionText = QStringLiteral("SNMP v3");
    else
        versionText = tr("Unknown");
    const QString texts[] = {ip, QString::number(port), versionText};
    for (int column = 0; column < 3; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        item->setTextAlignment(Qt::AlignCenter);
        hostTable->setItem(row, column, item);
    }
}

void SettingsDialog::setApplicationFieldsEnabled(bool enabled)
{
    appPathEdit->setEnabled(enabled);
    browseButton->setEnabled(enabled);
    execTimeEdit->setEnabled(enabled);
    testButton->setEnabled(enabled && !applicationTest->isRunning());
}

void SettingsDialog::setCardSource(CardSource source)
{
    cardSource = std::move(source);
}

void SettingsDialog::hostClicked(int row, int)
{
    selectedRow = row;
}

void SettingsDialog::hostAddedEvent(const SNMPInfo &info)
{
    const int row = hostTable->rowCount();
    hostTable->setRowCount(row + 1);
    fillRow(row, info.ip, info.port, info.version);
    emit hostAdded(info);
}

void SettingsDialog::hostModifiedEvent(const SNMPInfo &infoNew, const SNMPInfo &infoOld)
{
    if (selectedRow >= 0 && selectedRow < hostTable->rowCount())
        fillRow(selectedRow, infoNew.ip, infoNew.port, infoNew.version);
    emit hostModified(infoNew, infoOld);
}

void SettingsDialog::onRadioBtnOffAPP(bool checked)
{
    setApplicationFieldsEnabled(checked);
}

void SettingsDialog::onBrowseOffAPP()
{
    const QString path = UserPrompt::openFileName(this, tr("Browse shutdown application"), AppPaths::root());
    if (!path.isEmpty())
        appPathEdit->setText(path);
}

void SettingsDialog::addSNMPHost()
{
    AddHostDialog dialog(false, SNMPInfo(), nullptr);
    connect(&dialog, &AddHostDialog::hostAdded, this, &SettingsDialog::hostAddedEvent);
    dialog.exec();
}

void SettingsDialog::modifySNMPHost()
{
    if (selectedRow < 0 || selectedRow >= hostTable->rowCount())
        return;
    SNMPInfo info;
    info.ip = hostTable->item(selectedRow, 0)->text();
    if (ProtectionClient *client = ProtectionClient::active()) {
        if (!client->host(info.ip, &info))
            return;
        AddHostDialog dialog(true, info, nullptr);
        connect(&dialog, &AddHostDialog::hostModified, this, &SettingsDialog::hostModifiedEvent);
        dialog.exec();
        return;
    }
    QSqlQuery query(hostDatabase());
    query.prepare(QLatin1String(Sql::selectSessionDetails));
    query.bindValue(QStringLiteral(":1"), info.ip);
    // A row that is no longer stored cannot be modified; editing it would report a change nobody made.
    if (!query.exec() || !query.next())
        return;
    info.port = query.value(0).toInt();
    info.version = query.value(1).toInt();
    if (info.version == Snmp::CommunityBased) {
        info.community = query.value(2).toString();
    } else if (info.version == Snmp::Usm) {
        info.authType = query.value(3).toInt();
        info.privType = query.value(4).toInt();
        info.userName = query.value(5).toString();
        info.password = query.value(6).toString();
    }

    AddHostDialog dialog(true, info, nullptr);
    connect(&dialog, &AddHostDialog::hostModified, this, &SettingsDialog::hostModifiedEvent);
    dialog.exec();
}

void SettingsDialog::removeSNMPHost()
{
    if (selectedRow < 0 || selectedRow >= hostTable->rowCount())
        return;
    const QString ip = hostTable->item(selectedRow, 0)->text();
    const QString peer = ip + QLatin1Char(':') + hostTable->item(selectedRow, 1)->text();
    const int answer = UserPrompt::information(
        this, tr("Information"), tr("Are you sure to remove host %1").arg(ip), tr("Sure"), tr("Cancel"));
    if (answer != 0)
        return;
    if (ProtectionClient *client = ProtectionClient::active()) {
        QString why;
        bool unauthorized = false;
        setWaiting(waitingText());
        const bool removed = client->removeHost(ip, &why, &unauthorized);
        setWaiting(QString());
        if (!removed) {
            UserPrompt::warning(this, tr("Warning"), refusedText(why, unauthorized, false), tr("Sure"));
            return;
        }
    } else {
        QSqlQuery query(hostDatabase());
        query.prepare(QLatin1String(Sql::deleteSession));
        query.bindValue(QStringLiteral(":1"), ip);
        query.exec();
    }
    hostTable->removeRow(selectedRow);
    // Nothing stays selected, so a second "Remove" cannot hit the row that moved up into the gap.
    hostTable->clearSelection();
    hostTable->setCurrentCell(-1, -1);
    selectedRow = -1;
    emit hostRemoved(peer);
}

void SettingsDialog::saveSettings()
{
    if (!checkGeneral() || !checkShutdownCondition() || !confirmShutdownCondition())
        return;
    // A refused change keeps the dialog open with what the user entered, and the change is not reported.
    if (!saveGeneral() || !saveShutdownCondition())
        return;
    accept();
}

bool SettingsDialog::write(const QString &key, const QVariant &value)
{
    ProtectionClient *client = ProtectionClient::active();
    if (!client) {
        const QString why = storeSetting(AppPaths::settingsFilePath(), key, value);
        if (!why.isEmpty())
            qWarning().noquote() << "Settings:" << why;
        return true;
    }
    QString why;
    bool unauthorized = false;
    setWaiting(waitingText());
    const bool stored = client->setSetting(key, value, &why, &unauthorized);
    setWaiting(QString());
    if (!stored)
        UserPrompt::warning(this, tr("Warning"), refusedText(why, unauthorized, isApplicationKey(key)), tr("Sure"));
    return stored;
}

void SettingsDialog::setWaiting(const QString &text)
{
    statusLabel->setText(text);
    sureButton->setEnabled(text.isEmpty());
}

QString SettingsDialog::waitingText()
{
    return QCoreApplication::translate("MainWindow", "Waiting for authorisation...");
}

QString SettingsDialog::refusedText(const QString &why, bool unauthorized, bool application)
{
    if (unauthorized && application)
        return tr("The change was refused: the shutdown application is an administrator's choice, and changing "
                  "or testing it needs an administrator's authorisation.");
    if (unauthorized)
        return QCoreApplication::translate(
            "MainWindow", "The change was refused: you are not authorised to change the UPS protection.");
    return QCoreApplication::translate("MainWindow", "The change was refused: %1").arg(why);
}

bool SettingsDialog::checkField(QLineEdit *edit, QLabel *label, const QString &key)
{
    if (SettingKeys::refusal(key, edit->text()).isEmpty())
        return true;
    const SettingKey *k = SettingKeys::find(key);
    QString field = label->text();
    if (field.endsWith(QLatin1Char(':')))
        field.chop(1);
    const QString text = k->zeroIsOff ? tr("%1 must be a number from %2 to %3, or 0 to switch it off.")
                                      : tr("%1 must be a number from %2 to %3.");
    UserPrompt::warning(this, tr("Warning"), text.arg(field).arg(k->minimum).arg(k->maximum), tr("Sure"));
    edit->setFocus();
    return false;
}

bool SettingsDialog::checkGeneral()
{
    if (!appCheck->isChecked())
        return true;
    // A directory passes a plain existence test but can never be started.
    if (!QFileInfo(appPathEdit->text()).isFile()) {
        UserPrompt::warning(this, tr("Warning"), tr("Shutdown application is not exist!"), tr("Sure"));
        return false;
    }
    // In front of the service the service checks it as the user it runs the application as.
    const QString refusal = ProtectionClient::active() ? QString() : shutdownApplicationRefusal(appPathEdit->text());
    if (!refusal.isEmpty()) {
        UserPrompt::warning(this, tr("Warning"),
            tr("The shutdown application would be refused at a power failure: %1").arg(refusal), tr("Sure"));
        return false;
    }
    return checkField(execTimeEdit, execTimeLabel, keyExecTime);
}

bool SettingsDialog::checkShutdownCondition()
{
    return checkField(acFailedTimeEdit, acFailedTimeLabel, keyAcFailedTime)
        && checkField(battLowTimeEdit, battLowTimeLabel, keyBattLowTime)
        && checkField(acFailedCapacityEdit, acFailedCapacityLabel, keyAcFailedCapacity);
}

bool SettingsDialog::saveGeneral()
{
    // The application's keys first: in front of the service they take an administrator, and when that is
    // refused nothing else has been written yet. Only a real change of them is sent.
    // What was written stays written after a later refusal, so another "Sure" does not send it again.
    const bool enable = appCheck->isChecked();
    if (enable && appPathEdit->text() != loadedAppPath) {
        if (!write(keyApp, appPathEdit->text()))
            return false;
        loadedAppPath = appPathEdit->text();
    }
    if (enable != loadedAppEnable) {
        if (!write(keyAppEnable, enable))
            return false;
        loadedAppEnable = enable;
    }
    if (enable && !write(keyExecTime, execTimeEdit->text().toInt(nullptr, 10)))
        return false;

    // The loader took true for an absent key; the file must agree with the box either way.
    const bool popup = popupCheck->isChecked();
    if (popup != loadedPopup || popupSeeded) {
        if (!write(keyPopWarning, popup))
            return false;
        popupSeeded = false;
        if (popup != loadedPopup)
            emit popupStateChanged(popup);
        loadedPopup = popup;
    }
    return true;
}

bool SettingsDialog::saveShutdownCondition()
{
    return write(keyAcFailedTime, acFailedTimeEdit->text().toInt(nullptr, 10))
        && write(keyBattLowTime, battLowTimeEdit->text().toInt(nullptr, 10))
        && write(keyAcFailedCapacity, acFailedCapacityEdit->text().toInt(nullptr, 10));
}

bool SettingsDialog::confirmShutdownCondition()
{
    const auto confirmed = [this](const QString &text) {
        return UserPrompt::information(this, tr("Information"), text, tr("Sure"), tr("Cancel")) == 0;
    };
    const int threshold = acFailedCapacityEdit->text().toInt(nullptr, 10);
    QStringList onBattery;
    const QList<Protection::Card> cards = cardSource ? cardSource() : QList<Protection::Card>();
    for (const Protection::Card &card : cards) {
        const QByteArray &data = card.data;
        // Only what the card has reported: an unknown byte is no failed mains and no empty battery.
        if (!Snmp::isKnown(data, Snmp::InputStatus) || !Snmp::isKnown(data, Snmp::BatteryCapacity))
            continue;
        const int capacity = static_cast<unsigned char>(data.at(Snmp::BatteryCapacity));
        if (data.at(Snmp::InputStatus) != Snmp::InputNormal && capacity <= Snmp::MaxCapacity && capacity < threshold)
            onBattery << QStringLiteral("%1 (%2 %)").arg(card.host).arg(capacity);
    }
    if (!onBattery.isEmpty()
        && !confirmed(tr("On battery now below %1 %: %2. Saving this capacity starts the shutdown at once.")
                          .arg(threshold)
                          .arg(onBattery.join(QStringLiteral(", ")))))
        return false;
    if (acFailedTimeEdit->text().toInt(nullptr, 10) == 0
        && !confirmed(tr("AC failed shutdown time is 0: the AC-failed condition will be off.")))
        return false;
    if (battLowTimeEdit->text().toInt(nullptr, 10) == 0
        && !confirmed(tr("Battery low shutdown time is 0: the battery-low condition will be off.")))
        return false;
    return true;
}

void SettingsDialog::testApplication()
{
    if (applicationTest->isRunning() || !checkField(execTimeEdit, execTimeLabel, keyExecTime))
        return;
    const QString path = appPathEdit->text();
    const int minutes = execTimeEdit->text().toInt(nullptr, 10);
    testButton->setEnabled(false);
    if (ProtectionClient *client = ProtectionClient::active()) {
        // In the service, as the user and with the environment an outage would run it with. Sure waits too: a
        // save meanwhile would stand in the same queue for the administrator's password.
        setWaiting(tr("Waiting for authorisation, then for the test run..."));
        client->testShutdownApplication(path, minutes, this,
            [this](int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal, const QString &error,
                bool unauthorized) {
                setWaiting(QString());
                if (error.isEmpty()) {
                    showTestResult(exitCode, exitStatus, elapsedMs, refusal);
                    return;
                }
                testButton->setEnabled(appCheck->isChecked());
                const QString text = unauthorized
                    ? tr("The test was refused: running the shutdown application in the service needs an "
                         "administrator's authorisation.")
                    : tr("The test was refused: %1").arg(error);
                UserPrompt::warning(this, tr("Warning"), text, tr("Sure"));
            });
        return;
    }
    applicationTest->start(path, minutes);
}

void SettingsDialog::showTestResult(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal)
{
    testButton->setEnabled(appCheck->isChecked());
    if (!refusal.isEmpty()) {
        UserPrompt::warning(this, tr("Warning"),
            tr("The shutdown application would be refused at a power failure: %1").arg(refusal), tr("Sure"));
        return;
    }
    const QString seconds = QString::number(double(elapsedMs) / 1000.0, 'f', 1);
    const QString text = exitStatus == QProcess::NormalExit
        ? tr("The shutdown application ended with exit code %1 after %2 s.").arg(exitCode).arg(seconds)
        : tr("The shutdown application was stopped by signal %1 after %2 s.").arg(exitCode).arg(seconds);
    UserPrompt::information(this, tr("Information"), text, tr("Sure"));
}
