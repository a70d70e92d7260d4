#include "export/logexport.h"
#include "export/xlsxexport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// GBK bytes written out by hand, so the expectation does not come from the codec under test.
const QByteArray gbkDate = QByteArray::fromHex("c8d5c6da"); // 日期
const QByteArray gbkHost = QByteArray::fromHex("d6f7bbfab5d8d6b7"); // 主机地址
const QByteArray gbkEvent = QByteArray::fromHex("cac2bcfe"); // 事件
const QByteArray gbkMainsFailed = QByteArray::fromHex("cad0b5e7b9cad5cf"); // 市电故障
const QByteArray gbkBatteryLow = QByteArray::fromHex("b5e7b3d8b5cd"); // 电池低

QVector<QString> chineseHeaders()
{
    return {QStringLiteral(u"日期"), QStringLiteral(u"主机地址"), QStringLiteral(u"事件")};
}

QVector<QString> englishHeaders()
{
    return {QStringLiteral("Date"), QStringLiteral("Host address"), QStringLiteral("Event")};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads the first worksheet back with openpyxl: its used range and every cell as [value, type].
QJsonObject readWorkbook(const QString &path)
{
    const QString script
        = QStringLiteral("import json, sys, openpyxl\n"
                         "wb = openpyxl.load_workbook(sys.argv[1])\n"
                         "ws = wb.worksheets[0]\n"
                         "rows = [[[c.value, c.data_type] for c in r] for r in ws.iter_rows()]\n"
                         "print(json.dumps({'sheets': len(wb.worksheets), 'range': ws.dimensions, 'rows': rows}))\n");
    // Debian's own interpreter carries python3-openpyxl; a python3 earlier on PATH may not.
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
} // namespace

class TestLogExport : public QObject
{
    Q_OBJECT
private slots:
    void csvContent_data();
    void csvContent();
    void csvUnwritablePath();
    void csvReplacesOldContent();

    void columnNames_data();
    void columnNames();

    void workbookContent_data();
    void workbookContent();
    void workbookReplacesExistingTarget();
    void workbookUnwritablePath();

private:
    QTemporaryDir m_dir;
};

void TestLogExport::csvContent_data()
{
    QTest::addColumn<QVector<QString>>("headers");
    QTest::addColumn<QVector<QVector<QString>>>("rows");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("chinese texts as GBK, apostrophe, trailing commas")
        << chineseHeaders()
        << QVector<QVector<QString>> {{QStringLiteral("2024-03-01 08:05:09"), QStringLiteral("10.0.0.5"),
                                          QStringLiteral(u"市电故障")},
               {QStringLiteral("2024-03-01 08:00:00"), QStringLiteral("10.0.0.6"), QStringLiteral(u"电池低")}}
        << QByteArray(gbkDate + ',' + gbkHost + ',' + gbkEvent + ",\r\n" + "'2024-03-01 08:05:09,10.0.0.5,"
               + gbkMainsFailed + ",\r\n" + "'2024-03-01 08:00:00,10.0.0.6," + gbkBatteryLow + ",\r\n");
    QTest::newRow("comma, quote and line break inside a text keep it one field")
        << englishHeaders()
        << QVector<QVector<QString>> {{QStringLiteral("2024-03-01 08:05:09"), QStringLiteral("10.0.0.5"),
               QStringLiteral("Mains failed, on \"battery\"\nnow")}}
        << QByteArray("Date,Host address,Event,\r\n'2024-03-01 08:05:09,10.0.0.5,\"Mains failed, on "
                      "\"\"battery\"\"\nnow\",\r\n");
    QTest::newRow("empty table gives the header line alone")
        << englishHeaders() << QVector<QVector<QString>> {} << QByteArray("Date,Host address,Event,\r\n");
    QTest::newRow("missing items write nothing, empty texts keep their comma")
        << QVector<QString> {QStringLiteral("Date"), QString(), QStringLiteral("Event")}
        << QVector<QVector<QString>> {{QStringLiteral("2024-03-01 08:05:09"), QString(), QStringLiteral("")},
               {QString(), QStringLiteral("10.0.0.7"), QStringLiteral("x")}}
        << QByteArray("Date,Event,\r\n'2024-03-01 08:05:09,,\r\n10.0.0.7,x,\r\n");
}

void TestLogExport::csvContent()
{
    QFETCH(QVector<QString>, headers);
    QFETCH(QVector<QVector<QString>>, rows);
    QFETCH(QByteArray, expected);
    const QString path = m_dir.filePath(QStringLiteral("content.csv"));
    QVERIFY(writeCsv(ExportTable {headers, rows}, path));
    QCOMPARE(readAll(path), expected);
}

void TestLogExport::csvUnwritablePath()
{
    // Each failure says why, in the system's words.
    QString why;
    const QString path = m_dir.filePath(QStringLiteral("no/such/dir/log.csv"));
    QVERIFY(!writeCsv(ExportTable {englishHeaders(), {}}, path, &why));
    QVERIFY(!QFile::exists(path));
    QVERIFY2(why.contains(QStringLiteral("No such file or directory")), qPrintable(why));
    // A directory in place of the file cannot be opened either.
    why.clear();
    QVERIFY(!writeCsv(ExportTable {englishHeaders(), {}}, m_dir.path(), &why));
    QVERIFY(!why.isEmpty());
    // A device that takes nothing is no success, though it opens.
    why.clear();
    QVERIFY(!writeCsv(ExportTable {englishHeaders(), {}}, QStringLiteral("/dev/full"), &why));
    QCOMPARE(why, QStringLiteral("No space left on device"));
}

void TestLogExport::csvReplacesOldContent()
{
    const QString path = m_dir.filePath(QStringLiteral("old.csv"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    QVERIFY(writeCsv(ExportTable {englishHeaders(), {}}, path));
    QCOMPARE(readAll(path), QByteArray("Date,Host address,Event,\r\n"));
}

void TestLogExport::columnNames_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1") << 1 << QString() << QStringLiteral("A");
    QTest::newRow("3 in front of a row number") << 3 << QStringLiteral("26") << QStringLiteral("C26");
    QTest::newRow("26") << 26 << QString() << QStringLiteral("Z");
    QTest::newRow("27") << 27 << QString() << QStringLiteral("AA");
    QTest::newRow("28") << 28 << QString() << QStringLiteral("AB");
    QTest::newRow("52") << 52 << QString() << QStringLiteral("AZ");
    QTest::newRow("53") << 53 << QString() << QStringLiteral("BA");
    QTest::newRow("702") << 702 << QString() << QStringLiteral("ZZ");
    QTest::newRow("703") << 703 << QString() << QStringLiteral("AAA");
    QTest::newRow("16384, the last column") << 16384 << QStringLiteral("1") << QStringLiteral("XFD1");
    QTest::newRow("0 adds nothing") << 0 << QStringLiteral("7") << QStringLiteral("7");
}

void TestLogExport::columnNames()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(columnName(number, name), expected);
}

void TestLogExport::workbookContent_data()
{
    QTest::addColumn<int>("rowCount");
    QTest::addColumn<QString>("range");
    QTest::newRow("no rows") << 0 << QStringLiteral("A1:C1");
    QTest::newRow("one row") << 1 << QStringLiteral("A1:C2");
    QTest::newRow("25 rows") << 25 << QStringLiteral("A1:C26");
}

void TestLogExport::workbookContent()
{
    QFETCH(int, rowCount);
    QFETCH(QString, range);
    ExportTable table {chineseHeaders(), {}};
    for (int i = 0; i < rowCount; ++i) {
        // The last row has an event without text: its cell must still be part of the used range.
        const QString event
            = i == rowCount - 1 && rowCount > 1 ? QStringLiteral("") : QStringLiteral(u"市电故障 %1").arg(i);
        table.rows.append({QStringLiteral("2024-03-01 08:%1:09").arg(59 - i, 2, 10, QLatin1Char('0')),
            QStringLiteral("10.0.0.%1").arg(i + 1), event});
    }
    const QString path = m_dir.filePath(QStringLiteral("content-%1.xlsx").arg(rowCount));
    QVERIFY(writeXlsx(table, path));

    const QJsonObject book = readWorkbook(path);
    QVERIFY2(!book.isEmpty(), "openpyxl could not read the workbook");
    QCOMPARE(book.value(QStringLiteral("range")).toString(), range);
    const QJsonArray rows = book.value(QStringLiteral("rows")).toArray();
    QCOMPARE(rows.size(), rowCount + 1);
    for (int column = 0; column < 3; ++column)
        QCOMPARE(rows.at(0).toArray().at(column).toArray().at(0).toString(), table.headers.at(column));
    for (int r = 0; r < rowCount; ++r) {
        const QJsonArray cells = rows.at(r + 1).toArray();
        QCOMPARE(cells.size(), 3);
        for (int column = 0; column < 3; ++column) {
            const QJsonArray cell = cells.at(column).toArray();
            const QString text = table.rows.at(r).at(column);
            if (text.isEmpty()) {
                QVERIFY(cell.at(0).isNull());
                continue;
            }
            // Text cells hold the text itself; an address or date is not turned into a number or a date.
            QCOMPARE(cell.at(0).toString(), text);
            QCOMPARE(cell.at(1).toString(), QStringLiteral("s"));
        }
    }
}

void TestLogExport::workbookReplacesExistingTarget()
{
    const QString path = m_dir.filePath(QStringLiteral("replace.xlsx"));
    ExportTable big {englishHeaders(), {}};
    for (int i = 0; i < 10; ++i)
        big.rows.append({QStringLiteral("2024-01-01 00:00:00"), QStringLiteral("10.0.0.1"), QStringLiteral("old")});
    QVERIFY(writeXlsx(big, path));
    QVERIFY(writeXlsx(
        ExportTable {englishHeaders(), {{QStringLiteral("d"), QStringLiteral("h"), QStringLiteral("new")}}}, path));
    QJsonObject book = readWorkbook(path);
    QCOMPARE(book.value(QStringLiteral("range")).toString(), QStringLiteral("A1:C2"));
    QCOMPARE(book.value(QStringLiteral("sheets")).toInt(), 1);

    // A target that is no workbook at all is replaced as well.
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("not a workbook");
    }
    QVERIFY(writeXlsx(ExportTable {englishHeaders(), {}}, path));
    book = readWorkbook(path);
    QCOMPARE(book.value(QStringLiteral("range")).toString(), QStringLiteral("A1:C1"));

    // An export that fails (a text longer than a cell may hold) leaves the workbook that was there, and no
    // half-written file beside it.
    QString why;
    QVERIFY(!writeXlsx(
        ExportTable {englishHeaders(), {{QStringLiteral("d"), QStringLiteral("h"), QString(40000, QLatin1Char('x'))}}},
        path, &why));
    QCOMPARE(why, QStringLiteral("a cell could not be written"));
    book = readWorkbook(path);
    QCOMPARE(book.value(QStringLiteral("range")).toString(), QStringLiteral("A1:C1"));
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("replace.xlsx*")}, QDir::Files),
        QStringList {QStringLiteral("replace.xlsx")});
}

void TestLogExport::workbookUnwritablePath()
{
    const QString path = m_dir.filePath(QStringLiteral("no/such/dir/log.xlsx"));
    QString why;
    QVERIFY(!writeXlsx(ExportTable {englishHeaders(), {}}, path, &why));
    QVERIFY(!QFile::exists(path));
    QVERIFY2(why.contains(QStringLiteral("No such file or directory")), qPrintable(why));
}

QTEST_GUILESS_MAIN(TestLogExport)
#include "tst_logexport.moc"
