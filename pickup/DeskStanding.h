#pragma once

#include "route/RouteStatus.h"
#include "store/Outbox.h"

#include <QList>

class RouteSet;

// How the desk stands at one moment, as Status.json and the metrics page
// tell it: each route in use, and the outbox's figures, the SMS given up
// and not delivered counted over the last 24 hours.
struct DeskStanding {
    QList<RouteStatus> routes;
    Outbox::Standing outbox;
    // Alerts waiting for an acknowledgement, and SMS the phones sent in the
    // last 24 hours.
    Outbox::Unacknowledged unacknowledged;
    int incoming24h = 0;
    // False where the outbox could not be read (said where it failed):
    // its figures are then zero, while the routes are still worth telling.
    bool outboxRead = false;

    static DeskStanding gather(Outbox &outbox, const RouteSet &routes);
};
