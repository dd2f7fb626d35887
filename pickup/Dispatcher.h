#pragma once

#include "modem/SmsRoute.h"
#include "store/Outbox.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVector>

class LogWriter;
class PageLog;
class Recipients;
class RouteSet;
class SmsReporter;

// Dispatches a batch of at most ten alerts from the outbox: each alert to
// every recipient on duty when its dispatch begins, then its LOG row once
// every one of its SMS has had its first try. Each SMS goes to a free route
// in service (a modem, the gateway), so that with several routes several
// SMS are under way at once; the SMS of one number leave one after another,
// in the order of their alerts. An SMS that fails on one route goes to
// another in service at once; only when every one has failed it does it
// wait for its next try, after each of the retry delays; after the last it
// is given up.
//
// A batch has ended once every SMS of it has started; the next may begin
// while its last SMS are still under way on other modems.
//
// Nothing waits without a way out: an SMS that waits for another route goes
// back to its retry delay as soon as no other route can take it, or after
// the failover wait at the latest; an outcome the outbox cannot take is
// kept, and its SMS not sent again, until the outbox can.
class Dispatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatchSize = 10;

    Dispatcher(Outbox &outbox, LogWriter &logs, Recipients &recipients, SmsReporter &reporter, RouteSet &routes,
               PageLog &pageLog, QObject *parent = nullptr);

    // The waits before the second, third ... try of a failed SMS: 30 s,
    // 2 min, 10 min and 30 min, so five tries in all. Tests shorten them.
    void setRetryDelays(const QList<qint64> &ms) { m_retryDelaysMs = ms; }
    int maxTries() const { return int(m_retryDelaysMs.size()) + 1; }
    // How long an SMS that failed on one route waits for another before it
    // waits for its retry delay instead.
    void setFailoverWaitMs(qint64 ms) { m_failoverWaitMs = ms; }
    // Every SMS asks the network for delivery reports, and what its parts
    // were numbered is kept with it to pair them.
    void setAskReports(bool on) { m_askReports = on; }

    // Fills a batch from the outbox and sends it; batchEnded() when every
    // SMS of it has started.
    void DispatchAlerts();
    // A batch is under way.
    bool running() const { return m_running; }
    // SMS of earlier batches are still under way.
    bool busy() const { return !m_active.isEmpty(); }
    short SmsCount() const { return m_smsCount; }
    // The last batch took as many alerts as a batch holds and got SMS
    // going: more may wait that can go now.
    bool lastBatchFull() const { return m_lastBatchFull; }

    // No SMS starts any more; batchEnded() once the batch has let go.
    void stop();
    // A route is free again: an SMS may go there.
    void routeFreed();
    // The network took part `part` of SMS `id` after its wait ran out.
    void lateAccepted(const QString &route, qint64 id, int part, int reference);
    // The alerts that waited because no modem could send, since the last
    // look; forgets them.
    int takeHeld();

signals:
    void batchEnded();

private:
    // One SMS on its way, with what its tries need to know.
    struct Pending {
        Outbox::Sms sms;
        SmsRequest request;
        QString message;           // the alert's text, for the page log
        QSet<SmsRoute *> failedOn; // the routes it failed on in this round
        SendOutcome last;          // how its latest try ended
        QElapsedTimer parked;      // since when it waits for another route
    };

    struct Slot {
        Outbox::Alert alert;
        bool opened = false;
        QList<Outbox::Sms> due; // not yet started
    };

    bool fillBatch();
    bool openRecord(Slot &slot);
    void pump();
    bool anyDue() const;
    bool startFailover();
    bool startFromBatch();
    void start(SmsRoute &route, const Pending &pending);
    void ended(SmsRoute *route, Pending pending, const SendOutcome &outcome);
    void finish(const Pending &pending, const SendOutcome &outcome);
    // False where the outbox could not take it.
    bool record(const Pending &pending, const SendOutcome &outcome);
    void recordKept();
    void releaseParked();
    quint8 referenceFor(const Pending &pending, const SmsRoute &route) const;
    void endBatch();

    Outbox &m_outbox;
    LogWriter &m_logs;
    Recipients &m_recipients;
    SmsReporter &m_reporter;
    RouteSet &m_routes;
    PageLog &m_pageLog;
    QList<qint64> m_retryDelaysMs = {30000, 120000, 600000, 1800000};
    qint64 m_failoverWaitMs = 30000;

    // Slots 1 to m_smsCount hold the alerts of this batch; slot 0 is unused.
    QVector<Slot> m_smsBatch = QVector<Slot>(BatchSize + 1);
    short m_smsCount = 0;
    int m_turn = 0; // which folder's alerts come first in the next batch
    bool m_running = false;
    bool m_stopping = false;
    bool m_failed = false; // the outbox failed: nothing more starts in this batch
    bool m_lastBatchFull = false;
    bool m_askReports = false;
    // Every SMS started and not yet recorded, by id; those that failed on a
    // route and wait for another, in their order.
    QSet<qint64> m_active;
    QList<Pending> m_failover;
    QTimer m_parkedCheck;
    // Outcomes the outbox could not take yet, with their SMS.
    QList<std::pair<Pending, SendOutcome>> m_unrecorded;
    int m_started = 0; // SMS started in this batch
    // SMS whose message went unanswered, as their try ended, until a late
    // answer settles them, they are tried again, or no answer can come.
    struct Unanswered {
        Pending pending;
        SendOutcome outcome;
        QElapsedTimer since;
    };
    QHash<qint64, Unanswered> m_unanswered;
    QSet<QString> m_busyNumbers;
    QSet<qint64> m_held; // alerts held while no modem was up
};
