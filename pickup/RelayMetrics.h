#pragma once

#include "pickup/MetricsText.h"
#include "route/HttpListener.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>

class AlertIntake;
class DeliveryReports;
class MT4Paths;
class Outbox;
class PageLog;
class RouteSet;
class SmsReporter;

// The relay's figures for Prometheus, served as /metrics in its text format
// on the address DeskOptions "Metrics" names ([HOST:]PORT; none when empty,
// and then nothing is counted and no port is opened).
//
// Counted from the start, as the relay's parts say it: alerts taken per
// watched folder; SMS sent, failed, delivered and not delivered per route;
// SMS given up (the desk's, whichever routes their tries went by); the time
// from an alert's file being taken to a route taking each of its SMS. Read
// at each scrape, as Status.json has them: the SMS waiting, retrying and
// unconfirmed, each route's state and signal.
class RelayMetrics : public QObject
{
    Q_OBJECT

public:
    static constexpr auto Path = "/metrics";

    RelayMetrics(Outbox &outbox, RouteSet &routes, const MT4Paths &paths, AlertIntake &intake, SmsReporter &reporter,
                 DeliveryReports &reports, PageLog &pageLog, QObject *parent = nullptr);

    // Where Config.mdb names an address: counts from now on and serves the
    // page there, or, while the port cannot be had, tries again every minute.
    void start();
    // Bound to its port; port() tells which.
    bool serving() const { return m_http.isListening(); }
    quint16 port() const { return m_http.port(); }
    // Tests shorten the wait between tries for a port that is taken.
    void setRetryMs(int ms) { m_http.setRetryMs(ms); }

    // The page a scrape gets.
    QByteArray page();

private:
    void sent(qint64 id, const QString &route);

    Outbox &m_outbox;
    RouteSet &m_routes;
    const MT4Paths &m_paths;
    AlertIntake &m_intake;
    SmsReporter &m_reporter;
    DeliveryReports &m_reports;
    PageLog &m_pageLog;
    const QDateTime m_started;

    QMap<QString, quint64> m_taken; // by folder
    QMap<QString, quint64> m_sent;  // by route, as are those below
    QMap<QString, quint64> m_failed;
    QMap<QString, quint64> m_delivered;
    QMap<QString, quint64> m_notDelivered;
    quint64 m_givenUp = 0;
    Histogram m_toAccept;
    HttpListener m_http;
};
