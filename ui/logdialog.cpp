#include "ui/logdialog.h"

#include "export/xlsxexport.h"
#include "storage/eventcatalogue.h"
#include "storage/eventtexts.h"
#include "ui/language.h"
#include "ui/userprompt.h"

#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QVBoxLayout>

#include <climits>
#include <cstdio>
#include <ctime>
#include <system_error>

struct LogDialog::Ui
{
    QLabel *startLabel = nullptr;
    QDateEdit *startDate = nullptr;
    QLabel *endLabel = nullptr;
    QDateEdit *endDate = nullptr;
    QPushButton *read = nullptr;
    QTableWidget *table = nullptr;
    QLabel *status = nullptr;
    QPushButton *save = nullptr;
    QPushButton *clear = nullptr;
    QPushButton *ok = nullptr;

    void setupUi(QDialog *dialog)
    {
        dialog->resize(600, 450);
        auto *layout = new QVBoxLayout(dialog);

        auto *dateRow = new QHBoxLayout;
        startLabel = new QLabel(dialog);
        startDate = newDateEdit(dialog, QStringLiteral("startDateEdit"));
        endLabel = new QLabel(dialog);
        endDate = newDateEdit(dialog, QStringLiteral("endDateEdit"));
        read = newButton(dialog, QStringLiteral("readButton"));
        startLabel->setBuddy(startDate);
        endLabel->setBuddy(endDate);
        dateRow->addStretch();
        dateRow->addWidget(startLabel);
        dateRow->addWidget(startDate);
        dateRow->addWidget(endLabel);
        dateRow->addWidget(endDate);
        dateRow->addWidget(read);
        layout->addLayout(dateRow);

        table = new QTableWidget(0, 3, dialog);
        table->setObjectName(QStringLiteral("tableWidget"));
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        table->horizontalHeader()->setStretchLastSection(true);
        table->setColumnWidth(0, 130);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        for (int column = 0; column < 3; ++column)
            table->setHorizontalHeaderItem(column, new QTableWidgetItem);
        layout->addWidget(table);

        auto *buttonRow = new QHBoxLayout;
        status = new QLabel(dialog);
        status->setObjectName(QStringLiteral("statusLabel"));
        status->setWordWrap(true);
        buttonRow->addWidget(status, 1);
        save = newButton(dialog, QStringLiteral("saveButton"));
        clear = newButton(dialog, QStringLiteral("clearButton"));
        ok = newButton(dialog, QStringLiteral("okButton"));
        buttonRow->addWidget(save);
        buttonRow->addWidget(clear);
        buttonRow->addWidget(ok);
        layout->addLayout(buttonRow);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("LogWidget", "Event log"));
        // Every button and field label has its Alt key; a label's moves the focus to its date.
        startLabel->setText(QCoreApplication::translate("LogWidget", "&Start date:"));
        endLabel->setText(QCoreApplication::translate("LogWidget", "&End date:"));
        read->setText(QCoreApplication::translate("LogWidget", "&Read"));
        save->setText(QCoreApplication::translate("LogWidget", "Save &as..."));
        clear->setText(QCoreApplication::translate("LogWidget", "&Clear"));
        ok->setText(QCoreApplication::translate("LogWidget", "&OK"));
        table->horizontalHeaderItem(0)->setText(QCoreApplication::translate("MainWidget", "Date"));
        table->horizontalHeaderItem(1)->setText(QCoreApplication::translate("MainWidget", "Host address"));
        table->horizontalHeaderItem(2)->setText(QCoreApplication::translate("MainWidget", "Event"));
    }

private:
    static QDateEdit *newDateEdit(QWidget *parent, const QString &name)
    {
        auto *edit = new QDateEdit(parent);
        // Held in local time, an edit cannot take a day whose midnight a summer-time change skips: it turns it
        // into 23:00 of the day before. Only the calendar day counts here; its first local second is found later.
        edit->setTimeSpec(Qt::UTC);
        edit->setDate(QDate::currentDate());
        edit->setObjectName(name);
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        return edit;
    }

    static QPushButton *newButton(QWidget *parent, const QString &name)
    {
        auto *button = new QPushButton(parent);
        button->setObjectName(name);
        button->setAutoDefault(false);
        return button;
    }
};

