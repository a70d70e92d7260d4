#include "export/xlsxexport.h"

#include "export/logexport.h"

#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <xlsxwriter.h>

namespace {
// A missing item still has to occupy its cell, or the used range of the sheet would shrink. The library drops
// blank cells without a format, so blanks carry the workbook's plain format.
bool writeCell(lxw_worksheet *sheet, lxw_format *blank, int row, int column, const QString &text)
{
    if (text.isEmpty())
        return worksheet_write_blank(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column), blank)
            == LXW_NO_ERROR;
    // A string cell is text already, so the apostrophe a spreadsheet needs to keep a typed value as text would
    // only show up as part of the content here; it is not written.
    const QByteArray utf8 = text.toUtf8();
    return worksheet_write_string(
               sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column), utf8.constData(), nullptr)
        == LXW_NO_ERROR;
}
} // namespace

// Any thread: the workbook lives in locals from creation to close.
bool writeXlsx(const ExportTable &table, const QString &path, QString *why)
{
    const auto failed = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    // The workbook is written beside the target and takes its place only when whole: a failed export leaves the
    // workbook that was there as it was.
    QString partial;
    {
        QTemporaryFile reserve(path + QStringLiteral(".partial-XXXXXX"));
        reserve.setAutoRemove(false);
        if (!reserve.open())
            return failed(reserve.errorString());
        partial = reserve.fileName();
    }
    const QByteArray fileName = QFile::encodeName(partial);
    lxw_workbook *workbook = workbook_new(fileName.constData());
    if (!workbook) {
        QFile::remove(partial);
        return failed(QStringLiteral("the workbook could not be created"));
    }
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_format *blank = workbook_add_format(workbook);
    bool written = sheet && blank;

    for (int column = 0; written && column < table.columnCount(); ++column)
        written = writeCell(sheet, blank, 0, column, table.headers.at(column));
    for (int row = 0; written && row < table.rowCount(); ++row) {
        const QVector<QString> &cells = table.rows.at(row);
        for (int column = 0; written && column < table.columnCount(); ++column)
            written = writeCell(sheet, blank, row + 1, column, column < cells.size() ? cells.at(column) : QString());
    }

    // Closing writes the file and frees the workbook, also after a failed cell.
    errno = 0;
    const lxw_error saved = workbook_close(workbook);
    // The library names its own step; the system's reason (a full disk) is in errno.
    const int error = errno;
    QString reason;
    if (!written)
        reason = QStringLiteral("a cell could not be written");
    else if (saved != LXW_NO_ERROR)
        reason = error ? QString::fromLocal8Bit(std::strerror(error)) : QString::fromLatin1(lxw_strerror(saved));
    else if (::rename(fileName.constData(), QFile::encodeName(path).constData()) != 0)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    if (!reason.isEmpty()) {
        QFile::remove(partial);
        return failed(reason);
    }
    return true;
}
