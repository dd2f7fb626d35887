#include "support/FakeRoute.h"

#include <QTimer>

FakeRoute::FakeRoute(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
{
}

void FakeRoute::send(const SmsRequest &request, std::function<void(const SendOutcome &)> done)
{
    m_busy = true;
    ++m_tries;
    QTimer::singleShot(m_delayMs, this, [this, request, done] {
        const Answer answer = m_answer(request);
        SendOutcome outcome;
        outcome.route = m_name;
        outcome.partCount = partsOf(request.text);
        outcome.partsSent = request.partsSent;
        // The parts still missing, as the network takes them.
        const auto take = [&](int part) {
            m_parts << Part{request.id, request.reference, part};
            outcome.references << ++m_nextReference % 256;
        };
        QList<int> missing;
        for (int part = 0; part < outcome.partCount; ++part) {
            if (!(request.partsSent & (1u << part)))
                missing << part;
        }
        switch (answer) {
        case Answer::Sent:
            outcome.sent = true;
            for (const int part : missing) {
                take(part);
                outcome.partsSent |= 1u << part;
            }
            break;
        case Answer::PartRefused:
            if (missing.size() > 1) {
                take(missing.first());
                outcome.partsSent |= 1u << missing.first();
            }
            outcome.failure = SendOutcome::Failure::Refused;
            outcome.reason = QStringLiteral("+CMS ERROR: 500");
            break;
        case Answer::Refused:
            outcome.failure = SendOutcome::Failure::Refused;
            outcome.reason = QStringLiteral("+CMS ERROR: 500");
            break;
        case Answer::Destination:
            outcome.failure = SendOutcome::Failure::Destination;
            outcome.reason = QStringLiteral("+CMS ERROR: 1");
            break;
        case Answer::NoAnswer:
            outcome.failure = SendOutcome::Failure::NoAnswer;
            outcome.reason = QStringLiteral("no answer from the modem");
            break;
        case Answer::Port:
            outcome.failure = SendOutcome::Failure::Port;
            outcome.reason = QStringLiteral("the line to the modem was lost");
            break;
        case Answer::Unanswered:
            // Every part goes; the answer to the last never comes back.
            if (missing.isEmpty())
                missing << outcome.partCount - 1;
            for (const int part : missing) {
                take(part);
                if (part != missing.last())
                    outcome.partsSent |= 1u << part;
            }
            outcome.references.removeLast();
            outcome.part = missing.last();
            outcome.failure = SendOutcome::Failure::Unanswered;
            outcome.reason = QStringLiteral("no answer to the message");
            break;
        }
        if (answer == Answer::Sent || answer == Answer::Unanswered) {
            m_accepted << request;
            if (m_taken)
                m_taken(request, answer == Answer::Sent);
        }
        if (answer == Answer::Unanswered)
            m_lost << request.id;
        m_busy = false;
        done(outcome);
        emit idle();
    });
}

void FakeRoute::probe(const std::function<void(bool answered)> &done)
{
    ++m_probes;
    QTimer::singleShot(0, this, [this, done] { done(m_alive); });
}

bool FakeRoute::hearSms(const QString &number, const QString &text, const QDateTime &sentAt)
{
    return m_incoming.on() && m_incoming.keep(m_name, {number, text, sentAt});
}

bool FakeRoute::hearCall(const QString &number)
{
    if (!m_incoming.rang)
        return false;
    m_incoming.rang(m_name, number);
    return true;
}

void FakeRoute::call(const QString &number, std::function<void(const CallOutcome &)> done)
{
    const CallOutcome outcome = m_callOutcomes.size() > 1 ? m_callOutcomes.takeFirst() : m_callOutcomes.value(0);
    m_calls << number;
    QTimer::singleShot(m_delayMs, this, [outcome, done] { done(outcome); });
}

QStringList FakeRoute::textsTo(const QString &number) const
{
    QStringList texts;
    for (const SmsRequest &sms : m_accepted) {
        if (sms.number == number)
            texts << sms.text;
    }
    return texts;
}
