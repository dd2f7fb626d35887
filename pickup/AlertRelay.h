#pragma once

#include "modem/ModemLine.h"
#include "modem/ModemTestJob.h"
#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/SmsReporter.h"
#include "modem/TraceList.h"
#include "pickup/AlertIntake.h"
#include "pickup/Dispatcher.h"
#include "pickup/Escalation.h"
#include "pickup/FloodWatch.h"
#include "pickup/Heartbeat.h"
#include "pickup/LogWriter.h"
#include "pickup/MT4Paths.h"
#include "pickup/PhonePace.h"
#include "pickup/RelayMetrics.h"
#include "pickup/RepeatRuns.h"
#include "pickup/Replies.h"
#include "pickup/StatusFile.h"
#include "route/AlarmThrottle.h"
#include "route/DeliveryReports.h"
#include "route/HealthMonitor.h"
#include "route/RouteSet.h"
#include "store/Outbox.h"
#include "store/PortSettings.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

// The alert relay, made at program start and running from then on, with or
// without a window: a polling cycle takes the alert files of the watched
// folders into the outbox, then the dispatcher sends a batch of at most ten
// alerts from it through the modems' engines and the gateway. What the
// outbox holds survives the program; on the next start the relay goes on
// where it stopped. The windows are views of it.
//
// A cycle runs on every tick of Timer1, and within moments of the system
// telling that something changed in a watched folder; so a missed
// notification costs at most one tick. A cycle asked for while one runs
// follows it.
class AlertRelay : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickIntervalMs = 3000;
    static constexpr int BatchSize = Dispatcher::BatchSize;
    // After a folder notification, the cycle runs this soon, so that a burst
    // of notifications gives one cycle.
    static constexpr int NotifiedCycleMs = 20;

    explicit AlertRelay(QObject *parent = nullptr);
    ~AlertRelay() override;

    // The relay's start-up sequence: port settings, watched folders,
    // on-duty recipients, the code page and the outbox, and the modem's
    // engine. Database failures are thrown as DbError, and then nothing has
    // started.
    void load();
    // Polling from now on, and the modem's line in service.
    void start();
    // No cycle starts any more; the dialogue under way ends, then
    // finished(). What is left waits in the outbox.
    void stop();
    bool stopped() const { return m_stopping; }

    void Timer1_Timer();
    void DispatchAlerts();
    // The watched folders anew from the database, watched at once.
    void GetPathList();
    // The on-duty recipients anew from the database; what is wrong with a
    // row is said in the page log.
    void GetPhoneNo();
    // The collapse window and the pace per phone anew from the database.
    void loadFloodOptions();
    // Whether phones are heard, anew from the database; the routes listen
    // or stop at once.
    void loadReplyOptions();
    Replies &replies() { return m_replies; }
    Escalation &escalation() { return m_escalation; }
    // Every alert nobody acknowledged, from the desk, by `by`; how many.
    int acknowledgeAll(const QString &by) { return m_replies.acknowledgeAll(by); }
    // Whether folder notifications start cycles (they do unless told not
    // to); without them the tick alone finds the files, as the benchmark
    // compares.
    void setFolderNotifications(bool on);

    // One SMS outside the outbox (the Test Message page): through the
    // modem's engine after what it is doing, said in the page log as any
    // send. `whenDone` is called once it has been tried.
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone = {});
    // The modem test on port `port` with the current line settings: on the
    // engine that holds that port, after what it is doing, or on the port
    // itself when no engine holds it.
    void testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done);

    // The port settings of the modem, as the COM page shows and stores them.
    const PortSettings &comSettings() const { return m_com; }
    // Stores the five box texts and makes them current: the engine opens
    // its port with them before its next job. Failures are thrown as DbError.
    void SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                         const QString &parityText, const QString &stopBitsText);
    // The ports the relay's engines hold; nothing else may open them.
    bool holdsPort(short port) const;

    // The desk's modems and gateway, as the windows show and change them.
    RouteSet &routes() { return m_routes; }
    const RouteSet &routes() const { return m_routes; }
    // Something can send: a modem or the gateway.
    bool anyRouteUp() const { return m_routes.anyUp(); }
    // Whether every SMS asks for a delivery report; stored in Config.mdb.
    bool deliveryReports() const { return m_reports.on(); }
    void setDeliveryReports(bool on);
    DeliveryReports &reports() { return m_reports; }
    QTime heartbeatTime() const { return m_heartbeat.time(); }
    void setHeartbeat(const QTime &at);

    void setRetryDelays(const QList<qint64> &ms) { m_dispatcher.setRetryDelays(ms); }
    void setFailoverWaitMs(qint64 ms) { m_dispatcher.setFailoverWaitMs(ms); }
    // How often a route set aside, down or on trial is asked whether it
    // answers again.
    void setProbeMs(int ms) { m_routes.setProbeMs(ms); }
    // Health rounds on the modems: on unless told otherwise before start(),
    // every 60 s unless told how often.
    void setHealthRounds(bool on) { m_healthRounds = on; }
    void setHealthRoundMs(int ms) { m_health.setRoundMs(ms); }
    HealthMonitor &health() { return m_health; }
    AlarmThrottle &alarms() { return m_alarms; }
    Heartbeat &heartbeat() { return m_heartbeat; }
    StatusFile &statusFile() { return m_status; }
    RelayMetrics &metrics() { return m_metrics; }
    RepeatRuns &repeats() { return m_repeats; }
    PhonePace &pace() { return m_pace; }
    FloodWatch &floodWatch() { return m_floodWatch; }
    // An SMS of the relay's own (a modem down, the daily heartbeat) to every
    // on-duty user, through a modem that is up; said in the page log as any.
    void sendNotice(const QString &text);
    int maxTries() const { return m_dispatcher.maxTries(); }
    // Scales the time-out unit of the engines; only tests and benchmarks do.
    void setTimeUnitMs(int ms);

    // A polling cycle is taking files or starting the SMS of its batch.
    bool cycleRunning() const { return m_cycleRunning; }
    // An SMS is under way on some modem.
    bool sending() const { return m_dispatcher.busy() || !m_routes.idle(); }
    short TickCount() const { return m_tickCount; }
    short SmsCount() const { return m_dispatcher.SmsCount(); }
    Outbox::Counts deliveryCounts() const { return m_reporter.counts(); }

    PageLog &pageLog() { return m_pageLog; }
    TraceList &trace() { return m_trace; }
    MT4Paths &paths() { return m_paths; }
    Recipients &recipients() { return m_recipients; }
    AlertIntake &intake() { return m_intake; }
    SmsReporter &reporter() { return m_reporter; }
    AlarmHistory &history() { return m_reporter.history(); }
    // The Com row's modem, on which the Test Message page sends (through
    // the gateway on a desk that sends by it alone).
    ModemLine &modem() { return m_routes.first(); }
    SmsRoute &testRoute();
    QTimer &Timer1() { return m_timer; }

