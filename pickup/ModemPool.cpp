#include "pickup/ModemPool.h"

#include "modem/ModemTestJob.h"
#include "modem/PageLog.h"

ModemPool::ModemPool(TraceList &trace, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_trace(trace)
    , m_pageLog(pageLog)
{
    m_probe.setInterval(DefaultProbeMs);
    connect(&m_probe, &QTimer::timeout, this, &ModemPool::probe);
    // Until Config.mdb has been read, one modem on the default port.
    ModemTable::Modem first;
    first.first = true;
    load({first});
}

ModemPool::~ModemPool() = default;

void ModemPool::load(const QList<ModemTable::Modem> &modems)
{
    m_modems.clear();
    for (const ModemTable::Modem &modem : modems)
        append(modem);
    nameLines();
    emit changed();
}

ModemLine &ModemPool::append(const ModemTable::Modem &options)
{
    Modem modem;
    modem.line = std::make_unique<ModemLine>(options.settings, m_trace);
    modem.options = options;
    modem.state = options.inService ? State::InService : State::OutOfService;
    ModemLine &line = *modem.line;
    m_modems.push_back(std::move(modem));
    line.setTimeUnitMs(m_timeUnitMs);
    connect(&line, &ModemLine::idle, this, &ModemPool::routeFreed);
    connect(&line, &ModemLine::unsolicited, this,
            [this, from = &line](const QString &text, const QString &data) { emit heard(from, text, data); });
    return line;
}

void ModemPool::nameLines()
{
    // One modem keeps the trace as it has always been: each dialogue anew.
    for (Modem &modem : m_modems)
        modem.line->setTracePrefix(m_modems.size() > 1 ? modem.line->name() + QStringLiteral(": ") : QString());
}

void ModemPool::open()
{
    m_opened = true;
    for (Modem &modem : m_modems) {
        if (modem.state != State::OutOfService)
            modem.line->open();
    }
    m_probe.start();
}

ModemLine *ModemPool::line(short port) const
{
    for (const Modem &modem : m_modems) {
        if (modem.line->port() == port)
            return modem.line.get();
    }
    return nullptr;
}

SmsRoute *ModemPool::route(const QString &name) const
{
    for (const Modem &modem : m_modems) {
        if (modem.line->routeName() == name)
            return modem.line.get();
    }
    return nullptr;
}

QList<ModemLine *> ModemPool::lines() const
{
    QList<ModemLine *> list;
    for (const Modem &modem : m_modems)
        list << modem.line.get();
    return list;
}

QList<ModemPool::Status> ModemPool::statuses() const
{
    QList<Status> list;
    for (const Modem &modem : m_modems) {
        list << Status{modem.line->settings(), modem.options.first,    modem.state, modem.reason, modem.lastError,
                       modem.health,           modem.sentToday.count()};
    }
    return list;
}

QStringList ModemPool::setAsideNames() const
{
    QStringList names;
    for (const Modem &modem : m_modems) {
        if (modem.state == State::SetAside)
            names << modem.line->name();
    }
    return names;
}

bool ModemPool::idle() const
{
    return std::none_of(m_modems.cbegin(), m_modems.cend(), [](const Modem &modem) { return modem.line->busy(); });
}

ModemPool::Modem *ModemPool::find(const SmsRoute *route)
{
    for (Modem &modem : m_modems) {
        if (modem.line.get() == route)
            return &modem;
    }
    return nullptr;
}

const ModemPool::Modem *ModemPool::find(const SmsRoute *route) const
{
    return const_cast<ModemPool *>(this)->find(route);
}

bool ModemPool::anyUp() const
{
    return firstUp() != nullptr;
}

ModemLine *ModemPool::firstUp() const
{
    for (const Modem &modem : m_modems) {
        if (isUp(modem.state))
            return modem.line.get();
    }
    return nullptr;
}

void ModemPool::setHealth(const ModemLine *line, const ModemHealth &health)
{
    if (Modem *modem = find(line)) {
        modem->health = health;
        emit changed();
    }
}

void ModemPool::setDown(const ModemLine *line, const QString &reason)
{
    Modem *modem = find(line);
    if (!modem || modem->state == State::OutOfService)
        return;
    modem->state = State::Down;
    modem->reason = reason;
    emit changed();
}

void ModemPool::setUp(const ModemLine *line)
{
    Modem *modem = find(line);
    if (!modem || modem->state != State::Down)
        return;
    modem->state = State::InService;
    modem->reason.clear();
    modem->failuresInARow = 0;
    emit changed();
    emit routeFreed();
}

ModemTable::Modem ModemPool::options(const ModemLine *line) const
{
    const Modem *modem = find(line);
    return modem ? modem->options : ModemTable::Modem();
}

void ModemPool::reloadOptions(const QList<ModemTable::Modem> &modems)
{
    for (const ModemTable::Modem &options : modems) {
        for (Modem &modem : m_modems) {
            if (modem.line->port() == options.settings.port)
                modem.options = options;
        }
    }
}

void ModemPool::setRefusedPin(const ModemLine *line, const QString &pin)
{
    if (Modem *modem = find(line))
        modem->options.refusedPin = pin;
}

SmsRoute *ModemPool::freeRoute(const QSet<SmsRoute *> &excluded) const
{
    for (const Modem &modem : m_modems) {
        if (isUp(modem.state) && modem.line->free() && !excluded.contains(modem.line.get()))
            return modem.line.get();
    }
    return nullptr;
}

bool ModemPool::anyOtherInService(const QSet<SmsRoute *> &excluded) const
{
    return std::any_of(m_modems.cbegin(), m_modems.cend(),
                       [&](const Modem &modem) { return isUp(modem.state) && !excluded.contains(modem.line.get()); });
}

int ModemPool::inServiceCount() const
{
    return int(std::count_if(m_modems.cbegin(), m_modems.cend(),
                             [](const Modem &modem) { return modem.state == State::InService; }));
}

void ModemPool::tried(SmsRoute *route, const SendOutcome &outcome)
{
    Modem *modem = find(route);
    if (!modem)
        return;
    if (outcome.sent) {
        modem->sentToday.add();
        modem->failuresInARow = 0;
        if (modem->state == State::OnTrial) {
            modem->state = State::InService;
            modem->reason.clear();
            m_pageLog.report(QStringLiteral("Modem %1 back in service").arg(modem->line->name()));
            emit changed();
        }
        return;
    }
    using Failure = SendOutcome::Failure;
    modem->lastError = outcome.reason;
    if (outcome.failure == Failure::Destination) {
        emit changed();
        return;
    }
    if (modem->state == State::OnTrial) {
        modem->state = State::SetAside; // not yet: asked again at the next probe
        emit changed();
        return;
    }
    ++modem->failuresInARow;
    const bool silent = outcome.failure == Failure::NoAnswer || outcome.failure == Failure::Port;
    if (silent)
        emit lineFailed(modem->line.get());
    // A lone modem is never set aside: there is nobody to cover for it, and
    // its SMS go on as they always did, tried again after each delay.
    if ((silent || modem->failuresInARow >= FailuresToSetAside) && modem->state == State::InService
        && inServiceCount() > 1)
        putAside(*modem, outcome.reason);
    else
        emit changed();
}

void ModemPool::putAside(Modem &modem, const QString &reason)
{
    modem.state = State::SetAside;
    modem.reason = reason;
    const QString name = modem.line->name();
    m_pageLog.report(QStringLiteral("Modem %1 set aside: %2").arg(name, reason));
    emit setAside(name, reason);
    emit changed();
}

void ModemPool::probe()
{
    // A modem set aside is asked the modem test's question; one that
    // answers is given the next SMS, and is back in service once that goes.
    for (Modem &modem : m_modems) {
        if (modem.state != State::SetAside || modem.line->busy())
            continue;
        ModemLine *line = modem.line.get();
        line->run(std::make_unique<ModemTestJob>([this, line](const ModemTestJob::Result &result) {
            Modem *asked = find(line);
            if (asked && asked->state == State::SetAside && result.answered) {
                asked->state = State::OnTrial;
                emit changed();
            }
        }));
    }
}

void ModemPool::setFirstSettings(const PortSettings &settings)
{
    first().setSettings(settings);
    nameLines();
    emit changed();
}

void ModemPool::add(const ModemTable::Modem &added)
{
    ModemLine &line = append(added);
    nameLines();
    if (m_opened && added.inService)
        line.open();
    emit changed();
}

void ModemPool::remove(short port)
{
    // The Com row's modem stays; it is the COM page's.
    const auto at = std::find_if(m_modems.begin(), m_modems.end(), [port](const Modem &modem) {
        return !modem.options.first && modem.line->port() == port;
    });
    if (at == m_modems.end())
        return;
    // An engine in the middle of a dialogue finishes it first.
    ModemLine *line = at->line.release();
    line->close();
    if (line->busy())
        connect(line, &ModemLine::idle, line, &QObject::deleteLater);
    else
        line->deleteLater();
    m_modems.erase(at);
    nameLines();
    emit changed();
}

void ModemPool::setInService(short port, bool inService)
{
    for (Modem &modem : m_modems) {
        if (modem.line->port() != port)
            continue;
        modem.state = inService ? State::InService : State::OutOfService;
        modem.options.inService = inService;
        modem.failuresInARow = 0;
        modem.reason.clear();
        if (!inService)
            modem.line->close();
        else if (m_opened)
            modem.line->open();
    }
    emit changed();
}

void ModemPool::setTimeUnitMs(int ms)
{
    m_timeUnitMs = ms;
    for (Modem &modem : m_modems)
        modem.line->setTimeUnitMs(ms);
}
