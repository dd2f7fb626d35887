#include "modem/ModemLine.h"

#include "modem/CallJob.h"
#include "modem/IncomingReadJob.h"
#include "modem/Indications.h"
#include "modem/ListenJob.h"
#include "modem/ModemTestJob.h"
#include "modem/SmsPdu.h"
#include "modem/TraceList.h"
#include "store/PhoneNumber.h"
#include "store/UpdateCom.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace {

// A trace line shows the whole reply so far. A device that pours out bytes
// (a wrong speed, something other than a modem on the port) would make each
// line longer than the last; past this length only the end is shown.
constexpr qsizetype LongestShownReply = 1024;
// What is kept of the modem's chatter while no command waits: the start of
// a line of its own that has not ended yet.
constexpr qsizetype LongestPendingLine = 1024;

QString shownReply(const QString &buffer)
{
    if (buffer.size() <= LongestShownReply)
        return buffer;
    return QStringLiteral("...") + buffer.right(LongestShownReply);
}

// Whether what is left of a line may yet become one of the modem's own.
bool mayBecomeOwnLine(const QString &rest)
{
    const QString start = rest.trimmed();
    if (start.isEmpty() || rest.size() > LongestPendingLine)
        return false;
    return start.startsWith(QLatin1String("+C")) || QStringLiteral("+C").startsWith(start)
           || QStringLiteral("RING").startsWith(start.left(4));
}

// One command, its answer handed to whoever asked.
class CommandJob : public ModemJob
{
public:
    CommandJob(const ModemCommand &command, std::function<void(const ModemAnswer &)> done = {})
        : m_command(command)
        , m_done(std::move(done))
    {
    }

    Trace trace() const override { return Trace::Steps; }

    std::optional<ModemCommand> next(const ModemAnswer *answer) override
    {
        if (!answer)
            return m_command;
        m_answer = *answer;
        return std::nullopt;
    }

    void end(const End &end) override
    {
        if (!end.portError.isEmpty())
            m_answer = {false, false, end.portError, {}, end.portErrorNumber};
        if (m_done)
            m_done(m_answer);
    }

private:
    ModemCommand m_command;
    std::function<void(const ModemAnswer &)> m_done;
    ModemAnswer m_answer;
};

} // namespace

ModemLine::ModemLine(const PortSettings &settings, TraceList &trace, QObject *parent)
    : QObject(parent)
    , m_port(this)
    , m_settings(settings)
    , m_trace(trace)
{
    connect(&m_port, &MSComm::OnComm, this, &ModemLine::MSComm1_OnComm);
    m_stepTimer.setSingleShot(true);
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_stepTimer, &QTimer::timeout, this, &ModemLine::stepTimedOut);
    // Between two jobs the event loop has its turn.
    m_startTimer.setSingleShot(true);
    connect(&m_startTimer, &QTimer::timeout, this, &ModemLine::startNext);
    m_reopenTimer.setInterval(ReopenMs);
    connect(&m_reopenTimer, &QTimer::timeout, this, &ModemLine::tryReopen);
    m_lookAgain.setSingleShot(true);
    connect(&m_lookAgain, &QTimer::timeout, this, [this] {
        if (m_incoming.on() && m_inService)
            readIncoming();
    });
}

ModemLine::~ModemLine() = default;

void ModemLine::setSettings(const PortSettings &settings)
{
    m_settings = settings;
    // A port open with other settings is opened afresh before the next job.
    if (!busy() && m_port.portOpen() && m_openedWith != m_settings) {
        m_port.setPortOpen(false);
        tryReopen();
    }
}

void ModemLine::open()
{
    m_inService = true;
    tryReopen();
    if (!m_port.portOpen())
        m_reopenTimer.start();
}

void ModemLine::close()
{
    m_inService = false;
    m_reopenTimer.stop();
    if (!busy() && m_port.portOpen())
        m_port.setPortOpen(false);
}

