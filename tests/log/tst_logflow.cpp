// The event log as a person meets it: events arrive through the engine into the main window, the tool bar opens
// the dialog, which lists them, and both exports are written from it and read back by an independent reader.
#include "policy/shutdownpolicy.h"
#include "snmp/snmp.h"
#include "storage/apppaths.h"
#include "storage/database.h"
#include "storage/eventstore.h"
#include "support/facekit.h"
#include "support/scratchapp.h"
#include "ui/language.h"
#include "ui/logdialog.h"
#include "ui/mainwindow.h"
#include "ui/userprompt.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {
QSqlDatabase db()
{
    return Database::instance()->connection(AppPaths::databasePath());
}

void storeAt(uint date, const QString &host, int code)
{
    QSqlQuery query(db());
    query.prepare(QStringLiteral("insert into snmp_event(date, host, event) values(:1, :2, :3);"));
    query.bindValue(QStringLiteral(":1"), date);
    query.bindValue(QStringLiteral(":2"), host);
    query.bindValue(QStringLiteral(":3"), code);
    query.exec();
}

// What the database holds from `since` on, newest first, as [local time, host, code]; ties broken by host so
// that two events of the same second compare in a fixed order.
QList<QStringList> storedSince(uint since)
{
    QList<QStringList> rows;
    QSqlQuery query(db());
    query.prepare(QStringLiteral("select date, host, event from snmp_event where date >= :1 order by date desc;"));
    query.bindValue(QStringLiteral(":1"), since);
    if (!query.exec())
        return rows;
    while (query.next()) {
        rows << QStringList {
            QDateTime::fromSecsSinceEpoch(query.value(0).toLongLong()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            query.value(1).toString(), query.value(2).toString()};
    }
    return rows;
}

QList<QStringList> tableRows(QTableWidget *table)
{
    QList<QStringList> rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column)
            cells << (table->item(row, column) ? table->item(row, column)->text() : QStringLiteral("<none>"));
        rows << cells;
    }
    return rows;
}

// Sorted within each second, the order the database leaves open.
QList<QStringList> canonical(QList<QStringList> rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const QStringList &a, const QStringList &b) {
        return a.value(0) != b.value(0) ? a.value(0) > b.value(0) : a.value(1) < b.value(1);
    });
    return rows;
}

QJsonObject readWorkbook(const QString &path)
{
    const QString script = QStringLiteral("import json, sys, openpyxl\n"
                                          "ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
                                          "rows = [[c.value for c in r] for r in ws.iter_rows()]\n"
                                          "print(json.dumps({'range': ws.dimensions, 'rows': rows}))\n");
    const QString interpreter = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                                  : QStringLiteral("python3");
    QProcess python;
    python.start(interpreter, {QStringLiteral("-c"), script, path});
    if (!python.waitForFinished(20000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// Runs `inside` once a log dialog is the active modal window; gives up after 10 s or when owner goes.
void whenLogDialogOpen(QObject *owner, const std::function<void(LogDialog *)> &inside, bool *seen)
{
    auto *poll = new QTimer(owner);
    auto *deadline = new QElapsedTimer;
    deadline->start();
    QObject::connect(poll, &QObject::destroyed, [deadline] { delete deadline; });
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inside, seen, deadline] {
        auto *dialog = qobject_cast<LogDialog *>(QApplication::activeModalWidget());
        if (!dialog && deadline->elapsed() < 10000)
            return;
        poll->stop();
        poll->deleteLater();
        if (!dialog)
            return;
        *seen = true;
        inside(dialog);
    });
    poll->start(20);
}
} // namespace

class TestLogFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void fromToolBar_data();
    void fromToolBar();

private:
    void useDialog(LogDialog *dialog);
    void exportFrom(LogDialog *dialog, const QString &path);

    std::unique_ptr<ScratchApp> m_app;
    QString m_savePath;
    QStringList m_results;
    QList<QStringList> m_expected; // rows the dialog must show, as the database has them
    QHash<QString, QString> m_texts; // event code to the text of the current language
    QStringList m_headers;
    bool m_closed = false;
};

