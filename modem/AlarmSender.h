#pragma once

#include "modem/AlarmHistory.h"
#include "modem/ModemDialogue.h"
#include "store/MSComm.h"

#include <QObject>
#include <QQueue>
#include <functional>

class PageLog;
class TraceList;

// Sends one text as one SMS to one number: opens the port from the current
// settings, runs the three AT steps, closes the port, and writes an
// acknowledged send to the page log and the history files.
class AlarmSender : public QObject
{
    Q_OBJECT

public:
    AlarmSender(TraceList &trace, PageLog &pageLog, QObject *parent = nullptr);

    // Runs the send now, or, while another dialogue is under way or the
    // line is held, right after that; never inside another dialogue's wait.
    // `whenDone` is called once the send has run.
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone = {});

    // A dialogue is under way, or the line is held by a modem test.
    bool busy() const { return m_sending || m_holds > 0; }

    // The modem test of the Settings window holds the line while it runs so
    // that no alert send starts on the same port meanwhile.
    void holdLine() { ++m_holds; }
    void releaseLine();

    MSComm MSComm1;
    ModemDialogue dialogue;
    AlarmHistory history;

signals:
    // Emitted after every send with whether the modem acknowledged it.
    void sent(bool acknowledged);

private:
    struct Request {
        QString message;
        QString userName;
        QString number;
        std::function<void()> whenDone;
    };

    void runWaiting();
    bool runSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);
    void logSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);

    TraceList &m_trace;
    PageLog &m_pageLog;
    bool m_sending = false;
    int m_holds = 0;
    QQueue<Request> m_waiting;
};