void ModemLine::reopen()
{
    if (busy())
        return;
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    if (m_inService) {
        tryReopen();
        if (!m_port.portOpen())
            m_reopenTimer.start();
    }
}

void ModemLine::tryReopen()
{
    if (busy() || (m_port.portOpen() && m_openedWith == m_settings)) {
        m_reopenTimer.stop();
        return;
    }
    CommError error(0);
    if (ensureOpen(&error)) {
        m_reopenTimer.stop();
        m_startTimer.start(0);
        if (std::exchange(m_down, false))
            emit lineBack();
    }
}

bool ModemLine::ensureOpen(CommError *error)
{
    if (m_port.portOpen() && m_openedWith == m_settings)
        return true;
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    try {
        UpdateCom::OpenModemPort(m_port, m_settings, m_settings.port);
    } catch (const CommError &refused) {
        *error = refused;
        // Down as a pulled device is, also when it was missing from the
        // start: its return is told, and looked at at once.
        m_down = true;
        return false;
    }
    m_openedWith = m_settings;
    m_pending.clear();
    m_readMemory.clear();
    // A line that listens tells each fresh modem so, and reads what came
    // meanwhile, before anything else but the error codes.
    if (m_incoming.on())
        queueListening();
    // Before anything else on a fresh line: failures said as numbers rather
    // than a bare ERROR (many modems start so, and a reset or a replug sets
    // it back). Its answer does not matter. The ESC in front cancels a
    // message a killed program left at the modem's prompt, which the
    // command would otherwise join.
    ModemCommand errorCodes = ModemCommand::reply(QStringLiteral("AT+CMEE=1"));
    errorCodes.before = ModemCommand::clearPrompt();
    m_queue.push_front(std::make_unique<CommandJob>(errorCodes));
    return true;
}

void ModemLine::run(std::unique_ptr<ModemJob> job)
{
    m_queue.push_back(std::move(job));
    if (!m_job)
        m_startTimer.start(0);
}

void ModemLine::send(const SmsRequest &request, std::function<void(const SendOutcome &)> done)
{
    const QString route = name();
    auto job = std::make_unique<SmsSendJob>(request, [this, done, route, id = request.id](const SendOutcome &outcome) {
        watchForLateAnswer(id, outcome);
        SendOutcome named = outcome;
        named.route = route;
        done(named);
    });
    // An SMS no modem could send never reaches the line.
    if (!job->refusal().isEmpty()) {
        QTimer::singleShot(0, this, [done, outcome = job->refused()] { done(outcome); });
        return;
    }
    run(std::move(job));
}

void ModemLine::probe(const std::function<void(bool answered)> &done)
{
    run(std::make_unique<ModemTestJob>([done](const ModemTestJob::Result &result) { done(result.answered); }));
}

void ModemLine::ask(const ModemCommand &command, const std::function<void(const ModemAnswer &)> &done)
{
    run(std::make_unique<CommandJob>(command, done));
}

void ModemLine::sendIt(const QString &s, const QString &ok, const QString & /*eror*/, int TOut,
                       const std::function<void(const ModemAnswer &)> &done)
{
    // Any final error result ends the wait; the error text is not needed.
    ModemCommand command = ModemCommand::reply(s, ok);
    command.units = TOut;
    ask(command, done);
}

void ModemLine::startNext()
{
    if (m_job || m_queue.empty())
        return;
    // A fresh opening puts its own first command in front.
    CommError error(0);
    const bool opened = ensureOpen(&error);
    m_job = std::move(m_queue.front());
    m_queue.pop_front();
    // The read of the stored SMS is made as it starts, with what is known then.
    if (!m_job)
        m_job = readJob();
    m_traced = m_job->trace();
    if (m_traced == ModemJob::Trace::Dialogue) {
        if (m_tracePrefix.isEmpty())
            m_trace.Clear();
        sayInDialogue(QStringLiteral("Starting..."));
    }
    if (!opened) {
        // Nothing was written: no dialogue to close.
        m_traced = ModemJob::Trace::None;
        finishJob({error.description(), error.number(), false});
        if (m_inService)
            m_reopenTimer.start();
        return;
    }
    if (std::exchange(m_down, false))
        emit lineBack();
    sayInDialogue(QStringLiteral("Port Opened"));
    try {
        const QString preamble = m_job->preamble();
        if (!preamble.isEmpty())
            m_port.output(preamble);
    } catch (const CommError &failed) {
        lost(failed.description());
        return;
    }
    // A write can find the line gone, and that ends the job at once.
    if (!m_job)
        return;
    issue(m_job->next(nullptr));
}

