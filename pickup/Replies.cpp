#include "pickup/Replies.h"

#include "modem/PageLog.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/PhoneNumber.h"
#include "store/UserTable.h"

#include <QRegularExpression>
#include <QTimer>

namespace {

const QString HelpText = QStringLiteral("Vantrel: reply OK to acknowledge your alerts, OK N for alert #N, ON or OFF "
                                        "for your duty, STATUS for the desk.");

} // namespace

Replies::Replies(Outbox &outbox, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

SmsRoute::Incoming Replies::incoming()
{
    if (!m_on)
        return {};
    return {[this](const QString &route, const IncomingSms &sms) { return keep(route, sms); },
            [this](const QString &route, const QString &number) { rang(route, number); }};
}

std::optional<Replies::User> Replies::userOf(const QString &number) const
{
    // On duty or not: an off-duty user may go on duty by SMS.
    for (const UserTable::User &user : UserTable::rows()) {
        if (PhoneNumber::isValid(user.phoneNo) && PhoneNumber::sameNumber(user.phoneNo, number))
            return User{user.name, user.phoneNo, user.onDuty};
    }
    return std::nullopt;
}

bool Replies::keep(const QString &route, const IncomingSms &sms)
{
    Outbox::IncomingSms kept;
    kept.number = sms.number;
    kept.text = sms.text;
    kept.route = route;
    kept.receivedAt = Clock::nowUtc();
    kept.sentAt = sms.sentAt;
    try {
        if (const std::optional<User> user = userOf(sms.number))
            kept.userName = user->name;
        m_outbox.keepIncoming(kept);
    } catch (const DbError &) {
        // The route keeps it and offers it again.
        return false;
    }
    if (!std::exchange(m_handleQueued, true))
        QTimer::singleShot(0, this, &Replies::handleKept);
    return true;
}

void Replies::handleKept()
{
    m_handleQueued = false;
    QList<Outbox::IncomingSms> kept;
    try {
        kept = m_outbox.unhandledIncoming();
    } catch (const DbError &) {
        return; // handled after the next that is kept, or at the next start
    }
    for (const Outbox::IncomingSms &sms : std::as_const(kept)) {
        // Marked first: an SMS whose handling failed half way is not obeyed
        // twice.
        try {
            m_outbox.setHandled(sms.id);
        } catch (const DbError &) {
            return;
        }
        handle(sms);
    }
}

void Replies::handle(const Outbox::IncomingSms &sms)
{
    std::optional<User> user;
    try {
        user = userOf(sms.number);
    } catch (const DbError &) {
    }
    if (!user) {
        m_pageLog.report(QStringLiteral("SMS from an unknown number %1 ignored").arg(sms.number));
        return;
    }
    m_pageLog.report(QStringLiteral("SMS from %1 (%2): %3").arg(user->name, sms.number, sms.text));
    obey(*user, sms);
}

void Replies::obey(const User &user, const Outbox::IncomingSms &sms)
{
    const QString command = sms.text.trimmed().toUpper();
    static const QRegularExpression one(QStringLiteral("^(?:OK\\s*#?\\s*|#\\s*)(\\d{1,3})$"));
    if (command == QLatin1String("OK")) {
        acknowledgeFrom(user, sms.route, sms.number, std::nullopt, false);
    } else if (const QRegularExpressionMatch match = one.match(command); match.hasMatch()) {
        acknowledgeFrom(user, sms.route, sms.number, match.captured(1).toInt(), false);
    } else if (command == QLatin1String("ON") || command == QLatin1String("OFF")) {
        setDuty(user, sms.route, sms.number, command == QLatin1String("ON"));
    } else if (command == QLatin1String("STATUS")) {
        const QString status = m_statusText ? m_statusText() : QString();
        answer(sms.route, user.name, sms.number,
               status.startsWith(QLatin1String("Vantrel ")) ? QStringLiteral("Vantrel: ") + status.mid(8) : status);
    } else {
        // One help an hour: a phone that keeps writing is not kept busy.
        try {
            if (m_outbox.answersSince(sms.number, Clock::nowUtc().addMSecs(-HourMs), QStringLiteral("help")) > 0)
                return;
        } catch (const DbError &) {
            return;
        }
        answer(sms.route, user.name, sms.number, HelpText, QStringLiteral("help"));
    }
}

void Replies::acknowledgeFrom(const User &user, const QString &route, const QString &number, std::optional<int> code,
                              bool answerCount)
{
    QList<Outbox::Acknowledged> acknowledged;
    try {
        acknowledged = m_outbox.acknowledge(number, user.name, Clock::nowUtc(), code);
    } catch (const DbError &error) {
        m_pageLog.report(QStringLiteral("The acknowledgement of %1 (%2) could not be kept: %3")
                             .arg(user.name, number, error.text()));
        return;
    }
    for (const Outbox::Acknowledged &alert : std::as_const(acknowledged)) {
        const QString what =
            alert.code >= 0 ? QStringLiteral("#%1 %2").arg(alert.code).arg(alert.message) : alert.message;
        m_pageLog.report(QStringLiteral("Acknowledged by %1 (%2): %3").arg(user.name, number, what));
    }
    if (answerCount) {
        answer(route, user.name, number,
               QStringLiteral("Vantrel: acknowledged %1 alert%2")
                   .arg(acknowledged.size())
                   .arg(acknowledged.size() == 1 ? QString() : QStringLiteral("s")));
    } else if (code && acknowledged.isEmpty()) {
        answer(route, user.name, number, QStringLiteral("Vantrel: no alert #%1 waits for you").arg(*code));
    }
    if (!acknowledged.isEmpty())
        emit this->acknowledged(acknowledged, user.name, number);
}

void Replies::rang(const QString &route, const QString &number)
{
    std::optional<User> user;
    try {
        user = userOf(number);
    } catch (const DbError &) {
    }
    if (!user) {
        m_pageLog.report(QStringLiteral("Call from an unknown number %1 ignored").arg(number));
        return;
    }
    m_pageLog.report(QStringLiteral("Missed call from %1 (%2)").arg(user->name, number));
    acknowledgeFrom(*user, route, number, std::nullopt, true);
}

void Replies::setDuty(const User &user, const QString &route, const QString &number, bool on)
{
    const QString who = QStringLiteral("%1 (%2)").arg(user.name, number);
    try {
        if (!on && user.onDuty) {
            int others = 0;
            for (const UserTable::User &row : UserTable::rows())
                others += row.onDuty && !(row.name == user.name && row.phoneNo == user.stored) ? 1 : 0;
            if (others == 0) {
                m_pageLog.report(QStringLiteral("%1 asked to go off duty; refused: nobody else is on duty").arg(who));
                answer(route, user.name, number,
                       QStringLiteral("Vantrel: you are the last on duty; you stay on duty until someone else is."));
                return;
            }
        }
        UserTable::setOnDuty(user.name, user.stored, on);
    } catch (const DbError &error) {
        m_pageLog.report(QStringLiteral("The duty of %1 could not be changed: %2").arg(who, error.text()));
        return;
    }
    emit dutyChanged();
    const QString state = on ? QStringLiteral("on duty") : QStringLiteral("off duty");
    m_pageLog.report(QStringLiteral("%1 is now %2").arg(who, state));
    // A sender's number can be forged: the phone's owner sees a change they
    // did not make.
    answer(route, user.name, number, QStringLiteral("Vantrel: you are now %1").arg(state));
}

void Replies::answer(const QString &route, const QString &name, const QString &number, const QString &text,
                     const QString &kind)
{
    const QDateTime now = Clock::nowUtc();
    try {
        if (m_outbox.answersSince(number, now.addMSecs(-HourMs)) >= MaxAnswersPerHour) {
            m_pageLog.reportOnce(QStringLiteral("answers:") + number,
                                 QStringLiteral("No more answers to %1 (%2) this hour: %3 were sent")
                                     .arg(name, number)
                                     .arg(MaxAnswersPerHour));
            return;
        }
        m_pageLog.clearReport(QStringLiteral("answers:") + number);
        m_outbox.countAnswer(number, kind, now);
    } catch (const DbError &) {
        return; // an answer that cannot be counted is not sent
    }
    if (m_answer)
        m_answer(route, name, number, text);
}

int Replies::acknowledgeAll(const QString &by)
{
    QList<Outbox::Acknowledged> alerts;
    try {
        alerts = m_outbox.acknowledgeAll(by, Clock::nowUtc());
    } catch (const DbError &error) {
        m_pageLog.report(QStringLiteral("The acknowledgement could not be kept: %1").arg(error.text()));
        return 0;
    }
    m_pageLog.report(QStringLiteral("%1 alerts acknowledged from the desk by %2").arg(alerts.size()).arg(by));
    if (!alerts.isEmpty())
        emit acknowledged(alerts, by, {});
    return int(alerts.size());
}
