#pragma once

#include "modem/SmsRoute.h"
#include "store/Outbox.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVector>

class LogWriter;
class PageLog;
class Recipients;
class SmsReporter;

// Dispatches a batch of at most ten alerts from the outbox: each alert to
// every recipient on duty when its dispatch begins, then its LOG row once
// every one of its SMS has had its first try. Each SMS goes to a free route;
// the SMS of one number leave one after another, in the order of their
// alerts. An SMS that fails is tried again after each of the retry delays;
// after the last it is given up.
class Dispatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr int BatchSize = 10;

    Dispatcher(Outbox &outbox, LogWriter &logs, Recipients &recipients, SmsReporter &reporter, PageLog &pageLog,
               QObject *parent = nullptr);

    void setRoutes(const QList<SmsRoute *> &routes) { m_routes = routes; }

    // The waits before the second, third ... try of a failed SMS: 30 s,
    // 2 min, 10 min and 30 min, so five tries in all. Tests shorten them.
    void setRetryDelays(const QList<qint64> &ms) { m_retryDelaysMs = ms; }
    int maxTries() const { return int(m_retryDelaysMs.size()) + 1; }

    // Fills a batch from the outbox and sends it; batchEnded() when every
    // SMS of it has had its try.
    void DispatchAlerts();
    // A batch is under way.
    bool running() const { return m_running; }
    short SmsCount() const { return m_smsCount; }

    // No SMS starts any more; batchEnded() once those under way have ended.
    void stop();
    // A route that was busy with other work (a test message) is free again.
    void routeFreed();

signals:
    void batchEnded();

private:
    struct Slot {
        Outbox::Alert alert;
        bool opened = false;
        QList<Outbox::Sms> due; // not yet started in this batch
    };

    bool fillBatch();
    bool openRecord(Slot &slot);
    void pump();
    bool anyDue() const;
    bool startOne(SmsRoute &route);
    void ended(const Slot &slot, const Outbox::Sms &sms, const SmsRequest &request, const SendOutcome &outcome);
    void record(const Outbox::Sms &sms, const SendOutcome &outcome, const QString &message);
    SmsRoute *freeRoute() const;
    void endBatch();

    Outbox &m_outbox;
    LogWriter &m_logs;
    Recipients &m_recipients;
    SmsReporter &m_reporter;
    PageLog &m_pageLog;
    QList<SmsRoute *> m_routes;
    QList<qint64> m_retryDelaysMs = {30000, 120000, 600000, 1800000};

    // Slots 1 to m_smsCount hold the alerts of this batch; slot 0 is unused.
    QVector<Slot> m_smsBatch = QVector<Slot>(BatchSize + 1);
    short m_smsCount = 0;
    int m_turn = 0; // which folder's alerts come first in the next batch
    bool m_running = false;
    bool m_stopping = false;
    bool m_failed = false;   // the outbox failed: nothing more starts in this batch
    QSet<qint64> m_inFlight; // SMS ids
    QSet<QString> m_busyNumbers;
};