void ModemLine::issue(const std::optional<ModemCommand> &command)
{
    if (!command) {
        finishJob({});
        return;
    }
    m_command = *command;
    if (m_command.expect == ModemCommand::Expect::Pause) {
        // Nothing goes to the modem; what it says meanwhile is looked at as an answer.
        m_sent.clear();
        m_buffer = std::exchange(m_pending, {});
        m_scanFrom = 0;
        m_waiting = true;
        m_stepTimer.start(waitMs());
        return;
    }
    // Another SMS's message: a late answer could no longer be told apart.
    if (m_command.expect == ModemCommand::Expect::MessageSent)
        m_lateWatch.reset();
    say(QStringLiteral("Sending..") + m_command.text);
    m_sent = m_command.text + QLatin1Char('\r');
    try {
        if (!m_command.before.isEmpty())
            m_port.output(m_command.before);
        m_port.output(m_sent);
    } catch (const CommError &failed) {
        lost(failed.description());
        return;
    }
    // The port may have told of a lost line while it was written to, and
    // the job ended with it.
    if (!m_job)
        return;
    // Nothing is read between the write and here, so every byte of the
    // answer lands in the emptied buffer; only the start of a line of the
    // modem's own that came before is carried over.
    m_buffer = std::exchange(m_pending, {});
    m_scanFrom = 0;
    m_waiting = true;
    m_stepTimer.start(waitMs());
}

int ModemLine::waitMs() const
{
    if (m_command.fixedMs > 0)
        return m_command.fixedMs;
    if (m_command.scaledMs > 0)
        return int(qint64(m_command.scaledMs) * m_timeUnitMs / DefaultTimeUnitMs);
    return m_command.units * m_timeUnitMs;
}

void ModemLine::MSComm1_OnComm()
{
    if (m_job && m_waiting)
        say(QStringLiteral("In OnComm"));
    if (m_port.commEvent() == MSComm::comEventLineLost) {
        lost(CommError(CommError::ReadFailed).description());
        return;
    }
    if (m_port.commEvent() != MSComm::comEvReceive || !m_port.portOpen())
        return;
    const QString arrival = m_port.input();
    if (m_waiting)
        examine(arrival);
    else
        examineIdle(arrival);
}

void ModemLine::examine(const QString &arrival)
{
    m_buffer += arrival;
    report(ModemReply::takeLeading(m_buffer, m_sent, m_command.ownLines));
    // The lines after the echo, each looked at once it has ended: a device
    // that pours out bytes costs each arrival its own length only.
    const qsizetype echo = ModemReply::echoEnd(m_buffer, m_sent);
    report(ModemReply::takeUnsolicited(m_buffer, qMax(echo, m_scanFrom), m_command.ownLines, &m_scanFrom));
    const ModemReply::Verdict verdict = ModemReply::judge(m_buffer, arrival, m_sent, m_command);
    switch (verdict.kind) {
    case ModemReply::Verdict::Given:
        say(QStringLiteral("--> ") + shownReply(m_buffer));
        stepEnded({true, false, {}, ModemReply::afterEcho(m_buffer.left(verdict.end), m_sent), 0}, verdict.end);
        break;
    case ModemReply::Verdict::Refused:
        say(QStringLiteral("Err--->") + shownReply(m_buffer));
        stepEnded({false, false, verdict.failure, ModemReply::afterEcho(m_buffer.left(verdict.end), m_sent), 0},
                  verdict.end);
        break;
    case ModemReply::Verdict::Pending:
        say(QStringLiteral("?---> ") + shownReply(m_buffer));
        break;
    }
}

