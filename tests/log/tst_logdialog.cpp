#include "backend/localbackend.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventcatalogue.h"
#include "storage/statements.h"
#include "support/scratchapp.h"
#include "ui/language.h"
#include "ui/logdialog.h"
#include "ui/userprompt.h"

#include <QDateEdit>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <dlfcn.h>
#include <functional>
#include <memory>
#include <pthread.h>

// Thread creation that can be made to fail, as it does when the process has run out of threads or memory. The
// program's own definition wins over the C library's, for the standard library's threads and Qt's alike.
static std::atomic<bool> refuseThreads {false};

extern "C" int pthread_create(
    pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg) // NOLINT
{
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (refuseThreads || !real)
        return EAGAIN;
    return real(thread, attr, start, arg);
}

namespace {
// A day without a daylight-saving change in the zones where such changes happen.
const QDate day(2024, 7, 10);

uint at(const QDate &date, int h, int m, int s)
{
    return static_cast<uint>(QDateTime(date, QTime(h, m, s)).toSecsSinceEpoch());
}

QSqlDatabase db()
{
    return Database::instance()->connection(AppPaths::databasePath());
}

void storeEvent(uint date, const QString &host, int code)
{
    QSqlQuery query(db());
    query.prepare(QStringLiteral("insert into snmp_event(date, host, event) values(:1, :2, :3);"));
    query.bindValue(QStringLiteral(":1"), date);
    query.bindValue(QStringLiteral(":2"), host);
    query.bindValue(QStringLiteral(":3"), code);
    QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
}

int storedCount()
{
    QSqlQuery query(db());
    return query.exec(QStringLiteral("select count(*) from snmp_event;")) && query.next() ? query.value(0).toInt() : -1;
}

QTableWidget *tableOf(LogDialog &dialog)
{
    return dialog.findChild<QTableWidget *>(QStringLiteral("tableWidget"));
}

QStringList column(LogDialog &dialog, int c)
{
    QStringList texts;
    QTableWidget *table = tableOf(dialog);
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, c) ? table->item(row, c)->text() : QStringLiteral("<none>"));
    return texts;
}

// The backend answers later; the read button is back once the rows are in.
void answered(LogDialog &dialog)
{
    QPushButton *read = dialog.findChild<QPushButton *>(QStringLiteral("readButton"));
    QTRY_VERIFY_WITH_TIMEOUT(read->isEnabled(), 5000);
    QPushButton *clear = dialog.findChild<QPushButton *>(QStringLiteral("clearButton"));
    QTRY_VERIFY_WITH_TIMEOUT(clear->isEnabled(), 5000);
}

void readRange(LogDialog &dialog, const QDate &start, const QDate &end)
{
    dialog.findChild<QDateEdit *>(QStringLiteral("startDateEdit"))->setDate(start);
    dialog.findChild<QDateEdit *>(QStringLiteral("endDateEdit"))->setDate(end);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("readButton")), Qt::LeftButton);
    answered(dialog);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestLogDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void windowAndTable();
    void openingShowsTodayNewestFirst();
    void dayRange_data();
    void dayRange();
    void daylightSavingDays_data();
    void daylightSavingDays();
    void eventTexts();
    void clear_data();
    void clear();
    void cancelledFileDialogStartsNothing();
    void exportResult_data();
    void exportResult();
    void cannotCloseWhileExporting();
    void exportThreadCannotStart();

private:
    UserPrompt::Answer answer(const UserPrompt::Request &request);

    std::unique_ptr<ScratchApp> m_app;
    std::unique_ptr<LocalBackend> m_backend;
    std::unique_ptr<EventCatalogue> m_catalogue;
    QList<UserPrompt::Request> m_requests;
    int m_boxAnswer = 0;
    QString m_savePath;
    QString m_saveFilter;
    std::function<void()> m_onResult; // runs while the export result box would be on screen
};

UserPrompt::Answer TestLogDialog::answer(const UserPrompt::Request &request)
{
    m_requests << request;
    UserPrompt::Answer result;
    if (request.kind == UserPrompt::Kind::SaveFile) {
        result.path = m_savePath;
        result.filter = m_saveFilter;
    } else if (request.text.startsWith(QLatin1String("The event log"))) {
        if (m_onResult)
            m_onResult();
    } else {
        result.button = m_boxAnswer;
    }
    return result;
}

