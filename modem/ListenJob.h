#pragma once

#include "modem/ModemJob.h"

#include <functional>
#include <optional>

// What a line that listens to phones tells its modem at each opening: show
// the caller of each call (AT+CLIP=1) and announce incoming SMS (the line's
// one AT+CNMI, after asking once what the modem takes). Answers do not
// matter: a modem that refuses is read and hung up on all the same.
class ListenJob : public ModemJob
{
public:
    struct Hooks {
        std::function<bool()> rangesKnown;
        std::function<void(const QString &ranges)> setRanges;
        std::function<QString()> command; // the AT+CNMI to send
    };

    explicit ListenJob(Hooks hooks);

    Trace trace() const override { return Trace::Steps; }
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &) override { }

private:
    enum class Step { Start, Clip, Ranges, Indications, Done };

    Hooks m_hooks;
    Step m_step = Step::Start;
};
