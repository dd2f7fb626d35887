#include "pickup/AlertRelay.h"

#include "modem/OutboxReport.h"
#include "route/GatewayRoute.h"
#include "store/Clock.h"
#include "store/CodePage.h"
#include "store/DbError.h"
#include "store/FieldValues.h"
#include "store/ReplyOptions.h"
#include "store/UpdateCom.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Alerts that are done stay in the outbox this long, for whoever wants to
// see what became of them, then they go.
constexpr qint64 KeepDoneDays = 7;
constexpr qint64 PurgeEveryMs = qint64(3600) * 1000;
// While a robot holds its taken file open, the relay looks again this often.
constexpr int HeldOpenLookMs = 200;
// A time without any modem this long is told to the traders when it ends.
constexpr qint64 ToldOutageMs = 60000;
// While a flood's LOG rows are written a share at a time, between shares.
constexpr int LogRowsAgainMs = 20;

} // namespace

AlertRelay::AlertRelay(QObject *parent)
    : QObject(parent)
    , m_pageLog(this)
    , m_trace(this)
    , m_intake(m_outbox, m_pageLog)
    , m_repeats(m_outbox, m_pageLog)
    , m_pace(m_outbox, m_pageLog)
    , m_floodWatch(m_outbox, m_pageLog, this)
    , m_logs(m_outbox, m_pageLog)
    , m_reporter(m_pageLog, m_outbox, this)
    , m_routes(m_trace, m_pageLog, this)
    , m_dispatcher(m_outbox, m_logs, m_recipients, m_reporter, m_routes, m_pageLog, this)
    , m_health(m_routes, m_pageLog, this)
    , m_alarms(this)
    , m_reports(m_outbox, m_routes, m_reporter, m_pageLog, m_trace, this)
    , m_heartbeat(m_outbox, m_routes, this)
    , m_status(m_outbox, m_routes, this)
    , m_metrics(m_outbox, m_routes, m_paths, m_intake, m_reporter, m_reports, m_pageLog, this)
    , m_replies(m_outbox, m_pageLog, this)
    , m_escalation(m_outbox, m_recipients, m_routes, m_pageLog, this)
    , m_timer(this)
    , m_watcher(this)
    , m_soon(this)
{
    m_timer.setInterval(TickIntervalMs);
    // A coarse timer may fire up to 5 % late to share wake-ups; an alert
    // should wait no longer than one tick.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AlertRelay::Timer1_Timer);

    // A file that appears in a watched folder is taken at once.
    m_soon.setSingleShot(true);
    m_soon.setTimerType(Qt::PreciseTimer);
    connect(&m_soon, &QTimer::timeout, this, &AlertRelay::runCycle);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { cycleSoon(NotifiedCycleMs); });

    connect(&m_dispatcher, &Dispatcher::batchEnded, this, &AlertRelay::endCycle);
    // A line had other work (a test message, a modem test) or the last SMS
    // of a batch: the SMS waiting go on.
    connect(&m_routes, &RouteSet::routeFreed, &m_dispatcher, &Dispatcher::routeFreed);
    connect(&m_routes, &RouteSet::lateAccepted, &m_dispatcher, &Dispatcher::lateAccepted);
    connect(&m_routes, &RouteSet::routeFreed, this, [this] {
        if (m_stopping)
            finishWhenIdle();
    });
    connect(&m_routes, &RouteSet::setAside, this, &AlertRelay::routeSetAside);
    connect(&m_routes, &RouteSet::changed, this, [this] {
        // With more than one route each send says which one it went by.
        m_reporter.setNameRoutes(m_routes.count() > 1);
        m_status.changed();
        emit modemsChanged();
    });
    // Alerts held while nothing could send go as soon as a route can.
    connect(&m_routes, &RouteSet::back, this, [this] { cycleSoon(0); });
    connect(&m_routes, &RouteSet::reported, &m_reports, &DeliveryReports::gatewayReport);
    // The modems of a desk that started on its gateway alone come into use.
    connect(&m_routes, &RouteSet::modemsInUse, this, &AlertRelay::startHealthRounds);
    connect(&m_reporter, &SmsReporter::deliveryChanged, &m_status, &StatusFile::changed);

    // A modem that goes down or comes back is said to the traders by SMS
    // through a route that is up, at most once per modem in a quiet time;
    // what changed meanwhile is summed up in the next.
    connect(&m_health, &HealthMonitor::modemDown, &m_alarms, &AlarmThrottle::down);
    connect(&m_health, &HealthMonitor::modemUp, this, [this](const QString &name) {
        m_alarms.up(name);
        // Held alerts go out at once.
        cycleSoon(0);
    });
    connect(&m_alarms, &AlarmThrottle::alarm, this, [this](const QString &text) {
        if (m_routes.anyUp())
            sendNotice(text);
    });
    connect(&m_health, &HealthMonitor::outageBegan, this, [this] {
        emit outageBegan(QStringLiteral("No modem can send: every modem is down. Alerts wait in the outbox."));
    });
    connect(&m_health, &HealthMonitor::outageEnded, this, [this](const QDateTime &from, const QDateTime &to) {
        // A blip (a modem that came straight back) held nothing worth an SMS.
        if (from.msecsTo(to) >= ToldOutageMs)
            m_outageToTell = Outage{from, to};
        else
            m_dispatcher.takeHeld();
        emit outageEnded();
        cycleSoon(0);
    });
    connect(&m_heartbeat, &Heartbeat::due, this, &AlertRelay::sendNotice);
    connect(&m_floodWatch, &FloodWatch::alarm, this, &AlertRelay::floodingRobot);
    // The flood alarm waits for the alerts waiting: it never holds up one.
    connect(&m_floodWatch, &FloodWatch::notice, this, [this](const QString &text) { m_floodNotices << text; });
    connect(&m_floodWatch, &FloodWatch::changed, this, [this] { m_status.setFlooding(m_floodWatch.current()); });

    // Reports come as the modems hear them, or are read after each round.
    connect(&m_routes, &RouteSet::heard, &m_reports, &DeliveryReports::heard);
    connect(&m_health, &HealthMonitor::roundDone, &m_reports, &DeliveryReports::roundDone);
    connect(&m_reports, &DeliveryReports::notDelivered, this, &AlertRelay::notDelivered);
    // An SMS sent once more after a report waits in the outbox: it goes now.
    connect(&m_reports, &DeliveryReports::sentAgain, this, [this] { cycleSoon(0); });

    connect(&m_reporter, &SmsReporter::deliveryChanged, this, &AlertRelay::deliveryChanged);
    connect(&m_reporter, &SmsReporter::gaveUp, this, &AlertRelay::gaveUp);
    // A user who went on or off duty by SMS gets the next alert, or not.
    connect(&m_replies, &Replies::dutyChanged, this, &AlertRelay::GetPhoneNo);
    connect(&m_replies, &Replies::acknowledged, &m_status, &StatusFile::changed);
    connect(&m_replies, &Replies::acknowledged, &m_escalation, &Escalation::acknowledged);
    connect(&m_escalation, &Escalation::notice, this,
            [this](const QString &name, const QString &number, const QString &text) {
                sendAnswer({}, name, number, text);
            });
    connect(&m_escalation, &Escalation::nobodyAcknowledged, this, [this](const QString &text) {
        m_status.changed();
        emit floodingRobot(text);
    });
    // A recipient on duty whose phone cannot be reached: the next step now.
    connect(&m_reports, &DeliveryReports::notDelivered, this,
            [this](const QString &, const QString &number, const QString &) { m_escalation.notDelivered(number); });
    m_replies.setAnswer([this](const QString &route, const QString &name, const QString &number, const QString &text) {
        sendAnswer(route, name, number, text);
    });
    m_replies.setStatusText([this] { return m_heartbeat.text(Clock::nowUtc().addDays(-1)); });
    m_outbox.onSetAside([this](const QString &name, int alerts) {
        const QString text = QStringLiteral("The outbox was damaged and has been set aside as %1; %2 alerts waiting in "
                                            "it were carried over.")
                                 .arg(name)
                                 .arg(alerts);
        m_pageLog.report(text);
        emit outboxSetAside(text);
    });
}

