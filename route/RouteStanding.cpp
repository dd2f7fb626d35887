#include "route/RouteStanding.h"

RouteStanding::RouteStanding(const RoutePolicy &policy, bool inService)
    : m_policy(policy)
    , m_state(inService ? RouteState::InService : RouteState::OutOfService)
{
}

RouteStanding::Change RouteStanding::tried(const SendOutcome &outcome, bool othersInService)
{
    if (outcome.sent) {
        m_failuresInARow = 0;
        if (m_state != RouteState::OnTrial)
            return Change::None;
        m_state = RouteState::InService;
        m_reason.clear();
        return Change::Back;
    }
    using Failure = SendOutcome::Failure;
    // A refusal about the number says nothing of the route.
    if (outcome.failure == Failure::Destination || !mayTake())
        return Change::Changed;
    if (m_state == RouteState::OnTrial)
        return setAside(outcome.reason); // asked again at the next probe
    ++m_failuresInARow;
    const bool unreachable = outcome.failure == Failure::NoAnswer || outcome.failure == Failure::Port;
    const bool failing =
        (unreachable && m_policy.setAsideWhenUnreachable) || m_failuresInARow >= m_policy.failuresToSetAside;
    if (failing && (othersInService || m_policy.setAsideWhenAlone))
        return setAside(outcome.reason);
    return Change::Changed;
}

RouteStanding::Change RouteStanding::setAside(const QString &reason)
{
    m_state = RouteState::SetAside;
    m_reason = reason;
    m_failuresInARow = 0;
    return Change::SetAside;
}

RouteStanding::Change RouteStanding::probed(bool answered)
{
    switch (m_state) {
    case RouteState::SetAside:
        // It answers: the next SMS goes there, and puts it back in service.
        if (!answered)
            return Change::None;
        m_state = RouteState::OnTrial;
        return Change::Trial;
    case RouteState::OnTrial:
        // No SMS came to try it: its answer alone takes it back.
        if (answered) {
            m_state = RouteState::InService;
            m_reason.clear();
            return Change::Back;
        }
        m_state = RouteState::SetAside;
        return Change::Changed;
    case RouteState::InService:
    case RouteState::Down:
    case RouteState::OutOfService:
        break;
    }
    return Change::None;
}

RouteStanding::Change RouteStanding::setDown(const QString &reason)
{
    m_downReason = reason;
    if (m_state == RouteState::OutOfService)
        return Change::None;
    const bool already = m_state == RouteState::Down;
    m_state = RouteState::Down;
    m_reason = reason;
    return already ? Change::Changed : Change::Down;
}

RouteStanding::Change RouteStanding::setUp()
{
    m_downReason.clear();
    if (m_state != RouteState::Down)
        return Change::None;
    m_state = RouteState::InService;
    m_reason.clear();
    m_failuresInARow = 0;
    return Change::Up;
}

RouteStanding::Change RouteStanding::setInService(bool inService)
{
    m_failuresInARow = 0;
    if (!inService) {
        if (m_state == RouteState::OutOfService)
            return Change::None;
        m_state = RouteState::OutOfService;
        m_reason.clear();
        return Change::Changed;
    }
    if (m_state != RouteState::OutOfService)
        return Change::None;
    m_state = m_downReason.isEmpty() ? RouteState::InService : RouteState::Down;
    m_reason = m_downReason;
    return Change::Changed;
}
