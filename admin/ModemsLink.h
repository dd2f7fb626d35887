#pragma once

#include "modem/ModemTestJob.h"
#include "pickup/Gateway.h"
#include "pickup/ModemPool.h"

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QTime>

#include <functional>

class QObject;

// What the Modems window may ask of the relay: the desk's modems with
// their state, and the few changes an administrator makes to them.
class ModemsLink
{
public:
    virtual ~ModemsLink() = default;

    virtual QList<ModemPool::Status> modemStatuses() const = 0;
    // False when the desk has a modem on that port already. Failures of
    // Config.mdb are thrown as DbError.
    virtual bool addModem(short port, const QString &baud) = 0;
    virtual void removeModem(short port) = 0;
    virtual void setModemInService(short port, bool inService) = 0;
    virtual void testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done) = 0;
    virtual void setModemPin(short port, const QString &pin) = 0;
    virtual void setModemResetCommand(short port, const QString &command) = 0;
    // The daily heartbeat's time; invalid: off.
    virtual QTime heartbeat() const = 0;
    virtual void setHeartbeat(const QTime &at) = 0;
    // Whether every SMS asks for a delivery report.
    virtual bool deliveryReports() const = 0;
    virtual void setDeliveryReports(bool on) = 0;
    // The gateway: an empty URL removes it.
    virtual Gateway::Status gatewayStatus() const = 0;
    virtual void setGateway(const QString &url) = 0;
    virtual void setGatewayOnly(bool only) = 0;
    // `changed` is called, in `context`, whenever the modems change.
    virtual QMetaObject::Connection whenModemsChange(QObject *context, const std::function<void()> &changed) = 0;
};
