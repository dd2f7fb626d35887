#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// A status report (3GPP TS 23.040 SMS-STATUS-REPORT) as a modem passes it
// on: "+CDS: ..." as it arrives, or "+CMGR: ..." read from its "SR" memory,
// in text mode (27.005: <fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st>) or in PDU
// mode (the PDU on a line of its own).
struct DeliveryReport {
    int reference = 0;           // TP-MR, as "+CMGS: <mr>" answered
    QString number;              // TP-RA, the recipient
    QDateTime serviceCentreTime; // when the service centre took the SMS
    QDateTime dischargeTime;     // when it was delivered, or the try the status tells of
    int status = 0;              // TP-ST

    // What TP-ST says, in the standard's words (TS 23.040 9.2.3.15).
    enum class Outcome {
        Delivered, // the transaction completed
        Pending,   // a temporary error; the service centre keeps trying
        Failed,    // the service centre tried no more
    };
    struct Meaning {
        Outcome outcome = Outcome::Failed;
        QString words;
        // A failure of the service centre or the network rather than of
        // the subscriber: another network might deliver it.
        bool anotherNetworkMayDeliver = false;
    };
    static Meaning meaning(int status);

    // The report a line (and its data line) of the modem holds; nothing
    // for any other line, or one that does not read.
    static std::optional<DeliveryReport> fromLine(const QString &line, const QString &data);
};
