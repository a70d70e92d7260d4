#pragma once

#include <QString>
#include <QVector>

// A plain copy of what the event log table shows, taken on the GUI thread so that a writer on another thread
// never touches a widget. A null QString stands for a missing item; an empty one is an item without text.
struct ExportTable
{
    QVector<QString> headers;
    QVector<QVector<QString>> rows; // each row has headers.size() entries

    int columnCount() const { return headers.size(); }
    int rowCount() const { return rows.size(); }
};

// GBK text, CR LF, every present item followed by ",", the date column led by an apostrophe so that
// spreadsheet programs keep it as text; a field with a separator, quote or line break is quoted. A regular file
// is written beside its target and replaces it only when whole; a device is written directly. False when the
// file cannot be opened or written, with the system's reason in why when given.
bool writeCsv(const ExportTable &table, const QString &path, QString *why = nullptr);

// The A1-notation name of the 1-based column n, put in front of name (1 gives "A", 27 "AA").
QString columnName(int n, const QString &name = QString());
