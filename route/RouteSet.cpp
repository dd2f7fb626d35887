#include "route/RouteSet.h"

#include "modem/ModemLine.h"
#include "modem/PageLog.h"
#include "route/GatewayRoute.h"
#include "store/DeskOptions.h"

#include <QTimer>

RouteSet::RouteSet(TraceList &trace, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_trace(trace)
    , m_pageLog(pageLog)
    , m_timeUnitMs(ModemLine::DefaultTimeUnitMs)
    , m_gatewayTimeoutMs(GatewayRoute::DefaultTimeoutMs)
{
    connect(&m_listener, &ReportListener::reported, this, &RouteSet::reported);
    connect(&m_listener, &ReportListener::listening, this, [this] {
        if (m_gateway)
            m_gateway->gateway()->setReportUrl(m_listener.reportUrl());
        emit changed();
    });
    connect(&m_listener, &ReportListener::cannotListen, this, [this](const QString &why) {
        m_pageLog.report(QStringLiteral("The gateway's delivery reports cannot be taken on %1:%2: %3; tried again "
                                        "every minute.")
                             .arg(m_reportHost.toString())
                             .arg(m_reportPort)
                             .arg(why));
    });
    // The gateway's incoming SMS come to the same address as its reports.
    m_listener.serve(GatewayIncoming::Path, [this](const QByteArray &query) { return m_incomingSms.answer(query); });
    m_incomingSms.setKeeper([this](const IncomingSms &sms) { return m_gateway && m_gateway->gateway()->keep(sms); });
    connect(&m_incomingSms, &GatewayIncoming::refused, &m_pageLog, &PageLog::report);
    // Until Config.mdb has been read, one modem on the default port.
    ModemTable::Modem first;
    first.first = true;
    loadModems({first});
}

RouteSet::~RouteSet() = default;

void RouteSet::load()
{
    QStringList complaints;
    const QList<ModemTable::Modem> modems = ModemTable::modems(&complaints);
    for (const QString &complaint : std::as_const(complaints))
        m_pageLog.report(complaint);
    loadModems(modems);
    m_only = DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayOnly)) == QLatin1String("on");
    const QString reports = DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayReports));
    if (!reports.isEmpty() && !HttpListener::parseAddress(reports, &m_reportHost, &m_reportPort))
        m_pageLog.report(QStringLiteral("The gateway's report address \"%1\" does not read as [HOST:]PORT; reports "
                                        "are taken on 127.0.0.1:%2.")
                             .arg(reports.left(80))
                             .arg(DefaultReportPort));
    m_incomingSms.setSecret(DeskOptions::value(QString::fromLatin1(DeskOptions::GatewayIncoming)));
    makeGateway(DeskOptions::value(QString::fromLatin1(DeskOptions::Gateway)));
    emit changed();
}

void RouteSet::loadModems(const QList<ModemTable::Modem> &modems)
{
    m_modems.clear();
    for (const ModemTable::Modem &modem : modems)
        appendModem(modem);
    nameLines();
}

Route &RouteSet::appendModem(const ModemTable::Modem &options)
{
    auto line = std::make_unique<ModemLine>(options.settings, m_trace);
    line->setTimeUnitMs(m_timeUnitMs);
    ModemLine *added = line.get();
    connect(added, &ModemLine::unsolicited, this,
            [this, added](const QString &text, const QString &data) { emit heard(added, text, data); });
    connect(added, &ModemLine::lateAccepted, this, [this, added](qint64 id, int part, int reference) {
        emit lateAccepted(added->name(), id, part, reference);
    });
    m_modems.push_back(std::make_unique<Route>(std::move(line), options, m_pageLog));
    Route &route = *m_modems.back();
    connect(&route, &Route::healthWanted, this, [this, added] { emit healthWanted(added); });
    adopt(route);
    return route;
}

