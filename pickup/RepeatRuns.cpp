#include "pickup/RepeatRuns.h"

#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/FloodOptions.h"
#include "store/Outbox.h"

RepeatRuns::RepeatRuns(Outbox &outbox, PageLog &pageLog)
    : m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

void RepeatRuns::load()
{
    setWindowMinutes(FloodOptions::collapseMinutes());
}

void RepeatRuns::setWindowMinutes(int minutes)
{
    m_minutes = qMax(0, minutes);
    m_outbox.setCollapseMs(qint64(m_minutes) * 60 * 1000);
}

void RepeatRuns::closeDue()
{
    // Runs close on their own time even once the window is turned off.
    QList<Outbox::ClosedRun> closed;
    try {
        closed = m_outbox.closeRuns(Clock::nowUtc(), [](const Outbox::ClosedRun &run) {
            return QStringLiteral("Repeated %1 times since %2: %3")
                .arg(run.repeats)
                .arg(run.openedAt.toLocalTime().toString(QStringLiteral("HH:mm")), run.message);
        });
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    for (const Outbox::ClosedRun &run : std::as_const(closed)) {
        if (run.repeats > 0)
            m_pageLog.report(
                QStringLiteral("Collapsed %1 repeats of %2: %3").arg(run.repeats).arg(run.robot, run.title));
    }
}
