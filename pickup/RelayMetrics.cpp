#include "pickup/RelayMetrics.h"

#include "modem/PageLog.h"
#include "modem/SmsReporter.h"
#include "pickup/AlertIntake.h"
#include "pickup/DeskStanding.h"
#include "pickup/MT4Paths.h"
#include "route/DeliveryReports.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/DeskOptions.h"
#include "store/Outbox.h"

namespace {

// From an SMS on the line within moments to one sent after its last retry,
// half an hour and more later.
const QList<double> ToAcceptBounds = {0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300, 600, 1800, 3600};

// The states a route's state label takes, in the words every view uses.
const RouteState States[] = {RouteState::InService, RouteState::Down, RouteState::SetAside, RouteState::OutOfService};

// Every key counted, and every one expected with 0 until it counts, so
// that a series exists from the start.
QMap<QString, quint64> withZeros(QMap<QString, quint64> counts, const QStringList &expected)
{
    for (const QString &key : expected) {
        if (!counts.contains(key))
            counts.insert(key, 0);
    }
    return counts;
}

void counter(MetricsText &page, const QByteArray &name, const QString &help, const QByteArray &label,
             const QMap<QString, quint64> &counts)
{
    page.family(name, "counter", help);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        page.sample({{label, it.key()}}, double(it.value()));
}

} // namespace

RelayMetrics::RelayMetrics(Outbox &outbox, RouteSet &routes, const MT4Paths &paths, AlertIntake &intake,
                           SmsReporter &reporter, DeliveryReports &reports, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_routes(routes)
    , m_paths(paths)
    , m_intake(intake)
    , m_reporter(reporter)
    , m_reports(reports)
    , m_pageLog(pageLog)
    , m_started(Clock::nowUtc())
    , m_toAccept(ToAcceptBounds)
    , m_http(Path, [this](const QByteArray &) {
        return HttpListener::Answer{200, MetricsText::ContentType, page()};
    })
{
}

void RelayMetrics::start()
{
    const QString stored = DeskOptions::value(QString::fromLatin1(DeskOptions::Metrics));
    if (stored.isEmpty())
        return;
    QHostAddress host;
    quint16 port = 0;
    if (!HttpListener::parseAddress(stored, &host, &port)) {
        m_pageLog.report(QStringLiteral("The metrics address \"%1\" does not read as [HOST:]PORT; no metrics are "
                                        "served.")
                             .arg(stored.left(80)));
        return;
    }
    m_intake.onTaken([this](const QString &folder, int alerts) { m_taken[folder] += quint64(alerts); });
    connect(&m_reporter, &SmsReporter::smsSent, this, &RelayMetrics::sent);
    connect(&m_reporter, &SmsReporter::smsTried, this, [this](bool sent, const QString &route) {
        if (!sent && !route.isEmpty())
            ++m_failed[route];
    });
    connect(&m_reporter, &SmsReporter::gaveUp, this, [this] { ++m_givenUp; });
    connect(&m_reports, &DeliveryReports::settled, this,
            [this](const QString &route, bool delivered) { ++(delivered ? m_delivered : m_notDelivered)[route]; });
    connect(&m_http, &HttpListener::cannotListen, this, [this, host, port](const QString &why) {
        m_pageLog.report(QStringLiteral("The metrics page cannot be served on %1:%2: %3; tried again every minute.")
                             .arg(host.toString())
                             .arg(port)
                             .arg(why));
    });
    m_http.keepListening(host, port);
}

void RelayMetrics::sent(qint64 id, const QString &route)
{
    if (!route.isEmpty())
        ++m_sent[route];
    if (id <= 0)
        return;
    QDateTime taken;
    try {
        taken = m_outbox.takenAt(id);
    } catch (const DbError &) {
        return; // said where the outbox failed
    }
    if (taken.isValid())
        m_toAccept.observe(double(qMax(qint64(0), taken.msecsTo(Clock::nowUtc()))) / 1000.0);
}

QByteArray RelayMetrics::page()
{
    const DeskStanding desk = DeskStanding::gather(m_outbox, m_routes);
    QStringList routes;
    for (const RouteStatus &status : desk.routes)
        routes << status.name;

    MetricsText page;
    page.family("vantrel_start_time_seconds", "gauge",
                QStringLiteral("When the program started, in seconds since "
                               "1970-01-01 UTC."));
    page.sample({}, double(m_started.toMSecsSinceEpoch()) / 1000.0);

    counter(page, "vantrel_alerts_taken_total",
            QStringLiteral("Alerts taken from the alert files of each watched folder into the outbox."), "folder",
            withZeros(m_taken, m_paths.PathList()));
    counter(page, "vantrel_sms_sent_total",
            QStringLiteral("SMS a route took, the relay's own notices and test messages included."), "route",
            withZeros(m_sent, routes));
    counter(page, "vantrel_sms_failed_total",
            QStringLiteral("Tries of an SMS that a route did not take; the SMS goes by another route or is tried "
                           "again."),
            "route", withZeros(m_failed, routes));
    counter(page, "vantrel_sms_delivered_total",
            QStringLiteral("SMS that a delivery report said reached the phone, by the route that sent them."), "route",
            withZeros(m_delivered, routes));
    counter(page, "vantrel_sms_not_delivered_total",
            QStringLiteral("SMS that a delivery report said could not be delivered, by the route that sent them."),
            "route", withZeros(m_notDelivered, routes));
    page.family("vantrel_sms_given_up_total", "counter",
                QStringLiteral("SMS given up after their last try, whichever routes their tries went by."));
    page.sample({}, double(m_givenUp));

    page.family("vantrel_alert_to_accept_seconds", "histogram",
                QStringLiteral("Time from an alert's file being taken to a route taking each SMS of the alert."));
    page.histogram({}, m_toAccept);

    if (desk.outboxRead) {
        page.family("vantrel_sms_waiting", "gauge", QStringLiteral("SMS in the outbox waiting for their first try."));
        page.sample({}, desk.outbox.waiting);
        page.family("vantrel_sms_retrying", "gauge", QStringLiteral("SMS that failed and wait for their next try."));
        page.sample({}, desk.outbox.retrying);
        page.family("vantrel_sms_unconfirmed", "gauge", QStringLiteral("SMS sent that wait for a delivery report."));
        page.sample({}, desk.outbox.unconfirmed);
    }

    page.family("vantrel_route_up", "gauge",
                QStringLiteral("1 where a route can take SMS (in service or on trial), else 0."));
    for (const RouteStatus &status : desk.routes)
        page.sample({{"route", status.name}}, status.up() ? 1 : 0);
    page.family("vantrel_route_state", "gauge",
                QStringLiteral("1 for the state each route is in (up, down, set aside, out of service), 0 for "
                               "the others."));
    for (const RouteStatus &status : desk.routes) {
        for (const RouteState state : States) {
            const QString words = RouteStatus::words(state);
            page.sample({{"route", status.name}, {"state", words}}, status.stateWords() == words ? 1 : 0);
        }
    }
    page.family("vantrel_route_signal_dbm", "gauge",
                QStringLiteral("A modem's signal as its latest health round measured it, in dBm."));
    for (const RouteStatus &status : desk.routes) {
        if (const std::optional<int> dbm = status.health.signalDbm())
            page.sample({{"route", status.name}}, *dbm);
    }
    return page.text();
}
