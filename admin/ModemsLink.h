#pragma once

#include "modem/ModemTestJob.h"

#include <QMetaObject>
#include <QString>
#include <QTime>

#include <functional>

class QObject;

// What the Modems window may ask of the relay beside its routes: the modem
// test, the heartbeat, delivery reports, and word of a change.
class ModemsLink
{
public:
    virtual ~ModemsLink() = default;

    virtual void testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done) = 0;
    // The daily heartbeat's time; invalid: off.
    virtual QTime heartbeat() const = 0;
    virtual void setHeartbeat(const QTime &at) = 0;
    // Whether every SMS asks for a delivery report.
    virtual bool deliveryReports() const = 0;
    virtual void setDeliveryReports(bool on) = 0;
    // `changed` is called, in `context`, whenever the modems change.
    virtual QMetaObject::Connection whenModemsChange(QObject *context, const std::function<void()> &changed) = 0;
};
