#pragma once

#include "modem/AlarmHistory.h"
#include "modem/ModemDialogue.h"
#include "store/MSComm.h"

#include <QObject>
#include <QQueue>
#include <functional>

class PageLog;
class TraceList;

// What became of one send.
struct SendOutcome {
    bool sent = false;
    QString reason; // why not, in words for the page log
};

// Sends one text as one SMS to one number: opens the port from the current
// settings, runs the three AT steps, closes the port, and writes an
// acknowledged send to the page log and the history files. One dialogue at
// a time: a send asked for while another runs waits for it.
//
// A port that cannot be opened is shown in a box that waits for nobody: the
// send has ended when it appears, and while one such box is on screen
// further port errors go to the page log only.
class AlarmSender : public QObject
{
    Q_OBJECT

public:
    AlarmSender(TraceList &trace, PageLog &pageLog, QObject *parent = nullptr);

    // Sends at once; for a caller that knows no dialogue is under way (the
    // dispatcher, between its sends). Sends that were waiting go first. The
    // caller says in the page log what became of a failed send.
    SendOutcome send(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);

    // Runs the send now or, while another dialogue is under way or the line
    // is held, right after that; never inside another dialogue's wait. A
    // send that fails is said in the page log. `whenDone` is called once the
    // send has run.
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone = {});

    // The page log block of an SMS that did not go out.
    void reportNotSent(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No, const QString &reason);

    // The text as it goes to the modem: Ctrl-Z, ESC and NUL, which would end,
    // cancel or cut the message there, become spaces.
    static QString sendableText(const QString &text);
    // Says once in the page log that a text was changed so.
    void reportTextChanged(const QString &text);

    // A dialogue is under way, or the line is held by a modem test.
    bool busy() const { return m_sending || m_holds > 0; }

    // The modem test of the Settings window holds the line while it runs so
    // that no alert send starts on the same port meanwhile.
    void holdLine() { ++m_holds; }
    void releaseLine();

    // The port is open: a dialogue is under way.
    bool portOpen() const { return MSComm1.portOpen(); }
    ModemDialogue &dialogue() { return m_dialogue; }
    AlarmHistory &history() { return m_history; }

signals:
    // Emitted after every send with whether the modem acknowledged it.
    void sent(bool acknowledged);
    // The line is free again after being held.
    void lineFree();

private:
    struct Request {
        QString message;
        QString userName;
        QString number;
        std::function<void()> whenDone;
    };

    void runWaiting();
    SendOutcome runOne(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);
    SendOutcome runSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);
    void logSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No);

    MSComm MSComm1;
    ModemDialogue m_dialogue;
    AlarmHistory m_history;
    TraceList &m_trace;
    PageLog &m_pageLog;
    bool m_sending = false;
    int m_holds = 0;
    QQueue<Request> m_waiting;
};
