#pragma once

#include "PartCollector.h"
#include "modem/SmsPdu.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QRandomGenerator>
#include <QSet>
#include <QString>

#include <array>
#include <functional>
#include <optional>

// A GSM modem in text and PDU mode as a pure state machine: feed() takes the
// bytes the program wrote and returns the bytes the modem answers. It does no
// I/O and keeps no timers (it reads a clock for rejectedFor and for the time
// stamps of status reports), so every answer can be checked byte for byte;
// the pseudo-terminal host adds the line, the delays and the hang-ups, and
// brings each status report when reportDue asks for it.
class ModemEngine : public QObject
{
    Q_OBJECT

public:
    struct Options {
        bool echo = true;
        QByteArray serial = "356938035643809";
        QSet<QByteArray> rejected = {};          // numbers refused after Ctrl-Z
        double rejectRate = 0;                   // fraction of the other messages refused
        int cmsCode = 500;                       // code of +CMS ERROR for a refusal
        bool refuseTextMode = false;             // AT+CMGF=1 answers ERROR
        bool refusePduMode = false;              // AT+CMGF=0 answers ERROR: a modem without PDU mode
        QHash<QByteArray, int> rejectedFor = {}; // number -> refused this many ms after start
        bool bareOk = false;                     // answer a message with a bare OK and send nothing
        int rejectPart = 0;                      // refuse this part of a concatenated message once
        int refusePart = 0;                      // refuse this part of every concatenated message, always
        int cmgsDelayMs = 0;                     // the answer to a message comes this late (a congested network)
        int errorMode = 1;                       // AT+CMEE at power-on: 0 bare ERROR, 1 codes, 2 words
        bool lowercase = false;                  // "ok" / "error", as some broken modems do
        bool silent = false;                     // a dead modem: no echo, no reply
        double silentRate = 0;                   // fraction of commands ignored entirely
        int hangupAfter = 0;                     // drop the line after every N accepted messages
        double hangupRate = 0;                   // fraction of message entries broken off
        quint32 seed = 1;
        QByteArray pin = "0000"; // the SIM's PIN
        bool pinLock = false;    // the SIM asks for its PIN after each power-on
        bool simInserted = true;
        int registration = 1; // +CREG <stat>: 0 idle, 1 home, 2 searching, 3 denied, 5 roaming
        int signal = 20;      // +CSQ <rssi>: 0..31, 99 unknown
        QByteArray csq = {};  // what AT+CSQ answers while registered ("99,99" as LTE modules say); empty: signal,99
        QByteArray operatorName = "Vantrel Mobile";
        int srCapacity = 20;                      // status reports the SIM's SR memory holds
        int reportDelayMs = 200;                  // from an accepted SMS to its status report
        int reportLateMs = 0;                     // added to that
        int reportJitterMs = 0;                   // and a random part of this, so that reports cross
        QHash<QByteArray, int> reportStatus = {}; // number -> TP-ST of its reports; 0, delivered, for the others
        QSet<QByteArray> reportSilent = {};       // numbers whose reports never come
        bool reportMidDialogue = false;           // hold each report until the next "> " prompt has gone out
        bool keepReports = false;                 // store every report, announce none, whatever AT+CNMI says
        bool storedReportsOnly = false;           // AT+CNMI takes <ds> 0 and 2 only, as some modems do
        std::function<QDateTime()> clock = {};    // the network's time; the system's when empty
        int smCapacity = 30;                      // incoming SMS the SIM's SM memory holds
        QList<std::pair<QByteArray, QString>> storedSms = {}; // number, text: on the SIM at power-on, unread
        bool cmtOnly = false;        // AT+CNMI takes <mt> 0 and 2 only: SMS passed on, never announced
        bool refuseAth = false;      // ATH answers ERROR; AT+CHUP hangs up
        QByteArray dial = "ringing"; // how an ATD goes: see control "dial"
    };

    static constexpr qsizetype MaxCommandLength = 4096;
    static constexpr qsizetype MaxTextLength = 64 * 1024;
    // In text mode the modem takes at most one SMS; longer texts need PDU mode.
    static constexpr qsizetype MaxSmsLength = 160;
    // +CMS ERROR for a PDU that does not decode or has another length than announced.
    static constexpr int InvalidPduCode = 304;
    static constexpr int PinTries = 3;
    // An incoming call rings this often, until it is hung up or the caller gives up.
    static constexpr int RingEveryMs = 2000;
    static constexpr int RingForMs = 20000;
    // A call the modem makes: dialling, then alerting after this long.
    static constexpr int DiallingMs = 300;
    // "dial noanswer": the network gives up on the callee this long after it started ringing.
    static constexpr int NoAnswerMs = 3000;
    // Indications the modem keeps while AT+CNMI mode 0 holds them; the oldest go first.
    static constexpr int MaxBufferedIndications = 16;
    // A report the modem cannot take (off, hung, no SIM, no network) comes again after this long.
    static constexpr int ReportRetryMs = 250;