void RouteSet::adopt(Route &route)
{
    route.setProbeMs(m_probeMs);
    route.transport().listenToPhones(m_incoming);
    connect(&route, &Route::freed, this, &RouteSet::routeFreed);
    connect(&route, &Route::changed, this, &RouteSet::changed);
    connect(&route, &Route::setAside, this, &RouteSet::setAside);
    connect(&route, &Route::back, this, &RouteSet::back);
}

void RouteSet::nameLines()
{
    // One modem keeps the trace as it has always been: each dialogue anew.
    for (const std::unique_ptr<Route> &modem : m_modems)
        modem->line()->setTracePrefix(m_modems.size() > 1 ? modem->name() + QStringLiteral(": ") : QString());
}

void RouteSet::makeGateway(const QString &url)
{
    if (url.isEmpty()) {
        if (m_gateway) {
            // Requests under way end first, and are told as any.
            m_gateway->retire();
            m_gateway.reset();
        }
        return;
    }
    if (m_gateway) {
        // Requests under way keep their way out.
        m_gateway->gateway()->setUrl(QUrl(url));
    } else {
        auto gateway = std::make_unique<GatewayRoute>(QUrl(url));
        gateway->setTimeoutMs(m_gatewayTimeoutMs);
        m_gateway = std::make_unique<Route>(std::move(gateway), m_pageLog, m_trace);
        adopt(*m_gateway);
    }
    const QString problem = GatewayRoute::urlProblem(QUrl(url));
    if (!problem.isEmpty())
        m_pageLog.report(QStringLiteral("The gateway cannot be used: %1").arg(problem));
    if (m_started)
        listen();
}

void RouteSet::start(std::function<bool(const QString &)> tokenKnown)
{
    m_tokenKnown = std::move(tokenKnown);
    m_listener.setTokenCheck([this](const QString &token) { return m_tokenKnown && m_tokenKnown(token); });
    m_started = true;
    // A desk that sends by its gateway alone leaves its modems alone.
    if (modemsUsed())
        openModems();
    if (m_gateway)
        listen();
}

void RouteSet::openModems()
{
    for (const std::unique_ptr<Route> &modem : m_modems) {
        if (modem->inService())
            modem->line()->open();
    }
}

void RouteSet::listen()
{
    // A port taken at start (another program, a copy still closing) is
    // tried again until it is free; meanwhile the SMS go, asking for no
    // report.
    m_listener.keepListening(m_reportHost, m_reportPort);
}

bool RouteSet::modemsUsed() const
{
    return !gatewayOnly() && !m_ownOnly;
}

void RouteSet::sendOnlyBy(std::vector<std::unique_ptr<Route>> routes)
{
    m_ownOnly = true;
    m_own = std::move(routes);
    for (const std::unique_ptr<Route> &route : m_own)
        adopt(*route);
    emit changed();
}

void RouteSet::sendAlsoBy(std::unique_ptr<Route> route)
{
    adopt(*route);
    m_own.push_back(std::move(route));
    emit changed();
    emit routeFreed();
}

void RouteSet::stopSendingBy(const Route *route)
{
    const auto at = std::find_if(m_own.begin(), m_own.end(),
                                 [route](const std::unique_ptr<Route> &own) { return own.get() == route; });
    if (at == m_own.end())
        return;
    // A try under way still ends, and is told as any.
    (*at)->retire();
    m_own.erase(at);
    emit changed();
}

QList<Route *> RouteSet::used() const
{
    QList<Route *> routes;
    if (m_ownOnly) {
        for (const std::unique_ptr<Route> &route : m_own)
            routes << route.get();
        return routes;
    }
    if (modemsUsed()) {
        for (const std::unique_ptr<Route> &modem : m_modems)
            routes << modem.get();
    }
    if (m_gateway)
        routes << m_gateway.get();
    return routes;
}

Route *RouteSet::find(const SmsRoute *transport) const
{
    for (Route *route : used()) {
        if (&route->transport() == transport)
            return route;
    }
    return nullptr;
}

