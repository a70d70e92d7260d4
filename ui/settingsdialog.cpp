#include "ui/settingsdialog.h"

#include "storage/apppaths.h"
#include "storage/nutusers.h"
#include "storage/settingkeys.h"
#include "ui/addhostdialog.h"
#include "ui/userprompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <memory>

namespace {
const QString keyPopWarning = QLatin1String(SettingKeys::popWarning);
const QString keyDesktopNotify = QLatin1String(SettingKeys::desktopNotify);
const QString keyAppEnable = QLatin1String(SettingKeys::applicationEnabled);
const QString keyApp = QLatin1String(SettingKeys::application);
const QString keyExecTime = QLatin1String(SettingKeys::applicationTime);
const QString keyAcFailedTime = QLatin1String(SettingKeys::acFailedTime);
const QString keyBattLowTime = QLatin1String(SettingKeys::batteryLowTime);
const QString keyAcFailedCapacity = QLatin1String(SettingKeys::acFailedCapacity);
const QString keyNutEnabled = QLatin1String(SettingKeys::nutEnabled);
const QString keyNutAddress = QLatin1String(SettingKeys::nutAddress);
const QString keyNutPort = QLatin1String(SettingKeys::nutPort);
const QString keyNutFsdWait = QLatin1String(SettingKeys::nutFsdWait);
const QString keyNutUsers = QLatin1String(SettingKeys::nutUsers);

const QStringList &dialogKeys()
{
    static const QStringList keys {keyPopWarning, keyDesktopNotify, keyAppEnable, keyApp, keyExecTime, keyAcFailedTime,
        keyBattLowTime, keyAcFailedCapacity, keyNutEnabled, keyNutAddress, keyNutPort, keyNutFsdWait, keyNutUsers};
    return keys;
}

// The users table's columns; a stored user's password field left empty keeps the stored password.
enum UserColumn
{
    UserName,
    UserPassword,
    UserRole
};

QLineEdit *numberEdit(QWidget *parent, const char *name, int top)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setValidator(new QIntValidator(1, top, edit));
    return edit;
}

// A label's text as a sentence names it: without its Alt key, "(&C)" in Chinese style or a bare "&".
QString withoutMnemonic(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\(&[^&]\\)")));
    text.replace(QLatin1String("&&"), QStringLiteral("\u0001"));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(1), QLatin1Char('&'));
    return text;
}

QString unreachableText()
{
    return QCoreApplication::translate("SettingsDialog",
        "The protection service is not running: nothing can be changed now. Start it with: sudo systemctl start "
        "vigilex");
}
} // namespace

