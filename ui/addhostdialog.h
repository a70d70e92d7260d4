#pragma once

#include "backend/protectionbackend.h"
#include "snmp/snmpinfo.h"

struct CardAnswer;
struct NutAnswer;

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Enters a new UPS card or changes a stored one through the backend, which checks it (SNMPInfo::validate()) and
// stores it; a refusal is shown and the dialog stays open with what was entered. "Query" pings the address and,
// at the same time, asks the card once with the settings as entered (CardQuery, on a worker thread); the answer
// or the reason it failed shows below the address. A network UPS server takes the UPS name in the community's field
// and an optional login in the user's; its query asks the server once (NutQuery). GUI thread only.
class AddHostDialog : public QDialog
{
    Q_OBJECT
public:
    // A new card. backend is not owned.
    explicit AddHostDialog(ProtectionBackend *backend, QWidget *parent = nullptr);
    // A stored card to change. Secrets the backend keeps to itself show as an empty field that keeps them.
    AddHostDialog(ProtectionBackend *backend, const StoredCard &card, QWidget *parent = nullptr);

    // The card as entered.
    SNMPInfo enteredInfo() const;

    // What a card query told, in the current language; card is what was asked.
    static QString answerText(const CardAnswer &answer, const SNMPInfo &card);
    // What a network UPS server told when asked once; server is what was asked.
    static QString answerText(const NutAnswer &answer, const SNMPInfo &server);

public slots:
    void onBtnSureClicked();
    void onBtnQueryCliked();
    void onSNMPVersionChanged(bool checked);

private:
    void setup();
    void buildWidgets();
    void setTexts();
    void loadHost();
    void warn(const QString &text);
    void queryCard();

    ProtectionBackend *backend;
    bool modifyMode;
    StoredCard stored;

    QRadioButton *v1v2Radio = nullptr;
    QRadioButton *v3Radio = nullptr;
    QRadioButton *nutRadio = nullptr;
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
    QLabel *answerLabel = nullptr;
    // Counts the queries started: only the answer of the latest is shown.
    int queries = 0;
    QLabel *portLabel = nullptr;
    QLineEdit *portEdit = nullptr;
    QLabel *communityLabel = nullptr;
    QLineEdit *communityEdit = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *sureButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
