#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// SMS as the modem takes them in PDU mode (AT+CMGF=0): SMS-SUBMIT units of
// 3GPP TS 23.040 in the alphabets of TS 23.038, written after AT+CMGS of
// TS 27.005. The program encodes with it, the modem simulator decodes; it
// does no I/O and keeps nothing between calls.
namespace SmsPdu {

enum class Encoding {
    Gsm7, // GSM 7-bit default alphabet and its extension table
    Ucs2, // UTF-16 code units, big endian
};

constexpr int SingleSeptets = 160; // one 7-bit SMS
constexpr int PartSeptets = 153;   // one 7-bit part after the concatenation header
constexpr int SingleUnits = 70;    // one UCS-2 SMS, in UTF-16 code units
constexpr int PartUnits = 67;      // one UCS-2 part after the concatenation header
constexpr int MaxParts = 8;        // a longer text is cut to end in "..."

// One SMS-SUBMIT as the modem wants it: "AT+CMGS=<tpduLength>", then the hex
// after the prompt, then Ctrl-Z.
struct Part {
    int tpduLength = 0; // octets of the TPDU, without the SMSC part
    QByteArray hex;     // "00" (the SMSC stored in the SIM), then the TPDU in upper-case hex
};

struct Message {
    QList<Part> parts; // in sending order; empty when error is set
    Encoding encoding = Encoding::Gsm7;
    bool cut = false; // the text did not fit MaxParts; the last part ends in "..."
    QString error;    // why the message cannot be encoded; empty when it can
};

// False exactly when text mode carries the text unchanged: printable ASCII
// and line feeds only, within one SMS of 160 septets, where ^ { } \ [ ] ~ |
// take two septets each.
bool needsPduMode(const QString &text);

// The parts that carry text to number: "+" and digits for an international
// number, digits alone otherwise. reference tells this message's parts from
// another's at the handset; the caller gives each message a new one.
Message encode(const QString &number, const QString &text, quint8 reference);

// What an SMS-SUBMIT holds: the PDU in hex with its SMSC part first, as
// written after the AT+CMGS prompt.
struct Submit {
    QString error;      // why the PDU was rejected; nothing else is set then
    int tpduLength = 0; // octets after the SMSC part, to check against AT+CMGS=<n>
    QString number;     // "+" first when international
    Encoding encoding = Encoding::Gsm7;
    int reference = -1; // concatenation reference number; -1 for a message in one piece
    int partCount = 1;
    int partNumber = 1; // from 1
    QString text;
};

// Never reads past the input, whatever it holds; 8-bit data is refused.
Submit decode(QByteArrayView hex);

} // namespace SmsPdu