void ModemLine::examineIdle(const QString &arrival)
{
    // Nobody waits for an answer: only the modem's own lines count. The
    // start of one that has not ended yet is kept for what follows.
    QString text = m_pending + arrival;
    qsizetype open = 0;
    report(ModemReply::takeUnsolicited(text, 0, {}, &open));
    const QString rest = text.mid(open);
    m_pending = mayBecomeOwnLine(rest) ? rest : QString();
}

void ModemLine::stepEnded(const ModemAnswer &answer, qsizetype replyEnd)
{
    m_stepTimer.stop();
    m_waiting = false;
    // The memory read from, for the jobs that read SMS and reports in turn.
    static const QRegularExpression selects(QStringLiteral(R"re(^AT\+CPMS="(\w+)")re"));
    const QRegularExpressionMatch selected = selects.match(m_command.text);
    if (selected.hasMatch())
        m_readMemory = answer.given ? selected.captured(1) : QString();
    // What came after the reply belongs to what follows.
    examineIdle(m_buffer.mid(replyEnd));
    issue(m_job->next(&answer));
}

void ModemLine::stepTimedOut()
{
    if (!m_waiting)
        return;
    if (m_command.expect == ModemCommand::Expect::Pause) {
        stepEnded({false, true, {}, {}, 0}, m_buffer.size());
        return;
    }
    say(QStringLiteral("Timeout..."));
    stepEnded(
        {false, true, QStringLiteral("no answer from the modem within %1 s").arg(double(waitMs()) / 1000.0), {}, 0},
        m_buffer.size());
}

void ModemLine::lost(const QString &reason)
{
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    m_pending.clear();
    if (!m_down) {
        m_down = true;
        emit lineLost(reason);
    }
    if (m_job) {
        // A step cut short by the port was not answered, whatever the steps
        // before it said.
        m_stepTimer.stop();
        m_waiting = false;
        finishJob({QStringLiteral("the line to the modem was lost (%1)").arg(reason), CommError::ReadFailed, true});
    }
    if (m_inService)
        m_reopenTimer.start();
}

void ModemLine::finishJob(const ModemJob::End &end)
{
    sayInDialogue(QStringLiteral("Done..."));
    m_traced = ModemJob::Trace::None;
    const std::unique_ptr<ModemJob> job = std::move(m_job);
    job->end(end);
    if (!m_queue.empty()) {
        m_startTimer.start(0);
        return;
    }
    if (!m_inService && m_port.portOpen())
        m_port.setPortOpen(false);
    emit idle();
}

void ModemLine::report(const QList<ModemReply::Unsolicited> &found)
{
    for (const ModemReply::Unsolicited &line : found) {
        m_trace.AddItem(m_tracePrefix + QStringLiteral("Unsolicited: ") + line.line
                        + (line.data.isEmpty() ? QString() : QLatin1Char(' ') + line.data));
        emit unsolicited(line.line, line.data);
        heardLateAnswer(line.line);
        heardFromPhone(line);
    }
}

void ModemLine::watchForLateAnswer(qint64 id, const SendOutcome &outcome)
{
    if (outcome.failure != SendOutcome::Failure::Unanswered)
        return;
    m_lateWatch = LateWatch{id, outcome.part, QDeadlineTimer(qint64(LateAnswerMs) * m_timeUnitMs / DefaultTimeUnitMs)};
}

void ModemLine::heardLateAnswer(const QString &line)
{
    static const QRegularExpression cmgs(QStringLiteral(R"(^\+CMGS:\s*(\d+))"));
    const QRegularExpressionMatch match = cmgs.match(line.trimmed());
    if (!m_lateWatch || !match.hasMatch())
        return;
    const LateWatch watch = *std::exchange(m_lateWatch, std::nullopt);
    if (!watch.until.hasExpired())
        emit lateAccepted(watch.id, watch.part, match.captured(1).toInt());
}