AlertRelay::~AlertRelay() = default;

void AlertRelay::load()
{
    m_routes.load();
    m_com = m_routes.first().settings();
    m_reporter.setNameRoutes(m_routes.count() > 1);
    m_heartbeat.load();
    m_reports.load();
    m_dispatcher.setAskReports(m_reports.on());
    GetPathList();
    GetPhoneNo();
    loadFloodOptions();
    m_replies.setOn(ReplyOptions::replies());
    m_escalation.load();
    const QString codePage = CodePage::load();
    if (CodePage::known(codePage)) {
        m_intake.setCodePage(codePage);
    } else {
        m_pageLog.report(QStringLiteral("The alert code page \"%1\" is not known here; alert files that are not UTF-8 "
                                        "are read as %2.")
                             .arg(FieldValues::shown(codePage), QString::fromLatin1(CodePage::Default)));
    }
    // An outbox that cannot be opened yet is said and tried on every tick;
    // the alert files wait on disk meanwhile.
    try {
        m_outbox.open();
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    m_reporter.updateCounts();
}

void AlertRelay::GetPathList()
{
    m_paths.GetPathList();
    for (const QString &complaint : m_paths.complaints())
        m_pageLog.report(complaint);
    watchFolders();
}

void AlertRelay::GetPhoneNo()
{
    m_recipients.GetPhoneNo();
    for (const QString &complaint : m_recipients.complaints())
        m_pageLog.report(complaint);
}

void AlertRelay::loadFloodOptions()
{
    m_repeats.load();
    m_pace.load();
    // A desk that bounds no flood is told of none, as before.
    m_floodWatch.setOn(m_repeats.windowMinutes() > 0 || m_pace.on(), m_repeats.windowMinutes() > 0);
}

void AlertRelay::loadReplyOptions()
{
    m_replies.setOn(ReplyOptions::replies());
    m_escalation.load();
    m_routes.listenToPhones(m_replies.incoming());
}

void AlertRelay::setFolderNotifications(bool on)
{
    m_notified = on;
    watchFolders();
}

void AlertRelay::watchFolders()
{
    // A folder that does not exist yet is watched from the first tick that
    // finds it. With notifications off, every watch goes.
    const QStringList watched = m_watcher.directories();
    QStringList wanted;
    if (m_notified) {
        for (const QString &path : std::as_const(m_paths.PathList())) {
            const QString folder = QDir::cleanPath(path);
            wanted << folder;
            if (!watched.contains(folder) && QFileInfo(folder).isDir())
                m_watcher.addPath(folder);
        }
    }
    for (const QString &folder : watched) {
        if (!wanted.contains(folder))
            m_watcher.removePath(folder);
    }
}

void AlertRelay::cycleSoon(int ms)
{
    if (!m_soon.isActive() || m_soon.remainingTime() > ms)
        m_soon.start(ms);
}

void AlertRelay::start()
{
    m_sincePurge.start();
    m_routes.start([this](const QString &token) {
        try {
            return m_outbox.tokenKnown(QString::fromLatin1(GatewayRoute::Name), token);
        } catch (const DbError &) {
            return false;
        }
    });
    // A desk that sends by its gateway alone leaves its modems alone.
    if (m_routes.modemsUsed())
        startHealthRounds();
    // A desk that does not hear its phones talks to its modems as before.
    if (m_replies.on()) {
        m_routes.listenToPhones(m_replies.incoming());
        // What was kept and not handled before the last stop.
        m_replies.handleKept();
    }
    // Chains under way before the last stop go on.
    m_escalation.look();
    m_heartbeat.start();
    m_reports.start();
    m_status.start();
    m_metrics.start();
    m_timer.start();
}

void AlertRelay::startHealthRounds()
{
    if (m_healthRounds && !m_health.started())
        m_health.start();
}

void AlertRelay::stop()
{
    m_stopping = true;
    m_timer.stop();
    m_soon.stop();
    m_dispatcher.stop();
    finishWhenIdle();
}

void AlertRelay::finishWhenIdle()
{
    // The dialogues under way end first, whoever asked for them.
    if (m_finished || m_cycleRunning || sending())
        return;
    m_finished = true;
    QTimer::singleShot(0, this, &AlertRelay::finished);
}

void AlertRelay::setTimeUnitMs(int ms)
{
    m_routes.setTimeUnitMs(ms);
    // A test's short unit shortens the wait for an outbox held elsewhere too.
    m_outbox.setBusyTimeoutMs(qMin(ms, Outbox::DefaultBusyTimeoutMs));
}

void AlertRelay::Timer1_Timer()
{
    m_tickCount = m_tickCount == 32767 ? short(0) : short(m_tickCount + 1);
    emit tickCounted(m_tickCount);
    watchFolders();
    runCycle();
}

void AlertRelay::runCycle()
{
    if (m_stopping)
        return;
    // A cycle asked for while one is under way follows it.
    if (m_cycleRunning) {
        m_cycleWanted = true;
        return;
    }
    m_cycleWanted = false;
    m_cycleRunning = true;
    for (const QString &path : m_paths.PathList())
        m_intake.ProcessSmsFile(path);
    m_repeats.closeDue();
    m_pace.digestDue();
    m_escalation.look();
    DispatchAlerts();
}

void AlertRelay::DispatchAlerts()
{
    m_dispatcher.DispatchAlerts();
}

void AlertRelay::endCycle()
{
    // After the batch has started: the alarm never goes ahead of an alert.
    m_floodWatch.look();
    purgeOld();
    m_reporter.updateCounts();
    m_cycleRunning = false;
    emit cycleEnded();
    if (m_stopping) {
        finishWhenIdle();
        return;
    }
    sayOutageSummary();
    sendFloodNotices();
    // A full batch may have left alerts behind: the next goes at once.
    if (m_cycleWanted || m_dispatcher.lastBatchFull())
        cycleSoon(0);
    else if (m_logs.moreDue())
        cycleSoon(LogRowsAgainMs);
    else if (m_intake.filesHeldOpen())
        cycleSoon(HeldOpenLookMs); // a writer that closes its file is not notified
}

void AlertRelay::purgeOld()
{
    if (m_sincePurge.isValid() && m_sincePurge.elapsed() < PurgeEveryMs)
        return;
    m_sincePurge.start();
    try {
        m_outbox.purgeDone(Clock::nowUtc().addDays(-KeepDoneDays));
    } catch (const DbError &) {
        // Tried again in an hour; nothing waits on it.
    }
}

void AlertRelay::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                           const std::function<void()> &whenDone)
{
    m_reporter.alterations(AlarmMsg);
    send(testRoute(), {SmsSendJob::sendableText(AlarmMsg), UserName, Ph_No, {}, ++m_nextReference, 0, {}}, AlarmMsg,
         whenDone);
}

