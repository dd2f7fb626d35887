#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

// Driving a window offscreen by the names of its controls, as a person
// would: finding them, pressing buttons, typing into boxes, reading grids.

// The child of that name; a window without it ends the test program.
template <typename T = QWidget> T *find(const QObject &window, const char *name)
{
    T *child = window.findChild<T *>(QString::fromLatin1(name));
    if (!child)
        qFatal("no %s in the window", name);
    return child;
}

// Presses the buttons one after the other.
template <typename... Names> void click(const QObject &window, const Names *...names)
{
    (find<QPushButton>(window, names)->click(), ...);
}

inline void type(const QObject &window, const char *name, const QString &text)
{
    find<QLineEdit>(window, name)->setText(text);
}

// The texts of one column of a grid, top to bottom; empty for a blank cell.
inline QStringList column(const QObject &window, const char *grid, int column)
{
    auto *table = find<QTableWidget>(window, grid);
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}
