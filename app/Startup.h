#pragma once

#include <QString>

class frmMain;

namespace Startup {

// Creates and loads the main window. When start-up fails, the error is
// shown with the database's full path and nullptr is returned.
frmMain *loadMainWindow();

// The text shown when start-up fails.
QString failureText(const QString &error);

} // namespace Startup