SmsRoute *RouteSet::freeRoute(const QSet<SmsRoute *> &excluded) const
{
    for (Route *route : used()) {
        if (route->free() && !excluded.contains(&route->transport()))
            return &route->transport();
    }
    return nullptr;
}

bool RouteSet::anyOtherInService(const QSet<SmsRoute *> &excluded) const
{
    const QList<Route *> routes = used();
    return std::any_of(routes.cbegin(), routes.cend(),
                       [&](const Route *route) { return route->mayTake() && !excluded.contains(&route->transport()); });
}

void RouteSet::tried(SmsRoute *transport, const SendOutcome &outcome)
{
    if (Route *route = find(transport))
        route->tried(outcome, anyOtherInService({transport}));
}

SmsRoute *RouteSet::firstUp() const
{
    for (Route *route : used()) {
        if (route->mayTake())
            return &route->transport();
    }
    return nullptr;
}

Route *RouteSet::usedNamed(const QString &name) const
{
    for (Route *route : used()) {
        if (route->name() == name)
            return route;
    }
    return nullptr;
}

SmsRoute *RouteSet::route(const QString &name) const
{
    Route *route = usedNamed(name);
    return route ? &route->transport() : nullptr;
}

SmsRoute *RouteSet::upRoute(const QString &name) const
{
    Route *route = usedNamed(name);
    return route && route->mayTake() ? &route->transport() : nullptr;
}

bool RouteSet::idle() const
{
    const bool linesIdle = std::none_of(m_modems.cbegin(), m_modems.cend(),
                                        [](const std::unique_ptr<Route> &modem) { return modem->line()->busy(); });
    const bool ownIdle = std::all_of(m_own.cbegin(), m_own.cend(),
                                     [](const std::unique_ptr<Route> &route) { return route->transport().free(); });
    return linesIdle && ownIdle && (!m_gateway || m_gateway->gateway()->inFlight() == 0);
}

QList<RouteStatus> RouteSet::statuses() const
{
    QList<RouteStatus> list;
    for (const Route *route : used())
        list << route->status();
    return list;
}

QList<RouteStatus> RouteSet::modemStatuses() const
{
    QList<RouteStatus> list;
    for (const std::unique_ptr<Route> &modem : m_modems)
        list << modem->status();
    return list;
}

std::optional<RouteStatus> RouteSet::gatewayStatus() const
{
    if (!m_gateway)
        return std::nullopt;
    return m_gateway->status();
}

ModemLine &RouteSet::first() const
{
    return *m_modems.front()->line();
}

Route *RouteSet::modem(short port) const
{
    for (const std::unique_ptr<Route> &modem : m_modems) {
        if (modem->line()->port() == port)
            return modem.get();
    }
    return nullptr;
}

ModemLine *RouteSet::line(short port) const
{
    Route *route = modem(port);
    return route ? route->line() : nullptr;
}

QList<ModemLine *> RouteSet::lines() const
{
    QList<ModemLine *> list;
    if (modemsUsed()) {
        for (const std::unique_ptr<Route> &modem : m_modems)
            list << modem->line();
    }
    return list;
}

Route *RouteSet::routeOf(const ModemLine *line) const
{
    for (const std::unique_ptr<Route> &modem : m_modems) {
        if (modem->line() == line)
            return modem.get();
    }
    return nullptr;
}

bool RouteSet::addModem(short port, const QString &baud)
{
    if (!ModemTable::add(port, baud))
        return false;
    for (const ModemTable::Modem &options : ModemTable::modems()) {
        if (options.settings.port != port)
            continue;
        Route &route = appendModem(options);
        nameLines();
        if (m_started && options.inService && modemsUsed())
            route.line()->open();
    }
    emit changed();
    return true;
}

