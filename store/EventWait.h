#pragma once

#include <QtGlobal>

#include <functional>

// The one way the program waits: in the event loop, asleep until an event
// arrives or the time is up (measured on a monotonic clock), never spinning.
// What may run during a wait is chosen by the caller:
//
// - EveryEvent: a wait the user started himself (the modem test's 300 ms,
//   the 100 ms after "OK"); clicks, ticks and the port's notifications all
//   run.
// - NoUserInput: a modem dialogue. The port's notifications, timers,
//   signals and repaints run; clicks and keys wait until the dialogue has
//   ended, so that no window or message box opened meanwhile, with an event
//   loop of its own, can hold the dialogue up. Of what does run, a tick is
//   kept out by the relay's guard (a cycle under way) and a second send by
//   the sender's (one dialogue at a time).
namespace EventWait {

enum Events { EveryEvent, NoUserInput };

// Waits until `done()` is true, tested before the clock so that an answer
// handled in the last pass still counts, or until `ms` have passed. True
// when `done()` became true.
bool until(const std::function<bool()> &done, qint64 ms, Events events);

} // namespace EventWait
