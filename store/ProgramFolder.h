#pragma once

#include <QString>

// The folder the program lives in: Config.mdb, the ALARM history files and
// the COMn device links are found here. It is the executable's folder unless
// something (a test, the demo) points it elsewhere before start-up.
namespace ProgramFolder {

QString path();
void set(const QString &folder);

// A file name inside the program folder.
QString file(const QString &name);

} // namespace ProgramFolder
