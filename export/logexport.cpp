#include "export/logexport.h"

#include <QFile>
#include <QTextCodec>
#include <QTextStream>

// Any thread: keeps all state in locals.
bool writeCsv(const ExportTable &table, const QString &path)
{
    QFile file(path);
    // Line ends are written as CR LF by hand, so the device stays binary on every platform.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream stream(&file);
    stream.setCodec(QTextCodec::codecForName("GBK"));
    stream.setGenerateByteOrderMark(false);

    const QLatin1String lineEnd("\r\n");
    for (const QString &header : table.headers) {
        if (!header.isNull())
            stream << header << ',';
    }
    stream << lineEnd;
    for (const QVector<QString> &row : table.rows) {
        for (int column = 0; column < row.size(); ++column) {
            const QString &cell = row.at(column);
            if (cell.isNull())
                continue;
            if (column == 0)
                stream << '\'';
            stream << cell << ',';
        }
        stream << lineEnd;
    }
    stream.flush();
    file.close();
    return true;
}

QString columnName(int n, const QString &name)
{
    QString result = name;
    while (n > 0) {
        const int digit = (n - 1) % 26;
        result.prepend(QChar(u'A' + digit));
        n = (n - 1) / 26;
    }
    return result;
}
