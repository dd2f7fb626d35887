#pragma once

#include <QString>

// The one AT+CNMI a modem is told, for what the desk wants of it: delivery
// reports (<ds>) and word of incoming SMS (<mt>). Mode 2 where the modem
// takes it: indications held while the line is busy and given after.
namespace Indications {

// `ranges` is what "AT+CNMI=?" answered (empty: no answer). Reports: <ds> 1,
// passed on, where the modem takes it, else 2, stored and announced.
// Incoming SMS: <mt> 1, stored and announced, else 2, passed on where the
// modem only does that, else 0. Neither: 0 for both.
QString command(const QString &ranges, bool reports, bool incoming);

// The <mt> that command() chose: 0, 1 or 2.
int messageRouting(const QString &command);

} // namespace Indications
