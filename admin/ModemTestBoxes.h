#pragma once

#include "modem/ModemTestJob.h"

// Says how a modem test ended, in a box: the port's error, "Modem No
// Response." or "Modem Test is OK". True for the last.
bool showModemTestResult(const ModemTestJob::Result &result);
