#pragma once

#include <QObject>
#include <QString>

class MSComm;
class TraceList;

// One command to the modem and the wait for its reply. The receive handler
// collects what the modem says and decides, on every arrival, whether the
// exchange is over; sendIt waits in the event loop until it is, or until the
// time-out has passed.
class ModemDialogue : public QObject
{
    Q_OBJECT

public:
    // One time-out unit: a ten-thousandth of a day.
    static constexpr int DefaultTimeUnitMs = 8640;

    ModemDialogue(MSComm &port, TraceList &trace, QObject *parent = nullptr);

    // Writes `s` and a CR, then waits up to TOut units for `ok`. Errors of
    // the port are thrown as CommError.
    bool sendIt(const QString &s, const QString &ok, const QString &eror, int TOut);

    // Receive handler of the port's notification.
    void MSComm1_OnComm();

    // Scales the time-out unit; only tests and benchmarks change it.
    void setTimeUnitMs(int ms) { m_timeUnitMs = ms; }
    int timeUnitMs() const { return m_timeUnitMs; }

    // The part of `buffer` that the modem said after echoing `sent` back.
    static QString afterEcho(const QString &buffer, const QString &sent);

    QString ExpectedReply;
    QString ReplyBuffer;
    bool ReplyDone = false;

private:
    MSComm &m_port;
    TraceList &m_trace;
    QString m_sent;
    int m_timeUnitMs = DefaultTimeUnitMs;
};
