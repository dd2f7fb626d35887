#include "pickup/LogWriter.h"

#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "store/DbError.h"
#include "store/LogTable.h"

namespace {
constexpr int RowsAtOnce = 10;
constexpr int RowsPerCall = 100;
// LOG rows looked for at a time for alerts logged before the outbox kept
// them: a week of them is found within minutes, each call short.
constexpr int LinksAtOnce = 50;
} // namespace

LogWriter::LogWriter(Outbox &outbox, PageLog &pageLog)
    : m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

bool LogWriter::writeDue()
{
    if (m_pause.isValid() && m_pause.elapsed() < RetryMs)
        return false;
    linkEarlier();
    // A flood's rows go a share at a time, so that a send waits for a few
    // of them at most; the relay calls again soon while more are due.
    m_moreDue = false;
    for (int written = 0;; written += RowsAtOnce) {
        if (written >= RowsPerCall) {
            m_moreDue = true;
            break;
        }
        QList<Outbox::Alert> due;
        try {
            due = m_outbox.logDue(RowsAtOnce);
        } catch (const DbError &error) {
            OutboxReport::failed(m_pageLog, error.text());
            return false;
        }
        if (due.isEmpty())
            break;
        for (const Outbox::Alert &alert : std::as_const(due)) {
            if (!write(alert))
                return false;
        }
    }
    if (m_pause.isValid()) {
        m_pause.invalidate();
        m_pageLog.clearReport(QStringLiteral("log"));
        m_pageLog.report(QStringLiteral("%1 LOG rows that had waited for the database are written.").arg(m_waited));
    }
    m_waited = 0;
    return true;
}

void LogWriter::linkEarlier()
{
    if (m_linked)
        return;
    try {
        const QList<Outbox::Alert> earlier = m_outbox.unlinked(LinksAtOnce);
        for (const Outbox::Alert &alert : earlier)
            m_outbox.setLogId(alert.id, LogTable::idWrittenAfter(alert.logAfter, alert.record));
        m_linked = earlier.size() < LinksAtOnce;
    } catch (const DbError &) {
        // Only the Alerts window misses them: looked for again next time.
    }
}

bool LogWriter::write(const Outbox::Alert &alert)
{
    const SmsRecord &record = alert.record;
    qint64 logId = 0;
    try {
        // The row may have reached the table just before the program
        // stopped: then it is there, and only the outbox has to learn it.
        if (alert.logAfter >= 0)
            logId = LogTable::idWrittenAfter(alert.logAfter, record);
        if (logId == 0) {
            const qint64 last = LogTable::lastId();
            try {
                m_outbox.setLogAfter(alert.id, last);
            } catch (const DbError &error) {
                OutboxReport::failed(m_pageLog, error.text());
                return false;
            }
            LogTable::WriteLog(record.Time, record.EA_Name, record.Title, record.Message);
            // Which row it became, so that the Alerts window finds the
            // alert's SMS from it.
            logId = LogTable::idWrittenAfter(last, record);
        }
    } catch (const DbError &error) {
        m_pageLog.reportOnce(QStringLiteral("log"),
                             QStringLiteral("LOG row not written for alert \"%1\" of %2 at %3: %4; the row is kept and "
                                            "written when the database takes it.")
                                 .arg(record.Message.left(80), record.EA_Name, record.Time, error.text()));
        m_pause.start();
        return false;
    }
    if (m_pause.isValid())
        ++m_waited;
    try {
        m_outbox.setLogged(alert.id, logId);
    } catch (const DbError &error) {
        // Found again in the table on the next try.
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    return true;
}