SmsRoute &AlertRelay::testRoute()
{
    // Through the gateway on a desk that sends by it alone.
    if (SmsRoute *gateway = m_routes.modemsUsed() ? nullptr : m_routes.route(QString::fromLatin1(GatewayRoute::Name)))
        return *gateway;
    return modem();
}

void AlertRelay::send(SmsRoute &route, const SmsRequest &request, const QString &message,
                      const std::function<void()> &whenDone)
{
    route.send(request, [this, request, message, whenDone](const SendOutcome &outcome) {
        m_reporter.tried(outcome);
        if (outcome.sent)
            m_reporter.sent(request, outcome);
        else
            m_reporter.notSent(message, request.name, request.number, outcome.reason);
        if (whenDone)
            whenDone();
    });
}

void AlertRelay::sendNotice(const QString &text)
{
    // Through the first modem that is up, after what it is doing, else
    // through the gateway.
    SmsRoute *route = m_routes.firstUp();
    if (!route) {
        m_pageLog.report(QStringLiteral("Not sent, no modem can send: %1").arg(text));
        return;
    }
    for (const Recipients::Recipient &recipient : m_recipients.onDuty()) {
        if (recipient.sendable())
            send(*route, {text, recipient.name, recipient.number, {}, ++m_nextReference, 0, {}}, text, {});
    }
}

