#include "ui/addhostdialog.h"

#include "service/protectionclient.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/statements.h"
#include "ui/reachability.h"
#include "ui/userprompt.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSqlQuery>
#include <QTimer>
#include <QVBoxLayout>

const char AddHostDialog::ipv4Pattern[]
    = "((25[0-5]|2[0-4]\\d|((1\\d{2})|([1-9]?\\d)))\\.){3}(25[0-5]|2[0-4]\\d|((1\\d{2})|([1-9]?\\d)))";

namespace {
QSqlDatabase hostDatabase()
{
    return Database::instance()->connection(AppPaths::databasePath());
}
} // namespace

AddHostDialog::AddHostDialog(bool modifyMode, const SNMPInfo &info, QWidget *parent)
    : QDialog(parent), modifyMode(modifyMode), storedInfo(info)
{
    buildWidgets();
    setTexts();

    connect(v1v2Radio, &QRadioButton::toggled, this, &AddHostDialog::onSNMPVersionChanged);
    connect(v3Radio, &QRadioButton::toggled, this, &AddHostDialog::onSNMPVersionChanged);
    connect(queryButton, &QPushButton::clicked, this, &AddHostDialog::onBtnQueryCliked);
    connect(cancelButton, &QPushButton::clicked, this, &AddHostDialog::reject);
    connect(sureButton, &QPushButton::clicked, this, &AddHostDialog::onBtnSureClicked);

    if (modifyMode) {
        loadHost();
    } else {
        v1v2Radio->setChecked(true);
        communityEdit->setText(QStringLiteral("public"));
        portEdit->setText(QStringLiteral("161"));
        communityEdit->setEnabled(true);
        for (QWidget *w : {static_cast<QWidget *>(userNameEdit), static_cast<QWidget *>(passwordEdit),
                 static_cast<QWidget *>(authCombo), static_cast<QWidget *>(privCombo)})
            w->setEnabled(false);
    }

    hostEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QLatin1String(ipv4Pattern)), hostEdit));
    portEdit->setValidator(new QIntValidator(0, 65535, portEdit));
}

