#pragma once

#include "modem/AlarmSender.h"
#include "modem/PageLog.h"
#include "modem/TraceList.h"

// The send procedure on its own, with the page log and the trace it writes.
struct TestSender {
    explicit TestSender(int timeUnitMs = 1200) { sender.dialogue().setTimeUnitMs(timeUnitMs); }

    PageLog pageLog;
    TraceList trace;
    AlarmSender sender{trace, pageLog};
};
