#pragma once

#include <functional>

// Runs one database operation of the Settings window. A failure ends the
// operation and is shown in a box; the window stays usable.
void DbOperation(const std::function<void()> &operation);
