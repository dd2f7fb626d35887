#include "modem/ListenJob.h"

ListenJob::ListenJob(Hooks hooks)
    : m_hooks(std::move(hooks))
{
}

std::optional<ModemCommand> ListenJob::next(const ModemAnswer *answer)
{
    switch (m_step) {
    case Step::Start:
        m_step = Step::Clip;
        return ModemCommand::reply(QStringLiteral("AT+CLIP=1"));
    case Step::Clip:
        if (!m_hooks.rangesKnown()) {
            m_step = Step::Ranges;
            return ModemCommand::query(QStringLiteral("AT+CNMI=?"), QStringLiteral("+CNMI:"));
        }
        [[fallthrough]];
    case Step::Ranges:
        // Silence is asked about again at the next opening.
        if (m_step == Step::Ranges && answer && !answer->timedOut)
            m_hooks.setRanges(answer->given ? answer->reply : QString());
        m_step = Step::Indications;
        return ModemCommand::reply(m_hooks.command());
    case Step::Indications:
    case Step::Done:
        m_step = Step::Done;
        break;
    }
    return std::nullopt;
}
