#include "store/Clock.h"

namespace {
Clock *&installed()
{
    static Clock *clock = nullptr;
    return clock;
}
} // namespace

QDateTime Clock::now()
{
    const Clock *clock = installed();
    return clock ? clock->currentDateTime() : QDateTime::currentDateTime();
}

void Clock::install(Clock *clock)
{
    installed() = clock;
}