    ModemEngine();
    explicit ModemEngine(const Options &options, QObject *parent = nullptr);

    QByteArray feed(QByteArrayView input);

    // True once the modem has dropped the line: input is ignored until
    // powerOn(), which the host calls when it offers a fresh line. A reset
    // (AT+CFUN=1,1) drops it too; powerOff() when the device is pulled.
    bool lineDropped() const { return m_dropped; }
    void powerOn();
    void powerOff() { m_dropped = true; }

    // The status report reportDue announced reaches the modem: what the
    // modem shows for it, nothing when it is stored unannounced, not passed
    // on or held back. One the modem cannot take now comes again later
    // (reportDue once more), as the network tries again.
    QByteArray reportArrived(int id);

    // A line of the control FIFO, which changes the modem's surroundings
    // (signal, network, SIM, hangs, reports): what the modem says about it;
    // nullopt when the line is no command.
    std::optional<QByteArray> control(QByteArrayView line);

    // A timer that `due` asked for has run out: what the modem says then.
    QByteArray fire(int token);
    // Stored SMS on the SIM, and the SMS the network keeps for a full SIM.
    int smsStored() const;
    int smsWaiting() const { return int(m_networkHeld.size()); }

    // Bytes held between calls, which garbage input must not make grow.
    qsizetype bufferedBytes() const { return m_line.size() + m_text.size(); }

    // Backslash escapes for the record file and the log: printable ASCII
    // stays, everything else becomes \\ \n \r \t or \xHH.
    static QByteArray escape(QByteArrayView bytes);
    // "RSSI,BER" as AT+CSQ answers it (0..31 or 99, 0..7 or 99); nullopt for anything else.
    static std::optional<QByteArray> signalQuality(QByteArrayView text);

signals:
    // A message taken in text mode, its text byte for byte.
    void accepted(const QByteArray &number, const QByteArray &text, int reference);
    // A message taken in PDU mode, once all its parts are in (each part was
    // answered +CMGS on its own).
    void acceptedPdu(const QByteArray &number, const QString &text, int parts);
    void refused(const QByteArray &number, const QByteArray &reason);
    // One short line per command or message, for a person watching.
    void logged(const QString &line);
    // Asks the host to call reportArrived(id) after delayMs.
    void reportDue(int id, int delayMs);
    // The answer to a message, which the host writes after delayMs (and not
    // on a line that went down meanwhile); feed() returned nothing for it.
    void answerLate(const QByteArray &bytes, int delayMs);
    // Asks the host to call fire(token) after delayMs (the rings of a call,
    // the progress of a call the modem makes).
    void due(int token, int delayMs);

private:
    enum class State { Command, Ignoring, Text };
    enum class Sim { Ready, Pin, Puk, Absent };

    // A report on its way from the network.
    struct PendingReport {
        int reference = 0;
        QByteArray number;
        QDateTime submitted;
    };
    // +CDS, or +CDSI for a report stored at index.
    struct Indication {
        SmsPdu::StatusReport report;
        int index = 0;
    };
    struct StoredReport {
        SmsPdu::StatusReport report;
        bool read = false;
    };

    // One SMS (or one part of a long one) on the SIM: the SMS-DELIVER PDU.
    struct StoredSms {
        QByteArray pdu;
        SmsPdu::Deliver deliver;
        bool read = false;
    };
    // An incoming call ringing, or a call the modem made.
    struct Call {
        int id = 0;
        QByteArray number;
        int state = 0; // +CLCC <stat>: 0 active, 2 dialling, 3 alerting, 4 incoming
        QElapsedTimer since;
    };

