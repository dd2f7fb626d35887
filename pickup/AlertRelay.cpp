#include "pickup/AlertRelay.h"

#include "store/DbError.h"
#include "store/LogTable.h"
#include "store/UpdateCom.h"

#include <QScopedValueRollback>

namespace {

// Alerts that are done stay in the outbox this long, for whoever wants to
// see what became of them, then they go.
constexpr qint64 KeepDoneDays = 7;
constexpr qint64 PurgeEveryMs = 3600 * 1000;

} // namespace

AlertRelay::AlertRelay(QObject *parent)
    : QObject(parent)
    , m_pageLog(this)
    , m_trace(this)
    , m_intake(m_outbox, m_pageLog)
    , m_sender(m_trace, m_pageLog, this)
    , m_timer(this)
{
    m_timer.setInterval(TickIntervalMs);
    // A coarse timer may fire up to 5 % late to share wake-ups; an alert
    // should wait no longer than one tick.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AlertRelay::Timer1_Timer);
}

void AlertRelay::load()
{
    UpdateCom::LoadComSettings();
    m_paths.GetPathList();
    m_recipients.GetPhoneNo();
    // An outbox that cannot be opened yet is said and tried on every tick;
    // the alert files wait on disk meanwhile.
    try {
        m_outbox.open();
    } catch (const DbError &error) {
        reportJournal(error.text());
    }
}

void AlertRelay::start()
{
    m_sincePurge.start();
    m_timer.start();
}

void AlertRelay::stop()
{
    m_stopping = true;
    m_timer.stop();
}

void AlertRelay::Timer1_Timer()
{
    m_tickCount = m_tickCount == 32767 ? 0 : short(m_tickCount + 1);
    emit tickCounted(m_tickCount);
    runCycle();
}

void AlertRelay::runCycle()
{
    // A tick that falls due while a cycle or a dialogue is still under way
    // is skipped: the files wait on disk, the alerts in the outbox.
    if (m_stopping || m_cycleRunning || m_sender.busy())
        return;
    {
        const QScopedValueRollback<bool> running(m_cycleRunning, true);
        for (const QString &path : m_paths.PathList)
            m_intake.ProcessSmsFile(path);
        DispatchAlerts();
        purgeOld();
    }
    if (m_stopping)
        emit finished();
}

void AlertRelay::DispatchAlerts()
{
    // LOG rows that waited for the database go first, in their order.
    writeDueLogs();
    if (!fillBatch())
        return;
    const short n = m_smsCount;
    for (short i = 1; i <= n && !m_stopping; ++i) {
        if (!dispatchRecord(m_smsBatch[i]))
            break;
        writeDueLogs();
    }
    m_smsCount = 0;
}

bool AlertRelay::fillBatch()
{
    QList<Outbox::Alert> alerts;
    try {
        alerts = m_outbox.firstTries(BatchSize);
    } catch (const DbError &error) {
        reportJournal(error.text());
        return false;
    }
    m_smsCount = 0;
    for (const Outbox::Alert &alert : std::as_const(alerts))
        m_smsBatch[++m_smsCount] = alert;
    return true;
}

bool AlertRelay::dispatchRecord(Outbox::Alert &alert)
{
    try {
        if (!alert.dispatched) {
            // The recipients of an alert are those on duty when its dispatch begins.
            m_outbox.beginDispatch(alert.id, m_recipients.PhoneList.mid(0, m_recipients.PhoneCount));
            alert.dispatched = true;
        }
        for (const Outbox::Sms &sms : m_outbox.waitingSms(alert.id)) {
            // Only one dialogue at a time; Exit and the end of the session
            // end the dispatch after the dialogue under way.
            if (m_stopping || m_sender.busy())
                return false;
            const SendOutcome outcome = m_sender.send(alert.record.Message, sms.name, sms.number);
            if (outcome.sent)
                m_outbox.recordSent(sms.id);
            else
                m_outbox.recordFailed(sms.id, outcome.reason);
        }
    } catch (const DbError &error) {
        // What cannot be recorded is not sent on: it waits in the outbox.
        reportJournal(error.text());
        return false;
    }
    AlertIntake::clearJournalReport(m_pageLog);
    return true;
}

bool AlertRelay::writeDueLogs()
{
    if (m_logPause.isValid() && m_logPause.elapsed() < LogRetryMs)
        return false;
    for (;;) {
        QList<Outbox::Alert> due;
        try {
            due = m_outbox.logDue(BatchSize);
        } catch (const DbError &error) {
            reportJournal(error.text());
            return false;
        }
        if (due.isEmpty())
            break;
        for (const Outbox::Alert &alert : std::as_const(due)) {
            if (!writeLog(alert))
                return false;
        }
    }
    if (m_logPause.isValid()) {
        m_logPause.invalidate();
        m_pageLog.clearReport(QStringLiteral("log"));
        m_pageLog.report(QStringLiteral("%1 LOG rows that had waited for the database are written.").arg(m_logsWaited));
    }
    m_logsWaited = 0;
    return true;
}

bool AlertRelay::writeLog(const Outbox::Alert &alert)
{
    const SmsRecord &record = alert.record;
    try {
        // The row may have reached the table just before the program
        // stopped: then it is there, and only the outbox has to learn it.
        if (alert.logAfter < 0 || !LogTable::writtenAfter(alert.logAfter, record)) {
            const qint64 last = LogTable::lastId();
            try {
                m_outbox.setLogAfter(alert.id, last);
            } catch (const DbError &error) {
                reportJournal(error.text());
                return false;
            }
            LogTable::WriteLog(record.Time, record.EA_Name, record.Title, record.Message);
        }
    } catch (const DbError &error) {
        m_pageLog.reportOnce(QStringLiteral("log"),
                             QStringLiteral("LOG row not written for alert \"%1\" of %2 at %3: %4; the row is kept and "
                                            "written when the database takes it.")
                                 .arg(record.Message.left(80), record.EA_Name, record.Time, error.text()));
        m_logPause.start();
        return false;
    }
    if (m_logPause.isValid())
        ++m_logsWaited;
    try {
        m_outbox.setLogged(alert.id);
    } catch (const DbError &error) {
        // Found again in the table on the next try.
        reportJournal(error.text());
        return false;
    }
    return true;
}

void AlertRelay::reportJournal(const QString &error)
{
    AlertIntake::reportJournal(m_pageLog, error);
}

void AlertRelay::purgeOld()
{
    if (m_sincePurge.isValid() && m_sincePurge.elapsed() < PurgeEveryMs)
        return;
    m_sincePurge.start();
    try {
        m_outbox.purgeDone(QDateTime::currentDateTimeUtc().addDays(-KeepDoneDays));
    } catch (const DbError &) {
        // Tried again in an hour; nothing waits on it.
    }
}