void AlertRelay::sendAnswer(const QString &routeName, const QString &name, const QString &number, const QString &text)
{
    // By the route the SMS came in on where it may take SMS, else by any;
    // never held by the pace.
    SmsRoute *by = m_routes.upRoute(routeName);
    if (!by)
        by = m_routes.firstUp();
    if (!by) {
        m_pageLog.report(QStringLiteral("Not sent, no modem can send: %1").arg(text));
        return;
    }
    send(*by, {text, name, number, {}, ++m_nextReference, 0, {}}, text, {});
}

bool AlertRelay::noFirstTryWaits()
{
    try {
        return m_outbox.foldersWaiting().isEmpty();
    } catch (const DbError &) {
        return false;
    }
}

void AlertRelay::sayOutageSummary()
{
    // Once the alerts held meanwhile are out: nothing waits for a first try.
    if (!m_outageToTell || sending() || !noFirstTryWaits())
        return;
    const Outage outage = *std::exchange(m_outageToTell, std::nullopt);
    const QString format = QStringLiteral("HH:mm");
    sendNotice(QStringLiteral("Vantrel: no modem could send from %1 to %2; %3 alerts were held and have now been "
                              "sent.")
                   .arg(outage.from.toLocalTime().toString(format), outage.to.toLocalTime().toString(format))
                   .arg(m_dispatcher.takeHeld()));
}

void AlertRelay::sendFloodNotices()
{
    if (m_floodNotices.isEmpty() || !noFirstTryWaits())
        return;
    for (const QString &text : std::exchange(m_floodNotices, {}))
        sendNotice(text);
}

void AlertRelay::testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done)
{
    if (ModemLine *line = m_routes.line(port)) {
        line->run(std::make_unique<ModemTestJob>(done));
        return;
    }
    // A port no engine holds is opened for the test alone, with the current
    // line settings, and closed after it.
    PortSettings settings = m_com;
    settings.port = port;
    auto *line = new ModemLine(settings, m_trace, this);
    line->run(std::make_unique<ModemTestJob>([line, done](const ModemTestJob::Result &result) {
        line->deleteLater();
        done(result);
    }));
}

void AlertRelay::SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                                 const QString &parityText, const QString &stopBitsText)
{
    m_com = UpdateCom::SaveComSettings(portText, baudText, dataBitsText, parityText, stopBitsText);
    m_routes.setFirstSettings(m_com);
}

bool AlertRelay::holdsPort(short port) const
{
    const ModemLine *line = m_routes.line(port);
    return line && line->portOpen();
}

void AlertRelay::setDeliveryReports(bool on)
{
    m_reports.setOn(on);
    m_dispatcher.setAskReports(on);
}

void AlertRelay::setHeartbeat(const QTime &at)
{
    Heartbeat::store(at);
    m_heartbeat.setTime(at);
}