void TestLogDialog::initTestCase()
{
    m_app = std::make_unique<ScratchApp>(ScratchApp::Installed);
    QVERIFY(m_app->isValid());
    Database::instance()->createTables();
    QVERIFY(Database::instance()->tableExists(db(), QStringLiteral("snmp_event")) || storedCount() == 0);
    m_catalogue = std::make_unique<EventCatalogue>(AppPaths::cataloguePath());
    m_backend = std::make_unique<LocalBackend>();
    UserPrompt::setHook([this](const UserPrompt::Request &request) { return answer(request); });
}

void TestLogDialog::init()
{
    QSqlQuery query(db());
    query.exec(QLatin1String(Sql::deleteAllEvents));
    query.exec(QLatin1String(Sql::resetEventSequence));
    m_requests.clear();
    m_boxAnswer = 0;
    m_savePath.clear();
    m_saveFilter.clear();
    m_onResult = nullptr;
}

void TestLogDialog::cleanupTestCase()
{
    UserPrompt::setHook(nullptr);
    m_backend.reset();
    m_catalogue.reset();
    m_app.reset();
}

void TestLogDialog::windowAndTable()
{
    LogDialog dialog(m_backend.get());
    answered(dialog);
    QCOMPARE(dialog.size(), QSize(600, 450));
    // Qt adds the title and system menu hints that a close button needs; nothing else may be there.
    const Qt::WindowFlags hints = dialog.windowFlags() & ~Qt::WindowType_Mask;
    QCOMPARE(hints & ~(Qt::WindowTitleHint | Qt::WindowSystemMenuHint), Qt::WindowCloseButtonHint);
    QVERIFY(!dialog.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Event log"));
    QTableWidget *table = tableOf(dialog);
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 3);
    QStringList titles;
    for (int c = 0; c < 3; ++c)
        titles << table->horizontalHeaderItem(c)->text();
    QCOMPARE(titles, (QStringList {QStringLiteral("Date"), QStringLiteral("Host address"), QStringLiteral("Event")}));
    QVERIFY(table->horizontalHeader()->stretchLastSection());
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    for (const char *name : {"startDateEdit", "endDateEdit"}) {
        auto *edit = dialog.findChild<QDateEdit *>(QLatin1String(name));
        QVERIFY(edit);
        QCOMPARE(edit->date(), QDate::currentDate());
        QCOMPARE(edit->displayFormat(), QStringLiteral("yyyy-MM-dd"));
        QVERIFY(edit->calendarPopup());
    }
    QStringList buttons;
    for (const char *name : {"readButton", "saveButton", "clearButton", "okButton"})
        buttons << dialog.findChild<QPushButton *>(QLatin1String(name))->text();
    QCOMPARE(buttons,
        (QStringList {
            QStringLiteral("&Read"), QStringLiteral("Save &as..."), QStringLiteral("&Clear"), QStringLiteral("&OK")}));
    // "OK" closes the dialog with the accepted result.
    dialog.show();
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!dialog.isVisible());
}