void ModemLine::say(const QString &line)
{
    if (m_traced != ModemJob::Trace::None)
        m_trace.AddItem(m_tracePrefix + line);
}

void ModemLine::sayInDialogue(const QString &line)
{
    if (m_traced == ModemJob::Trace::Dialogue)
        m_trace.AddItem(m_tracePrefix + line);
}

int ModemLine::scaled(int ms) const
{
    return qMax(1, int(qint64(ms) * m_timeUnitMs / DefaultTimeUnitMs));
}

QString ModemLine::indicationsCommand() const
{
    return Indications::command(m_cnmiRanges.value_or(QString()), m_reportsWanted, m_incoming.on());
}

void ModemLine::listenToPhones(const Incoming &incoming)
{
    const bool was = m_incoming.on();
    m_incoming = incoming;
    if (!m_incoming.on()) {
        m_lookAgain.stop();
        return;
    }
    // Turned on while the line is open: told and read now.
    if (!was && m_port.portOpen() && m_openedWith == m_settings) {
        queueListening();
        if (!m_job)
            m_startTimer.start(0);
    }
}

void ModemLine::queueListening()
{
    // In front of the queue, in this order: tell the modem, then read it.
    if (!m_readQueued && !m_readRunning) {
        m_readQueued = true;
        m_queue.push_front(nullptr);
    }
    m_queue.push_front(std::make_unique<ListenJob>(ListenJob::Hooks{
        [this] { return m_cnmiRanges.has_value(); },
        [this](const QString &ranges) { m_cnmiRanges = ranges; },
        [this] { return indicationsCommand(); },
    }));
}

void ModemLine::readIncoming()
{
    if (!m_incoming.on())
        return;
    if (m_readRunning) {
        m_readAgain = true;
        return;
    }
    if (m_readQueued)
        return;
    m_readQueued = true;
    m_queue.push_back(nullptr);
    if (!m_job)
        m_startTimer.start(0);
}

std::unique_ptr<ModemJob> ModemLine::readJob()
{
    m_readQueued = false;
    m_readRunning = true;
    m_readAgain = false;
    const QString route = name();
    IncomingReadJob::Hooks hooks{
        [this, route](const IncomingSms &sms) { return m_incoming.on() && m_incoming.keep(route, sms); },
        m_readMemory,
        m_textOnly,
        &m_keptOnSim,
    };
    return std::make_unique<IncomingReadJob>(hooks, [this](const IncomingReadJob::Result &result) {
        m_readRunning = false;
        m_textOnly = result.text;
        if (std::exchange(m_readAgain, false)) {
            readIncoming();
            return;
        }
        // What is left, a read that failed, or a modem that announces
        // nothing: looked at again later.
        const bool unannounced = Indications::messageRouting(indicationsCommand()) != 1;
        if (result.left > 0 || !result.listed || unannounced)
            m_lookAgain.start(scaled(LookAgainMs));
    });
}

