#pragma once

#include "store/PortSettings.h"

#include <QList>
#include <QString>
#include <QStringList>

// The desk's modems. The Com row is the first, as the COM page edits it; the
// table Modems adds more, one row each with the Com table's columns and
// meaning. A Config.mdb without that table is a desk with one modem. What
// the program keeps for each modem of its own (whether it is in service)
// lives in the table ModemOptions, by port number. Failures are thrown as
// DbError.
namespace ModemTable {

struct Modem {
    PortSettings settings;
    bool first = false; // the Com row's modem
    bool inService = true;
    QString pin;          // entered when the SIM asks for it
    QString refusedPin;   // a PIN the SIM refused: never entered again, three wrong ones lock the SIM
    QString resetCommand; // sent after three health rounds without an answer; none by default
};

// Every modem, the Com row's first. A row of Modems that cannot serve (no
// port, or a port another modem has) is skipped, and `complaints` says so.
QList<Modem> modems(QStringList *complaints = nullptr);

// Adds a modem on `port` with the given baud rate, 8 data bits, no parity,
// one stop bit; the table is made where it is missing. False when the desk
// has a modem on that port already.
bool add(short port, const QString &baud);
// Removes the Modems row of `port`; the Com row's modem cannot go.
void remove(short port);
// Takes a modem out of service, or puts it back.
void setInService(short port, bool inService);
// The SIM's PIN of a modem (empty: none); a new PIN may be entered again.
void setPin(short port, const QString &pin);
// The PIN the SIM refused, kept so that it is never entered again.
void setRefusedPin(short port, const QString &pin);
// The command that resets a modem that stopped answering (empty: none).
void setResetCommand(short port, const QString &command);

// What may be stored: a SIM's PIN is 4 to 8 digits; a reset command is one
// AT command and nothing else, as it goes to the modem as it stands.
bool isPin(const QString &text);
bool isResetCommand(const QString &text);

} // namespace ModemTable
