#pragma once

#include "modem/IncomingSms.h"
#include "modem/ModemJob.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>

// Reads every SMS stored in the SIM's SM memory (AT+CMGL, in PDU mode where
// the modem takes it, else in text mode), hands each to `keep` (the parts
// of a long SMS joined once all are there) and deletes it (AT+CMGD) only
// when keep took it. A part whose others have not come yet stays, unless
// the memory is full. The memory reports are read from is selected again at
// the end, for a reader of reports between its commands. AT+CPMS="SM" goes
// every time: its count tells a listing cut short.
class IncomingReadJob : public ModemJob
{
public:
    struct Hooks {
        std::function<bool(const IncomingSms &)> keep;
        QString memory;    // the memory AT+CPMS last selected for reading ("SR", "SM"; empty: unknown)
        bool text = false; // the modem takes no PDU mode
        // Kept and not deleted yet (a delete that failed): deleted without
        // being handed on again. Keys: see key().
        QSet<QString> *kept = nullptr; // never null
    };
    struct Result {
        bool listed = false; // the memory was read
        bool text = false;   // in text mode
        int left = 0;        // SMS left on the SIM (not kept, not whole yet, not deleted)
        bool full = false;   // the memory was full
    };

    IncomingReadJob(Hooks hooks, std::function<void(const Result &)> done);

    // Names one stored SMS while it is on the SIM.
    static QString key(int index, const IncomingSms &sms);

    Trace trace() const override { return Trace::Steps; }
    std::optional<ModemCommand> next(const ModemAnswer *answer) override;
    void end(const End &end) override;

private:
    enum class Step { Start, Mode, Memory, List, Delete, Restore, Done };
    // One SMS to hand on: its text and the indexes of its parts.
    struct Found {
        IncomingSms sms;
        QList<int> indexes;
    };

    std::optional<ModemCommand> list();
    void parse(const QString &reply);
    std::optional<ModemCommand> nextFound();
    std::optional<ModemCommand> restore();

    Hooks m_hooks;
    std::function<void(const Result &)> m_done;
    Step m_step = Step::Start;
    Result m_result;
    int m_used = 0; // SMS the memory holds, as AT+CPMS said
    QList<Found> m_found;
    QList<int> m_deletes; // the parts of the SMS being deleted, still to go
    QString m_deleting;   // its key
    bool m_deleteFailed = false;
};
