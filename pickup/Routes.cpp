#include "pickup/Routes.h"

#include "pickup/Gateway.h"
#include "pickup/ModemPool.h"

Routes::Routes(ModemPool &modems, Gateway &gateway, QObject *parent)
    : QObject(parent)
    , m_modems(modems)
    , m_gateway(gateway)
{
    connect(&m_modems, &ModemPool::routeFreed, this, &Routes::routeFreed);
    connect(&m_gateway, &Gateway::routeFreed, this, &Routes::routeFreed);
}

bool Routes::modemsUsed() const
{
    return !m_gateway.only();
}

QList<ModemPool::Status> Routes::usedModemStatuses() const
{
    return modemsUsed() ? m_modems.statuses() : QList<ModemPool::Status>();
}

int Routes::count() const
{
    return (modemsUsed() ? m_modems.count() : 0) + (m_gateway.configured() ? 1 : 0);
}

SmsRoute *Routes::gatewayRoute() const
{
    return m_gateway.route();
}

SmsRoute *Routes::freeRoute(const QSet<SmsRoute *> &excluded) const
{
    if (modemsUsed()) {
        if (SmsRoute *route = m_modems.freeRoute(excluded))
            return route;
    }
    SmsRoute *gateway = gatewayRoute();
    if (m_gateway.usable() && gateway->free() && !excluded.contains(gateway))
        return gateway;
    return nullptr;
}

bool Routes::anyOtherInService(const QSet<SmsRoute *> &excluded) const
{
    return (modemsUsed() && m_modems.anyOtherInService(excluded))
           || (m_gateway.usable() && !excluded.contains(gatewayRoute()));
}

void Routes::tried(SmsRoute *route, const SendOutcome &outcome)
{
    if (route && route == gatewayRoute())
        m_gateway.tried(outcome);
    else
        m_modems.tried(route, outcome);
}

SmsRoute *Routes::firstUp() const
{
    if (SmsRoute *modem = modemsUsed() ? m_modems.firstUp() : nullptr)
        return modem;
    return m_gateway.usable() ? gatewayRoute() : nullptr;
}

SmsRoute *Routes::route(const QString &name) const
{
    SmsRoute *gateway = gatewayRoute();
    if (gateway && gateway->routeName() == name)
        return gateway;
    return m_modems.route(name);
}
