#pragma once

#include "backend/protectionbackend.h"

#include <QDialog>
#include <QList>
#include <QVariantMap>

#include <functional>

class ProtectionBackend;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

// The stored cards and the settings, as the backend has them. Opening asks the backend and fills the fields
// when it answers (they stay disabled until then); nothing is written before "Sure", which sends every changed
// value in one request, all or nothing. A card change goes to the backend at once. With the protection out of
// reach the dialog only shows what it knows and says why. GUI thread only.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    // backend is not owned.
    explicit SettingsDialog(ProtectionBackend *backend, QWidget *parent = nullptr);

public slots:
    void hostClicked(int row, int column);
    void onRadioBtnOffAPP(bool checked);
    void onBrowseOffAPP();
    void addSNMPHost();
    void modifySNMPHost();
    void removeSNMPHost();
    void saveSettings();
    // "Test": runs the application now as an outage would (in the service when the dialog is its front end)
    // and shows how it ended; nothing is powered off.
    void testApplication();

protected:
    void changeEvent(QEvent *event) override;
    // The host table's own keys: Delete removes the selected card, Enter modifies it.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWidgets();
    void retranslate();
    void load();
    void loadHosts(const std::function<void()> &then = {});
    void showRefusedRead(const BackendReply &reply);
    void showSettings(const QVariantMap &values);
    void showUnreachable();
    void setFieldsEnabled(bool enabled);
    void fillRow(int row, const QString &ip, int port, int version);
    void setApplicationFieldsEnabled(bool enabled);
    // The checks for the user's comfort before anything is sent; the backend checks again.
    bool checkGeneral();
    bool checkShutdownCondition();
    bool checkServer();
    void addUserRow(const QString &name, bool primary, bool stored);
    // The users as the table shows them, the passwords as typed (empty: the stored one stays).
    QString usersText(bool *passwordTyped = nullptr) const;
    bool checkField(QLineEdit *edit, QLabel *label, const QString &key);
    // The values that differ from the stored ones (an absent key counts as differing).
    QVariantMap changedValues() const;
    // While a request waits for the backend (polkit may be asking an administrator for a password): the status
    // says so and Sure waits; an empty text ends it.
    void setWaiting(const QString &text);
    static QString waitingText();
    static QString refusedText(const QString &why, bool unauthorized, bool application, bool server = false);
    // Asks before saving what would shut down at once or switch a condition off; false when declined.
    bool confirmShutdownCondition();
    void showTestResult(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal);

    ProtectionBackend *backend;
    int selectedRow = -1;
    bool loaded = false;
    bool testRunning = false;
    QVariantMap stored; // as the backend answered, absent keys absent
    QList<StoredCard> cards;

    QTabWidget *tabs = nullptr;
    QWidget *generalPage = nullptr;
    QWidget *conditionPage = nullptr;
    QWidget *serverPage = nullptr;
    QCheckBox *serverCheck = nullptr;
    QLabel *serverAddressLabel = nullptr;
    QLineEdit *serverAddressEdit = nullptr;
    QLabel *serverPortLabel = nullptr;
    QLineEdit *serverPortEdit = nullptr;
    QLabel *fsdWaitLabel = nullptr;
    QLineEdit *fsdWaitEdit = nullptr;
    QLabel *fsdWaitUnit = nullptr;
    QGroupBox *usersGroup = nullptr;
    QTableWidget *usersTable = nullptr;
    QPushButton *addUserButton = nullptr;
    QGroupBox *hostGroup = nullptr;
    QTableWidget *hostTable = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *modifyButton = nullptr;
    QPushButton *removeButton = nullptr;
    QGroupBox *warningGroup = nullptr;
    QCheckBox *popupCheck = nullptr;
    QCheckBox *desktopNotifyCheck = nullptr;
    QCheckBox *appCheck = nullptr;
    QLineEdit *appPathEdit = nullptr;
    QPushButton *browseButton = nullptr;
    QPushButton *testButton = nullptr;
    QLabel *execTimeLabel = nullptr;
    QLineEdit *execTimeEdit = nullptr;
    QLabel *execTimeUnit = nullptr;
    QLabel *acFailedTimeLabel = nullptr;
    QLineEdit *acFailedTimeEdit = nullptr;
    QLabel *acFailedTimeUnit = nullptr;
    QLabel *battLowTimeLabel = nullptr;
    QLineEdit *battLowTimeEdit = nullptr;
    QLabel *battLowTimeUnit = nullptr;
    QLabel *acFailedCapacityLabel = nullptr;
    QLineEdit *acFailedCapacityEdit = nullptr;
    QLabel *acFailedCapacityUnit = nullptr;
    QLabel *statusLabel = nullptr;
    QPushButton *sureButton = nullptr;
    QPushButton *cancelButton = nullptr;
};