SettingsDialog::SettingsDialog(ProtectionBackend *backend, QWidget *parent) : QDialog(parent), backend(backend)
{
    buildWidgets();
    retranslate();

    connect(hostTable, &QTableWidget::cellClicked, this, &SettingsDialog::hostClicked);
    connect(hostTable, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        selectedRow = row;
        modifySNMPHost();
    });
    hostTable->installEventFilter(this);
    usersTable->installEventFilter(this);
    // The row chosen by the arrow keys counts as much as the one clicked.
    connect(hostTable, &QTableWidget::itemSelectionChanged, this, [this] {
        const QList<QTableWidgetSelectionRange> ranges = hostTable->selectedRanges();
        selectedRow = ranges.isEmpty() ? -1 : ranges.constFirst().topRow();
    });
    connect(appCheck, &QCheckBox::clicked, this, &SettingsDialog::onRadioBtnOffAPP);
    connect(browseButton, &QPushButton::clicked, this, &SettingsDialog::onBrowseOffAPP);
    connect(testButton, &QPushButton::clicked, this, &SettingsDialog::testApplication);
    connect(addButton, &QPushButton::clicked, this, &SettingsDialog::addSNMPHost);
    connect(modifyButton, &QPushButton::clicked, this, &SettingsDialog::modifySNMPHost);
    connect(removeButton, &QPushButton::clicked, this, &SettingsDialog::removeSNMPHost);
    connect(sureButton, &QPushButton::clicked, this, &SettingsDialog::saveSettings);
    connect(addUserButton, &QPushButton::clicked, this, [this] {
        addUserRow(QString(), false, false);
        usersTable->setCurrentCell(usersTable->rowCount() - 1, UserName);
        usersTable->editItem(usersTable->item(usersTable->rowCount() - 1, UserName));
    });
    connect(cancelButton, &QPushButton::clicked, this, &SettingsDialog::reject);
    // Another face's change, or the service coming back, shows here too while nothing has been edited.
    connect(backend, &ProtectionBackend::hostsChanged, this, [this] {
        if (loaded)
            loadHosts();
    });
    connect(backend, &ProtectionBackend::reachableChanged, this, [this](bool reachable) {
        if (reachable && !loaded)
            load();
        else if (!reachable)
            showUnreachable();
    });

    load();
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
    // One stop in the dialog's tab chain: the arrows move between the cards, Tab leaves the table.
    hostTable->setTabKeyNavigation(false);
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
    desktopNotifyCheck = new QCheckBox(warningGroup);
    desktopNotifyCheck->setObjectName(QStringLiteral("desktopNotifyCheck"));
    auto *warningLayout = new QHBoxLayout(warningGroup);
    warningLayout->addWidget(popupCheck);
    warningLayout->addWidget(desktopNotifyCheck);

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

    execTimeLabel->setBuddy(execTimeEdit);

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
    acFailedTimeLabel->setBuddy(acFailedTimeEdit);
    battLowTimeLabel->setBuddy(battLowTimeEdit);
    acFailedCapacityLabel->setBuddy(acFailedCapacityEdit);
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

    // Network UPS server page: other machines' upsmon follow the cards and go down first.
    serverPage = new QWidget(tabs);
    serverCheck = new QCheckBox(serverPage);
    serverCheck->setObjectName(QStringLiteral("serverCheck"));
    serverAddressLabel = new QLabel(serverPage);
    serverAddressEdit = new QLineEdit(serverPage);
    serverAddressEdit->setObjectName(QStringLiteral("serverAddressEdit"));
    serverPortLabel = new QLabel(serverPage);
    serverPortEdit = numberEdit(serverPage, "serverPortEdit", 65535);
    fsdWaitLabel = new QLabel(serverPage);
    fsdWaitEdit = numberEdit(serverPage, "fsdWaitEdit", 300);
    fsdWaitEdit->setValidator(new QIntValidator(0, 300, fsdWaitEdit));
    fsdWaitEdit->setPlaceholderText(QStringLiteral("0~300"));
    fsdWaitUnit = new QLabel(serverPage);
    serverAddressLabel->setBuddy(serverAddressEdit);
    serverPortLabel->setBuddy(serverPortEdit);
    fsdWaitLabel->setBuddy(fsdWaitEdit);
    auto *serverGrid = new QGridLayout;
    serverGrid->addWidget(serverAddressLabel, 0, 0);
    serverGrid->addWidget(serverAddressEdit, 0, 1);
    serverGrid->addWidget(serverPortLabel, 1, 0);
    serverGrid->addWidget(serverPortEdit, 1, 1);
    serverGrid->addWidget(fsdWaitLabel, 2, 0);
    serverGrid->addWidget(fsdWaitEdit, 2, 1);
    serverGrid->addWidget(fsdWaitUnit, 2, 2);
    usersGroup = new QGroupBox(serverPage);
    usersTable = new QTableWidget(0, 3, usersGroup);
    usersTable->setObjectName(QStringLiteral("usersTable"));
    usersTable->horizontalHeader()->setStretchLastSection(true);
    usersTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    usersTable->setSelectionMode(QAbstractItemView::SingleSelection);
    addUserButton = new QPushButton(usersGroup);
    addUserButton->setObjectName(QStringLiteral("addUserButton"));
    auto *userButtons = new QHBoxLayout;
    userButtons->addStretch();
    userButtons->addWidget(addUserButton);
    auto *usersLayout = new QVBoxLayout(usersGroup);
    usersLayout->addWidget(usersTable);
    usersLayout->addLayout(userButtons);
    auto *serverLayout = new QVBoxLayout(serverPage);
    serverLayout->addWidget(serverCheck);
    serverLayout->addLayout(serverGrid);
    serverLayout->addWidget(usersGroup);
    tabs->addTab(serverPage, QString());

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
    // Every field and button has its Alt key; a label's moves the focus to its field.
    tabs->setTabText(tabs->indexOf(generalPage), tr("&General"));
    tabs->setTabText(tabs->indexOf(conditionPage), tr("Shutdown Con&dition"));
    tabs->setTabText(tabs->indexOf(serverPage), tr("Network UPS ser&ver"));
    serverCheck->setText(tr("S&erve the cards to other computers (network UPS protocol)"));
    serverAddressLabel->setText(tr("&IP address:"));
    serverPortLabel->setText(tr("TCP port (usuall&y 3493):"));
    fsdWaitLabel->setText(tr("&How long to wait for followers:"));
    fsdWaitUnit->setText(tr("second(s)"));
    usersGroup->setTitle(tr("Users (Delete removes the selected one)"));
    usersTable->setHorizontalHeaderLabels({tr("User name"), tr("Password"), tr("Role")});
    for (int row = 0; row < usersTable->rowCount(); ++row) {
        if (auto *role = qobject_cast<QComboBox *>(usersTable->cellWidget(row, UserRole))) {
            role->setItemText(0, tr("secondary (follows)"));
            role->setItemText(1, tr("primary (may force a shutdown)"));
        }
    }
    addUserButton->setText(tr("Ne&w user"));
    hostTable->setHorizontalHeaderLabels({tr("Host address"), tr("SNMP port"), tr("SNMP version")});
    hostGroup->setTitle(tr("Host c&onnection"));
    addButton->setText(tr("&Add"));
    modifyButton->setText(tr("&Modify"));
    removeButton->setText(tr("&Remove"));
    warningGroup->setTitle(tr("Warning messages"));
    popupCheck->setText(tr("&Popup warning message"));
    desktopNotifyCheck->setText(tr("Des&ktop notifications"));
    appCheck->setText(tr("R&un application before shutdown computer"));
    browseButton->setText(tr("&Browse..."));
    testButton->setText(tr("&Test"));
    execTimeLabel->setText(tr("Maximum e&xecution time:"));
    execTimeUnit->setText(tr("minute(s)"));
    acFailedTimeLabel->setText(tr("AC &failed shutdown time:"));
    acFailedTimeUnit->setText(tr("minute(s)"));
    battLowTimeLabel->setText(tr("Battery &low shutdown time:"));
    battLowTimeUnit->setText(tr("minute(s)"));
    acFailedCapacityLabel->setText(tr("AC failed shutdown &capacity:"));
    acFailedCapacityUnit->setText(tr("%"));
    sureButton->setText(tr("&Sure"));
    cancelButton->setText(tr("Ca&ncel"));
}

