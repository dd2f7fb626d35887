#include "modem/CallJob.h"

#include <QRegularExpression>

namespace {

const QString Busy = QStringLiteral("BUSY");
const QString NoAnswer = QStringLiteral("NO ANSWER");
const QString NoCarrier = QStringLiteral("NO CARRIER");

// The network's word that the call ended, in what the modem said; empty for none.
QString endingIn(const QString &reply)
{
    for (const QString &line : CallJob::endingLines()) {
        static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
        if (reply.split(lineBreak).contains(line))
            return line;
    }
    return {};
}

} // namespace

QStringList CallJob::endingLines()
{
    return {Busy, NoAnswer, NoCarrier};
}

CallJob::CallJob(const QString &number, const Times &times, std::function<void(const CallOutcome &)> done)
    : m_number(number)
    , m_times(times)
    , m_done(std::move(done))
{
}

std::optional<ModemCommand> CallJob::next(const ModemAnswer *answer)
{
    switch (m_step) {
    case Step::Start: {
        m_step = Step::Dial;
        ModemCommand dial = ModemCommand::reply(QStringLiteral("ATD%1;").arg(m_number));
        dial.finalLines = endingLines();
        return dial;
    }
    case Step::Dial:
        return dialled(*answer);
    case Step::Wait:
        // The wait ran out, or the network ended the call meanwhile.
        if (!answer->given && !answer->timedOut)
            return ended(answer->failure);
        if (!m_listing)
            return m_deadline.hasExpired() ? hangUp(CallOutcome::Result::NoAnswer) : wait();
        m_step = Step::List;
        return ModemCommand::query(QStringLiteral("AT+CLCC"), QStringLiteral("+CLCC:"));
    case Step::List:
        return listed(*answer);
    case Step::HangUp:
        if (!answer->given && !answer->timedOut) {
            m_step = Step::Chup;
            return ModemCommand::reply(QStringLiteral("AT+CHUP"));
        }
        [[fallthrough]];
    case Step::Chup:
    case Step::Done:
        m_step = Step::Done;
        break;
    }
    return std::nullopt;
}

std::optional<ModemCommand> CallJob::dialled(const ModemAnswer &answer)
{
    if (answer.given) {
        m_deadline = QDeadlineTimer(m_times.ringMs);
        return wait();
    }
    if (answer.timedOut)
        return hangUp(CallOutcome::Result::Failed, QStringLiteral("no answer from the modem to ATD"));
    // Refused at once: no voice on this modem (or its SIM), unless the
    // network spoke of the callee.
    const QString failure = answer.failure.trimmed();
    if (failure == Busy)
        return finish(CallOutcome::Result::Busy);
    if (failure == NoAnswer)
        return finish(CallOutcome::Result::NoAnswer);
    static const QRegularExpression notAllowed(QStringLiteral(R"(^\+CME ERROR:\s*(4|operation not supported)$)"));
    if (failure == NoCarrier || failure == QLatin1String("ERROR") || notAllowed.match(failure).hasMatch())
        return finish(CallOutcome::Result::CannotCall,
                      QStringLiteral("the modem makes no voice calls (%1)").arg(failure));
    return finish(CallOutcome::Result::Failed, failure);
}

std::optional<ModemCommand> CallJob::listed(const ModemAnswer &answer)
{
    if (answer.timedOut)
        return hangUp(CallOutcome::Result::Failed, QStringLiteral("the modem fell silent during the call"));
    if (!answer.given) {
        if (CallJob::endingLines().contains(answer.failure))
            return ended(answer.failure);
        // A modem without AT+CLCC: the call is followed by its timers alone.
        m_listing = false;
        return m_deadline.hasExpired() ? hangUp(CallOutcome::Result::NoAnswer) : wait();
    }
    const QString ending = endingIn(answer.reply);
    if (!ending.isEmpty())
        return ended(ending);
    // +CLCC: <id>,<dir>,<stat>,<mode>,...: the call the modem made (dir 0) in voice (mode 0).
    static const QRegularExpression call(QStringLiteral(R"(\+CLCC:\s*\d+\s*,\s*0\s*,\s*(\d)\s*,\s*0)"));
    const QRegularExpressionMatch match = call.match(answer.reply);
    if (!match.hasMatch()) {
        if (m_answered)
            return finish(CallOutcome::Result::Answered);
        return finish(CallOutcome::Result::Failed, QStringLiteral("the call ended before it was answered"));
    }
    const int state = match.captured(1).toInt();
    if (state == 0 && !m_answered) {
        m_answered = true;
        m_deadline = QDeadlineTimer(m_times.answeredMs);
    }
    if (m_deadline.hasExpired())
        return hangUp(m_answered ? CallOutcome::Result::Answered : CallOutcome::Result::NoAnswer);
    return wait();
}

std::optional<ModemCommand> CallJob::ended(const QString &line)
{
    if (line == Busy)
        return finish(CallOutcome::Result::Busy);
    if (line == NoAnswer)
        return finish(CallOutcome::Result::NoAnswer);
    // NO CARRIER: the other side hung up, or the call failed.
    if (m_answered)
        return finish(CallOutcome::Result::Answered);
    return finish(CallOutcome::Result::Failed, line);
}

std::optional<ModemCommand> CallJob::wait()
{
    m_step = Step::Wait;
    const qint64 left = m_deadline.remainingTime();
    return ModemCommand::pause(int(qBound(qint64(1), left, qint64(m_times.pollMs))), endingLines());
}

std::optional<ModemCommand> CallJob::hangUp(CallOutcome::Result result, const QString &reason)
{
    m_outcome = {result, reason};
    m_step = Step::HangUp;
    return ModemCommand::reply(QStringLiteral("ATH"));
}

std::optional<ModemCommand> CallJob::finish(CallOutcome::Result result, const QString &reason)
{
    m_outcome = {result, reason};
    m_step = Step::Done;
    return std::nullopt;
}

void CallJob::end(const End &end)
{
    if (!end.portError.isEmpty() && m_step != Step::Done)
        m_outcome = {CallOutcome::Result::Failed, end.portError};
    m_done(m_outcome);
}

HangUpJob::HangUpJob(std::function<void()> done)
    : m_done(std::move(done))
{
}

std::optional<ModemCommand> HangUpJob::next(const ModemAnswer *answer)
{
    if (m_step == 0) {
        m_step = 1;
        return ModemCommand::reply(QStringLiteral("ATH"));
    }
    if (m_step == 1 && !answer->given && !answer->timedOut) {
        m_step = 2;
        return ModemCommand::reply(QStringLiteral("AT+CHUP"));
    }
    return std::nullopt;
}

void HangUpJob::end(const End &)
{
    m_done();
}
