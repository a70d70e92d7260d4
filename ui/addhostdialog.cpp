#include "ui/addhostdialog.h"

#include "nut/nutquery.h"
#include "snmp/cardquery.h"
#include "ui/reachability.h"
#include "ui/userprompt.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

AddHostDialog::AddHostDialog(ProtectionBackend *backend, QWidget *parent)
    : QDialog(parent), backend(backend), modifyMode(false)
{
    setup();
    v1v2Radio->setChecked(true);
    communityEdit->setText(QStringLiteral("public"));
    portEdit->setText(QStringLiteral("161"));
    onSNMPVersionChanged(true);
}

AddHostDialog::AddHostDialog(ProtectionBackend *backend, const StoredCard &card, QWidget *parent)
    : QDialog(parent), backend(backend), modifyMode(true), stored(card)
{
    setup();
    loadHost();
}

void AddHostDialog::setup()
{
    buildWidgets();
    setTexts();
    // Free text: whatever is typed stays in the field, and the backend's refusal on Sure names what is wrong.
    hostEdit->setMaxLength(255);
    portEdit->setMaxLength(16);

    userNameLabel->setBuddy(userNameEdit);
    passwordLabel->setBuddy(passwordEdit);
    authLabel->setBuddy(authCombo);
    privLabel->setBuddy(privCombo);
    hostLabel->setBuddy(hostEdit);
    portLabel->setBuddy(portEdit);
    communityLabel->setBuddy(communityEdit);
    // The address is what a user types first; the radio buttons come first only in the layout.
    hostEdit->setFocus();

    connect(v1v2Radio, &QRadioButton::toggled, this, &AddHostDialog::onSNMPVersionChanged);
    connect(v3Radio, &QRadioButton::toggled, this, &AddHostDialog::onSNMPVersionChanged);
    connect(nutRadio, &QRadioButton::toggled, this, &AddHostDialog::onSNMPVersionChanged);
    // The well-known port of each kind, unless the user typed another.
    connect(nutRadio, &QRadioButton::clicked, this, [this] {
        if (portEdit->text() == QLatin1String("161"))
            portEdit->setText(QString::number(Snmp::NetworkUpsDefaultPort));
    });
    for (QRadioButton *radio : {v1v2Radio, v3Radio}) {
        connect(radio, &QRadioButton::clicked, this, [this] {
            if (portEdit->text() == QString::number(Snmp::NetworkUpsDefaultPort))
                portEdit->setText(QStringLiteral("161"));
        });
    }
    connect(queryButton, &QPushButton::clicked, this, &AddHostDialog::onBtnQueryCliked);
    // An answer is about the settings it was asked with: an edit makes it, and any answer still to come, void.
    const auto forgetAnswer = [this] {
        ++queries;
        answerLabel->clear();
    };
    for (QLineEdit *edit : {hostEdit, portEdit, communityEdit, userNameEdit, passwordEdit})
        connect(edit, &QLineEdit::textEdited, this, forgetAnswer);
    for (QComboBox *combo : {authCombo, privCombo})
        connect(combo, QOverload<int>::of(&QComboBox::activated), this, forgetAnswer);
    connect(v3Radio, &QRadioButton::clicked, this, forgetAnswer);
    connect(v1v2Radio, &QRadioButton::clicked, this, forgetAnswer);
    connect(nutRadio, &QRadioButton::clicked, this, forgetAnswer);
    connect(cancelButton, &QPushButton::clicked, this, &AddHostDialog::reject);
    connect(sureButton, &QPushButton::clicked, this, &AddHostDialog::onBtnSureClicked);
    if (!backend->isReachable()) {
        sureButton->setEnabled(false);
        statusLabel->setText(QCoreApplication::translate("SettingsDialog",
            "The protection service is not running: nothing can be changed now. Start it with: sudo systemctl "
            "start vigilex"));
    }
}

void AddHostDialog::buildWidgets()
{
    resize(400, 300);
    setWindowFlags(Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);

    // The radio buttons have the dialog as parent, so they exclude each other.
    v1v2Radio = new QRadioButton(this);
    v1v2Radio->setObjectName(QStringLiteral("v1v2Radio"));
    v3Radio = new QRadioButton(this);
    v3Radio->setObjectName(QStringLiteral("v3Radio"));
    nutRadio = new QRadioButton(this);
    nutRadio->setObjectName(QStringLiteral("nutRadio"));
    auto *versionColumn = new QVBoxLayout;
    versionColumn->addWidget(v1v2Radio);
    versionColumn->addWidget(v3Radio);
    versionColumn->addWidget(nutRadio);

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
    answerLabel = new QLabel(this);
    answerLabel->setObjectName(QStringLiteral("answerLabel"));
    answerLabel->setWordWrap(true);
    answerLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

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
    layout->addWidget(answerLabel);
    layout->addLayout(portRow);
    layout->addLayout(buttonRow);
}

