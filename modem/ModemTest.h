#pragma once

#include <QObject>

class LineHolder;
class MSComm;

// The modem test of the Settings window: "AT+GSN" on a port of its
// choosing, and whether an "OK" comes back in time. The modem's serial
// number itself is not read; only the "OK" counts.
class ModemTest : public QObject
{
    Q_OBJECT

public:
    // Tests on `port`, the Settings window's own serial port object, never
    // the one alerts are sent on.
    explicit ModemTest(MSComm &port, QObject *parent = nullptr);

    // Opens port `portNumber` with the current line settings, writes AT+GSN
    // and gives the modem 300 ms to say "OK"; true when it did. The line
    // stays held meanwhile. Port errors are thrown as CommError; either way
    // the port is closed and the line free again on return.
    bool AskModem(LineHolder &line, short portNumber);

private:
    void MSComm1_OnComm();

    MSComm &MSComm1;
    // Set by the receive handler when an arrival held "OK".
    bool ModemReplied = false;
};
