#pragma once

#include "modem/AlarmSender.h"
#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/TraceList.h"
#include "pickup/AlertIntake.h"
#include "pickup/LogWriter.h"
#include "pickup/MT4Paths.h"
#include "store/Outbox.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVector>

// The alert relay: a polling cycle takes the alert files of the watched
// folders into the outbox, then dispatches a batch of at most ten alerts
// from it: each to every on-duty recipient, then its LOG row. What the
// outbox holds survives the program; on the next start the relay goes on
// where it stopped.
//
// A cycle runs on every tick of Timer1, and within moments of the system
// telling that something changed in a watched folder; so a missed
// notification costs at most one tick. A cycle asked for while one runs
// follows it. The batch is taken in turn from the folders with alerts
// waiting, so a backlog in one never holds up another.
//
// A batch is dispatched one SMS at a time, the event loop running at its
// own level between two sends, so that windows and boxes opened meanwhile
// never hold a dialogue up, nor a dialogue them for longer than its own
// wait. An SMS that fails is tried again after each of the retry delays;
// after the last it is given up.
class AlertRelay : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickIntervalMs = 3000;
    static constexpr int BatchSize = 10;

    explicit AlertRelay(QObject *parent = nullptr);

    // After a folder notification, the cycle runs this soon, so that a burst
    // of notifications gives one cycle.
    static constexpr int NotifiedCycleMs = 20;

    // The relay's part of the start-up sequence: port settings, watched
    // folders and on-duty recipients. Database failures are thrown as DbError.
    void load();
    // The watched folders anew from the database, watched at once.
    void reloadPaths();
    // The on-duty recipients anew from the database; what is wrong with a
    // row is said in the page log.
    void GetPhoneNo();
    // Whether folder notifications start cycles (they do unless told not
    // to); without them the tick alone finds the files, as the benchmark
    // compares.
    void setFolderNotifications(bool on);
    // Polling from now on.
    void start();
    // No cycle starts any more; a dispatch under way ends after the dialogue
    // it is in. What is left waits in the outbox.
    void stop();
    bool stopped() const { return m_stopping; }

    void Timer1_Timer();
    void DispatchAlerts();

    // The waits before the second, third ... try of a failed SMS: 30 s,
    // 2 min, 10 min and 30 min, so five tries in all. Tests shorten them.
    void setRetryDelays(const QList<qint64> &ms) { m_retryDelaysMs = ms; }
    int maxTries() const { return int(m_retryDelaysMs.size()) + 1; }

    // A polling cycle is taking files or sending right now.
    bool cycleRunning() const { return m_cycleRunning; }
    short TickCount() const { return m_tickCount; }
    short SmsCount() const { return m_smsCount; }
    Outbox::Counts deliveryCounts() const { return m_counts; }

    PageLog &pageLog() { return m_pageLog; }
    TraceList &trace() { return m_trace; }
    MT4Paths &paths() { return m_paths; }
    Recipients &recipients() { return m_recipients; }
    AlertIntake &intake() { return m_intake; }
    AlarmSender &sender() { return m_sender; }
    QTimer &Timer1() { return m_timer; }

signals:
    void tickCounted(short TickCount);
    // After stop(): the dispatch that was under way has ended.
    void finished();
    // How many SMS wait to be tried again, and how many were given up.
    void deliveryChanged(int retrying, int givenUp);
    // An SMS was tried for the last time and did not go out.
    void gaveUp(const QString &name, const QString &number, const QString &reason);
    // A damaged outbox was set aside; the words the page log says.
    void outboxSetAside(const QString &text);

private:
    void runCycle();
    void cycleSoon(int ms);
    void watchFolders();
    bool fillBatch();
    void dispatchNext();
    bool openRecord(Outbox::Alert &alert);
    void sendOne(const Outbox::Alert &alert, const Outbox::Sms &sms);
    void endCycle();
    void updateCounts();
    void purgeOld();

    PageLog m_pageLog;
    TraceList m_trace;
    MT4Paths m_paths;
    Recipients m_recipients;
    Outbox m_outbox;
    AlertIntake m_intake;
    LogWriter m_logs;
    AlarmSender m_sender;
    QTimer m_timer;
    short m_tickCount = 0;
    QFileSystemWatcher m_watcher;
    QTimer m_soon;
    bool m_cycleWanted = false;
    bool m_notified = true;
    int m_turn = 0; // which folder's alerts come first in the next batch
    QList<qint64> m_retryDelaysMs = {30000, 120000, 600000, 1800000};

    // Slots 1 to m_smsCount hold the alerts of this cycle; slot 0 is unused.
    QVector<Outbox::Alert> m_smsBatch = QVector<Outbox::Alert>(BatchSize + 1);
    short m_smsCount = 0;
    // Where the dispatch of the batch stands: the slot, and its SMS still
    // to try in this cycle.
    short m_slot = 0;
    bool m_slotOpen = false;
    QList<Outbox::Sms> m_due;
    QTimer m_nextSend;

    bool m_cycleRunning = false;
    bool m_stopping = false;
    Outbox::Counts m_counts;
    QElapsedTimer m_sincePurge;
};