signals:
    void tickCounted(short TickCount);
    // A polling cycle has ended.
    void cycleEnded();
    // After stop(): the dialogue that was under way has ended.
    void finished();
    // How many SMS wait to be tried again, and how many were given up.
    void deliveryChanged(int retrying, int givenUp);
    // An SMS was tried for the last time and did not go out.
    void gaveUp(const QString &name, const QString &number, const QString &reason);
    // The network said an SMS could not be delivered.
    void notDelivered(const QString &name, const QString &number, const QString &reason);
    // A damaged outbox was set aside; the words the page log says.
    void outboxSetAside(const QString &text);
    // A route was set aside ("Modem COM2 set aside: REASON"), or the
    // routes changed otherwise.
    void routeSetAside(const QString &text);
    void modemsChanged();
    // No modem can send any more, and one can again.
    void outageBegan(const QString &text);
    void outageEnded();
    // A robot floods the desk, or nobody acknowledged an alert: the words
    // for the tray.
    void floodingRobot(const QString &text);

private:
    void runCycle();
    void startHealthRounds();
    void cycleSoon(int ms);
    void watchFolders();
    void endCycle();
    void purgeOld();
    void finishWhenIdle();
    void send(SmsRoute &route, const SmsRequest &request, const QString &message,
              const std::function<void()> &whenDone);
    // No alert waits for its first try (false when the outbox cannot say).
    bool noFirstTryWaits();
    void sayOutageSummary();
    void sendFloodNotices();
    void sendAnswer(const QString &routeName, const QString &name, const QString &number, const QString &text);

    PageLog m_pageLog;
    TraceList m_trace;
    MT4Paths m_paths;
    Recipients m_recipients;
    Outbox m_outbox;
    AlertIntake m_intake;
    RepeatRuns m_repeats;
    PhonePace m_pace;
    FloodWatch m_floodWatch;
    LogWriter m_logs;
    SmsReporter m_reporter;
    RouteSet m_routes;
    Dispatcher m_dispatcher;
    HealthMonitor m_health;
    AlarmThrottle m_alarms;
    DeliveryReports m_reports;
    Heartbeat m_heartbeat;
    StatusFile m_status;
    RelayMetrics m_metrics;
    Replies m_replies;
    Escalation m_escalation;
    bool m_healthRounds = true;
    // After a time without any modem: from when to when, told once the
    // alerts held meanwhile are out.
    struct Outage {
        QDateTime from;
        QDateTime to;
    };
    std::optional<Outage> m_outageToTell;
    QStringList m_floodNotices; // to go once no alert waits for its first try
    PortSettings m_com;
    QTimer m_timer;
    short m_tickCount = 0;
    QFileSystemWatcher m_watcher;
    QTimer m_soon;
    bool m_cycleWanted = false;
    bool m_notified = true;
    quint8 m_nextReference = 0;

    bool m_cycleRunning = false;
    bool m_stopping = false;
    bool m_finished = false;
    QElapsedTimer m_sincePurge;
};
