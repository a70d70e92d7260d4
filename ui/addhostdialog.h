#pragma once

#include "service/protectionclient.h"
#include "snmp/snmpinfo.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Enters a new UPS card or changes a stored one, writes it to the host table itself and only then reports it.
// GUI thread only.
class AddHostDialog : public QDialog
{
    Q_OBJECT
public:
    // Four decimal numbers from 0 to 255 without leading zeros, separated by dots.
    static const char ipv4Pattern[];

    AddHostDialog(bool modifyMode, const SNMPInfo &info, QWidget *parent = nullptr);

signals:
    void hostAdded(const SNMPInfo &info);
    void hostModified(const SNMPInfo &infoNew, const SNMPInfo &infoOld);

public slots:
    void onBtnSureClicked();
    void onBtnQueryCliked();
    void onSNMPVersionChanged(bool checked);

private:
    void buildWidgets();
    void setTexts();
    void loadHost();
    void warn(const QString &text);
    bool hostExists(const QString &ip);
    bool addressTaken();
    // Whether an empty secret field may stand for the stored secret; warns the user when not because the
    // address moved.
    bool keepsStored(bool stored);
    bool writeCommunityHost();
    bool writeUsmHost();
    // A front end stores the card through the service, which checks it again and asks polkit.
    bool storeThroughService();
    SNMPInfo enteredInfo() const;

    bool modifyMode;
    SNMPInfo storedInfo;
    // In front of the service: which secrets the stored card has (the service never gives them out).
    ProtectionClient::Secrets storedSecrets;

    QRadioButton *v1v2Radio = nullptr;
    QRadioButton *v3Radio = nullptr;
    QLabel *userNameLabel = nullptr;
    QLineEdit *userNameEdit = nullptr;
    QLabel *passwordLabel = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QLabel *authLabel = nullptr;
    QComboBox *authCombo = nullptr;
    QLabel *privLabel = nullptr;
    QComboBox *privCombo = nullptr;
    QLabel *hostLabel = nullptr;
    QLineEdit *hostEdit = nullptr;
    QPushButton *queryButton = nullptr;
    QLabel *portLabel = nullptr;
    QLineEdit *portEdit = nullptr;
    QLabel *communityLabel = nullptr;
    QLineEdit *communityEdit = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *sureButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
