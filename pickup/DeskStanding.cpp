#include "pickup/DeskStanding.h"

#include "modem/SmsReporter.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"

DeskStanding DeskStanding::gather(Outbox &outbox, const RouteSet &routes)
{
    DeskStanding standing;
    standing.routes = routes.statuses();
    try {
        standing.outbox = outbox.standing(Clock::nowUtc().addSecs(-SmsReporter::GivenUpShownSecs));
        standing.unacknowledged = outbox.unacknowledgedStanding();
        standing.incoming24h = outbox.incomingSince(Clock::nowUtc().addDays(-1));
        standing.outboxRead = true;
    } catch (const DbError &) {
        // Said where the outbox failed.
    }
    return standing;
}
