#pragma once

#include "modem/ModemCommand.h"

#include <QString>

#include <optional>

// One piece of work for a modem's engine: an SMS, the modem test, a query.
// The engine asks the job for its first command, then for the next after
// each answer, until the job says it is done; the job never waits and never
// touches the port.
class ModemJob
{
public:
    // How a job ended.
    struct End {
        // Empty when the job ran its course; otherwise why the port cut it
        // short, in words for the page log ("Invalid port number", "the line
        // to the modem was lost (...)").
        QString portError;
        int portErrorNumber = 0; // 8000 to 8020, for a port that could not be opened
        bool opened = true;      // false: the port could not be opened, nothing was written
    };

    // What of it the trace shows: nothing, its commands and answers, or
    // all of its dialogue from "Starting..." to "Done...".
    enum class Trace { None, Steps, Dialogue };

    virtual ~ModemJob() = default;

    virtual Trace trace() const { return Trace::Dialogue; }
    // Written before the first command, no answer awaited.
    virtual QString preamble() const { return {}; }
    // The first command (answer null), then the next after each answer;
    // nothing when the job is done.
    virtual std::optional<ModemCommand> next(const ModemAnswer *answer) = 0;
    // Called once, last.
    virtual void end(const End &end) = 0;
};
