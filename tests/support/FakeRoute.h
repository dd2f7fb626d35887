#pragma once

#include "modem/SmsRoute.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

// A route whose answers a test decides: for the route layer's and the
// dispatcher's own policy, without a modem or a gateway behind it. Each try
// ends after the delay set, one at a time; a probe answers at once.
class FakeRoute : public QObject, public SmsRoute
{
    Q_OBJECT

public:
    // How a try ends. Unanswered: the network took the message, the answer
    // to its last part was lost on the way back. PartRefused: of a long
    // message, the first part still missing goes, the next is refused.
    enum class Answer { Sent, Refused, Destination, NoAnswer, Port, Unanswered, PartRefused };

    // One part the network took: the phone joins the parts of one message
    // that came from one sender under one reference.
    struct Part {
        qint64 id;
        int reference;
        int part;
    };

    explicit FakeRoute(const QString &name, QObject *parent = nullptr);

    void setAnswer(std::function<Answer(const SmsRequest &)> answer) { m_answer = std::move(answer); }
    void setAnswer(Answer answer)
    {
        m_answer = [answer](const SmsRequest &) { return answer; };
    }
    void setAlive(bool alive) { m_alive = alive; }
    void setDelayMs(int ms) { m_delayMs = ms; }
    // Its delivery reports name each SMS by a token, as a gateway's do.
    void setReportsByToken(bool byToken) { m_byToken = byToken; }
    // Told as the network takes a whole SMS, before its answer is on the
    // way, and whether that answer will come back.
    void setOnTaken(std::function<void(const SmsRequest &, bool answered)> taken) { m_taken = std::move(taken); }
    // The parts a message of this text goes in.
    static int partsOf(const QString &text) { return text.size() <= 160 ? 1 : int(text.size() + 152) / 153; }

    // The SMS the network took through it, Unanswered ones among them.
    const QList<SmsRequest> &accepted() const { return m_accepted; }
    // The texts of those to `number`, in order.
    QStringList textsTo(const QString &number) const;
    // The SMS whose answer was lost, once for each time.
    const QList<qint64> &lostAnswers() const { return m_lost; }
    const QList<Part> &parts() const { return m_parts; }
    int tries() const { return m_tries; }
    int probes() const { return m_probes; }

    // A phone's SMS and calls, as the network brings them: handed to what
    // the route was told to listen with. False where nobody listens or the
    // SMS was not kept.
    bool hearSms(const QString &number, const QString &text, const QDateTime &sentAt = {});
    bool hearCall(const QString &number);
    bool listening() const { return m_incoming.on(); }
    // How the calls it is asked for end, in turn (the last one again once
    // the list is used up); none: it cannot call.
    void setCallOutcomes(const QList<CallOutcome> &outcomes) { m_callOutcomes = outcomes; }
    // The numbers it rang, in order.
    const QStringList &calls() const { return m_calls; }

    QString routeName() const override { return m_name; }
    bool free() const override { return !m_busy; }
    bool reportsByToken() const override { return m_byToken; }
    void send(const SmsRequest &request, std::function<void(const SendOutcome &)> done) override;
    void probe(const std::function<void(bool answered)> &done) override;
    void listenToPhones(const Incoming &incoming) override { m_incoming = incoming; }
    bool canCall() const override { return !m_callOutcomes.isEmpty(); }
    void call(const QString &number, std::function<void(const CallOutcome &)> done) override;

signals:
    void idle();

private:
    QString m_name;
    std::function<Answer(const SmsRequest &)> m_answer = [](const SmsRequest &) { return Answer::Sent; };
    std::function<void(const SmsRequest &, bool answered)> m_taken;
    bool m_alive = true;
    bool m_byToken = false;
    bool m_busy = false;
    int m_delayMs = 0;
    int m_tries = 0;
    int m_probes = 0;
    QList<SmsRequest> m_accepted;
    QList<qint64> m_lost;
    QList<Part> m_parts;
    int m_nextReference = 0;
    Incoming m_incoming;
    QList<CallOutcome> m_callOutcomes;
    QStringList m_calls;
};
