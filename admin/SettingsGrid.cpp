#include "admin/SettingsGrid.h"

#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>

namespace SettingsGrid {

void dress(QTableWidget &grid, const QStringList &headers, int headerTwips, const QList<int> &widthTwips)
{
    QHeaderView &header = *grid.horizontalHeader();
    // Designer gives the grid its columns before the grid joins the window,
    // and from then on its header no longer follows the window's font.
    header.setFont(grid.font());
    grid.setHorizontalHeaderLabels(headers);
    header.setFixedHeight(headerTwips / TwipsPerPixel);
    // The user grid's columns are wider than the grid: a header starts at
    // its column's left edge, and so shows whole in what is left of the last.
    header.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The text, its margins and the line between two headers, no more.
    const int around = 2 * header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header) + 2;
    for (int column = 0; column < widthTwips.size(); ++column) {
        const int width = widthTwips[column] == FitHeader
                              ? header.fontMetrics().horizontalAdvance(headers.value(column)) + around
                              : widthTwips[column] / TwipsPerPixel;
        grid.setColumnWidth(column, width);
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
