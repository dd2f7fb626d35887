#include "pickup/Escalation.h"

#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/PhoneNumber.h"
#include "store/ReplyOptions.h"
#include "store/UserTable.h"

namespace {

// A step due this far ahead is looked at by its own timer rather than the
// tick; never a timer shorter than this.
constexpr qint64 ShortestLookMs = 10;
// A clock set forward is noticed on the tick anyway.
constexpr qint64 MaxLookMs = 3600000;

QString callWords(const CallOutcome &outcome)
{
    switch (outcome.result) {
    case CallOutcome::Result::Answered:
        return QStringLiteral("answered");
    case CallOutcome::Result::NoAnswer:
        return QStringLiteral("no answer");
    case CallOutcome::Result::Busy:
        return QStringLiteral("busy");
    case CallOutcome::Result::Failed:
    case CallOutcome::Result::CannotCall:
        break;
    }
    return QStringLiteral("failed: %1").arg(outcome.reason);
}

} // namespace

Escalation::Escalation(Outbox &outbox, Recipients &recipients, RouteSet &routes, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_recipients(recipients)
    , m_routes(routes)
    , m_pageLog(pageLog)
    , m_next(new QTimer(this))
{
    m_next->setSingleShot(true);
    connect(m_next, &QTimer::timeout, this, &Escalation::look);
}

void Escalation::load()
{
    m_minutes = ReplyOptions::escalateMinutes();
    m_list = ReplyOptions::escalation();
    m_outbox.setEscalateMs(m_minutes * m_minuteMs);
}

void Escalation::setMinuteMs(qint64 ms)
{
    m_minuteMs = ms;
    m_outbox.setEscalateMs(m_minutes * m_minuteMs);
}

void Escalation::look()
{
    // Chains under way go on after escalation was turned off, as a kill
    // would leave them: only new alerts have no chain. A desk that has
    // none reads nothing more than once.
    if (!on() && !m_chains)
        return;
    std::optional<QDateTime> due;
    try {
        due = m_outbox.nextEscalationDue();
    } catch (const DbError &) {
        return; // looked at again on the next tick
    }
    m_chains = due.has_value();
    if (!due) {
        m_next->stop();
        return;
    }
    const QDateTime now = Clock::nowUtc();
    if (*due <= now) {
        QList<Outbox::EscalationStep> steps;
        try {
            steps = m_outbox.takeDueSteps(now, int(m_list.size()), Rounds);
        } catch (const DbError &) {
            return;
        }
        for (const Outbox::EscalationStep &step : std::as_const(steps))
            take(step);
        try {
            due = m_outbox.nextEscalationDue();
        } catch (const DbError &) {
            return;
        }
        m_chains = due.has_value();
        if (!due) {
            m_next->stop();
            return;
        }
    }
    m_next->start(int(qBound(ShortestLookMs, now.msecsTo(*due), MaxLookMs)));
}

void Escalation::planLook()
{
    // Soon: the outbox says when.
    m_chains = true;
    m_next->start(int(ShortestLookMs));
}

void Escalation::take(const Outbox::EscalationStep &step)
{
    const QString code = QStringLiteral("#%1").arg(step.code);
    if (step.step < 0) {
        const QString text = QStringLiteral("Nobody acknowledged %1").arg(code);
        m_pageLog.report(text);
        emit nobodyAcknowledged(QStringLiteral("%1: %2").arg(text, step.message));
        return;
    }
    if (step.step == 0) {
        if (step.round == 1)
            m_pageLog.report(QStringLiteral("Not acknowledged within %1 minutes: %2").arg(m_minutes).arg(code));
        for (const Recipients::Recipient &recipient : m_recipients.onDuty()) {
            if (recipient.sendable())
                reach(step, recipient.name, recipient.number);
        }
        return;
    }
    const QString name = m_list.value(step.step - 1);
    QString number;
    try {
        for (const UserTable::User &user : UserTable::rows()) {
            if (user.name == name && PhoneNumber::isValid(user.phoneNo)) {
                number = PhoneNumber::normalized(user.phoneNo);
                break;
            }
        }
    } catch (const DbError &) {
    }
    if (number.isEmpty()) {
        m_pageLog.report(QStringLiteral("Not escalated to %1: no such user with a phone number: %2").arg(name, code));
        return;
    }
    m_pageLog.report(QStringLiteral("Escalated to %1 (%2): %3").arg(name, number, code));
    reach(step, name, number);
}

void Escalation::reach(const Outbox::EscalationStep &step, const QString &name, const QString &number)
{
    try {
        m_outbox.addContact(step.alertId, name, number);
    } catch (const DbError &) {
        // Not told of the acknowledgement; reached all the same.
    }
    emit notice(name, number, QStringLiteral("Vantrel: not acknowledged #%1: %2").arg(step.code).arg(step.message));
    call(name, number);
}

void Escalation::call(const QString &name, const QString &number)
{
    // Networks bar a number called again and again.
    const QDateTime now = Clock::nowUtc();
    const auto last = m_lastCall.constFind(number);
    if (last != m_lastCall.cend() && last->msecsTo(now) < CallGapMinutes * m_minuteMs) {
        m_pageLog.report(QStringLiteral("Not calling %1 (%2): called less than %3 minutes ago")
                             .arg(name, number)
                             .arg(CallGapMinutes));
        return;
    }
    m_lastCall.insert(number, now);
    const QString who = QStringLiteral("%1 (%2)").arg(name, number);
    const QString route = m_routes.call(number, [this, who](const CallOutcome &outcome) {
        m_pageLog.report(QStringLiteral("Call to %1: %2").arg(who, callWords(outcome)));
    });
    if (route.isEmpty())
        m_pageLog.report(QStringLiteral("Call to %1: failed: no modem can call").arg(who));
    else
        m_pageLog.report(QStringLiteral("Calling %1 via %2").arg(who, route));
}

void Escalation::notDelivered(const QString &number)
{
    try {
        m_outbox.hurryEscalation(number, Clock::nowUtc());
    } catch (const DbError &) {
        return;
    }
    planLook();
}

void Escalation::acknowledged(const QList<Outbox::Acknowledged> &alerts, const QString &name, const QString &number)
{
    for (const Outbox::Acknowledged &alert : alerts) {
        if (alert.code < 0)
            continue;
        for (const auto &[contactName, contactNumber] : alert.contacts) {
            if (!number.isEmpty() && PhoneNumber::sameNumber(number, contactNumber))
                continue;
            emit notice(contactName, contactNumber,
                        QStringLiteral("Vantrel: #%1 acknowledged by %2").arg(alert.code).arg(name));
        }
    }
    planLook();
}
