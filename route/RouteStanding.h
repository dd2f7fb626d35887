#pragma once

#include "modem/SmsRoute.h"

#include <QString>

// What a route may do now. In service and on trial it takes SMS; set aside
// (it failed), down (its health says it cannot send) and on trial it is
// asked on a timer whether it answers; out of service it is left alone
// until an administrator puts it back.
enum class RouteState { InService, OnTrial, SetAside, Down, OutOfService };

// Where the kinds of route differ in how they stand: named here, so that
// one standing serves a modem and the gateway alike.
struct RoutePolicy {
    // Set aside after this many failures in a row that are not the number's.
    int failuresToSetAside = 3;
    // Set aside at once when it cannot be reached at all (no answer, its
    // port or connection gone).
    bool setAsideWhenUnreachable = true;
    // Set aside also when no other route is in service to cover for it: its
    // SMS then wait in the outbox untried rather than spend their tries. A
    // lone modem goes on instead, each SMS tried after its delays.
    bool setAsideWhenAlone = false;

    static RoutePolicy modem() { return {3, true, false}; }
    static RoutePolicy gateway() { return {3, true, true}; }
};

// The standing of one route: a state machine over the outcomes of its tries,
// the answers to its probes, its health and an administrator's word. It
// holds no timer itself; its owner probes it while needsProbe() says so.
class RouteStanding
{
public:
    // What a step changed, for the owner to say.
    enum class Change { None, SetAside, Back, Trial, Down, Up, Changed };

    explicit RouteStanding(const RoutePolicy &policy, bool inService = true);

    RouteState state() const { return m_state; }
    // Why down or set aside.
    QString reason() const { return m_reason; }
    bool mayTake() const { return m_state == RouteState::InService || m_state == RouteState::OnTrial; }
    // Set aside, down and on trial each leave on a probe.
    bool needsProbe() const
    {
        return m_state == RouteState::SetAside || m_state == RouteState::Down || m_state == RouteState::OnTrial;
    }

    // How a try ended; `othersInService`: another route may take its SMS.
    Change tried(const SendOutcome &outcome, bool othersInService);
    // Whether it answered a probe.
    Change probed(bool answered);
    // Its health: down for `reason`, or able to send.
    Change setDown(const QString &reason);
    Change setUp();
    // An administrator's word. Back in service, a route that was down stays
    // so until its health says otherwise.
    Change setInService(bool inService);

private:
    Change setAside(const QString &reason);

    RoutePolicy m_policy;
    RouteState m_state = RouteState::InService;
    QString m_reason;
    QString m_downReason; // kept while out of service
    int m_failuresInARow = 0;
};
