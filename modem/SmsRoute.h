#pragma once

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
};
