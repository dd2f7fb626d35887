#include "modem/SmsSendJob.h"

#include "modem/SmsPdu.h"
#include "store/PhoneNumber.h"

#include <QRegularExpression>

namespace {

constexpr QChar CtrlZ(0x1A);

// The reference the network gave a message: "+CMGS: <mr>".
int messageReference(const QString &reply)
{
    static const QRegularExpression cmgs(QStringLiteral(R"(\+CMGS:\s*(\d+))"));
    const QRegularExpressionMatch match = cmgs.match(reply);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// "+CMS ERROR: n" with a cause that is about the destination, not the line
// (3GPP TS 24.011 8.2.5.4 and TS 23.040 9.2.3.22): the number does not
// exist, is barred or cannot take SMS. Another modem would be refused too.
bool isDestinationCause(const QString &failure)
{
    static const QRegularExpression cms(QStringLiteral(R"(^\+CMS ERROR:\s*(\d+)$)"));
    const QRegularExpressionMatch match = cms.match(failure.trimmed());
    if (!match.hasMatch())
        return false;
    static const QList<int> Destination = {
        1,   // unassigned (unallocated) number
        8,   // operator determined barring
        10,  // call barred
        21,  // short message transfer rejected
        27,  // destination out of service
        28,  // unidentified subscriber
        29,  // facility rejected
        30,  // unknown subscriber
        50,  // requested facility not subscribed
        69,  // requested facility not implemented
        195, // TP-FCS: SM type 0 not supported by the destination
        196, // TP-FCS: cannot replace the SM at the destination
    };
    return Destination.contains(match.captured(1).toInt());
}

} // namespace

SmsSendJob::SmsSendJob(const SmsRequest &request, std::function<void(const SendOutcome &)> done)
    : m_request(request)
    , m_done(std::move(done))
{
    m_outcome.partsSent = request.partsSent;
    // Nothing but digits and one leading "+" ever reaches the modem from a
    // number: a quote or a line end in it would end the command and make
    // the rest a command of its own.
    m_request.number = PhoneNumber::normalized(request.number);
    if (m_request.number.isNull()) {
        m_refusal = QStringLiteral("not a phone number");
        return;
    }
    m_pdu = SmsPdu::needsPduMode(request.text);
    if (!m_pdu)
        return;
    const SmsPdu::Message encoded = SmsPdu::encode(m_request.number, request.text, request.reference, request.report);
    if (!encoded.error.isEmpty()) {
        m_refusal = encoded.error;
        return;
    }
    for (const SmsPdu::Part &part : encoded.parts) {
        m_parts << part.hex;
        m_lengths << part.tpduLength;
    }
    m_outcome.partCount = int(m_parts.size());
}

QString SmsSendJob::sendableText(const QString &text)
{
    QString sendable = text;
    for (QChar &c : sendable) {
        if (c == CtrlZ || c == QChar(0x1B) || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return sendable;
}

QString SmsSendJob::preamble() const
{
    return ModemCommand::clearPrompt();
}

std::optional<ModemCommand> SmsSendJob::next(const ModemAnswer *answer)
{
    if (answer && !answer->given)
        return fail(*answer);
    switch (m_step) {
    case Step::Start:
        m_step = Step::Mode;
        return ModemCommand::reply(m_pdu ? QStringLiteral("AT+CMGF=0") : QStringLiteral("AT+CMGF=1"));
    case Step::Mode:
        if (m_pdu)
            return nextPart();
        // In text mode a report is asked for by the first octet AT+CSMP
        // sets: SMS-SUBMIT, a relative validity period (a day), TP-SRR.
        if (m_request.report) {
            m_step = Step::Parameters;
            return ModemCommand::reply(QStringLiteral("AT+CSMP=49,167,0,0"));
        }
        [[fallthrough]];
    case Step::Parameters:
        m_step = Step::Number;
        return ModemCommand::reply(QStringLiteral("AT+CMGS=\"") + m_request.number + QLatin1Char('"'),
                                   QStringLiteral(">"));
    case Step::Number:
        m_step = Step::Text;
        return ModemCommand::message(m_request.text);
    case Step::Text:
        m_outcome.references << messageReference(answer->reply);
        m_outcome.sent = true;
        m_step = Step::Done;
        return std::nullopt;
    case Step::Length:
        m_step = Step::Part;
        return ModemCommand::message(QString::fromLatin1(m_parts[m_part]));
    case Step::Part:
        m_outcome.references << messageReference(answer->reply);
        m_outcome.partsSent |= 1u << m_part;
        return nextPart();
    case Step::Done:
        break;
    }
    return std::nullopt;
}

std::optional<ModemCommand> SmsSendJob::nextPart()
{
    // A part that went out on an earlier try is not sent again.
    do {
        ++m_part;
    } while (m_part < m_parts.size() && (m_outcome.partsSent & (1u << m_part)));
    if (m_part >= m_parts.size()) {
        m_outcome.sent = true;
        m_step = Step::Done;
        return std::nullopt;
    }
    m_step = Step::Length;
    return ModemCommand::reply(QStringLiteral("AT+CMGS=%1").arg(m_lengths[m_part]), QStringLiteral(">"));
}

std::optional<ModemCommand> SmsSendJob::fail(const ModemAnswer &answer)
{
    m_outcome.sent = false;
    m_outcome.reason = answer.failure;
    // Silence after the message itself was written is the network's delay,
    // not a dead modem: it may still send it.
    const bool messageWritten = m_step == Step::Text || m_step == Step::Part;
    m_outcome.failure = answer.timedOut && messageWritten    ? SendOutcome::Failure::Unanswered
                        : answer.timedOut                    ? SendOutcome::Failure::NoAnswer
                        : isDestinationCause(answer.failure) ? SendOutcome::Failure::Destination
                                                             : SendOutcome::Failure::Refused;
    if (m_outcome.failure == SendOutcome::Failure::Unanswered)
        m_outcome.part = m_pdu ? m_part : 0;
    m_step = Step::Done;
    return std::nullopt;
}

void SmsSendJob::end(const End &end)
{
    if (!end.portError.isEmpty()) {
        m_outcome.sent = false;
        m_outcome.failure = SendOutcome::Failure::Port;
        m_outcome.reason = end.portError;
        m_outcome.portError = end.opened ? 0 : end.portErrorNumber;
    }
    m_done(m_outcome);
}
