#include "pickup/Heartbeat.h"

#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/DeskOptions.h"
#include "store/Outbox.h"

Heartbeat::Heartbeat(Outbox &outbox, RouteSet &routes, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_routes(routes)
{
    m_look.setInterval(LookMs);
    connect(&m_look, &QTimer::timeout, this, &Heartbeat::look);
}

void Heartbeat::load()
{
    m_at = QTime::fromString(DeskOptions::value(QString::fromLatin1(DeskOptions::Heartbeat)),
                             QString::fromLatin1(TimeFormat));
}

void Heartbeat::store(const QTime &at)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Heartbeat),
                          at.isValid() ? at.toString(QString::fromLatin1(TimeFormat)) : QString());
}

void Heartbeat::look()
{
    if (!m_at.isValid())
        return;
    const QDateTime now = Clock::now();
    const QDateTime slot(now.date(), m_at, now.timeSpec());
    if (now < slot)
        return;
    const QString lastText = DeskOptions::value(QString::fromLatin1(DeskOptions::LastHeartbeat));
    const QDateTime last = QDateTime::fromString(lastText, Qt::ISODateWithMs);
    if (last.isValid() && last >= slot)
        return;
    // Remembered before it goes, so that a restart does not send it twice.
    try {
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::LastHeartbeat), now.toUTC().toString(Qt::ISODateWithMs));
    } catch (const DbError &) {
        return; // tried again at the next look
    }
    emit due(text(last.isValid() ? last : now.addDays(-1)));
}

QString Heartbeat::text(const QDateTime &since) const
{
    Outbox::Activity activity;
    try {
        activity = m_outbox.activity(since);
    } catch (const DbError &) {
        // Said where the outbox failed; the modems are still worth telling.
    }
    QStringList modems;
    for (const RouteStatus &status : m_routes.statuses()) {
        QString line = status.name + QLatin1Char(' ') + status.stateWithReason();
        if (const std::optional<int> dbm = status.health.signalDbm(); dbm && status.up())
            line += QStringLiteral(" %1 dBm").arg(*dbm);
        modems << line;
    }
    return QStringLiteral("Vantrel OK: %1 alerts and %2 SMS since the last report, %3 failed; modems: %4.")
        .arg(activity.alerts)
        .arg(activity.sent)
        .arg(activity.failed)
        .arg(modems.join(QStringLiteral(", ")));
}