void TestLogDialog::openingShowsTodayNewestFirst()
{
    const QDate today = QDate::currentDate();
    storeEvent(at(today, 8, 0, 0), QStringLiteral("10.0.0.1"), 6);
    storeEvent(at(today, 12, 30, 5), QStringLiteral("10.0.0.2"), 8);
    storeEvent(at(today.addDays(-1), 23, 59, 59), QStringLiteral("10.0.0.3"), 6);
    storeEvent(at(today.addDays(-3), 12, 0, 0), QStringLiteral("10.0.0.4"), 6);

    LogDialog dialog(m_backend.get());
    answered(dialog);
    QCOMPARE(column(dialog, 0),
        (QStringList {today.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 12:30:05"),
            today.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 08:00:00")}));
    QCOMPARE(column(dialog, 1), (QStringList {QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1")}));
    QCOMPARE(column(dialog, 2),
        (QStringList {QStringLiteral("Battery low"), QStringLiteral("UPS on battery (mains failure)")}));
    QTableWidget *table = tableOf(dialog);
    for (int c = 0; c < 3; ++c)
        QCOMPARE(table->item(0, c)->textAlignment(), int(Qt::AlignCenter));
}

void TestLogDialog::dayRange_data()
{
    QTest::addColumn<int>("startOffset");
    QTest::addColumn<int>("endOffset");
    QTest::addColumn<QStringList>("hosts");
    // Stored around the day: "before" 23:59:59 the evening before, "midnight" 00:00:00, "noon", "next"
    // 00:00:00 of the following day, "late" a second after that, "far" two days on.
    QTest::newRow("same day, with the following midnight")
        << 0 << 0 << QStringList {QStringLiteral("next"), QStringLiteral("noon"), QStringLiteral("midnight")};
    QTest::newRow("two days") << -1 << 0
                              << QStringList {QStringLiteral("next"), QStringLiteral("noon"),
                                     QStringLiteral("midnight"), QStringLiteral("before")};
    QTest::newRow("start one day after end: the shared midnight alone")
        << 1 << 0 << QStringList {QStringLiteral("next")};
    QTest::newRow("start two days after end") << 2 << 0 << QStringList {};
    QTest::newRow("following day") << 1 << 1 << QStringList {QStringLiteral("late"), QStringLiteral("next")};
    QTest::newRow("a day without events") << 5 << 5 << QStringList {};
    const QStringList all {QStringLiteral("far"), QStringLiteral("late"), QStringLiteral("next"),
        QStringLiteral("noon"), QStringLiteral("midnight"), QStringLiteral("before")};
    // Days outside the span of the stored seconds: 1969 and 2107.
    QTest::newRow("start before 1970") << -20000 << 2 << all;
    QTest::newRow("end after 2106") << -1 << 30000 << all;
    QTest::newRow("both outside") << -20000 << 30000 << all;
}

void TestLogDialog::dayRange()
{
    QFETCH(int, startOffset);
    QFETCH(int, endOffset);
    QFETCH(QStringList, hosts);
    storeEvent(at(day.addDays(-1), 23, 59, 59), QStringLiteral("before"), 6);
    storeEvent(at(day, 0, 0, 0), QStringLiteral("midnight"), 6);
    storeEvent(at(day, 12, 0, 0), QStringLiteral("noon"), 6);
    storeEvent(at(day.addDays(1), 0, 0, 0), QStringLiteral("next"), 6);
    storeEvent(at(day.addDays(1), 0, 0, 1), QStringLiteral("late"), 6);
    storeEvent(at(day.addDays(2), 12, 0, 0), QStringLiteral("far"), 6);

    LogDialog dialog(m_backend.get());
    answered(dialog);
    readRange(dialog, day.addDays(startOffset), day.addDays(endOffset));
    QCOMPARE(column(dialog, 1), hosts);
    QCOMPARE(tableOf(dialog)->rowCount(), hosts.size());
}

namespace {
// The local zone of the process for one case.
class ZoneOverride
{
public:
    explicit ZoneOverride(const QByteArray &zone) : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ZoneOverride()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};
} // namespace

void TestLogDialog::daylightSavingDays_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QStringList>("storedUtc");
    QTest::addColumn<QStringList>("listed");
    // Central European rules as a POSIX zone string, so no zone database is needed.
    const QByteArray cet("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2024-10-27 has 25 hours: 00:00 CEST is 22:00 UTC the day before, the next midnight 23:00 UTC.
    QTest::newRow("25-hour day keeps its last hour")
        << cet << QDate(2024, 10, 27)
        << QStringList {QStringLiteral("2024-10-26T21:59:59"), QStringLiteral("2024-10-26T22:00:00"),
               QStringLiteral("2024-10-27T22:30:00"), QStringLiteral("2024-10-27T23:00:00"),
               QStringLiteral("2024-10-27T23:00:01")}
        << QStringList {QStringLiteral("2024-10-28 00:00:00"), QStringLiteral("2024-10-27 23:30:00"),
               QStringLiteral("2024-10-27 00:00:00")};
    // 2024-03-31 has 23 hours: 00:00 CET is 23:00 UTC the day before, the next midnight 22:00 UTC.
    QTest::newRow("23-hour day stops at the next midnight")
        << cet << QDate(2024, 3, 31)
        << QStringList {QStringLiteral("2024-03-30T22:59:59"), QStringLiteral("2024-03-31T01:30:00"),
               QStringLiteral("2024-03-31T22:00:00"), QStringLiteral("2024-03-31T22:30:00")}
        << QStringList {QStringLiteral("2024-04-01 00:00:00"), QStringLiteral("2024-03-31 03:30:00")};
    // Where summer time begins at midnight, 2024-09-08 has no 00:00: it begins at 01:00 (04:00 UTC).
    QTest::newRow("day without a midnight starts at its first hour")
        << QByteArray("XST4XDT,M9.2.0/0,M4.1.0/0") << QDate(2024, 9, 8)
        << QStringList {QStringLiteral("2024-09-08T03:59:59"), QStringLiteral("2024-09-08T04:00:00"),
               QStringLiteral("2024-09-09T03:00:00"), QStringLiteral("2024-09-09T03:00:01")}
        << QStringList {QStringLiteral("2024-09-09 00:00:00"), QStringLiteral("2024-09-08 01:00:00")};
}

void TestLogDialog::daylightSavingDays()
{
    QFETCH(QByteArray, zone);
    QFETCH(QDate, date);
    QFETCH(QStringList, storedUtc);
    QFETCH(QStringList, listed);
    ZoneOverride zoneOverride(zone);
    for (const QString &utc : storedUtc) {
        QDateTime when = QDateTime::fromString(utc, Qt::ISODate);
        when.setTimeSpec(Qt::UTC);
        storeEvent(static_cast<uint>(when.toSecsSinceEpoch()), utc, 6);
    }
    LogDialog dialog(m_backend.get());
    answered(dialog);
    readRange(dialog, date, date);
    QCOMPARE(column(dialog, 0), listed);
}

void TestLogDialog::eventTexts()
{
    const QDate today = QDate::currentDate();
    storeEvent(at(today, 9, 0, 0), QStringLiteral("10.0.0.1"), 6);
    storeEvent(at(today, 10, 0, 0), QStringLiteral("10.0.0.1"), 9999);
    {
        LogDialog dialog(m_backend.get());
        answered(dialog);
        QCOMPARE(column(dialog, 2), (QStringList {QString(), QStringLiteral("UPS on battery (mains failure)")}));
        QCOMPARE(column(dialog, 1), (QStringList {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.1")}));
    }
    // The current language picks the section and the interface texts.
    Language::instance()->setLanguage(Language::Chinese);
    {
        LogDialog dialog(m_backend.get());
        answered(dialog);
        QCOMPARE(column(dialog, 2).value(1), QStringLiteral(u"UPS电池供电（市电故障）"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral(u"事件日志"));
        QCOMPARE(tableOf(dialog)->horizontalHeaderItem(1)->text(), QStringLiteral(u"主机地址"));
        QCOMPARE(
            dialog.findChild<QPushButton *>(QStringLiteral("saveButton"))->text(), QStringLiteral(u"另存为(&A)..."));
        dialog.onBtnClear();
        QCOMPARE(m_requests.value(0).text, QStringLiteral(u"确定要删除所有日志吗？"));
        QCOMPARE(m_requests.value(0).buttons, (QStringList {QStringLiteral(u"确定"), QStringLiteral(u"取消")}));
    }
    Language::instance()->setLanguage(Language::English);
    QCOMPARE(storedCount(), 0);
    storeEvent(at(today, 9, 0, 0), QStringLiteral("10.0.0.1"), 6);
    storeEvent(at(today, 10, 0, 0), QStringLiteral("10.0.0.1"), 9999);
    // Without a catalogue the rows are still listed, with empty texts.
    m_catalogue.reset();
    const QString catalogue = AppPaths::cataloguePath();
    QVERIFY(QFile::rename(catalogue, catalogue + QStringLiteral(".away")));
    {
        LocalBackend without;
        LogDialog dialog(&without);
        answered(dialog);
        QCOMPARE(column(dialog, 2), (QStringList {QString(), QString()}));
    }
    QVERIFY(QFile::rename(catalogue + QStringLiteral(".away"), catalogue));
    m_catalogue = std::make_unique<EventCatalogue>(AppPaths::cataloguePath());
}

void TestLogDialog::clear_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("Sure") << 0 << true;
    QTest::newRow("Cancel") << 1 << false;
    QTest::newRow("box closed") << -1 << false;
}

void TestLogDialog::clear()
{
    QFETCH(int, button);
    QFETCH(bool, cleared);
    const QDate today = QDate::currentDate();
    for (int i = 0; i < 3; ++i)
        storeEvent(at(today, 1, 0, i), QStringLiteral("10.0.0.1"), 6);
    storeEvent(at(today.addDays(-10), 1, 0, 0), QStringLiteral("10.0.0.9"), 6); // not shown, cleared all the same

    LogDialog dialog(m_backend.get());
    answered(dialog);
    QCOMPARE(tableOf(dialog)->rowCount(), 3);
    m_boxAnswer = button;
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("clearButton")), Qt::LeftButton);
    answered(dialog);

    QCOMPARE(m_requests.size(), 1);
    const UserPrompt::Request &question = m_requests.constFirst();
    QCOMPARE(question.kind, UserPrompt::Kind::Information);
    QCOMPARE(question.parent, &dialog);
    QCOMPARE(question.title, QStringLiteral("Information"));
    QCOMPARE(question.text, QStringLiteral("Are you sure to remove all logs?"));
    QCOMPARE(question.buttons, (QStringList {QStringLiteral("Sure"), QStringLiteral("Cancel")}));

    QCOMPARE(tableOf(dialog)->rowCount(), cleared ? 0 : 3);
    QCOMPARE(storedCount(), cleared ? 0 : 4);

    QSqlQuery query(db());
    query.prepare(QLatin1String(Sql::insertEvent));
    query.bindValue(QStringLiteral(":1"), QStringLiteral("10.0.0.1"));
    query.bindValue(QStringLiteral(":2"), 1);
    QVERIFY(query.exec());
    QCOMPARE(query.lastInsertId().toInt(), cleared ? 1 : 5);
}

void TestLogDialog::cancelledFileDialogStartsNothing()
{
    LogDialog dialog(m_backend.get());
    answered(dialog);
    dialog.show();
    QSignalSpy started(&dialog, &LogDialog::exportStarted);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    QCOMPARE(m_requests.size(), 1);
    const UserPrompt::Request &request = m_requests.constFirst();
    QCOMPARE(request.kind, UserPrompt::Kind::SaveFile);
    QCOMPARE(request.parent, nullptr);
    QCOMPARE(request.title, QStringLiteral("Save event log"));
    QCOMPARE(request.buttons, (QStringList {QStringLiteral("CSV file (*.csv)"), QStringLiteral("XLSX file(*.xlsx)")}));
    QVERIFY(!dialog.isExporting());
    QTest::qWait(50);
    QCOMPARE(started.count(), 0);
    QCOMPARE(m_requests.size(), 1);
    dialog.reject();
    QVERIFY(!dialog.isVisible());
}

void TestLogDialog::exportResult_data()
{
    QTest::addColumn<QString>("file"); // as typed in the dialog
    QTest::addColumn<QString>("filter"); // as chosen; empty when the dialog reports none
    QTest::addColumn<QString>("written"); // the file the export wrote
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<QString>("result"); // %1 the file written
    const QString csv = QStringLiteral("CSV file (*.csv)");
    const QString xlsx = QStringLiteral("XLSX file(*.xlsx)");
    const QString success = QStringLiteral("The event log was exported to %1.");
    const QString missing = QStringLiteral("The event log could not be exported to %1: No such file or directory");
    QTest::newRow("csv") << "log.csv" << csv << "log.csv" << QByteArray("Date,") << success;
    QTest::newRow("csv filter adds .csv") << "events" << csv << "events.csv" << QByteArray("Date,") << success;
    QTest::newRow("xlsx filter adds .xlsx") << "events" << xlsx << "events.xlsx" << QByteArray("PK") << success;
    QTest::newRow("xlsx") << "log.xlsx" << xlsx << "log.xlsx" << QByteArray("PK") << success;
    QTest::newRow("contradicting .csv follows the xlsx filter")
        << "log.csv" << xlsx << "log.xlsx" << QByteArray("PK") << success;
    QTest::newRow("contradicting .xlsx follows the csv filter")
        << "log.xlsx" << csv << "log.csv" << QByteArray("Date,") << success;
    QTest::newRow("upper-case .CSV under the csv filter")
        << "log.CSV" << csv << "log.CSV" << QByteArray("Date,") << success;
    QTest::newRow("another dot keeps its part") << "ups.v2" << csv << "ups.v2.csv" << QByteArray("Date,") << success;
    QTest::newRow("no filter reported: the name decides") << "log.csv"
                                                          << ""
                                                          << "log.csv" << QByteArray("Date,") << success;
    QTest::newRow("no filter, no extension: a workbook") << "log"
                                                         << ""
                                                         << "log.xlsx" << QByteArray("PK") << success;
    QTest::newRow("csv in a missing directory")
        << "missing/log.csv" << csv << "missing/log.csv" << QByteArray() << missing;
    QTest::newRow("xlsx in a missing directory")
        << "missing/log" << xlsx << "missing/log.xlsx" << QByteArray() << missing;
}

void TestLogDialog::exportResult()
{
    QFETCH(QString, file);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    QFETCH(QByteArray, magic);
    QFETCH(QString, result);
    storeEvent(at(QDate::currentDate(), 7, 0, 0), QStringLiteral("10.0.0.5"), 6);
    QTemporaryDir out;
    m_savePath = out.filePath(file);
    m_saveFilter = filter;
    LogDialog dialog(m_backend.get());
    answered(dialog);
    dialog.show();
    QSignalSpy finished(&dialog, &LogDialog::exportFinished);
    dialog.onBtnSave();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isExporting(), 10000);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(m_requests.size(), 2);
    // The dialog opens among the user's documents, or at home, never beside the program.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QCOMPARE(m_requests.at(0).text, QFileInfo(documents).isDir() ? documents : QDir::homePath());
    const UserPrompt::Request &box = m_requests.at(1);
    QCOMPARE(box.kind, UserPrompt::Kind::Information);
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, result.arg(out.filePath(written)));
    QCOMPARE(box.buttons, QStringList {QStringLiteral("Sure")});
    QVERIFY(readFile(out.filePath(written)).startsWith(magic));
    if (written != file)
        QVERIFY(!QFile::exists(m_savePath));
}

void TestLogDialog::cannotCloseWhileExporting()
{
    const QDate today = QDate::currentDate();
    storeEvent(at(today, 7, 0, 0), QStringLiteral("10.0.0.5"), 6);
    storeEvent(at(today, 7, 0, 1), QStringLiteral("10.0.0.6"), 9999);
    QTemporaryDir out;
    m_savePath = out.filePath(QStringLiteral("log.csv"));

    LogDialog dialog(m_backend.get());
    answered(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    bool openAtResult = false;
    bool waitBoxClosedAtResult = false;
    QString waitTitle;
    QString waitText;
    m_onResult = [&] {
        openAtResult = dialog.isVisible() && dialog.isExporting();
        auto *waitBox = dialog.findChild<QMessageBox *>();
        waitBoxClosedAtResult = waitBox && !waitBox->isVisible();
        waitTitle = waitBox ? waitBox->windowTitle() : QString();
        waitText = waitBox ? waitBox->text() : QString();
        // Closing from inside the result box is refused too; only after it has been handled may the dialog go.
        dialog.reject();
    };
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.onBtnSave();
    QVERIFY(dialog.isExporting());

    // Every way out is refused while the export runs.
    dialog.reject();
    dialog.accept();
    dialog.done(QDialog::Accepted);
    dialog.close();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    // Changing the table while the thread writes is harmless: it works on the rows shown when it started.
    m_boxAnswer = 0;
    dialog.onBtnClear();
    QCOMPARE(tableOf(dialog)->rowCount(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isExporting(), 10000);
    QVERIFY(openAtResult);
    QVERIFY(waitBoxClosedAtResult);
    QCOMPARE(waitTitle, QStringLiteral("Export log"));
    QCOMPARE(waitText, QStringLiteral("Waiting for operation completed..."));
    QVERIFY(dialog.isVisible());
    QCOMPARE(rejected.count(), 0);
    const QString date = today.toString(QStringLiteral("yyyy-MM-dd"));
    QCOMPARE(readFile(m_savePath),
        QByteArray("Date,Host address,Event,\r\n'" + date.toLatin1() + " 07:00:01,10.0.0.6,,\r\n'" + date.toLatin1()
            + " 07:00:00,10.0.0.5,UPS on battery (mains failure),\r\n"));

    dialog.reject();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(rejected.count(), 1);
}

void TestLogDialog::exportThreadCannotStart()
{
    storeEvent(at(QDate::currentDate(), 7, 0, 0), QStringLiteral("10.0.0.5"), 6);
    QTemporaryDir out;
    m_savePath = out.filePath(QStringLiteral("log.csv"));
    LogDialog dialog(m_backend.get());
    answered(dialog);
    dialog.show();
    QSignalSpy started(&dialog, &LogDialog::exportStarted);
    refuseThreads = true;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Event log export could not start")));
    dialog.onBtnSave();
    refuseThreads = false;

    // No crash, nothing written, the failure told as of any export, and the dialog free to close again.
    QVERIFY(!dialog.isExporting());
    QCOMPARE(m_requests.size(), 2);
    QVERIFY2(
        m_requests.at(1).text.startsWith(QStringLiteral("The event log could not be exported to %1: ").arg(m_savePath)),
        qPrintable(m_requests.at(1).text));
    QVERIFY(!QFile::exists(m_savePath));
    QTest::qWait(20);
    QCOMPARE(started.count(), 0);

    // The next export works.
    dialog.onBtnSave();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isExporting(), 10000);
    QCOMPARE(m_requests.value(3).text, QStringLiteral("The event log was exported to %1.").arg(m_savePath));
    QVERIFY(readFile(m_savePath).startsWith("Date,"));
    dialog.reject();
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TestLogDialog)
#include "tst_logdialog.moc"
