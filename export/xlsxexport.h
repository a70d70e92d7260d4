#pragma once

#include <QString>

struct ExportTable;

// The workbook writer: the first worksheet gets the header row in row 1 and one row per table row below it,
// every cell a text cell, A1 to the column of the last header and row rowCount + 1. A file at the path is
// replaced only when the workbook is whole. False when the workbook cannot be built or saved, with the reason in
// why when given.
bool writeXlsx(const ExportTable &table, const QString &path, QString *why = nullptr);