namespace {
// The first second of the day in local time; on the few days that begin later than 00:00, the real start.
// Stored times are unsigned 32-bit seconds, so a day outside their span is held at its nearer end rather than
// wrapped round: a start in 1969 then still means "from the beginning".
uint localMidnight(const QDate &date)
{
    return static_cast<uint>(qBound<qint64>(0, date.startOfDay().toSecsSinceEpoch(), UINT_MAX));
}

// Qt's local-time conversion costs several microseconds a call, which a history of 60001 rows turns into most
// of a second; the C library's conversion gives the same local time for a fraction of that.
QString localTimeText(uint secs)
{
    const time_t when = static_cast<time_t>(secs);
    struct tm local = {};
    if (!localtime_r(&when, &local))
        return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
        local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return QString::fromLatin1(text, length);
}

// Why the log cannot be shown: the protection out of reach, or the backend's reason.
QString unavailableText(const ProtectionBackend &backend, const BackendReply &reply)
{
    if (!backend.isReachable())
        return QCoreApplication::translate("LogWidget",
            "The protection service is not running: the event log cannot be read now. Start it with: sudo systemctl "
            "start vigilex");
    return QCoreApplication::translate("LogWidget", "The event log cannot be read: %1").arg(reply.error);
}

QTableWidgetItem *centredItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}
} // namespace

LogDialog::LogDialog(ProtectionBackend *backend, QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui>()), m_waitBox(new QMessageBox(this)), m_backend(backend)
{
    setWindowFlags(Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_ui->setupUi(this);
    m_ui->retranslateUi(this);
    onBtnReadLog();

    connect(m_ui->read, &QPushButton::clicked, this, &LogDialog::onBtnReadLog);
    connect(m_ui->save, &QPushButton::clicked, this, &LogDialog::onBtnSave);
    connect(m_ui->clear, &QPushButton::clicked, this, &LogDialog::onBtnClear);
    connect(m_ui->ok, &QPushButton::clicked, this, &LogDialog::accept);
    connect(this, &LogDialog::exportStarted, this, &LogDialog::onWaitExport);
    connect(this, &LogDialog::exportFinished, this, &LogDialog::onExportFinished);
}

LogDialog::~LogDialog()
{
    // Only reachable mid-export if the owner deletes the dialog outright; the thread holds no reference to the
    // widgets, but it emits the dialog's signals, so it must end first.
    if (m_exportThread.joinable())
        m_exportThread.join();
}

void LogDialog::done(int result)
{
    if (m_exporting)
        return;
    QDialog::done(result);
}

void LogDialog::onBtnReadLog()
{
    QTableWidget *table = m_ui->table;
    table->clearContents();
    table->setRowCount(0);

    const uint start = localMidnight(m_ui->startDate->date());
    // The midnight that ends the end day, that second included. A fixed 86400 after the end day's midnight would
    // drop the last hour of a day that has 25 and reach into the next day after one that has 23.
    const uint end = localMidnight(m_ui->endDate->date().addDays(1));
    if (start > end)
        return;

    m_ui->read->setEnabled(false);
    m_ui->status->setText(tr("Reading the event log..."));
    m_backend->events(start, end, this, [this](const BackendReply &reply, const QVector<StoredEvent> &events) {
        m_ui->read->setEnabled(true);
        if (!reply.ok) {
            m_ui->status->setText(unavailableText(*m_backend, reply));
            return;
        }
        m_ui->status->clear();
        showEvents(events);
    });
}

void LogDialog::showEvents(const QVector<StoredEvent> &events)
{
    QTableWidget *table = m_ui->table;
    table->clearContents();
    table->setRowCount(0);
    if (events.isEmpty())
        return;
    EventCatalogue *catalogue = m_backend->texts() ? m_backend->texts()->catalogue() : nullptr;
    const QString section = Language::eventSection();
    tzset(); // localtime_r leaves the zone as it was last read
    table->setUpdatesEnabled(false);
    table->setRowCount(int(events.size()));
    for (int row = 0; row < events.size(); ++row) {
        const StoredEvent &event = events.at(row);
        const QString text = catalogue ? catalogue->text(section, event.event) : QString();
        table->setItem(row, 0, centredItem(localTimeText(uint(qBound<qint64>(0, event.date, UINT_MAX)))));
        table->setItem(row, 1, centredItem(event.host));
        table->setItem(row, 2, centredItem(text));
    }
    table->setUpdatesEnabled(true);
}

void LogDialog::onBtnClear()
{
    const int answer = UserPrompt::information(
        this, tr("Information"), tr("Are you sure to remove all logs?"), tr("Sure"), tr("Cancel"));
    if (answer != 0)
        return;
    m_ui->clear->setEnabled(false);
    m_backend->clearEvents(this, [this](const BackendReply &reply) {
        m_ui->clear->setEnabled(true);
        if (!reply.ok) {
            UserPrompt::warning(this, QCoreApplication::translate("MainWindow", "Warning"),
                m_backend->isReachable()
                    ? QCoreApplication::translate("MainWindow", "The protection service refused the change: %1")
                          .arg(reply.error)
                    : unavailableText(*m_backend, reply),
                QCoreApplication::translate("MainWindow", "Sure"));
            return;
        }
        m_ui->table->clearContents();
        m_ui->table->setRowCount(0);
    });
}

LogDialog::ExportTarget LogDialog::exportTarget(const QString &chosen, int filter)
{
    const QString suffix = QFileInfo(chosen).suffix().toLower();
    const bool csv = filter < 0 ? suffix == QLatin1String("csv") : filter == 0;
    const QString wanted = csv ? QStringLiteral("csv") : QStringLiteral("xlsx");
    const QString other = csv ? QStringLiteral("xlsx") : QStringLiteral("csv");
    if (suffix == wanted)
        return {chosen, csv};
    if (suffix == other)
        return {chosen.left(chosen.size() - suffix.size()) + wanted, csv};
    return {chosen + (chosen.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".")) + wanted, csv};
}

