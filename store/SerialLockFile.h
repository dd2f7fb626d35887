#pragma once

#include <QString>

// The lock file QSerialPort makes for a device while it holds it open.
namespace SerialLockFile {

// A lock file is written in two steps, made and then filled with its
// owner's process number; a program killed between the two leaves an empty
// file that bars the device for half a minute. Removes such a file for
// `device` when it is older than a moment; true when one was removed.
bool removeUnfinished(const QString &device);

} // namespace SerialLockFile
