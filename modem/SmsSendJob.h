#pragma once

#include "modem/ModemJob.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// One SMS to send: the text as it goes to the modem, and the number, which
// reaches the modem only as digits with an optional leading "+".
struct SmsRequest {
    QString text;
    QString name;
    QString number;
    QByteArray messageBytes; // the text as its robot wrote it, for the history line; empty: from the text
    quint8 reference = 0;    // tells the parts of a long message from another's
    quint32 partsSent = 0;   // parts of a long message that an earlier try got out
    QString token;           // names this SMS in a gateway's delivery reports; empty: none asked for
    bool report = false;     // ask the network for a delivery report of each part
    qint64 id = 0;           // the outbox's SMS; 0 for one outside it
};

// What became of one try.
struct SendOutcome {
    // Why a try failed, as far as it says something about the line.
    enum class Failure {
        None,
        Refused,     // the modem or the network said no
        Destination, // ... for this number only: another line fares no better, nor worse
        NoAnswer,    // the modem stayed silent
        Unanswered,  // the message was written and its answer never came: it may yet go
        Port,        // the port would not open, or its line went away
    };

    bool sent = false;
    Failure failure = Failure::None;
    QString reason;        // why not, in words for the page log
    quint32 partsSent = 0; // of a long message, those that went out by now
    int portError = 0;     // the serial error (8000 to 8020) of a port that would not open
    QList<int> references; // the message references the network gave, one a part sent
    QString route;         // the line it went over: "COM1"
    int part = -1;         // Unanswered: the part (from 0; 0 in text mode) whose answer did not come
    int partCount = 1;     // parts of the message
};

// The dialogue of one SMS as a job for a modem's engine. A short text of
// plain ASCII goes in text mode, byte for byte: AT+CMGF=1, AT+CMGS="number",
// the text and Ctrl-Z. Any other text goes in PDU mode (AT+CMGF=0), in the
// GSM alphabet where it fits and in UCS-2 otherwise, split into up to eight
// concatenated parts, each its own AT+CMGS with its own acknowledgement; the
// SMS is sent when every part is. The dialogue starts with an ESC that
// cancels whatever a dialogue cut short left at the modem's prompt.
class SmsSendJob : public ModemJob
{
public:
    SmsSendJob(const SmsRequest &request, std::function<void(const SendOutcome &)> done);

    // Why this SMS cannot go to any modem at all (its number is no phone
    // number, its text cannot be encoded); empty when it can. Such a job is
    // not run: its outcome is this.
    QString refusal() const { return m_refusal; }
    SendOutcome refused() const
    {
        SendOutcome outcome;
        outcome.reason = m_refusal;
        outcome.partsSent = m_request.partsSent;
        outcome.partCount = m_outcome.partCount;
        return outcome;
    }

    // The text as it goes to the modem: Ctrl-Z, ESC and NUL, which would end,
    // cancel or cut the message there, become spaces.
    static QString sendableText(const QString &text);

    QString preamble() const override;
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &end) override;

private:
    enum class Step { Start, Mode, Parameters, Number, Text, Length, Part, Done };

    std::optional<ModemCommand> nextPart();
    std::optional<ModemCommand> fail(const ModemAnswer &answer);

    SmsRequest m_request;
    std::function<void(const SendOutcome &)> m_done;
    bool m_pdu = false;
    QList<QByteArray> m_parts;
    QList<int> m_lengths;
    int m_part = -1;
    Step m_step = Step::Start;
    SendOutcome m_outcome;
    QString m_refusal;
};
