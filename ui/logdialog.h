#pragma once

#include "backend/protectionbackend.h"
#include "export/logexport.h"

#include <QDialog>

#include <memory>
#include <thread>

class ProtectionBackend;
class QLabel;
class QMessageBox;

// The stored event history for a range of days, as the backend holds it, with clearing and export. Reading and
// clearing answer later; while the protection is out of reach the dialog says so. GUI thread only, except exportLog,
// which runs on the export thread and sees nothing of the dialog but its own arguments and the two signals.
class LogDialog : public QDialog
{
    Q_OBJECT
public:
    // backend is not owned.
    explicit LogDialog(ProtectionBackend *backend, QWidget *parent = nullptr);
    ~LogDialog() override;

    // True from the start of an export until its result has been shown.
    bool isExporting() const { return m_exporting; }

    // The file an export writes and its format: the chosen filter (0 CSV, 1 XLSX; -1 when the dialog reported
    // none, then the name decides) sets the format, and the name gets that format's extension when it has none or
    // the other format's.
    struct ExportTarget
    {
        QString path;
        bool csv;
    };
    static ExportTarget exportTarget(const QString &chosen, int filter);

    // Refuses to close while an export runs: the close button, Esc and "OK" all end up here.
    void done(int result) override;

signals:
    void exportStarted();
    // why: the reason a failed export gives, empty on success.
    void exportFinished(bool isSuccess, const QString &why);

public slots:
    void onBtnReadLog();
    void onBtnSave();
    void onBtnClear();
    void onWaitExport();
    void onExportFinished(bool result, const QString &why);

private:
    struct Ui;

    void exportLog(const QString path, bool csv, const ExportTable table);
    ExportTable snapshot() const;
    void showEvents(const QVector<StoredEvent> &events);

    std::unique_ptr<Ui> m_ui;
    QMessageBox *m_waitBox = nullptr;
    ProtectionBackend *m_backend;
    std::thread m_exportThread;
    bool m_exporting = false;
    QString m_exportPath; // of the running export, for its result
};
