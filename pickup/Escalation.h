#pragma once

#include "store/Outbox.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class PageLog;
class Recipients;
class RouteSet;

// An alert that nobody acknowledged within the desk's wait (DeskOptions
// "Escalate", in minutes) is escalated, one step at a time, a wait apart:
// each on-duty recipient's phone is called and told "Vantrel: not
// acknowledged #N: MESSAGE"; then the escalation list's names, one a step,
// get that SMS and the call; then all again, at most Rounds times; then
// "Nobody acknowledged #N". The steps and their due times live in the
// outbox, each committed before it is taken, so that after a kill the
// chain goes on and no step is taken twice. It looks on the relay's tick
// and on a timer for the next due step, on the relay's clock.
class Escalation : public QObject
{
    Q_OBJECT

public:
    static constexpr int Rounds = 3;
    // The same number is called at most once in this many minutes.
    static constexpr int CallGapMinutes = 2;

    Escalation(Outbox &outbox, Recipients &recipients, RouteSet &routes, PageLog &pageLog, QObject *parent = nullptr);

    // The wait and the list anew from Config.mdb.
    void load();
    bool on() const { return m_minutes > 0; }
    int minutes() const { return m_minutes; }
    // How long a minute is; tests scale it.
    void setMinuteMs(qint64 ms);

    // Takes the steps that are due.
    void look();
    // The network could not deliver an alert to `number`: its next step is
    // due now.
    void notDelivered(const QString &number);
    // Alerts were acknowledged by `name` (from `number`; empty: the desk):
    // their chains have ended, and whoever else they reached is told.
    void acknowledged(const QList<Outbox::Acknowledged> &alerts, const QString &name, const QString &number);

signals:
    // An SMS of the relay's own to one phone.
    void notice(const QString &name, const QString &number, const QString &text);
    // Nobody acknowledged an alert: the words for the tray.
    void nobodyAcknowledged(const QString &text);

private:
    void take(const Outbox::EscalationStep &step);
    void reach(const Outbox::EscalationStep &step, const QString &name, const QString &number);
    void call(const QString &name, const QString &number);
    void planLook();

    Outbox &m_outbox;
    Recipients &m_recipients;
    RouteSet &m_routes;
    PageLog &m_pageLog;
    int m_minutes = 0;
    qint64 m_minuteMs = 60000;
    QStringList m_list;
    QHash<QString, QDateTime> m_lastCall; // by number
    QTimer *m_next;
    bool m_chains = true; // the outbox may hold chains under way
};
