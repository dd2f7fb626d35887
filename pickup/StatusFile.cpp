#include "pickup/StatusFile.h"

#include "pickup/DeskStanding.h"
#include "store/Clock.h"
#include "store/ProgramFolder.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue timeOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

} // namespace

StatusFile::StatusFile(Outbox &outbox, RouteSet &routes, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_routes(routes)
{
    m_every.setInterval(EveryMs);
    connect(&m_every, &QTimer::timeout, this, &StatusFile::write);
    m_soon.setSingleShot(true);
    m_soon.setInterval(50);
    connect(&m_soon, &QTimer::timeout, this, &StatusFile::write);
}

void StatusFile::start()
{
    m_every.start();
    write();
}

void StatusFile::changed()
{
    if (m_every.isActive() && !m_soon.isActive())
        m_soon.start();
}

void StatusFile::setFlooding(const QList<Outbox::Flooding> &robots)
{
    m_flooding = robots;
    changed();
}

void StatusFile::write()
{
    const DeskStanding desk = DeskStanding::gather(m_outbox, m_routes);
    QJsonArray modems;
    QJsonValue gateway;
    for (const RouteStatus &status : desk.routes) {
        // The gateway's host alone: its URL holds the sendsms password.
        if (status.gateway) {
            gateway = QJsonObject{
                {QStringLiteral("host"), status.url.host()},
                {QStringLiteral("state"), status.stateWords()},
                {QStringLiteral("reason"), status.reason},
            };
            continue;
        }
        const std::optional<int> dbm = status.health.signalDbm();
        modems.append(QJsonObject{
            {QStringLiteral("port"), status.settings.port},
            {QStringLiteral("state"), status.stateWords()},
            {QStringLiteral("reason"), status.reason},
            {QStringLiteral("signal_dbm"), dbm ? QJsonValue(*dbm) : QJsonValue()},
            {QStringLiteral("operator"), orNull(status.health.operatorName)},
        });
    }
    QJsonArray flooding;
    for (const Outbox::Flooding &robot : std::as_const(m_flooding))
        flooding.append(QJsonObject{
            {QStringLiteral("folder"), QDir::toNativeSeparators(robot.folder)},
            {QStringLiteral("robot"), robot.robot},
            {QStringLiteral("alerts_10min"), robot.alerts},
        });
    const Outbox::Standing &standing = desk.outbox;
    const Outbox::Unacknowledged &unacknowledged = desk.unacknowledged;
    QJsonObject waitingAcknowledgement{
        {QStringLiteral("count"), unacknowledged.count},
        {QStringLiteral("nobody_acknowledged"), unacknowledged.nobody},
    };
    if (unacknowledged.oldestCode >= 0) {
        waitingAcknowledgement.insert(QStringLiteral("oldest_code"), unacknowledged.oldestCode);
        waitingAcknowledgement.insert(QStringLiteral("oldest_age_s"),
                                      unacknowledged.oldestTakenAt.secsTo(Clock::nowUtc()));
    }
    const QJsonObject status{
        {QStringLiteral("updated"), Clock::nowUtc().toString(Qt::ISODate)},
        {QStringLiteral("modems"), modems},
        {QStringLiteral("waiting"), standing.waiting},
        {QStringLiteral("retrying"), standing.retrying},
        {QStringLiteral("given_up_24h"), standing.givenUp},
        {QStringLiteral("gateway"), gateway},
        {QStringLiteral("unconfirmed"), standing.unconfirmed},
        {QStringLiteral("not_delivered_24h"), standing.notDelivered},
        {QStringLiteral("last_alert"), timeOrNull(standing.lastAlert)},
        {QStringLiteral("oldest_waiting"), timeOrNull(standing.oldestWaiting)},
        {QStringLiteral("flooding"), flooding},
        {QStringLiteral("unacknowledged"), waitingAcknowledgement},
        {QStringLiteral("incoming_24h"), desk.incoming24h},
    };
    QSaveFile file(ProgramFolder::file(QString::fromLatin1(FileName)));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(status).toJson());
        file.commit();
    }
}
