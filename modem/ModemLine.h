#pragma once

#include "modem/ModemCommand.h"
#include "modem/ModemJob.h"
#include "modem/ModemReply.h"
#include "modem/SmsRoute.h"
#include "store/MSComm.h"
#include "store/PortSettings.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class TraceList;

// The engine of one modem line: it owns the modem's serial port, keeps it
// open while the modem is in service (so that it hears the lines the modem
// sends on its own, and a pulled cable, at once), and runs jobs one after
// another as a state machine driven by the port's notifications and by
// timers. Nothing in it ever waits: a job goes in, and its end comes out
// through the job itself.
//
// A command's wait ends on its reply, on a final error result ("ERROR",
// "+CMS ERROR: n", "+CME ERROR: n") at once, or after its time-out (one unit
// is a ten-thousandth of a day, 8.64 s). Only what the modem says after
// echoing the command counts. Lines the modem sends on its own account
// ("+CMTI", "+CDS", "RING"), before, between or inside the replies, are
// taken out, shown in the trace and handed on by unsolicited(); they never
// answer a command.
class ModemLine : public QObject, public SmsRoute
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeUnitMs = 8640;
    // While the line is down, the device is looked for this often.
    static constexpr int ReopenMs = 1000;
    // How long a message's answer that did not come in time is still
    // listened for, at the default unit (scaled as the waits are).
    static constexpr int LateAnswerMs = 10 * 60000;
    // SMS left on the SIM (not kept, not whole yet, a read that failed) are
    // looked at again this long after, at the default unit (scaled).
    static constexpr int LookAgainMs = 60000;
    // RING comes every few seconds while a call rings: lines closer than
    // this are one call. The network's pace, never scaled.
    static constexpr int RingGapMs = 5000;
    // A call the desk makes, at the default unit (scaled): followed this
    // often, hung up after this long ringing, or this long after it was answered.
    static constexpr int CallPollMs = 1000;
    static constexpr int CallRingMs = 30000;
    static constexpr int CallAnsweredMs = 10000;

    ModemLine(const PortSettings &settings, TraceList &trace, QObject *parent = nullptr);
    ~ModemLine() override;

    const PortSettings &settings() const { return m_settings; }
    short port() const { return m_settings.port; }
    QString name() const { return m_settings.name(); }
    // New settings for the port; it is opened with them before the next job.
    void setSettings(const PortSettings &settings);

    // Scales the time-out unit; only tests and benchmarks change it.
    void setTimeUnitMs(int ms) { m_timeUnitMs = ms; }
    int timeUnitMs() const { return m_timeUnitMs; }

    // Takes the line into service: the port is opened now, and again after
    // every error, as soon as the device is there. Each opening first
    // writes AT+CMEE=1, so that the modem says why it refuses something.
    // A line whose opening fails is down until it opens (lineBack).
    void open();
    // Out of service: the port is let go once the job under way has ended,
    // for whoever wants it.
    void close();
    // Closes the port and opens it afresh, as for a modem that locked up;
    // a job under way keeps it.
    void reopen();
    bool inService() const { return m_inService; }
    bool portOpen() const { return m_port.portOpen(); }

    // With several lines writing one trace, each line says whose it is and
    // no dialogue clears the others'.
    void setTracePrefix(const QString &prefix) { m_tracePrefix = prefix; }

    // Queues a job; it runs after those before it, never inside another.
    void run(std::unique_ptr<ModemJob> job);
    // A job is running or waiting.
    bool busy() const { return m_job || !m_queue.empty(); }

    // As a route for SMS: one at a time.
    QString routeName() const override { return name(); }
    bool free() const override { return !busy(); }
    void send(const SmsRequest &request, std::function<void(const SendOutcome &)> done) override;
    // The modem test's question, after what the engine is doing.
    void probe(const std::function<void(bool answered)> &done) override;

    // Hears phones from now on (see SmsRoute): at each opening the modem is
    // told to show callers (AT+CLIP=1) and announce incoming SMS (its
    // AT+CNMI with <mt>), and its stored SMS are read; again on each +CMTI.
    // A call is hung up at once, as a job in front of the others.
    void listenToPhones(const Incoming &incoming) override;
    bool listening() const { return m_incoming.on(); }
    // Reads the stored incoming SMS now (after the job under way).
    void readIncoming();
    // A voice call through the modem, as a job; see CallJob.
    bool canCall() const override { return m_inService && !m_cannotCall; }
    void call(const QString &number, std::function<void(const CallOutcome &)> done) override;

    // The one AT+CNMI this modem is told: the <ds> delivery reports want
    // (once wantReports() was called) and the <mt> listening wants, for
    // what "AT+CNMI=?" answered (setIndicationRanges()).
    QString indicationsCommand() const;
    void wantReports() { m_reportsWanted = true; }
    bool indicationRangesKnown() const { return m_cnmiRanges.has_value(); }
    void setIndicationRanges(const QString &ranges) { m_cnmiRanges = ranges; }

    // One command and its answer, after what the engine is doing; the
    // command and the answers show in the trace.
    void ask(const ModemCommand &command, const std::function<void(const ModemAnswer &)> &done);
    // The same as the program has always called it: writes `s` and a CR,
    // and tells `done` whether `ok` came within TOut time-out units (and
    // why not).
    void sendIt(const QString &s, const QString &ok, const QString &eror, int TOut,
                const std::function<void(const ModemAnswer &)> &done);