void AddHostDialog::setTexts()
{
    // The form's texts share the main window's translation context.
    setWindowTitle(QCoreApplication::translate("MainWindow", "Add"));
    // Every field and button has its Alt key; a label's moves the focus to its field.
    v1v2Radio->setText(QCoreApplication::translate("MainWindow", "SNMP v&1/v2"));
    v3Radio->setText(QCoreApplication::translate("MainWindow", "SNMP v&3"));
    nutRadio->setText(QCoreApplication::translate("MainWindow", "N&etwork UPS server"));
    userNameLabel->setText(QCoreApplication::translate("MainWindow", "&User name:"));
    passwordLabel->setText(QCoreApplication::translate("MainWindow", "Pass&word:"));
    authLabel->setText(QCoreApplication::translate("MainWindow", "&Authenticate:"));
    authCombo->setItemText(Snmp::AuthMd5, QCoreApplication::translate("MainWindow", "MD5"));
    authCombo->setItemText(Snmp::AuthSha, QCoreApplication::translate("MainWindow", "SHA"));
    privLabel->setText(QCoreApplication::translate("MainWindow", "P&rivacy:"));
    privCombo->setItemText(Snmp::PrivDes, QCoreApplication::translate("MainWindow", "DES"));
    privCombo->setItemText(Snmp::PrivAes, QCoreApplication::translate("MainWindow", "AES"));
    hostLabel->setText(QCoreApplication::translate("MainWindow", "&Host:"));
    queryButton->setText(QCoreApplication::translate("MainWindow", "&Query"));
    portLabel->setText(QCoreApplication::translate("MainWindow", "SNMP p&ort:"));
    communityLabel->setText(QCoreApplication::translate("MainWindow", "&Community:"));
    sureButton->setText(QCoreApplication::translate("MainWindow", "&Sure"));
    cancelButton->setText(QCoreApplication::translate("MainWindow", "Ca&ncel"));
}

void AddHostDialog::loadHost()
{
    setWindowTitle(tr("Modify"));
    const SNMPInfo &info = stored.info;
    hostEdit->setText(info.ip);
    portEdit->setText(QString::number(info.port));
    // A backend that keeps the secrets to itself hands them empty with their flag set: the empty field left
    // untouched keeps the stored one.
    const QString unchanged = tr("unchanged");
    if (info.version == Snmp::Usm) {
        v3Radio->setChecked(true);
        authCombo->setCurrentIndex(info.authType);
        privCombo->setCurrentIndex(info.privType);
        userNameEdit->setText(info.userName);
        passwordEdit->setText(info.password);
        if (info.userName.isEmpty() && stored.userNameSet)
            userNameEdit->setPlaceholderText(unchanged);
        if (info.password.isEmpty() && stored.passwordSet)
            passwordEdit->setPlaceholderText(unchanged);
    } else if (info.version == Snmp::NetworkUps) {
        nutRadio->setChecked(true);
        communityEdit->setText(info.community);
        userNameEdit->setText(info.userName);
        passwordEdit->setText(info.password);
        if (info.community.isEmpty() && stored.communitySet)
            communityEdit->setPlaceholderText(unchanged);
        if (info.userName.isEmpty() && stored.userNameSet)
            userNameEdit->setPlaceholderText(unchanged);
        if (info.password.isEmpty() && stored.passwordSet)
            passwordEdit->setPlaceholderText(unchanged);
    } else if (info.version == Snmp::CommunityBased) {
        v1v2Radio->setChecked(true);
        communityEdit->setText(info.community);
        if (info.community.isEmpty() && stored.communitySet)
            communityEdit->setPlaceholderText(unchanged);
    }
    // A version the program does not know checks neither button: the user picks one.
    onSNMPVersionChanged(true);
}

void AddHostDialog::onSNMPVersionChanged(bool)
{
    const bool server = nutRadio->isChecked();
    portLabel->setText(server ? QCoreApplication::translate("MainWindow", "P&ort:")
                              : QCoreApplication::translate("MainWindow", "SNMP p&ort:"));
    communityLabel->setText(server ? QCoreApplication::translate("MainWindow", "UPS na&me:")
                                   : QCoreApplication::translate("MainWindow", "&Community:"));
    bool community;
    if (v1v2Radio->isChecked())
        community = true;
    else if (v3Radio->isChecked() || server)
        community = false;
    else
        return;
    communityEdit->setEnabled(community || server);
    for (QWidget *w : {static_cast<QWidget *>(userNameEdit), static_cast<QWidget *>(passwordEdit)})
        w->setEnabled(!community);
    for (QWidget *w : {static_cast<QWidget *>(authCombo), static_cast<QWidget *>(privCombo)})
        w->setEnabled(!community && !server);
}

