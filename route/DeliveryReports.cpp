#include "route/DeliveryReports.h"

#include "modem/ModemLine.h"
#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "modem/ReportReader.h"
#include "modem/SmsReporter.h"
#include "modem/TraceList.h"
#include "route/GatewayRoute.h"
#include "route/RouteSet.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/DeskOptions.h"
#include "store/Outbox.h"

#include <QRegularExpression>

namespace {

// Kannel's report types (dlr-mask bits).
constexpr int GatewayDelivered = 1;
constexpr int GatewayFailed = 2;
constexpr int GatewayBuffered = 4;
constexpr int GatewaySmscRejected = 16;
// The TP-ST kept for a gateway's failure: a permanent error of the network.
constexpr int GatewayFailedStatus = 0x40;

} // namespace

DeliveryReports::DeliveryReports(Outbox &outbox, RouteSet &routes, SmsReporter &reporter, PageLog &pageLog,
                                 TraceList &trace, QObject *parent)
    : QObject(parent)
    , m_outbox(outbox)
    , m_routes(routes)
    , m_reporter(reporter)
    , m_pageLog(pageLog)
    , m_trace(trace)
{
    m_look.setInterval(LookMs);
    connect(&m_look, &QTimer::timeout, this, &DeliveryReports::lookForLate);
}

DeliveryReports::~DeliveryReports() = default;

void DeliveryReports::load()
{
    m_on = DeskOptions::value(QString::fromLatin1(DeskOptions::DeliveryReports)) == QLatin1String("on");
}

void DeliveryReports::setOn(bool on)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::DeliveryReports),
                          on ? QStringLiteral("on") : QStringLiteral("off"));
    m_on = on;
    if (m_started)
        setUpAll();
}

void DeliveryReports::start()
{
    m_started = true;
    m_look.start();
    setUpAll();
}

void DeliveryReports::setUpAll()
{
    for (ModemLine *line : m_routes.lines())
        setUp(line);
}

void DeliveryReports::setUp(ModemLine *line)
{
    if (!m_on || !line->inService() || !m_routes.modemsUsed())
        return;
    reader(line).setUp();
}

ReportReader &DeliveryReports::reader(ModemLine *line)
{
    std::unique_ptr<ReportReader> &slot = m_readers[line];
    if (!slot) {
        const QString route = line->name();
        slot = std::make_unique<ReportReader>(*line, [this, route](const DeliveryReport &report) {
            pair(route, QString::number(report.reference), report);
        });
        connect(line, &QObject::destroyed, this, [this, line] { m_readers.erase(line); });
    }
    return *slot;
}

void DeliveryReports::roundDone(ModemLine *line)
{
    // A modem that keeps its reports to itself, whatever it was told, has
    // them read here; a reset has made it forget what it was told.
    if (!m_on)
        return;
    setUp(line);
    reader(line).readAll();
}

void DeliveryReports::heard(ModemLine *line, const QString &text, const QString &data)
{
    if (text.startsWith(QLatin1String("+CDSI:"))) {
        // +CDSI: "SR",<index>: stored; read and deleted at once.
        static const QRegularExpression index(QStringLiteral(R"(,\s*(\d+)\s*$)"));
        const QRegularExpressionMatch match = index.match(text);
        if (match.hasMatch())
            reader(line).read(match.captured(1).toInt());
        return;
    }
    if (!text.startsWith(QLatin1String("+CDS:")))
        return;
    const std::optional<DeliveryReport> report = DeliveryReport::fromLine(text, data);
    if (!report) {
        m_trace.AddItem(QStringLiteral("A delivery report that does not read: ") + text);
        return;
    }
    pair(line->name(), QString::number(report->reference), *report);
}

bool DeliveryReports::pair(const QString &route, const QString &reference, const DeliveryReport &report, bool again)
{
    const DeliveryReport::Meaning meaning = DeliveryReport::meaning(report.status);
    std::optional<Outbox::Reported> reported;
    try {
        reported = m_outbox.pairReport(route, reference, report.number, report.serviceCentreTime,
                                       Clock::nowUtc().addDays(-PairedWithinDays));
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return false;
    }
    if (!reported) {
        // Said once; the SMS it is about may not be recorded yet.
        if (!again) {
            m_trace.AddItem(QStringLiteral("A delivery report from %1 for reference %2 to %3 matched no SMS: %4")
                                .arg(route, reference, report.number, meaning.words));
            if (m_unpaired.size() >= MostUnpaired)
                m_unpaired.removeFirst();
            m_unpaired.append({route, reference, report, {}});
            m_unpaired.last().since.start();
        }
        return false;
    }
    if (meaning.outcome == DeliveryReport::Outcome::Pending) {
        // The network keeps trying: not the end of it.
        m_trace.AddItem(QStringLiteral("Delivery to %1 pending: %2").arg(report.number, meaning.words));
        return true;
    }
    settle(reported->partId, route, report);
    return true;
}