bool SettingsDialog::eventFilter(QObject *watched, QEvent *event)
{
    // Delete removes the selected user, while no cell is being edited (the editor has the key then).
    if (watched == usersTable && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete && usersTable->currentRow() >= 0) {
        usersTable->removeRow(usersTable->currentRow());
        return true;
    }
    if (watched != hostTable || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (key->key()) {
    case Qt::Key_Delete:
        removeSNMPHost();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Without a selected card Enter stays the dialog's: Sure.
        if (selectedRow < 0)
            return false;
        modifySNMPHost();
        return true;
    default:
        return false;
    }
}

void SettingsDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QDialog::changeEvent(event);
}

void SettingsDialog::load()
{
    setFieldsEnabled(false);
    if (!backend->isReachable()) {
        showUnreachable();
        return;
    }
    statusLabel->setText(tr("Reading the settings..."));
    // The fields open for editing once both the settings and the cards are in.
    const auto answered = std::make_shared<int>(0);
    const auto opened = [this, answered] {
        if (++*answered < 2)
            return;
        loaded = true;
        statusLabel->clear();
        setFieldsEnabled(true);
    };
    backend->readSettings(dialogKeys(), this, [this, opened](const BackendReply &reply, const QVariantMap &values) {
        if (!reply.ok) {
            showRefusedRead(reply);
            return;
        }
        stored = values;
        showSettings(values);
        opened();
    });
    loadHosts(opened);
}

