#pragma once

#include <QString>

// What the program knows about itself: its title, its version and the
// name of its executable.
namespace AppInfo {

QString title(); // "Vantrel"
int major();
int minor();
QString exeName(); // the executable's file name without extension

} // namespace AppInfo
