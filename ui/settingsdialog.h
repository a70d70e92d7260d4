#pragma once

#include "policy/protection.h"
#include "snmp/snmpinfo.h"

#include <QDialog>
#include <QList>

#include <functional>

class ApplicationTest;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

// Manages the stored hosts and the settings file. Host changes are written and reported at once, whatever the
// user does with the dialog afterwards; the settings are written only by a "Sure" that passes the checks.
// GUI thread only.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingsDialog(QWidget *parent = nullptr);

    // The cards' last reports, asked when "Sure" is pressed, so that a threshold that would shut down at once
    // is confirmed first. Without a source no card counts as on battery.
    using CardSource = std::function<QList<Protection::Card>()>;
    void setCardSource(CardSource source);

signals:
    void hostRemoved(const QString &peer);
    void hostAdded(const SNMPInfo &info);
    void hostModified(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
    void popupStateChanged(bool popup);

public slots:
    void hostClicked(int row, int column);
    void hostAddedEvent(const SNMPInfo &info);
    void hostModifiedEvent(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
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

private:
    void buildWidgets();
    void retranslate();
    void loadGeneral();
    void loadHostTable();
    void loadShutdownCondition();
    void fillRow(int row, const QString &ip, int port, int version);
    void setApplicationFieldsEnabled(bool enabled);
    // The checks run before anything is written, so a refused "Sure" leaves the file as it was.
    bool checkGeneral();
    bool checkShutdownCondition();
    bool checkField(QLineEdit *edit, QLabel *label, const QString &key);
    // False once a change was refused; the user has been told why.
    bool saveGeneral();
    bool saveShutdownCondition();
    bool write(const QString &key, const QVariant &value);
    // In front of the service a change waits for polkit, which may be asking an administrator for a password:
    // the status says so and Sure waits; an empty text ends it.
    void setWaiting(const QString &text);
    static QString waitingText();
    static QString refusedText(const QString &why, bool unauthorized, bool application);
    // Asks before saving what would shut down at once or switch a condition off; false when declined.
    bool confirmShutdownCondition();
    void showTestResult(int exitCode, int exitStatus, qint64 elapsedMs, const QString &refusal);

    int selectedRow = -1;
    bool loadedPopup = false;
    bool loadedAppEnable = false;
    QString loadedAppPath;
    // The pop-up key was absent and seeded true while loading; a save must still make the file agree with the box.
    bool popupSeeded = false;

    QTabWidget *tabs = nullptr;
    QWidget *generalPage = nullptr;
    QWidget *conditionPage = nullptr;
    QGroupBox *hostGroup = nullptr;
    QTableWidget *hostTable = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *modifyButton = nullptr;
    QPushButton *removeButton = nullptr;
    QGroupBox *warningGroup = nullptr;
    QCheckBox *popupCheck = nullptr;
    QCheckBox *appCheck = nullptr;
    QLineEdit *appPathEdit = nullptr;
    QPushButton *browseButton = nullptr;
    QPushButton *testButton = nullptr;
    ApplicationTest *applicationTest = nullptr;
    CardSource cardSource;
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