void SettingsDialog::showRefusedRead(const BackendReply &reply)
{
    if (!backend->isReachable())
        showUnreachable();
    else
        statusLabel->setText(tr("The settings cannot be read: %1").arg(reply.error));
}

void SettingsDialog::loadHosts(const std::function<void()> &then)
{
    backend->storedCards(this, [this, then](const BackendReply &reply, const QList<StoredCard> &answer) {
        if (!reply.ok) {
            showRefusedRead(reply);
            return;
        }
        cards = answer;
        hostTable->setRowCount(0);
        for (const StoredCard &card : qAsConst(cards)) {
            const int row = hostTable->rowCount();
            hostTable->setRowCount(row + 1);
            fillRow(row, card.info.ip, card.info.port, card.info.version);
        }
        hostTable->clearSelection();
        selectedRow = -1;
        if (then)
            then();
    });
}

void SettingsDialog::showSettings(const QVariantMap &values)
{
    // An absent key shows what it means to the protection.
    const auto value = [&values](const QString &key) { return values.value(key, SettingKeys::defaultValue(key)); };
    popupCheck->setChecked(value(keyPopWarning).toBool());
    desktopNotifyCheck->setChecked(value(keyDesktopNotify).toBool());
    appCheck->setChecked(value(keyAppEnable).toBool());
    appPathEdit->setText(value(keyApp).toString());
    execTimeEdit->setText(value(keyExecTime).toString());
    acFailedTimeEdit->setText(value(keyAcFailedTime).toString());
    battLowTimeEdit->setText(value(keyBattLowTime).toString());
    acFailedCapacityEdit->setText(value(keyAcFailedCapacity).toString());
    serverCheck->setChecked(value(keyNutEnabled).toBool());
    serverAddressEdit->setText(value(keyNutAddress).toString());
    serverPortEdit->setText(value(keyNutPort).toString());
    fsdWaitEdit->setText(value(keyNutFsdWait).toString());
    usersTable->setRowCount(0);
    QList<NutUser> users;
    NutUsers::parse(value(keyNutUsers), &users);
    for (const NutUser &user : qAsConst(users))
        addUserRow(user.name, user.primary, true);
}

void SettingsDialog::addUserRow(const QString &name, bool primary, bool stored)
{
    const int row = usersTable->rowCount();
    usersTable->setRowCount(row + 1);
    usersTable->setItem(row, UserName, new QTableWidgetItem(name));
    auto *password = new QLineEdit(usersTable);
    password->setEchoMode(QLineEdit::Password);
    // Never shown, over the bus not even given: empty keeps it.
    if (stored)
        password->setPlaceholderText(tr("(unchanged)"));
    usersTable->setCellWidget(row, UserPassword, password);
    auto *role = new QComboBox(usersTable);
    role->addItem(tr("secondary (follows)"), false);
    role->addItem(tr("primary (may force a shutdown)"), true);
    role->setCurrentIndex(primary ? 1 : 0);
    usersTable->setCellWidget(row, UserRole, role);
}

