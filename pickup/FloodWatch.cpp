#include "pickup/FloodWatch.h"

#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "store/Clock.h"
#include "store/DbError.h"

#include <QDir>

namespace {

QString keyOf(const Outbox::Flooding &robot)
{
    return robot.folder + QLatin1Char('\n') + robot.robot;
}

} // namespace

FloodWatch::FloodWatch(Outbox &outbox, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

void FloodWatch::setOn(bool on, bool collapsing)
{
    m_on = on;
    m_collapsing = collapsing;
}

QString FloodWatch::words(const Outbox::Flooding &robot) const
{
    return QStringLiteral("Robot %1 in %2 wrote %3 alerts in 10 minutes%4")
        .arg(robot.robot, QDir::toNativeSeparators(robot.folder))
        .arg(robot.alerts)
        .arg(m_collapsing ? QStringLiteral("; repeats are collapsed") : QString());
}

void FloodWatch::look()
{
    if (!m_on || (m_sinceLook.isValid() && m_sinceLook.elapsed() < LookEveryMs))
        return;
    m_sinceLook.start();
    const QDateTime now = Clock::nowUtc();
    QList<Outbox::Flooding> flooding;
    try {
        flooding = m_outbox.flooding(now.addMSecs(-WindowMs), Threshold);
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    for (const Outbox::Flooding &robot : std::as_const(flooding)) {
        const QString key = keyOf(robot);
        const bool began = std::none_of(m_current.cbegin(), m_current.cend(),
                                        [&key](const Outbox::Flooding &each) { return keyOf(each) == key; });
        const QString text = words(robot);
        if (began) {
            m_pageLog.report(text);
            emit alarm(text);
        }
        // Kept in the outbox, so that a restart does not tell it again.
        bool due = false;
        try {
            due = m_outbox.floodNoticeDue(robot, now, NoticeEveryMs);
        } catch (const DbError &error) {
            OutboxReport::failed(m_pageLog, error.text());
        }
        if (due)
            emit notice(QStringLiteral("Vantrel: ") + text);
    }
    if (flooding != m_current) {
        m_current = flooding;
        emit changed();
    }
}
