#pragma once

#include <QStringList>

// The Mt4Path table as the Settings window keeps it: the folders in which
// MT4 terminals leave their alert files, each spelled as it was chosen.
// Each call opens and releases a connection of its own; a failure is thrown
// as DbError.
namespace PathTable {

// Every folder, in the order they were added.
QStringList rows();

// Appends a folder; one stored already is stored again.
void add(const QString &folder);

bool isEmpty();

// Removes every row of the folder spelled exactly so, letter case counted.
void removeFolder(const QString &folder);

} // namespace PathTable
