#include "pickup/Gateway.h"

#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "store/DeskOptions.h"

Gateway::Gateway(PageLog &pageLog, TraceList &trace, QObject *parent)
    : QObject(parent)
    , m_pageLog(pageLog)
    , m_trace(trace)
{
    m_probe.setInterval(DefaultProbeMs);
    connect(&m_probe, &QTimer::timeout, this, &Gateway::probe);
    connect(&m_listener, &ReportListener::reported, this, &Gateway::reported);
}

Gateway::~Gateway() = default;

void Gateway::load()
{
    m_only = DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayOnly)) == QLatin1String("on");
    const QString reports = DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayReports));
    if (!reports.isEmpty() && !parseReportAddress(reports, &m_reportHost, &m_reportPort))
        m_pageLog.report(QStringLiteral("The gateway's report address \"%1\" does not read as [HOST:]PORT; reports "
                                        "are taken on 127.0.0.1:%2.")
                             .arg(reports.left(80))
                             .arg(DefaultReportPort));
    makeRoute(DeskOptions::value(QString::fromLatin1(DeskOptions::Gateway)));
}

bool Gateway::parseReportAddress(const QString &text, QHostAddress *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    QHostAddress address = QHostAddress::LocalHost;
    if (colon >= 0 && !address.setAddress(text.left(colon)))
        return false;
    *host = address;
    *port = quint16(number);
    return true;
}

void Gateway::makeRoute(const QString &url)
{
    if (url.isEmpty()) {
        // Requests under way end first, and are told as any.
        if (GatewayRoute *old = m_route.release()) {
            if (old->inFlight() == 0)
                old->deleteLater();
            else
                connect(old, &GatewayRoute::idle, old, &QObject::deleteLater);
        }
        return;
    }
    if (m_route) {
        // Requests under way keep their way out.
        m_route->setUrl(QUrl(url));
        return;
    }
    m_route = std::make_unique<GatewayRoute>(QUrl(url));
    m_route->setTimeoutMs(m_timeoutMs);
    const QString problem = GatewayRoute::urlProblem(QUrl(url));
    if (!problem.isEmpty())
        m_pageLog.report(QStringLiteral("The gateway cannot be used: %1").arg(problem));
    if (m_started)
        listen();
}

void Gateway::start(std::function<bool(const QString &)> tokenKnown)
{
    m_tokenKnown = std::move(tokenKnown);
    m_listener.setTokenCheck([this](const QString &token) { return m_tokenKnown && m_tokenKnown(token); });
    m_started = true;
    if (m_route)
        listen();
}

void Gateway::listen()
{
    if (!m_listener.isListening() && !m_listener.listen(m_reportHost, m_reportPort)) {
        // The SMS still go; they ask for no report.
        m_pageLog.report(QStringLiteral("The gateway's delivery reports cannot be taken on %1:%2: %3")
                             .arg(m_reportHost.toString())
                             .arg(m_reportPort)
                             .arg(m_listener.errorString()));
        return;
    }
    m_route->setReportUrl(m_listener.reportUrl());
}

bool Gateway::usable() const
{
    return m_route && (m_state == State::InService || m_state == State::OnTrial);
}

Gateway::Status Gateway::status() const
{
    return {configured(),
            only(),
            m_route ? m_route->url() : QUrl(),
            m_state,
            m_reason,
            m_lastError,
            m_sentToday.count(),
            m_route && m_route->reportsByToken()};
}

void Gateway::tried(const SendOutcome &outcome)
{
    // The route has room again once the dispatcher has taken this outcome.
    QTimer::singleShot(0, this, &Gateway::routeFreed);
    if (outcome.sent) {
        m_sentToday.add();
        m_failuresInARow = 0;
        if (m_state == State::OnTrial) {
            m_state = State::InService;
            m_reason.clear();
            m_pageLog.report(QStringLiteral("Gateway back in service"));
            emit changed();
        }
        return;
    }
    using Failure = SendOutcome::Failure;
    m_lastError = outcome.reason;
    if (outcome.failure == Failure::Destination) {
        emit changed();
        return;
    }
    if (m_state == State::OnTrial) {
        m_state = State::SetAside; // asked again at the next probe
        emit changed();
        return;
    }
    // A gateway that cannot be reached is set aside at once, also when it
    // is the only way out: its SMS then wait in the outbox for it, untried,
    // rather than spend their tries on it. One that refuses SMS goes on
    // taking them, each failure said, until the third in a row.
    const bool unreachable = outcome.failure == Failure::NoAnswer || outcome.failure == Failure::Port;
    if (m_state == State::InService && (unreachable || ++m_failuresInARow >= FailuresToSetAside))
        putAside(outcome.reason);
    else
        emit changed();
}

void Gateway::putAside(const QString &reason)
{
    m_state = State::SetAside;
    m_reason = reason;
    m_failuresInARow = 0;
    m_pageLog.report(QStringLiteral("Gateway set aside: %1").arg(reason));
    emit setAside(reason);
    emit changed();
    m_probe.start();
}

void Gateway::probe()
{
    if (!m_route || m_state != State::SetAside) {
        m_probe.stop();
        return;
    }
    m_route->probe([this](bool answered) {
        if (!answered || m_state != State::SetAside)
            return;
        m_trace.AddItem(QStringLiteral("gateway: answers again; the next SMS goes through it"));
        m_state = State::OnTrial;
        emit changed();
        emit routeFreed();
        emit back();
    });
}

void Gateway::setUrl(const QString &url)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway), url);
    makeRoute(url);
    m_state = State::InService;
    m_reason.clear();
    m_failuresInARow = 0;
    emit changed();
    emit routeFreed();
    emit back();
}

void Gateway::setOnly(bool only)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), only ? QStringLiteral("on") : QString());
    m_only = only;
    emit changed();
    emit routeFreed();
    emit back();
}

void Gateway::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
    if (m_route)
        m_route->setTimeoutMs(ms);
}