void AddHostDialog::buildWidgets()
{
    resize(400, 300);
    setWindowFlags(Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);

    // Both radio buttons have the dialog as parent, so they exclude each other.
    v1v2Radio = new QRadioButton(this);
    v1v2Radio->setObjectName(QStringLiteral("v1v2Radio"));
    v3Radio = new QRadioButton(this);
    v3Radio->setObjectName(QStringLiteral("v3Radio"));
    auto *versionColumn = new QVBoxLayout;
    versionColumn->addWidget(v1v2Radio);
    versionColumn->addWidget(v3Radio);

    userNameLabel = new QLabel(this);
    userNameEdit = new QLineEdit(this);
    userNameEdit->setObjectName(QStringLiteral("userNameEdit"));
    passwordLabel = new QLabel(this);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    authLabel = new QLabel(this);
    authCombo = new QComboBox(this);
    authCombo->setObjectName(QStringLiteral("authCombo"));
    authCombo->addItems({QString(), QString()});
    privLabel = new QLabel(this);
    privCombo = new QComboBox(this);
    privCombo->setObjectName(QStringLiteral("privCombo"));
    privCombo->addItems({QString(), QString()});
    auto *usmGrid = new QGridLayout;
    usmGrid->addWidget(userNameLabel, 0, 0);
    usmGrid->addWidget(userNameEdit, 0, 1);
    usmGrid->addWidget(passwordLabel, 1, 0);
    usmGrid->addWidget(passwordEdit, 1, 1);
    usmGrid->addWidget(authLabel, 2, 0);
    usmGrid->addWidget(authCombo, 2, 1);
    usmGrid->addWidget(privLabel, 3, 0);
    usmGrid->addWidget(privCombo, 3, 1);

    auto *versionRow = new QHBoxLayout;
    versionRow->addLayout(versionColumn);
    versionRow->addStretch();
    versionRow->addLayout(usmGrid);

    hostLabel = new QLabel(this);
    hostEdit = new QLineEdit(this);
    hostEdit->setObjectName(QStringLiteral("hostEdit"));
    queryButton = new QPushButton(this);
    queryButton->setObjectName(QStringLiteral("queryButton"));
    auto *hostRow = new QHBoxLayout;
    hostRow->addWidget(hostLabel);
    hostRow->addWidget(hostEdit);
    hostRow->addWidget(queryButton);

    portLabel = new QLabel(this);
    portEdit = new QLineEdit(this);
    portEdit->setObjectName(QStringLiteral("portEdit"));
    communityLabel = new QLabel(this);
    communityEdit = new QLineEdit(this);
    communityEdit->setObjectName(QStringLiteral("communityEdit"));
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(portLabel);
    portRow->addWidget(portEdit);
    portRow->addStretch();
    portRow->addWidget(communityLabel);
    portRow->addWidget(communityEdit);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    sureButton = new QPushButton(this);
    sureButton->setObjectName(QStringLiteral("sureButton"));
    sureButton->setDefault(true);
    cancelButton = new QPushButton(this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(statusLabel);
    buttonRow->addStretch();
    buttonRow->addWidget(sureButton);
    buttonRow->addWidget(cancelButton);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(versionRow);
    layout->addLayout(hostRow);
    layout->addLayout(portRow);
    layout->addLayout(buttonRow);
}

void AddHostDialog::setTexts()
{
    // The form's texts share the main window's translation context.
    setWindowTitle(QCoreApplication::translate("MainWindow", "Add"));
    v1v2Radio->setText(QCoreApplication::translate("MainWindow", "SNMP v1/v2"));
    v3Radio->setText(QCoreApplication::translate("MainWindow", "SNMP v3"));
    userNameLabel->setText(QCoreApplication::translate("MainWindow", "User name:"));
    passwordLabel->setText(QCoreApplication::translate("MainWindow", "Password:"));
    authLabel->setText(QCoreApplication::translate("MainWindow", "Authenticate:"));
    authCombo->setItemText(Snmp::AuthMd5, QCoreApplication::translate("MainWindow", "MD5"));
    authCombo->setItemText(Snmp::AuthSha, QCoreApplication::translate("MainWindow", "SHA"));
    privLabel->setText(QCoreApplication::translate("MainWindow", "Privacy:"));
    privCombo->setItemText(Snmp::PrivDes, QCoreApplication::translate("MainWindow", "DES"));
    privCombo->setItemText(Snmp::PrivAes, QCoreApplication::translate("MainWindow", "AES"));
    hostLabel->setText(QCoreApplication::translate("MainWindow", "Host:"));
    queryButton->setText(QCoreApplication::translate("MainWindow", "Query"));
    portLabel->setText(QCoreApplication::translate("MainWindow", "SNMP port:"));
    communityLabel->setText(QCoreApplication::translate("MainWindow", "Community:"));
    sureButton->setText(QCoreApplication::translate("MainWindow", "Sure"));
    cancelButton->setText(QCoreApplication::translate("MainWindow", "Cancel"));
}

void AddHostDialog::loadHost()
{
    setWindowTitle(tr("Modify"));
    if (ProtectionClient *client = ProtectionClient::active()) {
        // The service keeps the secrets to itself: an empty field left untouched keeps the stored one.
        SNMPInfo info;
        if (!client->host(storedInfo.ip, &info, nullptr, &storedSecrets))
            return;
        hostEdit->setText(info.ip);
        portEdit->setText(QString::number(info.port));
        const QString unchanged = tr("unchanged");
        if (info.version == Snmp::CommunityBased) {
            v1v2Radio->setChecked(true);
            if (storedSecrets.community)
                communityEdit->setPlaceholderText(unchanged);
        } else if (info.version == Snmp::Usm) {
            v3Radio->setChecked(true);
            authCombo->setCurrentIndex(info.authType);
            privCombo->setCurrentIndex(info.privType);
            if (storedSecrets.userName)
                userNameEdit->setPlaceholderText(unchanged);
            if (storedSecrets.password)
                passwordEdit->setPlaceholderText(unchanged);
        }
        return;
    }
    QSqlQuery query(hostDatabase());
    query.prepare(QLatin1String(Sql::selectSessionByIp));
    query.bindValue(QStringLiteral(":1"), storedInfo.ip);
    if (!query.exec() || !query.next())
        return;
    // Read by position: 2 ip, 3 port, 4 version, 5 community, 6 authType, 7 privType, 8 userName, 9 password.
    hostEdit->setText(query.value(2).toString());
    portEdit->setText(query.value(3).toString());
    const int version = query.value(4).toInt();
    if (version == Snmp::CommunityBased) {
        v1v2Radio->setChecked(true);
        communityEdit->setText(query.value(5).toString());
    } else if (version == Snmp::Usm) {
        v3Radio->setChecked(true);
        authCombo->setCurrentIndex(query.value(6).toInt());
        privCombo->setCurrentIndex(query.value(7).toInt());
        userNameEdit->setText(query.value(8).toString());
        passwordEdit->setText(query.value(9).toString());
    }
}

void AddHostDialog::onSNMPVersionChanged(bool)
{
    bool community;
    if (v1v2Radio->isChecked())
        community = true;
    else if (v3Radio->isChecked())
        community = false;
    else
        return;
    communityEdit->setEnabled(community);
    for (QWidget *w : {static_cast<QWidget *>(userNameEdit), static_cast<QWidget *>(passwordEdit),
             static_cast<QWidget *>(authCombo), static_cast<QWidget *>(privCombo)})
        w->setEnabled(!community);
}

void AddHostDialog::warn(const QString &text)
{
    UserPrompt::warning(this, tr("Warning"), text, tr("Sure"));
}

bool AddHostDialog::hostExists(const QString &ip)
{
    if (ProtectionClient *client = ProtectionClient::active()) {
        SNMPInfo info;
        return client->host(ip, &info);
    }
    QSqlQuery query(hostDatabase());
    query.prepare(QLatin1String(Sql::countSessionsByIp));
    query.bindValue(QStringLiteral(":1"), ip);
    return query.exec() && query.next() && query.value(0).toInt() > 0;
}

void AddHostDialog::onBtnSureClicked()
{
    const QRegularExpression wholeAddress(QRegularExpression::anchoredPattern(QLatin1String(ipv4Pattern)));
    if (!wholeAddress.match(hostEdit->text()).hasMatch()) {
        warn(tr("Host format error!"));
        return;
    }
    // The validator lets a five-digit number above 65535 through while typing; no port is that large.
    bool portOk = false;
    const int port = portEdit->text().toInt(&portOk, 10);
    if (!portOk || port < 0 || port > 65535) {
        warn(tr("SNMP port error!"));
        return;
    }

    bool written;
    if (v1v2Radio->isChecked()) {
        written = writeCommunityHost();
    } else if (v3Radio->isChecked()) {
        written = writeUsmHost();
    } else {
        warn(tr("SNMP version error!"));
        return;
    }
    // A failed statement is not reported: the dialog simply stays open.
    if (!written)
        return;

    const SNMPInfo info = enteredInfo();
    if (modifyMode)
        emit hostModified(info, storedInfo);
    else
        emit hostAdded(info);
    accept();
}

// The address is a stored host's identity; a changed address must not collide with another host either.
bool AddHostDialog::addressTaken()
{
    if ((modifyMode && hostEdit->text() == storedInfo.ip) || !hostExists(hostEdit->text()))
        return false;
    warn(tr("SNMP host exists!"));
    return true;
}

bool AddHostDialog::keepsStored(bool stored)
{
    if (!stored)
        return false;
    if (hostEdit->text() == storedInfo.ip)
        return true;
    warn(tr("A stored community, user name or password is kept only while the address stays the same: enter it "
            "again for the new address."));
    return false;
}

bool AddHostDialog::writeCommunityHost()
{
    if (communityEdit->text().isEmpty() && !keepsStored(storedSecrets.community)) {
        if (!storedSecrets.community)
            warn(tr("Community error!"));
        return false;
    }
    if (addressTaken())
        return false;
    if (ProtectionClient::active())
        return storeThroughService();
    QSqlQuery query(hostDatabase());
    query.prepare(QLatin1String(modifyMode ? Sql::updateCommunitySession : Sql::insertCommunitySession));
    query.bindValue(QStringLiteral(":1"), hostEdit->text());
    query.bindValue(QStringLiteral(":2"), portEdit->text().toInt(nullptr, 10));
    query.bindValue(QStringLiteral(":3"), int(Snmp::CommunityBased));
    query.bindValue(QStringLiteral(":4"), communityEdit->text());
    if (modifyMode)
        query.bindValue(QStringLiteral(":5"), storedInfo.ip);
    return query.exec();
}

bool AddHostDialog::writeUsmHost()
{
    const QString userName = userNameEdit->text();
    const QString password = passwordEdit->text();
    const bool keptUserName = userName.isEmpty() && storedSecrets.userName;
    if (keptUserName && !keepsStored(true))
        return false;
    if (userName.isEmpty() && !keptUserName) {
        warn(tr("User name cannot be null!"));
        return false;
    }
    if (!keptUserName && userName.size() < 8) {
        warn(tr("User name must be greater than 8 characters!"));
        return false;
    }
    // An empty password is no privacy, unless it stands for the stored one.
    if (password.isEmpty() && storedSecrets.password && !keepsStored(true))
        return false;
    if (!password.isEmpty() && password.size() < 8) {
        warn(tr("Password must be greater than 8 characters!"));
        return false;
    }
    if (addressTaken())
        return false;
    if (ProtectionClient::active())
        return storeThroughService();
    QSqlQuery query(hostDatabase());
    query.prepare(QLatin1String(modifyMode ? Sql::updateUsmSession : Sql::insertUsmSession));
    query.bindValue(QStringLiteral(":1"), hostEdit->text());
    query.bindValue(QStringLiteral(":2"), portEdit->text().toInt(nullptr, 10));
    query.bindValue(QStringLiteral(":3"), int(Snmp::Usm));
    query.bindValue(QStringLiteral(":4"), authCombo->currentIndex());
    query.bindValue(QStringLiteral(":5"), privCombo->currentIndex());
    query.bindValue(QStringLiteral(":6"), userName);
    query.bindValue(QStringLiteral(":7"), password);
    if (modifyMode)
        query.bindValue(QStringLiteral(":8"), storedInfo.ip);
    return query.exec();
}

bool AddHostDialog::storeThroughService()
{
    ProtectionClient *client = ProtectionClient::active();
    QString why;
    bool unauthorized = false;
    // polkit may be asking an administrator for a password meanwhile.
    statusLabel->setText(QCoreApplication::translate("MainWindow", "Waiting for authorisation..."));
    sureButton->setEnabled(false);
    const bool stored = modifyMode ? client->modifyHost(enteredInfo(), storedInfo.ip, &why, &unauthorized)
                                   : client->addHost(enteredInfo(), &why, &unauthorized);
    statusLabel->clear();
    sureButton->setEnabled(true);
    if (!stored)
        warn(unauthorized ? QCoreApplication::translate(
                 "MainWindow", "The change was refused: you are not authorised to change the UPS protection.")
                          : QCoreApplication::translate("MainWindow", "The change was refused: %1").arg(why));
    return stored;
}

SNMPInfo AddHostDialog::enteredInfo() const
{
    SNMPInfo info;
    info.ip = hostEdit->text();
    info.port = portEdit->text().toInt(nullptr, 10);
    if (v1v2Radio->isChecked()) {
        info.version = Snmp::CommunityBased;
        info.community = communityEdit->text();
    } else {
        info.version = Snmp::Usm;
        info.authType = authCombo->currentIndex();
        info.privType = privCombo->currentIndex();
        info.userName = userNameEdit->text();
        info.password = passwordEdit->text();
    }
    return info;
}

void AddHostDialog::onBtnQueryCliked()
{
    const QString host = hostEdit->text();
    QHostAddress address;
    if (!address.setAddress(host)) {
        warn(tr("Invalid IPv4 address!"));
        return;
    }

    bool online = false;
    QMessageBox searching(
        QMessageBox::Information, tr("Information"), tr("Searching for host..."), QMessageBox::NoButton, this);
    // Qt gives a box without buttons an OK button when it is shown; adding and dropping one stops that. With no
    // button the box cannot be dismissed, so only the probe, which runs inside the box's own loop, closes it.
    delete searching.addButton(QMessageBox::Ok);
    // The box's own loop keeps the window, the lamps and the protection going while ping runs.
    Reachability probe;
    connect(&probe, &Reachability::finished, &searching, [&](bool reply) {
        online = reply;
        searching.done(0);
    });
    QTimer::singleShot(50, &probe, [&probe, host] { probe.start(host); });
    searching.exec();

    if (online)
        UserPrompt::information(this, tr("Success"), tr("Host is online!"), tr("Sure"));
    else
        warn(tr("Host is offline!"));
}
