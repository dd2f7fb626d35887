#include "pickup/Heartbeat.h"

#include "pickup/Gateway.h"
#include "pickup/ModemPool.h"
#include "pickup/Routes.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/DeskOptions.h"
#include "store/Outbox.h"

Heartbeat::Heartbeat(Outbox &outbox, Routes &routes, QObject *parent)
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
    for (const ModemPool::Status &status : m_routes.usedModemStatuses()) {
        QString line = status.settings.name();
        if (ModemPool::isUp(status.state)) {
            line += QStringLiteral(" up");
            if (const std::optional<int> dbm = status.health.signalDbm())
                line += QStringLiteral(" %1 dBm").arg(*dbm);
        } else if (status.state == ModemPool::State::OutOfService) {
            line += QStringLiteral(" out of service");
        } else {
            line +=
                QStringLiteral(" %1 (%2)")
                    .arg(status.state == ModemPool::State::Down ? QStringLiteral("down") : QStringLiteral("set aside"),
                         status.reason);
        }
        modems << line;
    }
    const Gateway::Status gateway = m_routes.gateway().status();
    if (gateway.configured)
        modems << (gateway.state == Gateway::State::SetAside
                       ? QStringLiteral("gateway set aside (%1)").arg(gateway.reason)
                       : QStringLiteral("gateway up"));
    return QStringLiteral("Vantrel OK: %1 alerts and %2 SMS since the last report, %3 failed; modems: %4.")
        .arg(activity.alerts)
        .arg(activity.sent)
        .arg(activity.failed)
        .arg(modems.join(QStringLiteral(", ")));
}
