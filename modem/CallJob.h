#pragma once

#include "modem/CallOutcome.h"
#include "modem/ModemJob.h"

#include <QDeadlineTimer>
#include <QStringList>

#include <functional>

// A voice call the desk makes: "ATD<number>;", then "AT+CLCC" about every
// `pollMs` (a wait of the engine between, which the network's "BUSY", "NO
// ANSWER" or "NO CARRIER" cuts short) until the call is answered or ends;
// hung up (ATH, or AT+CHUP where ATH is refused) after `ringMs` of ringing
// or `answeredMs` after it was answered. An ERROR, "NO CARRIER" or "+CME
// ERROR: 4" (not supported) to the ATD itself: the modem makes no voice
// calls. Another +CME ERROR (a call under way, no network) fails this call only.
class CallJob : public ModemJob
{
public:
    struct Times {
        int pollMs = 1000;
        int ringMs = 30000;
        int answeredMs = 10000;
    };

    // The lines of the network that end a call.
    static QStringList endingLines();

    CallJob(const QString &number, const Times &times, std::function<void(const CallOutcome &)> done);

    Trace trace() const override { return Trace::Steps; }
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &end) override;

private:
    enum class Step { Start, Dial, Wait, List, HangUp, Chup, Done };

    std::optional<ModemCommand> dialled(const ModemAnswer &answer);
    std::optional<ModemCommand> listed(const ModemAnswer &answer);
    std::optional<ModemCommand> ended(const QString &line);
    std::optional<ModemCommand> wait();
    std::optional<ModemCommand> hangUp(CallOutcome::Result result, const QString &reason = {});
    std::optional<ModemCommand> finish(CallOutcome::Result result, const QString &reason = {});

    QString m_number;
    Times m_times;
    std::function<void(const CallOutcome &)> m_done;
    Step m_step = Step::Start;
    CallOutcome m_outcome;
    bool m_answered = false;
    bool m_listing = true; // the modem answers AT+CLCC
    QDeadlineTimer m_deadline;
};

// Hangs up a call that rings the desk, without answering it: ATH, or
// AT+CHUP where ATH is refused.
class HangUpJob : public ModemJob
{
public:
    explicit HangUpJob(std::function<void()> done);

    Trace trace() const override { return Trace::Steps; }
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &) override;

private:
    std::function<void()> m_done;
    int m_step = 0;
};