QString SettingsDialog::usersText(bool *passwordTyped) const
{
    QList<NutUser> users;
    bool typed = false;
    for (int row = 0; row < usersTable->rowCount(); ++row) {
        const QTableWidgetItem *name = usersTable->item(row, UserName);
        const auto *password = qobject_cast<QLineEdit *>(usersTable->cellWidget(row, UserPassword));
        const auto *role = qobject_cast<QComboBox *>(usersTable->cellWidget(row, UserRole));
        NutUser user {name ? name->text().trimmed() : QString(), password ? password->text() : QString(),
            role && role->currentData().toBool()};
        typed = typed || !user.password.isEmpty();
        users.append(user);
    }
    if (passwordTyped)
        *passwordTyped = typed;
    return NutUsers::text(users);
}

bool SettingsDialog::checkServer()
{
    if (!checkField(serverPortEdit, serverPortLabel, keyNutPort)
        || !checkField(fsdWaitEdit, fsdWaitLabel, keyNutFsdWait))
        return false;
    if (!SettingKeys::refusal(keyNutAddress, serverAddressEdit->text()).isEmpty()) {
        UserPrompt::warning(this, tr("Warning"), tr("The server's address must be an IP address."), tr("Sure"));
        serverAddressEdit->setFocus();
        return false;
    }
    QList<NutUser> users;
    NutUsers::parse(usersText(), &users);
    for (int row = 0; row < users.size(); ++row) {
        const auto *password = qobject_cast<QLineEdit *>(usersTable->cellWidget(row, UserPassword));
        const bool stored = password && !password->placeholderText().isEmpty();
        if (users.at(row).name.isEmpty() || (users.at(row).password.isEmpty() && !stored)) {
            UserPrompt::warning(this, tr("Warning"), tr("Every user needs a name and a password."), tr("Sure"));
            usersTable->setCurrentCell(row, UserName);
            return false;
        }
    }
    const QString why = NutUsers::refusal(usersText());
    if (!why.isEmpty()) {
        UserPrompt::warning(this, tr("Warning"), tr("The users cannot be saved: %1").arg(why), tr("Sure"));
        return false;
    }
    return true;
}

void SettingsDialog::showUnreachable()
{
    setFieldsEnabled(false);
    setWaiting(QString());
    sureButton->setEnabled(false);
    statusLabel->setText(unreachableText());
    // The cards as last known, by address only: the stored details are the service's.
    if (!loaded && hostTable->rowCount() == 0) {
        const QList<CardState> known = backend->cards();
        hostTable->setRowCount(int(known.size()));
        for (int row = 0; row < known.size(); ++row) {
            auto *item = new QTableWidgetItem(known.at(row).host);
            item->setTextAlignment(Qt::AlignCenter);
            hostTable->setItem(row, 0, item);
        }
    }
    loaded = false;
}

void SettingsDialog::setFieldsEnabled(bool enabled)
{
    for (QWidget *w :
        {static_cast<QWidget *>(addButton), static_cast<QWidget *>(modifyButton), static_cast<QWidget *>(removeButton),
            static_cast<QWidget *>(popupCheck), static_cast<QWidget *>(desktopNotifyCheck),
            static_cast<QWidget *>(appCheck), static_cast<QWidget *>(acFailedTimeEdit),
            static_cast<QWidget *>(battLowTimeEdit), static_cast<QWidget *>(acFailedCapacityEdit),
            static_cast<QWidget *>(serverCheck), static_cast<QWidget *>(serverAddressEdit),
            static_cast<QWidget *>(serverPortEdit), static_cast<QWidget *>(fsdWaitEdit),
            static_cast<QWidget *>(usersTable), static_cast<QWidget *>(addUserButton),
            static_cast<QWidget *>(sureButton)})
        w->setEnabled(enabled);
    setApplicationFieldsEnabled(enabled && appCheck->isChecked());
}

void SettingsDialog::fillRow(int row, const QString &ip, int port, int version)
{
    QString versionText;
    if (version == Snmp::CommunityBased)
        versionText = QStringLiteral("SNMP v1/v2");
    else if (version == Snmp::Usm)
        versionText = QStringLiteral("SNMP v3");
    else if (version == Snmp::NetworkUps)
        versionText = tr("Network UPS server");
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
    testButton->setEnabled(enabled && !testRunning);
}

