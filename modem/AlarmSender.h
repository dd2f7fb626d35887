#pragma once

#include "modem/AlarmHistory.h"
#include "modem/ModemDialogue.h"
#include "store/MSComm.h"

#include <QObject>
#include <QQueue>
#include <functional>

class PageLog;
class TraceList;

// One SMS to send.
struct SmsJob {
    QString text;
    QString name;
    QString number;
    QByteArray messageBytes; // the text as its robot wrote it, for the history line; empty: from the text
    quint8 reference = 0;    // tells the parts of a long message from another's
    quint32 partsSent = 0;   // parts of a long message that an earlier try got out
};

// What became of one send.
struct SendOutcome {
    bool sent = false;
    QString reason;        // why not, in words for the page log
    quint32 partsSent = 0; // of a long message, those that went out by now
};

// Sends one text as one SMS to one number: opens the port from the current
// settings, runs the AT steps, closes the port, and writes an acknowledged
// send to the page log and the history files. One dialogue at a time: a
// send asked for while another runs waits for it.
//
// A short text of plain ASCII goes in text mode, byte for byte: the three
// steps AT+CMGF=1, AT+CMGS="number", the text and Ctrl-Z. Any other text
// goes in PDU mode (AT+CMGF=0), in the GSM alphabet where it fits and in
// UCS-2 otherwise, split into up to eight concatenated parts, each one
// AT+CMGS step with its own acknowledgement; the SMS is sent when every
// part is.
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
    SendOutcome send(const SmsJob &job);

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
    // Says in the page log what a text loses on its way: control bytes sent
    // as spaces, the end of a text longer than eight SMS.
    void reportAlterations(const QString &text);

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
        SmsJob job;
        std::function<void()> whenDone;
    };

    void runWaiting();
    SendOutcome runOne(const SmsJob &job);
    SendOutcome runSend(const SmsJob &job);
    // The steps of a text-mode or PDU-mode send, on the open port; false
    // and the reason when a step fails.
    bool textSteps(const SmsJob &job);
    bool pduSteps(const QList<QByteArray> &parts, const QList<int> &lengths, quint32 &partsSent);
    void logSend(const SmsJob &job);

    MSComm MSComm1;
    ModemDialogue m_dialogue;
    AlarmHistory m_history;
    TraceList &m_trace;
    PageLog &m_pageLog;
    bool m_sending = false;
    int m_holds = 0;
    QQueue<Request> m_waiting;
    quint8 m_nextReference = 0;
};
