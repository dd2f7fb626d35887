#pragma once

#include "modem/HealthRound.h"
#include "modem/SmsRoute.h"
#include "route/RouteStanding.h"
#include "route/RouteStatus.h"
#include "route/SentToday.h"
#include "store/ModemTable.h"

#include <QObject>
#include <QTimer>

#include <memory>

class GatewayRoute;
class ModemLine;
class PageLog;
class TraceList;

// A route: a way out for SMS (a modem's line, or the gateway) and how it
// stands. While it is set aside, down or on trial it is probed on a timer,
// whatever happened last, so that no standing lasts without a way out:
// a route set aside or on trial is asked whether it answers; a modem that
// is down has a health round asked for.
class Route : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultProbeMs = 60000;

    // A modem's route; it keeps its line.
    Route(std::unique_ptr<ModemLine> line, const ModemTable::Modem &options, PageLog &pageLog,
          QObject *parent = nullptr);
    // The gateway's route.
    Route(std::unique_ptr<GatewayRoute> gateway, PageLog &pageLog, TraceList &trace, QObject *parent = nullptr);
    // A route over a transport its caller keeps (tests of the route layer).
    Route(SmsRoute &transport, const RoutePolicy &policy, PageLog &pageLog, QObject *parent = nullptr);
    ~Route() override;

    QString name() const;
    SmsRoute &transport() const { return *m_transport; }
    // Its line, for a modem; null for the gateway.
    ModemLine *line() const { return m_line; }
    GatewayRoute *gateway() const { return m_gateway; }

    RouteState state() const { return m_standing.state(); }
    bool mayTake() const { return m_standing.mayTake(); }
    // It may take an SMS now.
    bool free() const;
    bool inService() const { return state() != RouteState::OutOfService; }
    RouteStatus status() const;

    // What Config.mdb keeps for a modem (PIN, reset command ...).
    const ModemTable::Modem &options() const { return m_options; }
    void setOptions(const ModemTable::Modem &options) { m_options = options; }

    // How a try on it ended; `othersInService`: another route may cover.
    void tried(const SendOutcome &outcome, bool othersInService);
    // A modem's health: what its round found, and its verdict.
    void setHealth(const ModemHealth &health);
    void setDown(const QString &reason);
    void setUp();
    // An administrator's word; a modem's line is let go or taken back
    // into service with it, where `open` says the line is in use.
    void setInService(bool inService, bool open);

    void setProbeMs(int ms);
    // A probe is due on a timer: every standing but in service and out of
    // service has one.
    bool probeScheduled() const { return m_probe.isActive(); }

    // Lets go of its transport, before the route goes: the transport is
    // deleted once what is under way on it has ended.
    void retire();

signals:
    // Its standing or what it shows changed.
    void changed();
    // It may take SMS again, or has room for another.
    void freed();
    // Set aside: "Modem COM2 set aside: REASON".
    void setAside(const QString &text);
    // It answers again after it was set aside.
    void back();
    // A modem's health wants looking at now: it fell silent, or is down
    // and due its probe.
    void healthWanted();

private:
    Route(SmsRoute *transport, const RoutePolicy &policy, bool inService, PageLog &pageLog, QObject *parent);
    void apply(RouteStanding::Change change);
    void probe();
    // "Modem COM2", "Gateway".
    QString title() const;

    SmsRoute *m_transport = nullptr;
    ModemLine *m_line = nullptr;
    GatewayRoute *m_gateway = nullptr;
    std::unique_ptr<QObject> m_owned; // the transport
    RouteStanding m_standing;
    PageLog &m_pageLog;
    TraceList *m_trace = nullptr;
    ModemTable::Modem m_options;
    ModemHealth m_health;
    QString m_lastError;
    SentToday m_sentToday;
    QTimer m_probe;
    bool m_probing = false;
};
