#pragma once

#include "store/Outbox.h"

#include <QList>
#include <QObject>
#include <QTimer>

class RouteSet;

// Status.json in the program folder, for a desk's monitoring (Nagios,
// Zabbix, a script) to watch the relay without a screen:
//   {"updated": "...", "modems": [{"port": 1, "state": "up", "reason": "",
//    "signal_dbm": -71, "operator": "..."}], "waiting": 0, "retrying": 0,
//    "given_up_24h": 0, "last_alert": "..." or null, "gateway": null or
//    {"host": "...", "state": "up", "reason": ""}, "unconfirmed": 0,
//    "not_delivered_24h": 0, "oldest_waiting": "..." or null, "flooding":
//    [{"folder": "...", "robot": "...", "alerts_10min": 150}],
//    "unacknowledged": {"count": 0, "nobody_acknowledged": 0, "oldest_code": 3,
//    "oldest_age_s": 600}, "incoming_24h": 0}
// where oldest_waiting is when the oldest alert still to go out was taken,
// flooding names the robots that write too much right now, unacknowledged
// counts the alerts sent that nobody acknowledged (the oldest code and its
// age where alerts are escalated), and incoming_24h the SMS the phones sent.
// Written whole to a file beside it and renamed over it, so that whoever
// reads it finds a whole file, also after a kill; on every change of state
// and at least every EveryMs.
class StatusFile : public QObject
{
    Q_OBJECT

public:
    static constexpr auto FileName = "Status.json";
    static constexpr int EveryMs = 60000;

    StatusFile(Outbox &outbox, RouteSet &routes, QObject *parent = nullptr);

    void start();
    // Written soon; many changes at once give one write.
    void changed();
    void write();
    void setFlooding(const QList<Outbox::Flooding> &robots);

private:
    Outbox &m_outbox;
    RouteSet &m_routes;
    QTimer m_every;
    QTimer m_soon;
    QList<Outbox::Flooding> m_flooding;
};
