#include "pickup/Dispatcher.h"

#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/SmsReporter.h"
#include "pickup/LogWriter.h"
#include "pickup/OutboxReport.h"
#include "store/Clock.h"
#include "store/DbError.h"

namespace {

const QString NotAPhoneNumber = QStringLiteral("not a phone number");

} // namespace

Dispatcher::Dispatcher(Outbox &outbox, LogWriter &logs, Recipients &recipients, SmsReporter &reporter, PageLog &pageLog,
                       QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_logs(logs)
    , m_recipients(recipients)
    , m_reporter(reporter)
    , m_pageLog(pageLog)
{
}

void Dispatcher::DispatchAlerts()
{
    // LOG rows that waited for the database go first, in their order.
    m_logs.writeDue();
    m_running = true;
    m_failed = false;
    if (!fillBatch())
        m_failed = true;
    pump();
}

void Dispatcher::stop()
{
    m_stopping = true;
    pump();
}

bool Dispatcher::fillBatch()
{
    // New alerts' first tries first, taken in turn from the folders that
    // have any, each in its file order; SMS due to be tried again take the
    // places left.
    QList<Outbox::Alert> alerts;
    try {
        QStringList folders = m_outbox.foldersWaiting();
        QList<QList<Outbox::Alert>> waiting;
        for (qsizetype i = 0; i < folders.size(); ++i)
            waiting << m_outbox.firstTries(folders[(i + m_turn) % folders.size()], BatchSize);
        ++m_turn;
        for (qsizetype round = 0; round < BatchSize && alerts.size() < BatchSize; ++round) {
            for (const QList<Outbox::Alert> &folder : std::as_const(waiting)) {
                if (round < folder.size() && alerts.size() < BatchSize)
                    alerts << folder[round];
            }
        }
        if (alerts.size() < BatchSize)
            alerts += m_outbox.retriesDue(Clock::nowUtc(), BatchSize - int(alerts.size()));
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    m_smsCount = 0;
    for (const Outbox::Alert &alert : std::as_const(alerts))
        m_smsBatch[++m_smsCount] = {alert, false, {}};
    return true;
}

bool Dispatcher::openRecord(Slot &slot)
{
    Outbox::Alert &alert = slot.alert;
    try {
        if (!alert.dispatched) {
            // The recipients of an alert are those on duty when its dispatch
            // begins. One whose number is no phone number gets nothing, and
            // each alert says so.
            QList<Outbox::NewSms> sms;
            for (const Recipients::Recipient &recipient : m_recipients.onDuty())
                sms.append({recipient.name, recipient.sendable() ? recipient.number : recipient.stored,
                            recipient.sendable() ? QString() : NotAPhoneNumber});
            m_outbox.beginDispatch(alert.id, sms);
            alert.dispatched = true;
            m_reporter.alterations(alert.record.Message);
            for (const Recipients::Recipient &recipient : m_recipients.onDuty()) {
                if (!recipient.sendable())
                    m_reporter.notSent(alert.record.Message, recipient.name, recipient.stored, NotAPhoneNumber);
            }
        }
        slot.due = m_outbox.dueSms(alert.id, Clock::nowUtc());
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    OutboxReport::works(m_pageLog);
    slot.opened = true;
    return true;
}

SmsRoute *Dispatcher::freeRoute() const
{
    for (SmsRoute *route : m_routes) {
        if (route->free())
            return route;
    }
    return nullptr;
}

void Dispatcher::pump()
{
    if (!m_running)
        return;
    // Ending, or the outbox cannot say what was sent: nothing more starts.
    while (!m_stopping && !m_failed) {
        SmsRoute *route = freeRoute();
        if (!route || !startOne(*route))
            break;
    }
    // Otherwise the batch goes on when a route is free again.
    if (m_inFlight.isEmpty() && (m_stopping || m_failed || !anyDue()))
        endBatch();
}

void Dispatcher::routeFreed()
{
    pump();
}

bool Dispatcher::anyDue() const
{
    for (short i = 1; i <= m_smsCount; ++i) {
        if (!m_smsBatch[i].opened || !m_smsBatch[i].due.isEmpty())
            return true;
    }
    return false;
}

bool Dispatcher::startOne(SmsRoute &route)
{
    for (short i = 1; i <= m_smsCount; ++i) {
        Slot &slot = m_smsBatch[i];
        if (!slot.opened) {
            if (!openRecord(slot)) {
                m_failed = true;
                return false;
            }
            // An alert with nobody to try has its LOG row due at once.
            m_logs.writeDue();
        }
        for (qsizetype j = 0; j < slot.due.size(); ++j) {
            const Outbox::Sms sms = slot.due[j];
            // One SMS to a number at a time, in the order of the alerts.
            if (m_busyNumbers.contains(sms.number))
                continue;
            slot.due.removeAt(j);
            m_inFlight.insert(sms.id);
            m_busyNumbers.insert(sms.number);
            const Outbox::Alert &alert = slot.alert;
            // The parts of a long message keep their reference number, so
            // that a part sent again joins those that went out before.
            const SmsRequest request{SmsSendJob::sendableText(alert.record.Message),
                                     sms.name,
                                     sms.number,
                                     alert.messageBytes,
                                     quint8(sms.id),
                                     sms.partsSent};
            route.send(request, [this, i, sms, request](const SendOutcome &outcome) {
                ended(m_smsBatch[i], sms, request, outcome);
            });
            return true;
        }
    }
    return false;
}

void Dispatcher::ended(const Slot &slot, const Outbox::Sms &sms, const SmsRequest &request, const SendOutcome &outcome)
{
    m_inFlight.remove(sms.id);
    m_busyNumbers.remove(sms.number);
    m_reporter.tried(outcome);
    if (outcome.sent)
        m_reporter.sent(request, outcome);
    record(sms, outcome, slot.alert.record.Message);
    // Every recipient of an alert had its try: then its LOG row.
    m_logs.writeDue();
    pump();
}

void Dispatcher::record(const Outbox::Sms &sms, const SendOutcome &outcome, const QString &message)
{
    const int tries = sms.tries + 1;
    try {
        if (outcome.sent) {
            m_outbox.recordSent(sms.id);
        } else if (tries >= maxTries()) {
            m_outbox.giveUp(sms.id, outcome.reason, outcome.partsSent);
            m_reporter.givenUp(sms.name, sms.number, tries, outcome.reason);
        } else {
            m_outbox.recordFailed(sms.id, outcome.reason, Clock::nowUtc().addMSecs(m_retryDelaysMs[tries - 1]),
                                  outcome.partsSent);
            // Said once, at its first failure; a later try that succeeds is
            // said as any send is, the last that fails as given up.
            if (tries == 1)
                m_reporter.notSent(message, sms.name, sms.number, outcome.reason);
        }
    } catch (const DbError &error) {
        // Sent or not, the outbox cannot say so: nothing more is sent until
        // it can, and this SMS is tried again then.
        OutboxReport::failed(m_pageLog, error.text());
        m_failed = true;
    }
}

void Dispatcher::endBatch()
{
    // Also when ending: the LOG rows of alerts whose sends are done.
    m_logs.writeDue();
    m_smsCount = 0;
    m_running = false;
    emit batchEnded();
}
