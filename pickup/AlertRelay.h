#pragma once

#include "modem/AlarmSender.h"
#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/TraceList.h"
#include "pickup/AlertIntake.h"
#include "pickup/MT4Paths.h"
#include "store/Outbox.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

// The alert relay: every tick of Timer1 takes the alert files of the
// watched folders into the outbox, then dispatches a batch of at most ten
// alerts from it: each to every on-duty recipient, then its LOG row. What
// the outbox holds survives the program; on the next start the relay goes
// on where it stopped.
class AlertRelay : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickIntervalMs = 3000;
    static constexpr int BatchSize = 10;
    // A LOG row the database refused is tried again after this long.
    static constexpr int LogRetryMs = 10000;

    explicit AlertRelay(QObject *parent = nullptr);

    // The relay's part of the start-up sequence: port settings, watched
    // folders and on-duty recipients. Database failures are thrown as DbError.
    void load();
    // Polling from now on.
    void start();
    // No cycle starts any more; a dispatch under way ends after the dialogue
    // it is in. What is left waits in the outbox.
    void stop();
    bool stopped() const { return m_stopping; }

    void Timer1_Timer();
    void DispatchAlerts();

    // A polling cycle is taking files or sending right now.
    bool cycleRunning() const { return m_cycleRunning; }
    short TickCount() const { return m_tickCount; }
    short SmsCount() const { return m_smsCount; }

    PageLog &pageLog() { return m_pageLog; }
    TraceList &trace() { return m_trace; }
    MT4Paths &paths() { return m_paths; }
    Recipients &recipients() { return m_recipients; }
    AlarmSender &sender() { return m_sender; }
    QTimer &Timer1() { return m_timer; }

signals:
    void tickCounted(short TickCount);
    // A dispatch that was under way when stop() came has ended.
    void finished();

private:
    void runCycle();
    bool fillBatch();
    bool dispatchRecord(Outbox::Alert &alert);
    bool writeDueLogs();
    bool writeLog(const Outbox::Alert &alert);
    void reportJournal(const QString &error);
    void purgeOld();

    PageLog m_pageLog;
    TraceList m_trace;
    MT4Paths m_paths;
    Recipients m_recipients;
    Outbox m_outbox;
    AlertIntake m_intake;
    AlarmSender m_sender;
    QTimer m_timer;
    short m_tickCount = 0;

    // Slots 1 to m_smsCount hold the alerts of this cycle; slot 0 is unused.
    QVector<Outbox::Alert> m_smsBatch = QVector<Outbox::Alert>(BatchSize + 1);
    short m_smsCount = 0;

    bool m_cycleRunning = false;
    bool m_stopping = false;
    QElapsedTimer m_logPause; // running while the database refuses LOG rows
    int m_logsWaited = 0;
    QElapsedTimer m_sincePurge;
};