void TestLogFlow::initTestCase()
{
    m_app = std::make_unique<ScratchApp>(ScratchApp::Installed);
    QVERIFY(m_app->isValid());
    Database::instance()->createTables();
    UserPrompt::setHook([this](const UserPrompt::Request &request) {
        UserPrompt::Answer answer;
        if (request.kind == UserPrompt::Kind::SaveFile)
            answer.path = m_savePath;
        else if (request.kind == UserPrompt::Kind::Information && request.buttons.size() == 1)
            m_results << request.text;
        return answer; // pop-up warnings of the window are answered with their first button
    });
}

void TestLogFlow::cleanupTestCase()
{
    UserPrompt::setHook(nullptr);
    Language::instance()->setLanguage(Language::English);
    m_app.reset();
}

void TestLogFlow::fromToolBar_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QString>("mainsFailed");
    QTest::addColumn<QString>("batteryLow");
    QTest::addColumn<QString>("success");
    QTest::newRow("English") << int(Language::English)
                             << QStringList {QStringLiteral("Date"), QStringLiteral("Host address"),
                                    QStringLiteral("Event")}
                             << QStringLiteral("UPS on battery (mains failure)") << QStringLiteral("Battery low")
                             << QStringLiteral("The event log was exported to %1.");
    QTest::newRow("Chinese") << int(Language::Chinese)
                             << QStringList {QStringLiteral(u"日期"), QStringLiteral(u"主机地址"),
                                    QStringLiteral(u"事件")}
                             << QStringLiteral(u"UPS电池供电（市电故障）") << QStringLiteral(u"电池电量低")
                             << QStringLiteral(u"事件日志已导出到 %1。");
}

