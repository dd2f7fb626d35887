#pragma once

#include <QDateTime>

// The wall clock by which the relay dates what it shows (page log blocks,
// the daily page log file) and decides (when a failed SMS is tried again).
// Tests install a clock of their own to set the time.
class Clock
{
public:
    virtual ~Clock() = default;

    static QDateTime now();
    static QDateTime nowUtc() { return now().toUTC(); }

protected:
    Clock() = default;
    virtual QDateTime currentDateTime() const = 0;
    // The clock in use until it is uninstalled (nullptr: the system's).
    static void install(Clock *clock);
};