void LogDialog::onBtnSave()
{
    // A second export would need a second thread slot; the first one has to report back before another starts.
    if (m_exporting)
        return;
    const QStringList filters {tr("CSV file (*.csv)"), tr("XLSX file(*.xlsx)")};
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty() || !QFileInfo(documents).isDir())
        documents = QDir::homePath();
    QString filter;
    const QString chosen = UserPrompt::saveFileName(nullptr, tr("Save event log"), documents, filters, &filter);
    if (chosen.isEmpty())
        return;
    const ExportTarget target = exportTarget(chosen, filters.indexOf(filter));
    // The dialog asked about replacing the name as typed; a name changed here has not been asked about.
    if (target.path != chosen && QFileInfo::exists(target.path)
        && UserPrompt::warning(this, tr("Warning"),
               tr("%1 already exists.\nDo you want to replace it?").arg(target.path), tr("Sure"), tr("Cancel"))
            != 0)
        return;
    if (m_exportThread.joinable())
        m_exportThread.join();
    m_exporting = true;
    m_exportPath = target.path;
    try {
        m_exportThread = std::thread(&LogDialog::exportLog, this, target.path, target.csv, snapshot());
    } catch (const std::system_error &error) {
        // Out of threads or memory: nothing was written, which the user learns as of any failed export.
        qWarning() << "Event log export could not start:" << error.what();
        onExportFinished(false, QString::fromLocal8Bit(error.what()));
    }
}

ExportTable LogDialog::snapshot() const
{
    const QTableWidget *table = m_ui->table;
    ExportTable copy;
    const int columns = table->columnCount();
    copy.headers.reserve(columns);
    for (int column = 0; column < columns; ++column) {
        const QTableWidgetItem *header = table->horizontalHeaderItem(column);
        copy.headers.append(header ? header->text() : QString());
    }
    copy.rows.reserve(table->rowCount());
    for (int row = 0; row < table->rowCount(); ++row) {
        QVector<QString> cells;
        cells.reserve(columns);
        for (int column = 0; column < columns; ++column) {
            const QTableWidgetItem *item = table->item(row, column);
            // An item with no text must stay distinguishable from no item: the CSV writer keeps its comma.
            cells.append(item ? (item->text().isNull() ? QStringLiteral("") : item->text()) : QString());
        }
        copy.rows.append(cells);
    }
    return copy;
}

void LogDialog::exportLog(const QString path, bool csv, const ExportTable table)
{
    emit exportStarted();
    QString why;
    const bool result = csv ? writeCsv(table, path, &why) : writeXlsx(table, path, &why);
    emit exportFinished(result, why);
}

void LogDialog::onWaitExport()
{
    m_waitBox->setIcon(QMessageBox::Information);
    m_waitBox->setWindowTitle(tr("Export log"));
    m_waitBox->setText(tr("Waiting for operation completed..."));
    // Its OK only hides the box; the dialog stays open until the result has been shown.
    m_waitBox->exec();
}

void LogDialog::onExportFinished(bool result, const QString &why)
{
    if (m_exportThread.joinable())
        m_exportThread.join();
    if (m_waitBox->isVisible())
        m_waitBox->done(QMessageBox::Ok);
    // The file by name, and on failure the system's reason: "failed" alone leaves the user guessing.
    const QString path = QDir::toNativeSeparators(m_exportPath);
    const QString text = result ? tr("The event log was exported to %1.").arg(path)
                                : tr("The event log could not be exported to %1: %2").arg(path, why);
    UserPrompt::information(this, tr("Information"), text, tr("Sure"));
    m_exporting = false;
}