signals:
    // A line the modem sent on its own, with its data line where it has one.
    void unsolicited(const QString &line, const QString &data);
    // The line to the modem went away (the device gone, the cable pulled),
    // and came back.
    void lineLost(const QString &reason);
    void lineBack();
    // The network took a message after all: "+CMGS: <reference>" came on its
    // own for part `part` of the SMS `id` (SmsRequest::id), whose send had
    // ended Unanswered.
    void lateAccepted(qint64 id, int part, int reference);
    // The last job has ended and none waits.
    void idle();
    // A call was refused at once: this modem makes no voice calls, and is
    // not asked to again. Said once.
    void cannotCall();

private:
    void MSComm1_OnComm();
    void startNext();
    bool ensureOpen(CommError *error);
    void issue(const std::optional<ModemCommand> &command);
    void examine(const QString &arrival);
    void examineIdle(const QString &arrival);
    void stepEnded(const ModemAnswer &answer, qsizetype replyEnd);
    void stepTimedOut();
    // How long the command under way waits for its answer.
    int waitMs() const;
    void lost(const QString &reason);
    void finishJob(const ModemJob::End &end);
    void tryReopen();
    void report(const QList<ModemReply::Unsolicited> &found);
    void watchForLateAnswer(qint64 id, const SendOutcome &outcome);
    void heardLateAnswer(const QString &line);
    void heardFromPhone(const ModemReply::Unsolicited &line);
    void heardRing(const QString &number);
    void heardPassedOn(const QString &line, const QString &data);
    void queueListening();
    std::unique_ptr<ModemJob> readJob();
    // Scales a wait given at the default unit.
    int scaled(int ms) const;
    void say(const QString &line);
    void sayInDialogue(const QString &line);

    MSComm m_port;
    PortSettings m_settings;
    PortSettings m_openedWith;
    TraceList &m_trace;
    int m_timeUnitMs = DefaultTimeUnitMs;
    bool m_inService = false;
    QString m_tracePrefix;
    bool m_down = false; // the line was lost and has not come back yet

    std::deque<std::unique_ptr<ModemJob>> m_queue;
    std::unique_ptr<ModemJob> m_job;
    ModemJob::Trace m_traced = ModemJob::Trace::None;
    bool m_waiting = false; // a command waits for its answer
    ModemCommand m_command;
    QString m_sent;
    QString m_buffer;         // everything received since the command was written
    qsizetype m_scanFrom = 0; // the lines before this were looked at for the modem's own
    QString m_pending;        // the start of a line of the modem's own, carried to what follows
    // The message whose answer may still come, for a while.
    struct LateWatch {
        qint64 id = 0;
        int part = 0;
        QDeadlineTimer until;
    };
    std::optional<LateWatch> m_lateWatch;
    // Listening to phones.
    Incoming m_incoming;
    std::optional<QString> m_cnmiRanges;
    bool m_reportsWanted = false;
    QString m_readMemory;       // what AT+CPMS last selected for reading; empty: unknown
    bool m_readQueued = false;  // a read of the stored SMS waits in the queue
    bool m_readRunning = false; // ... or runs
    bool m_readAgain = false;   // a +CMTI came while it ran
    bool m_textOnly = false;    // the modem takes no PDU mode
    QSet<QString> m_keptOnSim;  // kept, their delete failed
    QTimer m_lookAgain;         // what was left on the SIM is looked at again
    bool m_hangUpQueued = false;
    QElapsedTimer m_lastRing; // the last RING or +CLIP heard
    QString m_caller;         // of the call being hung up
    bool m_callerTold = true;
    QHash<QString, QStringList> m_passedParts; // +CMT parts of long SMS, by sender/reference/count
    bool m_cannotCall = false;
    QTimer m_stepTimer;
    QTimer m_startTimer;
    QTimer m_reopenTimer;
};