void AddHostDialog::warn(const QString &text)
{
    UserPrompt::warning(this, tr("Warning"), text, tr("Sure"));
}

void AddHostDialog::onBtnSureClicked()
{
    const SNMPInfo info = enteredInfo();
    statusLabel->setText(QCoreApplication::translate("MainWindow", "Waiting for authorisation..."));
    sureButton->setEnabled(false);
    const ProtectionBackend::Done done = [this, info](const BackendReply &reply) {
        statusLabel->clear();
        sureButton->setEnabled(true);
        if (reply.ok) {
            accept();
            return;
        }
        // The card's own check in this face's language; the bus's and the store's words come as they are.
        const bool kept = modifyMode && info.ip == stored.info.ip;
        const QString why = reply.error == info.validate(kept) ? info.validationText(kept) : reply.error;
        warn(reply.unauthorized ? QCoreApplication::translate(
                 "MainWindow", "The change was refused: you are not authorised to change the UPS protection.")
                                : QCoreApplication::translate("MainWindow", "The change was refused: %1").arg(why));
    };
    if (modifyMode)
        backend->modifyHost(info, stored.info.ip, this, done);
    else
        backend->addHost(info, this, done);
}

SNMPInfo AddHostDialog::enteredInfo() const
{
    SNMPInfo info;
    info.ip = hostEdit->text();
    // No number is no port: 0, which the backend refuses by name.
    info.port = portEdit->text().toInt(nullptr, 10);
    if (v1v2Radio->isChecked()) {
        info.version = Snmp::CommunityBased;
        info.community = communityEdit->text();
    } else if (nutRadio->isChecked()) {
        info.version = Snmp::NetworkUps;
        info.community = communityEdit->text();
        info.userName = userNameEdit->text();
        info.password = passwordEdit->text();
    } else if (!v3Radio->isChecked()) {
        // None chosen: the stored version goes back as it was, for the backend to name it.
        info.version = stored.info.version;
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

    queryCard();
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

void AddHostDialog::queryCard()
{
    SNMPInfo card = enteredInfo();
    // The secrets a backend keeps to itself cannot be asked with: the user types them for the query.
    const bool kept = card.version == Snmp::Usm
        ? (card.userName.isEmpty() && stored.userNameSet) || (card.password.isEmpty() && stored.passwordSet)
        : card.community.isEmpty() && stored.communitySet;
    if (card.version == Snmp::NetworkUps && !(modifyMode && kept) && card.port >= 1 && card.port <= 65535) {
        // The query asks without logging in: only the UPS name matters to it.
        answerLabel->setText(tr("Asking the server..."));
        const int query = ++queries;
        NutQuery::start(card, this, [this, query, card](const NutAnswer &answer) {
            if (query == queries)
                answerLabel->setText(answerText(answer, card));
        });
        return;
    }
    if (modifyMode && kept) {
        answerLabel->setText(tr("The stored secrets are not shown here: type them to query the card with them."));
        return;
    }
    if (card.port < 1 || card.port > 65535) {
        answerLabel->setText(card.version == Snmp::NetworkUps
                ? tr("No query: the port must be a number from 1 to 65535.")
                : tr("No query: the SNMP port must be a number from 1 to 65535."));
        return;
    }
    if (card.version != Snmp::CommunityBased && card.version != Snmp::Usm) {
        answerLabel->setText(tr("No query: choose the SNMP version first."));
        return;
    }
    answerLabel->setText(tr("Asking the card..."));
    const int query = ++queries;
    CardQuery::start(card, this, [this, query, card](const CardAnswer &answer) {
        if (query == queries)
            answerLabel->setText(answerText(answer, card));
    });
}

QString AddHostDialog::answerText(const CardAnswer &answer, const SNMPInfo &card)
{
    const QString model = answer.model.isEmpty() ? tr("model unknown") : answer.model;
    const QByteArray &data = answer.data;
    switch (answer.outcome) {
    case CardAnswer::Answered: {
        QStringList words {model};
        const int output = static_cast<unsigned char>(data.at(Snmp::OutputStatus));
        if (output == Snmp::OutputOnLine)
            words << tr("on line");
        else if (output == Snmp::OutputOnBattery)
            words << tr("on battery");
        else if (output == Snmp::OutputOnBypass)
            words << tr("on bypass");
        else
            words << tr("output status %1").arg(output);
        if (data.at(Snmp::BatteryStatus) == Snmp::BatteryLow)
            words << tr("battery low");
        words << tr("capacity %1 %").arg(static_cast<unsigned char>(data.at(Snmp::BatteryCapacity)));
        return tr("Answers: %1").arg(words.join(QStringLiteral(", ")));
    }
    case CardAnswer::NoSuchObject: {
        QStringList names;
        for (int index : answer.missing) {
            switch (index) {
            case Snmp::BatteryStatus:
                names << tr("battery status");
                break;
            case Snmp::InputStatus:
                names << tr("input status");
                break;
            case Snmp::OutputStatus:
                names << tr("output status");
                break;
            default:
                names << tr("battery capacity");
                break;
            }
        }
        return tr("The card answers (%1) but has no such object: %2").arg(model, names.join(QStringLiteral(", ")));
    }
    case CardAnswer::NoAnswer:
        // A v1/v2c card drops a request with a community it does not know without a word; a v3 card one it
        // cannot decrypt.
        if (card.version == Snmp::CommunityBased)
            return tr("No answer: wrong community, wrong port or the card is unreachable");
        if (Snmp::securityLevel(card.userName, card.password) == Snmp::SecurityLevel::AuthPriv)
            return tr("No answer: wrong password or privacy type, wrong port or the card is unreachable");
        return tr("No answer: wrong port or the card is unreachable");
    case CardAnswer::AuthenticationFailure:
        return tr("Authentication failure: the card does not take this user name as pass phrase with %1")
            .arg(card.authType == Snmp::AuthSha ? QStringLiteral("SHA") : QStringLiteral("MD5"));
    case CardAnswer::DecryptionFailure:
        return tr("Decryption failure: the card does not take this password with %1")
            .arg(card.privType == Snmp::PrivAes ? QStringLiteral("AES") : QStringLiteral("DES"));
    case CardAnswer::UnknownUser:
        return tr("Unknown user name: the card has no user %1").arg(card.userName);
    case CardAnswer::UnsupportedSecurityLevel: {
        const Snmp::SecurityLevel level = Snmp::securityLevel(card.userName, card.password);
        const QString asked = level == Snmp::SecurityLevel::AuthPriv ? tr("authentication and privacy")
            : level == Snmp::SecurityLevel::AuthNoPriv               ? tr("authentication without privacy")
                                                                     : tr("no authentication");
        return tr("Unsupported security level: the card does not serve user %1 with %2").arg(card.userName, asked);
    }
    case CardAnswer::Unusable:
        break;
    }
    return tr("No query: %1").arg(answer.detail);
}

QString AddHostDialog::answerText(const NutAnswer &answer, const SNMPInfo &server)
{
    switch (answer.outcome) {
    case NutAnswer::Answered: {
        const QStringList flags = answer.status.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList words {answer.model.isEmpty() ? tr("model unknown") : answer.model};
        if (flags.contains(QLatin1String("OB")))
            words << tr("on battery");
        else if (flags.contains(QLatin1String("OL")))
            words << tr("on line");
        if (flags.contains(QLatin1String("LB")))
            words << tr("battery low");
        if (flags.contains(QLatin1String("FSD")))
            words << tr("forced shutdown");
        if (!answer.charge.isEmpty())
            words << tr("capacity %1 %").arg(answer.charge);
        return tr("Answers: %1 (status %2)").arg(words.join(QStringLiteral(", ")), answer.status);
    }
    case NutAnswer::Refused:
        return tr("Connection refused: no UPS server listens on port %1").arg(server.port);
    case NutAnswer::Unreachable:
        return tr("The server cannot be reached: %1").arg(answer.error);
    case NutAnswer::NoAnswer:
        return tr("No answer: the server does not answer within %1 seconds").arg(NutQuery::timeoutMs / 1000);
    case NutAnswer::ServerError:
        break;
    }
    if (answer.error == QLatin1String("UNKNOWN-UPS"))
        return tr("UNKNOWN-UPS: the server has no UPS named %1").arg(server.community);
    if (answer.error == QLatin1String("ACCESS-DENIED"))
        return tr("ACCESS-DENIED: the server does not let this computer read the UPS");
    if (answer.error == QLatin1String("DATA-STALE"))
        return tr("DATA-STALE: the server has no fresh data from its UPS");
    return tr("The server answers with an error: %1").arg(answer.error);
}
