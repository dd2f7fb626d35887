#pragma once

#include <QString>

// Taking an alert file out of a watched folder. The file is first renamed
// inside its folder, so that a robot writing afterwards starts a new
// Sms.csv instead of adding to one that is being read, and so that a file
// which cannot be removed is never read twice.
namespace AlertFile {

enum class Take { Taken, NoFile, FolderGone, Refused };

// The name an alert file has while it is being read.
QString takenName(const QString &path);

// Renames the folder's Sms.csv to its taken name. `reason` says why not.
Take take(const QString &path, QString *reason);

// Some process still has the file open for writing: a robot in the middle of
// writing its lines, which keeps writing into the taken file after the
// rename. False where the system cannot tell.
bool openForWriting(const QString &file);

} // namespace AlertFile
