#include "export/logexport.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextCodec>
#include <QTextStream>

#include <memory>

namespace {
// A text with a separator, a quote or a line break in it would move the columns after it; quoted as CSV
// readers expect, with its quotes doubled, it stays one field.
QString field(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
} // namespace

// Any thread: keeps all state in locals.
bool writeCsv(const ExportTable &table, const QString &path, QString *why)
{
    // A failed export leaves the file that was there as it was; a device or pipe has no "beside".
    const QFileInfo target(path);
    std::unique_ptr<QFileDevice> device;
    if (target.exists() && !target.isFile() && !target.isDir())
        device = std::make_unique<QFile>(path);
    else
        device = std::make_unique<QSaveFile>(path);
    QFileDevice &file = *device;
    const auto failed = [&file, why] {
        if (why)
            *why = file.errorString();
        if (auto *save = qobject_cast<QSaveFile *>(&file))
            save->cancelWriting();
        return false;
    };
    // Line ends are written as CR LF by hand, so the device stays binary on every platform.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return failed();
    QTextStream stream(&file);
    stream.setCodec(QTextCodec::codecForName("GBK"));
    stream.setGenerateByteOrderMark(false);

    const QLatin1String lineEnd("\r\n");
    for (const QString &header : table.headers) {
        if (!header.isNull())
            stream << field(header) << ',';
    }
    stream << lineEnd;
    for (const QVector<QString> &row : table.rows) {
        for (int column = 0; column < row.size(); ++column) {
            const QString &cell = row.at(column);
            if (cell.isNull())
                continue;
            if (column == 0)
                stream << '\'';
            stream << field(cell) << ',';
        }
        stream << lineEnd;
    }
    // A full disk or a failing device shows only when the buffers go out: that is no success.
    stream.flush();
    if (stream.status() != QTextStream::Ok || !file.flush() || file.error() != QFileDevice::NoError)
        return failed();
    if (auto *save = qobject_cast<QSaveFile *>(&file)) {
        if (!save->commit())
            return failed();
        return true;
    }
    file.close();
    return file.error() == QFileDevice::NoError || failed();
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
