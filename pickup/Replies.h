#pragma once

#include "modem/SmsRoute.h"
#include "store/Outbox.h"

#include <QObject>
#include <QString>

#include <functional>

class PageLog;

// What the users' phones say back, where the desk hears them (DeskOptions
// "Replies"). Each SMS a route hears is committed to the outbox before the
// route lets go of it, then handled once, also after a restart: from a
// user's number it is said in the page log and obeyed ("OK", "OK N", "#N",
// "ON", "OFF", "STATUS"); from any other number it is said and nothing
// else. A missed call from a user's number acknowledges every alert sent to
// that phone. Every answer is an SMS of the relay's own starting
// "Vantrel:", at most MaxAnswersPerHour to one phone, counted in the outbox.
class Replies : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxAnswersPerHour = 10;
    static constexpr qint64 HourMs = qint64(3600) * 1000;

    // Sends an answer to a phone, by `route` where it can.
    using Answer =
        std::function<void(const QString &route, const QString &name, const QString &number, const QString &text)>;

    Replies(Outbox &outbox, PageLog &pageLog, QObject *parent = nullptr);

    void setOn(bool on) { m_on = on; }
    bool on() const { return m_on; }
    void setAnswer(Answer answer) { m_answer = std::move(answer); }
    // The heartbeat's words, for "STATUS".
    void setStatusText(std::function<QString()> text) { m_statusText = std::move(text); }
    // What the routes are given: keep and rang; not on while replies are off.
    SmsRoute::Incoming incoming();

    // Commits an SMS a route heard; true once it is in the outbox. It is
    // handled after the caller has returned.
    bool keep(const QString &route, const IncomingSms &sms);
    // A call from `number` was hung up.
    void rang(const QString &route, const QString &number);
    // Handles what was committed and not handled yet (at start, and after
    // each keep).
    void handleKept();
    // Every alert nobody acknowledged, from the desk, by `by`; how many.
    int acknowledgeAll(const QString &by);

signals:
    // A user went on or off duty: the recipients are to be read again.
    void dutyChanged();
    // Alerts were acknowledged by `name` from `number` (empty: the desk).
    void acknowledged(const QList<Outbox::Acknowledged> &alerts, const QString &name, const QString &number);

private:
    struct User {
        QString name;
        QString stored; // the number as USERS holds it
        bool onDuty = false;
    };
    std::optional<User> userOf(const QString &number) const;
    void handle(const Outbox::IncomingSms &sms);
    void obey(const User &user, const Outbox::IncomingSms &sms);
    void acknowledgeFrom(const User &user, const QString &route, const QString &number, std::optional<int> code,
                         bool answerCount);
    void setDuty(const User &user, const QString &route, const QString &number, bool on);
    void answer(const QString &route, const QString &name, const QString &number, const QString &text,
                const QString &kind = QStringLiteral("answer"));

    Outbox &m_outbox;
    PageLog &m_pageLog;
    Answer m_answer;
    std::function<QString()> m_statusText;
    bool m_on = false;
    bool m_handleQueued = false;
};
