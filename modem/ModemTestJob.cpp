#include "modem/ModemTestJob.h"

ModemTestJob::ModemTestJob(std::function<void(const Result &)> done)
    : m_done(std::move(done))
{
}

std::optional<ModemCommand> ModemTestJob::next(const ModemAnswer *answer)
{
    if (answer) {
        m_result.answered = answer->given;
        return std::nullopt;
    }
    ModemCommand command;
    command.text = QStringLiteral("AT+GSN");
    command.expect = ModemCommand::Expect::OkInOneArrival;
    command.fixedMs = AnswerMs;
    return command;
}

void ModemTestJob::end(const End &end)
{
    if (!end.portError.isEmpty()) {
        m_result.answered = false;
        m_result.portError = end.portErrorNumber;
        m_result.portErrorText = end.portError;
    }
    m_done(m_result);
}
