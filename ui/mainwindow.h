#pragma once

#include "snmp/snmpinfo.h"

#include <QByteArray>
#include <QMainWindow>
#include <QProcess>
#include <QSystemTrayIcon>

class ListWidgetItem;
class MainWindowPrivate;
class ProtectionClient;
class QAction;
class ShutdownPolicy;
class SNMP;

// The program's only window: host list with lamps, event table, menus, tray icon. Alone it owns the
// protection, and everything the engine reports passes through it; as the front end of the protection service
// it runs no protection and shows what the service reports. GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    // The front end of the service that client follows.
    explicit MainWindow(ProtectionClient *client, QWidget *parent = nullptr);
    ~MainWindow() override;

    void setEngine(SNMP *engine);
    ListWidgetItem *findHostItem(const QString &host) const;

    QStringList hosts() const;
    // None in a front end.
    ShutdownPolicy *shutdownPolicy() const;

public slots:
    void showAboutDialog();
    void showSettingsDialog();
    void showLogDialog();
    void onLanguageChanged(QAction *action);
    void onEventTableContextMenu(const QPoint &pos);
    void addSNMPHostEvent(const SNMPInfo &info);
    void removeSNMPHostEvent(const QString &peer);
    void modifySNMPHostEvent(const SNMPInfo &infoNew, const SNMPInfo &infoOld);
    void storeSNMPEvent(const QString &host, int event);
    void displaySNMPEvent(const QString &host, const QString &event);
    void handleSNMPEvent(const QString &host, int event);
    void handleSNMPStatus(const QString &host, int status);
    void handleSNMPData(const QString &host, const QByteArray &data);
    void onOffAPPTimeout();
    void onOffAPPError(QProcess::ProcessError error);
    void onOffAPPFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    // Adds the rows waiting for the event table (tests call it by name to see them at once).
    void flushEventRows();

private:
    struct Form;

    void setupProtection();
    void setupFrontEnd();
    // The reports both faces show alike, from the own protection or from the service's client.
    template<typename Source> void followReports(Source *source);
    void announceEvent(const QString &host, int event);
    void setHostItems(const QStringList &hosts);
    void updateCountdown(qint64 remainingMs);
    void setupUi();
    void retranslateUi();
    void setupTrayIcon();
    void setupSession();
    void addHostItem(const QString &ip);
    void removeHostItem(const QString &peer);
    void updateClock();

    Form *ui;
    MainWindowPrivate *d;
};
