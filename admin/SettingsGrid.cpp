#include "admin/SettingsGrid.h"

#include <QHeaderView>
#include <QTableWidget>

namespace SettingsGrid {

void dress(QTableWidget &grid, const QStringList &headers, int headerTwips, const QList<int> &widthTwips)
{
    grid.setHorizontalHeaderLabels(headers);
    grid.horizontalHeader()->setFixedHeight(headerTwips / TwipsPerPixel);
    for (int column = 0; column < widthTwips.size(); ++column) {
        if (widthTwips[column] != DefaultWidth)
            grid.setColumnWidth(column, widthTwips[column] / TwipsPerPixel);
    }
}

QString text(const QTableWidget &grid, int row, int column)
{
    const QTableWidgetItem *cell = grid.item(row, column);
    return cell ? cell->text() : QString();
}

void setText(QTableWidget &grid, int row, int column, const QString &text)
{
    // The grid owns its cells.
    grid.setItem(row, column, new QTableWidgetItem(text));
}

void keepCurrentRow(QTableWidget &grid)
{
    if (grid.currentRow() < 0 && grid.rowCount() > 0)
        grid.setCurrentCell(0, 0);
}

} // namespace SettingsGrid
