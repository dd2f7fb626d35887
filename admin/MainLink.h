#pragma once

#include "modem/ModemTestJob.h"
#include "store/PortSettings.h"

#include <QString>
#include <functional>

class TraceList;

// What the administration windows may ask of the program: the relay's
// parts they show and change, and the main window's state.
class MainLink
{
public:
    virtual ~MainLink() = default;

    // The trace of the latest modem dialogue, which the engines write
    // whether or not a window shows it.
    virtual TraceList &trace() = 0;
    // Reloads the on-duty recipients after the users changed.
    virtual void GetPhoneNo() = 0;
    // Reloads the watched folders after they changed; they are watched at once.
    virtual void GetPathList() = 0;
    // Sends one SMS after what the modem is doing; `whenDone` once tried.
    virtual void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                           const std::function<void()> &whenDone = {}) = 0;
    // The port settings as they are current, and a save of the COM page's
    // boxes that makes them current (failures thrown as DbError).
    virtual PortSettings comSettings() const = 0;
    virtual void SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                                 const QString &parityText, const QString &stopBitsText) = 0;
    // Whether the program holds the port itself (a modem's line in service).
    virtual bool holdsPort(short port) const = 0;
    // The modem test on a port; `done` once it has run.
    virtual void testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done) = 0;
    // The flood settings in Config.mdb changed: the relay uses them now.
    virtual void floodOptionsChanged() = 0;
    // The reply and escalation settings changed: the relay uses them now.
    virtual void replyOptionsChanged() = 0;
    // Puts the main window back into its normal (not minimised) state.
    virtual void setNormalState() = 0;
};