void SettingsDialog::hostClicked(int row, int)
{
    selectedRow = row;
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
    if (!loaded)
        return;
    AddHostDialog dialog(backend, nullptr);
    if (dialog.exec() == QDialog::Accepted)
        loadHosts();
}

void SettingsDialog::modifySNMPHost()
{
    if (!loaded || selectedRow < 0 || selectedRow >= cards.size())
        return;
    AddHostDialog dialog(backend, cards.at(selectedRow), nullptr);
    if (dialog.exec() == QDialog::Accepted)
        loadHosts();
}

void SettingsDialog::removeSNMPHost()
{
    if (!loaded || selectedRow < 0 || selectedRow >= cards.size())
        return;
    const QString ip = cards.at(selectedRow).info.ip;
    const int answer = UserPrompt::information(
        this, tr("Information"), tr("Are you sure to remove host %1").arg(ip), tr("Sure"), tr("Cancel"));
    if (answer != 0)
        return;
    setWaiting(waitingText());
    removeButton->setEnabled(false);
    backend->removeHost(ip, this, [this, ip](const BackendReply &reply) {
        setWaiting(QString());
        removeButton->setEnabled(loaded);
        if (!reply.ok) {
            UserPrompt::warning(this, tr("Warning"), refusedText(reply.error, reply.unauthorized, false), tr("Sure"));
            return;
        }
        for (int row = 0; row < cards.size(); ++row) {
            if (cards.at(row).info.ip != ip)
                continue;
            cards.removeAt(row);
            hostTable->removeRow(row);
            break;
        }
        // Nothing stays selected, so a second "Remove" cannot hit the row that moved up into the gap.
        hostTable->clearSelection();
        hostTable->setCurrentCell(-1, -1);
        selectedRow = -1;
    });
}

void SettingsDialog::saveSettings()
{
    if (!loaded || !checkGeneral() || !checkShutdownCondition() || !checkServer() || !confirmShutdownCondition())
        return;
    const QVariantMap values = changedValues();
    if (values.isEmpty()) {
        accept();
        return;
    }
    bool application = false;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        application = application || SettingKeys::isApplicationKey(it.key());
    bool server = false;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        server = server || SettingKeys::isServerKey(it.key());
    setWaiting(waitingText());
    // A refused change keeps the dialog open with what the user entered; nothing of it was written.
    backend->writeSettings(values, this, [this, values, application, server](const BackendReply &reply) {
        setWaiting(QString());
        if (!reply.ok) {
            UserPrompt::warning(
                this, tr("Warning"), refusedText(reply.error, reply.unauthorized, application, server), tr("Sure"));
            return;
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            stored.insert(it.key(), it.value());
        accept();
    });
}

QVariantMap SettingsDialog::changedValues() const
{
    QVariantMap shown;
    const bool enable = appCheck->isChecked();
    shown.insert(keyPopWarning, popupCheck->isChecked());
    shown.insert(keyDesktopNotify, desktopNotifyCheck->isChecked());
    shown.insert(keyAppEnable, enable);
    // The application's path and time count only while it is to run: a switched-off box keeps what is stored.
    if (enable) {
        shown.insert(keyApp, appPathEdit->text());
        shown.insert(keyExecTime, execTimeEdit->text().toInt(nullptr, 10));
    }
    shown.insert(keyAcFailedTime, acFailedTimeEdit->text().toInt(nullptr, 10));
    shown.insert(keyBattLowTime, battLowTimeEdit->text().toInt(nullptr, 10));
    shown.insert(keyAcFailedCapacity, acFailedCapacityEdit->text().toInt(nullptr, 10));
    shown.insert(keyNutEnabled, serverCheck->isChecked());
    shown.insert(keyNutAddress, serverAddressEdit->text().trimmed());
    shown.insert(keyNutPort, serverPortEdit->text().toInt(nullptr, 10));
    shown.insert(keyNutFsdWait, fsdWaitEdit->text().toInt(nullptr, 10));
    bool passwordTyped = false;
    const QString users = usersText(&passwordTyped);
    // Compared without the passwords, which a face over the bus never has: one typed is a change.
    if (passwordTyped || users != NutUsers::withoutPasswords(stored.value(keyNutUsers)).toString())
        shown.insert(keyNutUsers, users);
    QVariantMap changed;
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        // The application's keys are an administrator's: left at what their absence means, they are not sent,
        // so that a member's change of a condition asks no administrator.
        const QVariant was = SettingKeys::isApplicationKey(it.key()) || SettingKeys::isServerKey(it.key())
            ? stored.value(it.key(), SettingKeys::defaultValue(it.key()))
            : stored.value(it.key());
        // Compared as text: the file and the bus may hand a number back as a string.
        if (!was.isValid() || was.toString() != it.value().toString())
            changed.insert(it.key(), it.value());
    }
    return changed;
}