void TestLogFlow::fromToolBar()
{
    QFETCH(int, language);
    QFETCH(QStringList, headers);
    QFETCH(QString, mainsFailed);
    QFETCH(QString, batteryLow);
    QFETCH(QString, success);

    QSqlQuery(db()).exec(QStringLiteral("delete from snmp_event;"));
    m_results.clear();
    m_closed = false;
    m_headers = headers;
    m_texts = {{QStringLiteral("6"), mainsFailed}, {QStringLiteral("8"), batteryLow}, {QStringLiteral("77"), {}}};

    auto window = FaceKit::makeWindow();
    SNMP engine; // never started: its relay slots stand in for cards
    window->setEngine(&engine);
    Language::instance()->setLanguage(language);

    const QDate today = QDate::currentDate();
    // Three days back stays out of the range the test reads; so does nothing it reads by accident.
    storeAt(static_cast<uint>(QDateTime(today.addDays(-3), QTime(12, 0)).toSecsSinceEpoch()),
        QStringLiteral("10.0.0.9"), 6);
    engine.handleEvent(QStringLiteral("10.0.0.5"), 6);
    engine.handleEvent(QStringLiteral("10.0.0.6"), 8);
    engine.handleEvent(QStringLiteral("10.0.0.7"), 77); // stored, but no text in either language
    // Read from yesterday on, so an event of 23:59:59 is still listed when the dialog opens after midnight.
    const uint since = static_cast<uint>(QDateTime(today.addDays(-1), QTime(0, 0)).toSecsSinceEpoch());
    QVERIFY(EventStore::instance()->flush(5000)); // the writer's batch is committed
    m_expected = storedSince(since);
    QCOMPARE(m_expected.size(), 3);
    for (QStringList &row : m_expected)
        row[2] = m_texts.value(row.at(2));

    QTemporaryDir out;
    QVERIFY(out.isValid());
    m_savePath = out.filePath(QStringLiteral("events.csv"));
    bool seen = false;
    whenLogDialogOpen(
        window.get(), [this](LogDialog *dialog) { useDialog(dialog); }, &seen);
    QAction *logAction = window->findChild<QAction *>(QStringLiteral("toolLog"));
    QVERIFY(logAction);
    logAction->trigger(); // returns when the dialog has been closed
    QVERIFY(seen);
    QVERIFY(m_closed);
    QVERIFY(!qobject_cast<LogDialog *>(QApplication::activeModalWidget()));
    QCOMPARE(m_results,
        (QStringList {success.arg(out.filePath(QStringLiteral("events.csv"))),
            success.arg(out.filePath(QStringLiteral("events.xlsx")))}));

    // The CSV file in GBK, one line per row as listed.
    QFile csv(out.filePath(QStringLiteral("events.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    QVERIFY(!bytes.startsWith("\xef\xbb\xbf"));
    const QString text = QTextCodec::codecForName("GBK")->toUnicode(bytes);
    QString expectedCsv = headers.join(QLatin1Char(',')) + QStringLiteral(",\r\n");
    for (const QStringList &row : qAsConst(m_expected))
        expectedCsv += QLatin1Char('\'') + row.join(QLatin1Char(',')) + QStringLiteral(",\r\n");
    QCOMPARE(text, expectedCsv);

    // The workbook: header row, then the rows as listed, as text cells without any marker.
    const QJsonObject book = readWorkbook(out.filePath(QStringLiteral("events.xlsx")));
    QVERIFY2(!book.isEmpty(), "openpyxl could not read the workbook");
    QCOMPARE(book.value(QStringLiteral("range")).toString(), QStringLiteral("A1:C4"));
    QList<QStringList> sheet;
    for (const QJsonValue &row : book.value(QStringLiteral("rows")).toArray()) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells << cell.toString();
        sheet << cells;
    }
    QCOMPARE(sheet.value(0), headers);
    QCOMPARE(sheet.mid(1), m_expected);
}

void TestLogFlow::useDialog(LogDialog *dialog)
{
    auto close = qScopeGuard([&] {
        QElapsedTimer wait;
        wait.start();
        while (dialog->isExporting() && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("okButton")), Qt::LeftButton);
        m_closed = !dialog->isVisible();
    });
    auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("tableWidget"));
    QVERIFY(table);
    QStringList titles;
    for (int column = 0; column < table->columnCount(); ++column)
        titles << table->horizontalHeaderItem(column)->text();
    QCOMPARE(titles, m_headers);
    // Shown at once: today's events, newest first, with the texts of the current language.
    QList<QStringList> shown = tableRows(table);
    if (shown.size() < m_expected.size()) {
        // The events were stored before midnight and the dialog opened after it.
        dialog->findChild<QDateEdit *>(QStringLiteral("startDateEdit"))->setDate(QDate::currentDate().addDays(-1));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("readButton")), Qt::LeftButton);
        shown = tableRows(table);
    }
    QCOMPARE(shown.size(), m_expected.size());
    QCOMPARE(canonical(shown), canonical(m_expected));
    for (int row = 1; row < shown.size(); ++row)
        QVERIFY(shown.at(row - 1).at(0) >= shown.at(row).at(0));

    // From here on both files must hold the rows of the table, in its order.
    m_expected = shown;
    exportFrom(dialog, m_savePath);
    QCOMPARE(m_results.size(), 1);
    exportFrom(dialog, QFileInfo(m_savePath).path() + QStringLiteral("/events.xlsx"));
    QCOMPARE(m_results.size(), 2);
}

void TestLogFlow::exportFrom(LogDialog *dialog, const QString &path)
{
    m_savePath = path;
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("saveButton")), Qt::LeftButton);
    QVERIFY(dialog->isExporting());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isExporting(), 10000);
    QVERIFY(dialog->isVisible());
}

QTEST_MAIN(TestLogFlow)
#include "tst_logflow.moc"
