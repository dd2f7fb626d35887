#include "route/Route.h"

#include "modem/ModemLine.h"
#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "route/GatewayRoute.h"

#include <QPointer>

Route::Route(SmsRoute *transport, const RoutePolicy &policy, bool inService, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_transport(transport)
    , m_standing(policy, inService)
    , m_pageLog(pageLog)
{
    m_probe.setInterval(DefaultProbeMs);
    connect(&m_probe, &QTimer::timeout, this, &Route::probe);
}

Route::Route(std::unique_ptr<ModemLine> line, const ModemTable::Modem &options, PageLog &pageLog, QObject *parent)
    : Route(line.get(), RoutePolicy::modem(), options.inService, pageLog, parent)
{
    m_line = line.get();
    m_options = options;
    connect(m_line, &ModemLine::idle, this, &Route::freed);
    connect(m_line, &ModemLine::cannotCall, this,
            [this] { m_pageLog.report(QStringLiteral("%1 cannot make calls").arg(title())); });
    m_owned = std::move(line);
}

Route::Route(std::unique_ptr<GatewayRoute> gateway, PageLog &pageLog, TraceList &trace, QObject *parent)
    : Route(gateway.get(), RoutePolicy::gateway(), true, pageLog, parent)
{
    m_gateway = gateway.get();
    m_trace = &trace;
    m_owned = std::move(gateway);
}

Route::Route(SmsRoute &transport, const RoutePolicy &policy, PageLog &pageLog, QObject *parent)
    : Route(&transport, policy, true, pageLog, parent)
{
}

Route::~Route() = default;

QString Route::name() const
{
    return m_transport->routeName();
}

QString Route::title() const
{
    if (m_gateway)
        return QStringLiteral("Gateway");
    return (m_line ? QStringLiteral("Modem ") : QStringLiteral("Route ")) + name();
}

bool Route::free() const
{
    return mayTake() && m_transport->free();
}

RouteStatus Route::status() const
{
    RouteStatus status;
    status.name = name();
    status.gateway = m_gateway != nullptr;
    if (m_line)
        status.settings = m_line->settings();
    status.first = m_options.first;
    status.state = m_standing.state();
    status.reason = m_standing.reason();
    status.lastError = m_lastError;
    status.health = m_health;
    status.sentToday = m_sentToday.count();
    if (m_gateway) {
        status.url = m_gateway->url();
        status.hearsReports = m_gateway->reportsByToken();
    }
    return status;
}

void Route::tried(const SendOutcome &outcome, bool othersInService)
{
    if (outcome.sent)
        m_sentToday.add();
    else
        m_lastError = outcome.reason;
    // A modem that fell silent, or whose port went, has its health looked at.
    using Failure = SendOutcome::Failure;
    if (m_line && (outcome.failure == Failure::NoAnswer || outcome.failure == Failure::Port))
        emit healthWanted();
    apply(m_standing.tried(outcome, othersInService));
    // A line says when it is free; any other has room again once this
    // outcome has been taken.
    if (!m_line)
        QTimer::singleShot(0, this, &Route::freed);
}

void Route::setHealth(const ModemHealth &health)
{
    m_health = health;
    emit changed();
}

void Route::setDown(const QString &reason)
{
    apply(m_standing.setDown(reason));
}

void Route::setUp()
{
    apply(m_standing.setUp());
}

void Route::setInService(bool inService, bool open)
{
    m_options.inService = inService;
    apply(m_standing.setInService(inService));
    if (!m_line)
        return;
    if (!inService)
        m_line->close();
    else if (open)
        m_line->open();
    // Back in service, its health is asked at once rather than taken on trust.
    if (inService)
        emit healthWanted();
}

void Route::setProbeMs(int ms)
{
    m_probe.setInterval(ms);
}

void Route::apply(RouteStanding::Change change)
{
    using Change = RouteStanding::Change;
    switch (change) {
    case Change::None:
        break;
    case Change::SetAside: {
        const QString text = QStringLiteral("%1 set aside: %2").arg(title(), m_standing.reason());
        m_pageLog.report(text);
        emit setAside(text);
        break;
    }
    case Change::Back:
        m_pageLog.report(QStringLiteral("%1 back in service").arg(title()));
        break;
    case Change::Trial:
        if (m_trace)
            m_trace->AddItem(QStringLiteral("%1: answers again; the next SMS goes through it").arg(name()));
        break;
    case Change::Down:
    case Change::Up:
    case Change::Changed:
        break;
    }
    // Set aside, down and on trial each have their probe; any other
    // standing needs none.
    if (m_standing.needsProbe()) {
        if (!m_probe.isActive())
            m_probe.start();
    } else {
        m_probe.stop();
    }
    if (change == Change::None)
        return;
    emit changed();
    if (change == Change::Trial || change == Change::Back || change == Change::Up) {
        emit freed();
        if (change != Change::Up)
            emit back();
    }
}

void Route::probe()
{
    if (state() == RouteState::Down) {
        emit healthWanted();
        return;
    }
    // One question at a time; a route busy with SMS answers by them.
    if (m_probing || !m_standing.needsProbe() || !m_transport->free())
        return;
    m_probing = true;
    const QPointer<Route> guarded(this);
    m_transport->probe([guarded](bool answered) {
        if (!guarded)
            return;
        guarded->m_probing = false;
        guarded->apply(guarded->m_standing.probed(answered));
    });
}

void Route::retire()
{
    m_probe.stop();
    QObject *transport = m_owned.release();
    if (!transport)
        return;
    disconnect(transport, nullptr, this, nullptr);
    if (m_line) {
        // An engine in the middle of a dialogue finishes it first.
        m_line->close();
        if (m_line->busy())
            connect(m_line, &ModemLine::idle, transport, &QObject::deleteLater);
        else
            transport->deleteLater();
    } else if (m_gateway->inFlight() > 0) {
        connect(m_gateway, &GatewayRoute::idle, transport, &QObject::deleteLater);
    } else {
        transport->deleteLater();
    }
    m_line = nullptr;
    m_gateway = nullptr;
}
