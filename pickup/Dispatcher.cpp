#include "pickup/Dispatcher.h"

#include "modem/ModemLine.h"
#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/SmsReporter.h"
#include "pickup/LogWriter.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"

#include <QUuid>

namespace {

const QString NotAPhoneNumber = QStringLiteral("not a phone number");

} // namespace

Dispatcher::Dispatcher(Outbox &outbox, LogWriter &logs, Recipients &recipients, SmsReporter &reporter, RouteSet &routes,
                       PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_logs(logs)
    , m_recipients(recipients)
    , m_reporter(reporter)
    , m_routes(routes)
    , m_pageLog(pageLog)
{
    // SMS waiting for another route are looked at now and then, whatever
    // the routes do meanwhile.
    connect(&m_parkedCheck, &QTimer::timeout, this, &Dispatcher::pump);
}

void Dispatcher::DispatchAlerts()
{
    // LOG rows that waited for the database go first, in their order.
    m_logs.writeDue();
    m_running = true;
    m_started = 0;
    // What the outbox could not take before goes first; until it has, its
    // SMS are not sent again and nothing new starts.
    recordKept();
    m_failed = !m_unrecorded.isEmpty() || !fillBatch();
    m_lastBatchFull = !m_failed && m_smsCount == BatchSize;
    pump();
}

void Dispatcher::stop()
{
    m_stopping = true;
    // Those waiting for another route wait in the outbox instead, failed
    // as their latest try said.
    for (const Pending &pending : std::exchange(m_failover, {}))
        finish(pending, pending.last);
    pump();
}

void Dispatcher::routeFreed()
{
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
        // An alert whose first tries are not all done may have retries due
        // as well: it takes one place, so that no SMS of it is due twice in
        // a batch and sent twice.
        if (alerts.size() < BatchSize) {
            for (const Outbox::Alert &alert : m_outbox.retriesDue(Clock::nowUtc(), BatchSize)) {
                const bool taken = std::any_of(alerts.cbegin(), alerts.cend(),
                                               [&alert](const Outbox::Alert &in) { return in.id == alert.id; });
                if (!taken && alerts.size() < BatchSize)
                    alerts << alert;
            }
        }
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        m_smsCount = 0;
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
            alert.code = m_outbox.beginDispatch(alert.id, sms);
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
    // An SMS still under way from an earlier batch is not started twice.
    slot.due.removeIf([this](const Outbox::Sms &sms) { return m_active.contains(sms.id); });
    slot.opened = true;
    // An alert with nobody to try has its LOG row due at once.
    m_logs.writeDue();
    return true;
}

void Dispatcher::pump()
{
    // Every alert of the batch has its recipients fixed at once, whether a
    // route is free or not: one with nobody to try has its LOG row then.
    for (short i = 1; m_running && !m_stopping && !m_failed && i <= m_smsCount; ++i) {
        if (!m_smsBatch[i].opened && !openRecord(m_smsBatch[i]))
            m_failed = true;
    }
    releaseParked();
    // Ending: nothing more starts. SMS that wait for another route go
    // first, then the batch's.
    while (!m_stopping && (startFailover() || (m_running && !m_failed && startFromBatch()))) { }
    // Otherwise the batch goes on when a route is free again. With no modem
    // that can send, its alerts wait in the outbox, untried, and the cycle
    // ends so that alert files are still taken meanwhile.
    const bool held = !m_routes.anyUp() && anyDue();
    if (held) {
        for (short i = 1; i <= m_smsCount; ++i) {
            if (!m_smsBatch[i].due.isEmpty())
                m_held.insert(m_smsBatch[i].alert.id);
        }
    }
    if (m_running && (m_stopping || m_failed || held || !anyDue())) {
        // A batch that could send nothing does not call for the next at once.
        m_lastBatchFull = m_lastBatchFull && !held && !m_failed && m_started > 0;
        endBatch();
    }
}

void Dispatcher::releaseParked()
{
    // An SMS that waits for another route goes back to its retry delay
    // once no other route may take it, or once it has waited a while: its
    // number is not held for an SMS that is not under way.
    for (qsizetype i = 0; i < m_failover.size();) {
        const Pending &pending = m_failover[i];
        if (m_routes.anyOtherInService(pending.failedOn) && !pending.parked.hasExpired(m_failoverWaitMs)) {
            ++i;
            continue;
        }
        const Pending released = m_failover.takeAt(i);
        finish(released, released.last);
    }
    if (m_failover.isEmpty())
        m_parkedCheck.stop();
    else if (!m_parkedCheck.isActive())
        m_parkedCheck.start(int(qBound(qint64(10), m_failoverWaitMs / 4, qint64(5000))));
}

void Dispatcher::recordKept()
{
    for (qsizetype i = 0; i < m_unrecorded.size();) {
        const auto [pending, outcome] = m_unrecorded[i];
        if (!record(pending, outcome))
            return;
        m_unrecorded.removeAt(i);
        m_active.remove(pending.sms.id);
        m_reporter.updateCounts();
    }
}

int Dispatcher::takeHeld()
{
    return int(std::exchange(m_held, {}).size());
}

bool Dispatcher::anyDue() const
{
    for (short i = 1; i <= m_smsCount; ++i) {
        if (!m_smsBatch[i].opened || !m_smsBatch[i].due.isEmpty())
            return true;
    }
    return false;
}

bool Dispatcher::startFailover()
{
    for (qsizetype i = 0; i < m_failover.size(); ++i) {
        SmsRoute *route = m_routes.freeRoute(m_failover[i].failedOn);
        if (!route)
            continue;
        const Pending pending = m_failover.takeAt(i);
        start(*route, pending);
        return true;
    }
    return false;
}

bool Dispatcher::startFromBatch()
{
    if (!m_routes.freeRoute({}))
        return false;
    for (short i = 1; i <= m_smsCount; ++i) {
        Slot &slot = m_smsBatch[i];
        for (qsizetype j = 0; j < slot.due.size(); ++j) {
            // One SMS to a number at a time, in the order of the alerts.
            if (m_busyNumbers.contains(slot.due[j].number))
                continue;
            // One the network did not deliver goes by another modem, while
            // another is in service.
            QSet<SmsRoute *> avoided;
            if (SmsRoute *avoid = m_routes.route(slot.due[j].avoidRoute))
                avoided.insert(avoid);
            if (!m_routes.anyOtherInService(avoided))
                avoided.clear();
            SmsRoute *route = m_routes.freeRoute(avoided);
            if (!route)
                continue;
            const Outbox::Sms sms = slot.due.takeAt(j);
            const Outbox::Alert &alert = slot.alert;
            SmsRequest request;
            // An alert that waits for its acknowledgement ends with its code,
            // which a reply names it by.
            request.text = SmsSendJob::sendableText(
                alert.code >= 0 ? QStringLiteral("%1 #%2").arg(alert.record.Message).arg(alert.code)
                                : alert.record.Message);
            request.name = sms.name;
            request.number = sms.number;
            request.messageBytes = alert.messageBytes;
            request.report = m_askReports;
            request.id = sms.id;
            m_active.insert(sms.id);
            m_unanswered.remove(sms.id);
            m_busyNumbers.insert(sms.number);
            ++m_started;
            start(*route, {sms, request, alert.record.Message, avoided, {}, {}});
            return true;
        }
    }
    return false;
}

void Dispatcher::start(SmsRoute &route, const Pending &pending)
{
    SmsRoute *to = &route;
    Pending starting = pending;
    // The parts of a long message go by one route: a part sent again there
    // keeps the reference of those that went before, so that the phone
    // joins them. On another route every part goes anew under a reference
    // of its own, as a phone never joins parts from two senders.
    const bool sameRoute = starting.sms.partsSent != 0 && starting.sms.partsRoute == route.routeName();
    starting.request.partsSent = sameRoute ? starting.sms.partsSent : 0;
    starting.request.reference = referenceFor(starting, route);
    // A route that names its reports by a token of the SMS has it in the
    // outbox before the SMS goes, so that a report still finds the SMS
    // after the program was killed before the route's answer.
    starting.request.token.clear();
    if (starting.request.report && route.reportsByToken()) {
        const QString token = QUuid::createUuid().toString(QUuid::Id128);
        try {
            m_outbox.recordToken(starting.sms.id, route.routeName(), token);
            starting.request.token = token;
        } catch (const DbError &error) {
            OutboxReport::failed(m_pageLog, error.text());
        }
    }
    route.send(starting.request, [this, to, starting](const SendOutcome &outcome) { ended(to, starting, outcome); });
}

void Dispatcher::lateAccepted(const QString &route, qint64 id, int part, int reference)
{
    // Tried again meanwhile, it is that try's to settle.
    const auto unanswered = m_unanswered.constFind(id);
    if (unanswered == m_unanswered.cend() || m_active.contains(id) || part < 0 || part >= 32)
        return;
    Unanswered late = *unanswered;
    m_unanswered.erase(unanswered);
    SendOutcome &outcome = late.outcome;
    outcome.references << reference;
    outcome.partsSent |= 1u << part;
    outcome.route = route;
    const quint32 all = outcome.partCount >= 32 ? ~0u : (1u << outcome.partCount) - 1;
    if ((outcome.partsSent & all) != all) {
        // The parts left go by the same route under the same reference.
        try {
            m_outbox.recordFailed(id, outcome.reason, Clock::nowUtc().addMSecs(m_retryDelaysMs.value(0)),
                                  outcome.partsSent, route, late.pending.request.reference);
        } catch (const DbError &error) {
            OutboxReport::failed(m_pageLog, error.text());
        }
        return;
    }
    outcome.sent = true;
    outcome.failure = SendOutcome::Failure::None;
    outcome.reason.clear();
    m_reporter.sent(late.pending.request, outcome);
    // Kept as any outcome the outbox cannot take yet.
    if (!record(late.pending, outcome)) {
        m_active.insert(id);
        m_unrecorded.append({late.pending, outcome});
    }
    m_reporter.updateCounts();
}

quint8 Dispatcher::referenceFor(const Pending &pending, const SmsRoute &route) const
{
    const Outbox::Sms &sms = pending.sms;
    if (sms.partsSent != 0 && sms.partsRoute == route.routeName() && sms.partsReference >= 0)
        return quint8(sms.partsReference);
    // Each try its own, never that of parts sent elsewhere.
    quint8 reference = quint8(sms.id + 37 * (sms.tries + pending.failedOn.size()));
    if (reference == sms.partsReference)
        ++reference;
    return reference;
}

void Dispatcher::ended(SmsRoute *route, Pending pending, const SendOutcome &outcome)
{
    m_routes.tried(route, outcome);
    m_reporter.tried(outcome);
    pending.request.partsSent = outcome.partsSent;
    pending.sms.partsSent = outcome.partsSent;
    if (outcome.partsSent != 0) {
        pending.sms.partsRoute = route->routeName();
        pending.sms.partsReference = pending.request.reference;
    }
    pending.last = outcome;
    // A message the modem took and did not answer may yet be sent: it waits
    // for its retry delay, where a late answer settles it, rather than go
    // by another route at once.
    const bool mayYetGo = outcome.failure == SendOutcome::Failure::Unanswered;
    if (mayYetGo) {
        // No late answer comes after a line's watch for it has ended.
        m_unanswered.removeIf([](const auto &each) { return each.value().since.hasExpired(ModemLine::LateAnswerMs); });
        Unanswered kept{pending, outcome, {}};
        kept.since.start();
        m_unanswered.insert(pending.sms.id, kept);
    }
    if (!outcome.sent && !m_stopping && !mayYetGo) {
        // Another modem in service that has not failed it this round takes
        // it at once; the number stays busy meanwhile, so that it keeps its
        // place before the later alerts' SMS to it.
        pending.failedOn.insert(route);
        if (m_routes.anyOtherInService(pending.failedOn)) {
            pending.parked.start();
            m_failover << pending;
            pump();
            return;
        }
    }
    finish(pending, outcome);
    pump();
}

void Dispatcher::finish(const Pending &pending, const SendOutcome &outcome)
{
    m_busyNumbers.remove(pending.sms.number);
    if (outcome.sent)
        m_reporter.sent(pending.request, outcome);
    // An outcome the outbox cannot take is kept, and its SMS stays active
    // so that no batch sends it again, until the outbox takes it.
    if (record(pending, outcome))
        m_active.remove(pending.sms.id);
    else
        m_unrecorded.append({pending, outcome});
    // What the tray counts changes with a failure, and with a success after one.
    if (!outcome.sent || pending.sms.tries > 0)
        m_reporter.updateCounts();
    // Every recipient of an alert had its try: then its LOG row.
    m_logs.writeDue();
}

bool Dispatcher::record(const Pending &pending, const SendOutcome &outcome)
{
    const Outbox::Sms &sms = pending.sms;
    const int tries = sms.tries + 1;
    try {
        if (outcome.sent) {
            // What the network numbered each part, to pair its report with.
            QStringList references;
            if (!pending.request.token.isEmpty()) {
                references << pending.request.token;
            } else if (pending.request.report) {
                for (const int reference : outcome.references)
                    references << QString::number(reference);
            }
            m_outbox.recordSent(sms.id, outcome.route, references);
        } else if (tries >= maxTries()) {
            m_outbox.giveUp(sms.id, outcome.reason, outcome.partsSent);
            m_reporter.givenUp(sms.name, sms.number, tries, outcome.reason);
        } else {
            m_outbox.recordFailed(sms.id, outcome.reason, Clock::nowUtc().addMSecs(m_retryDelaysMs[tries - 1]),
                                  outcome.partsSent, pending.sms.partsRoute, pending.sms.partsReference);
            // Said once, at its first failure; a later try that succeeds is
            // said as any send is, the last that fails as given up.
            if (tries == 1)
                m_reporter.notSent(pending.message, sms.name, sms.number, outcome.reason);
        }
    } catch (const DbError &error) {
        // Sent or not, the outbox cannot say so: nothing more is sent until
        // it can.
        OutboxReport::failed(m_pageLog, error.text());
        m_failed = true;
        return false;
    }
    return true;
}

void Dispatcher::endBatch()
{
    // Also when ending: the LOG rows of alerts whose sends are done.
    m_logs.writeDue();
    m_smsCount = 0;
    m_running = false;
    emit batchEnded();
}
