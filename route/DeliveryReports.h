#pragma once

#include "modem/DeliveryReport.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

class ModemLine;
class Outbox;
class PageLog;
class ReportReader;
class RouteSet;
class SmsReporter;
class TraceList;

// Delivery reports: whether each SMS reached its phone, as the network says
// in a status report. With the setting on (DeskOptions "DeliveryReports";
// a Config.mdb without it asks for none) every SMS asks for a report, each
// modem is told to pass reports on as they arrive ("AT+CNMI" <ds> 1), and
// reports a modem stored instead are read and deleted, on "+CDSI" at once
// and on every health round. Each report is paired with its SMS by line,
// message reference, number and time; a long SMS is delivered when all its
// parts are. The page log says "Delivered to", "Not delivered to" and, once,
// "No delivery report from ... within 15 minutes"; a temporary status only
// shows in the trace, a report that matches nothing too.
class DeliveryReports : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 LateMs = qint64(15) * 60 * 1000;
    static constexpr qint64 PairedWithinDays = 3;
    static constexpr int LookMs = 30000;
    // A report that matches no SMS yet (one for part 1 of a long SMS whose
    // later parts are still under way) is paired again at each look for
    // this long; at most this many are held.
    static constexpr qint64 HoldUnpairedMs = qint64(5) * 60 * 1000;
    static constexpr int MostUnpaired = 256;

    DeliveryReports(Outbox &outbox, RouteSet &routes, SmsReporter &reporter, PageLog &pageLog, TraceList &trace,
                    QObject *parent = nullptr);
    ~DeliveryReports() override;

    // From DeskOptions; stored there by setOn (failures thrown as DbError).
    void load();
    bool on() const { return m_on; }
    void setOn(bool on);

    // From now on: the modems set up, late reports looked for.
    void start();
    void setLookMs(int ms) { m_look.setInterval(ms); }

    // A line the modem sent on its own: a report, or word of a stored one.
    void heard(ModemLine *line, const QString &text, const QString &data);
    // After a health round: the line set up again (a reset forgets it) and
    // its memory read.
    void roundDone(ModemLine *line);
    // A report of a gateway's, already paired by its token.
    void gatewayReport(const QString &token, int status, const QString &words);

signals:
    void notDelivered(const QString &name, const QString &number, const QString &reason);
    // A report settled an SMS that `route` sent: delivered, or not.
    void settled(const QString &route, bool delivered);
    // An SMS waits in the outbox to be sent once more.
    void sentAgain();

private:
    void setUp(ModemLine *line);
    void setUpAll();
    ReportReader &reader(ModemLine *line);
    // False where it matched no SMS; held then, to be paired again.
    bool pair(const QString &route, const QString &reference, const DeliveryReport &report, bool again = false);
    void pairHeld();
    void settle(qint64 partId, const QString &route, const DeliveryReport &report);
    // `failure` in words where it failed; empty: delivered at `at`.
    void settle(qint64 partId, const QString &route, int status, const QString &failure, const QDateTime &at,
                bool anotherNetworkMayDeliver);
    void lookForLate();

    Outbox &m_outbox;
    RouteSet &m_routes;
    SmsReporter &m_reporter;
    PageLog &m_pageLog;
    TraceList &m_trace;
    bool m_on = false;
    bool m_started = false;
    std::map<ModemLine *, std::unique_ptr<ReportReader>> m_readers;
    struct Unpaired {
        QString route;
        QString reference;
        DeliveryReport report;
        QElapsedTimer since;
    };
    QList<Unpaired> m_unpaired;
    QTimer m_look;
};
