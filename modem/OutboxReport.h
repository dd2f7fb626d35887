#pragma once

#include "modem/PageLog.h"

// An outbox that cannot be written is said once in the page log, by the
// intake, the dispatch or the LOG writer alike, until it can be again.
namespace OutboxReport {

inline void failed(PageLog &pageLog, const QString &error)
{
    pageLog.reportOnce(QStringLiteral("outbox"),
                       QStringLiteral("The outbox cannot be written (%1); alert files stay where they are and alerts "
                                      "wait until it can.")
                           .arg(error));
}

inline void works(PageLog &pageLog)
{
    pageLog.clearReport(QStringLiteral("outbox"));
}

} // namespace OutboxReport
