#pragma once

#include <QString>

struct ExportTable;

// The workbook writer: the first worksheet gets the header row in row 1 and one row per table row below it,
// every cell a text cell, A1 to the column of the last header and row rowCount + 1. A file at the path is
// removed first. False when the workbook cannot be built or saved.
bool writeXlsx(const ExportTable &table, const QString &path);
