#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>

class ListWidgetItem;
class MainWindowPrivate;
class ProtectionBackend;
class QAction;
namespace StatusLine {
struct Input;
}

// The program's only window: status line, host list with lamps, event table, menus, tray icon. It shows what
// its backend reports, the protection in this process or the service's, and never asks which one it has.
// GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // backend is not owned and outlives the window.
    explicit MainWindow(ProtectionBackend *backend, QWidget *parent = nullptr);
    ~MainWindow() override;

    ListWidgetItem *findHostItem(const QString &host) const;
    // The rows of the host list, as the backend lists the cards.
    QStringList hosts() const;
    // The status line above the list, as it is about to be shown.
    QString statusText();
    // The card whose details and history are shown; empty when none is selected.
    QString selectedHost() const;

public slots:
    void showAboutDialog();
    void showSettingsDialog();
    void showLogDialog();
    void onLanguageChanged(QAction *action);
    void onEventTableContextMenu(const QPoint &pos);
    void displaySNMPEvent(const QString &host, const QString &event);
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    // Quit, Ctrl+Q and the tray's Quit. The window alone asks first, since quitting ends the protection; in
    // front of the service it just quits.
    void quit();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    // Adds the rows waiting for the event table (tests call it by name to see them at once).
    void flushEventRows();

private:
    struct Form;

    void followBackend();
    void announceEvent(const QString &host, int event);
    void setHostItems();
    void applyCardStates();
    void readPopupSetting();
    void setReachable(bool reachable);
    void updateCountdown(qint64 remainingMs);
    void scheduleStatusLine();
    void updateStatusLine();
    void setupUi();
    void retranslateUi();
    void setupTrayIcon();
    void setupSession();
    void addHostItem(const QString &ip);
    void removeHostItem(int index);
    void updateClock();
    void updateTray(const StatusLine::Input &input);
    void updateQuitTips();
    void selectionChanged();
    void showDetails();
    void refreshHistory();

    Form *ui;
    MainWindowPrivate *d;
};
