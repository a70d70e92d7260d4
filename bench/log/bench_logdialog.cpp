// Fills the event history to its cap (60001 rows), then times the log dialog reading it all and exporting it as
// CSV and as a workbook, both through the dialog (copy, thread, writer, result) and through the writers alone.
#include "backend/localbackend.h"
#include "export/logexport.h"
#include "export/xlsxexport.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "support/scratchapp.h"
#include "ui/logdialog.h"
#include "ui/userprompt.h"

#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>

namespace {
constexpr int eventCount = 60001;
constexpr qint64 exportLimitMs = 120000;

QSqlDatabase db()
{
    return Database::instance()->connection(AppPaths::databasePath());
}

void fillHistory(uint newest)
{
    QSqlDatabase connection = db();
    connection.transaction();
    QSqlQuery query(connection);
    query.prepare(QStringLiteral("insert into snmp_event(date, host, event) values(:1, :2, :3);"));
    for (int i = 0; i < eventCount; ++i) {
        query.bindValue(QStringLiteral(":1"), newest - static_cast<uint>(i) * 7);
        query.bindValue(QStringLiteral(":2"), QStringLiteral("10.0.%1.%2").arg(i / 250 % 250).arg(i % 250 + 1));
        query.bindValue(QStringLiteral(":3"), i % 0x41);
        query.exec();
    }
    connection.commit();
}

double exportThroughDialog(LogDialog &dialog, const QString &path)
{
    UserPrompt::setHook([path](const UserPrompt::Request &request) {
        UserPrompt::Answer answer;
        if (request.kind == UserPrompt::Kind::SaveFile)
            answer.path = path;
        else
            std::printf("  result box: %s\n", qPrintable(request.text));
        return answer;
    });
    QElapsedTimer timer;
    timer.start();
    dialog.onBtnSave();
    while (dialog.isExporting() && timer.elapsed() < exportLimitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return timer.nsecsElapsed() / 1e6;
}

ExportTable copyOf(QTableWidget *table)
{
    ExportTable copy;
    for (int c = 0; c < table->columnCount(); ++c)
        copy.headers.append(table->horizontalHeaderItem(c)->text());
    for (int r = 0; r < table->rowCount(); ++r) {
        QVector<QString> row;
        for (int c = 0; c < table->columnCount(); ++c)
            row.append(table->item(r, c)->text());
        copy.rows.append(row);
    }
    return copy;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The scratch root takes the catalogue from the build tree unless told otherwise.
    if (qEnvironmentVariableIsEmpty("VIGILEX_BIN_DIR"))
        qputenv("VIGILEX_BIN_DIR", VIGILEX_BUILD_BIN_DIR);
    ScratchApp scratch(ScratchApp::WithCatalogue);
    Database::instance()->createTables();
    EventCatalogue catalogue(AppPaths::cataloguePath());

    const QDate today = QDate::currentDate();
    const uint newest = static_cast<uint>(QDateTime(today, QTime(23, 59, 0)).toSecsSinceEpoch());
    QElapsedTimer timer;
    timer.start();
    fillHistory(newest);
    QSqlQuery count(db());
    count.exec(QStringLiteral("select count(*) from snmp_event;"));
    count.next();
    std::printf("stored events: %d (%.0f ms to insert)\n", count.value(0).toInt(), timer.nsecsElapsed() / 1e6);

    LocalBackend backend;
    LogDialog dialog(&backend);
    QTableWidget *table = dialog.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    // A read is answered through the event loop: it has ended when the table holds the rows.
    const auto readLog = [&dialog, table] {
        table->setRowCount(0);
        dialog.onBtnReadLog();
        QElapsedTimer bound;
        bound.start();
        while (table->rowCount() == 0 && bound.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    };
    const QDate oldest = QDateTime::fromSecsSinceEpoch(newest - (eventCount - 1) * 7).date();
    dialog.findChild<QDateEdit *>(QStringLiteral("startDateEdit"))->setDate(oldest);
    timer.restart();
    readLog();
    const double fillMs = timer.nsecsElapsed() / 1e6;
    std::printf("fill %s .. %s: %d rows in %.0f ms (target < 1000 ms)\n", qPrintable(oldest.toString(Qt::ISODate)),
        qPrintable(today.toString(Qt::ISODate)), table->rowCount(), fillMs);

    // The same range once more on the dialog on screen, as "Read" does it, and the first paint of the full table.
    timer.restart();
    dialog.show();
    QCoreApplication::processEvents();
    std::printf("show with %d rows: %.0f ms\n", table->rowCount(), timer.nsecsElapsed() / 1e6);
    timer.restart();
    readLog();
    QCoreApplication::processEvents();
    std::printf(
        "read again on screen: %d rows in %.0f ms (target < 1000 ms)\n", table->rowCount(), timer.nsecsElapsed() / 1e6);

    // A directory named on the command line keeps the files, for a look with a spreadsheet program.
    QTemporaryDir scratchOut;
    const QString outDir = app.arguments().size() > 1 ? app.arguments().at(1) : scratchOut.path();
    const QString csv = QDir(outDir).filePath(QStringLiteral("log.csv"));
    const QString xlsx = QDir(outDir).filePath(QStringLiteral("log.xlsx"));
    const double csvMs = exportThroughDialog(dialog, csv);
    std::printf(
        "export CSV through the dialog: %.0f ms, %lld bytes (target < 1000 ms)\n", csvMs, QFileInfo(csv).size());
    const double xlsxMs = exportThroughDialog(dialog, xlsx);
    std::printf(
        "export XLSX through the dialog: %.0f ms, %lld bytes (target < 3000 ms)\n", xlsxMs, QFileInfo(xlsx).size());
    UserPrompt::setHook(nullptr);

    const ExportTable copy = copyOf(table);
    const QString csvAgain = QDir(scratchOut.path()).filePath(QStringLiteral("again.csv"));
    const QString xlsxAgain = QDir(scratchOut.path()).filePath(QStringLiteral("again.xlsx"));
    timer.restart();
    writeCsv(copy, csvAgain);
    std::printf("writeCsv alone: %.0f ms\n", timer.nsecsElapsed() / 1e6);
    timer.restart();
    writeXlsx(copy, xlsxAgain);
    std::printf("writeXlsx alone: %.0f ms\n", timer.nsecsElapsed() / 1e6);
    return 0;
}