void ModemLine::heardFromPhone(const ModemReply::Unsolicited &line)
{
    if (!m_incoming.on())
        return;
    const QString text = line.line.trimmed();
    if (text.startsWith(QLatin1String("+CMTI:"))) {
        readIncoming();
    } else if (text.startsWith(QLatin1String("+CMT:"))) {
        heardPassedOn(text, line.data);
    } else if (text == QLatin1String("RING")) {
        heardRing({});
    } else if (text.startsWith(QLatin1String("+CLIP:"))) {
        static const QRegularExpression clip(QStringLiteral(R"re(^\+CLIP:\s*"([^"]*)")re"));
        heardRing(clip.match(text).captured(1));
    }
}

void ModemLine::heardRing(const QString &number)
{
    const bool sameCall = m_hangUpQueued || (m_lastRing.isValid() && m_lastRing.elapsed() < RingGapMs);
    m_lastRing.start();
    if (!number.isEmpty())
        m_caller = number;
    const QString route = name();
    if (sameCall) {
        // The caller's number after the hang-up: told now, once.
        if (!m_hangUpQueued && !m_callerTold && !m_caller.isEmpty()) {
            m_callerTold = true;
            if (m_incoming.rang)
                m_incoming.rang(route, std::exchange(m_caller, {}));
        }
        return;
    }
    m_hangUpQueued = true;
    m_callerTold = false;
    // Hung up before anything else waits: every ring costs the caller nothing only while unanswered.
    m_queue.push_front(std::make_unique<HangUpJob>([this, route] {
        m_hangUpQueued = false;
        m_lastRing.start();
        if (m_caller.isEmpty())
            return;
        m_callerTold = true;
        if (m_incoming.on() && m_incoming.rang)
            m_incoming.rang(route, std::exchange(m_caller, {}));
    }));
    if (!m_job)
        m_startTimer.start(0);
}

void ModemLine::heardPassedOn(const QString &line, const QString &data)
{
    // Passed on, not stored: there is nothing to delete, and nothing to read again.
    IncomingSms sms;
    if (line.startsWith(QLatin1String("+CMT: \"")) || line.startsWith(QLatin1String("+CMT:\""))) {
        static const QRegularExpression head(QStringLiteral(R"re(^\+CMT:\s*"([^"]*)")re"));
        sms.number = head.match(line).captured(1);
        sms.text = data;
        static const QRegularExpression stamp(
            QStringLiteral(R"((\d\d)/(\d\d)/(\d\d),(\d\d):(\d\d):(\d\d)([+-])(\d\d))"));
        const QRegularExpressionMatch m = stamp.match(line);
        if (m.hasMatch()) {
            const int quarters = m.captured(8).toInt() * (m.captured(7) == QLatin1String("-") ? -1 : 1);
            sms.sentAt = QDateTime(QDate(2000 + m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
                                   QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()),
                                   QTimeZone(quarters * 15 * 60));
        }
    } else {
        const SmsPdu::Deliver deliver = SmsPdu::decodeDeliver(data.trimmed().toLatin1());
        if (!deliver.error.isEmpty()) {
            m_trace.AddItem(m_tracePrefix + QStringLiteral("An incoming SMS that does not read: ") + deliver.error);
            return;
        }
        sms = {deliver.number, deliver.text, deliver.serviceCentreTime};
        if (deliver.reference >= 0 && deliver.partCount > 1) {
            const QString group =
                QStringLiteral("%1/%2/%3").arg(deliver.number).arg(deliver.reference).arg(deliver.partCount);
            QStringList &parts = m_passedParts[group];
            parts.resize(deliver.partCount);
            parts[deliver.partNumber - 1] = deliver.text;
            if (std::any_of(parts.cbegin(), parts.cend(), [](const QString &part) { return part.isNull(); }))
                return;
            sms.text = m_passedParts.take(group).join(QString());
        }
    }
    if (!m_incoming.keep(name(), sms))
        m_trace.AddItem(
            m_tracePrefix
            + QStringLiteral("An incoming SMS from %1 passed on by the modem was not kept").arg(sms.number));
}

void ModemLine::call(const QString &number, std::function<void(const CallOutcome &)> done)
{
    const QString digits = PhoneNumber::normalized(number);
    if (digits.isNull() || !canCall()) {
        const CallOutcome outcome =
            digits.isNull()
                ? CallOutcome{CallOutcome::Result::Failed, QStringLiteral("not a phone number")}
                : CallOutcome{CallOutcome::Result::CannotCall, QStringLiteral("%1 makes no calls").arg(name())};
        QTimer::singleShot(0, this, [done = std::move(done), outcome] { done(outcome); });
        return;
    }
    const CallJob::Times times{scaled(CallPollMs), scaled(CallRingMs), scaled(CallAnsweredMs)};
    run(std::make_unique<CallJob>(digits, times, [this, done = std::move(done)](const CallOutcome &outcome) {
        if (outcome.result == CallOutcome::Result::CannotCall && !std::exchange(m_cannotCall, true))
            emit cannotCall();
        done(outcome);
    }));
}