void DeliveryReports::pairHeld()
{
    for (qsizetype i = 0; i < m_unpaired.size();) {
        const Unpaired &held = m_unpaired[i];
        if (held.since.hasExpired(HoldUnpairedMs) || pair(held.route, held.reference, held.report, true))
            m_unpaired.removeAt(i);
        else
            ++i;
    }
}

void DeliveryReports::settle(qint64 partId, const QString &route, const DeliveryReport &report)
{
    const DeliveryReport::Meaning meaning = DeliveryReport::meaning(report.status);
    const bool failed = meaning.outcome == DeliveryReport::Outcome::Failed;
    settle(partId, route, report.status, failed ? meaning.words : QString(), report.dischargeTime,
           meaning.anotherNetworkMayDeliver);
}

void DeliveryReports::settle(qint64 partId, const QString &route, int status, const QString &failure,
                             const QDateTime &at, bool anotherNetworkMayDeliver)
{
    Outbox::Delivery delivery;
    try {
        delivery = m_outbox.settlePart(partId, status, failure, at);
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    if (!delivery.changed)
        return;
    emit settled(route, failure.isEmpty());
    if (failure.isEmpty()) {
        m_reporter.delivered(delivery.name, delivery.number, delivery.deliveredAt);
        return;
    }
    // Not sent again to the same number, where it would fail the same way;
    // once more by another route where another network might deliver it.
    QSet<SmsRoute *> failedOn;
    if (SmsRoute *reportedOn = m_routes.route(route))
        failedOn.insert(reportedOn);
    const bool again =
        anotherNetworkMayDeliver && delivery.avoidRoute.isEmpty() && m_routes.anyOtherInService(failedOn);
    m_reporter.notDelivered(delivery.name, delivery.number, failure, again);
    emit notDelivered(delivery.name, delivery.number, failure);
    if (again) {
        try {
            m_outbox.sendAgainAvoiding(delivery.smsId, route);
            emit sentAgain();
        } catch (const DbError &error) {
            OutboxReport::failed(m_pageLog, error.text());
        }
    }
    m_reporter.updateCounts();
}

void DeliveryReports::gatewayReport(const QString &token, int type, const QString &words)
{
    // Delivered, failed and refused by the SMS centre end it; buffered (the
    // phone is away, the gateway keeps trying) and the SMS centre's
    // acknowledgement only show in the trace.
    const QString route = QString::fromLatin1(GatewayRoute::Name);
    if (type != GatewayDelivered && type != GatewayFailed && type != GatewaySmscRejected) {
        m_trace.AddItem(
            QStringLiteral("gateway: report %1 for %2: %3")
                .arg(type == GatewayBuffered ? QStringLiteral("buffered") : QString::number(type), token, words));
        return;
    }
    std::optional<Outbox::Reported> reported;
    try {
        reported = m_outbox.pairReport(route, token, {}, {}, Clock::nowUtc().addDays(-PairedWithinDays));
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    if (!reported)
        return;
    // A refusal by the gateway's SMS centre is one a modem's network may
    // not have.
    const bool failed = type != GatewayDelivered;
    settle(reported->partId, route, failed ? GatewayFailedStatus : 0,
           failed ? QStringLiteral("the gateway says: %1").arg(words.isEmpty() ? QStringLiteral("failed") : words)
                  : QString(),
           Clock::nowUtc(), type == GatewaySmscRejected);
}

void DeliveryReports::lookForLate()
{
    pairHeld();
    QList<Outbox::Delivery> late;
    try {
        late = m_outbox.lateReports(Clock::nowUtc().addMSecs(-LateMs));
    } catch (const DbError &) {
        return; // said where the outbox failed
    }
    for (const Outbox::Delivery &delivery : std::as_const(late))
        m_reporter.noReport(delivery.name, delivery.number, LateMs / 60000);
}
