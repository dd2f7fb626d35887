#pragma once

#include "route/GatewayIncoming.h"
#include "route/ReportListener.h"
#include "route/Route.h"
#include "route/RouteStatus.h"
#include "store/ModemTable.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ModemLine;
class PageLog;
class TraceList;

// Every way out for SMS the desk has: its modems, one engine each, and,
// where Config.mdb names one, its gateway (a Kannel smsbox) with the
// listener for the gateway's delivery reports. The dispatcher sends by the
// routes in use: the modems (none on a desk that sends by its gateway
// alone), offered first, then the gateway. Each route stands on its own
// (see Route); the windows change them here, which stores the change in
// Config.mdb and applies it at once.
//
// DeskOptions keep the gateway's settings: "Gateway" (the sendsms URL),
// "GatewayOnly" ("on": the modems are not used) and "GatewayReports"
// ([HOST:]PORT the listener takes reports on; 127.0.0.1:13080 by default)
// and "GatewayIncoming" (the secret the SMS the gateway hands over on the
// same address must carry).
class RouteSet : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultReportPort = 13080;

    RouteSet(TraceList &trace, PageLog &pageLog, QObject *parent = nullptr);
    ~RouteSet() override;

    // The modems and the gateway as Config.mdb has them (failures thrown
    // as DbError); what is wrong with a row is said in the page log.
    void load();
    // From now on: the modems in use take their lines into service, the
    // gateway's reports are listened for; `tokenKnown` tells the tokens of
    // SMS that wait for their reports.
    void start(std::function<bool(const QString &)> tokenKnown);

    // The routes the dispatcher sends by.
    QList<Route *> used() const;
    int count() const { return int(used().size()); }
    bool modemsUsed() const;
    // A route in use that may take an SMS now, other than those of `excluded`.
    SmsRoute *freeRoute(const QSet<SmsRoute *> &excluded) const;
    // Whether a route in use that may take SMS is left outside `excluded`,
    // free or not: an SMS that failed on those may still go another way.
    bool anyOtherInService(const QSet<SmsRoute *> &excluded) const;
    // What became of a try on `route`.
    void tried(SmsRoute *route, const SendOutcome &outcome);
    bool anyUp() const { return firstUp() != nullptr; }
    // The first route in use that may take SMS, busy or not; null for none.
    SmsRoute *firstUp() const;
    // The route the page log and the outbox name so ("COM2", "gateway").
    SmsRoute *route(const QString &name) const;
    // That route, where it may take SMS now; null otherwise.
    SmsRoute *upRoute(const QString &name) const;
    // No SMS or question is under way on any route.
    bool idle() const;

    // How the routes in use stand, modems first; every modem, used or not
    // (the Modems window); the gateway, where there is one.
    QList<RouteStatus> statuses() const;
    QList<RouteStatus> modemStatuses() const;
    std::optional<RouteStatus> gatewayStatus() const;
    bool gatewayOnly() const { return m_gateway && m_only; }

    // The modems' lines: the Com row's, the one on `port` (null: none), those in use.
    ModemLine &first() const;
    ModemLine *line(short port) const;
    QList<ModemLine *> lines() const;
    // The route of a modem's line; null for none.
    Route *routeOf(const ModemLine *line) const;

    // Administration, stored in Config.mdb (failures thrown as DbError) and
    // applied at once. False when the desk has a modem on `port` already.
    bool addModem(short port, const QString &baud);
    void removeModem(short port);
    void setModemInService(short port, bool inService);
    void setModemPin(short port, const QString &pin);
    void setModemResetCommand(short port, const QString &command);
    // A PIN the SIM refused: never entered again.
    void setRefusedPin(const ModemLine *line, const QString &pin);
    // The Com row's settings, stored by the COM page.
    void setFirstSettings(const PortSettings &settings);
    // An empty URL removes the gateway.
    void setGateway(const QString &url);
    void setGatewayOnly(bool only);

    // The desk sends by these routes alone from now on, its modems and
    // gateway unused: tests of the route layer's own policy.
    void sendOnlyBy(std::vector<std::unique_ptr<Route>> routes);
    // One more such route; one taken away, as a modem removed is.
    void sendAlsoBy(std::unique_ptr<Route> route);
    void stopSendingBy(const Route *route);

    // Every route, those added later too, hears phones as `incoming` says
    // (see SmsRoute::listenToPhones); one that is not on: none listens.
    void listenToPhones(const SmsRoute::Incoming &incoming);
    // Rings `number` through a route in service that can call, a free one
    // first, and names it (empty when none can: nothing is rung). `done` is
    // told how the call ended, once, after the caller has returned.
    QString call(const QString &number, std::function<void(const CallOutcome &)> done);

    // Tests and benchmarks scale these.
    void setTimeUnitMs(int ms);
    void setProbeMs(int ms);
    void setGatewayTimeoutMs(int ms);

signals:
    // A route has room again, or may take SMS again.
    void routeFreed();
    // Something changed in how the routes stand or what they show.
    void changed();
    // A route was set aside: "Modem COM2 set aside: REASON".
    void setAside(const QString &text);
    // A route answers again, or was set anew: SMS held for it may go.
    void back();
    // A modem's health wants looking at now.
    void healthWanted(ModemLine *line);
    // The modems came into use (the desk stopped sending by its gateway alone).
    void modemsInUse();
    // A line the modem on `line` sent on its own, with its data line.
    void heard(ModemLine *line, const QString &text, const QString &data);
    // The late answer to a message whose wait ran out on `route`.
    void lateAccepted(const QString &route, qint64 id, int part, int reference);
    // A delivery report the gateway sent for a token the outbox knows.
    void reported(const QString &token, int type, const QString &answer);

private:
    Route *find(const SmsRoute *transport) const;
    Route *usedNamed(const QString &name) const;
    Route *modem(short port) const;
    Route &appendModem(const ModemTable::Modem &options);
    void adopt(Route &route);
    void nameLines();
    void loadModems(const QList<ModemTable::Modem> &modems);
    void makeGateway(const QString &url);
    // Every modem in service takes its line into service.
    void openModems();
    void listen();

    TraceList &m_trace;
    PageLog &m_pageLog;
    std::vector<std::unique_ptr<Route>> m_modems;
    std::unique_ptr<Route> m_gateway;
    std::vector<std::unique_ptr<Route>> m_own; // sendOnlyBy()
    bool m_ownOnly = false;
    bool m_only = false;
    bool m_started = false;
    int m_timeUnitMs;
    int m_probeMs = Route::DefaultProbeMs;
    int m_gatewayTimeoutMs;
    ReportListener m_listener;
    GatewayIncoming m_incomingSms;
    QHostAddress m_reportHost = QHostAddress::LocalHost;
    quint16 m_reportPort = DefaultReportPort;
    std::function<bool(const QString &)> m_tokenKnown;
    SmsRoute::Incoming m_incoming;
};