    void commandByte(char c, QByteArray &out);
    void textByte(char c, QByteArray &out);
    QByteArray execute(const QByteArray &line);
    QByteArray executeHealth(const QByteArray &body, bool *known);
    QByteArray executeReports(const QByteArray &body, bool *known);
    QByteArray executeCalls(const QByteArray &body, bool *known);
    QByteArray dial(const QByteArray &body);
    QByteArray hangUp(const char *how);
    QByteArray callList() const;
    QByteArray ringLines() const;
    QByteArray ringAgain(int id);
    QByteArray callProgress(int id, int state);
    QByteArray callEnds(int id, const QByteArray &result);
    int later(int delayMs, std::function<QByteArray()> action);
    bool controlCalls(const QList<QByteArray> &words, const QByteArray &command, QByteArray *out);
    QByteArray receiveSms(const QByteArray &number, const QString &text, bool announce);
    QByteArray storeSms(const QByteArray &pdu, bool announce);
    // As +CMGR and +CMGL show it: after `prefix`, its status and, in text
    // mode, sender and time, then the text; in PDU mode the PDU.
    QByteArray smsLines(const StoredSms &sms, const QByteArray &prefix) const;
    QByteArray readSms(int index);
    QByteArray listSms(int which);
    QByteArray deleteSms(int index, int flag);
    QByteArray enterPin(const QByteArray &argument);
    QByteArray setFunctionality(const QByteArray &argument);
    QByteArray setMessageIndications(const QByteArray &argument);
    QByteArray selectMemories(const QByteArray &argument);
    QByteArray readStored(const QByteArray &argument);
    QByteArray deleteStored(const QByteArray &argument);
    QByteArray listStored(const QByteArray &argument);
    QByteArray startMessage(const QByteArray &argument);
    QByteArray submit();
    QByteArray submitText();
    QByteArray submitPdu();
    QByteArray refusalFor(const QByteArray &number);
    QByteArray refuse(const QByteArray &what, const QByteArray &number, const QByteArray &reason, int code);
    QByteArray answerBare(const QByteArray &what);
    int nextReference();
    QByteArray acknowledge(const QByteArray &what, int reference);
    void expectReport(int reference, const QByteArray &number);
    QByteArray routeReport(const SmsPdu::StatusReport &report);
    QByteArray indicate(const Indication &indication);
    QByteArray unsolicited(const Indication &indication);
    QByteArray releaseHeld();
    QByteArray reportLines(const SmsPdu::StatusReport &report, const QByteArray &textPrefix,
                           const QByteArray &pduPrefix) const;
    int storeReport(const SmsPdu::StatusReport &report);
    int srUsed() const;
    QByteArray registrationNews(int before) const;
    bool controlNetwork(const QList<QByteArray> &words);
    Sim sim() const;
    int simRefusalCode() const;
    int registration() const;
    bool registered() const;
    bool reachable() const;
    QDateTime now() const;
    QByteArray entryName() const;
    QByteArray result(const QByteArray &code) const;
    QByteArray information(const QByteArray &text) const;
    QByteArray cmeError(int code) const;
    QByteArray cmsError(int code) const;
    void say(const QByteArray &command, const QByteArray &reply);
    bool chance(double p);

    const Options m_options;
    QRandomGenerator m_random;
    QElapsedTimer m_sinceStart;
    State m_state = State::Command;
    bool m_echo = true;
    bool m_textMode = false; // a modem wakes up in PDU mode
    bool m_dropped = false;
    QByteArray m_line;
    bool m_lineTooLong = false;
    QByteArray m_number;
    int m_pduLength = -1; // the TPDU length AT+CMGS announced; -1 for a text-mode entry
    QByteArray m_text;    // in PDU mode: the hex
    bool m_textTooLong = false;
    qsizetype m_dropAt = -1; // text length at which this entry hangs up
    int m_reference = 0;
    int m_acceptedCount = 0;
    PartCollector m_parts;
    QSet<QString> m_partsRefusedOnce; // number/reference/part, refused once already

    // What a power-on does not change: the SIM, the network, the reports on their way.
    bool m_silent = false; // hung: hears nothing, says nothing
    bool m_simInserted = true;
    bool m_pinNeeded = false;
    int m_pinTriesLeft = PinTries; // none left: the SIM wants its PUK
    int m_registration = 1;
    int m_signal = 20;
    QByteArray m_csq;
    int m_cmgsDelayMs = 0;
    int m_refusePart = 0;
    QMap<int, PendingReport> m_reports; // by id, in the order the messages went out
    int m_lastReportId = 0;
    QHash<QByteArray, int> m_reportStatus;
    QSet<QByteArray> m_reportSilent;
    bool m_keepReports = false;
    bool m_storedReportsOnly = false;
    QList<std::optional<StoredReport>> m_srMemory; // on the SIM: index - 1

    // What a power-on sets back.
    int m_functionality = 1;
    int m_registrationMode = 0;                           // AT+CREG=<n>
    int m_errorMode = 1;                                  // AT+CMEE=<n>
    std::array<int, 4> m_smsParameters = {17, 167, 0, 0}; // AT+CSMP: fo, vp, pid, dcs
    std::array<int, 5> m_indications = {0, 0, 0, 0, 0};   // AT+CNMI: mode, mt, bm, ds, bfr
    bool m_readFromSr = false;                            // AT+CPMS: <mem1> is "SR", not "SM"
    QList<Indication> m_bufferedIndications;              // while +CNMI mode is 0
    QList<Indication> m_heldForPrompt;                    // reportMidDialogue
    bool m_clip = false;                                  // AT+CLIP=1: the caller's number after each RING

    // The SIM's SM memory and what the network keeps while it is full.
    QList<std::optional<StoredSms>> m_smMemory; // index - 1
    QList<QByteArray> m_networkHeld;            // SMS-DELIVER PDUs, oldest first
    quint8 m_smsReference = 0;
    // Calls: one at a time, either way.
    std::optional<Call> m_call;
    int m_lastCallId = 0;
    QByteArray m_dial; // "ringing", "answer", "noanswer", "busy", "novoice", "novoice-error"
    int m_answerAfterMs = 0;
    int m_lastToken = 0;
    QHash<int, std::function<QByteArray()>> m_timers;
};
