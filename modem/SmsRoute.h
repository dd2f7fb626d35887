#pragma once

#include "modem/CallOutcome.h"
#include "modem/IncomingSms.h"
#include "modem/SmsSendJob.h"

#include <QString>

#include <functional>

// A way out for SMS: a modem's line (and, where a desk has one, a gateway).
// The dispatcher gives an SMS to a route that is free and learns its
// outcome when the try has ended; a route never waits.
class SmsRoute
{
public:
    virtual ~SmsRoute() = default;

    // "COM1", as the page log names it.
    virtual QString routeName() const = 0;
    // Whether it takes another SMS now.
    virtual bool free() const = 0;
    // Tries one SMS; `done` is called once, after the caller has returned.
    virtual void send(const SmsRequest &request, std::function<void(const SendOutcome &)> done) = 0;
    // Its delivery reports name each SMS by the request's token, which must
    // then be known before the SMS goes (a modem's name them by the
    // references it answers).
    virtual bool reportsByToken() const { return false; }
    // Whether it answers at all, asked of a route that was set aside;
    // `done` is called once, after the caller has returned.
    virtual void probe(const std::function<void(bool answered)> &done) = 0;

    // What a route hears from phones. Each incoming SMS is handed to `keep`,
    // which commits it and says whether it did; only a kept SMS is deleted
    // where the route holds it (a modem's SIM), the others are offered again
    // later. `rang` is told the caller's number of each call, once it was
    // hung up.
    struct Incoming {
        std::function<bool(const QString &route, const IncomingSms &sms)> keep;
        std::function<void(const QString &route, const QString &number)> rang;
        bool on() const { return bool(keep); }
    };
    // From now on the route listens (an Incoming that is not on: it stops,
    // and talks to its device exactly as before).
    virtual void listenToPhones(const Incoming &incoming) { Q_UNUSED(incoming); }

    // Whether it may be asked to ring a phone now.
    virtual bool canCall() const { return false; }
    // Rings `number` as a job of its own, never inside another; `done` is
    // called once, after the caller has returned.
    virtual void call(const QString &number, std::function<void(const CallOutcome &)> done);
};
