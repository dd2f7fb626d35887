#pragma once

#include <QObject>
#include <QString>

class MSComm;
class TraceList;

// One command to the modem and the wait for its reply. The receive handler
// collects what the modem says and decides, on every arrival, whether the
// exchange is over; sendIt waits in the event loop until it is, or until the
// time-out has passed.
//
// Only what the modem says after echoing the command counts. The exchange
// ends at once on its expected reply, or on a final error result ("ERROR",
// "+CMS ERROR: n", "+CME ERROR: n"). A message text (ending in Ctrl-Z)
// counts as sent only on "+CMGS: n" followed by "OK": a bare "OK" is how a
// modem answers a cancelled message. A ">" ends only the step that waits
// for the prompt.
class ModemDialogue : public QObject
{
    Q_OBJECT

public:
    // One time-out unit: a ten-thousandth of a day.
    static constexpr int DefaultTimeUnitMs = 8640;

    ModemDialogue(MSComm &port, TraceList &trace, QObject *parent = nullptr);

    // Writes `s` and a CR, then waits up to TOut units for `ok`. True when
    // the modem gave it; otherwise failure() says why. Errors of the port
    // are thrown as CommError.
    bool sendIt(const QString &s, const QString &ok, const QString &eror, int TOut);
    // Why the last sendIt returned false, in words for the page log.
    QString failure() const { return m_failure; }

    // Receive handler of the port's notification.
    void MSComm1_OnComm();

    // Scales the time-out unit; only tests and benchmarks change it.
    void setTimeUnitMs(int ms) { m_timeUnitMs = ms; }
    int timeUnitMs() const { return m_timeUnitMs; }

    const QString &ReplyBuffer() const { return m_replyBuffer; }
    bool ReplyDone() const { return m_replyDone; }

    // The part of `buffer` that the modem said after echoing `sent` back.
    static QString afterEcho(const QString &buffer, const QString &sent);

private:
    enum class Outcome { Pending, Given, Refused };
    Outcome judge(const QString &reply);

    MSComm &m_port;
    TraceList &m_trace;
    QString m_sent;
    QString m_expectedReply;
    QString m_replyBuffer;
    bool m_replyDone = false;
    bool m_refused = false;
    QString m_failure;
    int m_timeUnitMs = DefaultTimeUnitMs;
};