void RouteSet::removeModem(short port)
{
    ModemTable::remove(port);
    // The Com row's modem stays; it is the COM page's.
    const auto at = std::find_if(m_modems.begin(), m_modems.end(), [port](const std::unique_ptr<Route> &modem) {
        return !modem->options().first && modem->line()->port() == port;
    });
    if (at == m_modems.end())
        return;
    (*at)->retire();
    m_modems.erase(at);
    nameLines();
    emit changed();
}

void RouteSet::setModemInService(short port, bool inService)
{
    ModemTable::setInService(port, inService);
    if (Route *route = modem(port))
        route->setInService(inService, m_started && modemsUsed());
}

void RouteSet::setModemPin(short port, const QString &pin)
{
    ModemTable::setPin(port, pin);
    if (Route *route = modem(port)) {
        ModemTable::Modem options = route->options();
        options.pin = pin;
        options.refusedPin.clear();
        route->setOptions(options);
        emit healthWanted(route->line());
    }
}

void RouteSet::setModemResetCommand(short port, const QString &command)
{
    ModemTable::setResetCommand(port, command);
    if (Route *route = modem(port)) {
        ModemTable::Modem options = route->options();
        options.resetCommand = command;
        route->setOptions(options);
    }
}

void RouteSet::setRefusedPin(const ModemLine *line, const QString &pin)
{
    Route *route = routeOf(line);
    if (!route)
        return;
    ModemTable::Modem options = route->options();
    options.refusedPin = pin;
    route->setOptions(options);
    ModemTable::setRefusedPin(line->port(), pin);
}

void RouteSet::setFirstSettings(const PortSettings &settings)
{
    first().setSettings(settings);
    nameLines();
    emit changed();
}

void RouteSet::setGateway(const QString &url)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway), url);
    // A gateway set anew starts in service, whatever the old one had come to.
    if (m_gateway) {
        m_gateway->retire();
        m_gateway.reset();
    }
    makeGateway(url);
    emit changed();
    emit routeFreed();
    emit back();
}

void RouteSet::setGatewayOnly(bool only)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), only ? QStringLiteral("on") : QString());
    const bool modemsWereUsed = modemsUsed();
    m_only = only;
    // The modems of a desk that started on its gateway alone come into
    // service now.
    if (m_started && !modemsWereUsed && modemsUsed()) {
        openModems();
        emit modemsInUse();
    }
    emit changed();
    emit routeFreed();
    emit back();
}

void RouteSet::setTimeUnitMs(int ms)
{
    m_timeUnitMs = ms;
    for (const std::unique_ptr<Route> &modem : m_modems)
        modem->line()->setTimeUnitMs(ms);
}

void RouteSet::setProbeMs(int ms)
{
    m_probeMs = ms;
    for (const std::unique_ptr<Route> &modem : m_modems)
        modem->setProbeMs(ms);
    for (const std::unique_ptr<Route> &own : m_own)
        own->setProbeMs(ms);
    if (m_gateway)
        m_gateway->setProbeMs(ms);
}

void RouteSet::setGatewayTimeoutMs(int ms)
{
    m_gatewayTimeoutMs = ms;
    if (m_gateway)
        m_gateway->gateway()->setTimeoutMs(ms);
}

void RouteSet::listenToPhones(const SmsRoute::Incoming &incoming)
{
    m_incoming = incoming;
    for (const auto *routes : {&m_modems, &m_own}) {
        for (const std::unique_ptr<Route> &route : *routes)
            route->transport().listenToPhones(incoming);
    }
    if (m_gateway)
        m_gateway->transport().listenToPhones(incoming);
}

QString RouteSet::call(const QString &number, std::function<void(const CallOutcome &)> done)
{
    // A free route rings at once; a busy one after the job under way.
    Route *chosen = nullptr;
    for (Route *route : used()) {
        if (!route->mayTake() || !route->transport().canCall())
            continue;
        if (!chosen || (route->free() && !chosen->free()))
            chosen = route;
    }
    if (!chosen)
        return {};
    chosen->transport().call(number, std::move(done));
    return chosen->name();
}
