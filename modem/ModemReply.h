#pragma once

#include "modem/ModemCommand.h"

#include <QString>
#include <QStringList>

// Reading what a modem says: the echo of a command, the reply that ends a
// command's wait, and the lines a modem sends on its own account ("+CMTI",
// "+CDS", "RING") in between. Pure functions over the text received so
// far; they keep nothing.
namespace ModemReply {

struct Verdict {
    enum Kind { Pending, Given, Refused };
    Kind kind = Pending;
    QString failure;    // for a refusal, in the modem's own words
    qsizetype end = -1; // for Given and Refused: where the deciding reply ends in the buffer
};

// Whether `buffer`, all the modem said since `sent` was written, ends the
// wait for `command`; `arrival` is the latest piece of it.
Verdict judge(const QString &buffer, const QString &arrival, const QString &sent, const ModemCommand &command);

// Where what the modem said after echoing `sent` back begins in `buffer`.
// The buffer may start with the line end that closed the previous reply,
// or the echo of the ESC that opens a dialogue. Returns buffer.size() when
// all that came so far is the beginning of the echo.
qsizetype echoEnd(const QString &buffer, const QString &sent);
// The part of `buffer` after the echo.
QString afterEcho(const QString &buffer, const QString &sent);

// A line the modem sent on its own, with the line that belongs to it where
// it has one (the PDU after "+CDS: <length>", the text after "+CMT:").
struct Unsolicited {
    QString line;
    QString data;
};

// Takes every complete line that the modem sent on its own out of `buffer`
// from `from` on: a line beginning "+C" that is not one of `ownLines`, or
// "RING". Only whole lines are taken, where a line begins (at `from`, or
// after a CR or LF); a line not yet ended stays, and so does one whose data
// line has not ended yet. `resume` gets where the first such line begins:
// everything before it has been looked at.
QList<Unsolicited> takeUnsolicited(QString &buffer, qsizetype from, const QStringList &ownLines,
                                   qsizetype *resume = nullptr);
// The same for the lines in front of the echo of `sent`: what crossed the
// command on the line. A line that is the beginning of `sent` is its echo
// (a message text may say anything) and stays.
QList<Unsolicited> takeLeading(QString &buffer, const QString &sent, const QStringList &ownLines);

} // namespace ModemReply
