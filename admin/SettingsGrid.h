#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QTableWidget;

// The two grids of the Settings window: a header row above one row per
// record, sizes given in twips like the rest of the window's layout. Rows
// here count the records from 0; the header is not one of them.
namespace SettingsGrid {

constexpr int TwipsPerPixel = 15;
// A column just wide enough for its header text.
constexpr int FitHeader = -1;

// Header texts and height, and the column widths, all set afresh.
void dress(QTableWidget &grid, const QStringList &headers, int headerTwips, const QList<int> &widthTwips);

// The text of a cell; empty for a blank cell or a row that is not there.
QString text(const QTableWidget &grid, int row, int column);
void setText(QTableWidget &grid, int row, int column, const QString &text);

// Before anything is selected the current row is the first one.
void keepCurrentRow(QTableWidget &grid);

} // namespace SettingsGrid
