#pragma once

#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "support/TestRelay.h"

// The send of the Test Message page on its own: the relay of the current
// program folder, not polling, with its page log and trace, and a send that
// returns once the modem's engine has tried it.
struct TestSender {
    explicit TestSender(int timeUnitMs = 1200);

    // Sends as the Test Message page does and waits until it has been tried.
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);
    // The engine's port from now on, with the line settings as they are.
    void usePort(short port);

    TestRelay relay;
    PageLog &pageLog;
    TraceList &trace;
};
