#include "route/HealthMonitor.h"

#include "modem/ModemLine.h"
#include "modem/PageLog.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/CommError.h"
#include "store/DbError.h"
#include "store/ModemTable.h"

HealthMonitor::HealthMonitor(RouteSet &routes, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_routes(routes)
    , m_pageLog(pageLog)
{
    m_timer.setInterval(DefaultRoundMs);
    connect(&m_timer, &QTimer::timeout, this, &HealthMonitor::roundDue);
    // A line that is free again runs the round it was due.
    connect(&m_routes, &RouteSet::healthWanted, this, &HealthMonitor::checkSoon);
    connect(&m_routes, &RouteSet::routeFreed, this, [this] {
        for (ModemLine *line : m_routes.lines()) {
            const auto watch = m_watches.find(line);
            if (watch != m_watches.end() && watch->second.wanted && !line->busy())
                run(line);
        }
    });
}

HealthMonitor::~HealthMonitor() = default;

void HealthMonitor::start()
{
    m_timer.start();
    roundDue();
}

void HealthMonitor::attach(ModemLine *line)
{
    if (m_watches.count(line) > 0)
        return;
    m_watches[line];
    // A line that went away or came back is looked at at once.
    connect(line, &ModemLine::lineLost, this, [this, line] { checkSoon(line); });
    connect(line, &ModemLine::lineBack, this, [this, line] { checkSoon(line); });
    connect(line, &QObject::destroyed, this, [this, line] { m_watches.erase(line); });
}

void HealthMonitor::roundDue()
{
    for (ModemLine *line : m_routes.lines())
        checkSoon(line);
}

void HealthMonitor::checkSoon(ModemLine *line)
{
    if (!started() || !line->inService())
        return;
    attach(line);
    Watch &watch = m_watches[line];
    if (watch.round && watch.round->running())
        return;
    // Never in the middle of what the line is doing: when it is free.
    watch.wanted = true;
    if (!line->busy())
        run(line);
}

void HealthMonitor::run(ModemLine *line)
{
    Watch &watch = m_watches[line];
    watch.wanted = false;
    const Route *route = m_routes.routeOf(line);
    if (!route)
        return;
    const ModemTable::Modem options = route->options();
    watch.round = std::make_unique<HealthRound>(*line, options.pin, options.refusedPin);
    connect(watch.round.get(), &HealthRound::pinRefused, this, [this, line](const QString &pin) {
        m_pageLog.report(QStringLiteral("The SIM of the modem on %1 refused its PIN; it is not entered again until "
                                        "the PIN is changed.")
                             .arg(line->name()));
        try {
            m_routes.setRefusedPin(line, pin);
        } catch (const DbError &) {
            // Kept for this run; Config.mdb is told at the next refusal.
        }
    });
    const QPointer<ModemLine> guarded(line);
    watch.round->start([this, guarded](const ModemHealth &health) {
        if (guarded)
            judged(guarded, health);
    });
}

void HealthMonitor::judged(ModemLine *line, const ModemHealth &health)
{
    Route *route = m_routes.routeOf(line);
    if (!route)
        return;
    Watch &watch = m_watches[line];
    const QString reason = verdict(line, watch, health);
    route->setHealth(health);
    if (!reason.isEmpty() && reason != watch.down) {
        watch.down = reason;
        m_pageLog.report(QStringLiteral("Modem %1 is down: %2").arg(line->name(), reason));
        route->setDown(reason);
        emit modemDown(line->name(), reason);
    } else if (reason.isEmpty() && !watch.down.isEmpty()) {
        watch.down.clear();
        m_pageLog.report(QStringLiteral("Modem %1 is up again").arg(line->name()));
        route->setUp();
        emit modemUp(line->name());
    }
    followOutage();
    if (health.answered)
        emit roundDone(line);
}

QString HealthMonitor::verdict(ModemLine *line, Watch &watch, const ModemHealth &health)
{
    if (!health.portError.isEmpty())
        return health.portErrorNumber == CommError::InvalidPortNumber ? QStringLiteral("no such device")
                                                                      : health.portError;
    if (!health.answered) {
        ++watch.silentRounds;
        recover(line, watch);
        return QStringLiteral("no answer");
    }
    watch.silentRounds = 0;
    switch (health.sim) {
    case ModemHealth::Sim::PinRequired:
        return QStringLiteral("SIM PIN required");
    case ModemHealth::Sim::PinRefused:
        return QStringLiteral("the SIM refused the PIN");
    case ModemHealth::Sim::PukRequired:
        return m_routes.routeOf(line)->options().refusedPin.isEmpty() ? QStringLiteral("SIM PUK required")
                                                                      : QStringLiteral("the SIM refused the PIN");
    case ModemHealth::Sim::Missing:
        return QStringLiteral("SIM missing");
    case ModemHealth::Sim::Ready:
    case ModemHealth::Sim::Unknown:
        break;
    }
    // Searching for a network a while is normal after a start; for long, not.
    const QDateTime now = Clock::nowUtc();
    if (health.registration == 2 && !watch.searchingSince.isValid())
        watch.searchingSince = now;
    else if (health.registration != 2)
        watch.searchingSince = QDateTime();
    if (health.registration == 0 || health.registration == 3
        || (health.registration == 2 && watch.searchingSince.msecsTo(now) > SearchingMs))
        return QStringLiteral("not registered on the network");
    // A registered modem that cannot tell its signal (LTE modules answer
    // "+CSQ: 99,99") has one; a measured 0 is none.
    const bool registered = health.registration == 1 || health.registration == 5;
    const bool noSignal = health.rssi == 0 || (health.rssi == 99 && !registered);
    watch.noSignalRounds = noSignal ? watch.noSignalRounds + 1 : 0;
    if (watch.noSignalRounds >= NoSignalRounds)
        return QStringLiteral("no signal");
    // A modem that was down with no signal stays so until it has one.
    if (noSignal && watch.down == QLatin1String("no signal"))
        return watch.down;
    return {};
}

void HealthMonitor::recover(ModemLine *line, Watch &watch)
{
    // A modem that locked up often answers again on a fresh opening; one
    // that still does not is reset, where the desk has said how.
    line->reopen();
    const QString reset = m_routes.routeOf(line)->options().resetCommand;
    if (watch.silentRounds >= SilentRoundsBeforeReset && !reset.isEmpty()) {
        m_pageLog.report(QStringLiteral("The modem on %1 has not answered for %2 rounds; it is sent \"%3\".")
                             .arg(line->name())
                             .arg(watch.silentRounds)
                             .arg(reset));
        watch.silentRounds = 0;
        line->ask(ModemCommand::reply(reset), [](const ModemAnswer &) {});
    }
}

void HealthMonitor::followOutage()
{
    const bool up = m_routes.anyUp();
    if (!up && !m_outageSince.isValid()) {
        m_outageSince = Clock::nowUtc();
        m_pageLog.report(QStringLiteral("No modem can send: every modem is down. Alerts are kept in the outbox "
                                        "and go out as soon as a modem is back."));
        emit outageBegan(m_outageSince);
    } else if (up && m_outageSince.isValid()) {
        const QDateTime from = std::exchange(m_outageSince, QDateTime());
        m_pageLog.report(QStringLiteral("A modem can send again."));
        emit outageEnded(from, Clock::nowUtc());
    }
}
