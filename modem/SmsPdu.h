#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>

// SMS as the modem takes them in PDU mode (AT+CMGF=0): SMS-SUBMIT units of
// 3GPP TS 23.040 in the alphabets of TS 23.038, written after AT+CMGS of
// TS 27.005, and the SMS-STATUS-REPORT that tells whether one reached the
// phone. The program encodes submits and decodes reports, the modem simulator
// the other way round; it does no I/O and keeps nothing between calls.
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
// another's at the handset; the caller gives each message a new one. With
// statusReport each part asks the network for a report of its own (TP-SRR).
Message encode(const QString &number, const QString &text, quint8 reference, bool statusReport = false);

// What an SMS-SUBMIT holds: the PDU in hex with its SMSC part first, as
// written after the AT+CMGS prompt.
struct Submit {
    QString error;      // why the PDU was rejected; nothing else is set then
    int tpduLength = 0; // octets after the SMSC part, to check against AT+CMGS=<n>
    QString number;     // "+" first when international
    Encoding encoding = Encoding::Gsm7;
    int reference = -1; // concatenation reference number; -1 for a message in one piece
    int partCount = 1;
    int partNumber = 1;                 // from 1
    bool statusReportRequested = false; // TP-SRR
    QString text;
};

// Never reads past the input, whatever it holds; 8-bit data is refused.
Submit decode(QByteArrayView hex);

// An SMS a phone sent, as the network hands it to the modem and the modem
// stores it (+CMGL, +CMGR, +CMT in PDU mode): an SMS-DELIVER, the PDU in hex
// with its SMSC part first.
struct Deliver {
    QString error;      // why the PDU was rejected; nothing else is set then
    int tpduLength = 0; // octets after the SMSC part
    QString number;     // TP-OA, the sender: "+" first when international
    Encoding encoding = Encoding::Gsm7;
    QDateTime serviceCentreTime; // TP-SCTS; invalid when it is no time
    int reference = -1;          // concatenation reference number; -1 for an SMS in one piece
    int partCount = 1;
    int partNumber = 1; // from 1
    QString text;       // of this part
};

// Never reads past the input, whatever it holds; 8-bit data is refused.
Deliver decodeDeliver(QByteArrayView hex);
// The parts in which the network delivers `text` from `number` (the modem
// simulator's side), concatenated under `reference` when it needs more than one.
Message encodeDeliver(const QString &number, const QString &text, const QDateTime &sentAt, quint8 reference);

// What an SMS-STATUS-REPORT tells of one SMS-SUBMIT, as the modem passes it
// on in PDU mode (+CDS: <length>, +CMGR, +CMGL): the PDU in hex with its
// SMSC part first.
struct StatusReport {
    QString error;               // why the PDU was rejected; nothing else is set then
    int tpduLength = 0;          // octets after the SMSC part, to check against <length>
    int reference = 0;           // TP-MR: the message reference +CMGS answered, 0..255
    QString number;              // TP-RA, the recipient: "+" first when international
    QDateTime serviceCentreTime; // TP-SCTS: when the service centre took the message
    QDateTime dischargeTime;     // TP-DT: when it was delivered, or the try the status tells of
    // TP-ST: 0x00-0x1F done (0 delivered), 0x20-0x3F still trying,
    // 0x40-0x5F failed for good, 0x60-0x7F failed and no longer trying.
    int status = 0;
};

// Both times keep their offsets from UTC, in quarters of an hour as on the
// air. What follows TP-ST (TP-PI and the fields it announces) says nothing
// about the delivery and is not read. Never reads past the input.
StatusReport decodeStatusReport(QByteArrayView hex);

// The PDU of a report as a modem shows it: "00" (no SMSC part), then the
// TPDU in upper-case hex; error and tpduLength are not read. Empty when the
// number cannot be encoded, a time is not between 2000 and 2099, or the
// reference or the status is not an octet.
QByteArray encodeStatusReport(const StatusReport &report);

} // namespace SmsPdu
