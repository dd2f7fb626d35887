#include "pickup/StatusFile.h"

#include "modem/SmsReporter.h"
#include "pickup/Gateway.h"
#include "pickup/ModemPool.h"
#include "pickup/Routes.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/Outbox.h"
#include "store/ProgramFolder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

QString stateName(ModemPool::State state)
{
    switch (state) {
    case ModemPool::State::InService:
    case ModemPool::State::OnTrial:
        return QStringLiteral("up");
    case ModemPool::State::SetAside:
        return QStringLiteral("set aside");
    case ModemPool::State::Down:
        return QStringLiteral("down");
    case ModemPool::State::OutOfService:
        return QStringLiteral("out of service");
    }
    return {};
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

StatusFile::StatusFile(Outbox &outbox, Routes &routes, QObject *parent)
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

void StatusFile::write()
{
    QJsonArray modems;
    for (const ModemPool::Status &status : m_routes.usedModemStatuses()) {
        const std::optional<int> dbm = status.health.signalDbm();
        modems.append(QJsonObject{
            {QStringLiteral("port"), status.settings.port},
            {QStringLiteral("state"), stateName(status.state)},
            {QStringLiteral("reason"), status.reason},
            {QStringLiteral("signal_dbm"), dbm ? QJsonValue(*dbm) : QJsonValue()},
            {QStringLiteral("operator"), orNull(status.health.operatorName)},
        });
    }
    Outbox::Standing standing;
    try {
        standing = m_outbox.standing(Clock::nowUtc().addSecs(-SmsReporter::GivenUpShownSecs));
    } catch (const DbError &) {
        // Said where the outbox failed; the modems are still worth telling.
    }
    // The gateway's host alone: its URL holds the sendsms password.
    const Gateway::Status route = m_routes.gateway().status();
    const QJsonValue gateway =
        route.configured ? QJsonValue(QJsonObject{
            {QStringLiteral("host"), route.url.host()},
            {QStringLiteral("state"),
             route.state == Gateway::State::SetAside ? QStringLiteral("set aside") : QStringLiteral("up")},
            {QStringLiteral("reason"), route.reason},
        })
                         : QJsonValue();
    const QJsonObject status{
        {QStringLiteral("updated"), Clock::nowUtc().toString(Qt::ISODate)},
        {QStringLiteral("modems"), modems},
        {QStringLiteral("waiting"), standing.waiting},
        {QStringLiteral("retrying"), standing.retrying},
        {QStringLiteral("given_up_24h"), standing.givenUp},
        {QStringLiteral("gateway"), gateway},
        {QStringLiteral("unconfirmed"), standing.unconfirmed},
        {QStringLiteral("not_delivered_24h"), standing.notDelivered},
        {QStringLiteral("last_alert"),
         standing.lastAlert.isValid() ? QJsonValue(standing.lastAlert.toString(Qt::ISODate)) : QJsonValue()},
    };
    QSaveFile file(ProgramFolder::file(QString::fromLatin1(FileName)));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(status).toJson());
        file.commit();
    }
}
