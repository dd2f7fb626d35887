#pragma once

#include "modem/ModemJob.h"

#include <functional>

// The modem test of the COM page: "AT+GSN", and whether an "OK" comes back
// within 300 ms. The serial number itself is not read; only the "OK"
// counts, in any one arrival.
class ModemTestJob : public ModemJob
{
public:
    static constexpr int AnswerMs = 300;

    struct Result {
        bool answered = false;
        int portError = 0; // 8000 to 8020: the port could not be opened
        QString portErrorText;
    };

    explicit ModemTestJob(std::function<void(const Result &)> done);

    Trace trace() const override { return Trace::None; }
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &end) override;

private:
    std::function<void(const Result &)> m_done;
    Result m_result;
};
