#pragma once

#include "store/Outbox.h"

#include <QString>
#include <QStringList>

// Alert files on disk. A robot writes "Sms.csv" in its folder; the relay
// takes it by renaming it inside the folder to a taken name of its own, so
// that a robot writing afterwards starts a new Sms.csv instead of adding to
// one that is being read. A taken file is read into the outbox and removed.
namespace AlertFile {

// The names in a folder, matched without regard to letter case as the
// robots' own platform matches them.
struct Names {
    QStringList alertFiles; // Sms.csv however spelled
    QStringList takenFiles; // taken before, oldest first
};

// Lists a watched folder. False when it cannot be listed; `reason` says why.
// A folder that does not exist lists empty without complaint.
bool list(const QString &folder, Names &names, QString *reason);

// A fresh taken name for the alert file `name` of `folder`; taken names
// sort in the order they were taken.
QString newTakenName(const QString &folder, const QString &name);

// Which file a path names, and whether it is a plain file.
bool identify(const QString &file, Outbox::FileId &id, bool &plainFile);

// Some process still has the file open for writing: a robot in the middle
// of writing its lines, which keeps writing into the taken file after the
// rename. False where the system cannot tell.
bool openForWriting(const QString &file);

} // namespace AlertFile