void SettingsDialog::setWaiting(const QString &text)
{
    statusLabel->setText(text);
    sureButton->setEnabled(text.isEmpty() && loaded);
}

QString SettingsDialog::waitingText()
{
    return QCoreApplication::translate("MainWindow", "Waiting for authorisation...");
}

QString SettingsDialog::refusedText(const QString &why, bool unauthorized, bool application, bool server)
{
    if (unauthorized && application)
        return tr("The change was refused: the shutdown application is an administrator's choice, and changing "
                  "or testing it needs an administrator's authorisation.");
    if (unauthorized && server)
        return tr("The change was refused: the network UPS server opens a port and grants access, so changing it "
                  "needs an administrator's authorisation.");
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
    QString field = withoutMnemonic(label->text());
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
    // Whether it would be trusted at a power failure the backend decides, as the user that would run it.
    return checkField(execTimeEdit, execTimeLabel, keyExecTime);
}

bool SettingsDialog::checkShutdownCondition()
{
    return checkField(acFailedTimeEdit, acFailedTimeLabel, keyAcFailedTime)
        && checkField(battLowTimeEdit, battLowTimeLabel, keyBattLowTime)
        && checkField(acFailedCapacityEdit, acFailedCapacityLabel, keyAcFailedCapacity);
}

bool SettingsDialog::confirmShutdownCondition()
{
    const auto confirmed = [this](const QString &text) {
        return UserPrompt::information(this, tr("Information"), text, tr("Sure"), tr("Cancel")) == 0;
    };
    const int threshold = acFailedCapacityEdit->text().toInt(nullptr, 10);
    QStringList onBattery;
    const QList<CardState> known = backend->cards();
    for (const CardState &card : known) {
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
    if (testRunning || !loaded || !checkField(execTimeEdit, execTimeLabel, keyExecTime))
        return;
    const QString path = appPathEdit->text();
    const int minutes = execTimeEdit->text().toInt(nullptr, 10);
    testRunning = true;
    testButton->setEnabled(false);
    // As the user and with the environment an outage would run it with. Sure waits too: a save meanwhile would
    // stand in the same queue for the administrator's password.
    setWaiting(tr("Waiting for authorisation, then for the test run..."));
    backend->testShutdownApplication(path, minutes, this,
        [this](const BackendReply &reply, int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal) {
            setWaiting(QString());
            testRunning = false;
            if (reply.ok) {
                showTestResult(exitCode, exitStatus, elapsedMs, refusal);
                return;
            }
            testButton->setEnabled(appCheck->isChecked() && loaded);
            const QString text = reply.unauthorized
                ? tr("The test was refused: running the shutdown application in the service needs an "
                     "administrator's authorisation.")
                : tr("The test was refused: %1").arg(reply.error);
            UserPrompt::warning(this, tr("Warning"), text, tr("Sure"));
        });
}

void SettingsDialog::showTestResult(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal)
{
    testButton->setEnabled(appCheck->isChecked() && loaded);
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
