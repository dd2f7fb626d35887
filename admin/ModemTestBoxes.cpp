#include "admin/ModemTestBoxes.h"

#include "store/CommError.h"
#include "store/MessageBoxes.h"

bool showModemTestResult(const ModemTestJob::Result &result)
{
    if (result.portError != 0) {
        CommError(result.portError, result.portErrorText).report();
        return false;
    }
    MsgBox(result.answered ? QStringLiteral("Modem Test is OK") : QStringLiteral("Modem No Response."));
    return result.answered;
}
