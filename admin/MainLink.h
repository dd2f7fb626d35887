#pragma once

#include "modem/LineHolder.h"

#include <QString>
#include <functional>

class TraceList;

// What the administration windows may ask of the main window. Holding the
// line (LineHolder) is for the modem test.
class MainLink : public LineHolder
{
public:
    // The trace of the latest modem dialogue, which the senders write
    // whether or not a window shows it.
    virtual TraceList &trace() = 0;
    // Reloads the on-duty recipients after the users changed.
    virtual void GetPhoneNo() = 0;
    // Reloads the watched folders after they changed; they are watched at once.
    virtual void GetPathList() = 0;
    // Sends one SMS; while another dialogue is under way it waits for it.
    virtual void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                           const std::function<void()> &whenDone = {}) = 0;
    // Puts the main window back into its normal (not minimised) state.
    virtual void setNormalState() = 0;
};
