#pragma once

#include "pickup/ModemPool.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class Gateway;
class SmsRoute;
struct SendOutcome;

// Every way out for SMS that the dispatcher may use: the desk's modems
// and, where it has one, its gateway; the gateway alone on a desk that
// sends through it only. Modems are offered first, the gateway after them.
class Routes : public QObject
{
    Q_OBJECT

public:
    Routes(ModemPool &modems, Gateway &gateway, QObject *parent = nullptr);

    ModemPool &modems() const { return m_modems; }
    Gateway &gateway() const { return m_gateway; }
    // Whether the modems are used at all.
    bool modemsUsed() const;
    // What the modems are, where they are used: none on a desk that sends
    // by its gateway alone.
    QList<ModemPool::Status> usedModemStatuses() const;
    // How many routes there are to send by.
    int count() const;

    // A route that may take an SMS now, other than those of `excluded`.
    SmsRoute *freeRoute(const QSet<SmsRoute *> &excluded) const;
    // Whether a route in service is left that is not in `excluded`, free
    // or not: an SMS that failed on those may still go another way.
    bool anyOtherInService(const QSet<SmsRoute *> &excluded) const;
    // What became of a try on `route`.
    void tried(SmsRoute *route, const SendOutcome &outcome);
    // Some route may take SMS.
    bool anyUp() const { return firstUp() != nullptr; }
    // The first route that may take SMS, busy or not: a modem, else the
    // gateway; null for none.
    SmsRoute *firstUp() const;
    // The route the page log names so ("COM2", "gateway"); null for none.
    SmsRoute *route(const QString &name) const;

signals:
    // A route has room again: an SMS may go there.
    void routeFreed();

private:
    SmsRoute *gatewayRoute() const;

    ModemPool &m_modems;
    Gateway &m_gateway;
};
