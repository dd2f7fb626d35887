#pragma once

#include <functional>

// Runs the event loop until `done()` holds or `ms` have passed; true when
// it holds. The loop sleeps until something happens, so what runs meanwhile
// (a modem's engine, its timers) goes at full speed, unlike QTest::qWait,
// which naps 10 ms at a time between its rounds of events.
bool runUntil(const std::function<bool()> &done, int ms);
